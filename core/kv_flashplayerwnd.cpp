// The windowed player control: keyboard input for the movie, painting
// through window repaints.
#include "kv_flashplayer.h"

const TClassInfo& TkvCustomFlashPlayerWnd::StaticClass()
{
    using T = TkvCustomFlashPlayerWnd;
    static const TClassInfo info =
        TClassBuilder<T>(L"TkvCustomFlashPlayerWnd")
            .Bool(L"DisableFlashCursor", &T::GetDisableFlashCursor, &T::SetDisableFlashCursor)
            .Default(false)
            .Bool(L"DisableFlashMenu", &T::GetDisableFlashMenu, &T::SetDisableFlashMenu)
            .Default(true)
            .Enum(L"Plugin", kvPluginInfo(), &T::GetPlugin, &T::SetPlugin)
            .Default(kvDefault)
            .WideStr(L"Movie", &T::GetMovie, &T::SetMovie)
            .NoDefault()
            .String(L"Skin", &T::GetSkin, &T::SetSkin)
            .NoDefault()
            .Bool(L"Pause", &T::GetPause, &T::SetPause)
            .NoDefault()
            .Integer(L"Volume", &T::GetVolume, &T::SetVolume)
            .NoDefault()
            .Event(L"OnFSCommand", &T::GetOnFSCommand, &T::SetOnFSCommand)
            .Event(L"OnFlashCall", &T::GetOnFlashCall, &T::SetOnFlashCall)
            .Bool(L"TabStop", &T::TabStop, &T::SetTabStop)
            .Default(true)
            .Build();
    return info;
}

const TClassInfo& TkvFlashPlayerWnd::StaticClass()
{
    static const TClassInfo info = TClassBuilder<TkvFlashPlayerWnd>(L"TkvFlashPlayerWnd")
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
                                       .Build();
    return info;
}

TkvCustomFlashPlayerWnd::TkvCustomFlashPlayerWnd(TComponent* AOwner) : TCustomControl(AOwner)
{
    CheckFlashPlugins();
    BackgroundMask = 0xFFFFFFFFu;
    SetWidth(100);
    SetHeight(100);
    SetTabStop(true);
    // The mask is all ones here, so the driver starts on the opaque colour.
    ChangePlugin(Driver, plugin_, movie_, Width(), Height(), MaskedBackground(), this,
                 TkvPaintEvent(this, &TkvCustomFlashPlayerWnd::DoPaint),
                 TkvEraseBackgroundEvent(this, &TkvCustomFlashPlayerWnd::DoEraseBackground), OnFSCommand, OnFlashCall, this);
}

TkvCustomFlashPlayerWnd::~TkvCustomFlashPlayerWnd()
{
    FreeFlashDriver(Driver, true);
}

std::uint32_t TkvCustomFlashPlayerWnd::MaskedBackground()
{
    return (ColorToARGB(Color()) | 0xFF000000u) & BackgroundMask;
}

void TkvCustomFlashPlayerWnd::AttachDriver()
{
    // Bound through the virtual methods: a descendant's overrides get the calls.
    Driver->OnPaint = TkvPaintEvent(this, &TkvCustomFlashPlayerWnd::DoPaint);
    Driver->OnEraseBackground = TkvEraseBackgroundEvent(this, &TkvCustomFlashPlayerWnd::DoEraseBackground);
}

void TkvCustomFlashPlayerWnd::LoadMovie(const WideString& AMovie)
{
    movie_ = AMovie;
    if (ComponentState().Contains(csLoading) || !Driver)
        return;
    // The movie's first frame may run the application's handlers, which may
    // replace the driver (what follows reads Driver afresh) or free this
    // control.
    if (!CallForComponent(Driver, [&](TkvFlashDriver* d) { d->LoadMovie(AMovie); }))
        return;
    if (Driver && ComponentState().Contains(csDesigning))
        Driver->SetPause(true);
}

void TkvCustomFlashPlayerWnd::LoadMovieFromStream(TStream* Stream)
{
    movie_.clear();
    if (ComponentState().Contains(csLoading) || !Driver)
        return;
    // As above: a handler may replace the driver or free this control.
    if (!CallForComponent(Driver, [&](TkvFlashDriver* d) { d->LoadMovieFromStream(Stream); }))
        return;
    if (Driver && ComponentState().Contains(csDesigning))
        Driver->SetPause(true);
}

