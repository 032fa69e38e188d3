// Every call the package makes into the player, failed on purpose, one at a
// time, through each component and both back-ends. For each row of the table
// below the reference player is told (through its settings key) to fail that
// call, and a component loads a movie, plays it, is driven, scripted, fed
// input and a stream, resized, and has its player replaced; then the failure
// is taken away and the same component must load and show a movie, and once
// it is freed nothing of either player may be left. The player's call log
// must show that the failure fired.
//
// The table is checked against what the package really calls: a run without
// failures logs every call the player received, and each must have a row, so
// a call the drivers start making is not forgotten here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <type_traits>

#include "ax_support.h"
#include "host_config.h"
#include "kv_driver_netscape.h"
#include "kv_layer.h"
#include "npapi/npapi.h"

using namespace axtest;
using namespace nstest;

namespace {

const wchar_t kPluginKey[] = L"Software\\KorvelRef\\Plugin";
const wchar_t kControlKey[] = L"Software\\KorvelRef\\Control";

struct Deleter {
    void operator()(TObject* o) const { Free(o); }
};
template <class T>
using Owned = std::unique_ptr<T, Deleter>;

// How a call is made to fail.
enum class Form {
    Error,    // the call answers an error (Fail\<name>)
    NullOut,  // success, with nothing behind its out-pointer (NullOut\<name>)
    None,     // the call answers nothing: there is no failure to give it
};

// What the package must make of a failure.
enum class Expect {
    Quiet,         // nothing reaches the application: a no-op or a dropped request
    Raises,        // an OLE error raised to the caller of the movie operation that failed
    RaisesOrQuiet, // an OLE error raised to the caller of a movie operation, or nothing
    HandlerReports,// the failing call is made by an application handler: its error goes to HandleException
    StartRefused,  // the player does not start: the base driver, the error to Application->HandleException
};

struct Row {
    TkvPlugin backEnd;
    const char* call;  // the name the player's failure table knows
    Form form;
    DWORD value;       // Fail: the answer; NullOut: on
    Expect expect;
    bool restart = false;  // a call of the plug-in library's start or stop
};

constexpr DWORD kEFail = static_cast<DWORD>(E_FAIL);
constexpr DWORD kNpErr = NPERR_GENERIC_ERROR;
constexpr DWORD kMinusOne = static_cast<DWORD>(-1);

#define NS kvNetscape
#define AX kvActiveX
// clang-format off
const Row kRows[] = {
    // The plug-in library's start and stop, and its table.
    {NS, "NP_GetEntryPoints", Form::Error, kNpErr, Expect::Quiet, true},
    {NS, "NP_Initialize", Form::Error, kNpErr, Expect::Quiet, true},
    {NS, "NP_Shutdown", Form::Error, kNpErr, Expect::Quiet, true},
    {NS, "Flash_DisableLocalSecurity", Form::None, 0, Expect::Quiet, true},
    {NS, "NPP_New", Form::Error, kNpErr, Expect::Quiet},
    {NS, "NPP_GetValue", Form::Error, kNpErr, Expect::Quiet},
    {NS, "NPP_GetValue", Form::NullOut, 1, Expect::Quiet},
    {NS, "NPP_SetWindow", Form::Error, kNpErr, Expect::Quiet},
    {NS, "NPP_HandleEvent", Form::Error, 0, Expect::Quiet},
    {NS, "NPP_NewStream", Form::Error, kNpErr, Expect::Quiet},
    {NS, "NPP_WriteReady", Form::Error, kMinusOne, Expect::Quiet},
    {NS, "NPP_WriteReady", Form::Error, 0, Expect::Quiet},
    {NS, "NPP_Write", Form::Error, kMinusOne, Expect::Quiet},
    {NS, "NPP_DestroyStream", Form::Error, kNpErr, Expect::Quiet},
    {NS, "NPP_URLNotify", Form::None, 0, Expect::Quiet},
    {NS, "NPP_Destroy", Form::Error, kNpErr, Expect::Quiet},
    // The scriptable object's methods and property.
    {NS, "LoadMovie", Form::Error, 1, Expect::Quiet},
    {NS, "Play", Form::Error, 1, Expect::Quiet},
    {NS, "StopPlay", Form::Error, 1, Expect::Quiet},
    {NS, "Rewind", Form::Error, 1, Expect::Quiet},
    {NS, "Forward", Form::Error, 1, Expect::Quiet},
    {NS, "Back", Form::Error, 1, Expect::Quiet},
    {NS, "GotoFrame", Form::Error, 1, Expect::Quiet},
    {NS, "SetVariable", Form::Error, 1, Expect::Quiet},
    {NS, "GetVariable", Form::Error, 1, Expect::Quiet},
    {NS, "GetVariable", Form::NullOut, 1, Expect::Quiet},
    {NS, "CallFunction", Form::Error, 1, Expect::Quiet},
    {NS, "CallFunction", Form::NullOut, 1, Expect::Quiet},
    {NS, "IsPlaying", Form::Error, 1, Expect::Quiet},
    {NS, "IsPlaying", Form::NullOut, 1, Expect::Quiet},
    {NS, "GetLoop", Form::Error, 1, Expect::Quiet},
    {NS, "GetLoop", Form::NullOut, 1, Expect::Quiet},
    {NS, "CurrentFrame", Form::Error, 1, Expect::Quiet},
    {NS, "CurrentFrame", Form::NullOut, 1, Expect::Quiet},
    {NS, "TotalFrames", Form::Error, 1, Expect::Quiet},
    {NS, "TotalFrames", Form::NullOut, 1, Expect::Quiet},
    {NS, "Loop", Form::Error, 1, Expect::Quiet},
    // The control: its creation, start, drawing, input, loading, commands and end.
    {AX, "CreateInstance", Form::Error, kEFail, Expect::Quiet},
    {AX, "GetMiscStatus", Form::Error, kEFail, Expect::StartRefused},
    {AX, "GetMiscStatus", Form::NullOut, 1, Expect::Quiet},
    {AX, "SetClientSite", Form::Error, kEFail, Expect::StartRefused},
    {AX, "GetClientSite", Form::Error, kEFail, Expect::Quiet},
    {AX, "GetClientSite", Form::NullOut, 1, Expect::Quiet},
    {AX, "QueryInterface:IPersistStreamInit", Form::Error, kEFail, Expect::StartRefused},
    {AX, "QueryInterface:IPersistStreamInit", Form::NullOut, 1, Expect::StartRefused},
    {AX, "InitNew", Form::Error, kEFail, Expect::StartRefused},
    {AX, "QueryInterface:IOleControl", Form::Error, kEFail, Expect::StartRefused},
    {AX, "QueryInterface:IOleControl", Form::NullOut, 1, Expect::StartRefused},
    {AX, "OnAmbientPropertyChange", Form::Error, kEFail, Expect::Quiet},
    {AX, "QueryInterface:IDispatch", Form::Error, kEFail, Expect::StartRefused},
    {AX, "QueryInterface:IDispatch", Form::NullOut, 1, Expect::StartRefused},
    {AX, "QueryInterface:IkvFlashPlayer", Form::Error, kEFail, Expect::StartRefused},
    {AX, "QueryInterface:IkvFlashPlayer", Form::NullOut, 1, Expect::StartRefused},
    {AX, "QueryInterface:IPerPropertyBrowsing", Form::Error, kEFail, Expect::Quiet},
    {AX, "QueryInterface:IPerPropertyBrowsing", Form::NullOut, 1, Expect::Quiet},
    {AX, "QueryInterface:IConnectionPointContainer", Form::Error, kEFail, Expect::Quiet},
    {AX, "QueryInterface:IConnectionPointContainer", Form::NullOut, 1, Expect::Quiet},
    {AX, "FindConnectionPoint", Form::Error, kEFail, Expect::Quiet},
    {AX, "FindConnectionPoint", Form::NullOut, 1, Expect::Quiet},
    {AX, "Advise", Form::Error, kEFail, Expect::Quiet},
    {AX, "Advise", Form::NullOut, 1, Expect::Quiet},
    {AX, "put_WMode", Form::Error, kEFail, Expect::StartRefused},
    {AX, "DoVerb", Form::Error, kEFail, Expect::Quiet},
    {AX, "QueryInterface:IOleObject", Form::Error, kEFail, Expect::Quiet},
    {AX, "QueryInterface:IOleObject", Form::NullOut, 1, Expect::Quiet},
    {AX, "QueryInterface:IOleWindow", Form::Error, kEFail, Expect::Quiet},
    {AX, "QueryInterface:IOleWindow", Form::NullOut, 1, Expect::Quiet},
    {AX, "QueryInterface:IOleInPlaceObject", Form::Error, kEFail, Expect::Quiet},
    {AX, "QueryInterface:IOleInPlaceObject", Form::NullOut, 1, Expect::Quiet},
    {AX, "QueryInterface:IOleInPlaceObjectWindowless", Form::Error, kEFail, Expect::Quiet},
    {AX, "QueryInterface:IOleInPlaceObjectWindowless", Form::NullOut, 1, Expect::Quiet},
    {AX, "QueryInterface:IOleInPlaceActiveObject", Form::Error, kEFail, Expect::Quiet},
    {AX, "QueryInterface:IOleInPlaceActiveObject", Form::NullOut, 1, Expect::Quiet},
    {AX, "QueryInterface:IViewObject", Form::Error, kEFail, Expect::Quiet},
    {AX, "QueryInterface:IViewObject", Form::NullOut, 1, Expect::Quiet},
    {AX, "SetObjectRects", Form::Error, kEFail, Expect::Quiet},
    {AX, "FlashVersion", Form::Error, kEFail, Expect::StartRefused},
    {AX, "FlashVersion", Form::NullOut, 1, Expect::Quiet},
    {AX, "DisableLocalSecurity", Form::Error, kEFail, Expect::StartRefused},
    {AX, "Draw", Form::Error, kEFail, Expect::Quiet},
    {AX, "OnWindowMessage", Form::Error, kEFail, Expect::Quiet},
    {AX, "LoadMovie", Form::Error, kEFail, Expect::Raises},
    {AX, "OnStartBinding", Form::Error, kEFail, Expect::Quiet},
    {AX, "OnProgress", Form::Error, kEFail, Expect::Quiet},
    {AX, "OnDataAvailable", Form::Error, kEFail, Expect::RaisesOrQuiet},
    {AX, "OnStopBinding", Form::Error, kEFail, Expect::Quiet},
    {AX, "Play", Form::Error, kEFail, Expect::Raises},
    {AX, "StopPlay", Form::Error, kEFail, Expect::Raises},
    {AX, "Rewind", Form::Error, kEFail, Expect::Raises},
    {AX, "Forward", Form::Error, kEFail, Expect::Raises},
    {AX, "Back", Form::Error, kEFail, Expect::Raises},
    {AX, "put_FrameNum", Form::Error, kEFail, Expect::Raises},
    {AX, "CurrentFrame", Form::Error, kEFail, Expect::Raises},
    {AX, "CurrentFrame", Form::NullOut, 1, Expect::Quiet},
    {AX, "get_TotalFrames", Form::Error, kEFail, Expect::Raises},
    {AX, "get_TotalFrames", Form::NullOut, 1, Expect::Quiet},
    {AX, "IsPlaying", Form::Error, kEFail, Expect::Raises},
    {AX, "IsPlaying", Form::NullOut, 1, Expect::Quiet},
    {AX, "put_Loop", Form::Error, kEFail, Expect::Raises},
    {AX, "get_Loop", Form::Error, kEFail, Expect::Raises},
    {AX, "get_Loop", Form::NullOut, 1, Expect::Quiet},
    {AX, "SetVariable", Form::Error, kEFail, Expect::Raises},
    {AX, "GetVariable", Form::Error, kEFail, Expect::Raises},
    {AX, "GetVariable", Form::NullOut, 1, Expect::Quiet},
    {AX, "CallFunction", Form::Error, kEFail, Expect::Raises},
    {AX, "CallFunction", Form::NullOut, 1, Expect::Quiet},
    {AX, "SetReturnValue", Form::Error, kEFail, Expect::HandlerReports},
    {AX, "Invoke", Form::Error, kEFail, Expect::StartRefused},
    {AX, "Invoke", Form::NullOut, 1, Expect::Quiet},
    {AX, "Unadvise", Form::Error, kEFail, Expect::Quiet},
    {AX, "Close", Form::Error, kEFail, Expect::Quiet},
};
// clang-format on
#undef NS
#undef AX

std::string FormText(const Row& r)
{
    switch (r.form) {
    case Form::None:
        return "none (answers nothing)";
    case Form::NullOut:
        return r.call == std::string("NPP_GetValue") ? "success, null pointer" : "success, no result";
    case Form::Error:
        break;
    }
    char text[32];
    if (r.backEnd == kvActiveX)
        std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(r.value));
    else if (std::string(r.call).rfind("NP", 0) == 0)
        std::snprintf(text, sizeof text, "%ld", static_cast<long>(static_cast<LONG>(r.value)));
    else
        std::snprintf(text, sizeof text, "false");
    return text;
}

