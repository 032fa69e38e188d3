// Resources that must not grow with use: round trips between the application
// and a movie, and components made, loaded and freed again, on both back-ends
// through the reference players. Growth is measured between the middle and
// the end of each run, so what the first uses set up once (caches, the
// players' modules, the framework's classes) does not count.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <type_traits>

#include "ax_support.h"
#include "kv_layer.h"
#include "resource_meter.h"

using namespace axtest;
using namespace nstest;
using namespace leaktest;

namespace {

using sw::ActionAssembler;
using sw::Emitter;
using sw::PushValue;

constexpr int kRoundTrips = 1000;
constexpr int kCycles = 200;

// Growth allowed over the second half of a run. The heap figure covers what
// Wine's own message and window bookkeeping moves around between two
// measurements; a block of a few dozen bytes kept per round trip or per cycle
// exceeds it several times over.
constexpr Allowance kRoundTripAllowance{.HeapBytes = 8 * 1024, .GdiObjects = 0, .UserObjects = 0};
constexpr Allowance kCycleAllowance{.HeapBytes = 8 * 1024, .GdiObjects = 2, .UserObjects = 2};

struct Deleter {
    void operator()(TObject* o) const { Free(o); }
};
template <class T>
using Owned = std::unique_ptr<T, Deleter>;

const char* BackEndName(TkvPlugin plugin) { return plugin == kvActiveX ? "ActiveX" : "Netscape"; }

// Both back-ends are found once per process, before anything is measured.
void ProbeOnce()
{
    static const bool once = [] {
        CheckFlashPlugins();
        if (Control().Loaded()) {
            Control().SetManualClock(1);
            Control().EnableLog(0);
        }
        if (Player().Loaded())
            Player().EnableLog(0);  // the log would grow with every call
        return true;
    }();
    (void)once;
    ASSERT_TRUE(Control().Loaded()) << "the reference control is not registered in this prefix";
    ASSERT_TRUE(Player().Loaded());
    ASSERT_TRUE(Player().CollectGarbage && Control().CollectGarbage);
    ASSERT_NE(NetscapeDriverClass, nullptr);
    ASSERT_NE(ActiveXDriverClass, nullptr);
}

void StepBackEnd(TkvPlugin plugin)
{
    if (plugin == kvActiveX)
        StepControls(1);
    else
        Step(1);
}

// Drivers released from inside their own calls are freed from the message
// loop: empty it before measuring. The players' script collectors run then
// too; otherwise the objects every call into a movie leaves for the collector
// (hundreds of bytes a call, freed once some thousands have piled up) would
// hide a leak of our own.
ResourceUse Settle()
{
    Pump();
    FreeReleasedDrivers();
    Pump();
    Player().CollectGarbage();
    if (Control().Loaded())
        Control().CollectGarbage();
    return MeasureResources();
}

void ExpectFlat(const char* what, const ResourceUse& middle, const ResourceUse& end, const Allowance& allowed,
                double seconds)
{
    const std::string growth = Growth(middle, end);
    std::printf("%s: %s over the second half (%.1f s)\n", what, growth.c_str(), seconds);
    EXPECT_TRUE(WithinAllowance(middle, end, allowed))
        << what << ": " << growth << "; allowed: heap " << allowed.HeapBytes << " bytes, GDI " << allowed.GdiObjects
        << ", USER " << allowed.UserObjects;
}

// Each case runs on one back-end, which is also the default one, so a
// component makes exactly one driver of that kind.
class BackEndCase {
protected:
    void Enter(TkvPlugin plugin)
    {
        ProbeOnce();
        savedDefault_ = DefaultFlashDriverClass;
        DefaultFlashDriverClass = plugin == kvActiveX ? ActiveXDriverClass : NetscapeDriverClass;
        form_.reset(new TForm(nullptr));
        form_->AfterConstruction();
        form_->SetBorderStyle(bsNone);
        form_->SetBounds(40, 40, 120, 120);
        form_->Show();
        Pump();
    }
    void Leave()
    {
        form_.reset();
        Pump();
        if (savedDefault_)
            DefaultFlashDriverClass = savedDefault_;
    }
    TForm* form() { return form_.get(); }

private:
    Owned<TForm> form_;
    const TkvFlashDriverClass* savedDefault_ = nullptr;
};

// --- round trips -------------------------------------------------------------

// The movie registers echo(x): it sends fscommand("echo", x), asks the
// container reply(x), and answers x + "/" + the reply. It says "ready" once
// the callback is in place.
std::vector<std::uint8_t> EchoMovie()
{
    auto x = [](ActionAssembler& e) { e.getPath("x"); };
    ActionAssembler body;
    body.push({PushValue("FSCommand:echo"), PushValue("x")}).getVariable().getUrl2(sw::SendVars::None, false, false);
    body.setPath("r", Emitter([&](ActionAssembler& e) { e.externalCall("reply", {Emitter(x)}, true); }));
    body.push({PushValue("x")}).getVariable().push(PushValue("/")).add2();
    body.push({PushValue("r")}).getVariable().add2().return_();
    ActionAssembler a;
    a.defineFunction("echo", {"x"}, body);
    a.addCallback("echo", PushValue(sw::Null{}), Emitter([](ActionAssembler& e) { e.getPath("echo"); }));
    a.fscommand("ready", "");
    a.stop();
    sw::Movie movie(8, 100, 100, 12.0);
    movie.doAction(a);
    movie.showFrame();
    return movie.build();
}

class RoundTrips : public ::testing::TestWithParam<TkvPlugin>, protected BackEndCase {
protected:
    void SetUp() override { Enter(GetParam()); }
    void TearDown() override { Leave(); }
};

TEST_P(RoundTrips, ThousandFSCommandAndExternalInterfaceRoundTripsKeepResourcesFlat)
{
    const TkvPlugin plugin = GetParam();
    auto* player = new TkvFlashPlayer(form());
    player->SetBounds(0, 0, 100, 100);
    player->SetParent(form());
    ASSERT_STREQ(player->Driver->DriverClass().ClassName(),
                 plugin == kvActiveX ? L"TkvFlashDriverActiveX" : L"TkvFlashDriverNS");

    int ready = 0, commands = 0, calls = 0;
    WideString lastArgs;
    player->OnFSCommand = TkvFSCommandEvent([&](TObject*, const WideString& command, const WideString& args) {
        if (command == L"ready")
            ++ready;
        else if (command == L"echo") {
            ++commands;
            lastArgs = args;
        }
    });
    player->OnFlashCall = TkvFlashCallEvent([&](TObject* sender, const WideString& request) {
        ++calls;
        if (request.find(L"<invoke name=\"reply\"") != std::wstring::npos)
            static_cast<TkvFlashDriver*>(sender)->SetReturnValue(L"<string>pong " + std::to_wstring(calls) +
                                                                 L"</string>");
    });
    player->LoadMovie(WriteFile(std::wstring(L"echo-") + (plugin == kvActiveX ? L"ax" : L"ns") + L".swf", EchoMovie()));
    for (int i = 0; i < 5 && ready == 0; ++i)
        StepBackEnd(plugin);
    ASSERT_EQ(ready, 1);

    ResourceUse middle;
    const auto start = std::chrono::steady_clock::now();
    auto half = start;
    for (int i = 1; i <= kRoundTrips; ++i) {
        const std::wstring ping = L"ping " + std::to_wstring(i);
        const WideString answer = player->CallFunction(L"<invoke name=\"echo\" returntype=\"xml\"><arguments><string>" +
                                                       ping + L"</string></arguments></invoke>");
        ASSERT_EQ(answer, L"<string>" + ping + L"/pong " + std::to_wstring(i) + L"</string>") << "round trip " << i;
        ASSERT_EQ(lastArgs, ping);
        if (i % 50 == 0)
            Pump();
        if (i == kRoundTrips / 2) {
            middle = Settle();
            half = std::chrono::steady_clock::now();
        }
    }
    const ResourceUse end = Settle();
    EXPECT_EQ(commands, kRoundTrips);
    EXPECT_EQ(calls, kRoundTrips);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - half).count();
    ExpectFlat(BackEndName(plugin), middle, end, kRoundTripAllowance, seconds);
}

