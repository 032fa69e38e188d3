// `refplay info`: the JSON reports on SWF and FLV files made with the project's
// own writers, read back with an independent JSON parser.
#include "refplay.h"
#include "reftool_test_support.h"

#include "media/flv.h"
#include "media/screen_video.h"
#include "swfwriter/swf_writer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

using namespace reftooltest;
using refplayer::tool::ToolError;
namespace sw = refplayer::swfwriter;
namespace media = refplayer::media;
namespace tool = refplayer::tool;
using ::testing::HasSubstr;

namespace {

Json SwfInfo(const std::vector<uint8_t>& file) { return parseJson(tool::swfInfoJson(file)); }
Json FlvInfo(const std::vector<uint8_t>& file) { return parseJson(tool::flvInfoJson(file)); }

std::string ErrorOf(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (const ToolError& e) {
        return e.what();
    }
    return "(no error)";
}

uint16_t Rect(sw::Movie& m, int x, int y, int w, int h, uint32_t rgb)
{
    sw::ShapeBuilder shape(3);
    shape.rectangle(x * 20, y * 20, w * 20, h * 20, shape.addFill(sw::Rgba::rgb(rgb)), 0);
    return m.defineShape(shape);
}

// One of each tag the report summarises, spread over two frames.
sw::Movie RichMovie()
{
    sw::Movie m(8, 550, 400, 23.5);
    m.fileAttributes(sw::file_attr::UseNetwork);
    m.setBackgroundColor(sw::Rgba::rgb(0x204060));
    const uint16_t box = Rect(m, 10, 20, 30, 40, 0xFF0000);
    sw::Timeline inner;
    inner.place(sw::PlaceObject{.depth = 3, .character = box}).showFrame(2);
    const uint16_t sprite = m.defineSprite(inner);
    const uint16_t video = m.defineVideoStream(sw::VideoStream{.numFrames = 4, .width = 64, .height = 32, .codec = 3});
    const uint16_t text = m.defineEditText(sw::EditText{.bounds = {0, 2000, 0, 400}, .variable = "answer", .initialText = "42", .fontHeight = 240});
    m.place(sw::PlaceObject{.depth = 1, .character = sprite, .ratio = 7, .name = "spinner"});
    m.frameLabel("start");
    m.doAction(sw::ActionAssembler().stop());
    m.place(sw::PlaceObject{.depth = 2, .character = text});
    m.showFrame();
    m.videoFrame(video, 0, std::vector<uint8_t>{1, 2, 3});
    m.removeObject2(1);
    m.showFrame();
    return m;
}

const Json& TagNamed(const Json& tags, const std::string& name, int nth = 0)
{
    for (const Json& t : tags.items)
        if (t["name"].str() == name && nth-- == 0)
            return t;
    throw std::out_of_range("no tag " + name);
}

}  // namespace