// The four components, the parameter of the sweep's inner loop.
enum class Kind { Graphic, Windowed, OffScreen, Layer };
constexpr Kind kKinds[] = {Kind::Graphic, Kind::Windowed, Kind::OffScreen, Kind::Layer};
const char* KindName(Kind k)
{
    switch (k) {
    case Kind::Graphic:
        return "TkvFlashPlayer";
    case Kind::Windowed:
        return "TkvFlashPlayerWnd";
    case Kind::OffScreen:
        return "TkvFlashPlayerComp";
    case Kind::Layer:
        break;
    }
    return "TkvFlashLayer";
}

// The control's probe runs once per process, before any failure is set (a
// run that died left its failures behind: they go first).
void ProbeOnce()
{
    static const bool once = [] {
        for (const wchar_t* key : {kPluginKey, kControlKey})
            for (const wchar_t* sub : {L"\\Fail", L"\\NullOut"})
                RegDeleteTreeW(HKEY_CURRENT_USER, (std::wstring(key) + sub).c_str());
        CheckFlashPlugins();
        if (Control().Loaded()) {
            Control().SetManualClock(1);
            Control().EnableLog(1);
        }
        return true;
    }();
    (void)once;
    ASSERT_TRUE(Control().Loaded()) << "the reference control is not registered in this prefix";
}

