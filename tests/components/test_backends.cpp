// The four player components on both back-ends, through the reference
// players: handlers assigned by code once a movie is loaded, and what a
// component does when the ActiveX control fails to start (the reference
// control's failure injection).
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <type_traits>

#include "ax_support.h"
#include "host_config.h"
#include "kv_layer.h"
#include "swfwriter/swf_text.h"

using namespace axtest;
using namespace nstest;

// Every case ends with nothing of the players left (BackEndCase).
using HandlersByCode = nstest::BackEndCase;
using AFailingControl = nstest::BackEndCase;
using ClassBasedMovie = nstest::BackEndCase;

namespace {

const wchar_t kControlKey[] = L"Software\\KorvelRef\\Control";

struct Deleter {
    void operator()(TObject* o) const { Free(o); }
};
template <class T>
using Owned = std::unique_ptr<T, Deleter>;

// The ActiveX probe runs once per process, before any failure is configured
// (a failing probe would keep the control out of the process); from then on
// every control steps only when told.
void ProbeOnce()
{
    static const bool once = [] {
        CheckFlashPlugins();
        if (Control().Loaded()) {
            Control().SetManualClock(1);
            Control().EnableLog(1);
        }
        return true;
    }();
    (void)once;
    ASSERT_TRUE(Control().Loaded()) << "the reference control is not registered in this prefix";
    ASSERT_EQ(DefaultFlashDriverClass, ActiveXDriverClass);
    ASSERT_NE(NetscapeDriverClass, nullptr);
}

// For its lifetime, every control made fails at one call (a name of the
// reference control's failure table) and logs what it is asked.
class ControlFailure {
public:
    explicit ControlFailure(const std::wstring& method) : method_(method)
    {
        const DWORD code = static_cast<DWORD>(E_FAIL), on = 1;
        const std::wstring fail = std::wstring(kControlKey) + L"\\Fail";
        RegSetKeyValueW(HKEY_CURRENT_USER, fail.c_str(), method.c_str(), REG_DWORD, &code, sizeof code);
        RegSetKeyValueW(HKEY_CURRENT_USER, kControlKey, L"Log", REG_DWORD, &on, sizeof on);
        refhost::claimConfig(kControlKey);
        Control().ClearLog();
    }
    ~ControlFailure() { RegDeleteTreeW(HKEY_CURRENT_USER, kControlKey); }
    // How often the control's log shows the failure given.
    int Fired() const
    {
        const std::string log = ControlLog();
        const std::string note = WideToUtf8(method_) + " fails as configured";
        int n = 0;
        for (size_t at = log.find(note); at != std::string::npos; at = log.find(note, at + 1))
            ++n;
        return n;
    }
    // Quiet: a control that cannot be created leaves the driver without one.
    bool Quiet() const { return method_ == L"CreateInstance"; }

private:
    std::wstring method_;
};

// Every call of the control's start that can raise, and its creation.
const wchar_t* const kStartFailures[] = {
    L"CreateInstance",         L"GetMiscStatus",           L"SetClientSite",
    L"QueryInterface:IPersistStreamInit", L"InitNew",      L"QueryInterface:IOleControl",
    L"QueryInterface:IDispatch", L"put_WMode",             L"QueryInterface:IkvFlashPlayer",
    L"DisableLocalSecurity",
};

// What Application->HandleException was given while it lives.
struct CaughtErrors {
    std::vector<TObject*> senders;
    std::vector<std::string> messages;
    CaughtErrors()
    {
        Application->OnException = TExceptionEvent([this](TObject* s, const std::exception& e) {
            senders.push_back(s);
            messages.push_back(e.what());
        });
    }
    ~CaughtErrors() { Application->OnException = TExceptionEvent(); }
};

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

// A component of class C on the form, made by code.
template <class C>
C* Place(TForm* form)
{
    C* c = new C(form);
    if constexpr (std::is_base_of_v<TControl, C>) {
        if constexpr (!std::is_base_of_v<TkvFlashLayer, C>)
            c->SetBounds(0, 0, 100, 100);
        c->SetParent(form);
    }
    return c;
}

const wchar_t* ClassOf(TkvFlashDriver* d) { return d->DriverClass().ClassName(); }

// Two frames: the second sends fscommand("later", "now"), asks the
// container ExternalInterface.call("later") into `answer`, and stops.
std::vector<std::uint8_t> LaterMovie()
{
    sw::Movie movie(8, 100, 100, 12.0);
    movie.showFrame();
    sw::ActionAssembler a;
    a.fscommand("later", "now");
    a.setPath("answer", sw::Emitter([](sw::ActionAssembler& e) { e.externalCall("later", {}, true); }));
    a.stop();
    movie.doAction(a);
    movie.showFrame();
    return movie.build();
}

void StepBoth()
{
    Step(1);
    StepControls(1);
}

template <class C>
void CheckHandlersAssignedAfterLoadMovie(TkvPlugin plugin, const wchar_t* driverClass)
{
    SCOPED_TRACE(std::string(typeid(C).name()) + (plugin == kvActiveX ? " ActiveX" : " Netscape"));
    Owned<TForm> form = NewShownForm();
    TkvFlashList store(form.get());
    TkvFlashStream* item = store.Flashs()->Add();
    const auto bytes = LaterMovie();
    item->DataStream()->WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    item->SetFlashStore(L"later.swf");

    C* c = Place<C>(form.get());
    c->SetPlugin(plugin);
    ASSERT_STREQ(ClassOf(c->Driver), driverClass);
    c->LoadMovie(L"later.swf");
    Pump();
    std::wstring commands, requests;
    c->OnFSCommand = TkvFSCommandEvent([&](TObject* sender, const WideString& command, const WideString& args) {
        EXPECT_EQ(sender, c->Driver);
        commands += command + L"|" + args + L";";
    });
    c->OnFlashCall = TkvFlashCallEvent([&](TObject* sender, const WideString& request) {
        requests += request;
        static_cast<TkvFlashDriver*>(sender)->SetReturnValue(L"<string>heard</string>");
    });
    for (int i = 0; i < 4 && commands.empty(); ++i)
        StepBoth();
    EXPECT_EQ(commands, L"later|now;") << (plugin == kvActiveX ? ControlLog() : PlayerLog());
    EXPECT_NE(requests.find(L"<invoke name=\"later\""), std::wstring::npos) << requests;
    EXPECT_EQ(c->GetVariable(L"answer"), L"heard");
}

TEST_F(HandlersByCode, AssignedAfterLoadMovieTheyHearTheMovieOnBothBackEnds)
{
    ProbeOnce();
    for (auto [plugin, name] : {std::pair{kvNetscape, L"TkvFlashDriverNS"}, {kvActiveX, L"TkvFlashDriverActiveX"}}) {
        CheckHandlersAssignedAfterLoadMovie<TkvFlashPlayer>(plugin, name);
        CheckHandlersAssignedAfterLoadMovie<TkvFlashPlayerWnd>(plugin, name);
        CheckHandlersAssignedAfterLoadMovie<TkvFlashPlayerComp>(plugin, name);
        CheckHandlersAssignedAfterLoadMovie<TkvFlashLayer>(plugin, name);
    }
}

// An ActionScript 2 movie as a compiler emits it: the class app.Main, defined
// in the #initclip block of the symbol exported as "app.Main" and registered
// for it, is placed on the timeline. Its constructor offers three callbacks
// (greet, add, count) to the container and tells it started("v1", 2).
const char* const kClassMovie = R"(
movie version=8 width=100 height=100 rate=12
sprite main
  frame
end
export main "app.Main"
initactions main
  get _global
  push "app"
  push 0
  initobject
  setmember
  get _global.app
  push "Main"
  function ""
    set this.calls 0
    addcallback "greet" this this.greet
    addcallback "add" this this.add
    addcallback "count" this this.count
    excall "started" "v1" 2
  end
  setmember
  get _global.app.Main
  get MovieClip
  extends
  get _global.app.Main.prototype
  push "greet"
  function "" who
    push "hello "
    get who
    add2
    return
  end
  setmember
  get _global.app.Main.prototype
  push "add"
  function "" a b
    get a
    get b
    add2
    return
  end
  setmember
  get _global.app.Main.prototype
  push "count"
  function ""
    get this
    push "calls"
    get this.calls
    increment
    setmember
    get this.calls
    return
  end
  setmember
  call Object.registerClass "app.Main" _global.app.Main
end
place 1 main name=main
actions
  stop
end
frame
)";