TEST(RefplayInfo, SwfReportsHeaderStageAndEveryTagForPlainAndCompressedFiles)
{
    const sw::Movie movie = RichMovie();
    const std::vector<uint8_t> fws = movie.build(sw::Compression::None);
    const std::vector<uint8_t> cws = movie.build(sw::Compression::Zlib);
    const Json plain = SwfInfo(fws);
    const Json packed = SwfInfo(cws);

    EXPECT_EQ(plain["signature"].str(), "FWS");
    EXPECT_FALSE(plain["compressed"].boolean);
    EXPECT_EQ(packed["signature"].str(), "CWS");
    EXPECT_TRUE(packed["compressed"].boolean);
    EXPECT_EQ(packed["storedLength"].num(), cws.size());
    for (const Json* info : {&plain, &packed}) {
        const Json& j = *info;
        EXPECT_EQ(j["format"].str(), "swf");
        EXPECT_EQ(j["version"].num(), 8);
        EXPECT_EQ(j["fileLength"].num(), fws.size());
        EXPECT_EQ(j["stage"]["xMax"].num(), 11000);
        EXPECT_EQ(j["stage"]["yMax"].num(), 8000);
        EXPECT_EQ(j["stage"]["width"].num(), 550);
        EXPECT_EQ(j["stage"]["height"].num(), 400);
        EXPECT_EQ(j["frameRate"].num(), 23.5);
        EXPECT_EQ(j["frameCount"].num(), 2);
        EXPECT_TRUE(j["engine"]["accepted"].boolean);
    }
    // Offsets count in the uncompressed file, so both reports list the same tags.
    EXPECT_EQ(tool::swfInfoJson(fws).substr(tool::swfInfoJson(fws).find("\"stage\"")),
              tool::swfInfoJson(cws).substr(tool::swfInfoJson(cws).find("\"stage\"")));

    const Json& tags = plain["tags"];
    std::vector<std::string> names;
    for (const Json& t : tags.items)
        names.push_back(t["name"].str());
    EXPECT_EQ(names, (std::vector<std::string>{"FileAttributes", "SetBackgroundColor", "DefineShape3", "DefineSprite",
                                               "DefineVideoStream", "DefineFont2", "DefineEditText", "PlaceObject2",
                                               "FrameLabel", "DoAction", "PlaceObject2", "ShowFrame", "VideoFrame",
                                               "RemoveObject2", "ShowFrame", "End"}));
    // Each offset and length points at that tag's record header in the file.
    auto checkFraming = [&](const Json& list) {
        for (const Json& t : list.items) {
            const size_t at = static_cast<size_t>(t["offset"].num());
            ASSERT_LE(at + 2, fws.size());
            const uint16_t header = static_cast<uint16_t>(fws[at] | fws[at + 1] << 8);
            EXPECT_EQ(header >> 6, t["code"].num()) << t["name"].str();
            const size_t length = (header & 0x3F) == 0x3F ? fws[at + 2] | fws[at + 3] << 8 | fws[at + 4] << 16 : header & 0x3F;
            EXPECT_EQ(length, t["length"].num()) << t["name"].str();
        }
    };
    checkFraming(tags);

    EXPECT_EQ(TagNamed(tags, "FileAttributes")["useNetwork"].boolean, true);
    EXPECT_EQ(TagNamed(tags, "SetBackgroundColor")["color"].str(), "#204060");
    const Json& shape = TagNamed(tags, "DefineShape3");
    EXPECT_EQ(shape["id"].num(), 1);
    EXPECT_EQ(shape["bounds"]["xMin"].num(), 200);
    EXPECT_EQ(shape["bounds"]["yMax"].num(), 1200);

    const Json& sprite = TagNamed(tags, "DefineSprite");
    EXPECT_EQ(sprite["id"].num(), 2);
    EXPECT_EQ(sprite["frameCount"].num(), 2);
    ASSERT_EQ(sprite["tags"].size(), 4u);
    EXPECT_EQ(sprite["tags"][0]["name"].str(), "PlaceObject2");
    EXPECT_EQ(sprite["tags"][0]["depth"].num(), 3);
    EXPECT_EQ(sprite["tags"][0]["id"].num(), 1);
    EXPECT_EQ(sprite["tags"][1]["frame"].num(), 0);
    EXPECT_EQ(sprite["tags"][2]["frame"].num(), 1);
    EXPECT_EQ(sprite["tags"][3]["name"].str(), "End");
    checkFraming(sprite["tags"]);

    const Json& video = TagNamed(tags, "DefineVideoStream");
    EXPECT_EQ(video["id"].num(), 3);
    EXPECT_EQ(video["frames"].num(), 4);
    EXPECT_EQ(video["width"].num(), 64);
    EXPECT_EQ(video["height"].num(), 32);
    EXPECT_EQ(video["codecName"].str(), "Screen Video");
    const Json& text = TagNamed(tags, "DefineEditText");
    EXPECT_EQ(text["variable"].str(), "answer");
    EXPECT_EQ(text["text"].str(), "42");
    EXPECT_EQ(text["fontHeight"].num(), 240);

    const Json& place = TagNamed(tags, "PlaceObject2");
    EXPECT_EQ(place["depth"].num(), 1);
    EXPECT_EQ(place["id"].num(), 2);
    EXPECT_EQ(place["ratio"].num(), 7);
    EXPECT_EQ(place["instanceName"].str(), "spinner");
    EXPECT_FALSE(place["move"].boolean);
    EXPECT_EQ(TagNamed(tags, "FrameLabel")["label"].str(), "start");
    EXPECT_EQ(TagNamed(tags, "VideoFrame")["stream"].num(), 3);
    EXPECT_EQ(TagNamed(tags, "VideoFrame")["frame"].num(), 0);
    EXPECT_EQ(TagNamed(tags, "RemoveObject2")["depth"].num(), 1);
    EXPECT_EQ(TagNamed(tags, "ShowFrame", 1)["frame"].num(), 1);
}

