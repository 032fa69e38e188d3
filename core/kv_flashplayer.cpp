// Back-end selection, package globals and the graphic player control.
#include "kv_flashplayer.h"

#include <exception>

const TkvFlashDriverClass* DefaultFlashDriverClass = nullptr;
std::uintptr_t MainWnd = 0;
const TkvFlashDriverClass* NetscapeDriverClass = nullptr;
const TkvFlashDriverClass* ActiveXDriverClass = nullptr;
bool (*CheckFlashActiveXProc)() = nullptr;

const TEnumInfo& kvPluginInfo()
{
    static const TEnumInfo info{L"TkvPlugin", {L"kvDefault", L"kvNetscape", L"kvActiveX"}, 0};
    return info;
}

void kv_flashplayer_Start()
{
    DefaultFlashDriverClass = &TkvFlashDriver::ClassRef();
    RegisterClasses<TkvFlashPlayer, TkvFlashPlayerWnd, TkvFlashPlayerComp, TkvFlashList>();
}

void kv_flashplayer_Stop()
{
    // Released drivers go before the back-ends' units stop.
    DestroyReleaseWindow();
}

void CheckFlashPlugins()
{
    if (CheckFlashActiveXProc)
        CheckFlashActiveXProc();
}

namespace {

bool Available(const TkvFlashDriverClass* cls)
{
    return cls && cls->PluginExists();
}

}  // namespace

const TkvFlashDriverClass& SelectDriverClass(TkvPlugin Plugin)
{
    if (Plugin == kvDefault && DefaultFlashDriverClass && DefaultFlashDriverClass->PluginExists())
        return *DefaultFlashDriverClass;
    const bool activeX = Available(ActiveXDriverClass);
    const bool netscape = Available(NetscapeDriverClass);
    if (Plugin == kvActiveX && activeX)
        return *ActiveXDriverClass;
    if (activeX && !netscape)
        return *ActiveXDriverClass;
    if (netscape)
        return *NetscapeDriverClass;
    return TkvFlashDriver::ClassRef();
}

void ChangePlugin(TkvFlashDriver*& Driver, TkvPlugin Plugin, const WideString& Movie, int Width, int Height,
                  std::uint32_t Color, TControl* Control, const TkvPaintEvent& OnPaint,
                  const TkvEraseBackgroundEvent& OnEraseBackground, const TkvFSCommandEvent& OnFSCommand,
                  const TkvFlashCallEvent& OnFlashCall, TObject* Sender)
{
    FreeFlashDriver(Driver);
    std::exception_ptr failure;
    TkvFlashDriver* driver = nullptr;
    try {
        driver = SelectDriverClass(Plugin).Create(Width, Height, Color);
    } catch (...) {
        failure = std::current_exception();
    }
    // A player that fails to start must not leave the component without a
    // driver: every forwarded operation relies on one. The base driver shows
    // the background and answers every movie operation with nothing.
    if (!driver)
        driver = TkvFlashDriver::ClassRef().Create(Width, Height, Color);
    Driver = driver;
    driver->Control = Control;
    driver->OnPaint = OnPaint;
    driver->OnEraseBackground = OnEraseBackground;
    driver->OnFSCommand = OnFSCommand;
    driver->OnFlashCall = OnFlashCall;
    if (OnEraseBackground.Assigned())
        OnEraseBackground(driver, Rect(0, 0, Width, Height));
    bool ownerGone = false;
    if (!failure) {
        // The movie's first frame may run handlers that replace this driver
        // again (Driver then already names the next one) or free the
        // component, and Driver and Control with it.
        TkvDriverBusy busy(driver);
        try {
            driver->LoadMovie(Movie);
        } catch (...) {
            failure = std::current_exception();
        }
        ownerGone = busy.OwnerGone();
    }
    if (ownerGone) {
        Control = nullptr;
        Sender = nullptr;
    }
    if (Control)
        Control->Invalidate();
    // Reported once the component is whole again: the application's handler
    // may well look at it.
    if (failure) {
        try {
            std::rethrow_exception(failure);
        } catch (...) {
            Application->HandleException(Sender ? Sender : Control);
        }
    }
}

// ---------------------------------------------------------------------------
// TkvFlashPlayer
// ---------------------------------------------------------------------------

