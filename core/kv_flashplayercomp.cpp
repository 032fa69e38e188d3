// The off-screen player component: a movie with per-pixel alpha in memory,
// input passed in by the application.
#include "kv_flashplayer.h"

const TClassInfo& TkvFlashPlayerComp::StaticClass()
{
    using T = TkvFlashPlayerComp;
    static const TClassInfo info = TClassBuilder<T>(L"TkvFlashPlayerComp")
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
                                       .Integer(L"Width", &T::GetWidth, &T::SetWidth)
                                       .NoDefault()
                                       .Integer(L"Height", &T::GetHeight, &T::SetHeight)
                                       .NoDefault()
                                       .Event(L"OnPaint", &T::OnPaint)
                                       .Event(L"OnFSCommand", &T::GetOnFSCommand, &T::SetOnFSCommand)
                                       .Event(L"OnFlashCall", &T::GetOnFlashCall, &T::SetOnFlashCall)
                                       .Build();
    return info;
}

TkvFlashPlayerComp::TkvFlashPlayerComp(TComponent* AOwner) : TComponent(AOwner)
{
    CheckFlashPlugins();
    width_ = 100;
    height_ = 100;
    NewDriver();
}

TkvFlashPlayerComp::~TkvFlashPlayerComp()
{
    FreeFlashDriver(Driver, true);
}

void TkvFlashPlayerComp::NewDriver()
{
    // Background 0: fully transparent, so the back-end recovers the movie's
    // alpha into the buffer. There is no host control.
    ChangePlugin(Driver, plugin_, movie_, width_, height_, 0, nullptr,
                 TkvPaintEvent(this, &TkvFlashPlayerComp::DoPaint),
                 TkvEraseBackgroundEvent(this, &TkvFlashPlayerComp::DoEraseBackground), OnFSCommand, OnFlashCall, this);
}

void TkvFlashPlayerComp::LoadMovie(const WideString& AMovie)
{
    movie_ = AMovie;
    if (ComponentState().Contains(csLoading) || !Driver)
        return;
    // The movie's first frame may run the application's handlers, which may
    // replace the driver (what follows reads Driver afresh) or free this
    // component.
    if (!CallForComponent(Driver, [&](TkvFlashDriver* d) { d->LoadMovie(AMovie); }))
        return;
    if (Driver && ComponentState().Contains(csDesigning))
        Driver->SetPause(true);
}

void TkvFlashPlayerComp::LoadMovieFromStream(TStream* Stream)
{
    movie_.clear();
    if (ComponentState().Contains(csLoading) || !Driver)
        return;
    // As above: a handler may replace the driver or free this component.
    if (!CallForComponent(Driver, [&](TkvFlashDriver* d) { d->LoadMovieFromStream(Stream); }))
        return;
    if (Driver && ComponentState().Contains(csDesigning))
        Driver->SetPause(true);
}

WideString TkvFlashPlayerComp::GetVariable(const WideString& Name) { return Driver->GetVariable(Name); }
void TkvFlashPlayerComp::SetVariable(const WideString& Name, const WideString& Value)
{
    Driver->SetVariable(Name, Value);
}
WideString TkvFlashPlayerComp::CallFunction(const WideString& Request) { return Driver->CallFunction(Request); }
void TkvFlashPlayerComp::SetReturnValue(const WideString& Value) { Driver->SetReturnValue(Value); }
void TkvFlashPlayerComp::Play() { Driver->Play(); }
void TkvFlashPlayerComp::StopPlay() { Driver->StopPlay(); }
void TkvFlashPlayerComp::Rewind() { Driver->Rewind(); }
void TkvFlashPlayerComp::Forward() { Driver->Forward(); }
void TkvFlashPlayerComp::Back() { Driver->Back(); }
bool TkvFlashPlayerComp::GetLoop() { return Driver->GetLoop(); }
bool TkvFlashPlayerComp::GetIsPlaying() { return Driver->GetIsPlaying(); }
int TkvFlashPlayerComp::GetCurrentFrame() { return Driver->GetCurrentFrame(); }
int TkvFlashPlayerComp::GetTotalFrames() { return Driver->GetTotalFrames(); }
void TkvFlashPlayerComp::SetLoop(bool Value) { Driver->SetLoop(Value); }
void TkvFlashPlayerComp::SetCurrentFrame(int Value) { Driver->SetCurrentFrame(Value); }