TEST(RefplayInfo, SwfNotesDamagedBodiesAndTheEngineRefusalAndWalksOn)
{
    sw::Movie m(8, 100, 100, 12);
    // PlaceObject2 claiming a character and a name, cut after the depth.
    m.rawTag(26, std::vector<uint8_t>{0x22, 0x01, 0x00});
    // A sprite whose inner tag overruns the sprite.
    m.rawTag(39, std::vector<uint8_t>{0x05, 0x00, 0x01, 0x00, 0x3F, 0x00, 0xFF, 0xFF, 0x00, 0x00});
    // A label of Latin-1 and control bytes, which JSON must still carry.
    m.rawTag(43, std::vector<uint8_t>{'c', 'a', 'f', 0xE9, 0x01, '"', 0x00});
    m.showFrame();
    const Json j = SwfInfo(m.build());

    const Json& tags = j["tags"];
    ASSERT_EQ(tags.size(), 5u);
    EXPECT_THAT(tags[0]["malformed"].str(), HasSubstr("record needs"));
    EXPECT_FALSE(tags[0].has("depth"));  // a failed summary leaves no partial fields
    EXPECT_EQ(tags[1]["name"].str(), "DefineSprite");
    EXPECT_THAT(tags[1]["malformed"].str(), HasSubstr("claims"));
    EXPECT_FALSE(tags[1].has("tags"));
    EXPECT_EQ(tags[2]["label"].str(), "caf\xC3\xA9\x01\"");
    EXPECT_EQ(tags[3]["name"].str(), "ShowFrame");
    EXPECT_FALSE(j["engine"]["accepted"].boolean);
    EXPECT_THAT(j["engine"]["error"].str(), HasSubstr("not a playable SWF"));
}

TEST(RefplayInfo, SwfRefusesFilesWhoseStructureCannotBeRead)
{
    sw::Movie m(8, 100, 100, 12);
    Rect(m, 0, 0, 10, 10, 0xFF);
    m.showFrame();
    const std::vector<uint8_t> fws = m.build();
    const std::vector<uint8_t> cws = sw::compressSwf(fws);

    auto cut = [](std::vector<uint8_t> v, size_t n) { v.resize(n); return v; };
    EXPECT_THAT(ErrorOf([&] { tool::swfInfoJson(cut(fws, fws.size() - 3)); }), HasSubstr("truncated"));
    EXPECT_THAT(ErrorOf([&] { tool::swfInfoJson(cut(cws, cws.size() - 6)); }), HasSubstr("truncated"));
    EXPECT_THAT(ErrorOf([&] { tool::swfInfoJson(cut(fws, 5)); }), HasSubstr("fewer than a SWF header"));

    // The header's length agrees with the file but a tag's length runs past it.
    std::vector<uint8_t> overrun = cut(fws, fws.size() - 6);
    overrun[4] = static_cast<uint8_t>(overrun.size());
    EXPECT_THAT(ErrorOf([&] { tool::swfInfoJson(overrun); }), HasSubstr("remain"));

    std::vector<uint8_t> corrupt = cws;
    for (size_t i = 10; i < corrupt.size(); ++i)
        corrupt[i] ^= 0x5A;
    EXPECT_THAT(ErrorOf([&] { tool::swfInfoJson(corrupt); }), HasSubstr("compressed data"));

    // A claim far beyond what any movie may hold is refused before anything is inflated.
    std::vector<uint8_t> huge = cws;
    huge[7] = 0x7F;
    EXPECT_THAT(ErrorOf([&] { tool::swfInfoJson(huge); }), HasSubstr("more than the limit"));

    std::vector<uint8_t> notSwf = fws;
    notSwf[0] = 'G';
    EXPECT_THAT(ErrorOf([&] { tool::swfInfoJson(notSwf); }), HasSubstr("not a SWF"));
}

