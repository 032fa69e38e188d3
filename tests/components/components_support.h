// Shared by the component tests: movies, a driver class that records the keys
// and presses it gets, a recorder for layered-window updates, forms, pixels.
// The programs run beside the reference plug-in library (npswf32.dll); the
// package is started by ns_support.cpp.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "ax_support.h"
#include "kv_layer.h"
#include "ns_support.h"

namespace comptest {

using namespace nstest;
using axtest::kBothBackEnds;
using axtest::BackEndName;

// 100 x 100: a button over (20, 20)-(80, 80) whose release sends the
// FSCommand "clicked" / "button", and an input field over (10, 90)-(85, 98)
// bound to the variable "typed".
std::vector<std::uint8_t> InputMovie();

// Records KeyDown, KeyPress, MouseDown and LoadMovie as text; KeyDown may
// change its key.
class TInputRecorder : public TkvFlashDriver {
public:
    static bool PluginExists() { return true; }
    static const TkvFlashDriverClass& ClassRef();
    const TkvFlashDriverClass& DriverClass() const override { return ClassRef(); }
    static inline std::vector<std::wstring> Log;
    static inline std::uint16_t KeyDownBecomes = 0;  // 0: leave the key alone
    void KeyDown(std::uint16_t& Key, TShiftState Shift) override;
    void KeyPress(wchar_t& Key, TShiftState Shift) override;
    void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
    void LoadMovie(const WideString& Movie) override { Log.push_back(L"LoadMovie " + Movie); }
};

// For its lifetime, new components get the recording driver for kvDefault,
// or, with noPlayer, the base driver (no Flash Player at all).
class DriverScope {
public:
    explicit DriverScope(bool noPlayer = false);
    ~DriverScope();

private:
    const TkvFlashDriverClass* saved_[3];
};

// One call of UpdateLayeredWindow with a copy of the picture handed over.
struct LayerCall {
    HWND Window = nullptr;
    POINT Destination{-1, -1};
    SIZE Size{};
    BLENDFUNCTION Blend{};
    DWORD Flags = 0;
    std::vector<std::uint32_t> Picture;  // Size.cx x Size.cy, top-down
    std::uint32_t At(int x, int y) const { return Picture[static_cast<size_t>(y) * Size.cx + x]; }
};

// Puts a recorder (which then calls the system's function) in place of
// UpdateLayeredWindowProc for its lifetime.
class LayerRecorder {
public:
    LayerRecorder();
    ~LayerRecorder();
    std::vector<LayerCall>& Calls();
};

struct Deleter {
    void operator()(TObject* o) const { Free(o); }
};
template <class T>
using Owned = std::unique_ptr<T, Deleter>;

// A top-level form with the given client size at (x, y), not yet shown.
Owned<TForm> NewForm(int clientW, int clientH, TFormBorderStyle border = bsSizeable, int x = 40, int y = 40);
// A pixel of a window's client area as the window shows it.
COLORREF WindowPixel(HWND wnd, int x, int y);
// Whether the back-end's player logged the window message with that wParam
// (a key or a character) as received.
bool LogHasEvent(TkvPlugin backEnd, const std::string& log, unsigned event, std::uintptr_t wParam);

// The base of a case that runs on each back-end (the test's parameter): a
// component is put on it with Use, and the case reads that player's log and
// steps its clock.
class BothBackEnds : public BackEndCase, public ::testing::WithParamInterface<TkvPlugin> {
protected:
    TkvPlugin backEnd() const { return GetParam(); }
    bool activeX() const { return GetParam() == kvActiveX; }
    std::string Log() const { return axtest::LogOf(GetParam()); }
    void ClearLog() const { axtest::ClearLogOf(GetParam()); }
    void Steps(int frames = 1) const { axtest::StepOn(GetParam(), frames); }
    // Puts the component on this case's back-end; it fails the case unless
    // the component then has that back-end's driver.
    template <class C>
    C* Use(C* c) const
    {
        c->SetPlugin(GetParam());
        axtest::UseControlClock();
        EXPECT_STREQ(c->Driver->DriverClass().ClassName(), axtest::DriverClassOf(GetParam()));
        return c;
    }
};

}  // namespace comptest
