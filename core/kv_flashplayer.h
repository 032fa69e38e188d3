// The player core: back-end selection and the graphic, windowed and
// off-screen player components. The driver base is in kv_driver.h.
#pragma once

#include <windows.h>

#include <cstdint>

#include "framework/framework.h"
#include "kv_driver.h"
#include "kv_flashstore.h"

// An application handler of a player component (OnFSCommand, OnFlashCall),
// kept by the component and handed to its driver. It is a property with a
// setter: assigning it hands the handler to the component's current driver at
// once, and ChangePlugin hands it to every later driver. While a stored form
// is read the value is only recorded; the component's Loaded hands it over.
template <class E>
class TkvDriverHandler {
public:
    TkvDriverHandler(TComponent* Owner, TkvFlashDriver* const& Driver, E TkvFlashDriver::*Slot) noexcept
        : owner_(Owner), driver_(Driver), slot_(Slot)
    {
    }
    TkvDriverHandler(const TkvDriverHandler&) = delete;
    TkvDriverHandler& operator=(const TkvDriverHandler&) = delete;

    TkvDriverHandler& operator=(const E& Value)
    {
        Set(Value);
        return *this;
    }
    void Set(const E& Value)
    {
        value_ = Value;
        if (driver_ && !owner_->ComponentState().Contains(csLoading))
            driver_->*slot_ = Value;
    }
    const E& Get() const noexcept { return value_; }
    operator const E&() const noexcept { return value_; }
    bool Assigned() const noexcept { return value_.Assigned(); }

private:
    TComponent* owner_;
    TkvFlashDriver* const& driver_;
    E TkvFlashDriver::*slot_;
    E value_;
};

// ---------------------------------------------------------------------------
// Back-end selection and package globals
// ---------------------------------------------------------------------------

// The driver class used for kvDefault when it reports its player available.
extern const TkvFlashDriverClass* DefaultFlashDriverClass;
// Exported for applications; the package never reads or writes it.
extern std::uintptr_t MainWnd;
// The back-ends' class references, published by their units' start sections;
// nullptr while a back-end is absent.
extern const TkvFlashDriverClass* NetscapeDriverClass;
extern const TkvFlashDriverClass* ActiveXDriverClass;
// The ActiveX back-end's probe (CheckFlashActiveX), set by its unit.
extern bool (*CheckFlashActiveXProc)();

// Runs the ActiveX probe (once per process; the probe keeps its own count).
void CheckFlashPlugins();

// Replaces the driver held in Driver: frees the old one, picks a class from
// Plugin and the players available, creates it, wires it to Control and the
// handlers, fills its buffer with the background and loads Movie into it.
// Driver never stays empty: when the chosen back-end fails to start, the base
// driver (which shows the background) takes its place with the same size,
// background, control and handlers. Such a failure, and a failure to load
// Movie, goes to Application->HandleException with Sender (Control when
// Sender is null) and never out of this call.
void ChangePlugin(TkvFlashDriver*& Driver, TkvPlugin Plugin, const WideString& Movie, int Width, int Height,
                  std::uint32_t Color, TControl* Control, const TkvPaintEvent& OnPaint,
                  const TkvEraseBackgroundEvent& OnEraseBackground, const TkvFSCommandEvent& OnFSCommand,
                  const TkvFlashCallEvent& OnFlashCall, TObject* Sender = nullptr);

// The class ChangePlugin would create for Plugin now.
const TkvFlashDriverClass& SelectDriverClass(TkvPlugin Plugin);

// A framework colour (system colours resolved) as an opaque pixel value.
inline std::uint32_t ColorToARGB(TColor Color)
{
    return ColorToARGB(static_cast<std::uint32_t>(ColorToRGB(Color)));
}

// ---------------------------------------------------------------------------
// TkvFlashPlayer: the graphic (windowless) player control.
// ---------------------------------------------------------------------------
class TkvFlashPlayer : public TGraphicControl, public IkvFlash {
    KV_CLASS(TkvFlashPlayer, TGraphicControl)
public:
    explicit TkvFlashPlayer(TComponent* AOwner);
    ~TkvFlashPlayer() override;

