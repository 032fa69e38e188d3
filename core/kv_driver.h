// The driver base that every back-end extends: the shared vocabulary, the
// off-screen render buffer, the transparent paint, and the driver's lifetime
// across calls from and to its player.
#pragma once

#include <windows.h>

#include <cstdint>
#include <utility>

#include "framework/framework.h"
#include "kv_owners.h"
#include "kv_pixels.h"

// ---------------------------------------------------------------------------
// Shared vocabulary
// ---------------------------------------------------------------------------

// Which Flash Player back-end a component asks for.
enum TkvPlugin : std::uint8_t { kvDefault = 0, kvNetscape = 1, kvActiveX = 2 };
const TEnumInfo& kvPluginInfo();

// Handlers get the driver (never the component) as sender. Rectangles are in
// buffer coordinates, right and bottom exclusive.
using TkvFSCommandEvent = TEvent<TObject*, const WideString&, const WideString&>;
using TkvFlashCallEvent = TEvent<TObject*, const WideString&>;
using TkvEraseBackgroundEvent = TEvent<TObject*, const TRect&>;
using TkvPaintEvent = TEvent<TObject*, const TRect&>;

// The movie-control operations shared by the driver and the three player
// components. It has no identifier and no reference counting of its own: it is
// obtained by converting a pointer to an implementing object, and lives as long
// as that object.
class IkvFlash {
public:
    virtual void LoadMovie(const WideString& Movie) = 0;
    virtual void LoadMovieFromStream(TStream* Stream) = 0;
    virtual WideString GetVariable(const WideString& Name) = 0;
    virtual void SetVariable(const WideString& Name, const WideString& Value) = 0;
    virtual WideString CallFunction(const WideString& Request) = 0;
    virtual void SetReturnValue(const WideString& Value) = 0;
    virtual void Play() = 0;
    virtual void StopPlay() = 0;
    virtual void Rewind() = 0;
    virtual void Forward() = 0;
    virtual void Back() = 0;
    virtual bool GetLoop() = 0;
    virtual bool GetIsPlaying() = 0;
    virtual int GetCurrentFrame() = 0;
    virtual int GetTotalFrames() = 0;
    virtual void SetLoop(bool Value) = 0;
    virtual void SetCurrentFrame(int Value) = 0;

protected:
    ~IkvFlash() = default;
};

class TkvFlashDriver;
class TkvDriverBusy;

// A class reference for drivers: the virtual constructor and the class
// function PluginExists of a driver class (see docs/object-model.md).
class TkvFlashDriverClass {
public:
    virtual ~TkvFlashDriverClass() = default;
    // A new driver, fully constructed (the back-end's Construct has run).
    virtual TkvFlashDriver* Create(int Width, int Height, std::uint32_t Background) const = 0;
    // Whether this class's Flash Player is available in this process.
    virtual bool PluginExists() const = 0;
    virtual const wchar_t* ClassName() const = 0;
};

template <class D>
class TkvDriverClassOf final : public TkvFlashDriverClass {
public:
    explicit TkvDriverClassOf(const wchar_t* name) : name_(name) {}
    TkvFlashDriver* Create(int Width, int Height, std::uint32_t Background) const override
    {
        D* driver = new D();
        try {
            driver->Construct(Width, Height, Background);
        } catch (...) {
            delete driver;
            throw;
        }
        return driver;
    }
    bool PluginExists() const override { return D::PluginExists(); }
    const wchar_t* ClassName() const override { return name_; }

private:
    const wchar_t* name_;
};

// ---------------------------------------------------------------------------
// TkvFlashDriver: the driver base, and the back-end used when no Flash Player
// is installed (it shows the background only).
// ---------------------------------------------------------------------------
class TkvFlashDriver : public TComponent, public IkvFlash {
    KV_CLASS(TkvFlashDriver, TComponent)
public:
    // Drivers are made only through a class reference (ChangePlugin), which
    // constructs and then calls Construct.
    TkvFlashDriver();
    ~TkvFlashDriver() override;

    static const TkvFlashDriverClass& ClassRef();
    // The class reference of this object's actual class.
    virtual const TkvFlashDriverClass& DriverClass() const { return ClassRef(); }