// Sets one value of the player's settings for this program while it lives.
class Injected {
public:
    explicit Injected(const Row& r)
        : key_(r.backEnd == kvActiveX ? kControlKey : kPluginKey),
          subkey_(key_ + (r.form == Form::NullOut ? L"\\NullOut" : L"\\Fail")),
          name_(Utf8ToWide(r.call))
    {
        refhost::claimConfig(key_.c_str());
        if (r.form != Form::None)
            RegSetKeyValueW(HKEY_CURRENT_USER, subkey_.c_str(), name_.c_str(), REG_DWORD, &r.value, sizeof r.value);
    }
    ~Injected() { Remove(); }
    Injected(const Injected&) = delete;
    Injected& operator=(const Injected&) = delete;
    void Remove() { RegDeleteKeyValueW(HKEY_CURRENT_USER, subkey_.c_str(), name_.c_str()); }

private:
    std::wstring key_, subkey_, name_;
};

// What one run through a component came to.
struct Outcome {
    std::vector<std::string> raised;  // the operations that raised an OLE error to their caller
    std::vector<HRESULT> codes;
    std::string otherErrors;          // anything raised that is not an OLE error
    int reported = 0;                 // errors handed to Application->HandleException
    bool baseDriver = false;          // the component fell back to the base driver
    bool shown = false;               // the movie's picture reached the buffer
    bool anyRaised() const { return !raised.empty(); }
};

