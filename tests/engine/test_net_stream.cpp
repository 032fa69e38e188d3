// Progressive video on the player's standard classes: a NetConnection
// connected to null, a NetStream that fetches its file through the host and
// plays it on the player's clock, its onStatus and onMetaData, and a video
// object on the stage that shows it through attachVideo.
#include "engine_test_support.h"

#include "media/flv.h"
#include "media/screen_video.h"

#include <gtest/gtest.h>

using namespace enginetest;
namespace media = refplayer::media;

namespace {

constexpr const char* kResolvedUrl = "http://example.test/movies/clip.flv";
constexpr uint32_t kWhitePx = 0xFFFFFFFFu;

uint32_t Colour(int k) { return 0xFF000000u | (0x30u * (k + 1)) << 16 | 0x40u; }

// Four frames of 20 x 10, each one colour, at 12 per second: timestamps 0,
// 83, 167, 250; the stream ends at 333 ms.
std::vector<uint8_t> Video()
{
    std::vector<media::VideoImage> images;
    for (int k = 0; k < 4; ++k) {
        media::VideoImage img;
        img.width = 20;
        img.height = 10;
        img.pixels.assign(200, Colour(k));
        images.push_back(img);
    }
    return media::writeScreenVideoFlv(images, media::ScreenVideoFlvOptions{});
}

sw::Emitter path(const std::string& dotted)
{
    return [dotted](sw::ActionAssembler& e) { e.getPath(dotted); };
}

// _root.log += <what `append` leaves> + ","
sw::ActionAssembler appendToLog(const std::function<void(sw::ActionAssembler&)>& append)
{
    sw::ActionAssembler b;
    b.setPath("_root.log", sw::Emitter([&](sw::ActionAssembler& e) {
        e.getPath("_root.log");
        append(e);
        e.add2().push({","}).add2();
    }));
    return b;
}

// _root.NAME = function () { <body> }, offered to the host as callback NAME.
void hostCall(sw::ActionAssembler& a, const std::string& name, const sw::ActionAssembler& body)
{
    a.setPath("_root." + name, sw::Emitter([&](sw::ActionAssembler& e) { e.defineFunction("", {}, body); }));
    a.addCallback(name, path("this"), path("_root." + name));
}

std::string Invoke(const std::string& name) { return "<invoke name=\"" + name + "\" returntype=\"xml\"></invoke>"; }

// A 40 x 20 stage with a 20 x 10 video object "vid" at its top left, a
// connection, a stream shown there, and host calls that steer the stream.
std::vector<uint8_t> StreamMovie(const char* connectTo = nullptr)
{
    auto m = movie(40, 20);
    const uint16_t video = m.defineVideoStream(sw::VideoStream{.numFrames = 0, .width = 20, .height = 10, .codec = 3});
    sw::PlaceObject p = placeAt(video, 1);
    p.name = "vid";
    m.place(p);

    sw::ActionAssembler a;
    a.setPath("log", sw::PushValue(""));
    a.setPath("nc", sw::Emitter([](sw::ActionAssembler& e) { e.push({0, "NetConnection"}).newObject(); }));
    a.setPath("connected", sw::Emitter([connectTo](sw::ActionAssembler& e) {
        if (connectTo)
            e.push({connectTo});
        else
            e.push({sw::Null{}});
        e.push({1, "nc"}).getVariable().push({"connect"}).callMethod();
    }));
    a.setPath("ns", sw::Emitter([](sw::ActionAssembler& e) { e.push({"nc"}).getVariable().push({1, "NetStream"}).newObject(); }));
    sw::ActionAssembler onStatus = appendToLog([](sw::ActionAssembler& e) { e.push({"info"}).getVariable().push({"code"}).getMember(); });
    a.setPath("ns.onStatus", sw::Emitter([&](sw::ActionAssembler& e) { e.defineFunction("", {"info"}, onStatus); }));
    sw::ActionAssembler onMeta;
    onMeta.setPath("_root.duration", sw::Emitter([](sw::ActionAssembler& e) { e.push({"m"}).getVariable().push({"duration"}).getMember(); }));
    a.setPath("ns.onMetaData", sw::Emitter([&](sw::ActionAssembler& e) { e.defineFunction("", {"m"}, onMeta); }));
    a.callMethod("vid", "attachVideo", {path("ns")});
    a.callMethod("ns", "play", {sw::PushValue("clip.flv")});

    sw::ActionAssembler pause, resume, toggle, seek, close, detach;
    pause.callMethod("_root.ns", "pause", {sw::PushValue(true)});
    resume.callMethod("_root.ns", "pause", {sw::PushValue(false)});
    toggle.callMethod("_root.ns", "pause", {});
    seek.callMethod("_root.ns", "seek", {sw::PushValue(0.2)});
    close.callMethod("_root.ns", "close", {});
    detach.callMethod("_root.vid", "attachVideo", {sw::PushValue(sw::Null{})});
    hostCall(a, "pauseIt", pause);
    hostCall(a, "resumeIt", resume);
    hostCall(a, "toggleIt", toggle);
    hostCall(a, "seekIt", seek);
    hostCall(a, "closeIt", close);
    hostCall(a, "detachIt", detach);
    a.stop();
    m.doAction(a).showFrame();
    return m.build();
}

struct NetStreamTest : ::testing::Test {
    RecordingHost host;
    Player player{host};