INSTANTIATE_TEST_SUITE_P(BothBackEnds, RoundTrips, ::testing::Values(kvNetscape, kvActiveX),
                         [](const auto& info) { return std::string(BackEndName(info.param)); });

// --- create, load, destroy -----------------------------------------------------

enum class Kind { Player, PlayerWnd, PlayerComp, Layer };

const char* KindName(Kind k)
{
    switch (k) {
    case Kind::Player: return "TkvFlashPlayer";
    case Kind::PlayerWnd: return "TkvFlashPlayerWnd";
    case Kind::PlayerComp: return "TkvFlashPlayerComp";
    case Kind::Layer: return "TkvFlashLayer";
    }
    return "?";
}

// One component of class C on the form: made, given a movie that says
// "loaded", shown until it has, and freed.
template <class C>
bool LoadOnce(TForm* form, TkvPlugin plugin, const std::wstring& movie)
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
    bool loaded = false;
    c->OnFSCommand = TkvFSCommandEvent([&](TObject*, const WideString& command, const WideString&) {
        loaded = loaded || command == L"loaded";
    });
    c->LoadMovie(movie);
    for (int i = 0; i < 5 && !loaded; ++i)
        StepBackEnd(plugin);
    Free(c);
    return loaded;
}

bool LoadOnce(Kind kind, TForm* form, TkvPlugin plugin, const std::wstring& movie)
{
    switch (kind) {
    case Kind::Player: return LoadOnce<TkvFlashPlayer>(form, plugin, movie);
    case Kind::PlayerWnd: return LoadOnce<TkvFlashPlayerWnd>(form, plugin, movie);
    case Kind::PlayerComp: return LoadOnce<TkvFlashPlayerComp>(form, plugin, movie);
    case Kind::Layer: return LoadOnce<TkvFlashLayer>(form, plugin, movie);
    }
    return false;
}