std::string Describe(const Outcome& o)
{
    std::string s;
    if (o.baseDriver)
        s = "player not started: base driver";
    if (o.reported)
        s += std::string(s.empty() ? "" : ", ") + "error reported to the application";
    if (o.anyRaised()) {
        std::set<std::string> ops(o.raised.begin(), o.raised.end());
        std::string list;
        for (const auto& op : ops)
            list += (list.empty() ? "" : " ") + op;
        s += std::string(s.empty() ? "" : "; ") + "OLE error raised by " + list;
    }
    if (s.empty())
        s = "no-op";
    s += o.shown ? "; movie shown" : "; no picture";
    return s;
}

// Handler errors while it lives.
struct CaughtErrors {
    Outcome& out;
    explicit CaughtErrors(Outcome& o) : out(o)
    {
        Application->OnException = TExceptionEvent([this](TObject*, const std::exception&) { ++out.reported; });
    }
    ~CaughtErrors() { Application->OnException = TExceptionEvent(); }
};

template <class F>
void Op(Outcome& o, const char* name, F&& f)
{
    try {
        f();
    } catch (const EOleSysError& e) {
        o.raised.push_back(name);
        o.codes.push_back(e.ErrorCode);
    } catch (const std::exception& e) {
        o.otherErrors += std::string(name) + ": " + e.what() + "; ";
    } catch (...) {
        o.otherErrors += std::string(name) + ": unknown exception; ";
    }
}

// A 100 x 100 movie with a `colour` square over (20, 20)-(80, 80) whose first
// frame sends an FSCommand, asks the container a question, sets a variable
// and offers a callback.
std::vector<std::uint8_t> SweepMovie(std::uint32_t colour)
{
    sw::ActionAssembler a;
    a.fscommand("hello", "world");
    a.setPath("answer", sw::Emitter([](sw::ActionAssembler& e) { e.externalCall("ask", {}, true); }));
    sw::ActionAssembler twice;
    twice.push({"x"}).getVariable().push({2.0}).multiply().return_();
    a.addCallback("twice", sw::PushValue(sw::Null{}),
                  sw::Emitter([&twice](sw::ActionAssembler& e) { e.defineFunction("", {"x"}, twice); }));
    return RectMovie(colour, 255, a);
}

