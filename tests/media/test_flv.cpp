// FLV files: a hand-built file read back, every truncation and corruption
// refused, and the writer's bytes.
#include "media/flv.h"

#include <gtest/gtest.h>

#include <set>

using namespace refplayer::media;
using Bytes = std::vector<uint8_t>;

namespace {

void u24(Bytes& b, uint32_t v) { b.insert(b.end(), {uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}); }
void u32(Bytes& b, uint32_t v) { b.insert(b.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}); }

// One tag with its trailing PreviousTagSize, laid out field by field.
Bytes tagBytes(uint8_t type, uint32_t timestamp, const Bytes& body) {
    Bytes b{type};
    u24(b, static_cast<uint32_t>(body.size()));
    u24(b, timestamp & 0xFFFFFF);
    b.push_back(static_cast<uint8_t>(timestamp >> 24));
    u24(b, 0);
    b.insert(b.end(), body.begin(), body.end());
    u32(b, static_cast<uint32_t>(11 + body.size()));
    return b;
}

const Bytes kMetaBody = {0x02, 0x00, 0x0A, 'o', 'n', 'M', 'e', 't', 'a', 'D', 'a', 't', 'a',
                         0x08, 0x00, 0x00, 0x00, 0x02,
                         0x00, 0x08, 'd', 'u', 'r', 'a', 't', 'i', 'o', 'n', 0x00, 0x3F, 0xF8, 0, 0, 0, 0, 0, 0,
                         0x00, 0x05, 'w', 'i', 'd', 't', 'h', 0x00, 0x40, 0x40, 0, 0, 0, 0, 0, 0,
                         0x00, 0x00, 0x09};

struct Built {
    Bytes file;
    std::set<size_t> ends;  // lengths at which a shorter file is still whole
};

Built handMade() {
    Built b;
    b.file = {'F', 'L', 'V', 1, 0x05, 0, 0, 0, 9, 0, 0, 0, 0};
    b.ends.insert(b.file.size());
    for (const Bytes& t : {tagBytes(18, 0, kMetaBody), tagBytes(9, 0x01123456, {0x13, 0xAA, 0xBB}),
                           tagBytes(8, 0x01123460, {0x2E, 0x00})}) {
        b.file.insert(b.file.end(), t.begin(), t.end());
        b.ends.insert(b.file.size());
    }
    return b;
}

std::string refusal(const Bytes& file) {
    FlvFile out;
    std::string error;
    EXPECT_FALSE(parseFlv(file, out, error));
    return error;
}

}  // namespace

TEST(MediaFlv, HandMadeFileReadsTagsHeadersAndMetadata) {
    const Bytes file = handMade().file;
    FlvFile flv;
    std::string error;
    ASSERT_TRUE(parseFlv(file, flv, error)) << error;
    EXPECT_TRUE(flv.header.hasAudio);
    EXPECT_TRUE(flv.header.hasVideo);
    ASSERT_EQ(flv.tags.size(), 3u);
    EXPECT_EQ(flv.tags[0].type, FlvTagType::Script);
    EXPECT_EQ(flv.tags[0].offset, 13u);
    EXPECT_EQ(flv.tags[1].timestamp, 0x01123456u);  // the extended byte is the top 8 bits
    EXPECT_EQ(flv.tags[2].type, FlvTagType::Audio);

    ASSERT_TRUE(flv.metadata.has_value());
    EXPECT_EQ(flv.metadata->duration, 1.5);
    EXPECT_EQ(flv.metadata->width, 32.0);
    EXPECT_FALSE(flv.metadata->height.has_value());

    VideoTagHeader v;
    ASSERT_TRUE(parseVideoTagHeader(flv.tags[1].body, v, error));
    EXPECT_EQ(v.frameType, video_frame::Key);
    EXPECT_EQ(v.codecId, video_codec::ScreenVideo);
    EXPECT_EQ(Bytes(v.payload.begin(), v.payload.end()), (Bytes{0xAA, 0xBB}));

    AudioTagHeader a;
    ASSERT_TRUE(parseAudioTagHeader(flv.tags[2].body, a, error));
    EXPECT_EQ(a.soundFormat, 2);
    EXPECT_EQ(a.soundRate, 3);
    EXPECT_TRUE(a.sixteenBit);
    EXPECT_FALSE(a.stereo);
}

TEST(MediaFlv, EveryTruncationIsRefusedUnlessItEndsBetweenTags) {
    const Built b = handMade();
    for (size_t n = 0; n <= b.file.size(); ++n) {
        FlvFile out;
        std::string error;
        const bool ok = parseFlv(Bytes(b.file.begin(), b.file.begin() + n), out, error);
        EXPECT_EQ(ok, b.ends.count(n) == 1) << "length " << n << ": " << error;
    }
}

