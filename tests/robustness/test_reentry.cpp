// The application's handlers re-enter the package from every moment the
// player calls into it: from inside OnFSCommand (sent as the movie arrives and
// from a later frame, and by a movie that arrived through a second URL the
// first movie asked for), OnFlashCall, the off-screen component's OnPaint (run
// from inside the player's invalidation, and for a repaint the player asks
// for from inside its own drawing) and, on the ActiveX back-end, the
// control's ready-state and progress events, a handler frees the component,
// changes its back-end, loads another movie from a file or from a stream,
// calls into the movie, resizes the component, hides it or closes its form.
// The off-screen component, the graphic player and the windowed player take
// every event they have.
// Nothing may crash or touch freed memory (the program's allocator poisons
// and holds back freed blocks, and Wine checks its heaps), and nothing asked
// may be lost: what the handler asked for happens, and the component goes on
// working afterwards.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "ax_support.h"
#include "host_config.h"
#include "poisoned_heap.h"

using namespace axtest;
using namespace nstest;

namespace {

using sw::ActionAssembler;
using sw::Emitter;
using sw::PushValue;

enum class Kind { OffScreen, Graphic, Windowed };
enum class Moment {
    FSCommandOnLoad,
    FSCommandInFrame,
    SecondUrl,
    FlashCall,
    Paint,
    RepaintInPaint,
    ReadyState,
    Progress
};
enum class Action { FreeComponent, ChangePlugin, LoadMovie, LoadFromStream, CallFunction, Resize, Hide, CloseForm };

const char* MomentName(Moment m)
{
    switch (m) {
    case Moment::FSCommandOnLoad: return "FSCommandOnLoad";
    case Moment::FSCommandInFrame: return "FSCommandInFrame";
    case Moment::SecondUrl: return "SecondUrl";
    case Moment::FlashCall: return "FlashCall";
    case Moment::Paint: return "Paint";
    case Moment::RepaintInPaint: return "RepaintInPaint";
    case Moment::ReadyState: return "ReadyState";
    case Moment::Progress: return "Progress";
    }
    return "?";
}

const char* ActionName(Action a)
{
    switch (a) {
    case Action::FreeComponent: return "FreeComponent";
    case Action::ChangePlugin: return "ChangePlugin";
    case Action::LoadMovie: return "LoadMovie";
    case Action::LoadFromStream: return "LoadFromStream";
    case Action::CallFunction: return "CallFunction";
    case Action::Resize: return "Resize";
    case Action::Hide: return "Hide";
    case Action::CloseForm: return "CloseForm";
    }
    return "?";
}

// Two frames over a `colour` square from (20, 20) to (80, 80). The first
// registers echo(x), which answers "e:" + x, and sends fscommand("go",
// "load"); the second sends fscommand("go", "frame"), asks the container
// ExternalInterface.call("go") and stops. Given a second URL, the first frame
// also loads it into level 1.
std::vector<std::uint8_t> StageMovie(std::uint32_t colour, const std::string& secondUrl = {})
{
    sw::Movie movie(8, 100, 100, 12.0);
    movie.setBackgroundColor(sw::Rgba::rgb(0xFFFFFF));
    sw::ShapeBuilder shape(3);
    shape.rectangle(20 * 20, 20 * 20, 60 * 20, 60 * 20, shape.addFill(sw::Rgba::rgb(colour)), 0);
    sw::PlaceObject place;
    place.depth = 1;
    place.character = movie.defineShape(shape);
    movie.place(place);
    ActionAssembler echo;
    echo.push({PushValue("e:"), PushValue("x")}).getVariable().add2().return_();
    ActionAssembler first;
    first.defineFunction("echo", {"x"}, echo);
    first.addCallback("echo", PushValue(sw::Null{}), Emitter([](ActionAssembler& e) { e.getPath("echo"); }));
    first.fscommand("go", "load");
    if (!secondUrl.empty())
        first.getUrl(secondUrl, "_level1");
    movie.doAction(first);
    movie.showFrame();
    ActionAssembler second;
    second.fscommand("go", "frame");
    second.setPath("answer", Emitter([](ActionAssembler& e) { e.externalCall("go", {}, true); }));
    second.stop();
    movie.doAction(second);
    movie.showFrame();
    return movie.build();
}

// What the second URL serves: a movie with nothing to show that sends
// fscommand("go", "url") as it starts.
std::vector<std::uint8_t> SecondMovie()
{
    sw::Movie movie(8, 100, 100, 12.0);
    ActionAssembler start;
    start.fscommand("go", "url");
    movie.doAction(start);
    movie.showFrame();
    return movie.build();
}

constexpr std::uint32_t kFirst = 0x3366CC, kAnother = 0xCC3300, kStreamed = 0x22AA44, kLast = 0x8040A0;

WideString EchoRequest(const std::wstring& x)
{
    return L"<invoke name=\"echo\" returntype=\"xml\"><arguments><string>" + x + L"</string></arguments></invoke>";
}

// Both players' clocks: a component whose back-end changed steps on the other.
void StepBoth(int frames)
{
    Step(frames);
    StepControls(frames);
}

std::uint32_t CentreColour(TkvFlashDriver* d) { return Pixel(d, d->Width / 2, d->Height / 2) & 0xFFFFFF; }

using Param = std::tuple<Kind, TkvPlugin, Moment, Action>;

// What a case does with a player control of either kind.
struct OnForm {
    TControl* control = nullptr;
    IkvFlash* flash = nullptr;
    std::function<TkvFlashDriver*()> driver;
    std::function<void(TkvPlugin)> setPlugin;
    std::function<TkvPlugin()> plugin;
    std::function<void(const TkvFSCommandEvent&)> onFSCommand;
    std::function<void(const TkvFlashCallEvent&)> onFlashCall;
};

template <class C>
OnForm Place(TForm* form)
{
    auto* c = new C(form);
    c->SetBounds(0, 0, 100, 100);
    c->SetParent(form);
    return {c,
            c,
            [c] { return c->Driver; },
            [c](TkvPlugin p) { c->SetPlugin(p); },
            [c] { return c->GetPlugin(); },
            [c](const TkvFSCommandEvent& e) { c->SetOnFSCommand(e); },
            [c](const TkvFlashCallEvent& e) { c->SetOnFlashCall(e); }};
}

// For its lifetime both players ask for a repaint from inside every paint;
// the control asks for every change to be painted rather than drawing it
// through the site's DC, so the package's paint draws it.
class RepaintInPaints {
public:
    RepaintInPaints() : plugin_(L"RepaintInPaint", 1000)
    {
        const DWORD n = 1000, no = 0;
        RegSetKeyValueW(HKEY_CURRENT_USER, kControlKey, L"RepaintInPaint", REG_DWORD, &n, sizeof n);
        RegSetKeyValueW(HKEY_CURRENT_USER, kControlKey, L"DrawThroughDC", REG_DWORD, &no, sizeof no);
        refhost::claimConfig(kControlKey);
    }
    ~RepaintInPaints() { RegDeleteTreeW(HKEY_CURRENT_USER, kControlKey); }

private:
    static constexpr const wchar_t* kControlKey = L"Software\\KorvelRef\\Control";
    PlayerSetting plugin_;
};

class Reentry : public BackEndCase, public ::testing::WithParamInterface<Param> {
protected:
    void TearDown() override
    {
        form_.reset();
        Pump();
        BackEndCase::TearDown();
        // Damage the case did to memory shows now, named by the case.
        CheckHeaps();
    }
    std::unique_ptr<TForm, FormDeleter> form_;
};

TEST_P(Reentry, HandlerReentersThePackage_NothingCrashesOrIsLost)
{
    const auto [kind, backEnd, moment, action] = GetParam();
    const TkvPlugin other = backEnd == kvActiveX ? kvNetscape : kvActiveX;
    const std::wstring tag = std::wstring(L"-") + (backEnd == kvActiveX ? L"ax" : L"ns");
    const std::string second = std::string("second-") + (backEnd == kvActiveX ? "ax" : "ns") + ".swf";
    if (moment == Moment::SecondUrl)
        WriteFile(std::wstring(second.begin(), second.end()), SecondMovie());
    const std::wstring first =
        WriteFile(L"first" + tag + L".swf", StageMovie(kFirst, moment == Moment::SecondUrl ? second : ""));
    const std::wstring another = WriteFile(L"another" + tag + L".swf", StageMovie(kAnother));
    const std::wstring last = WriteFile(L"last" + tag + L".swf", StageMovie(kLast));
    const std::vector<std::uint8_t> streamed = StageMovie(kStreamed);

    form_.reset(new TForm(nullptr));
    form_->AfterConstruction();
    form_->SetBorderStyle(bsNone);
    form_->SetBounds(40, 40, 120, 120);
    form_->Show();
    TForm* form = form_.get();
    std::unique_ptr<RepaintInPaints> repaints;
    if (moment == Moment::RepaintInPaint)
        repaints = std::make_unique<RepaintInPaints>();
    // One of the two is made; `flash` and `driver` reach whichever it is.
    TkvFlashPlayerComp* comp = nullptr;
    OnForm placed;
    TControl*& player = placed.control;  // the graphic or the windowed player
    if (kind == Kind::OffScreen) {
        comp = new TkvFlashPlayerComp(form);
        comp->SetPlugin(backEnd);
    } else {
        placed = kind == Kind::Graphic ? Place<TkvFlashPlayer>(form) : Place<TkvFlashPlayerWnd>(form);
        placed.setPlugin(backEnd);
    }
    auto flash = [&]() -> IkvFlash* { return comp ? static_cast<IkvFlash*>(comp) : placed.flash; };
    auto driver = [&] { return comp ? comp->Driver : placed.driver(); };
    auto setPlugin = [&](TkvPlugin p) { comp ? comp->SetPlugin(p) : placed.setPlugin(p); };
    UseControlClock();
    ASSERT_STREQ(driver()->DriverClass().ClassName(), DriverClassOf(backEnd));
    Pump();

    bool fired = false, acting = false, gone = false;
    WideString answer;
    // Runs the case's action once, from inside the moment's handler.
    auto act = [&] {
        if (fired)
            return;
        fired = acting = true;
        switch (action) {
        case Action::FreeComponent:
            Free(comp ? static_cast<TObject*>(comp) : player);
            comp = nullptr;
            player = nullptr;
            gone = true;
            break;
        case Action::ChangePlugin: setPlugin(other); break;
        case Action::LoadMovie: flash()->LoadMovie(another); break;
        case Action::LoadFromStream: {
            // The stream is the handler's own: it ends with the handler.
            TMemoryStream stream;
            stream.Write(streamed.data(), static_cast<std::int64_t>(streamed.size()));
            stream.SetPosition(0);
            flash()->LoadMovieFromStream(&stream);
            break;
        }
        case Action::CallFunction: answer = flash()->CallFunction(EchoRequest(L"inside")); break;
        case Action::Resize:
            if (comp) {
                comp->SetWidth(80);
                comp->SetHeight(60);
            } else {
                player->SetBounds(0, 0, 80, 60);
            }
            break;
        case Action::Hide:
            // The off-screen component has no visibility of its own: its form
            // goes.
            if (comp)
                form->Hide();
            else
                player->SetVisible(false);
            break;
        case Action::CloseForm:
            form->OnClose = TCloseEvent([](TObject*, TCloseAction& a) { a = caFree; });
            form->Close();
            // The form frees itself from the message loop, and the component
            // with it.
            (void)form_.release();
            comp = nullptr;
            player = nullptr;
            gone = true;
            break;
        }
        acting = false;
    };

    switch (moment) {
    case Moment::FSCommandOnLoad:
    case Moment::FSCommandInFrame:
    case Moment::SecondUrl: {
        const wchar_t* when = moment == Moment::FSCommandOnLoad    ? L"load"
                              : moment == Moment::FSCommandInFrame ? L"frame"
                                                                   : L"url";
        const TkvFSCommandEvent handler([&, when](TObject*, const WideString& command, const WideString& args) {
            if (command == L"go" && args == when)
                act();
        });
        comp ? comp->SetOnFSCommand(handler) : placed.onFSCommand(handler);
        break;
    }
    case Moment::FlashCall: {
        const TkvFlashCallEvent handler([&](TObject*, const WideString& request) {
            if (request.find(L"<invoke name=\"go\"") != std::wstring::npos)
                act();
        });
        comp ? comp->SetOnFlashCall(handler) : placed.onFlashCall(handler);
        break;
    }
    case Moment::Paint:
        comp->OnPaint = TkvPaintEvent([&](TObject*, const TRect&) { act(); });
        break;
    case Moment::RepaintInPaint:
        // The report of a paint inside which the player asked to be painted
        // again.
        comp->OnPaint = TkvPaintEvent([&](TObject*, const TRect&) {
            if (LogOf(backEnd).find("repaint asked from inside a paint as configured") != std::string::npos)
                act();
        });
        break;
    case Moment::ReadyState:
    case Moment::Progress: {
        auto* ax = dynamic_cast<TkvFlashDriverActiveX*>(driver());
        ASSERT_NE(ax, nullptr);
        if (moment == Moment::ReadyState)
            ax->OnReadyStateChangeSlot = TkvFlashPlayerOnReadyStateChange([&](TObject*, int) { act(); });
        else
            ax->OnProgressSlot = TkvFlashPlayerOnProgress([&](TObject*, int) { act(); });
        break;
    }
    }

    flash()->LoadMovie(first);
    for (int i = 0; i < 12 && !fired; ++i)
        StepBoth(1);
    ASSERT_TRUE(fired) << "the moment never came; the player's log:\n" << LogOf(backEnd);
    EXPECT_FALSE(acting) << "the handler did not return";
    Pump();
    UseControlClock();  // a control made by the handler steps on the tests' clock too
    StepBoth(3);

    if (gone) {
        // Freed once its calls returned: no player instance is left.
        Pump();
        FreeReleasedDrivers();
        Pump();
        EXPECT_EQ(Player().InstanceCount(), 0);
        EXPECT_EQ(Control().InstanceCount(), 0);
        return;  // TearDown checks nothing else is left
    }

    // What the handler asked for happened.
    switch (action) {
    case Action::ChangePlugin:
        EXPECT_STREQ(driver()->DriverClass().ClassName(), DriverClassOf(other));
        EXPECT_EQ(comp ? comp->GetPlugin() : placed.plugin(), other);
        break;
    case Action::LoadMovie: EXPECT_EQ(CentreColour(driver()), kAnother); break;
    case Action::LoadFromStream: EXPECT_EQ(CentreColour(driver()), kStreamed); break;
    case Action::CallFunction:
        // The movie registers echo before it sends anything; a paint may
        // come before its first frame ran, and then there is no echo yet.
        if (moment != Moment::Paint && moment != Moment::RepaintInPaint && moment != Moment::ReadyState &&
            moment != Moment::Progress) {
            EXPECT_EQ(answer, L"<string>e:inside</string>");
        }
        break;
    case Action::Resize:
        EXPECT_EQ(driver()->Width, 80);
        EXPECT_EQ(driver()->Height, 60);
        break;
    case Action::Hide:
        if (comp)
            form->Show();
        else
            player->SetVisible(true);
        Pump();
        break;
    default: break;
    }

    // And the component goes on working: a movie loaded now is shown and
    // answers a call.
    if (comp) {
        comp->SetOnFSCommand(TkvFSCommandEvent());
        comp->SetOnFlashCall(TkvFlashCallEvent());
        comp->OnPaint = TkvPaintEvent();
    } else {
        placed.onFSCommand(TkvFSCommandEvent());
        placed.onFlashCall(TkvFlashCallEvent());
    }
    if (auto* ax = dynamic_cast<TkvFlashDriverActiveX*>(driver())) {
        ax->OnReadyStateChangeSlot = TkvFlashPlayerOnReadyStateChange();
        ax->OnProgressSlot = TkvFlashPlayerOnProgress();
    }
    flash()->LoadMovie(last);
    Pump();
    StepBoth(2);
    EXPECT_EQ(CentreColour(driver()), kLast);
    EXPECT_EQ(flash()->CallFunction(EchoRequest(L"after")), L"<string>e:after</string>");
}

std::vector<Param> Matrix()
{
    const Action actions[] = {Action::FreeComponent, Action::ChangePlugin, Action::LoadMovie, Action::LoadFromStream,
                              Action::CallFunction,  Action::Resize,       Action::Hide,      Action::CloseForm};
    std::vector<Param> all;
    for (Kind k : {Kind::OffScreen, Kind::Graphic, Kind::Windowed})
        for (TkvPlugin backEnd : kBothBackEnds)
            for (Moment m : {Moment::FSCommandOnLoad, Moment::FSCommandInFrame, Moment::SecondUrl, Moment::FlashCall,
                             Moment::Paint, Moment::RepaintInPaint, Moment::ReadyState, Moment::Progress}) {
                // Ready state and progress are the control's own events; the
                // players on forms paint themselves and have no paint event.
                if (backEnd == kvNetscape && (m == Moment::ReadyState || m == Moment::Progress))
                    continue;
                if (k != Kind::OffScreen && (m == Moment::Paint || m == Moment::RepaintInPaint))
                    continue;
                for (Action a : actions)
                    all.emplace_back(k, backEnd, m, a);
            }
    return all;
}

std::string CaseName(const ::testing::TestParamInfo<Param>& info)
{
    const Kind k = std::get<0>(info.param);
    return std::string(k == Kind::OffScreen ? "OffScreen" : k == Kind::Graphic ? "Graphic" : "Windowed") + "_" +
           (std::get<1>(info.param) == kvActiveX ? "ActiveX" : "Netscape") + "_" +
           MomentName(std::get<2>(info.param)) + "_" + ActionName(std::get<3>(info.param));
}

INSTANTIATE_TEST_SUITE_P(EveryMomentEveryAction, Reentry, ::testing::ValuesIn(Matrix()), CaseName);

}  // namespace