constexpr std::uint32_t kFirst = 0xC02020, kSecond = 0x20A040;

const std::wstring& MoviePath(std::uint32_t colour)
{
    static std::map<std::uint32_t, std::wstring> paths;
    auto& p = paths[colour];
    if (p.empty()) {
        char name[32];
        std::snprintf(name, sizeof name, "sweep%06X.swf", colour);
        p = WriteFile(Utf8ToWide(name), SweepMovie(colour));
    }
    return p;
}

bool Shows(TkvFlashDriver* d, std::uint32_t colour)
{
    if (!d || !d->Bits || d->Width < 60 || d->Height < 60)
        return false;
    return (Pixel(d, 50, 50) & 0xFFFFFF) == colour;
}

Owned<TForm> NewShownForm()
{
    Owned<TForm> form(new TForm(nullptr));
    form->AfterConstruction();
    form->SetBorderStyle(bsNone);
    form->SetBounds(40, 40, 100, 100);
    form->Show();
    Pump();
    return form;
}

template <class C>
C* Place(TForm* form)
{
    C* c = new C(form);
    if constexpr (std::is_base_of_v<TControl, C>) {
        if constexpr (!std::is_base_of_v<TkvFlashLayer, C>)
            c->SetBounds(0, 0, 100, 100);
        c->SetParent(form);
    } else {
        c->SetWidth(100);
        c->SetHeight(100);
    }
    return c;
}

TkvPlugin Other(TkvPlugin b) { return b == kvActiveX ? kvNetscape : kvActiveX; }

void Settle(TkvPlugin backEnd, int frames = 2)
{
    UseControlClock();
    StepOn(backEnd, frames);
}

// Plays, drives and scripts a movie through `c` while a failure is in force,
// then replaces its player twice (the failing one is destroyed, a new one
// starts under the same failure).
template <class C>
void Exercise(C* c, TkvPlugin backEnd, Outcome& o)
{
    // Handlers assigned, so the movie's calls out reach the application.
    c->OnFSCommand = TkvFSCommandEvent([](TObject*, const WideString&, const WideString&) {});
    c->OnFlashCall = TkvFlashCallEvent([](TObject* sender, const WideString&) {
        static_cast<TkvFlashDriver*>(sender)->SetReturnValue(L"<string>heard</string>");
    });
    o.baseDriver = std::wstring(c->Driver->DriverClass().ClassName()) == L"TkvFlashDriver";
    Op(o, "LoadMovie", [&] { c->LoadMovie(MoviePath(kFirst)); });
    Settle(backEnd);
    o.shown = Shows(c->Driver, kFirst);
    Op(o, "Play", [&] { c->Play(); });
    Op(o, "StopPlay", [&] { c->StopPlay(); });
    Op(o, "Rewind", [&] { c->Rewind(); });
    Op(o, "Forward", [&] { c->Forward(); });
    Op(o, "Back", [&] { c->Back(); });
    Op(o, "SetCurrentFrame", [&] { c->SetCurrentFrame(0); });
    Op(o, "GetCurrentFrame", [&] { c->GetCurrentFrame(); });
    Op(o, "GetTotalFrames", [&] { c->GetTotalFrames(); });
    Op(o, "GetIsPlaying", [&] { c->GetIsPlaying(); });
    Op(o, "SetLoop", [&] { c->SetLoop(true); });
    Op(o, "GetLoop", [&] { c->GetLoop(); });
    Op(o, "SetVariable", [&] { c->SetVariable(L"v", L"1"); });
    Op(o, "GetVariable", [&] { c->GetVariable(L"v"); });
    Op(o, "CallFunction", [&] {
        c->CallFunction(L"<invoke name=\"twice\" returntype=\"xml\"><arguments><number>2</number></arguments>"
                        L"</invoke>");
    });
    if constexpr (std::is_same_v<C, TkvFlashPlayerComp>) {
        Op(o, "input", [&] {
            bool handled = false;
            c->CallMouseMove(TShiftState{}, 50, 50);
            c->CallMouseDown(mbLeft, TShiftState{ssLeft}, 50, 50);
            c->CallMouseUp(mbLeft, TShiftState{}, 50, 50);
            c->CallMouseWheel(TShiftState{}, 50, 50, 120, handled);
            std::uint16_t key = 'A';
            wchar_t ch = L'a';
            c->CallKeyDown(key, TShiftState{});
            c->CallKeyPress(ch, TShiftState{});
            key = 'A';
            c->CallKeyUp(key, TShiftState{});
        });
    }
    Settle(backEnd, 1);
    Op(o, "LoadMovieFromStream", [&] {
        const auto bytes = SweepMovie(kFirst);
        TMemoryStream s;
        s.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
        s.SetPosition(0);
        c->LoadMovieFromStream(&s);
    });
    Settle(backEnd);
    Op(o, "resize", [&] {
        if constexpr (std::is_base_of_v<TkvFlashLayer, C>)
            c->SetBounds(40, 40, 90, 90);
        else if constexpr (std::is_base_of_v<TControl, C>)
            c->SetBounds(0, 0, 90, 90);
        else
            c->SetWidth(90);
    });
    Settle(backEnd, 1);
    Op(o, "SetPlugin", [&] {
        c->SetPlugin(Other(backEnd));
        c->SetPlugin(backEnd);
    });
    Settle(backEnd, 1);
}

