// Windowless drawing into the driver's buffer, and input turned into window
// messages for the control.
#include <windows.h>

#include <algorithm>

#include "framework/forms.h"
#include "kv_alpha.h"
#include "kv_input.h"
#include "kv_driver_activex.h"
#include "kv_pixels.h"

// ---------------------------------------------------------------------------
// Buffer
// ---------------------------------------------------------------------------

void TkvFlashDriverActiveX::CreateBuffer()
{
    TkvFlashDriver::CreateBuffer();
    if (WindowlessObject) {
        RECT r{0, 0, Width, Height};
        WindowlessObject->SetObjectRects(&r, &r);
        Repaint(r);
    }
}

void TkvFlashDriverActiveX::ResizeBuffer()
{
    TkvFlashDriver::ResizeBuffer();
    if (WindowlessObject) {
        RECT r{0, 0, Width, Height};
        WindowlessObject->SetObjectRects(&r, &r);
    }
}

void TkvFlashDriverActiveX::FreeBuffer() { TkvFlashDriver::FreeBuffer(); }

void TkvFlashDriverActiveX::ForceUpdate()
{
    RECT r{0, 0, Width, Height};
    Repaint(r);
}

void TkvFlashDriverActiveX::DrawInto(HDC dc, const RECT& clip)
{
    // The bounds start at the origin so the control draws at its place; the
    // clip keeps it inside the update rectangle.
    RECTL bounds{0, 0, clip.right, clip.bottom};
    const kv::SavedDC saved(dc);
    saved.IntersectClip(clip);
    ViewObject->Draw(DVASPECT_OPAQUE, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0);
}

void TkvFlashDriverActiveX::Repaint(const RECT& Rect)
{
    PaintRect(
        Rect, [this] { return ViewObject && !NoControl; },
        [this](HDC dc, const RECT& clip) { DrawInto(dc, clip); });
}

// ---------------------------------------------------------------------------
// Windowless site: drawing
// ---------------------------------------------------------------------------

HRESULT TkvFlashDriverActiveX::GetDC(LPCRECT pRect, DWORD, HDC* phDC) noexcept
{
    if (!phDC)
        return E_POINTER;
    *phDC = BufferDC;
    // What the control draws through this DC lands in the primary buffer
    // alone, over whatever was there, and nobody is told: the area is
    // repainted when the DC comes back, which recovers its alpha (a
    // transparent background needs the drawing over white too) and reports it.
    RECT area{0, 0, Width, Height};
    if (!BufferDC || (pRect && !IntersectRect(&area, pRect, &area)))
        return S_OK;
    if (DCLent)
        UnionRect(&LentRect, &LentRect, &area);
    else
        LentRect = area;
    DCLent = true;
    return S_OK;
}

HRESULT TkvFlashDriverActiveX::ReleaseDC(HDC) noexcept
{
    if (!DCLent)
        return S_OK;
    const RECT area = LentRect;
    DCLent = false;
    // Inside a paint this joins the paint's pending area; an application's
    // paint handler may run in here.
    GuardedCall(this, [&] { Repaint(area); });
    return S_OK;
}

HRESULT TkvFlashDriverActiveX::InvalidateRect(LPCRECT pRect, BOOL) noexcept
{
    // An application's paint handler runs in here: its failure goes to the
    // application, the control hears S_OK.
    GuardedCall(this, [&] {
        RECT r{0, 0, Width, Height};
        if (pRect) {
            // The caller's rectangle is cut to the buffer in place.
            RECT* edit = const_cast<RECT*>(pRect);
            if (edit->right > Width)
                edit->right = Width;
            if (edit->bottom > Height)
                edit->bottom = Height;
            r = *edit;
        }
        Repaint(r);
    });
    return S_OK;
}

HRESULT TkvFlashDriverActiveX::InvalidateRgn(HRGN hRGN, BOOL fErase) noexcept
{
    // The region's bounding box is repainted, as a rectangle would be; no
    // region (or one that cannot be read) means the whole buffer.
    RECT box{};
    if (hRGN && GetRgnBox(hRGN, &box) != ERROR)
        return InvalidateRect(&box, fErase);
    return InvalidateRect(nullptr, fErase);
}

