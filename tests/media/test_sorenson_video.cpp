// Sorenson Spark: clips from an independent encoder decoded against that
// encoder's own decode, the escape formats of both picture versions, the
// deblocking filter, and damaged packets.
#include "media/flv.h"
#include "media/sorenson_video.h"
#include "media_clips.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

using namespace refplayer::media;
using Bytes = std::vector<uint8_t>;

namespace {

struct ClipFrame {
    std::span<const uint8_t> packet;
    uint8_t frameType;
};

std::vector<ClipFrame> sparkFrames(std::span<const uint8_t> file) {
    FlvFile flv;
    std::string error;
    EXPECT_TRUE(parseFlv(file, flv, error)) << error;
    std::vector<ClipFrame> frames;
    for (const FlvTag& tag : flv.tags) {
        if (tag.type != FlvTagType::Video)
            continue;
        VideoTagHeader h;
        EXPECT_TRUE(parseVideoTagHeader(tag.body, h, error)) << error;
        EXPECT_EQ(h.codecId, video_codec::SorensonH263);
        frames.push_back({h.payload, h.frameType});
    }
    return frames;
}

// The largest channel difference of a 0xFFRRGGBB pixel from R, G, B.
int channelDifference(uint32_t p, const std::array<double, 3>& rgb) {
    int worst = 0;
    for (int c = 0; c < 3; ++c)
        worst = std::max(worst, static_cast<int>(std::lround(std::abs(int((p >> (16 - 8 * c)) & 0xFF) - rgb[c]))));
    return worst;
}

// Picture header bits of a hand-made packet, MSB first.
class BitWriter {
public:
    void put(uint32_t value, int n) {
        for (int i = n - 1; i >= 0; --i) {
            if (bits_ % 8 == 0)
                out_.push_back(0);
            if ((value >> i) & 1)
                out_.back() |= static_cast<uint8_t>(0x80 >> (bits_ % 8));
            ++bits_;
        }
    }
    void put(const char* code) {
        for (; *code; ++code)
            put(*code == '1' ? 1 : 0, 1);
    }
    Bytes bytes() const { return out_; }

private:
    Bytes out_;
    size_t bits_ = 0;
};

// A 16 x 16 intra picture, one macroblock: DC 128 in every block, and in the
// first luma block the coefficients `coefficient` writes.
template <typename F>
Bytes oneMacroblock(int version, F coefficient, bool deblocking = false) {
    BitWriter w;
    w.put(1, 17);              // start code
    w.put(version, 5);
    w.put(0, 8);               // temporal reference
    w.put(0, 3);               // custom size, 8-bit fields
    w.put(16, 8);
    w.put(16, 8);
    w.put(0, 2);               // intra
    w.put(deblocking ? 1 : 0, 1);
    w.put(4, 5);               // quantizer
    w.put(0, 1);               // no extra information
    w.put("1");                // MCBPC: intra, no chroma coefficients
    w.put("00010");            // CBPY 1000: the first luma block has coefficients
    for (int b = 0; b < 6; ++b) {
        w.put(16, 8);          // DC 128
        if (b == 0)
            coefficient(w);
    }
    return w.bytes();
}

}  // namespace

TEST(MediaSorenson, ClipsMatchAnIndependentDecoderOnEveryFrame) {
    struct Clip {
        const char* flv;
        const char* yuv;
        int width, height;
    };
    for (const Clip& c : {Clip{"spark_64x48.flv", "spark_64x48.yuv", 64, 48},
                          Clip{"spark_58x42.flv", "spark_58x42.yuv", 58, 42}}) {
        SCOPED_TRACE(c.flv);
        const auto frames = sparkFrames(media_clips::clip(c.flv));
        const auto yuv = media_clips::yuvFrames(c.yuv, c.width, c.height);
        const size_t lumaSize = size_t(c.width) * c.height;
        ASSERT_EQ(frames.size(), 12u);
        ASSERT_EQ(yuv.data.size(), frames.size() * yuv.frameSize());

        SorensonDecoder d;
        int worst[3] = {}, worstRgb = 0, keys = 0, inters = 0;
        for (size_t f = 0; f < frames.size(); ++f) {
            std::string error;
            ASSERT_TRUE(d.decode(frames[f].packet, error)) << "frame " << f << ": " << error;
            const bool key = d.lastHeader().type == SorensonPictureInfo::Type::Intra;
            EXPECT_EQ(key, frames[f].frameType == video_frame::Key) << "frame " << f;
            (key ? keys : inters)++;
            const YuvPlanes& p = d.reconstructed();
            ASSERT_EQ(p.width, c.width);
            ASSERT_EQ(p.height, c.height);
            const std::vector<uint8_t>* planes[3] = {&p.y, &p.u, &p.v};
            for (int k = 0; k < 3; ++k)
                for (size_t i = 0; i < planes[k]->size(); ++i)
                    worst[k] = std::max(worst[k], std::abs(int((*planes[k])[i]) - int(yuv.plane(f, k)[i])));
            // This encoder asks for deblocking, which its decoder ignores:
            // compare the picture before that filter.
            const VideoImage image = yuvToImage(p);
            ASSERT_EQ(image.pixels.size(), lumaSize);
            ASSERT_EQ(d.image().pixels.size(), lumaSize);
            for (int y = 0; y < c.height; ++y)
                for (int x = 0; x < c.width; ++x)
                    worstRgb = std::max(worstRgb,
                                        channelDifference(image.pixels[size_t(y) * c.width + x], yuv.rgb(f, x, y)));
        }
        std::printf("%s: largest difference Y %d, U %d, V %d, RGB %d over %d key and %d inter frames\n", c.flv,
                    worst[0], worst[1], worst[2], worstRgb, keys, inters);
        EXPECT_LE(worst[0], 2);
        EXPECT_LE(worst[1], 2);
        EXPECT_LE(worst[2], 2);
        EXPECT_LE(worstRgb, 6);
        EXPECT_GE(keys, 2);
        EXPECT_GE(inters, 8);
    }
}

