// One windowless plug-in instance per driver: creating it, drawing
// invalidated rectangles into the buffer, passing input.
#include <windows.h>

#include <algorithm>
#include <string>

#include "kv_alpha.h"
#include "kv_input.h"
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
    Instance.pdata = nullptr;
    Instance.ndata = this;
    ScriptObject = nullptr;
    // The instance is alive from here on whatever NPP_New answers: its end
    // (NPP_Destroy) is owed either way. The busy guard above keeps the driver
    // whole until this function ends, released or not.
    NppNew(4, names, values);
    instanceAlive_ = true;
    NPObject* object = nullptr;
    const auto got = NppGetValue(NPPVpluginScriptableNPObject, &object);
    if (got.Made && got.Result == NPERR_NO_ERROR)
        ScriptObject = object;
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
    // The plug-in may call back while its instance ends; the guard above
    // keeps the driver whole for what follows.
    NppDestroy();
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
    // The whole buffer is shown: a player takes a plug-in whose clip
    // rectangle is empty for an invisible one, and slows it down.
    PluginWindow.clipRect.top = 0;
    PluginWindow.clipRect.left = 0;
    PluginWindow.clipRect.bottom = static_cast<std::uint16_t>(std::clamp(Height, 0, 0xFFFF));
    PluginWindow.clipRect.right = static_cast<std::uint16_t>(std::clamp(Width, 0, 0xFFFF));
    // The plug-in may repaint (and so run the application's paint handler,
    // which may release the driver) from inside NPP_SetWindow.
    if (instanceAlive_ && !NppSetWindow().Survived)
        return;
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
    const kv::SavedDC saved(dc);
    saved.IntersectClip(r);
    RECT dirty = r;
    SendEvent(WM_PAINT, reinterpret_cast<std::uintptr_t>(dc), reinterpret_cast<std::uintptr_t>(&dirty));
}

void TkvFlashDriverNS::InvalidateArea(const NPRect& Rect)
{
    if (!Ready() || !instanceAlive_)
        return;
    const RECT r{Rect.left, Rect.top, Rect.right, Rect.bottom};
    PaintRect(
        r, [this] { return instanceAlive_; },
        [this](HDC dc, const RECT& clip) {
            // With a transparent background the plug-in draws into each buffer
            // in turn; the DC it is told about follows.
            if (WhiteBits) {
                PluginWindow.window = dc;
                NppSetWindow();  // the paint checks the driver survived, after the drawing
            }
            PaintInto(dc, clip);
        });
}

void TkvFlashDriverNS::SendEvent(std::uint16_t event, std::uintptr_t wParam, std::uintptr_t lParam)
{
    if (!Ready() || !instanceAlive_)
        return;
    NPEvent e{event, wParam, lParam};
    // Input may run the movie's scripts, and through them the application's
    // handlers, which may release the driver: callers check Released() when
    // they go on.
    NppHandleEvent(e);
}

// ---------------------------------------------------------------------------
// Calls into the plug-in
// ---------------------------------------------------------------------------

TkvPlayerCall<NPError> TkvFlashDriverNS::NppNew(std::int16_t Count, char** Names, char** Values)
{
    char mime[] = "application/x-shockwave-flash";
    return CallPlayer(this, PluginFuncs.newp, NPError(NPERR_GENERIC_ERROR), mime, &Instance,
                      static_cast<std::uint16_t>(NP_EMBED), Count, Names, Values, static_cast<NPSavedData*>(nullptr));
}

TkvPlayerCall<NPError> TkvFlashDriverNS::NppDestroy()
{
    return CallPlayer(this, PluginFuncs.destroy, NPError(NPERR_GENERIC_ERROR), &Instance,
                      static_cast<NPSavedData**>(nullptr));
}

TkvPlayerCall<NPError> TkvFlashDriverNS::NppSetWindow()
{
    return CallPlayer(this, PluginFuncs.setwindow, NPError(NPERR_GENERIC_ERROR), &Instance, &PluginWindow);
}

TkvPlayerCall<std::int16_t> TkvFlashDriverNS::NppHandleEvent(NPEvent& Event)
{
    return CallPlayer(this, PluginFuncs.event, std::int16_t(0), &Instance, static_cast<void*>(&Event));
}

TkvPlayerCall<NPError> TkvFlashDriverNS::NppGetValue(NPPVariable Variable, void* Value)
{
    return CallPlayer(this, PluginFuncs.getvalue, NPError(NPERR_GENERIC_ERROR), &Instance, Variable, Value);
}