const TClassInfo& TkvFlashPlayer::StaticClass()
{
    static const TClassInfo info =
        TClassBuilder<TkvFlashPlayer>(L"TkvFlashPlayer")
            .Publish(L"Align")
            .Publish(L"Anchors")
            .Publish(L"DragCursor")
            .Publish(L"DragMode")
            .Publish(L"Color")
            .Publish(L"ParentColor")
            .Publish(L"ParentShowHint")
            .Publish(L"PopupMenu")
            .Publish(L"ShowHint")
            .Publish(L"Visible")
            .Publish(L"OnDragDrop")
            .Publish(L"OnDragOver")
            .Publish(L"OnEndDrag")
            .Publish(L"OnStartDrag")
            .Publish(L"OnClick")
            .Bool(L"DisableFlashCursor", &TkvFlashPlayer::GetDisableFlashCursor, &TkvFlashPlayer::SetDisableFlashCursor)
            .Default(false)
            .Bool(L"DisableFlashMenu", &TkvFlashPlayer::GetDisableFlashMenu, &TkvFlashPlayer::SetDisableFlashMenu)
            .Default(true)
            .Enum(L"Plugin", kvPluginInfo(), &TkvFlashPlayer::GetPlugin, &TkvFlashPlayer::SetPlugin)
            .Default(kvDefault)
            .WideStr(L"Movie", &TkvFlashPlayer::GetMovie, &TkvFlashPlayer::SetMovie)
            .NoDefault()
            .String(L"Skin", &TkvFlashPlayer::GetSkin, &TkvFlashPlayer::SetSkin)
            .NoDefault()
            .Bool(L"Pause", &TkvFlashPlayer::GetPause, &TkvFlashPlayer::SetPause)
            .NoDefault()
            .Integer(L"Volume", &TkvFlashPlayer::GetVolume, &TkvFlashPlayer::SetVolume)
            .NoDefault()
            .Event(L"OnFSCommand", &TkvFlashPlayer::GetOnFSCommand, &TkvFlashPlayer::SetOnFSCommand)
            .Event(L"OnFlashCall", &TkvFlashPlayer::GetOnFlashCall, &TkvFlashPlayer::SetOnFlashCall)
            .Bool(L"Transparent", &TkvFlashPlayer::GetTransparent, &TkvFlashPlayer::SetTransparent)
            .Default(true)
            .Build();
    return info;
}

TkvFlashPlayer::TkvFlashPlayer(TComponent* AOwner) : TGraphicControl(AOwner)
{
    CheckFlashPlugins();
    transparent_ = true;
    SetWidth(100);
    SetHeight(100);
    ChangePlugin(Driver, plugin_, movie_, Width(), Height(), BackgroundValue(), this,
                 TkvPaintEvent(this, &TkvFlashPlayer::DoPaint), TkvEraseBackgroundEvent(this, &TkvFlashPlayer::DoEraseBackground),
                 OnFSCommand, OnFlashCall, this);
}

TkvFlashPlayer::~TkvFlashPlayer()
{
    FreeFlashDriver(Driver, true);
}

std::uint32_t TkvFlashPlayer::BackgroundValue()
{
    return ColorToARGB(Color()) | 0xFF000000u;
}

void TkvFlashPlayer::AttachDriver()
{
    Driver->OnPaint = TkvPaintEvent(this, &TkvFlashPlayer::DoPaint);
    Driver->OnEraseBackground = TkvEraseBackgroundEvent(this, &TkvFlashPlayer::DoEraseBackground);
}

void TkvFlashPlayer::LoadMovie(const WideString& AMovie)
{
    movie_ = AMovie;
    if (ComponentState().Contains(csLoading))
        return;
    // The movie's first frame may run the application's handlers, which may
    // replace the driver (what follows reads Driver afresh) or free this
    // control.
    if (!CallForComponent(Driver, [&](TkvFlashDriver* d) { d->LoadMovie(AMovie); }))
        return;
    if (ComponentState().Contains(csDesigning))
        Driver->SetPause(true);
}

void TkvFlashPlayer::LoadMovieFromStream(TStream* Stream)
{
    movie_.clear();
    if (ComponentState().Contains(csLoading))
        return;
    // As above: a handler may replace the driver or free this control.
    if (!CallForComponent(Driver, [&](TkvFlashDriver* d) { d->LoadMovieFromStream(Stream); }))
        return;
    if (ComponentState().Contains(csDesigning))
        Driver->SetPause(true);
}

