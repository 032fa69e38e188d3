// Calls between the application and a movie in the reference plug-in:
// FSCommand and ExternalInterface round trips, callbacks, play control.
#include <gtest/gtest.h>

#include "host_config.h"
#include "ns_support.h"

using namespace nstest;

namespace {

using sw::ActionAssembler;
using sw::Emitter;
using sw::Operand;
using sw::PushValue;

class NetscapeScripting : public BackEndCase {
protected:
    void SetUp() override
    {
        BackEndCase::SetUp();
        ASSERT_TRUE(Player().Loaded());
        form = NewPlayerForm();
        Player().ClearLog();
    }
    void TearDown() override
    {
        form.reset();
        BackEndCase::TearDown();
    }
    TkvFlashPlayer* player() { return form->Player; }
    TkvFlashDriver* driver() { return form->Player->Driver; }
    void Load(const std::vector<std::uint8_t>& movie, const wchar_t* name)
    {
        player()->LoadMovie(WriteFile(name, movie));
        Step(1);
    }
    std::unique_ptr<TPlayerForm, FormDeleter> form;
};

// A movie of `frames` frames whose first frame runs `frame0`.
std::vector<std::uint8_t> ScriptMovie(const ActionAssembler& frame0, int frames = 1)
{
    sw::Movie movie(8, 100, 100, 12.0);
    movie.doAction(frame0);
    movie.showFrame(static_cast<unsigned>(frames));
    return movie.build();
}

TEST_F(NetscapeScripting, FSCommandReachesTheApplicationWithTheDriverAsSender)
{
    TObject* sender = nullptr;
    std::wstring got;
    driver()->OnFSCommand = TkvFSCommandEvent([&](TObject* s, const WideString& c, const WideString& a) {
        sender = s;
        got += c + L"|" + a + L";";
    });
    ActionAssembler a;
    a.fscommand("hello", "world").fscommand("empty", "").stop();
    Load(ScriptMovie(a), L"fscommand.swf");
    EXPECT_EQ(sender, driver());
    EXPECT_EQ(got, L"hello|world;empty|;") << PlayerLog();
}

TEST_F(NetscapeScripting, ExternalCallsBecomeRequestsAndTheHandlersAnswerGoesBack)
{
    std::vector<std::wstring> requests;
    driver()->OnFlashCall = TkvFlashCallEvent([&](TObject* s, const WideString& request) {
        requests.push_back(request);
        static_cast<TkvFlashDriver*>(s)->SetReturnValue(L"<string>Alice &amp; Co</string>");
    });
    ActionAssembler a;
    a.setPath("answer", Emitter([](ActionAssembler& x) {
        x.externalCall("getName", {PushValue("Bob"), PushValue(42), PushValue("a, \"b\" <c>")}, true);
    }));
    a.setPath("none", Emitter([](ActionAssembler& x) { x.externalCall("ping", {}, true); }));
    a.stop();
    Load(ScriptMovie(a), L"external.swf");
    ASSERT_EQ(requests.size(), 2u) << PlayerLog();
    EXPECT_EQ(requests[0],
              L"<invoke name=\"getName\" returntype=\"XML\"><arguments><string>Bob</string><string>42</string>"
              L"<string>a, &quot;b&quot; &lt;c&gt;</string></arguments></invoke>");
    EXPECT_EQ(requests[1], L"<invoke name=\"ping\" returntype=\"XML\"><arguments></arguments></invoke>");
    EXPECT_EQ(player()->GetVariable(L"answer"), L"Alice & Co");
}

TEST_F(NetscapeScripting, AHandlerThatGivesNoAnswerGivesTheMovieAnEmptyValue)
{
    driver()->OnFlashCall = TkvFlashCallEvent([&](TObject*, const WideString&) {});
    ActionAssembler a;
    a.setPath("answer", Emitter([](ActionAssembler& x) { x.externalCall("quiet", {}, true); }));
    a.setPath("after", PushValue("ran"));
    a.stop();
    Load(ScriptMovie(a), L"quiet.swf");
    EXPECT_EQ(player()->GetVariable(L"after"), L"ran") << PlayerLog();
    EXPECT_EQ(player()->GetVariable(L"answer"), L"");
}

TEST_F(NetscapeScripting, CallFunctionReachesACallbackRegisteredByTheMovie)
{
    ActionAssembler body;
    body.push({PushValue("got "), PushValue("x")}).getVariable().add2().return_();
    ActionAssembler a;
    a.defineFunction("echo", {"x"}, body);
    a.addCallback("echo", PushValue(sw::Null{}), Emitter([](ActionAssembler& x) { x.getPath("echo"); }));
    a.stop();
    Load(ScriptMovie(a), L"callback.swf");
    EXPECT_EQ(player()->CallFunction(
                  L"<invoke name=\"echo\" returntype=\"xml\"><arguments><string>hi</string></arguments></invoke>"),
              L"<string>got hi</string>")
        << PlayerLog();
}

TEST_F(NetscapeScripting, PlayControlFramesLoopAndVariablesReachTheMovie)
{
    ActionAssembler a;
    a.stop();
    Load(ScriptMovie(a, 5), L"frames.swf");
    EXPECT_EQ(player()->GetTotalFrames(), 5);
    EXPECT_FALSE(player()->GetIsPlaying());
    EXPECT_EQ(player()->GetCurrentFrame(), 0);

    player()->SetCurrentFrame(3);
    EXPECT_EQ(player()->GetCurrentFrame(), 3);
    player()->Back();
    EXPECT_EQ(player()->GetCurrentFrame(), 2);
    player()->Forward();
    EXPECT_EQ(player()->GetCurrentFrame(), 3);
    player()->Rewind();
    EXPECT_EQ(player()->GetCurrentFrame(), 0);

    player()->Play();
    EXPECT_TRUE(player()->GetIsPlaying());
    Step(2);
    EXPECT_EQ(player()->GetCurrentFrame(), 2);
    player()->StopPlay();
    EXPECT_FALSE(player()->GetIsPlaying());

    player()->SetLoop(false);
    EXPECT_FALSE(player()->GetLoop());
    player()->SetLoop(true);
    EXPECT_TRUE(player()->GetLoop());

    player()->SetVariable(L"greeting", L"h\u00e9llo");
    EXPECT_EQ(player()->GetVariable(L"greeting"), L"h\u00e9llo") << "text crosses as UTF-8 both ways";
}

TEST_F(NetscapeScripting, SetVariableIsTriedOnceMoreWhenThePlayerRefusesIt)
{
    Load(ScriptMovie(ActionAssembler().stop()), L"refuse.swf");
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\KorvelRef\\Plugin\\Fail", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    DWORD one = 1;
    RegSetValueExW(key, L"SetVariable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
    RegCloseKey(key);
    refhost::claimConfig(L"Software\\KorvelRef\\Plugin");  // for this program only
    auto reload = reinterpret_cast<void (*)()>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"npswf32.dll"), "RefPlayer_ReloadConfig")));
    ASSERT_NE(reload, nullptr);
    reload();
    Player().ClearLog();
    player()->SetVariable(L"x", L"1");
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\KorvelRef\\Plugin\\Fail");
    reload();
    const std::string log = PlayerLog();
    const int first = LineOf(log, {"< invoke SetVariable"});
    ASSERT_GE(first, 0) << log;
    int tries = 0;
    for (size_t at = log.find("< invoke SetVariable"); at != std::string::npos; at = log.find("< invoke SetVariable", at + 1))
        ++tries;
    EXPECT_EQ(tries, 2) << log;
}