TkvPlayerCall<NPError> TkvFlashDriverNS::NppNewStream(NPStream& Stream, std::uint16_t& Type)
{
    char mime[] = "application/x-shockwave-flash";
    return CallPlayer(this, PluginFuncs.newstream, NPError(NPERR_GENERIC_ERROR), &Instance, mime, &Stream,
                      static_cast<NPBool>(true), &Type);
}

TkvPlayerCall<std::int32_t> TkvFlashDriverNS::NppWriteReady(NPStream& Stream)
{
    return CallPlayer(this, PluginFuncs.writeready, std::int32_t(-1), &Instance, &Stream);
}

TkvPlayerCall<std::int32_t> TkvFlashDriverNS::NppWrite(NPStream& Stream, std::int32_t Offset, std::int32_t Length,
                                                      void* Data)
{
    return CallPlayer(this, PluginFuncs.write, std::int32_t(-1), &Instance, &Stream, Offset, Length, Data);
}

TkvPlayerCall<void> TkvFlashDriverNS::NppURLNotify(const char* URL, NPReason Reason, void* NotifyData)
{
    return CallPlayerVoid(this, PluginFuncs.urlnotify, &Instance, URL, Reason, NotifyData);
}

TkvPlayerCall<NPError> TkvFlashDriverNS::NppDestroyStream(NPStream& Stream, NPReason Reason)
{
    return CallPlayer(this, PluginFuncs.destroystream, NPError(NPERR_GENERIC_ERROR), &Instance, &Stream, Reason);
}

TkvPlayerCall<bool> TkvFlashDriverNS::ScriptInvoke(const char* Method, const NPVariant* Args, std::uint32_t Count,
                                                   NPVariant& Result)
{
    NPObject* const o = ScriptObject;
    if (!o || !o->_class)
        return {};
    return CallPlayer(this, o->_class->invoke, false, o, Identifier(Method), Args, Count, &Result);
}

TkvPlayerCall<bool> TkvFlashDriverNS::ScriptSetProperty(const char* Name, const NPVariant& Value)
{
    NPObject* const o = ScriptObject;
    if (!o || !o->_class)
        return {};
    return CallPlayer(this, o->_class->setProperty, false, o, Identifier(Name), &Value);
}

void TkvFlashDriverNS::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    if (Button == mbLeft) {
        SendEvent(WM_LBUTTONDOWN, kv::KeyStateFlags(Shift, false), kv::PackWords(X, Y));
    } else if (Button == mbRight && !DisableFlashMenu) {
        // The movie opens its menu at screen coordinates.
        RECT wr{};
        if (HWND wnd = GetParentHandle())
            GetWindowRect(wnd, &wr);
        const TPoint off = GetParentOffset();
        SendEvent(WM_RBUTTONDOWN, kv::KeyStateFlags(Shift, false),
                  kv::PackWords(X + wr.left + off.x, Y + wr.top + off.y));
    }
}

void TkvFlashDriverNS::MouseMove(TShiftState Shift, int X, int Y)
{
    SendEvent(WM_MOUSEMOVE, kv::KeyStateFlags(Shift, false), kv::PackWords(X, Y));
}

void TkvFlashDriverNS::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    if (Button == mbLeft)
        SendEvent(WM_LBUTTONUP, kv::KeyStateFlags(Shift, false), kv::PackWords(X, Y));
    else if (Button == mbRight)
        SendEvent(WM_RBUTTONUP, kv::KeyStateFlags(Shift, false), kv::PackWords(X, Y));
}

void TkvFlashDriverNS::MouseWheel(TShiftState Shift, int X, int Y, int WheelDelta, bool& /*Handled*/)
{
    SendEvent(WM_MOUSEWHEEL, kv::PackWords(static_cast<int>(kv::KeyStateFlags(Shift, false)), WheelDelta),
              kv::PackWords(X, Y));
}

void TkvFlashDriverNS::KeyDown(std::uint16_t& Key, TShiftState Shift)
{
    SendEvent(WM_KEYDOWN, Key, kv::KeyStateFlags(Shift, false));
}

void TkvFlashDriverNS::KeyUp(std::uint16_t& Key, TShiftState Shift)
{
    SendEvent(WM_KEYUP, Key, kv::KeyStateFlags(Shift, false));
}

void TkvFlashDriverNS::KeyPress(wchar_t& Key, TShiftState Shift)
{
    // The plug-in takes characters as the ANSI bytes an 8-bit window receives.
    char bytes[8];
    const int n = kv::AnsiBytesOf(Key, bytes);
    for (int i = 0; i < n; ++i) {
        SendEvent(WM_CHAR, static_cast<unsigned char>(bytes[i]), kv::KeyStateFlags(Shift, false));
    }
}
