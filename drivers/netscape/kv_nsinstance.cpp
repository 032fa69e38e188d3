// One windowless plug-in instance per driver: creating it, drawing
// invalidated rectangles into the buffer, passing input.
#include <windows.h>

#include <algorithm>
#include <string>

#include "kv_alpha.h"
#include "kv_nsinternal.h"
#include "kv_pendingstreams.h"

using namespace kvns;

const TClassInfo& TkvFlashDriverNS::StaticClass()
{
    static const TClassInfo info = TClassBuilder<TkvFlashDriverNS>(L"TkvFlashDriverNS").Build();
    return info;
}

const TkvFlashDriverClass& TkvFlashDriverNS::ClassRef()
{
    static const TkvDriverClassOf<TkvFlashDriverNS> ref(L"TkvFlashDriverNS");
    return ref;
}

TkvFlashDriverNS::TkvFlashDriverNS() = default;

TkvFlashDriverNS::~TkvFlashDriverNS()
{
    {
        TkvDriverBusy busy(this);
        DestroyPlugin();
    }
    EndRequestsOf(this);
    kvpending::DropOwnedBy(this);
}

TkvFlashDriverNS* TkvFlashDriverNS::FromInstance(NPP instance)
{
    if (!instance || !instance->ndata)
        return nullptr;
    return static_cast<TkvFlashDriverNS*>(instance->ndata);
}

bool TkvFlashDriverNS::Ready() const
{
    return PluginExists();
}

void TkvFlashDriverNS::Construct(int AWidth, int AHeight, std::uint32_t ABackground)
{
    TkvFlashDriver::Construct(AWidth, AHeight, ABackground);
    CreatePlugin();
}

void TkvFlashDriverNS::CreatePlugin()
{
    if (!Ready())
        return;
    TkvDriverBusy busy(this);
    std::string width = std::to_string(Width), height = std::to_string(Height);
    char wmode[] = "wmode", transparent[] = "transparent", bgcolor[] = "bgcolor", black[] = "#0", w[] = "width",
         h[] = "height";
    char* names[] = {wmode, bgcolor, w, h};
    char* values[] = {transparent, black, width.data(), height.data()};
    char mime[] = "application/x-shockwave-flash";
    Instance.pdata = nullptr;
    Instance.ndata = this;
    ScriptObject = nullptr;
    PluginFuncs.newp(mime, &Instance, NP_EMBED, 4, names, values, nullptr);
    instanceAlive_ = true;
    if (PluginFuncs.getvalue) {
        NPObject* object = nullptr;
        if (PluginFuncs.getvalue(&Instance, NPPVpluginScriptableNPObject, &object) == NPERR_NO_ERROR)
            ScriptObject = object;
    }
}

void TkvFlashDriverNS::DestroyPlugin()
{
    if (!Ready() || !instanceAlive_)
        return;
    TkvDriverBusy busy(this);
    instanceAlive_ = false;
    // The scriptable object was handed to us with a reference.
    if (ScriptObject) {
        NPObject* o = ScriptObject;
        ScriptObject = nullptr;
        if (o->_class && o->referenceCount > 0) {
            NPVariant v{};
            v.type = NPVariantType_Object;
            v.value.objectValue = o;
            ReleaseVariant(v);
        }
    }
    if (PluginFuncs.destroy)
        PluginFuncs.destroy(&Instance, nullptr);
    // The instance's requests die with it: nothing more is said to it about them.
    EndRequestsOf(this);
}

void TkvFlashDriverNS::ResizeBuffer()
{
    TkvFlashDriver::ResizeBuffer();
    ResetWindow();
}

void TkvFlashDriverNS::ResetWindow()
{
    if (!Ready())
        return;
    PluginWindow = NPWindow{};
    PluginWindow.type = NPWindowTypeDrawable;
    PluginWindow.window = BufferDC;
    PluginWindow.width = static_cast<std::uint32_t>(Width);
    PluginWindow.height = static_cast<std::uint32_t>(Height);
    if (instanceAlive_ && PluginFuncs.setwindow) {
        TkvDriverBusy busy(this);
        PluginFuncs.setwindow(&Instance, &PluginWindow);
        if (busy.Released())
            return;
    }
    ForceUpdate();
}

void TkvFlashDriverNS::ForceUpdate()
{
    if (!Ready() || !Instance.pdata)
        return;
    NPRect r{};
    r.top = 0;
    r.left = 0;
    r.bottom = static_cast<std::uint16_t>(Height);
    r.right = static_cast<std::uint16_t>(Width);
    InvalidateArea(r);
}

void TkvFlashDriverNS::PaintInto(HDC dc, const RECT& r)
{
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, r.left, r.top, r.right, r.bottom);
    RECT dirty = r;
    SendEvent(WM_PAINT, reinterpret_cast<std::uintptr_t>(dc), reinterpret_cast<std::uintptr_t>(&dirty));
    RestoreDC(dc, saved);
}

