// Every request a movie makes ends: served, refused at once, or told of its
// failure from the message loop, exactly once. The movies make their requests
// from frame scripts; a request that hangs fails the bounded waits here.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "host_config.h"
#include "kv_nsinternal.h"
#include "ns_support.h"

using namespace nstest;

namespace {

using sw::ActionAssembler;
using sw::PushValue;

// Handles messages until `done` or 5 s.
bool PumpUntil(const std::function<bool()>& done)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        Pump();
        Sleep(2);
    }
    return true;
}

// A movie whose second frame runs `request` (so the request is made while the
// test steps the player, after the movie itself has arrived) and then stops.
std::vector<std::uint8_t> RequestMovie(const ActionAssembler& request)
{
    sw::Movie movie(8, 100, 100, 12.0);
    movie.showFrame();
    ActionAssembler a = request;
    a.stop();
    movie.doAction(a);
    movie.showFrame();
    return movie.build();
}

// The reference plug-in's failure injection for one entry, for this program.
class InjectedFailure {
public:
    InjectedFailure(const wchar_t* entry, DWORD code) : entry_(entry)
    {
        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\KorvelRef\\Plugin\\Fail", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr);
        RegSetValueExW(key, entry, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&code), sizeof code);
        RegCloseKey(key);
        refhost::claimConfig(L"Software\\KorvelRef\\Plugin");
        Reload();
    }
    ~InjectedFailure()
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\KorvelRef\\Plugin\\Fail");
        Reload();
    }

private:
    static void Reload()
    {
        auto reload = reinterpret_cast<void (*)()>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"npswf32.dll"), "RefPlayer_ReloadConfig")));
        if (reload)
            reload();
    }
    const wchar_t* entry_;
};

class NetscapeRequests : public BackEndCase {
protected:
    void SetUp() override
    {
        BackEndCase::SetUp();
        ASSERT_TRUE(Player().Loaded());
        form = NewPlayerForm();
        player()->Driver->OnFSCommand = TkvFSCommandEvent([this](TObject*, const WideString& c, const WideString& a) {
            commands.push_back(c + L":" + a);
        });
        Player().ClearLog();
    }
    void TearDown() override
    {
        form.reset();
        BackEndCase::TearDown();
    }
    TkvFlashPlayer* player() { return form->Player; }

    // How many requests for `url` the player made (it may ask for one URL
    // more than once): each must end exactly once.
    static int Requests(const std::string& log, std::string_view url)
    {
        return CountLines(log, {"> NPN_GetURLNotify", url}) + CountLines(log, {"> NPN_PostURLNotify", url});
    }

    // Plays `movie` and runs its request without handling messages, then
    // checks that the failure is told once, from the message loop, with a
    // network error, and that the player takes it as the request's end.
    void ExpectFailureToldLater(const std::vector<std::uint8_t>& movie, const wchar_t* name, std::string_view url)
    {
        player()->LoadMovie(WriteFile(name, movie));
        Pump();
        Player().ClearLog();
        Player().StepFrames(nullptr, 1);  // the request is made here
        std::string log = PlayerLog();
        ASSERT_GE(LineOf(log, {"> NPN_", url}), 0) << "no request made: " << log;
        EXPECT_EQ(CountLines(log, {"< NPP_URLNotify"}), 0) << "told inside the plug-in's own call: " << log;
        EXPECT_GE(kvns::FailuresWaiting(), 1);
        ASSERT_TRUE(PumpUntil([&] { return CountLines(PlayerLog(), {"< NPP_URLNotify", url}) > 0; }))
            << "the request never ended: " << PlayerLog();
        for (int i = 0; i < 5; ++i)
            Pump();
        log = PlayerLog();
        const int requests = Requests(log, url);
        ASSERT_GE(requests, 1) << log;
        EXPECT_EQ(CountLines(log, {"< NPP_URLNotify", url}), requests) << log;
        EXPECT_EQ(CountLines(log, {"< NPP_URLNotify", url, "reason=1"}), requests) << log;
        EXPECT_GE(LineOf(log, {"# request", url, "failed"}), 0) << "the player saw the request end: " << log;
        EXPECT_EQ(kvns::FailuresWaiting(), 0);
    }

