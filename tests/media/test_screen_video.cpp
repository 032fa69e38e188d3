// Screen Video: a hand-made frame, exact round trips through the encoder,
// inter frames, hostile packets, and FLV files of it.
#include "media/screen_video.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

using namespace refplayer::media;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes zlibOf(const Bytes& raw, int level = 9) {
    uLongf n = compressBound(static_cast<uLong>(raw.size()));
    Bytes out(n);
    EXPECT_EQ(compress2(out.data(), &n, raw.data(), static_cast<uLong>(raw.size()), level), Z_OK);
    out.resize(n);
    return out;
}

void appendBlock(Bytes& packet, const Bytes& compressed) {
    packet.push_back(static_cast<uint8_t>(compressed.size() >> 8));
    packet.push_back(static_cast<uint8_t>(compressed.size()));
    packet.insert(packet.end(), compressed.begin(), compressed.end());
}

VideoImage noise(int w, int h, uint32_t seed) {
    std::mt19937 rng(seed);
    VideoImage img{w, h, std::vector<uint32_t>(size_t(w) * h)};
    for (auto& p : img.pixels)
        p = 0xFF000000u | (rng() & 0xFFFFFF);
    return img;
}

std::string refusal(ScreenVideoDecoder& d, const Bytes& packet, bool key) {
    const VideoImage before = d.image();
    std::string error;
    EXPECT_FALSE(d.decode(packet, key, error));
    EXPECT_EQ(d.image(), before);  // a refused packet changes nothing
    return error;
}

// A 2x2 frame in one 16x16 block: rows bottom-up, pixels blue-green-red.
Bytes tinyPacket(const Bytes& raw) {
    Bytes packet{0x00, 0x02, 0x00, 0x02};
    appendBlock(packet, zlibOf(raw));
    return packet;
}
const Bytes kTinyRaw = {0x01, 0x02, 0x03, 0x11, 0x12, 0x13,   // bottom left, bottom right
                        0x21, 0x22, 0x23, 0x31, 0x32, 0x33};  // top left, top right

}  // namespace

TEST(MediaScreenVideo, HandMadeFrameDecodesTopDownArgb) {
    ScreenVideoDecoder d;
    std::string error;
    ASSERT_TRUE(d.decode(tinyPacket(kTinyRaw), true, error)) << error;
    EXPECT_EQ(d.image(), (VideoImage{2, 2, {0xFF232221, 0xFF333231, 0xFF030201, 0xFF131211}}));
}

TEST(MediaScreenVideo, EncodeDecodeIsExactForEveryBlockShape) {
    struct Case { int w, h, bw, bh; };
    for (const Case c : {Case{40, 20, 16, 16}, Case{1, 1, 16, 16}, Case{300, 70, 256, 32}, Case{4095, 1, 64, 16},
                         Case{17, 33, 16, 32}}) {
        const VideoImage img = noise(c.w, c.h, c.w * 31 + c.h);
        ScreenVideoEncoder enc({.blockWidth = c.bw, .blockHeight = c.bh});
        const Bytes packet = enc.encode(img, true);
        EXPECT_EQ(packet[0] >> 4, c.bw / 16 - 1);
        EXPECT_EQ((packet[0] & 0x0F) << 8 | packet[1], c.w);
        EXPECT_EQ((packet[2] & 0x0F) << 8 | packet[3], c.h);
        ScreenVideoDecoder dec;
        std::string error;
        ASSERT_TRUE(dec.decode(packet, true, error)) << c.w << "x" << c.h << ": " << error;
        EXPECT_EQ(dec.image(), img) << c.w << "x" << c.h;
    }
}