// The same component, the failure gone: it loads and shows a movie.
template <class C>
void ExpectRecovered(C* c, TkvPlugin backEnd)
{
    // A control reads its settings when it is made: a new one is asked for.
    // The plug-in reads them at each new instance, which every load makes.
    if (backEnd == kvActiveX || std::wstring(c->Driver->DriverClass().ClassName()) != DriverClassOf(backEnd)) {
        c->SetPlugin(Other(backEnd));
        c->SetPlugin(backEnd);
    }
    EXPECT_STREQ(c->Driver->DriverClass().ClassName(), DriverClassOf(backEnd));
    if constexpr (std::is_base_of_v<TControl, C> && !std::is_base_of_v<TkvFlashLayer, C>)
        c->SetBounds(0, 0, 100, 100);
    else if constexpr (std::is_base_of_v<TkvFlashLayer, C>)
        c->SetBounds(40, 40, 100, 100);
    else
        c->SetWidth(100);
    c->LoadMovie(MoviePath(kSecond));
    Settle(backEnd);
    EXPECT_TRUE(Shows(c->Driver, kSecond)) << "the component is left unusable\n" << LogOf(backEnd);
}

// How often the log notes the configured failure of `call`.
int Fired(const std::string& log, const Row& r)
{
    int n = 0;
    std::istringstream in(log);
    std::string line;
    const std::string name = r.call;
    while (std::getline(in, line)) {
        if (line.rfind("# ", 0) != 0 || line.find("as configured") == std::string::npos)
            continue;
        // "# NPP_New answers 1 ...", "# Play fails ...", "# set Loop fails ..."
        const std::string body = line.substr(2);
        if (body.rfind(name + " ", 0) == 0 || body.rfind("set " + name + " ", 0) == 0)
            ++n;
    }
    return n;
}

// Whether `call` of the row was made at all (a call that answers nothing has
// no failure to fire).
bool Made(const std::string& log, const Row& r)
{
    const std::string name = r.call;
    std::istringstream in(log);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("< " + name, 0) == 0)
            return true;
    return false;
}

struct TableLine {
    std::string backEnd, call, failure, component, outcome;
};
std::vector<TableLine>& Table()
{
    static std::vector<TableLine> t;
    return t;
}

template <class C>
void SweepOne(const Row& r, Kind kind)
{
    SCOPED_TRACE(std::string(r.call) + " " + FormText(r) + " through " + KindName(kind));
    const Baseline before = Baseline::Now();
    Outcome o;
    std::string log;
    {
        CaughtErrors errors(o);
        Owned<TForm> form = NewShownForm();
        ClearLogOf(r.backEnd);
        Injected failure(r);
        C* c = Place<C>(form.get());
        c->SetPlugin(r.backEnd);
        UseControlClock();
        Exercise(c, r.backEnd, o);
        log = LogOf(r.backEnd);
        failure.Remove();
        ExpectRecovered(c, r.backEnd);
        Free(c);
        form.reset();
        Pump();
    }
    ExpectNothingLeft(before);
    EXPECT_EQ(o.otherErrors, "") << "only OLE errors may reach the caller";
    if (r.form == Form::None)
        EXPECT_TRUE(Made(log, r)) << "the call was never made\n" << log;
    else
        EXPECT_GE(Fired(log, r), 1) << "the failure never fired\n" << log;
    for (HRESULT code : o.codes)
        EXPECT_EQ(static_cast<DWORD>(code), r.value) << "the player's own code reaches the caller";
    switch (r.expect) {
    case Expect::Quiet:
        EXPECT_FALSE(o.anyRaised()) << Describe(o);
        EXPECT_EQ(o.reported, 0) << Describe(o);
        break;
    case Expect::Raises:
        EXPECT_TRUE(o.anyRaised()) << Describe(o);
        EXPECT_EQ(o.reported, 0) << Describe(o);
        break;
    case Expect::RaisesOrQuiet:
        EXPECT_EQ(o.reported, 0) << Describe(o);
        break;
    case Expect::HandlerReports:
        EXPECT_FALSE(o.anyRaised()) << Describe(o);
        EXPECT_GE(o.reported, 1) << Describe(o);
        break;
    case Expect::StartRefused:
        EXPECT_TRUE(o.baseDriver) << Describe(o);
        EXPECT_GE(o.reported, 1) << Describe(o);
        break;
    }
    Table().push_back({r.backEnd == kvActiveX ? "ActiveX" : "Netscape", r.call, FormText(r), KindName(kind),
                       Describe(o)});
}