WideString TkvCustomFlashPlayerWnd::GetVariable(const WideString& Name) { return Driver->GetVariable(Name); }
void TkvCustomFlashPlayerWnd::SetVariable(const WideString& Name, const WideString& Value)
{
    Driver->SetVariable(Name, Value);
}
WideString TkvCustomFlashPlayerWnd::CallFunction(const WideString& Request) { return Driver->CallFunction(Request); }
void TkvCustomFlashPlayerWnd::SetReturnValue(const WideString& Value) { Driver->SetReturnValue(Value); }
void TkvCustomFlashPlayerWnd::Play() { Driver->Play(); }
void TkvCustomFlashPlayerWnd::StopPlay() { Driver->StopPlay(); }
void TkvCustomFlashPlayerWnd::Rewind() { Driver->Rewind(); }
void TkvCustomFlashPlayerWnd::Forward() { Driver->Forward(); }
void TkvCustomFlashPlayerWnd::Back() { Driver->Back(); }
bool TkvCustomFlashPlayerWnd::GetLoop() { return Driver->GetLoop(); }
bool TkvCustomFlashPlayerWnd::GetIsPlaying() { return Driver->GetIsPlaying(); }
int TkvCustomFlashPlayerWnd::GetCurrentFrame() { return Driver->GetCurrentFrame(); }
int TkvCustomFlashPlayerWnd::GetTotalFrames() { return Driver->GetTotalFrames(); }
void TkvCustomFlashPlayerWnd::SetLoop(bool Value) { Driver->SetLoop(Value); }
void TkvCustomFlashPlayerWnd::SetCurrentFrame(int Value) { Driver->SetCurrentFrame(Value); }

// The driver exists from construction to destruction; these checks only
// guard against a back-end whose construction failed.
bool TkvCustomFlashPlayerWnd::GetDisableFlashCursor() const { return Driver && Driver->DisableFlashCursor; }
void TkvCustomFlashPlayerWnd::SetDisableFlashCursor(bool Value)
{
    if (Driver)
        Driver->DisableFlashCursor = Value;
}
bool TkvCustomFlashPlayerWnd::GetDisableFlashMenu() const { return Driver && Driver->DisableFlashMenu; }
void TkvCustomFlashPlayerWnd::SetDisableFlashMenu(bool Value)
{
    if (Driver)
        Driver->DisableFlashMenu = Value;
}
AnsiString TkvCustomFlashPlayerWnd::GetSkin() const { return Driver ? WideToAnsi(Driver->Skin) : AnsiString(); }
void TkvCustomFlashPlayerWnd::SetSkin(const AnsiString& Value)
{
    if (Driver)
        Driver->Skin = AnsiToWide(Value);
}
int TkvCustomFlashPlayerWnd::GetVolume() const { return Driver ? Driver->Volume : 0; }
void TkvCustomFlashPlayerWnd::SetVolume(int Value)
{
    if (Driver)
        Driver->SetVolume(Value);
}
bool TkvCustomFlashPlayerWnd::GetPause() const { return Driver && Driver->Pause; }
void TkvCustomFlashPlayerWnd::SetPause(bool Value)
{
    if (Driver)
        Driver->SetPause(Value);
}

void TkvCustomFlashPlayerWnd::SetPlugin(TkvPlugin Value)
{
    if (Value == plugin_)
        return;
    plugin_ = Value;
    // With the mask applied, a control whose background is transparent (the
    // layered window) gets a transparent driver at once, not only after its
    // next colour change.
    ChangePlugin(Driver, plugin_, movie_, Width(), Height(), MaskedBackground(), this,
                 TkvPaintEvent(this, &TkvCustomFlashPlayerWnd::DoPaint),
                 TkvEraseBackgroundEvent(this, &TkvCustomFlashPlayerWnd::DoEraseBackground), OnFSCommand, OnFlashCall, this);
}

void TkvCustomFlashPlayerWnd::Loaded()
{
    TCustomControl::Loaded();
    // A movie that fails to load must not abort reading the form.
    try {
        LoadMovie(movie_);
    } catch (...) {
        Application->HandleException(this);
    }
    if (Driver) {
        Driver->OnFSCommand = OnFSCommand.Get();
        Driver->OnFlashCall = OnFlashCall.Get();
    }
}

void TkvCustomFlashPlayerWnd::CreateHandle()
{
    TCustomControl::CreateHandle();
    if (!HandleAllocated())
        return;
    // WM_CHAR must bring UTF-16 code units, which KeyPress passes on as they
    // are. Re-storing the window procedure through the wide setter makes an
    // 8-bit window a Unicode one; the framework's own windows already are.
    HWND wnd = Handle();
    if (!IsWindowUnicode(wnd)) {
        const LONG_PTR proc = GetWindowLongPtrA(wnd, GWLP_WNDPROC);
        SetWindowLongPtrW(wnd, GWLP_WNDPROC, proc);
    }
}

