// Shared by the tests that play movies through the Netscape back-end and the
// reference player's plug-in library (npswf32.dll beside the test program).
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <source_location>
#include <string>
#include <string_view>
#include <vector>

#include "framework/framework.h"
#include "kv_driver_netscape.h"
#include "kv_flashplayer.h"
#include "npapi/npapi.h"
#include "swfwriter/swf_writer.h"

namespace nstest {

namespace sw = refplayer::swfwriter;

// The reference player's test seams, resolved from the loaded plug-in library.
struct Seams {
    int (*StepFrames)(NPP, int) = nullptr;
    void (*SetManualClock)(int) = nullptr;
    void (*EnableLog)(int) = nullptr;
    void (*ClearLog)() = nullptr;
    int (*ReadLog)(char*, int) = nullptr;
    int (*InstanceCount)() = nullptr;
    int (*ObjectCount)() = nullptr;
    void (*CollectGarbage)() = nullptr;
    bool Loaded() const { return StepFrames != nullptr; }
};
const Seams& Player();
std::string PlayerLog();
// The index of the first line of `log` holding every one of `parts`, or -1.
int LineOf(const std::string& log, std::initializer_list<std::string_view> parts);
// How many lines of `log` hold every one of `parts`.
int CountLines(const std::string& log, std::initializer_list<std::string_view> parts);

// The calls of a player's call log, in order: the lines a host received
// ("< ") or made ("> "); notes ("# ") are not calls.
std::vector<std::string> Calls(const std::string& log);

// Fails, at the caller's line, unless the calls of `slice` are exactly
// `expected`, in order: each expected entry starts its call's line. Calls that
// start with one of `ignored` are left out first (the ones whose order does not
// matter to the step under test, such as queries). The message names the
// first call that is missing, out of order or extra, and lists both sides.
void ExpectSequence(const std::string& slice, const std::vector<std::string_view>& expected,
                    const std::vector<std::string_view>& ignored = {},
                    std::source_location where = std::source_location::current());

// The package's own counts of what it handed out, taken before a case.
struct Baseline {
    int memBlocks = 0;              // browser memory blocks
    int siteReferences = 0;         // references controls hold on site objects
    int pageObjectReferences = 0;   // references the plug-in holds on page objects
    static Baseline Now();
};

// Fails unless nothing a case played is left: no plug-in instance or
// scriptable object, no live control nor any other object of the control's
// module, no ActiveX driver counted by the control description, the
// references on the site objects the ActiveX drivers handed their controls
// and on the page objects handed to the plug-in back to `before`, browser
// memory back to `before`, no download, failure notice or stream copy still
// held by the package.
void ExpectNothingLeft(const Baseline& before);

// The base of the cases that play through a back-end. Every case ends by
// freeing its forms (a fixture that holds one frees it in its own TearDown
// before calling this one), handling the messages that brings, and checking
// that nothing is left (ExpectNothingLeft).
class BackEndCase : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

private:
    Baseline before_;
};

// Steps every live plug-in instance n frames, then handles waiting messages.
void Step(int frames = 1);
void Pump();

// A 100 x 100 movie at 12 frames per second on a white stage: a `colour`
// rectangle (0xRRGGBB, alpha `alpha`) from (20, 20) to (80, 80), and whatever
// `frame0` adds to the first frame's actions.
std::vector<std::uint8_t> RectMovie(std::uint32_t colour, std::uint8_t alpha = 255,
                                    const sw::ActionAssembler& frame0 = sw::ActionAssembler(),
                                    sw::Compression compression = sw::Compression::None);

// A movie with a button over (20, 20)-(80, 80) that sends an FSCommand when
// clicked, and an input text field over (10, 85)-(90, 98) bound to "typed".
std::vector<std::uint8_t> TextFieldMovie();

// A 100 x 100 movie of `frames` frames at 12 per second that plays and loops:
// a still square from (20, 20) to (80, 80), colour 0x2080C0, and a small one
// below it that moves a pixel to the right every frame.
std::vector<std::uint8_t> FramesMovie(int frames);

// The player's checksum of a body (FNV-1a, 8 upper-case hex digits), as its
// log gives it for what it received.
std::string Checksum(const std::vector<std::uint8_t>& bytes);

// Each stream the log shows the player receiving, by its request's notify
// cookie: the bytes it took (an NPP_Write counts what the player took of it),
// whether every write started where the last one's taken bytes ended, and
// where its NPP_URLNotify and NPP_DestroyStream come (-1: never).
struct StreamSeen {
    std::string url;
    std::string notify;
    std::int64_t taken = 0;
    bool contiguous = true;
    int notifyLine = -1;
    int destroyLine = -1;
};
std::vector<StreamSeen> StreamsSeen(const std::string& log);

// A value of the reference plug-in's settings key for this program (see
// host_config.h), taken back when the object goes. The instances made
// meanwhile read it.
class PlayerSetting {
public:
    PlayerSetting(const wchar_t* name, DWORD value, const wchar_t* subkey = nullptr);
    ~PlayerSetting();
    PlayerSetting(const PlayerSetting&) = delete;
    PlayerSetting& operator=(const PlayerSetting&) = delete;

private:
    std::wstring key_, name_;
};

// While it lives, closes the plug-in's context menu from inside the menu's
// own loop (a thread timer, which the loop dispatches) once `ready` answers
// true, or after `limitMs` whatever it answers.
class MenuCloser {
public:
    explicit MenuCloser(std::function<bool()> ready = {}, DWORD limitMs = 5000);
    ~MenuCloser();
    MenuCloser(const MenuCloser&) = delete;
    MenuCloser& operator=(const MenuCloser&) = delete;
    // The menu was closed because the limit passed, not because `ready` said so.
    bool TimedOut() const { return timedOut_; }

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) noexcept;
    std::function<bool()> ready_;
    DWORD start_, limit_;
    UINT_PTR timer_ = 0;
    bool timedOut_ = false;
};

// Files in a fresh folder of the test's own.
std::wstring TempFolder();
std::wstring WriteFile(const std::wstring& name, const std::vector<std::uint8_t>& bytes);

// Buffer pixel of a driver.
std::uint32_t Pixel(TkvFlashDriver* d, int x, int y);

struct FormDeleter {
    void operator()(TObject* o) const { Free(o); }
};

// A shown form holding an opaque player of 100 x 100 at (10, 10).
class TPlayerForm : public TForm {
public:
    explicit TPlayerForm(TComponent* owner);
    TkvFlashPlayer* Player = nullptr;
};
std::unique_ptr<TPlayerForm, FormDeleter> NewPlayerForm(TColor playerColour = static_cast<TColor>(0x00404040));

}  // namespace nstest