TEST(MediaScreenVideo, InterFramesCarryOnlyChangedBlocks) {
    ScreenVideoEncoder enc({.blockWidth = 16, .blockHeight = 16});
    ScreenVideoDecoder dec;
    std::string error;
    VideoImage img = noise(48, 32, 7);  // 3 x 2 blocks
    ASSERT_TRUE(dec.decode(enc.encode(img, false), true, error));  // the first frame is a key frame anyway
    EXPECT_TRUE(enc.keyFrameEncoded());

    // The top-left pixel lives in the top row of blocks, which comes second.
    img.pixels[0] ^= 0x00FFFFFF;
    const Bytes inter = enc.encode(img, false);
    EXPECT_FALSE(enc.keyFrameEncoded());
    size_t pos = 4;
    std::vector<int> sizes;
    while (pos < inter.size()) {
        const int n = inter[pos] << 8 | inter[pos + 1];
        sizes.push_back(n);
        pos += 2 + n;
    }
    ASSERT_EQ(sizes.size(), 6u);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(sizes[i] != 0, i == 3) << "block " << i;
    ASSERT_TRUE(dec.decode(inter, false, error)) << error;
    EXPECT_EQ(dec.image(), img);

    // Alpha is not part of the picture: changing it alone changes nothing.
    img.pixels[5] &= 0x00FFFFFF;
    EXPECT_EQ(enc.encode(img, false).size(), 4u + 6 * 2);
    // A key frame carries every block again.
    const Bytes key = enc.encode(img, true);
    EXPECT_TRUE(enc.keyFrameEncoded());
    for (size_t at = 4; at < key.size();) {
        const int n = key[at] << 8 | key[at + 1];
        EXPECT_NE(n, 0);
        at += 2 + n;
    }
}

TEST(MediaScreenVideo, HostilePacketsAreRefusedAndKeepThePreviousFrame) {
    ScreenVideoDecoder d;
    EXPECT_EQ(refusal(d, {0x00, 0x02, 0x00}, true), "Screen Video packet shorter than its header");
    EXPECT_EQ(refusal(d, {0x00, 0x00, 0x00, 0x02}, true), "Screen Video frame of zero size");
    EXPECT_EQ(refusal(d, {0x00, 0x02, 0x00, 0x02, 0x00, 0x00}, false),
              "Screen Video block 0 left out with no previous frame of this size to keep");

    std::string error;
    ASSERT_TRUE(d.decode(tinyPacket(kTinyRaw), true, error));
    EXPECT_EQ(refusal(d, {0x00, 0x02, 0x00, 0x02, 0x00, 0x00}, true),
              "Screen Video block 0 left out with no previous frame of this size to keep");
    EXPECT_EQ(refusal(d, {0x00, 0x03, 0x00, 0x02, 0x00, 0x00}, false),
              "Screen Video block 0 left out with no previous frame of this size to keep");
    EXPECT_EQ(refusal(d, {0x00, 0x02, 0x00, 0x02, 0x00}, false), "Screen Video packet ends before block 0");
    EXPECT_EQ(refusal(d, {0x00, 0x02, 0x00, 0x02, 0x00, 0x09, 0x78}, true),
              "Screen Video block at byte 4 runs past the packet");

    const Bytes shortRaw(kTinyRaw.begin(), kTinyRaw.end() - 1);
    EXPECT_EQ(refusal(d, tinyPacket(shortRaw), true),
              "Screen Video block at byte 4: block holds fewer pixels than its size");
    Bytes longRaw = kTinyRaw;
    longRaw.push_back(0);
    EXPECT_EQ(refusal(d, tinyPacket(longRaw), true),
              "Screen Video block at byte 4: block holds more pixels than its size");
    Bytes damaged = tinyPacket(kTinyRaw);
    damaged[8] ^= 0xFF;
    EXPECT_NE(refusal(d, damaged, true).find("block at byte 4"), std::string::npos);
    Bytes cut = tinyPacket(kTinyRaw);
    cut[5] -= 4;  // the block claims fewer bytes than its zlib stream needs
    cut.resize(cut.size() - 4);
    EXPECT_EQ(refusal(d, cut, true), "Screen Video block at byte 4: block data damaged or truncated");
    Bytes inner = zlibOf(kTinyRaw);
    inner.push_back(0x00);
    Bytes innerTrail{0x00, 0x02, 0x00, 0x02};
    appendBlock(innerTrail, inner);
    EXPECT_EQ(refusal(d, innerTrail, true), "Screen Video block at byte 4: bytes after the block's compressed data");
    Bytes trailing = tinyPacket(kTinyRaw);
    trailing.push_back(0);
    EXPECT_EQ(refusal(d, trailing, true), "Screen Video packet has 1 bytes after its last block");

    // And the frame that was there still decodes inter frames.
    EXPECT_TRUE(d.decode(Bytes{0x00, 0x02, 0x00, 0x02, 0x00, 0x00}, false, error)) << error;
}