void CheckClassBasedMovie(TkvPlugin plugin, const std::wstring& expectedRequest)
{
    SCOPED_TRACE(plugin == kvActiveX ? "ActiveX" : "Netscape");
    const auto compiled = sw::compileSwfText(kClassMovie);
    ASSERT_TRUE(compiled.ok) << compiled.error;
    Owned<TForm> form = NewShownForm();
    TkvFlashList store(form.get());
    TkvFlashStream* item = store.Flashs()->Add();
    item->DataStream()->WriteBuffer(compiled.swf.data(), static_cast<std::int64_t>(compiled.swf.size()));
    item->SetFlashStore(L"classes.swf");

    auto* c = Place<TkvFlashPlayer>(form.get());
    c->SetPlugin(plugin);
    std::vector<std::wstring> requests;
    c->OnFlashCall = TkvFlashCallEvent([&](TObject* sender, const WideString& request) {
        requests.push_back(request);
        static_cast<TkvFlashDriver*>(sender)->SetReturnValue(L"<string>welcome</string>");
    });
    c->LoadMovie(L"classes.swf");
    Pump();
    for (int i = 0; i < 4 && requests.empty(); ++i)
        StepBoth();
    // Each back-end's request text: the control's typed XML, the plug-in's
    // arguments all as strings.
    ASSERT_EQ(requests.size(), 1u) << (plugin == kvActiveX ? ControlLog() : PlayerLog());
    EXPECT_EQ(requests[0], expectedRequest);
    EXPECT_EQ(c->CallFunction(L"<invoke name=\"greet\" returntype=\"xml\"><arguments><string>host</string>"
                              L"</arguments></invoke>"),
              L"<string>hello host</string>");
    EXPECT_EQ(c->CallFunction(L"<invoke name=\"add\" returntype=\"xml\"><arguments><number>2</number>"
                              L"<number>3</number></arguments></invoke>"),
              L"<number>5</number>");
    c->CallFunction(L"<invoke name=\"count\" returntype=\"xml\"><arguments></arguments></invoke>");
    EXPECT_EQ(c->CallFunction(L"<invoke name=\"count\" returntype=\"xml\"><arguments></arguments></invoke>"),
              L"<number>2</number>");
    EXPECT_EQ(c->GetVariable(L"main.calls"), L"2");
}