void SweepRow(const Row& r, Kind kind)
{
    switch (kind) {
    case Kind::Graphic:
        return SweepOne<TkvFlashPlayer>(r, kind);
    case Kind::Windowed:
        return SweepOne<TkvFlashPlayerWnd>(r, kind);
    case Kind::OffScreen:
        return SweepOne<TkvFlashPlayerComp>(r, kind);
    case Kind::Layer:
        return SweepOne<TkvFlashLayer>(r, kind);
    }
}

}  // namespace

class FailureSweep : public BackEndCase, public ::testing::WithParamInterface<TkvPlugin> {};

INSTANTIATE_TEST_SUITE_P(BothBackEnds, FailureSweep, ::testing::ValuesIn(kBothBackEnds), BackEndName);

// A run without failures through the off-screen player: every call the
// player receives has a row in the table.
TEST_P(FailureSweep, TheTableNamesEveryCallThePackageMakes)
{
    ProbeOnce();
    const TkvPlugin backEnd = GetParam();
    std::set<std::string> known;
    for (const Row& r : kRows)
        if (r.backEnd == backEnd)
            known.insert(r.call);
    std::string log;
    Outcome o;
    for (Kind kind : kKinds) {
        Owned<TForm> form = NewShownForm();
        ClearLogOf(backEnd);
        auto run = [&](auto* c) {
            c->SetPlugin(backEnd);
            UseControlClock();
            Exercise(c, backEnd, o);
            Free(c);
        };
        switch (kind) {
        case Kind::Graphic:
            run(Place<TkvFlashPlayer>(form.get()));
            break;
        case Kind::Windowed:
            run(Place<TkvFlashPlayerWnd>(form.get()));
            break;
        case Kind::OffScreen:
            run(Place<TkvFlashPlayerComp>(form.get()));
            break;
        case Kind::Layer:
            run(Place<TkvFlashLayer>(form.get()));
            break;
        }
        form.reset();
        Pump();
        log += LogOf(backEnd);
    }
    EXPECT_FALSE(o.anyRaised()) << Describe(o);
    EXPECT_EQ(o.otherErrors, "");
    EXPECT_TRUE(o.shown);
    std::set<std::string> missing, seen;
    int calls = 0;
    std::istringstream in(log);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("< ", 0) != 0)
            continue;
        std::string call = line.substr(2, line.find(' ', 2) == std::string::npos ? std::string::npos
                                                                                 : line.find(' ', 2) - 2);
        std::string name = call;
        if (call == "invoke" || call == "set" || call == "get") {
            const size_t from = line.find(' ', 2) + 1;
            name = line.substr(from, line.find(' ', from) - from);
        } else if (call == "QueryInterface") {
            name = "QueryInterface:" + line.substr(2 + call.size() + 1);
        } else if (const size_t point = line.find(" connection point."); point != std::string::npos) {
            const size_t from = point + 18;
            name = line.substr(from, line.find(' ', from) == std::string::npos ? std::string::npos
                                                                               : line.find(' ', from) - from);
        } else if (call.find('.') != std::string::npos) {
            name = call.substr(call.find('.') + 1);
        }
        if (name.rfind("RefPlayer_", 0) == 0 || name.rfind("RefControl_", 0) == 0 || call == "IUnknown.Release")
            continue;  // the tests' own seams; the last release is not a call that can fail
        ++calls;
        seen.insert(name);
        if (!known.count(name))
            missing.insert(name);
    }
    EXPECT_GT(calls, 50) << "the run made too few calls to say anything\n" << log;
    // And the other way: a row for a call the package never makes fails nothing.
    std::string unused;
    for (const Row& r : kRows)
        if (r.backEnd == backEnd && !r.restart && !seen.count(r.call))
            unused += std::string("  ") + r.call + "\n";
    EXPECT_EQ(unused, "") << "rows for calls the package does not make:\n" << unused;
    std::string list;
    for (const auto& m : missing)
        list += "  " + m + "\n";
    EXPECT_TRUE(missing.empty()) << "calls the package makes that the sweep does not fail:\n" << list;
}

