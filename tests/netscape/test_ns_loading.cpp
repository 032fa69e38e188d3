// Movies reach the reference plug-in through every route the back-end
// resolves, and draw.
#include <gtest/gtest.h>

#include "kv_flashstore.h"
#include "kv_hostfiles.h"
#include "kv_nsinternal.h"
#include "kv_pendingstreams.h"
#include "kv_urltext.h"
#include "ns_support.h"

using namespace nstest;

namespace {

constexpr std::uint32_t kRed = 0xE02010;
constexpr std::uint32_t kBackground = 0xFF404040u;  // the player's own colour

class NetscapeLoading : public BackEndCase {
protected:
    void SetUp() override
    {
        BackEndCase::SetUp();
        ASSERT_TRUE(Player().Loaded()) << "npswf32.dll was not loaded from beside the test program";
        ASSERT_TRUE(TkvFlashDriverNS::PluginExists());
        form = NewPlayerForm();
        ASSERT_STREQ(player()->Driver->DriverClass().ClassName(), L"TkvFlashDriverNS");
        Player().ClearLog();
    }
    void TearDown() override
    {
        form.reset();
        BackEndCase::TearDown();
    }
    TkvFlashPlayer* player() { return form->Player; }
    // The rectangle drawn by the movie, over the player's own background.
    void ExpectMovieDrawn(std::uint32_t colour = kRed)
    {
        Step(1);
        EXPECT_EQ(Pixel(player()->Driver, 50, 50), 0xFF000000u | colour) << PlayerLog();
        EXPECT_EQ(Pixel(player()->Driver, 5, 5), kBackground) << "the stage background is not painted";
    }
    void ExpectNothingDrawn()
    {
        Step(1);
        EXPECT_EQ(Pixel(player()->Driver, 50, 50), kBackground);
    }
    std::unique_ptr<TPlayerForm, FormDeleter> form;
};

// Calls whose order the handshakes below do not fix: painting and the
// tests' own clock.
const std::vector<std::string_view> kBesideTheHandshake = {"< NPP_HandleEvent", "> NPN_InvalidateRect",
                                                           "< RefPlayer_StepFrames"};
// The same, and the pieces of the data, which the player takes in parts:
// their bytes are checked on their own (StreamsSeen).
const std::vector<std::string_view> kBesideTheStreams = {"< NPP_HandleEvent", "> NPN_InvalidateRect",
                                                         "< RefPlayer_StepFrames", "< NPP_Write"};

// A file name as the player's log quotes it.
std::string Quoted(const std::wstring& path)
{
    std::string out;
    for (wchar_t c : path) {
        if (c == L'\\')
            out += "\\\\";
        else
            out += static_cast<char>(c);
    }
    return out;
}
// A new instance: windowless and transparent before the scriptable object is
// asked for; the window comes with the first movie.
const std::vector<std::string_view> kCreation = {
    "< NPP_New type=\"application/x-shockwave-flash\" mode=1 "
    "args=[wmode=\"transparent\",bgcolor=\"#0\",width=\"100\",height=\"100\"]",
    "> NPN_SetValue variable=3 value=null",
    "> NPN_SetValue variable=4 value=1",
    "< NPP_GetValue variable=15",
    "> NPN_CreateObject",
    "> NPN_RetainObject"};
// A movie by name starts from a fresh instance.
std::vector<std::string_view> Recreation(std::initializer_list<std::string_view> then)
{
    std::vector<std::string_view> calls = {"< NPP_Destroy", "> NPN_ReleaseObject"};
    calls.insert(calls.end(), kCreation.begin(), kCreation.end());
    calls.insert(calls.end(), then);
    return calls;
}

TEST_F(NetscapeLoading, CreationLoadingAndTeardownCallThePluginInTheirOrder)
{
    Player().ClearLog();
    auto second = NewPlayerForm();
    ExpectSequence(PlayerLog(),
                   kCreation, kBesideTheHandshake);

    // A local file: a fresh instance, one request answered inside it the way
    // a minimal host does (the whole file in one write, the notification
    // before the stream's end), then the window.
    Player().ClearLog();
    second->Player->LoadMovie(WriteFile(L"handshake.swf", RectMovie(kRed)));
    Step(1);
    // The player asks for its movie twice: each request is answered the same way.
    ExpectSequence(PlayerLog(),
                   Recreation({"> NPN_UTF8FromIdentifier", "< invoke LoadMovie args=[int:0,", "> NPN_GetURLNotify url=",
                               "< NPP_NewStream type=\"application/x-shockwave-flash\"", "< NPP_URLNotify ",
                               "< NPP_DestroyStream ", "< NPP_SetWindow type=2 x=0 y=0 width=100 height=100 window=set",
                               "> NPN_GetURLNotify url=", "< NPP_NewStream type=\"application/x-shockwave-flash\"",
                               "< NPP_URLNotify ", "< NPP_DestroyStream ",
                               "< NPP_SetWindow type=2 x=0 y=0 width=100 height=100 window=set"}),
                   kBesideTheStreams);
    EXPECT_EQ(Pixel(second->Player->Driver, 50, 50), 0xFF000000u | kRed);

    Player().ClearLog();
    second.reset();
    Pump();
    ExpectSequence(PlayerLog(), {"< NPP_Destroy", "> NPN_ReleaseObject"}, kBesideTheHandshake);
}

TEST_F(NetscapeLoading, FromAFilePath)
{
    const std::wstring path = WriteFile(L"route-file.swf", RectMovie(kRed));
    player()->LoadMovie(path);
    ExpectMovieDrawn();
}

TEST_F(NetscapeLoading, FromACompressedFileThroughAFileUrlWithEscapedBlanks)
{
    std::wstring path = WriteFile(L"route url.swf", RectMovie(0x2040F0, 255, {}, sw::Compression::Zlib));
    std::wstring url = L"file:///";
    for (wchar_t c : path)
        url += c == L'\\' ? std::wstring(L"/") : c == L' ' ? std::wstring(L"%20") : std::wstring(1, c);
    player()->LoadMovie(url);
    ExpectMovieDrawn(0x2040F0);
}

TEST_F(NetscapeLoading, FromAnInMemoryStreamWhichIsCopiedAndNotKept)
{
    const auto bytes = RectMovie(0x10C040);
    {
        TMemoryStream stream;
        stream.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
        stream.SetPosition(0);
        player()->LoadMovieFromStream(&stream);
    }  // the application's stream is gone; the copy plays
    EXPECT_EQ(player()->GetMovie(), L"");
    ExpectMovieDrawn(0x10C040);
    EXPECT_NE(PlayerLog().find("<stream>"), std::string::npos) << "served through the stream pseudo-URL";
}

TEST_F(NetscapeLoading, AStreamCopyIsServedAgainUntilTheNextLoadOrTheDriversEnd)
{
    const auto bytes = RectMovie(0x10C040);
    TMemoryStream stream;
    stream.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    stream.SetPosition(0);
    player()->LoadMovieFromStream(&stream);
    ExpectMovieDrawn(0x10C040);
    const std::string log = PlayerLog();
    const size_t at = log.find("<stream>");
    ASSERT_NE(at, std::string::npos) << log;
    const std::string name = log.substr(at, 8 + 8 + 4);  // marker, identifier, ".swf"
    unsigned id = 0;
    ASSERT_TRUE(ParseStreamId(std::wstring(name.begin() + 8, name.begin() + 16), id)) << name;

    // Asked for twice more (a reload): delivered each time.
    Player().ClearLog();
    auto* d = static_cast<TkvFlashDriverNS*>(player()->Driver);
    const std::wstring url = L"http://kvs/" + std::wstring(name.begin(), name.end());
    d->CreateStream(url, nullptr);
    d->CreateStream(url, nullptr);
    const std::string again = PlayerLog();
    int streams = 0;
    for (size_t p = again.find("NPP_NewStream"); p != std::string::npos; p = again.find("NPP_NewStream", p + 1)) {
        const size_t end = again.find('\n', p);
        if (again.substr(p, end == std::string::npos ? end : end - p).find(name) != std::string::npos)
            ++streams;
    }
    EXPECT_EQ(streams, 2) << again;

    // The next load replaces it; the driver's end takes the last one.
    stream.SetPosition(0);
    player()->LoadMovieFromStream(&stream);
    EXPECT_FALSE(kvpending::Contains(id));
    EXPECT_EQ(kvpending::Count(), 1);
    player()->LoadMovie(L"resmovie.swf");
    EXPECT_EQ(kvpending::Count(), 0);
    stream.SetPosition(0);
    player()->LoadMovieFromStream(&stream);
    EXPECT_EQ(kvpending::Count(), 1);
    form.reset();
    Pump();
    EXPECT_EQ(kvpending::Count(), 0);
}

TEST_F(NetscapeLoading, FromAMovieStoreByTheLastSegmentOfALongerPath)
{
    TkvFlashList store(form.get());
    TkvFlashStream* item = store.Flashs()->Add();
    const auto bytes = RectMovie(0x8020A0);
    item->DataStream()->WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    item->SetFlashStore(L"Intro.swf");
    player()->LoadMovie(L"movies/sub/intro.swf");  // no such file anywhere
    ExpectMovieDrawn(0x8020A0);
}

TEST_F(NetscapeLoading, FromAResourceOfThePackagesOwnModule)
{
    // The test program carries RESMOVIE (a blue rectangle movie) as RCDATA; the
    // package is linked into it.
    player()->LoadMovie(L"resmovie.swf");
    ExpectMovieDrawn(0x0000FF);
}

TEST_F(NetscapeLoading, QueryVariablesArriveAfterTheMovieInOrder)
{
    WriteFile(L"query.swf", RectMovie(kRed));
    player()->LoadMovie(TempFolder() + L"query.swf?first=1&second = two words ");
    ExpectMovieDrawn();
    EXPECT_EQ(player()->GetVariable(L"first"), L"1");
    EXPECT_EQ(player()->GetVariable(L"second"), L"two words");
    const std::vector<std::string_view> delivery = {
        "> NPN_GetURLNotify url=", "< NPP_NewStream ", "< NPP_URLNotify ", "< NPP_DestroyStream ",
        "< invoke SetVariable args=[\"first\",\"1\"]", "< invoke SetVariable args=[\"second\",\"two words\"]",
        "< NPP_SetWindow "};
    std::vector<std::string_view> calls = Recreation({"< invoke LoadMovie args=[int:0,"});
    calls.insert(calls.end(), delivery.begin(), delivery.end());
    calls.insert(calls.end(), delivery.begin(), delivery.end());  // the player asks twice
    ExpectSequence(PlayerLog(), calls,
                   {"< NPP_HandleEvent", "> NPN_InvalidateRect", "< RefPlayer_StepFrames", "> NPN_UTF8FromIdentifier",
                    "< invoke GetVariable", "< NPP_Write"});
}

// A local movie: for each request, one stream of the movie's MIME type,
// seekable and asked for as NP_NORMAL, carrying every byte of the file in
// order whatever parts the player takes; then the notification, then the
// stream's end, then the window.
TEST_F(NetscapeLoading, ALocalMovieIsStreamedWholeThenNotifiedThenEndedThenTheWindowReset)
{
    const auto bytes = RectMovie(kRed);
    const std::wstring path = WriteFile(L"sequence.swf", bytes);
    const std::string url = Quoted(path);
    const std::string size = std::to_string(bytes.size());
    player()->LoadMovie(path);
    ExpectMovieDrawn();
    const std::string log = PlayerLog();
    const std::string request = "> NPN_GetURLNotify url=\"" + url + "\" target=null notify=";
    const std::string stream = "< NPP_NewStream type=\"application/x-shockwave-flash\" url=\"" + url + "\" end=" + size;
    const std::string notify = "< NPP_URLNotify url=\"" + url + "\" reason=0";
    const std::string end = "< NPP_DestroyStream url=\"" + url + "\" end=" + size;
    const std::vector<std::string_view> delivery = {request, stream, notify, end,
                                                    "< NPP_SetWindow type=2 x=0 y=0 width=100 height=100 window=set"};
    std::vector<std::string_view> calls = Recreation({"> NPN_UTF8FromIdentifier", "< invoke LoadMovie args=[int:0,"});
    calls.insert(calls.end(), delivery.begin(), delivery.end());
    calls.insert(calls.end(), delivery.begin(), delivery.end());  // the player asks twice
    ExpectSequence(log, calls, kBesideTheStreams);
    EXPECT_EQ(CountLines(log, {"< NPP_NewStream", url, "seekable=1 stype=1"}), 2) << log;
    EXPECT_EQ(CountLines(log, {"< NPP_DestroyStream", url, "reason=0"}), 2) << log;
    const auto streams = StreamsSeen(log);
    ASSERT_EQ(streams.size(), 2u) << log;
    for (const StreamSeen& s : streams) {
        EXPECT_EQ(s.taken, static_cast<std::int64_t>(bytes.size()));
        EXPECT_TRUE(s.contiguous) << log;
    }
    EXPECT_GE(LineOf(log, {"# checksum of", url, Checksum(bytes)}), 0) << "every byte, in order\n" << log;
}

// A stream the player refuses carries no data and no notification inside the
// request, yet the request's variables are set and the window is reset; the
// request is told it failed later, from the message loop.
TEST_F(NetscapeLoading, AStreamThePlayerRefusesStillSetsTheVariablesAndResetsTheWindow)
{
    WriteFile(L"refusedq.swf", RectMovie(kRed));
    {
        const PlayerSetting refuse(L"NPP_NewStream", NPERR_GENERIC_ERROR, L"Fail");
        player()->LoadMovie(TempFolder() + L"refusedq.swf?first=1&second=2");
    }
    std::string log = PlayerLog();
    const std::vector<std::string_view> delivery = {"> NPN_GetURLNotify url=", "< NPP_NewStream ",
                                                    "< invoke SetVariable args=[\"first\",\"1\"]",
                                                    "< invoke SetVariable args=[\"second\",\"2\"]", "< NPP_SetWindow "};
    std::vector<std::string_view> calls = Recreation({"< invoke LoadMovie args=[int:0,"});
    calls.insert(calls.end(), delivery.begin(), delivery.end());
    calls.insert(calls.end(), delivery.begin(), delivery.end());  // the player asks twice
    ExpectSequence(log, calls, {"< NPP_HandleEvent", "> NPN_InvalidateRect", "> NPN_UTF8FromIdentifier"});
    EXPECT_EQ(CountLines(log, {"NPP_NewStream answers 1 as configured"}), 2) << log;
    for (int i = 0; i < 5; ++i)
        Pump();
    log = PlayerLog();
    EXPECT_EQ(CountLines(log, {"< NPP_URLNotify", "refusedq.swf", "reason=1"}), 2) << "told later, once each\n" << log;
    EXPECT_LT(LineOf(log, {"< NPP_Write"}), 0) << log;
    EXPECT_LT(LineOf(log, {"< NPP_URLNotify", "reason=0"}), 0) << log;
}

// The current folder, for one case.
class TCurrentFolder {
public:
    explicit TCurrentFolder(const std::wstring& folder)
    {
        wchar_t buf[MAX_PATH * 2] = {};
        GetCurrentDirectoryW(static_cast<DWORD>(std::size(buf)), buf);
        previous_ = buf;
        SetCurrentDirectoryW(folder.c_str());
    }
    ~TCurrentFolder() { SetCurrentDirectoryW(previous_.c_str()); }
    TCurrentFolder(const TCurrentFolder&) = delete;
    TCurrentFolder& operator=(const TCurrentFolder&) = delete;

private:
    std::wstring previous_;
};

// A name that is no file as it stands is looked for by its last segment in
// the current folder, then as a path below the program's folder, in that
// order; the request keeps the name it was made with.
TEST_F(NetscapeLoading, ANameIsFoundByItsFileNameInTheCurrentFolderThenBelowTheProgramsFolder)
{
    TCurrentFolder current(TempFolder());  // not the program's folder
    const std::wstring sub = L"kvrules-" + std::to_wstring(GetCurrentProcessId());
    const std::wstring below = ExecutableFolder() + sub;
    ASSERT_TRUE(CreateDirectoryW(below.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    const std::wstring inCurrent = WriteFile(L"rule-order.swf", RectMovie(kRed));
    const std::wstring inProgram = below + L"\\rule-order.swf";
    {
        const auto bytes = RectMovie(0x2040F0);
        TFileStream f(inProgram, fmCreate);
        f.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    }
    const std::wstring name = sub + L"/rule-order.swf";  // relative: no file in the current folder
    const std::string asked = "url=\"" + std::string(name.begin(), name.end()) + "\"";

    player()->LoadMovie(name);
    ExpectMovieDrawn(kRed);  // the file name, in the current folder
    EXPECT_GE(LineOf(PlayerLog(), {"< NPP_NewStream ", asked}), 0) << PlayerLog();

    DeleteFileW(inCurrent.c_str());
    Player().ClearLog();
    player()->LoadMovie(name);
    ExpectMovieDrawn(0x2040F0);  // the whole name, below the program's folder
    EXPECT_GE(LineOf(PlayerLog(), {"< NPP_NewStream ", asked}), 0) << PlayerLog();

    DeleteFileW(inProgram.c_str());
    RemoveDirectoryW(below.c_str());
    Player().ClearLog();
    player()->LoadMovie(name);
    Step(1);
    EXPECT_LT(LineOf(PlayerLog(), {"< NPP_NewStream "}), 0) << "neither is there any more\n" << PlayerLog();
}

// A stream copy is also found by its marker without the host and without the
// leading slash: the player receives it whole under that name.
TEST_F(NetscapeLoading, AStreamCopyIsFoundByItsMarkerWithoutTheLeadingSlash)
{
    const auto bytes = RectMovie(0x10C040);
    TMemoryStream stream;
    stream.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    stream.SetPosition(0);
    player()->LoadMovieFromStream(&stream);
    ExpectMovieDrawn(0x10C040);
    const std::string log = PlayerLog();
    const size_t at = log.find("<stream>");
    ASSERT_NE(at, std::string::npos) << log;
    const std::string name = log.substr(at, 8 + 8 + 4);  // marker, identifier, ".swf"

    // Asked for by the plug-in through the browser entry, as a movie's own
    // request would be.
    auto* d = static_cast<TkvFlashDriverNS*>(player()->Driver);
    const NPNetscapeFuncs& browser = kvns::BrowserFuncs();
    Player().ClearLog();
    ASSERT_EQ(browser.geturlnotify(&d->Instance, name.c_str(), nullptr, nullptr), NPERR_NO_ERROR);
    Pump();
    const std::string size = std::to_string(bytes.size());
    const std::string served = "url=\"" + name + "\" end=" + size;
    // The player takes the body in parts: the writes are checked by what
    // arrived, not by their number.
    ExpectSequence(PlayerLog(),
                   {"< NPP_NewStream type=\"application/x-shockwave-flash\" " + served, "< NPP_URLNotify ",
                    "< NPP_DestroyStream " + served + " notify=0 reason=0", "< NPP_SetWindow "},
                   {"< NPP_HandleEvent", "> NPN_InvalidateRect", "> NPN_GetURLNotify", "< NPP_WriteReady",
                    "< NPP_Write ", "# took ", "# checksum"});
    int streams = 0;
    for (const StreamSeen& seen : StreamsSeen(PlayerLog())) {
        if (seen.url.find(name) == std::string::npos)
            continue;
        ++streams;
        EXPECT_EQ(seen.taken, static_cast<std::int64_t>(bytes.size())) << seen.url;
        EXPECT_TRUE(seen.contiguous) << seen.url;
    }
    EXPECT_GE(streams, 1) << PlayerLog();

    // Without the slash and with an identifier that names no copy: nothing.
    Player().ClearLog();
    ASSERT_EQ(browser.geturlnotify(&d->Instance, "<stream>0000BEEF.swf", nullptr, nullptr), NPERR_NO_ERROR);
    Pump();
    EXPECT_LT(LineOf(PlayerLog(), {"< NPP_NewStream "}), 0) << PlayerLog();
}

TEST_F(NetscapeLoading, RequestsThatNameNothingDeliverNothing)
{
    player()->LoadMovie(L"http://kvs/<stream>0000BEEF.swf");  // no such pending copy
    ExpectNothingDrawn();
    player()->LoadMovie(TempFolder() + L"missing.swf");
    ExpectNothingDrawn();
    player()->LoadMovie(L"");  // an empty name does nothing at all
    ExpectNothingDrawn();
}

TEST_F(NetscapeLoading, AFileThatExistsButCannotBeOpenedIsDroppedQuietly)
{
    const std::wstring path = WriteFile(L"locked.swf", RectMovie(kRed));
    HANDLE lock = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    player()->LoadMovie(path);  // no exception reaches the plug-in or the caller
    ExpectNothingDrawn();
    EXPECT_LT(LineOf(PlayerLog(), {"< NPP_NewStream"}), 0) << PlayerLog();
    CloseHandle(lock);
    player()->LoadMovie(path);
    ExpectMovieDrawn();
}

TEST_F(NetscapeLoading, AMovieThatIsNotASwfIsRefusedByThePlayerWithoutHarm)
{
    const std::wstring path = WriteFile(L"garbage.swf", std::vector<std::uint8_t>{'F', 'W', 'S', 8, 0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3});
    player()->LoadMovie(path);
    ExpectNothingDrawn();
    player()->LoadMovie(WriteFile(L"after-garbage.swf", RectMovie(kRed)));
    ExpectMovieDrawn();
}

// A stored form holding a movie store and a player plays its stored movie.
class TStoreForm : public TForm {
    KV_CLASS(TStoreForm, TForm)
public:
    explicit TStoreForm(TComponent* owner) : TForm(owner) {}
};

}  // namespace

const TClassInfo& TStoreForm::StaticClass()
{
    static const TClassInfo info = TClassBuilder<TStoreForm>(L"TStoreForm").Build();
    return info;
}

namespace {

TEST_F(NetscapeLoading, AStoredFormWithAStoreAndAPlayerPlaysItsStoredMovieWhenReadBack)
{
    RegisterClass(TStoreForm::StaticClass());
    TMemoryStream data;
    {
        std::unique_ptr<TStoreForm, FormDeleter> f(new TStoreForm(nullptr));
        f->AfterConstruction();
        auto* store = new TkvFlashList(f.get());
        store->SetName(L"Store");
        TkvFlashStream* item = store->Flashs()->Add();
        const auto bytes = RectMovie(0x30A030);
        item->DataStream()->WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
        item->SetFlashStore(L"kept.swf");
        auto* p = new TkvFlashPlayer(f.get());
        p->SetPlugin(kvNetscape);
        p->SetName(L"Player");
        p->SetParent(f.get());
        p->SetTransparent(false);
        p->SetColor(static_cast<TColor>(0x00404040));
        p->SetBounds(0, 0, 100, 100);
        p->LoadMovie(L"kept.swf");
        f->SaveToStream(data);
    }
    ASSERT_EQ(FlashList, nullptr) << "the store went with its form";
    data.SetPosition(0);
    std::unique_ptr<TStoreForm, FormDeleter> f(new TStoreForm(nullptr));
    f->AfterConstruction();
    f->LoadFromStream(data);
    f->Show();
    Pump();
    auto* p = dynamic_cast<TkvFlashPlayer*>(f->FindComponent(L"Player"));
    ASSERT_NE(p, nullptr);
    Step(1);
    EXPECT_EQ(Pixel(p->Driver, 50, 50), 0xFF30A030u) << PlayerLog();
}

}  // namespace
