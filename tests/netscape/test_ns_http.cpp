// Movies downloaded over http: the back-end's download route, driven by a
// real local http server through the urlmon stand-in.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>

#include "kv_nsinternal.h"
#include "ns_support.h"

using namespace nstest;

namespace {

struct Server {
    int port = 0;
    std::wstring root;  // where to put files it serves
};

const Server& HttpServer()
{
    static Server s = [] {
        Server out;
        const char* state = std::getenv("KV_HTTP_STATE");
        if (!state)
            return out;
        std::ifstream in(state);
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("port=", 0) == 0)
                out.port = std::atoi(line.c_str() + 5);
            else if (line.rfind("root=", 0) == 0) {
                out.root = L"Z:";
                for (char c : line.substr(5))
                    out.root += c == '/' ? L'\\' : static_cast<wchar_t>(c);
                out.root += L"\\";
            }
        }
        return out;
    }();
    return s;
}

std::wstring Serve(const std::wstring& name, const std::vector<std::uint8_t>& bytes)
{
    const std::wstring unique = std::to_wstring(GetCurrentProcessId()) + L"-" + name;
    TFileStream f(HttpServer().root + unique, fmCreate);
    f.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    return L"http://127.0.0.1:" + std::to_wstring(HttpServer().port) + L"/" + unique;
}

// Pumps messages (the downloads arrive through them) until `done` or 20 s.
bool PumpUntil(const std::function<bool()>& done)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        Pump();
        Sleep(5);
    }
    return true;
}

// A movie larger than one network piece: an unknown tag the player skips.
std::vector<std::uint8_t> BigMovie(std::uint32_t colour)
{
    sw::Movie movie(8, 100, 100, 12.0);
    std::vector<std::uint8_t> filler(70000, 0x5A);
    movie.rawTag(0x3FF, filler, true);
    sw::ShapeBuilder shape(3);
    shape.rectangle(20 * 20, 20 * 20, 60 * 20, 60 * 20, shape.addFill(sw::Rgba::rgb(colour)), 0);
    sw::PlaceObject p;
    p.character = movie.defineShape(shape);
    movie.place(p);
    movie.showFrame();
    return movie.build();
}

int Count(const std::string& log, std::string_view what)
{
    int n = 0;
    for (size_t at = log.find(what); at != std::string::npos; at = log.find(what, at + 1))
        ++n;
    return n;
}

class NetscapeHttp : public BackEndCase {
protected:
    void SetUp() override
    {
        BackEndCase::SetUp();
        ASSERT_TRUE(Player().Loaded());
        ASSERT_NE(HttpServer().port, 0) << "no http server (KV_HTTP_STATE)";
        ASSERT_TRUE(NetscapeUrlmonAvailable());
        form = NewPlayerForm();
        Player().ClearLog();
    }
    void TearDown() override
    {
        form.reset();
        BackEndCase::TearDown();
    }
    std::unique_ptr<TPlayerForm, FormDeleter> form;
};