TEST_F(NetscapeScripting, AHandlerThatReplacesTheDriverDuringAnFSCommandDoesNotPullItAway)
{
    bool changed = false;
    // The default back-end is the plug-in here, so switching between it and
    // kvNetscape makes new drivers of the same kind.
    const TkvFlashDriverClass* const savedDefault = DefaultFlashDriverClass;
    DefaultFlashDriverClass = NetscapeDriverClass;
    struct Restore {
        const TkvFlashDriverClass* cls;
        ~Restore() { DefaultFlashDriverClass = cls; }
    } restore{savedDefault};
    // The application answers the movie by switching back-ends: the driver
    // that is calling it is freed from inside its own call.
    player()->OnFSCommand = TkvFSCommandEvent([&](TObject*, const WideString& c, const WideString&) {
        if (c == L"switch" && !changed) {
            changed = true;
            player()->SetPlugin(kvNetscape);
        }
    });
    player()->SetPlugin(kvDefault);  // same back-end, handler now in the driver
    TkvFlashDriver* before = player()->Driver;
    ActionAssembler a;
    a.fscommand("switch", "").setPath("after", PushValue("still running")).stop();
    Load(ScriptMovie(a), L"switch.swf");
    EXPECT_TRUE(changed) << PlayerLog();
    EXPECT_NE(player()->Driver, before);
    Step(2);
    EXPECT_EQ(player()->GetVariable(L"after"), L"still running") << "the new driver reloaded the movie";
}

}  // namespace