TEST(MediaScreenVideo, EncoderRefusesWhatTheCodecCannotCarry) {
    EXPECT_THROW(ScreenVideoEncoder({.blockWidth = 8}), std::invalid_argument);
    EXPECT_THROW(ScreenVideoEncoder({.blockWidth = 272}), std::invalid_argument);
    EXPECT_THROW(ScreenVideoEncoder({.blockHeight = 40}), std::invalid_argument);
    ScreenVideoEncoder enc;
    EXPECT_THROW(enc.encode(VideoImage{4096, 1, std::vector<uint32_t>(4096)}, true), std::invalid_argument);
    EXPECT_THROW(enc.encode(VideoImage{2, 2, std::vector<uint32_t>(3)}, true), std::invalid_argument);
    // Stored (level 0) 256 x 256 noise is 196 kB per block: more than a block's size field holds.
    ScreenVideoEncoder stored({.blockWidth = 256, .blockHeight = 256, .zlibLevel = 0});
    EXPECT_THROW(stored.encode(noise(256, 256, 1), true), std::invalid_argument);
}

TEST(MediaScreenVideo, FlvFileHoldsMetadataTimingAndExactFrames) {
    std::vector<VideoImage> frames;
    VideoImage img = noise(40, 24, 3);
    for (int i = 0; i < 7; ++i) {
        img.pixels[size_t(i) * 41] = 0xFF000000u | uint32_t(i);
        frames.push_back(img);
    }
    const Bytes file = writeScreenVideoFlv(frames, {.frameRate = 3, .keyFrameInterval = 3,
                                                    .encoder = {.blockWidth = 16, .blockHeight = 16}});
    FlvFile flv;
    std::string error;
    ASSERT_TRUE(parseFlv(file, flv, error)) << error;
    EXPECT_FALSE(flv.header.hasAudio);
    ASSERT_TRUE(flv.metadata);
    EXPECT_EQ(flv.metadata->duration, 7.0 / 3);
    EXPECT_EQ(flv.metadata->width, 40);
    EXPECT_EQ(flv.metadata->height, 24);
    EXPECT_EQ(flv.metadata->framerate, 3);
    EXPECT_EQ(flv.metadata->videocodecid, 3);
    EXPECT_EQ(flv.metadata->filesize, double(file.size()));
    EXPECT_EQ(flv.metadata->canSeekToEnd, true);

    ASSERT_EQ(flv.tags.size(), 8u);
    ScreenVideoDecoder dec;
    for (size_t i = 0; i < frames.size(); ++i) {
        const FlvTag& t = flv.tags[i + 1];
        EXPECT_EQ(t.timestamp, static_cast<uint32_t>(std::llround(i * 1000.0 / 3)));
        VideoTagHeader v;
        ASSERT_TRUE(parseVideoTagHeader(t.body, v, error));
        EXPECT_EQ(v.frameType, i % 3 == 0 ? video_frame::Key : video_frame::Inter) << i;
        ASSERT_TRUE(dec.decode(v.payload, v.frameType == video_frame::Key, error)) << error;
        EXPECT_EQ(dec.image(), frames[i]) << "frame " << i;
    }

    EXPECT_THROW(writeScreenVideoFlv({}), std::invalid_argument);
    EXPECT_THROW(writeScreenVideoFlv({noise(2, 2, 1), noise(3, 2, 1)}), std::invalid_argument);
    EXPECT_THROW(writeScreenVideoFlv({noise(2, 2, 1)}, {.frameRate = 0}), std::invalid_argument);
}