namespace {

// A call of the plug-in library's start or stop: the back-end is stopped and
// started again around the failure, with no driver alive meanwhile. The
// library is held loaded by the test, so its seams and call log stay where
// they are while the back-end lets it go and takes it again.
void SweepRestart(const Row& r)
{
    SCOPED_TRACE(std::string(r.call) + " " + FormText(r) + " at the back-end's start and stop");
    static const HMODULE pin = LoadLibraryW(NetscapePluginLibraryPath().c_str());
    ASSERT_NE(pin, nullptr);
    const Baseline before = Baseline::Now();
    Outcome o;
    std::string log;
    {
        CaughtErrors errors(o);
        const PlayerSetting clock(L"ManualClock", 1), logged(L"Log", 1);
        Injected failure(r);
        kv_driver_netscape_Stop();
        Player().ClearLog();
        kv_driver_netscape_Start();
        {
            Owned<TForm> form = NewShownForm();
            auto* c = Place<TkvFlashPlayerComp>(form.get());
            c->SetPlugin(kvNetscape);
            Exercise(c, kvNetscape, o);
            Free(c);
        }
        Pump();
        kv_driver_netscape_Stop();
        log = PlayerLog();
        failure.Remove();
        kv_driver_netscape_Start();
        Player().SetManualClock(1);
        Player().EnableLog(1);
        Owned<TForm> form = NewShownForm();
        auto* c = Place<TkvFlashPlayerComp>(form.get());
        ExpectRecovered(c, kvNetscape);
        Free(c);
        form.reset();
        Pump();
    }
    ExpectNothingLeft(before);
    EXPECT_EQ(o.otherErrors, "");
    EXPECT_FALSE(o.anyRaised()) << Describe(o);
    EXPECT_EQ(o.reported, 0) << Describe(o);
    if (r.form == Form::None)
        EXPECT_TRUE(Made(log, r)) << "the call was never made\n" << log;
    else
        EXPECT_GE(Fired(log, r), 1) << "the failure never fired\n" << log;
    Table().push_back({"Netscape", r.call, FormText(r), "TkvFlashPlayerComp (back-end restarted)", Describe(o)});
}

// The table, one line per call and failure; the components that came to the
// same outcome share a line.
void PrintTable(TkvPlugin backEnd)
{
    const std::string name = backEnd == kvActiveX ? "ActiveX" : "Netscape";
    std::map<std::pair<std::string, std::string>, std::string> components;
    std::vector<std::pair<std::string, std::string>> order;
    for (const TableLine& t : Table()) {
        if (t.backEnd != name)
            continue;
        const auto key = std::make_pair("| " + t.call + " | " + t.failure + " | ", t.outcome);
        auto& list = components[key];
        if (list.empty())
            order.push_back(key);
        list += (list.empty() ? "" : ", ") + t.component;
    }
    std::printf("\nFailure sweep, %s back-end (call | failure | components | outcome):\n", name.c_str());
    for (const auto& key : order) {
        std::string who = components[key];
        if (std::count(who.begin(), who.end(), ',') == 3)
            who = "all four";
        std::printf("%s%s | %s |\n", key.first.c_str(), who.c_str(), key.second.c_str());
    }
    std::fflush(stdout);
}

}  // namespace

// Each call in turn, through each component: the failure fires, ends as
// documented, leaves nothing behind and leaves the component usable.
TEST_P(FailureSweep, EachCallFailedInTurnEndsAsDocumented)
{
    ProbeOnce();
    // KV_SWEEP_CALL=<name> sweeps that call alone (for looking into one).
    const char* only = std::getenv("KV_SWEEP_CALL");
    for (const Row& r : kRows) {
        if (r.backEnd != GetParam() || (only && *only && r.call != std::string(only)))
            continue;
        if (r.restart) {
            SweepRestart(r);
            continue;
        }
        for (Kind kind : kKinds)
            SweepRow(r, kind);
    }
    PrintTable(GetParam());
}