    TkvFlashDriver* Driver = nullptr;  // owned; never nullptr after construction

    // IkvFlash, forwarded to the driver.
    void LoadMovie(const WideString& AMovie) override;
    void LoadMovieFromStream(TStream* Stream) override;
    WideString GetVariable(const WideString& Name) override;
    void SetVariable(const WideString& Name, const WideString& Value) override;
    WideString CallFunction(const WideString& Request) override;
    void SetReturnValue(const WideString& Value) override;
    void Play() override;
    void StopPlay() override;
    void Rewind() override;
    void Forward() override;
    void Back() override;
    bool GetLoop() override;
    bool GetIsPlaying() override;
    int GetCurrentFrame() override;
    int GetTotalFrames() override;
    void SetLoop(bool Value) override;
    void SetCurrentFrame(int Value) override;

    // Properties.
    bool GetTransparent() const { return transparent_; }
    void SetTransparent(bool Value);
    const WideString& GetMovie() const { return movie_; }
    void SetMovie(const WideString& Value) { LoadMovie(Value); }
    TkvPlugin GetPlugin() const { return plugin_; }
    void SetPlugin(TkvPlugin Value);
    bool GetDisableFlashCursor() const;
    void SetDisableFlashCursor(bool Value);
    bool GetDisableFlashMenu() const;
    void SetDisableFlashMenu(bool Value);
    bool GetShowUpdateRects() const;
    void SetShowUpdateRects(bool Value);
    AnsiString GetSkin() const;
    void SetSkin(const AnsiString& Value);
    int GetVolume() const;
    void SetVolume(int Value);
    bool GetPause() const;
    void SetPause(bool Value);

    // Application handlers; assigning one reaches the driver at once.
    TkvDriverHandler<TkvFSCommandEvent> OnFSCommand{this, Driver, &TkvFlashDriver::OnFSCommand};
    TkvDriverHandler<TkvFlashCallEvent> OnFlashCall{this, Driver, &TkvFlashDriver::OnFlashCall};
    const TkvFSCommandEvent& GetOnFSCommand() const { return OnFSCommand; }
    void SetOnFSCommand(const TkvFSCommandEvent& Value) { OnFSCommand = Value; }
    const TkvFlashCallEvent& GetOnFlashCall() const { return OnFlashCall; }
    void SetOnFlashCall(const TkvFlashCallEvent& Value) { OnFlashCall = Value; }

    // Framework overrides.
    void Loaded() override;
    void Paint() override;
    void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;
    void SetParent(TWinControl* AParent) override;
    void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
    void MouseMove(TShiftState Shift, int X, int Y) override;
    void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
    bool DoMouseWheel(TShiftState Shift, int WheelDelta, TPoint MousePos) override;
    void WndProc(TMessage& Message) override;

    // Hooks handed to the driver.
    void DoPaint(TObject* Sender, const TRect& R);
    void DoEraseBackground(TObject* Sender, const TRect& R);

private:
    std::uint32_t BackgroundValue();
    void AttachDriver();
    // A buffer that has never held the parent's picture gets it once the
    // control has a parent window (a control made by code gets no Loaded).
    void EraseOnceWithParent();

    bool transparent_ = true;
    WideString movie_;
    TkvPlugin plugin_ = kvDefault;
    bool erasedWithParent_ = false;
    bool painting_ = false;  // inside Paint: DoPaint leaves showing the buffer to it
};

// ---------------------------------------------------------------------------
// TkvCustomFlashPlayerWnd: the player control with a window of its own. It
// takes the keyboard focus and passes keys to the movie; the movie is shown
// through ordinary window repaints over the control's colour, filtered through
// BackgroundMask. TkvFlashPlayerWnd is the class placed on forms.
// ---------------------------------------------------------------------------
class TkvCustomFlashPlayerWnd : public TCustomControl, public IkvFlash {
    KV_CLASS(TkvCustomFlashPlayerWnd, TCustomControl)
public:
    explicit TkvCustomFlashPlayerWnd(TComponent* AOwner);
    ~TkvCustomFlashPlayerWnd() override;