TEST_F(ClassBasedMovie, RegistersItsCallbacksAndCallsTheHostOnStartOnBothBackEnds)
{
    ProbeOnce();
    CheckClassBasedMovie(kvActiveX, L"<invoke name=\"started\" returntype=\"xml\"><arguments><string>v1</string>"
                                    L"<number>2</number></arguments></invoke>");
    CheckClassBasedMovie(kvNetscape, L"<invoke name=\"started\" returntype=\"XML\"><arguments><string>v1</string>"
                                     L"<string>2</string></arguments></invoke>");
}

// The component has a driver that works, whatever the control failed at: the
// base driver after an error, or the ActiveX driver without a control when
// the control could not be made (kept quiet).
template <class C>
void ExpectUsable(C* c, const ControlFailure& failure)
{
    ASSERT_NE(c->Driver, nullptr);
    if (failure.Quiet()) {
        ASSERT_STREQ(ClassOf(c->Driver), L"TkvFlashDriverActiveX");
        EXPECT_FALSE(static_cast<TkvFlashDriverActiveX*>(c->Driver)->GetIsFlashAvailable());
    } else {
        EXPECT_STREQ(ClassOf(c->Driver), L"TkvFlashDriver");
    }
    EXPECT_NE(c->Driver->Bits, nullptr) << "a buffer of the component's size";
    c->LoadMovie(L"nothing.swf");
    c->Play();
    EXPECT_FALSE(c->GetIsPlaying());
    EXPECT_EQ(c->GetVariable(L"x"), L"");
    EXPECT_EQ(c->CallFunction(L"<invoke name=\"f\" returntype=\"xml\"></invoke>"), L"");
    EXPECT_EQ(c->GetTotalFrames(), 0);
}