    void SetUp() override { load(player, StreamMovie(), 40, 20); }
    const RecordingHost::Request* request(const std::string& url) const
    {
        for (auto it = host.requests.rbegin(); it != host.requests.rend(); ++it)
            if (it->url == url)
                return &*it;
        return nullptr;
    }
    void deliver()
    {
        const auto* r = request(kResolvedUrl);
        ASSERT_NE(r, nullptr);
        ASSERT_TRUE(player.deliverUrl(r->id, Video())) << player.lastError();
    }
    void call(const std::string& name) { ASSERT_TRUE(player.callFunction(Invoke(name))) << name; }
    double time() { return std::stod(player.getVariable("ns.time").value_or("nan")); }
    uint32_t shown() { return render(player, 40, 20).at(5, 5); }
};

}  // namespace

TEST_F(NetStreamTest, PlaysTheFileFromTheHostOnTheVideoObjectAndReportsItsStatus)
{
    EXPECT_EQ(player.getVariable("connected"), "true");
    EXPECT_EQ(player.getVariable("nc.isConnected"), "true");
    // The file goes out relative to the movie; nothing shows before it arrives.
    ASSERT_NE(request(kResolvedUrl), nullptr);
    EXPECT_EQ(request(kResolvedUrl)->kind, RequestKind::Media);
    EXPECT_EQ(player.getVariable("log"), "");
    EXPECT_EQ(shown(), kWhitePx);
    EXPECT_EQ(player.getVariable("ns.bytesLoaded"), "0");

    deliver();
    EXPECT_EQ(player.getVariable("log"), "NetStream.Play.Start,NetStream.Buffer.Full,");
    EXPECT_EQ(player.getVariable("duration"), "0.333333333333333");
    const std::string size = std::to_string(Video().size());
    EXPECT_EQ(player.getVariable("ns.bytesLoaded"), size);
    EXPECT_EQ(player.getVariable("ns.bytesTotal"), size);
    EXPECT_EQ(player.getVariable("ns.bufferTime"), "0.1");
    EXPECT_EQ(shown(), Colour(0));
    EXPECT_EQ(render(player, 40, 20).at(25, 5), kWhitePx);  // the video object's area only

    // One frame's time per tick.
    player.tick();
    EXPECT_NEAR(time(), 0.0833, 0.001);
    EXPECT_EQ(shown(), Colour(1));
    player.tick();
    player.tick();
    EXPECT_EQ(shown(), Colour(3));
    // The end: the last picture stays, the buffer runs dry, the clock stops.
    player.tick();
    EXPECT_EQ(player.getVariable("log"),
              "NetStream.Play.Start,NetStream.Buffer.Full,NetStream.Play.Stop,NetStream.Buffer.Flush,"
              "NetStream.Buffer.Empty,");
    EXPECT_EQ(shown(), Colour(3));
    EXPECT_NEAR(time(), 0.3333, 0.001);
    player.tick();
    EXPECT_NEAR(time(), 0.3333, 0.001);
}