TEST(MediaSorenson, EscapedCoefficientsReadPerPictureVersion) {
    // One last coefficient (run 2, level -1) written as a table code and as
    // each version's escape: all decode to the same picture, which the
    // coefficient changed.
    auto decoded = [](const Bytes& packet) {
        SorensonDecoder d;
        std::string error;
        EXPECT_TRUE(d.decode(packet, error)) << error;
        return d.reconstructed().y;
    };
    const auto table = decoded(oneMacroblock(1, [](BitWriter& w) { w.put("001110"); w.put(1, 1); }));
    // Version 0: last, run, 8-bit level.
    const auto escape0 = decoded(oneMacroblock(0, [](BitWriter& w) {
        w.put("0000011"); w.put(1, 1); w.put(2, 6); w.put(0xFF, 8);
    }));
    // Version 1: a width flag, last, run, then a 7- or 11-bit level.
    const auto escape1 = decoded(oneMacroblock(1, [](BitWriter& w) {
        w.put("0000011"); w.put(0, 1); w.put(1, 1); w.put(2, 6); w.put(0x7F, 7);
    }));
    const auto escape1Wide = decoded(oneMacroblock(1, [](BitWriter& w) {
        w.put("0000011"); w.put(1, 1); w.put(1, 1); w.put(2, 6); w.put(0x7FF, 11);
    }));
    const auto other = decoded(oneMacroblock(1, [](BitWriter& w) { w.put("0111"); w.put(0, 1); }));
    ASSERT_EQ(table.size(), 256u);
    EXPECT_EQ(escape0, table);
    EXPECT_EQ(escape1, table);
    EXPECT_EQ(escape1Wide, table);
    EXPECT_NE(other, table);

    // Version 0 read as version 1 (or the reverse) misreads the fields and fails or differs.
    SorensonDecoder d;
    std::string error;
    const Bytes v0 = oneMacroblock(0, [](BitWriter& w) {
        w.put("0000011"); w.put(1, 1); w.put(2, 6); w.put(0xFF, 8);
    });
    Bytes asV1 = v0;
    asV1[2] |= 0x04;  // the version field's last bit
    EXPECT_TRUE(!d.decode(asV1, error) || d.reconstructed().y != table);
}