TEST(RefplayInfo, FlvReportsHeaderMetadataAndEveryTag)
{
    media::FlvWriter w(true, true);
    media::AmfValue meta = media::AmfValue::makeEcmaArray({
        {"duration", media::AmfValue::makeNumber(0.25)},
        {"width", media::AmfValue::makeNumber(40)},
        {"height", media::AmfValue::makeNumber(20)},
        {"videocodecid", media::AmfValue::makeNumber(3)},
        {"width", media::AmfValue::makeNumber(999)},  // a repeated name: the first one counts
        {"keyframes", media::AmfValue::makeObject({{"times", media::AmfValue::makeStrictArray(
                                                                  {media::AmfValue::makeNumber(0), media::AmfValue::makeNumber(0.2)})}})},
        {"creator", media::AmfValue::makeString("tests \"quoted\"")},
    });
    w.scriptTag("onMetaData", meta);
    media::ScreenVideoEncoder encoder(media::ScreenVideoEncoderOptions{.blockWidth = 16, .blockHeight = 16});
    media::VideoImage image{40, 20, std::vector<uint32_t>(800, 0xFF336699u)};
    w.videoTag(0, media::video_frame::Key, media::video_codec::ScreenVideo, encoder.encode(image, true));
    w.tag(media::FlvTagType::Audio, 10, std::vector<uint8_t>{0x2F, 0xFF, 0xFB});  // MP3, 44 kHz, 16-bit, stereo
    image.pixels[0] = 0xFF000000u;
    w.videoTag(100, media::video_frame::Inter, media::video_codec::ScreenVideo, encoder.encode(image, false));
    w.videoTag(200, media::video_frame::Inter, media::video_codec::SorensonH263, std::vector<uint8_t>{0, 0, 0x84});
    const std::vector<uint8_t> flv = w.take();

    const Json j = FlvInfo(flv);
    EXPECT_EQ(j["format"].str(), "flv");
    EXPECT_EQ(j["version"].num(), 1);
    EXPECT_TRUE(j["hasAudio"].boolean);
    EXPECT_TRUE(j["hasVideo"].boolean);
    EXPECT_EQ(j["dataOffset"].num(), 9);
    EXPECT_EQ(j["metadata"]["duration"].num(), 0.25);
    EXPECT_EQ(j["metadata"]["width"].num(), 40);
    EXPECT_EQ(j["metadata"].size(), 6u);
    EXPECT_EQ(j["metadata"]["keyframes"]["times"][1].num(), 0.2);
    EXPECT_EQ(j["metadata"]["creator"].str(), "tests \"quoted\"");

    const Json& tags = j["tags"];
    ASSERT_EQ(tags.size(), 5u);
    EXPECT_EQ(tags[0]["type"].str(), "script");
    EXPECT_EQ(tags[0]["name"].str(), "onMetaData");
    EXPECT_EQ(tags[0]["offset"].num(), 13);  // after the header and the first PreviousTagSize
    for (const Json& t : tags.items) {
        const size_t at = static_cast<size_t>(t["offset"].num());
        ASSERT_LT(at + 4, flv.size());
        EXPECT_EQ(flv[at] & 0x1F, t["type"].str() == "audio" ? 8 : t["type"].str() == "video" ? 9 : 18);
        EXPECT_EQ(size_t(flv[at + 1]) << 16 | size_t(flv[at + 2]) << 8 | flv[at + 3], t["size"].num());
    }
    const Json& key = tags[1];
    EXPECT_EQ(key["timestamp"].num(), 0);
    EXPECT_EQ(key["codec"].num(), 3);
    EXPECT_EQ(key["codecName"].str(), "Screen Video");
    EXPECT_TRUE(key["keyFrame"].boolean);
    EXPECT_EQ(key["width"].num(), 40);
    EXPECT_EQ(key["height"].num(), 20);
    const Json& audio = tags[2];
    EXPECT_EQ(audio["formatName"].str(), "MP3");
    EXPECT_EQ(audio["rate"].num(), 44100);
    EXPECT_EQ(audio["bits"].num(), 16);
    EXPECT_EQ(audio["channels"].num(), 2);
    EXPECT_EQ(tags[3]["timestamp"].num(), 100);
    EXPECT_FALSE(tags[3]["keyFrame"].boolean);
    EXPECT_EQ(tags[3]["frameType"].str(), "inter");
    EXPECT_EQ(tags[4]["codecName"].str(), "Sorenson H.263");
    EXPECT_FALSE(tags[4].has("width"));
}

TEST(RefplayInfo, FlvWithoutMetadataOrWithABrokenTagChain)
{
    media::FlvWriter w(false, true);
    w.videoTag(0, media::video_frame::Key, media::video_codec::Vp6, std::vector<uint8_t>{0, 1, 2});
    w.tag(media::FlvTagType::Script, 0, std::vector<uint8_t>{0x02, 0x00});  // a name cut short
    std::vector<uint8_t> flv = w.take();
    const Json j = FlvInfo(flv);
    EXPECT_EQ(j["metadata"].kind, Json::Kind::Null);
    EXPECT_TRUE(j["tags"][1].has("malformed"));

    std::vector<uint8_t> cut(flv.begin(), flv.end() - 5);
    EXPECT_THAT(ErrorOf([&] { tool::flvInfoJson(cut); }), HasSubstr("not a usable FLV"));
    std::vector<uint8_t> badPrevious = flv;
    badPrevious[9 + 4 + 11 + 4 + 3] ^= 1;  // the PreviousTagSize after the first tag
    EXPECT_THAT(ErrorOf([&] { tool::flvInfoJson(badPrevious); }), HasSubstr("PreviousTagSize"));
}