void* TkvFlashPlayerComp::GetBuffer() const
{
    return Driver ? Driver->Bits : nullptr;
}

void* TkvFlashPlayerComp::GetScanline(int Row) const
{
    // Rows are laid out by the buffer's real size, which may differ from the
    // requested one (a requested width of 0 still gives a 1-pixel buffer).
    if (!Driver || !Driver->Bits || Row < 0 || Row >= Driver->Height)
        return nullptr;
    return static_cast<std::uint8_t*>(Driver->Bits) +
           static_cast<std::size_t>(Row) * static_cast<std::size_t>(Driver->Width) * 4u;
}

void TkvFlashPlayerComp::CallMouseDown(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    if (Driver)
        Driver->MouseDown(Button, Shift, X, Y);
}

void TkvFlashPlayerComp::CallMouseMove(TShiftState Shift, int X, int Y)
{
    if (Driver)
        Driver->MouseMove(Shift, X, Y);
}

void TkvFlashPlayerComp::CallMouseUp(TMouseButton Button, TShiftState Shift, int X, int Y)
{
    if (Driver)
        Driver->MouseUp(Button, Shift, X, Y);
}

void TkvFlashPlayerComp::CallMouseWheel(TShiftState Shift, int X, int Y, int WheelDelta, bool& Handled)
{
    if (Driver)
        Driver->MouseWheel(Shift, X, Y, WheelDelta, Handled);
}

void TkvFlashPlayerComp::CallKeyDown(std::uint16_t& Key, TShiftState Shift)
{
    if (Driver)
        Driver->KeyDown(Key, Shift);
}

void TkvFlashPlayerComp::CallKeyPress(wchar_t& Key, TShiftState Shift)
{
    if (Driver)
        Driver->KeyPress(Key, Shift);
}

void TkvFlashPlayerComp::CallKeyUp(std::uint16_t& Key, TShiftState Shift)
{
    if (Driver)
        Driver->KeyUp(Key, Shift);
}

AnsiString TkvFlashPlayerComp::GetSkin() const { return Driver ? WideToAnsi(Driver->Skin) : AnsiString(); }
void TkvFlashPlayerComp::SetSkin(const AnsiString& Value)
{
    if (Driver)
        Driver->Skin = AnsiToWide(Value);
}
int TkvFlashPlayerComp::GetVolume() const { return Driver ? Driver->Volume : 0; }
void TkvFlashPlayerComp::SetVolume(int Value)
{
    if (Driver)
        Driver->SetVolume(Value);
}
bool TkvFlashPlayerComp::GetPause() const { return Driver && Driver->Pause; }
void TkvFlashPlayerComp::SetPause(bool Value)
{
    if (Driver)
        Driver->SetPause(Value);
}

void TkvFlashPlayerComp::SetWidth(int Value)
{
    if (Value == width_)
        return;
    width_ = Value;
    if (Driver)
        Driver->Resize(width_, height_);
}

void TkvFlashPlayerComp::SetHeight(int Value)
{
    if (Value == height_)
        return;
    height_ = Value;
    if (Driver)
        Driver->Resize(width_, height_);
}

void TkvFlashPlayerComp::SetPlugin(TkvPlugin Value)
{
    if (Value == plugin_)
        return;
    plugin_ = Value;
    NewDriver();
}

void TkvFlashPlayerComp::Loaded()
{
    TComponent::Loaded();
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

void TkvFlashPlayerComp::DoEraseBackground(TObject* /*Sender*/, const TRect& R)
{
    if (!Driver || !Driver->Bits)
        return;
    FillLongwordRect(Driver->Bits, Driver->Width, Driver->Height, R.left, R.top, R.right, R.bottom, 0);
}

void TkvFlashPlayerComp::DoPaint(TObject* Sender, const TRect& R)
{
    if (ComponentState().Contains(csDesigning))
        return;
    if (OnPaint.Assigned())
        OnPaint(Sender, R);
}