void TkvCustomFlashPlayerWnd::DoEraseBackground(TObject* /*Sender*/, const TRect& R)
{
    if (!Driver || !Driver->Bits)
        return;
    FillLongwordRect(Driver->Bits, Driver->Width, Driver->Height, R.left, R.top, R.right, R.bottom,
                     MaskedBackground());
}

void TkvCustomFlashPlayerWnd::DoPaint(TObject* /*Sender*/, const TRect& /*R*/)
{
    if (ComponentState().Contains(csDesigning))
        return;
    // Runs inside the player's drawing: never create a window from here. A
    // control without one shows the buffer with its first WM_PAINT anyway.
    if (HandleAllocated())
        InvalidateRect(Handle(), nullptr, FALSE);
}

void TkvCustomFlashPlayerWnd::Paint()
{
    if (!Driver)
        return;
    if (ComponentState().Contains(csDesigning))
        AttachDriver();
    if (!Driver->BufferDC)
        return;
    // Without a player the buffer holds the background the erase hook put
    // there, so the control still shows its colour rather than stale pixels.
    BitBlt(Canvas()->Handle(), 0, 0, Driver->Width, Driver->Height, Driver->BufferDC, 0, 0, SRCCOPY);
}

void TkvCustomFlashPlayerWnd::SetBounds(int ALeft, int ATop, int AWidth, int AHeight)
{
    TCustomControl::SetBounds(ALeft, ATop, AWidth, AHeight);
    if (Driver)
        Driver->Resize(Width(), Height());
}

void TkvCustomFlashPlayerWnd::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    TCustomControl::MouseDown(Button, Shift, X, Y);
    // Keys reach the movie only through the focus, which every press takes.
    if (HandleAllocated() && CanFocus())
        SetFocus();
    if (Driver)
        Driver->MouseDown(Button, Shift, X, Y);
}

void TkvCustomFlashPlayerWnd::MouseMove(TShiftState Shift, int X, int Y)
{
    TCustomControl::MouseMove(Shift, X, Y);
    if (Driver)
        Driver->MouseMove(Shift, X, Y);
}

void TkvCustomFlashPlayerWnd::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    TCustomControl::MouseUp(Button, Shift, X, Y);
    if (Driver)
        Driver->MouseUp(Button, Shift, X, Y);
}

bool TkvCustomFlashPlayerWnd::DoMouseWheel(TShiftState Shift, int WheelDelta, TPoint MousePos)
{
    bool handled = TCustomControl::DoMouseWheel(Shift, WheelDelta, MousePos);
    if (Driver)
        Driver->MouseWheel(Shift, MousePos.x, MousePos.y, WheelDelta, handled);
    return handled;
}

void TkvCustomFlashPlayerWnd::ColorChanged()
{
    if (!Driver)
        return;
    Driver->SetBackground(MaskedBackground());
    Driver->ForceUpdate();
    // The base driver never redraws: its buffer shows the background only,
    // which must follow the colour.
    if (Driver && !Driver->DriverClass().PluginExists()) {
        DoEraseBackground(Driver, Rect(0, 0, Driver->Width, Driver->Height));
        Invalidate();
    }
}

void TkvCustomFlashPlayerWnd::WndProc(TMessage& Message)
{
    switch (Message.Msg) {
    case WM_GETDLGCODE:
        TCustomControl::WndProc(Message);
        // Arrows, Tab and characters belong to the movie, not to focus moves.
        Message.Result = DLGC_WANTARROWS | DLGC_WANTTAB | DLGC_WANTCHARS;
        return;
    case WM_KEYDOWN:
    case WM_KEYUP: {
        std::uint16_t key = static_cast<std::uint16_t>(Message.WParam);
        const TShiftState shift = KeyDataToShiftState(Message.LParam);
        if (Driver) {
            if (Message.Msg == WM_KEYDOWN)
                Driver->KeyDown(key, shift);
            else
                Driver->KeyUp(key, shift);
        }
        Message.WParam = key;
        break;
    }
    case WM_CHAR: {
        wchar_t key = static_cast<wchar_t>(static_cast<std::uint16_t>(Message.WParam));
        // Backspace, Tab, Enter and Escape are keys for the movie, not characters.
        if (key >= 32 && Driver)
            Driver->KeyPress(key, KeyDataToShiftState(Message.LParam));
        break;
    }
    case WM_ERASEBKGND:
        // The buffer covers the whole window.
        Message.Result = 1;
        return;
    case CM_COLORCHANGED:
        TCustomControl::WndProc(Message);
        ColorChanged();
        return;
    default:
        break;
    }
    TCustomControl::WndProc(Message);
}