    // --- fields, read and written by the components and the back-ends ------
    HDC BufferDC = nullptr;         // memory DC with the primary buffer selected
    HBITMAP BufferBitmap = nullptr; // DIB section of the primary buffer
    HDC WhiteDC = nullptr;          // memory DC of the secondary buffer (drawn over white)
    HBITMAP WhiteBitmap = nullptr;
    BITMAPINFO BitmapInfo{};        // describes both DIB sections
    int Width = 0;                  // at least 1 once sized
    int Height = 0;
    void* Bits = nullptr;           // pixels of the primary buffer, 0xAARRGGBB, top-down
    void* WhiteBits = nullptr;      // pixels of the secondary buffer; nullptr when there is none
    TControl* Control = nullptr;    // host control, not owned; nullptr for the off-screen component
    bool ShowUpdateRects = false;
    bool DisableFlashCursor = false;
    bool DisableFlashMenu = true;
    std::uint32_t Background = 0;   // 0xAARRGGBB; alpha 0 means a transparent background
    WideString CurrentMovie;        // written by the back-ends only
    bool IsVideo = false;           // written by the back-ends only
    WideString Skin = L"ClearOverAll";
    int Volume = 50;
    bool Pause = false;
    TkvPaintEvent OnPaint;
    TkvEraseBackgroundEvent OnEraseBackground;
    TkvFSCommandEvent OnFSCommand;
    TkvFlashCallEvent OnFlashCall;

    // --- virtual operations, in their order ---------------------------------
    virtual void CreateBuffer();
    virtual void FreeBuffer();
    virtual void ResizeBuffer() {}
    virtual void SetBackground(std::uint32_t Value);
    // The second phase of construction: back-ends override it, run the base's
    // first, then start their player.
    virtual void Construct(int AWidth, int AHeight, std::uint32_t ABackground);
    virtual void ForceUpdate() {}
    static bool PluginExists() { return false; }
    virtual void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
    virtual void MouseMove(TShiftState Shift, int X, int Y);
    virtual void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
    virtual void MouseWheel(TShiftState Shift, int X, int Y, int WheelDelta, bool& Handled);
    virtual void KeyDown(std::uint16_t& Key, TShiftState Shift);
    virtual void KeyPress(wchar_t& Key, TShiftState Shift);
    virtual void KeyUp(std::uint16_t& Key, TShiftState Shift);
    void LoadMovie(const WideString& Movie) override;
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

    // --- non-virtual operations ---------------------------------------------
    void Resize(int AWidth, int AHeight);
    void DrawUpdateRect(const TRect& R);
    HWND GetParentHandle() const;
    TPoint GetParentOffset() const;
    void DoFSCommand(const WideString& command, const WideString& args);
    void DoFlashCall(const WideString& request);
    void SetPause(bool Value);
    void SetVolume(int Value);

    // --- the paint -------------------------------------------------------------
    // A back-end's part of a paint: whether its player is there to draw, and
    // drawing the player into a buffer's DC, clipped to a rectangle.
    class IkvDrawStep {
    public:
        virtual bool CanDraw() = 0;
        virtual void DrawInto(HDC DC, const RECT& Clip) = 0;

    protected:
        ~IkvDrawStep() = default;
    };
    // Repaints Rect of the buffer through the back-end's draw step and reports
    // it (see docs/internals.md): opaque, over the erased background; with a
    // transparent background, over black and over white with the alpha
    // recovered from the two. An invalidation that arrives while a paint runs
    // only widens it: the running paint draws that too before it reports.
    void PaintRect(const RECT& Rect, IkvDrawStep& Step);
    template <class C, class D>
    void PaintRect(const RECT& Rect, C&& Can, D&& Draw)
    {
        struct Step final : IkvDrawStep {
            C& can;
            D& draw;
            Step(C& c, D& d) : can(c), draw(d) {}
            bool CanDraw() override { return can(); }
            void DrawInto(HDC DC, const RECT& Clip) override { draw(DC, Clip); }
        } step(Can, Draw);
        PaintRect(Rect, static_cast<IkvDrawStep&>(step));
    }
    // Inside PaintRect, before its report.
    bool IsPainting() const { return painting_; }

    // --- lifetime across calls from the player -------------------------------
    // The player calls back into the driver (and through it into application
    // handlers) from inside the driver's own calls into the player. A handler
    // may replace the driver then (by changing a component's Plugin); the
    // driver must outlive the call it is in. Back-ends hold a TkvDriverBusy
    // around every call into the player and every callback from it.
    bool IsBusy() const { return busy_ > 0; }

private:
    friend class TkvDriverBusy;
    friend void FreeFlashDriver(TkvFlashDriver*& Driver, bool OwnerGoing);
    friend void FreeReleasedDrivers();
    kv::DibSection primary_;  // what BufferDC, BufferBitmap and Bits name
    kv::DibSection white_;    // what WhiteDC, WhiteBitmap and WhiteBits name
    // One pass of PaintRect; false when the paint must stop (the driver was
    // released, or its buffer or its player went during a handler or a draw).
    bool PaintPass(const RECT& R, IkvDrawStep& Step, const TkvDriverBusy& Busy);
    int busy_ = 0;
    bool freePending_ = false;
    bool ownerGone_ = false;  // released because its component is being destroyed
    bool painting_ = false;
    RECT pendingPaint_{};  // asked for while a paint ran; empty when none
};