TEST(MediaSorenson, DeblockingSmoothsBlockStepsAndKeepsRealEdges) {
    // A small step across a block edge is blocking: the two samples beside it
    // move toward each other. A large one is picture content: it stays.
    YuvPlanes p;
    p.width = 16;
    p.height = 8;
    p.y.assign(16 * 8, 0);
    p.u.assign(8 * 4, 128);
    p.v.assign(8 * 4, 128);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x)
            p.y[size_t(y) * 16 + x] = static_cast<uint8_t>(y < 4 ? (x < 8 ? 100 : 104) : (x < 8 ? 0 : 200));
    const std::vector<uint8_t> quantizers{8}, coded{1};
    YuvPlanes filtered = p;
    deblockPlanes(filtered, quantizers, coded);
    for (int y = 0; y < 4; ++y) {
        const uint8_t* row = &filtered.y[size_t(y) * 16];
        EXPECT_EQ(row[5], 100);
        EXPECT_EQ(row[6], 100);
        EXPECT_EQ(row[7], 101);
        EXPECT_EQ(row[8], 103);
        EXPECT_EQ(row[9], 104);
    }
    for (int y = 4; y < 8; ++y)
        EXPECT_TRUE(std::equal(filtered.y.begin() + y * 16, filtered.y.begin() + y * 16 + 16, p.y.begin() + y * 16));

    // Macroblocks that carried nothing are not filtered.
    YuvPlanes untouched = p;
    deblockPlanes(untouched, quantizers, std::vector<uint8_t>{0});
    EXPECT_EQ(untouched.y, p.y);

    // Through the decoder: the flag changes what is shown, never what later
    // frames predict from, and only near block edges.
    const auto frames = sparkFrames(media_clips::clip("spark_64x48.flv"));
    ASSERT_FALSE(frames.empty());
    SorensonPictureInfo info;
    std::string error;
    ASSERT_TRUE(readSorensonPictureHeader(frames[0].packet, info, error)) << error;
    // The header of this clip: 17 + 5 + 8 + 3 + 16 (8-bit sizes) + 2 bits, then the flag.
    const size_t flagBit = 17 + 5 + 8 + 3 + 16 + 2;
    Bytes on(frames[0].packet.begin(), frames[0].packet.end()), off = on;
    on[flagBit / 8] |= static_cast<uint8_t>(0x80 >> (flagBit % 8));
    off[flagBit / 8] &= static_cast<uint8_t>(~(0x80 >> (flagBit % 8)));
    SorensonDecoder a, b;
    ASSERT_TRUE(a.decode(on, error)) << error;
    ASSERT_TRUE(b.decode(off, error)) << error;
    EXPECT_TRUE(a.lastHeader().deblocking);
    EXPECT_FALSE(b.lastHeader().deblocking);
    EXPECT_EQ(a.reconstructed().y, b.reconstructed().y);
    EXPECT_EQ(b.shown().y, b.reconstructed().y);
    int changed = 0;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            if (a.shown().y[size_t(y) * 64 + x] != b.shown().y[size_t(y) * 64 + x]) {
                ++changed;
                const bool nearEdge = (x % 8 == 0 || x % 8 == 1 || x % 8 == 6 || x % 8 == 7) ||
                                      (y % 8 == 0 || y % 8 == 1 || y % 8 == 6 || y % 8 == 7);
                EXPECT_TRUE(nearEdge) << x << "," << y;
            }
    EXPECT_GT(changed, 0);
    EXPECT_NE(a.image(), b.image());
}

TEST(MediaSorenson, DamagedPacketsChangeNothing) {
    const auto frames = sparkFrames(media_clips::clip("spark_58x42.flv"));
    ASSERT_GE(frames.size(), 3u);
    std::string error;

    // An inter frame needs a picture to build on.
    SorensonDecoder fresh;
    EXPECT_FALSE(fresh.decode(frames[1].packet, error));
    EXPECT_NE(error.find("inter frame"), std::string::npos) << error;
    EXPECT_FALSE(fresh.hasImage());

    // Pictures larger than the caller allows are refused before decoding.
    EXPECT_FALSE(fresh.decode(frames[0].packet, error, 58 * 42 - 1));
    EXPECT_FALSE(fresh.hasImage());

    // Every truncation of a key frame and of an inter frame, and random bit flips.
    SorensonDecoder d;
    ASSERT_TRUE(d.decode(frames[0].packet, error)) << error;
    const VideoImage before = d.image();
    const YuvPlanes planesBefore = d.reconstructed();
    for (size_t f = 0; f < 2; ++f)
        for (size_t n = 0; n + 1 < frames[f].packet.size(); ++n) {
            const Bytes cut(frames[f].packet.begin(), frames[f].packet.begin() + static_cast<ptrdiff_t>(n));
            if (!d.decode(cut, error)) {
                ASSERT_EQ(d.image(), before) << "frame " << f << " cut to " << n;
                ASSERT_EQ(d.reconstructed().y, planesBefore.y);
            } else {
                // A picture can end early when only stuffing or padding was cut: restore the start.
                ASSERT_TRUE(d.decode(frames[0].packet, error)) << error;
            }
        }
    std::mt19937 rng(17);
    for (int i = 0; i < 300; ++i) {
        Bytes bad(frames[1 + i % 2].packet.begin(), frames[1 + i % 2].packet.end());
        for (int k = 0; k < 3; ++k)
            bad[rng() % bad.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
        SorensonDecoder copy = d;
        copy.decode(bad, error);  // decodes or refuses; the sanitizers watch the reads
    }

    // Header faults name themselves.
    const std::pair<Bytes, const char*> headers[] = {
        {Bytes{0x00, 0x00, 0x00}, "start code"},
        {Bytes{0x00, 0x00, 0x88, 0x00}, "version"},   // version 2
        {Bytes{0x00, 0x00, 0x80}, "shorter"},
    };
    for (const auto& [packet, why] : headers) {
        EXPECT_FALSE(d.decode(packet, error));
        EXPECT_NE(error.find(why), std::string::npos) << error;
    }
    EXPECT_EQ(d.image(), before);
}