template <class C>
void CheckAFailingControlByCode(const wchar_t* method)
{
    SCOPED_TRACE(WideToUtf8(method) + " " + typeid(C).name());
    Owned<TForm> form = NewShownForm();
    ControlFailure failure(method);
    CaughtErrors errors;
    C* c = Place<C>(form.get());  // kvDefault: the ActiveX control
    ExpectUsable(c, failure);
    const int fired = failure.Fired();
    EXPECT_GE(fired, 1) << ControlLog();
    const std::vector<TObject*> once{c};
    EXPECT_EQ(errors.senders, failure.Quiet() ? std::vector<TObject*>{} : once)
        << (errors.messages.empty() ? "" : errors.messages[0]);
    Pump();  // a window repaint through the driver left in place

    // The plug-in still plays; asking for the control again fails again, and
    // Plugin keeps what was asked for.
    c->SetPlugin(kvNetscape);
    EXPECT_STREQ(ClassOf(c->Driver), L"TkvFlashDriverNS");
    c->SetPlugin(kvActiveX);
    EXPECT_EQ(c->GetPlugin(), kvActiveX);
    ExpectUsable(c, failure);
    EXPECT_GT(failure.Fired(), fired);
    EXPECT_EQ(errors.senders.size(), failure.Quiet() ? 0u : 2u);
    Free(c);
}

TEST_F(AFailingControl, EachComponentMadeByCodeKeepsAUsableDriver)
{
    ProbeOnce();
    for (const wchar_t* method : kStartFailures) {
        CheckAFailingControlByCode<TkvFlashPlayer>(method);
        CheckAFailingControlByCode<TkvFlashPlayerWnd>(method);
        CheckAFailingControlByCode<TkvFlashPlayerComp>(method);
        CheckAFailingControlByCode<TkvFlashLayer>(method);
    }
}

TEST_F(AFailingControl, AStoredFormIsReadWithAUsableDriverInEachComponent)
{
    ProbeOnce();
    TMemoryStream stream;
    {
        Owned<TForm> form = NewShownForm();
        Place<TkvFlashLayer>(form.get())->SetName(L"Layer1");
        Place<TkvFlashPlayer>(form.get())->SetName(L"Player1");
        auto* wnd = Place<TkvFlashPlayerWnd>(form.get());
        wnd->SetName(L"Wnd1");
        wnd->SetPlugin(kvActiveX);  // stored: read back through SetPlugin
        wnd->LoadMovie(L"stored.swf");
        Place<TkvFlashPlayerComp>(form.get())->SetName(L"Comp1");
        form->SaveToStream(stream);
    }
    for (const wchar_t* method : kStartFailures) {
        SCOPED_TRACE(WideToUtf8(method));
        ControlFailure failure(method);
        CaughtErrors errors;
        stream.SetPosition(0);
        Owned<TForm> form(new TForm(nullptr));
        form->AfterConstruction();
        ASSERT_NO_THROW(form->LoadFromStream(stream));
        form->Show();
        Pump();
        auto* layer = dynamic_cast<TkvFlashLayer*>(form->FindComponent(L"Layer1"));
        auto* player = dynamic_cast<TkvFlashPlayer*>(form->FindComponent(L"Player1"));
        auto* wnd = dynamic_cast<TkvFlashPlayerWnd*>(form->FindComponent(L"Wnd1"));
        auto* comp = dynamic_cast<TkvFlashPlayerComp*>(form->FindComponent(L"Comp1"));
        ASSERT_TRUE(layer && player && wnd && comp);
        EXPECT_EQ(wnd->GetPlugin(), kvActiveX);
        EXPECT_EQ(wnd->GetMovie(), L"stored.swf");
        ExpectUsable(layer, failure);
        ExpectUsable(player, failure);
        ExpectUsable(wnd, failure);
        ExpectUsable(comp, failure);
        // Each constructor starts a control, and the stored Plugin once more
        // (a driver that fails may meet the failure again as it closes).
        EXPECT_GE(failure.Fired(), 5) << ControlLog();
        if (failure.Quiet()) {
            EXPECT_TRUE(errors.senders.empty()) << errors.messages[0];
        } else {
            // Reported by each component that met it: the windowed player twice.
            for (TObject* c : std::initializer_list<TObject*>{layer, player, wnd, comp})
                EXPECT_EQ(std::count(errors.senders.begin(), errors.senders.end(), c), c == wnd ? 2 : 1);
            EXPECT_EQ(errors.senders.size(), 5u);
        }
    }
}

}  // namespace