// ---------------------------------------------------------------------------
// Input
// ---------------------------------------------------------------------------

TkvPlayerCall<HRESULT> TkvFlashDriverActiveX::SendMessageToControl(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!WindowlessObject || NoControl) {
        TkvPlayerCall<HRESULT> none;
        none.Result = E_FAIL;
        return none;
    }
    LRESULT result = 0;
    // Input runs the movie's scripts, and through them application handlers
    // that may release the driver: callers go on only if it survived.
    IOleInPlaceObjectWindowless* const object = WindowlessObject;
    return CallPlayerWith(this, [&] { return object->OnWindowMessage(message, wParam, lParam, &result); });
}

void TkvFlashDriverActiveX::SendMouse(UINT message, WPARAM wParam, int X, int Y)
{
    if (!WindowlessObject || NoControl)
        return;
    const auto sent = SendMessageToControl(message, wParam, kv::PackWords(X, Y));
    if (!sent.Survived)
        return;
    if (sent.Result == S_OK && message >= WM_MOUSEFIRST && message <= WM_MOUSEWHEEL && !DisableFlashCursor)
        SendMessageToControl(WM_SETCURSOR, 0, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
}

void TkvFlashDriverActiveX::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    if (Button == mbLeft) {
        SendMouse(WM_LBUTTONDOWN, kv::KeyStateFlags(Shift, true), X, Y);
    } else if (Button == mbRight) {
        if (!DisableFlashMenu) {
            // The control shows its menu in the parent window's client space.
            ReportParentWindow = true;
            const TPoint offset = GetParentOffset();
            X = static_cast<std::int16_t>(X + offset.x);
            Y = static_cast<std::int16_t>(Y + offset.y);
        }
        SendMouse(WM_RBUTTONDOWN, kv::KeyStateFlags(Shift, true), X, Y);
        ReportParentWindow = false;
    }
}

void TkvFlashDriverActiveX::MouseMove(TShiftState Shift, int X, int Y)
{
    SendMouse(WM_MOUSEMOVE, kv::KeyStateFlags(Shift, true), X, Y);
}

void TkvFlashDriverActiveX::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    if (Button == mbLeft)
        SendMouse(WM_LBUTTONUP, kv::KeyStateFlags(Shift, true), X, Y);
    else if (Button == mbRight)
        SendMouse(WM_RBUTTONUP, kv::KeyStateFlags(Shift, true), X, Y);
}

void TkvFlashDriverActiveX::MouseWheel(TShiftState Shift, int X, int Y, int WheelDelta, bool&)
{
    SendMouse(WM_MOUSEWHEEL, kv::PackWords(static_cast<int>(kv::KeyStateFlags(Shift, true)), WheelDelta), X, Y);
}

void TkvFlashDriverActiveX::KeyDown(std::uint16_t& Key, TShiftState Shift)
{
    if (SendMessageToControl(WM_KEYDOWN, Key, kv::KeyStateFlags(Shift, true)).Result == S_OK)
        Key = 0;
}

void TkvFlashDriverActiveX::KeyUp(std::uint16_t& Key, TShiftState Shift)
{
    if (SendMessageToControl(WM_KEYUP, Key, kv::KeyStateFlags(Shift, true)).Result == S_OK)
        Key = 0;
}

void TkvFlashDriverActiveX::KeyPress(wchar_t& Key, TShiftState Shift)
{
    if (!WindowlessObject || NoControl)
        return;
    char bytes[8];
    const int n = kv::AnsiBytesOf(Key, bytes);
    for (int i = 0; i < n; ++i) {
        // A character may run an input field's handlers, and the
        // application's: the next byte goes only to a driver that survived.
        const auto sent = SendMessageToControl(WM_CHAR, static_cast<unsigned char>(bytes[i]),
                                               kv::KeyStateFlags(Shift, true));
        if (sent.Result == S_OK)
            Key = 0;
        if (!sent.Survived)
            return;
    }
}