    TkvFlashDriver* Driver = nullptr;  // owned; never nullptr after construction
    // Application handlers; assigning one reaches the driver at once.
    TkvDriverHandler<TkvFSCommandEvent> OnFSCommand{this, Driver, &TkvFlashDriver::OnFSCommand};
    TkvDriverHandler<TkvFlashCallEvent> OnFlashCall{this, Driver, &TkvFlashDriver::OnFlashCall};
    const TkvFSCommandEvent& GetOnFSCommand() const { return OnFSCommand; }
    void SetOnFSCommand(const TkvFSCommandEvent& Value) { OnFSCommand = Value; }
    const TkvFlashCallEvent& GetOnFlashCall() const { return OnFlashCall; }
    void SetOnFlashCall(const TkvFlashCallEvent& Value) { OnFlashCall = Value; }
    // ANDed into the background pixel value; 0 gives a fully transparent
    // background (the layered window).
    std::uint32_t BackgroundMask = 0xFFFFFFFFu;

    // IkvFlash, forwarded to the driver.
    void LoadMovie(const WideString& AMovie) override;
    void LoadMovieFromStream(TStream* Stream) override;
    WideString GetVariable(const WideString& Name) override;
    void SetVariable(const WideString& Name, const WideString& Value) override;
    WideString CallFunction(const WideString& Request) override;
    void SetReturnValue(const WideString& Value) override;
    void Play() override;
    void StopPlay() override;
    void Rewind() override;
    void Forward() override;
    void Back() override;
    bool GetLoop() override;
    bool GetIsPlaying() override;
    int GetCurrentFrame() override;
    int GetTotalFrames() override;
    void SetLoop(bool Value) override;
    void SetCurrentFrame(int Value) override;

    // Properties.
    const WideString& GetMovie() const { return movie_; }
    void SetMovie(const WideString& Value) { LoadMovie(Value); }
    TkvPlugin GetPlugin() const { return plugin_; }
    void SetPlugin(TkvPlugin Value);
    bool GetDisableFlashCursor() const;
    void SetDisableFlashCursor(bool Value);
    bool GetDisableFlashMenu() const;
    void SetDisableFlashMenu(bool Value);
    AnsiString GetSkin() const;
    void SetSkin(const AnsiString& Value);
    int GetVolume() const;
    void SetVolume(int Value);
    bool GetPause() const;
    void SetPause(bool Value);

    // Framework overrides.
    void Loaded() override;
    void CreateHandle() override;
    void Paint() override;
    void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;
    void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
    void MouseMove(TShiftState Shift, int X, int Y) override;
    void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
    bool DoMouseWheel(TShiftState Shift, int WheelDelta, TPoint MousePos) override;
    void WndProc(TMessage& Message) override;

    // Hooks handed to the driver; a descendant's overrides receive its calls.
    virtual void DoPaint(TObject* Sender, const TRect& R);
    virtual void DoEraseBackground(TObject* Sender, const TRect& R);

protected:
    // The control's colour as a pixel value, filtered through BackgroundMask.
    std::uint32_t MaskedBackground();
    void AttachDriver();

private:
    void ColorChanged();
    TkvPlugin plugin_ = kvDefault;
    WideString movie_;
};

class TkvFlashPlayerWnd : public TkvCustomFlashPlayerWnd {
    KV_CLASS(TkvFlashPlayerWnd, TkvCustomFlashPlayerWnd)
public:
    explicit TkvFlashPlayerWnd(TComponent* AOwner) : TkvCustomFlashPlayerWnd(AOwner) {}
};