    std::unique_ptr<TPlayerForm, FormDeleter> form;
    std::vector<WideString> commands;
};

TEST_F(NetscapeRequests, RequestsThatCannotBeServedAreToldOfTheirFailureOnceFromTheMessageLoop)
{
    // A name that resolves to nothing.
    ExpectFailureToldLater(RequestMovie(ActionAssembler().getUrl("no-such-movie.swf", "_level1")), L"req-none.swf",
                           "no-such-movie.swf");
    // A page for a browser window: there is none.
    ExpectFailureToldLater(RequestMovie(ActionAssembler().getUrl("http://127.0.0.1:9/page.html", "_blank")),
                           L"req-window.swf", "page.html");
    // A post: the package sends nothing anywhere.
    ActionAssembler post;
    post.setPath("answer", PushValue("42")).push({PushValue("post-target.txt"), PushValue("_level0")});
    post.getUrl2(sw::SendVars::Post, false, true);
    ExpectFailureToldLater(RequestMovie(post), L"req-post.swf", "post-target.txt");
    EXPECT_GE(LineOf(PlayerLog(), {"> NPN_PostURLNotify", "post-target.txt"}), 0) << "sent as a post";
}

TEST_F(NetscapeRequests, AFileThePlayerRefusesToStreamIsToldItFailed)
{
    WriteFile(L"refused.swf", RectMovie(0x00FF00));
    const auto movie = RequestMovie(ActionAssembler().getUrl("refused.swf", "_level1"));
    player()->LoadMovie(WriteFile(L"req-refused.swf", movie));
    Pump();
    Player().ClearLog();
    {
        InjectedFailure refuse(L"NPP_NewStream", NPERR_GENERIC_ERROR);
        Player().StepFrames(nullptr, 1);
    }
    ASSERT_TRUE(PumpUntil([] { return CountLines(PlayerLog(), {"< NPP_URLNotify", "refused.swf"}) > 0; })) << PlayerLog();
    Pump();
    const std::string log = PlayerLog();
    EXPECT_EQ(CountLines(log, {"< NPP_URLNotify", "refused.swf", "reason=1"}), Requests(log, "refused.swf")) << log;
    EXPECT_EQ(CountLines(log, {"< NPP_Write"}), 0) << log;
}

TEST_F(NetscapeRequests, ARefusedDownloadLeavesTheDownloadListAtOnceAndIsToldItFailed)
{
    const auto movie = RequestMovie(ActionAssembler().getUrl("https://127.0.0.1:9/refused.swf", "_level1"));
    player()->LoadMovie(WriteFile(L"req-dl-refused.swf", movie));
    Pump();
    Player().ClearLog();
    {
        InjectedFailure refuse(L"NPP_NewStream", NPERR_GENERIC_ERROR);
        Player().StepFrames(nullptr, 1);
    }
    EXPECT_GE(LineOf(PlayerLog(), {"< NPP_NewStream", "https://127.0.0.1:9/refused.swf"}), 0)
        << "https takes the download route: " << PlayerLog();
    EXPECT_EQ(kvns::DownloadsInFlight(), 0);
    ASSERT_TRUE(PumpUntil([] { return CountLines(PlayerLog(), {"< NPP_URLNotify", "refused.swf"}) > 0; })) << PlayerLog();
    Pump();
    EXPECT_EQ(CountLines(PlayerLog(), {"< NPP_URLNotify", "refused.swf", "reason=1"}),
              Requests(PlayerLog(), "refused.swf"))
        << PlayerLog();
}