TEST_F(NetscapeHttp, AMovieArrivesInPiecesAtRunningOffsetsAndIsNotifiedOnceAtTheEnd)
{
    const auto big = BigMovie(0xC03060);
    const std::wstring url = Serve(L"big.swf", big);
    form->Player->LoadMovie(url);
    ASSERT_TRUE(PumpUntil([&] { return kvns::DownloadsInFlight() == 0; })) << PlayerLog();
    Step(1);
    EXPECT_EQ(Pixel(form->Player->Driver, 50, 50), 0xFFC03060u) << PlayerLog();

    const std::string log = PlayerLog();
    EXPECT_GE(Count(log, "< NPP_Write"), 2) << "more than one piece: " << log;
    EXPECT_GE(LineOf(log, {"< NPP_Write", "offset=0 "}), 0) << log;
    // The player asks twice; each download's stream carries every byte, each
    // piece starting where what the player took of the last one ended, and is
    // notified once, before it ends.
    int streams = 0;
    for (const StreamSeen& s : StreamsSeen(log)) {
        ++streams;
        EXPECT_EQ(s.taken, static_cast<std::int64_t>(big.size())) << s.url;
        EXPECT_TRUE(s.contiguous) << "running offsets: " << log;
        EXPECT_GE(s.notifyLine, 0) << log;
        EXPECT_GT(s.destroyLine, s.notifyLine) << log;
    }
    EXPECT_EQ(streams, 2) << log;
    EXPECT_GE(LineOf(log, {"# checksum of", "big.swf", Checksum(big)}), 0) << "every byte, in order\n" << log;
    EXPECT_GE(LineOf(log, {"# second answer for", "big.swf", Checksum(big)}), 0) << log;
    ExpectSequence(log,
                   {"< NPP_Destroy", "> NPN_ReleaseObject", "< NPP_New ", "> NPN_SetValue variable=3",
                    "> NPN_SetValue variable=4", "< NPP_GetValue variable=15", "> NPN_CreateObject",
                    "> NPN_RetainObject", "> NPN_UTF8FromIdentifier", "< invoke LoadMovie args=[int:0,",
                    "> NPN_GetURLNotify url=\"http://127.0.0.1:", "< NPP_NewStream ",
                    "> NPN_GetURLNotify url=\"http://127.0.0.1:", "< NPP_NewStream "},
                   {"< NPP_Write", "< NPP_HandleEvent", "> NPN_InvalidateRect", "< RefPlayer_StepFrames",
                    "< NPP_URLNotify", "< NPP_DestroyStream", "< NPP_SetWindow"});
    EXPECT_EQ(CountLines(log, {"< NPP_URLNotify", "reason=0"}), 2) << log;
}

TEST_F(NetscapeHttp, AQueryStaysPartOfTheDownloadedUrl)
{
    const std::wstring url = Serve(L"query.swf", RectMovie(0x40C0C0)) + L"?x=1&y=2";
    form->Player->LoadMovie(url);
    ASSERT_TRUE(PumpUntil([&] { return kvns::DownloadsInFlight() == 0; }));
    Step(1);
    EXPECT_EQ(Pixel(form->Player->Driver, 50, 50), 0xFF40C0C0u) << PlayerLog();
    EXPECT_LT(LineOf(PlayerLog(), {"< invoke SetVariable"}), 0) << "not split into movie variables";
}

TEST_F(NetscapeHttp, AFailedDownloadEndsItsStreamWithANetworkError)
{
    form->Player->LoadMovie(L"http://127.0.0.1:" + std::to_wstring(HttpServer().port) + L"/no-such-movie.swf");
    ASSERT_TRUE(PumpUntil([&] { return kvns::DownloadsInFlight() == 0; }));
    const std::string log = PlayerLog();
    EXPECT_GE(LineOf(log, {"< NPP_URLNotify", "reason=1"}), 0) << log;
    EXPECT_GE(LineOf(log, {"< NPP_DestroyStream", "reason=1"}), 0) << log;
    EXPECT_LT(LineOf(log, {"< NPP_Write"}), 0) << log;
}

TEST_F(NetscapeHttp, ADownloadWhoseDriverIsGoneTouchesNeitherDriverNorPlayer)
{
    const std::wstring url = Serve(L"orphan.swf", BigMovie(0x102030));
    form->Player->LoadMovie(url);
    EXPECT_EQ(kvns::DownloadsInFlight(), 2) << "the player asks twice";
    form.reset();  // the form, its player and its driver go while the data is on its way
    Player().ClearLog();
    ASSERT_TRUE(PumpUntil([&] { return kvns::DownloadsInFlight() == 0; })) << "finished downloads leave the list";
    EXPECT_LT(LineOf(PlayerLog(), {"< NPP_Write"}), 0) << PlayerLog();
    EXPECT_EQ(Player().InstanceCount(), 0);
}

}  // namespace
