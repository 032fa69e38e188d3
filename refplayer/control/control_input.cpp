// Input of a windowless control: the container forwards window messages
// through OnWindowMessage, with mouse positions in its own client space.
#include "control_internal.h"

namespace refcontrol {
namespace {

std::string messageName(UINT msg)
{
    switch (msg) {
    case WM_NULL: return "WM_NULL";
    case WM_SETCURSOR: return "WM_SETCURSOR";
    case WM_MOUSEMOVE: return "WM_MOUSEMOVE";
    case WM_LBUTTONDOWN: return "WM_LBUTTONDOWN";
    case WM_LBUTTONUP: return "WM_LBUTTONUP";
    case WM_LBUTTONDBLCLK: return "WM_LBUTTONDBLCLK";
    case WM_RBUTTONDOWN: return "WM_RBUTTONDOWN";
    case WM_RBUTTONUP: return "WM_RBUTTONUP";
    case WM_MOUSEWHEEL: return "WM_MOUSEWHEEL";
    case WM_KEYDOWN: return "WM_KEYDOWN";
    case WM_KEYUP: return "WM_KEYUP";
    case WM_CHAR: return "WM_CHAR";
    default: return "0x" + hresultText(static_cast<HRESULT>(msg)).substr(6);
    }
}

}  // namespace

// Tab moves the focus between the container's controls, and the function
// keys are the container's menus' and help's: the player leaves them alone.
bool Control::movieTakesKey(int key)
{
    return key != VK_TAB && !(key >= VK_F1 && key <= VK_F24);
}

HRESULT Control::defaultHandling(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result)
{
    auto site = windowlessSite_;
    if (!site)
        return S_FALSE;
    HRESULT hr = site->OnDefWindowMessage(msg, wp, lp, &result);
    made("IOleInPlaceSiteWindowless.OnDefWindowMessage " + messageName(msg) + " wParam=" +
             std::to_string(static_cast<unsigned long long>(wp)),
         hr);
    return hr == S_OK ? S_OK : S_FALSE;
}

// A press in the movie starts a drag: the control takes the mouse, unless
// it holds it already, and the keyboard focus, as a windowed player would.
void Control::beginDrag()
{
    auto site = windowlessSite_;
    if (!site)
        return;
    HRESULT hr = site->GetCapture();
    made("IOleInPlaceSiteWindowless.GetCapture", hr);
    if (hr != S_OK) {
        hr = site->SetCapture(TRUE);
        made("IOleInPlaceSiteWindowless.SetCapture TRUE", hr);
        if (hr != S_OK) {
            callLog().note("the site refused the mouse capture: no drag");
            return;
        }
    }
    dragging_ = true;
    hr = site->SetFocus(TRUE);
    made("IOleInPlaceSiteWindowless.SetFocus TRUE", hr);
}

// While the button is held the control checks that it still has the mouse
// (a container takes it back for its own reasons) and reports what the drag
// changed as a region.
void Control::dragMoved()
{
    auto site = windowlessSite_;
    if (!site)
        return;
    HRESULT hr = site->GetCapture();
    made("IOleInPlaceSiteWindowless.GetCapture", hr);
    if (hr != S_OK) {
        callLog().note("drag ended: the site says the control lost the mouse capture");
        dragging_ = false;
        return;
    }
    HRGN region = CreateRectRgn(pos_.left, pos_.top, pos_.right, pos_.bottom);
    if (!region)
        return;
    ComPtr<IUnknown> self(identity());
    hr = site->InvalidateRgn(region, FALSE);
    DeleteObject(region);
    made("IOleInPlaceSiteWindowless.InvalidateRgn " + rectText(&pos_), hr);
}

void Control::endDrag()
{
    dragging_ = false;
    auto site = windowlessSite_;
    if (!site)
        return;
    HRESULT hr = site->SetCapture(FALSE);
    made("IOleInPlaceSiteWindowless.SetCapture FALSE", hr);
}

std::optional<POINT> Control::viewPoint(LPARAM lp) const
{
    int x = static_cast<short>(LOWORD(lp)) - pos_.left;
    int y = static_cast<short>(HIWORD(lp)) - pos_.top;
    return POINT{x, y};
}

HRESULT STDMETHODCALLTYPE Control::OnWindowMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) noexcept
{
    return entry(
        "IOleInPlaceObjectWindowless", "OnWindowMessage",
        [&] {
            return messageName(msg) + " wParam=" + std::to_string(static_cast<unsigned long long>(wp)) +
                   " lParam=" + hresultText(static_cast<HRESULT>(lp));
        },
        [&]() -> HRESULT {
            LRESULT ignored = 0;
            LRESULT& out = result ? *result : ignored;
            out = 0;
            if (!inPlaceActive_)
                return S_FALSE;
            switch (msg) {
            case WM_MOUSEMOVE: {
                POINT p = *viewPoint(lp);
                run([this, p] { player_.mouseMove(p.x, p.y); });
                if (dragging_)
                    dragMoved();
                return S_OK;
            }
            case WM_LBUTTONDOWN:
            case WM_LBUTTONDBLCLK: {
                POINT p = *viewPoint(lp);
                if (habits_.siteInput)
                    beginDrag();
                run([this, p] { player_.mouseDown(refplayer::MouseButton::Left, p.x, p.y); });
                return S_OK;
            }
            case WM_LBUTTONUP: {
                POINT p = *viewPoint(lp);
                run([this, p] { player_.mouseUp(refplayer::MouseButton::Left, p.x, p.y); });
                if (dragging_)
                    endDrag();
                return S_OK;
            }
            case WM_RBUTTONDOWN: {
                // The right button opens the player's own menu, over the
                // container's window, at the position given in its client space.
                if (!props_.truth(dispid::kMenu, true))
                    return S_OK;
                HWND window = nullptr;
                HRESULT hr = windowlessSite_ ? windowlessSite_->GetWindow(&window) : E_FAIL;
                made("IOleInPlaceSiteWindowless.GetWindow", hr);
                callLog().note("context menu at (" + std::to_string(static_cast<short>(LOWORD(lp))) + "," +
                               std::to_string(static_cast<short>(HIWORD(lp))) + ")" +
                               (SUCCEEDED(hr) && window ? " over the container's window" : " without a window"));
                return S_OK;
            }
            case WM_RBUTTONUP:
                return S_OK;
            case WM_SETCURSOR:
                if (LOWORD(lp) != HTCLIENT)
                    return S_FALSE;
                // Mouse.hide() in the movie hides the pointer over the control.
                SetCursor(player_.pointerHidden() ? nullptr : LoadCursorW(nullptr, IDC_ARROW));
                out = TRUE;
                return S_OK;
            case WM_KEYDOWN:
            case WM_KEYUP: {
                int key = static_cast<int>(wp & 0xFFFF);
                // Keys the movie has no use for go back to the container's
                // default handling, which decides whether they were taken.
                if (habits_.siteInput && !movieTakesKey(key))
                    return defaultHandling(msg, wp, lp, out);
                bool down = msg == WM_KEYDOWN;
                run([this, key, down] { down ? player_.keyDown(key) : player_.keyUp(key); });
                return S_OK;
            }
            case WM_CHAR: {
                auto byte = static_cast<uint8_t>(wp);
                run([this, byte] { player_.charInput(byte); });
                return S_OK;
            }
            case WM_SETFOCUS:
            case WM_KILLFOCUS:
                return S_OK;
            case WM_MOUSEWHEEL: {
                // The movie's Mouse listeners hear the wheel; the container
                // still gets its default handling (scrolling), as before.
                int delta = GET_WHEEL_DELTA_WPARAM(wp);
                run([this, delta] { player_.mouseWheel(delta); });
                return S_FALSE;
            }
            default:
                return S_FALSE;  // WM_NULL, the middle button: nothing to do
            }
        });
}

}  // namespace refcontrol