// ---------------------------------------------------------------------------
// TkvFlashPlayerComp: the non-visual player. The movie plays into the driver's
// buffer over a fully transparent background; the application reads the
// pixels (premultiplied 0xAARRGGBB) and passes input in itself.
// ---------------------------------------------------------------------------
class TkvFlashPlayerComp : public TComponent, public IkvFlash {
    KV_CLASS(TkvFlashPlayerComp, TComponent)
public:
    explicit TkvFlashPlayerComp(TComponent* AOwner);
    ~TkvFlashPlayerComp() override;

    TkvFlashDriver* Driver = nullptr;  // owned; never nullptr after construction
    // Application handlers; assigning one reaches the driver at once.
    TkvDriverHandler<TkvFSCommandEvent> OnFSCommand{this, Driver, &TkvFlashDriver::OnFSCommand};
    TkvDriverHandler<TkvFlashCallEvent> OnFlashCall{this, Driver, &TkvFlashDriver::OnFlashCall};
    const TkvFSCommandEvent& GetOnFSCommand() const { return OnFSCommand; }
    void SetOnFSCommand(const TkvFSCommandEvent& Value) { OnFSCommand = Value; }
    const TkvFlashCallEvent& GetOnFlashCall() const { return OnFlashCall; }
    void SetOnFlashCall(const TkvFlashCallEvent& Value) { OnFlashCall = Value; }
    // A rectangle of the buffer has new pixels (buffer coordinates); the
    // sender is the driver. The buffer may be read inside the handler.
    TkvPaintEvent OnPaint;

    // IkvFlash, forwarded to the driver.
    void LoadMovie(const WideString& AMovie) override;
    void LoadMovieFromStream(TStream* Stream) override;
    WideString GetVariable(const WideString& Name) override;
    void SetVariable(const WideString& Name, const WideString& Value) override;
    WideString CallFunction(const WideString& Request) override;
    void SetReturnValue(const WideString& Value) override;
    void Play() override;
    void StopPlay() override;
    void Rewind() override;
    void Forward() override;
    void Back() override;
    bool GetLoop() override;
    bool GetIsPlaying() override;
    int GetCurrentFrame() override;
    int GetTotalFrames() override;
    void SetLoop(bool Value) override;
    void SetCurrentFrame(int Value) override;

    // The pixels: the top-left pixel of a top-down buffer of the driver's
    // Width x Height, rows Width x 4 bytes apart; nullptr without pixel memory.
    void* GetBuffer() const;
    // The start of a row of the buffer; nullptr for a row outside it.
    void* GetScanline(int Row) const;

    // Input in buffer coordinates, straight to the movie.
    void CallMouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
    void CallMouseMove(TShiftState Shift, int X, int Y);
    void CallMouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
    void CallMouseWheel(TShiftState Shift, int X, int Y, int WheelDelta, bool& Handled);
    void CallKeyDown(std::uint16_t& Key, TShiftState Shift);
    void CallKeyPress(wchar_t& Key, TShiftState Shift);
    void CallKeyUp(std::uint16_t& Key, TShiftState Shift);

    // Properties.
    const WideString& GetMovie() const { return movie_; }
    void SetMovie(const WideString& Value) { LoadMovie(Value); }
    TkvPlugin GetPlugin() const { return plugin_; }
    void SetPlugin(TkvPlugin Value);
    AnsiString GetSkin() const;
    void SetSkin(const AnsiString& Value);
    int GetVolume() const;
    void SetVolume(int Value);
    bool GetPause() const;
    void SetPause(bool Value);
    // The requested size, kept as given; the driver's buffer is at least 1 x 1.
    int GetWidth() const { return width_; }
    void SetWidth(int Value);
    int GetHeight() const { return height_; }
    void SetHeight(int Value);

    void Loaded() override;

    // Hooks handed to the driver.
    void DoPaint(TObject* Sender, const TRect& R);
    void DoEraseBackground(TObject* Sender, const TRect& R);

private:
    void NewDriver();
    WideString movie_;
    TkvPlugin plugin_ = kvDefault;
    int width_ = 100;
    int height_ = 100;
};

// Unit start and stop.
void kv_flashplayer_Start();
void kv_flashplayer_Stop();