class Cycles : public ::testing::TestWithParam<std::tuple<Kind, TkvPlugin>>, protected BackEndCase {
protected:
    void SetUp() override { Enter(std::get<1>(GetParam())); }
    void TearDown() override { Leave(); }
};

TEST_P(Cycles, TwoHundredCreateLoadDestroyCyclesKeepResourcesFlat)
{
    const auto [kind, plugin] = GetParam();
    ActionAssembler frame0;
    frame0.fscommand("loaded", "").stop();
    const std::wstring movie = WriteFile(std::wstring(L"cycle-") + (plugin == kvActiveX ? L"ax" : L"ns") + L".swf",
                                         RectMovie(0x3366CC, 255, frame0));
    ResourceUse middle;
    auto half = std::chrono::steady_clock::now();
    for (int i = 1; i <= kCycles; ++i) {
        ASSERT_TRUE(LoadOnce(kind, form(), plugin, movie)) << "cycle " << i << ": the movie never said it loaded";
        if (i == kCycles / 2) {
            middle = Settle();
            half = std::chrono::steady_clock::now();
        }
    }
    const ResourceUse end = Settle();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - half).count();
    ExpectFlat((std::string(KindName(kind)) + " " + BackEndName(plugin)).c_str(), middle, end, kCycleAllowance,
               seconds);
}

INSTANTIATE_TEST_SUITE_P(EachComponentOnBothBackEnds, Cycles,
                         ::testing::Combine(::testing::Values(Kind::Player, Kind::PlayerWnd, Kind::PlayerComp,
                                                              Kind::Layer),
                                            ::testing::Values(kvNetscape, kvActiveX)),
                         [](const auto& info) {
                             return std::string(KindName(std::get<0>(info.param))) + "_" +
                                    BackEndName(std::get<1>(info.param));
                         });

// --- a paint nested in a control's own paint --------------------------------

// Sees through to its parent as the transparent player does: inside its own
// paint it has the parent paint what lies under it into a bitmap of its own,
// which paints this control again, nested; then it draws through its canvas.
class TSeeThrough : public TGraphicControl {
public:
    explicit TSeeThrough(TComponent* AOwner) : TGraphicControl(AOwner) {}
    void Paint() override
    {
        if (under_ && Canvas()->HandleAllocated() && Canvas()->Handle() == under_->DC())
            return;
        under_ = std::make_unique<TDibSection>(Width(), Height());
        Parent()->PaintTo(under_->DC(), -Left(), -Top());
        BitBlt(Canvas()->Handle(), 0, 0, Width(), Height(), under_->DC(), 0, 0, SRCINVERT);
    }

private:
    std::unique_ptr<TDibSection> under_;
};

TEST(NestedPaints, ParentCopiesInsideAControlsPaintKeepResourcesFlat)
{
    Owned<TForm> form(new TForm(nullptr));
    form->AfterConstruction();
    form->SetBorderStyle(bsNone);
    form->SetBounds(40, 40, 120, 120);
    auto* see = new TSeeThrough(form.get());
    see->SetBounds(10, 10, 60, 60);
    see->SetParent(form.get());
    form->Show();
    Pump();
    TDibSection copy(120, 120);
    ResourceUse middle;
    const auto start = std::chrono::steady_clock::now();
    auto half = start;
    for (int i = 1; i <= kCycles; ++i) {
        // Once from the form's own WM_PAINT, once into a copy of the form.
        InvalidateRect(form->Handle(), nullptr, TRUE);
        UpdateWindow(form->Handle());
        form->PaintTo(copy.DC(), 0, 0);
        if (i == kCycles / 2) {
            Pump();
            middle = MeasureResources();
            half = std::chrono::steady_clock::now();
        }
    }
    Pump();
    const ResourceUse end = MeasureResources();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - half).count();
    ExpectFlat("nested paints", middle, end, kRoundTripAllowance, seconds);
}

}  // namespace