WideString TkvFlashPlayer::GetVariable(const WideString& Name) { return Driver->GetVariable(Name); }
void TkvFlashPlayer::SetVariable(const WideString& Name, const WideString& Value) { Driver->SetVariable(Name, Value); }
WideString TkvFlashPlayer::CallFunction(const WideString& Request) { return Driver->CallFunction(Request); }
void TkvFlashPlayer::SetReturnValue(const WideString& Value) { Driver->SetReturnValue(Value); }
void TkvFlashPlayer::Play() { Driver->Play(); }
void TkvFlashPlayer::StopPlay() { Driver->StopPlay(); }
void TkvFlashPlayer::Rewind() { Driver->Rewind(); }
void TkvFlashPlayer::Forward() { Driver->Forward(); }
void TkvFlashPlayer::Back() { Driver->Back(); }
bool TkvFlashPlayer::GetLoop() { return Driver->GetLoop(); }
bool TkvFlashPlayer::GetIsPlaying() { return Driver->GetIsPlaying(); }
int TkvFlashPlayer::GetCurrentFrame() { return Driver->GetCurrentFrame(); }
int TkvFlashPlayer::GetTotalFrames() { return Driver->GetTotalFrames(); }
void TkvFlashPlayer::SetLoop(bool Value) { Driver->SetLoop(Value); }
void TkvFlashPlayer::SetCurrentFrame(int Value) { Driver->SetCurrentFrame(Value); }

bool TkvFlashPlayer::GetDisableFlashCursor() const { return Driver && Driver->DisableFlashCursor; }
void TkvFlashPlayer::SetDisableFlashCursor(bool Value)
{
    if (Driver)
        Driver->DisableFlashCursor = Value;
}
bool TkvFlashPlayer::GetDisableFlashMenu() const { return Driver && Driver->DisableFlashMenu; }
void TkvFlashPlayer::SetDisableFlashMenu(bool Value)
{
    if (Driver)
        Driver->DisableFlashMenu = Value;
}
bool TkvFlashPlayer::GetShowUpdateRects() const { return Driver && Driver->ShowUpdateRects; }
void TkvFlashPlayer::SetShowUpdateRects(bool Value)
{
    if (Driver)
        Driver->ShowUpdateRects = Value;
}
AnsiString TkvFlashPlayer::GetSkin() const { return Driver ? WideToAnsi(Driver->Skin) : AnsiString(); }
void TkvFlashPlayer::SetSkin(const AnsiString& Value)
{
    if (Driver)
        Driver->Skin = AnsiToWide(Value);
}
int TkvFlashPlayer::GetVolume() const { return Driver ? Driver->Volume : 0; }
void TkvFlashPlayer::SetVolume(int Value)
{
    if (Driver)
        Driver->SetVolume(Value);
}
bool TkvFlashPlayer::GetPause() const { return Driver && Driver->Pause; }
void TkvFlashPlayer::SetPause(bool Value)
{
    if (Driver)
        Driver->SetPause(Value);
}

void TkvFlashPlayer::SetTransparent(bool Value)
{
    if (Value == transparent_)
        return;
    transparent_ = Value;
    if (Driver) {
        // The same opaque value keeps the buffers; the full repaint asks the
        // erase hook for the new kind of background.
        Driver->SetBackground(BackgroundValue());
        Driver->ForceUpdate();
    }
}

void TkvFlashPlayer::SetPlugin(TkvPlugin Value)
{
    if (Value == plugin_)
        return;
    plugin_ = Value;
    ChangePlugin(Driver, plugin_, movie_, Width(), Height(), BackgroundValue(), this,
                 TkvPaintEvent(this, &TkvFlashPlayer::DoPaint), TkvEraseBackgroundEvent(this, &TkvFlashPlayer::DoEraseBackground),
                 OnFSCommand, OnFlashCall, this);
}

void TkvFlashPlayer::Loaded()
{
    TGraphicControl::Loaded();
    erasedWithParent_ = Parent() && Parent()->HandleAllocated();
    DoEraseBackground(Driver, Rect(0, 0, Width(), Height()));
    // A movie that fails to load must not abort reading the form.
    try {
        LoadMovie(movie_);
    } catch (...) {
        Application->HandleException(this);
    }
    Driver->OnFSCommand = OnFSCommand.Get();
    Driver->OnFlashCall = OnFlashCall.Get();
}