TEST_F(NetStreamTest, PauseSeekCloseAndDetachSteerWhatIsShown)
{
    deliver();
    player.tick();
    call("pauseIt");
    player.tick();
    player.tick();
    EXPECT_EQ(shown(), Colour(1));  // held while paused
    EXPECT_NEAR(time(), 0.0833, 0.001);
    call("toggleIt");  // no argument: resumes
    player.tick();
    EXPECT_EQ(shown(), Colour(2));
    call("toggleIt");  // and pauses again
    player.tick();
    EXPECT_EQ(shown(), Colour(2));
    call("resumeIt");

    // A seek lands on the time asked and is told of after the call.
    call("seekIt");
    EXPECT_NEAR(time(), 0.2, 0.001);
    EXPECT_EQ(shown(), Colour(2));
    const std::string log = player.getVariable("log").value_or("");
    EXPECT_EQ(log.substr(log.size() - std::string("NetStream.Seek.Notify,").size()), "NetStream.Seek.Notify,");

    // Detached, the video object shows nothing; the stream plays on.
    call("detachIt");
    EXPECT_EQ(shown(), kWhitePx);

    // Closed: the file is gone, the clock and counters are back at zero.
    call("closeIt");
    EXPECT_EQ(player.getVariable("ns.time"), "0");
    EXPECT_EQ(player.getVariable("ns.bytesLoaded"), "0");
}

TEST_F(NetStreamTest, AMissingFileIsReportedAndAStaleAnswerIgnored)
{
    const auto* r = request(kResolvedUrl);
    ASSERT_NE(r, nullptr);
    const RequestId first = r->id;
    player.failUrl(first);
    EXPECT_EQ(player.getVariable("log"), "NetStream.Play.StreamNotFound,");
    EXPECT_EQ(shown(), kWhitePx);

    // Closed before its answer: the answer shows nothing and reports nothing.
    RecordingHost host2;
    Player p2(host2);
    load(p2, StreamMovie(), 40, 20);
    const RequestId id = host2.requests.back().id;
    ASSERT_TRUE(p2.callFunction(Invoke("closeIt")));
    p2.deliverUrl(id, Video());
    EXPECT_EQ(p2.getVariable("log"), "");
    EXPECT_EQ(render(p2, 40, 20).at(5, 5), kWhitePx);

    // A new root movie drops the old one's streams and the files they asked for.
    RecordingHost host3;
    Player p3(host3);
    load(p3, StreamMovie(), 40, 20);
    const RequestId old = host3.requests.back().id;
    load(p3, StreamMovie(), 40, 20);
    EXPECT_FALSE(p3.deliverUrl(old, Video()));
    ASSERT_NE(host3.requests.back().id, old);
    ASSERT_TRUE(p3.deliverUrl(host3.requests.back().id, Video())) << p3.lastError();
    EXPECT_EQ(p3.getVariable("log"), "NetStream.Play.Start,NetStream.Buffer.Full,");
}

TEST(NetStream, OnlyTheNullConnectionPlays)
{
    // A media server's address is refused: the stream asks for nothing.
    RecordingHost host;
    Player player(host);
    load(player, StreamMovie("rtmp://media.example.test/app"), 40, 20);
    EXPECT_EQ(player.getVariable("connected"), "false");
    EXPECT_EQ(player.getVariable("nc.isConnected"), "false");
    for (const auto& r : host.requests)
        EXPECT_NE(r.kind, RequestKind::Media) << r.url;
    EXPECT_EQ(player.getVariable("ns.time"), "0");
}

TEST(NetStream, SoundOnAClipThatAttachesTheStreamKeepsItsVolume)
{
    auto m = movie(40, 20);
    sw::ActionAssembler a;
    a.setPath("nc", sw::Emitter([](sw::ActionAssembler& e) { e.push({0, "NetConnection"}).newObject(); }));
    a.callMethod("nc", "connect", {sw::PushValue(sw::Null{})});
    a.setPath("ns", sw::Emitter([](sw::ActionAssembler& e) { e.push({"nc"}).getVariable().push({1, "NetStream"}).newObject(); }));
    a.callMethod("this", "attachAudio", {path("ns")});
    a.setPath("snd", sw::Emitter([](sw::ActionAssembler& e) { e.push({"this"}).getVariable().push({1, "Sound"}).newObject(); }));
    a.callMethod("snd", "setVolume", {sw::PushValue(35)});
    a.setPath("volume", sw::Emitter([](sw::ActionAssembler& e) { e.push({0, "snd"}).getVariable().push({"getVolume"}).callMethod(); }));
    m.doAction(a).showFrame();
    RecordingHost host;
    Player player(host);
    load(player, m.build(), 40, 20);
    EXPECT_EQ(player.getVariable("volume"), "35");
}