void TkvFlashDriverNS::InvalidateArea(const NPRect& Rect)
{
    if (!Ready() || !instanceAlive_)
        return;
    TkvDriverBusy busy(this);
    RECT r{Rect.left, Rect.top, std::min<LONG>(Rect.right, Width), std::min<LONG>(Rect.bottom, Height)};
    const TRect rect(r.left, r.top, r.right, r.bottom);
    if (!WhiteBits) {
        if (OnEraseBackground.Assigned())
            OnEraseBackground(this, rect);
        if (busy.Released())
            return;
        if (BufferDC)
            PaintInto(BufferDC, r);
    } else {
        // Twice, over black and over white; the difference gives the alpha.
        FillLongwordRect(Bits, Width, Height, r.left, r.top, r.right, r.bottom, 0xFF000000u);
        PluginWindow.window = BufferDC;
        PluginFuncs.setwindow(&Instance, &PluginWindow);
        PaintInto(BufferDC, r);
        if (busy.Released())
            return;
        FillLongwordRect(WhiteBits, Width, Height, r.left, r.top, r.right, r.bottom, 0xFFFFFFFFu);
        PluginWindow.window = WhiteDC;
        PluginFuncs.setwindow(&Instance, &PluginWindow);
        PaintInto(WhiteDC, r);
        if (busy.Released() || !Bits || !WhiteBits)
            return;
        GdiFlush();
        RecoverAlphaRect(static_cast<std::uint32_t*>(Bits), static_cast<const std::uint32_t*>(WhiteBits), Width,
                         Height, r.left, r.top, r.right, r.bottom);
    }
    if (OnPaint.Assigned())
        OnPaint(this, rect);
    if (busy.Released())
        return;
    if (ShowUpdateRects)
        DrawUpdateRect(rect);
}

void TkvFlashDriverNS::SendEvent(std::uint16_t event, std::uintptr_t wParam, std::uintptr_t lParam)
{
    if (!Ready() || !instanceAlive_ || !PluginFuncs.event)
        return;
    TkvDriverBusy busy(this);
    NPEvent e{event, wParam, lParam};
    PluginFuncs.event(&Instance, &e);
}

namespace {

std::uintptr_t ShiftToMouseFlags(TShiftState Shift)
{
    std::uintptr_t f = 0;
    if (Shift.Contains(ssCtrl))
        f |= MK_CONTROL;
    if (Shift.Contains(ssShift))
        f |= MK_SHIFT;
    if (Shift.Contains(ssLeft))
        f |= MK_LBUTTON;
    if (Shift.Contains(ssRight))
        f |= MK_RBUTTON;
    return f;
}

std::uintptr_t MakeLong(int a, int b)
{
    return static_cast<std::uintptr_t>(static_cast<std::uint32_t>(static_cast<std::uint16_t>(a)) |
                                       (static_cast<std::uint32_t>(static_cast<std::uint16_t>(b)) << 16));
}

}  // namespace

void TkvFlashDriverNS::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    if (Button == mbLeft) {
        SendEvent(WM_LBUTTONDOWN, ShiftToMouseFlags(Shift), MakeLong(X, Y));
    } else if (Button == mbRight && !DisableFlashMenu) {
        // The movie opens its menu at screen coordinates.
        RECT wr{};
        if (HWND wnd = GetParentHandle())
            GetWindowRect(wnd, &wr);
        const TPoint off = GetParentOffset();
        SendEvent(WM_RBUTTONDOWN, ShiftToMouseFlags(Shift), MakeLong(X + wr.left + off.x, Y + wr.top + off.y));
    }
}

void TkvFlashDriverNS::MouseMove(TShiftState Shift, int X, int Y)
{
    SendEvent(WM_MOUSEMOVE, ShiftToMouseFlags(Shift), MakeLong(X, Y));
}

void TkvFlashDriverNS::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    if (Button == mbLeft)
        SendEvent(WM_LBUTTONUP, ShiftToMouseFlags(Shift), MakeLong(X, Y));
    else if (Button == mbRight)
        SendEvent(WM_RBUTTONUP, ShiftToMouseFlags(Shift), MakeLong(X, Y));
}

void TkvFlashDriverNS::MouseWheel(TShiftState Shift, int X, int Y, int WheelDelta, bool& /*Handled*/)
{
    SendEvent(WM_MOUSEWHEEL, MakeLong(static_cast<int>(ShiftToMouseFlags(Shift)), WheelDelta), MakeLong(X, Y));
}

void TkvFlashDriverNS::KeyDown(std::uint16_t& Key, TShiftState Shift)
{
    SendEvent(WM_KEYDOWN, Key, ShiftToMouseFlags(Shift));
}

void TkvFlashDriverNS::KeyUp(std::uint16_t& Key, TShiftState Shift)
{
    SendEvent(WM_KEYUP, Key, ShiftToMouseFlags(Shift));
}

void TkvFlashDriverNS::KeyPress(wchar_t& Key, TShiftState Shift)
{
    // The plug-in takes characters as the ANSI bytes an 8-bit window receives.
    char bytes[10];
    const int n = WideCharToMultiByte(CP_ACP, 0, &Key, 1, bytes, sizeof bytes, nullptr, nullptr);
    for (int i = 0; i < n; ++i) {
        SendEvent(WM_CHAR, static_cast<unsigned char>(bytes[i]), ShiftToMouseFlags(Shift));
    }
}