TEST(MediaFlv, CorruptFieldsAreRefusedWithAReason) {
    const Bytes good = handMade().file;
    auto with = [&](size_t at, uint8_t value) {
        Bytes b = good;
        b.at(at) = value;
        return refusal(b);
    };
    EXPECT_EQ(with(2, 'X'), "FLV at byte 0: not an FLV file");
    EXPECT_EQ(with(3, 2), "FLV at byte 3: unknown FLV version 2");
    EXPECT_EQ(with(4, 0x0D), "FLV at byte 4: reserved header flags set");
    EXPECT_EQ(with(7, 1), "FLV at byte 5: header size 265 outside the file");
    EXPECT_EQ(with(12, 1), "FLV at byte 9: PreviousTagSize 1 where 0 was due");
    EXPECT_EQ(with(13, 7), "FLV at byte 13: unknown tag type 7");
    EXPECT_EQ(with(13, 0x32), "FLV at byte 13: encrypted (filtered) tags are not supported");
    EXPECT_EQ(with(13, 0x52), "FLV at byte 13: reserved tag bits set");
    EXPECT_EQ(with(23, 1), "FLV at byte 13: stream id not 0");
    EXPECT_EQ(with(14, 0x7F), "FLV at byte 13: tag of 8323128 bytes runs past the end");
    const size_t firstPrevious = 13 + 11 + kMetaBody.size();
    EXPECT_EQ(with(firstPrevious + 3, 66), "FLV at byte " + std::to_string(firstPrevious) +
                                               ": PreviousTagSize 66 where 67 was due");
    // A script value that stops short of its tag's end, and one that overruns it.
    EXPECT_NE(with(13 + 11 + 19, 1).find("FLV script tag at byte 13: AMF0"), std::string::npos);
    Bytes padded = kMetaBody;
    padded.push_back(0x05);
    Bytes file{'F', 'L', 'V', 1, 0x01, 0, 0, 0, 9, 0, 0, 0, 0};
    const Bytes t = tagBytes(18, 0, padded);
    file.insert(file.end(), t.begin(), t.end());
    EXPECT_NE(refusal(file).find("1 bytes after its value"), std::string::npos);

    // The well-known extra end marker after the value is accepted.
    Bytes quirk = kMetaBody;
    quirk.insert(quirk.end(), {0, 0, 9});
    Bytes ok{'F', 'L', 'V', 1, 0x01, 0, 0, 0, 9, 0, 0, 0, 0};
    const Bytes q = tagBytes(18, 0, quirk);
    ok.insert(ok.end(), q.begin(), q.end());
    FlvFile out;
    std::string error;
    EXPECT_TRUE(parseFlv(ok, out, error)) << error;
}

TEST(MediaFlv, ReaderStopsForGoodAfterAnError) {
    Bytes b = handMade().file;
    b[13 + 11 + kMetaBody.size() + 3] = 0;
    FlvReader r(b);
    FlvTag tag;
    EXPECT_EQ(r.next(tag), FlvReader::Result::Tag);  // reads its header on first use
    EXPECT_EQ(r.next(tag), FlvReader::Result::Error);
    EXPECT_EQ(r.next(tag), FlvReader::Result::Error);
    EXPECT_FALSE(r.readHeader());
    EXPECT_FALSE(r.error().empty());
}

TEST(MediaFlv, TagHeadersRefuseUnknownKinds) {
    VideoTagHeader v;
    AudioTagHeader a;
    std::string error;
    EXPECT_FALSE(parseVideoTagHeader({}, v, error));
    EXPECT_FALSE(parseAudioTagHeader({}, a, error));
    const Bytes noType{0x03}, badType{0x63}, noCodec{0x10}, badCodec{0x18};
    EXPECT_FALSE(parseVideoTagHeader(noType, v, error));
    EXPECT_FALSE(parseVideoTagHeader(badType, v, error));
    EXPECT_FALSE(parseVideoTagHeader(noCodec, v, error));
    EXPECT_FALSE(parseVideoTagHeader(badCodec, v, error));
    EXPECT_EQ(error, "video tag with unknown codec 8");
}

TEST(MediaFlv, WriterProducesTheSameBytesAsTheFormatLaysOut) {
    FlvWriter w(true, true);
    AmfValue meta = AmfValue::makeEcmaArray({{"duration", AmfValue::makeNumber(1.5)},
                                             {"width", AmfValue::makeNumber(32)}});
    w.scriptTag("onMetaData", meta);
    const Bytes packet{0xAA, 0xBB};
    w.videoTag(0x01123456, video_frame::Key, video_codec::ScreenVideo, packet);
    const Bytes audio{0x2E, 0x00};
    w.tag(FlvTagType::Audio, 0x01123460, audio);
    EXPECT_EQ(w.bytes(), handMade().file);
    EXPECT_THROW(w.videoTag(5, 1, 3, packet), std::invalid_argument);  // backwards in time
    EXPECT_THROW(w.videoTag(0x02000000, 16, 3, packet), std::invalid_argument);
}