void TkvFlashPlayer::EraseOnceWithParent()
{
    if (erasedWithParent_ || !transparent_ || !Driver)
        return;
    TWinControl* parent = Parent();
    if (!parent || !parent->HandleAllocated())
        return;
    erasedWithParent_ = true;
    DoEraseBackground(Driver, Rect(0, 0, Driver->Width, Driver->Height));
    // What the movie drew before the parent had a window is now under the
    // parent's picture: the movie draws itself again over it.
    Driver->ForceUpdate();
}

void TkvFlashPlayer::SetParent(TWinControl* AParent)
{
    TGraphicControl::SetParent(AParent);
    EraseOnceWithParent();
}

void TkvFlashPlayer::DoEraseBackground(TObject* /*Sender*/, const TRect& R)
{
    if (!Driver)
        return;
    if (transparent_) {
        TWinControl* parent = Parent();
        if (!parent || !parent->HandleAllocated() || !Driver->Bits || !Driver->BufferDC)
            return;
        HDC dc = Driver->BufferDC;
        {
            // The parent's paint code (the application's) runs in here: the
            // DC's state comes back however it leaves.
            const kv::SavedDC saved(dc);
            saved.ReplaceClip(RECT{R.left, R.top, R.right, R.bottom});
            // The parent's picture under the control lands at buffer (0, 0).
            parent->PaintTo(dc, -Left(), -Top());
        }
        GdiFlush();
    } else if (Driver->Bits) {
        FillLongwordRect(Driver->Bits, Driver->Width, Driver->Height, R.left, R.top, R.right, R.bottom,
                         BackgroundValue());
    }
}

void TkvFlashPlayer::DoPaint(TObject* /*Sender*/, const TRect& /*R*/)
{
    if (ComponentState().Contains(csDesigning))
        return;
    // Inside Paint the buffer is shown once the driver has finished.
    if (painting_)
        return;
    // Shown at once where the control can be seen; otherwise the next paint of
    // the parent shows the buffer.
    TWinControl* parent = Parent();
    if (!Visible() || !parent || !parent->HandleAllocated())
        return;
    Paint();
}

void TkvFlashPlayer::Paint()
{
    if (!Driver)
        return;
    if (ComponentState().Contains(csDesigning))
        AttachDriver();
    // While the erase hook has the parent paint into our own buffer, the
    // parent paints us too: there is nothing to copy then, and the erase must
    // not start again from inside itself.
    if (Driver->BufferDC && Canvas()->HandleAllocated() && Canvas()->Handle() == Driver->BufferDC)
        return;
    painting_ = true;
    try {
        EraseOnceWithParent();
    } catch (...) {
        painting_ = false;
        throw;
    }
    painting_ = false;
    if (!Driver || !Driver->BufferDC)
        return;
    HDC target = Canvas()->Handle();
    // The whole buffer, whatever changed: the parent may have painted over us.
    BitBlt(target, 0, 0, Driver->Width, Driver->Height, Driver->BufferDC, 0, 0, SRCCOPY);
}

void TkvFlashPlayer::SetBounds(int ALeft, int ATop, int AWidth, int AHeight)
{
    TGraphicControl::SetBounds(ALeft, ATop, AWidth, AHeight);
    if (Driver)
        Driver->Resize(Width(), Height());
}

void TkvFlashPlayer::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    TGraphicControl::MouseDown(Button, Shift, X, Y);
    if (Driver)
        Driver->MouseDown(Button, Shift, X, Y);
}

void TkvFlashPlayer::MouseMove(TShiftState Shift, int X, int Y)
{
    TGraphicControl::MouseMove(Shift, X, Y);
    if (Driver)
        Driver->MouseMove(Shift, X, Y);
}

void TkvFlashPlayer::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    TGraphicControl::MouseUp(Button, Shift, X, Y);
    if (Driver)
        Driver->MouseUp(Button, Shift, X, Y);
}

bool TkvFlashPlayer::DoMouseWheel(TShiftState Shift, int WheelDelta, TPoint MousePos)
{
    bool handled = TGraphicControl::DoMouseWheel(Shift, WheelDelta, MousePos);
    if (Driver)
        Driver->MouseWheel(Shift, MousePos.x, MousePos.y, WheelDelta, handled);
    return handled;
}

void TkvFlashPlayer::WndProc(TMessage& Message)
{
    TGraphicControl::WndProc(Message);
    if (Message.Msg == CM_COLORCHANGED && Driver) {
        Driver->SetBackground(BackgroundValue());
        Driver->ForceUpdate();
    }
}