// Marks a driver as inside a call from or to its player for its lifetime. A
// driver released meanwhile (FreeFlashDriver) is destroyed after the outermost
// guard ends, from the message loop.
class TkvDriverBusy {
public:
    explicit TkvDriverBusy(TkvFlashDriver* driver) : driver_(driver) { ++driver_->busy_; }
    ~TkvDriverBusy();
    TkvDriverBusy(const TkvDriverBusy&) = delete;
    TkvDriverBusy& operator=(const TkvDriverBusy&) = delete;
    // The driver was released while this guard held it: stop using it.
    bool Released() const { return driver_->freePending_; }
    // The driver was released because its component is being destroyed (an
    // application handler freed it): stop using the component too.
    bool OwnerGone() const { return driver_->ownerGone_; }

private:
    TkvFlashDriver* driver_;
};

// Frees a driver and clears the variable. A driver that is inside a call from
// its player is detached from its host and hooks at once and destroyed from
// the message loop once every call has returned. A component's destructor
// passes OwnerGoing, so the component's own calls still on the stack learn
// that it went (TkvDriverBusy::OwnerGone).
void FreeFlashDriver(TkvFlashDriver*& Driver, bool OwnerGoing = false);

// Runs Call(Driver) for a component with the driver held busy, for an
// operation during which the application's handlers run (a movie's first
// frame) and may free the component itself. False when they did: the caller
// then touches nothing of the component.
template <class F>
bool CallForComponent(TkvFlashDriver* Driver, F&& Call)
{
    TkvDriverBusy busy(Driver);
    Call(Driver);
    return !busy.OwnerGone();
}
// Destroys the released drivers whose calls have all returned (the message
// loop does this by itself; package stop does it for the last ones).
void FreeReleasedDrivers();
// Package stop: the last released drivers, then the window that schedules them.
void DestroyReleaseWindow();

// The outcome of one call into the player (see CallPlayer).
template <class R>
struct TkvPlayerCall {
    bool Made = false;     // the entry was there and was called
    bool Survived = true;  // the driver was not released during the call
    R Result{};            // the entry's answer; the caller's "absent" value when not made
};
template <>
struct TkvPlayerCall<void> {
    bool Made = false;
    bool Survived = true;
};

// One call into the player through an entry of its table (Entry may be
// absent: nothing is called then, and Absent is the answer). The driver is
// held busy for the call, so a handler that releases it from inside (the
// player calls back into the package, and the package into the
// application) leaves it in one piece; Survived says whether the caller may
// go on using it.
template <class R, class F, class... A>
TkvPlayerCall<R> CallPlayer(TkvFlashDriver* Driver, F* Entry, R Absent, A&&... Args)
{
    TkvPlayerCall<R> call;
    call.Result = Absent;
    if (!Entry)
        return call;
    TkvDriverBusy busy(Driver);
    call.Made = true;
    call.Result = static_cast<R>(Entry(std::forward<A>(Args)...));
    call.Survived = !busy.Released();
    return call;
}
template <class F, class... A>
TkvPlayerCall<void> CallPlayerVoid(TkvFlashDriver* Driver, F* Entry, A&&... Args)
{
    TkvPlayerCall<void> call;
    if (!Entry)
        return call;
    TkvDriverBusy busy(Driver);
    call.Made = true;
    Entry(std::forward<A>(Args)...);
    call.Survived = !busy.Released();
    return call;
}

// The same for a call that is not an entry of a table (a method of one of the
// player's COM interfaces): Call runs with the driver held busy, and the
// caller has checked the interface is there.
template <class F>
auto CallPlayerWith(TkvFlashDriver* Driver, F&& Call) -> TkvPlayerCall<decltype(Call())>
{
    TkvPlayerCall<decltype(Call())> call;
    TkvDriverBusy busy(Driver);
    call.Made = true;
    call.Result = Call();
    call.Survived = !busy.Released();
    return call;
}