TEST_F(NetscapeRequests, OnlyAJavascriptSchemeIsRefusedAPathWithJavaInItLoads)
{
    // Refused at once with an error code: no notification follows.
    const auto script = RequestMovie(ActionAssembler().getUrl("JavaScript:alert(1)", "_self"));
    player()->LoadMovie(WriteFile(L"req-script.swf", script));
    Pump();
    Player().ClearLog();
    Step(1);
    for (int i = 0; i < 5; ++i)
        Pump();
    std::string log = PlayerLog();
    EXPECT_GE(LineOf(log, {"refused by the host: 10"}), 0) << log;
    EXPECT_EQ(CountLines(log, {"< NPP_URLNotify"}), 0) << log;

    // A movie in a folder named for the language loads like any other, and
    // says so through FSCommand.
    CreateDirectoryW((TempFolder() + L"javaapps").c_str(), nullptr);
    const std::wstring intro =
        WriteFile(L"javaapps\\intro.swf", RectMovie(0x00FF00, 255, ActionAssembler().fscommand("loaded", "intro")));
    std::string introUrl;
    for (wchar_t c : intro)
        introUrl += static_cast<char>(c);
    const auto loader = RequestMovie(ActionAssembler().getUrl(introUrl, "_level1"));
    player()->LoadMovie(WriteFile(L"req-java.swf", loader));
    Pump();
    Player().ClearLog();
    Step(1);
    ASSERT_TRUE(PumpUntil([&] {
        Step(1);
        return !commands.empty() && commands.back() == L"loaded:intro";
    })) << PlayerLog();
    log = PlayerLog();
    EXPECT_EQ(CountLines(log, {"< NPP_URLNotify", "intro.swf", "reason=0"}), Requests(log, "intro.swf")) << log;
}

TEST_F(NetscapeRequests, AnHttpsUrlIsDownloadedAndEndsOnceWhenTheServiceCannotFetchIt)
{
    // Under plain Wine the system's URL service cannot fetch anything: the
    // download starts, fails, and the movie's request still ends once.
    const auto movie = RequestMovie(ActionAssembler().getUrl("https://127.0.0.1:9/movie.swf?a=1", "_level1"));
    player()->LoadMovie(WriteFile(L"req-https.swf", movie));
    Pump();
    Player().ClearLog();
    Player().StepFrames(nullptr, 1);
    ASSERT_TRUE(PumpUntil([] { return kvns::DownloadsInFlight() == 0 && kvns::FailuresWaiting() == 0; }))
        << PlayerLog();
    Pump();
    const std::string log = PlayerLog();
    EXPECT_GE(LineOf(log, {"< NPP_NewStream", "https://127.0.0.1:9/movie.swf?a=1"}), 0)
        << "the query stays part of the URL: " << log;
    EXPECT_EQ(CountLines(log, {"< NPP_URLNotify", "movie.swf"}), Requests(log, "movie.swf")) << log;
    EXPECT_GE(LineOf(log, {"< NPP_URLNotify", "movie.swf", "reason=1"}), 0) << log;
    EXPECT_GE(LineOf(log, {"< NPP_DestroyStream", "movie.swf", "reason=1"}), 0) << log;
    EXPECT_LT(LineOf(log, {"< invoke SetVariable"}), 0) << log;
}

TEST_F(NetscapeRequests, StringsHandedToThePluginInResultsAreReleasedByIt)
{
    int calls = 0;
    player()->Driver->OnFlashCall = TkvFlashCallEvent([&](TObject* sender, const WideString&) {
        ++calls;
        static_cast<TkvFlashDriver*>(sender)->SetReturnValue(L"<string>answer</string>");
    });
    // A two-frame loop whose every frame makes an external call and an FSCommand.
    sw::Movie movie(8, 100, 100, 12.0);
    ActionAssembler a;
    a.setPath("got", sw::Emitter([](ActionAssembler& x) { x.externalCall("ask", {PushValue("q")}, true); }));
    a.fscommand("tick", "");
    movie.doAction(a);
    movie.showFrame();
    movie.doAction(a);
    movie.showFrame();
    player()->LoadMovie(WriteFile(L"req-results.swf", movie.build()));
    Step(2);
    ASSERT_GT(calls, 0) << PlayerLog();
    const int before = kvns::MemBlocksInUse();
    const int callsBefore = calls;
    Step(20);
    EXPECT_GE(calls - callsBefore, 20);
    EXPECT_EQ(player()->GetVariable(L"got"), L"answer");
    EXPECT_EQ(kvns::MemBlocksInUse(), before) << "every answer went back to browser memory";
}

}  // namespace
