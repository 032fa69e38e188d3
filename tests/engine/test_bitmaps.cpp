// Bitmaps: the lossless and JPEG decoders on their own (with data the project's
// writer did not make: ffmpeg's JPEG, lossless bytes laid out by hand) and
// bitmap fills drawn through movies: placement by the fill's matrix, tiling
// and clipping, nearest and bilinear sampling, alpha and colour transforms.
#include "bitmap.h"
#include "engine_test_support.h"
#include "swf_movie.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

using namespace enginetest;
namespace eng = refplayer::engine;

namespace {

std::vector<uint8_t> zlibOf(const std::vector<uint8_t>& raw)
{
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    std::vector<uint8_t> out(size);
    EXPECT_EQ(compress(out.data(), &size, raw.data(), static_cast<uLong>(raw.size())), Z_OK);
    out.resize(size);
    return out;
}

std::vector<uint8_t> readFile(const std::string& name)
{
    std::ifstream in(std::string(KV_ENGINE_DATA_DIR) + "/" + name, std::ios::binary);
    EXPECT_TRUE(in.good()) << name;
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// ffmpeg's picture: 16 x 16, four flat 8 x 8 blocks.
const sw::Rgba kBlocks[4] = {{220, 30, 30, 255}, {30, 200, 60, 255}, {40, 60, 210, 255}, {128, 128, 128, 255}};

uint8_t Ch(uint32_t p, int shift) { return static_cast<uint8_t>(p >> shift); }

::testing::AssertionResult Near(uint32_t actual, uint32_t expected, int tolerance = 1)
{
    for (int shift = 0; shift < 32; shift += 8)
        if (std::abs(int(Ch(actual, shift)) - int(Ch(expected, shift))) > tolerance)
            return ::testing::AssertionFailure() << std::hex << "0x" << actual << " is not near 0x" << expected;
    return ::testing::AssertionSuccess();
}

uint32_t opaque(sw::Rgba c) { return argb(255, c.r, c.g, c.b); }

// A rectangle (pixels) filled with a bitmap that `scale` device pixels per bitmap pixel place at its corner.
uint16_t bitmapRect(sw::Movie& m, uint16_t bitmap, int x, int y, int w, int h, double scale, bool repeat, bool smooth)
{
    sw::ShapeBuilder s(3);
    uint32_t fill = s.addFill(sw::BitmapFill{bitmap, sw::Matrix::make(20 * scale, 20 * scale, 0, x * 20, y * 20), repeat, smooth});
    s.rectangle(x * 20, y * 20, w * 20, h * 20, fill, 0);
    return m.defineShape(s);
}

// A 2 x 2 opaque bitmap: red, green / blue, white.
sw::LosslessBitmap quad()
{
    return sw::LosslessBitmap{.width = 2, .height = 2, .pixels = {{255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}, {255, 255, 255, 255}}};
}

const eng::BitmapDef* bitmapOf(const eng::MovieDef& movie, uint16_t id)
{
    const eng::Character* c = movie.character(id);
    return c && c->kind == eng::Character::Kind::Bitmap ? static_cast<const eng::BitmapDef*>(c) : nullptr;
}

}  // namespace

// --- decoders ------------------------------------------------------------------------------

TEST(BitmapDecode, LosslessFormatsGiveExactPixelsPastTheirRowPadding)
{
    // Width 3: colour-mapped rows pad 3 to 4 bytes, 15-bit rows 6 to 8.
    const std::vector<sw::Rgba> colours = {{255, 0, 0, 255}, {0, 128, 255, 255}, {8, 16, 24, 255},
                                           {255, 255, 255, 255}, {0, 0, 0, 255}, {200, 100, 0, 255}};
    for (uint8_t format : {3, 4, 5}) {
        SCOPED_TRACE(int(format));
        auto m = movie();
        sw::LosslessBitmap bm{.width = 3, .height = 2, .format = format};
        if (format == 3) {
            bm.palette = colours;
            bm.indices = {5, 4, 3, 2, 1, 0};
        } else {
            bm.pixels = {colours[5], colours[4], colours[3], colours[2], colours[1], colours[0]};
        }
        const uint16_t id = m.defineBitsLossless(bm);
        auto loaded = eng::parseMovie(m.build());
        ASSERT_TRUE(loaded.movie) << loaded.error;
        const eng::BitmapDef* b = bitmapOf(*loaded.movie, id);
        ASSERT_TRUE(b && b->usable()) << (b ? b->problem : "no bitmap");
        ASSERT_EQ(b->width, 3);
        ASSERT_EQ(b->height, 2);
        for (int p = 0; p < 6; ++p) {
            sw::Rgba c = colours[5 - p];
            if (format == 4)  // five bits a channel, widened by repeating the top bits
                c = {uint8_t((c.r & 0xF8) | c.r >> 5), uint8_t((c.g & 0xF8) | c.g >> 5), uint8_t((c.b & 0xF8) | c.b >> 5), 255};
            EXPECT_EQ(b->pixels[p], opaque(c)) << p;
        }
    }
}

TEST(BitmapDecode, Lossless2PaletteLaidOutByHand)
{
    // DefineBitsLossless2 body after the id: format 3, width 3, height 2,
    // table size - 1, then zlib(RGBA table, rows of indices padded to 4 bytes).
    // Table entries are premultiplied.
    const std::vector<uint8_t> raw = {
        255, 0,   0,   255,  // 0 opaque red
        0,   0,   100, 128,  // 1 half-transparent blue
        0,   0,   0,   0,    // 2 transparent
        0, 1, 2, 0xEE,       // row 0 and its pad byte
        2, 3, 0, 0xEE,       // row 1: index 3 is past the table
    };
    std::vector<uint8_t> body = {3, 3, 0, 2, 0, 2};
    const auto z = zlibOf(raw);
    body.insert(body.end(), z.begin(), z.end());
    eng::DecodedImage img = eng::decodeLossless(body, true, 1u << 20);
    ASSERT_TRUE(img.ok()) << img.error;
    const std::vector<uint32_t> want = {0xFFFF0000u, 0x80000064u, 0, 0, 0, 0xFFFF0000u};
    EXPECT_EQ(img.pixels, want);
}

TEST(BitmapDecode, LosslessRefusesWhatItCannotHold)
{
    const auto z = zlibOf(std::vector<uint8_t>(4 * 4 * 4, 0xFF));
    auto body = [&](std::vector<uint8_t> head) {
        head.insert(head.end(), z.begin(), z.end());
        return head;
    };
    EXPECT_TRUE(eng::decodeLossless(body({5, 4, 0, 4, 0}), true, 1u << 20).ok());
    auto refused = [](const eng::DecodedImage& img) { return !img.ok() && !img.error.empty(); };
    EXPECT_TRUE(refused(eng::decodeLossless(body({5, 4, 0, 4, 0}), true, 15)));   // over the pixel cap
    EXPECT_TRUE(refused(eng::decodeLossless(body({5, 4, 0, 5, 0}), true, 1u << 20)));  // data ends early
    EXPECT_TRUE(refused(eng::decodeLossless(body({4, 4, 0, 4, 0}), true, 1u << 20)));  // no 15-bit with alpha
    EXPECT_TRUE(refused(eng::decodeLossless(body({7, 4, 0, 4, 0}), false, 1u << 20)));
    EXPECT_TRUE(refused(eng::decodeLossless(body({5, 0, 0, 4, 0}), false, 1u << 20)));
    EXPECT_TRUE(refused(eng::decodeLossless(std::vector<uint8_t>{3, 1, 0}, false, 1u << 20)));
    // A tiny stream claiming a huge picture is refused before anything is allocated for it.
    EXPECT_TRUE(refused(eng::decodeLossless(body({5, 0xFF, 0xFF, 0xFF, 0x0F}), true, 1u << 30)));
}

TEST(BitmapDecode, FfmpegJpegDecodesAloneWithSeparateTablesAndAfterTheStrayHeader)
{
    const std::vector<uint8_t> jpeg = readFile("ffmpeg_blocks16.jpg");
    ASSERT_GT(jpeg.size(), 100u);
    auto check = [](const eng::DecodedImage& img) {
        ASSERT_TRUE(img.ok()) << img.error;
        ASSERT_EQ(img.width, 16);
        ASSERT_EQ(img.height, 16);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                ASSERT_TRUE(Near(img.pixels[y * 16 + x], opaque(kBlocks[(y / 8) * 2 + x / 8]), 3)) << x << "," << y;
    };
    check(eng::decodeJpegData({}, jpeg, false, 1u << 20));

    // Old encoders put an end and a start marker before the picture.
    std::vector<uint8_t> stray = {0xFF, 0xD9, 0xFF, 0xD8};
    stray.insert(stray.end(), jpeg.begin(), jpeg.end());
    check(eng::decodeJpegData({}, stray, true, 1u << 20));

    // DefineBits: quantisation and Huffman tables in JPEGTables, the rest in
    // the tag, each fragment with its own start and end markers.
    std::vector<uint8_t> tables = {0xFF, 0xD8}, image = {0xFF, 0xD8};
    size_t i = 2;
    while (i + 4 <= jpeg.size() && jpeg[i + 1] != 0xDA) {
        const size_t len = size_t(jpeg[i + 2]) << 8 | jpeg[i + 3];
        auto& to = jpeg[i + 1] == 0xDB || jpeg[i + 1] == 0xC4 ? tables : image;
        to.insert(to.end(), jpeg.begin() + i, jpeg.begin() + i + 2 + len);
        i += 2 + len;
    }
    image.insert(image.end(), jpeg.begin() + i, jpeg.end());
    tables.insert(tables.end(), {0xFF, 0xD9});
    ASSERT_GT(tables.size(), 10u);
    check(eng::decodeJpegData(tables, image, false, 1u << 20));
    EXPECT_FALSE(eng::decodeJpegData({}, image, false, 1u << 20).ok());  // without its tables

    // Damage: a clean refusal each time.
    EXPECT_FALSE(eng::decodeJpegData({}, std::span(jpeg).first(60), false, 1u << 20).ok());
    EXPECT_FALSE(eng::decodeJpegData({}, std::vector<uint8_t>{1, 2, 3, 4}, true, 1u << 20).ok());
    EXPECT_FALSE(eng::decodeJpegData({}, jpeg, false, 255).ok());  // 256 pixels over a cap of 255
    EXPECT_FALSE(eng::decodeJpegData({}, std::vector<uint8_t>{'G', 'I', 'F', '8', '9', 'a'}, true, 1u << 20).ok());

    // A Huffman table claiming more than 256 codes (the decoder once wrote past its tables).
    std::vector<uint8_t> overfull = jpeg;
    for (size_t at = 2; at + 4 < overfull.size() && overfull[at + 1] != 0xDA;
         at += 2 + (size_t(overfull[at + 2]) << 8 | overfull[at + 3]))
        if (overfull[at + 1] == 0xC4)
            std::fill_n(overfull.begin() + at + 5, 16, uint8_t{0x20});
    EXPECT_FALSE(eng::decodeJpegData({}, overfull, false, 1u << 20).ok());
}

TEST(BitmapDecode, PngInAJpegTagKeepsItsOwnAlpha)
{
    // A 2 x 1 RGBA PNG laid out here: signature, IHDR, IDAT (filter 0 row), IEND.
    auto chunk = [](std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& body) {
        for (int s = 24; s >= 0; s -= 8)
            out.push_back(uint8_t(body.size() >> s));
        std::vector<uint8_t> typed(type, type + 4);
        typed.insert(typed.end(), body.begin(), body.end());
        out.insert(out.end(), typed.begin(), typed.end());
        const uint32_t crc = crc32(0, typed.data(), static_cast<uInt>(typed.size()));
        for (int s = 24; s >= 0; s -= 8)
            out.push_back(uint8_t(crc >> s));
    };
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    chunk(png, "IHDR", {0, 0, 0, 2, 0, 0, 0, 1, 8, 6, 0, 0, 0});
    chunk(png, "IDAT", zlibOf({0, 200, 100, 0, 128, 0, 0, 255, 255}));
    chunk(png, "IEND", {});
    eng::DecodedImage img = eng::decodeJpegData({}, png, true, 1u << 20);
    ASSERT_TRUE(img.ok()) << img.error;
    EXPECT_EQ(img.pixels, (std::vector<uint32_t>{argb(128, 100, 50, 0), 0xFF0000FFu}));
    EXPECT_FALSE(eng::decodeJpegData({}, png, false, 1u << 20).ok());  // DefineBits holds JPEG only

    // An empty data chunk first (the decoder once copied it into a buffer not yet made).
    std::vector<uint8_t> split = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    chunk(split, "IHDR", {0, 0, 0, 2, 0, 0, 0, 1, 8, 6, 0, 0, 0});
    chunk(split, "IDAT", {});
    chunk(split, "IDAT", zlibOf({0, 200, 100, 0, 128, 0, 0, 255, 255}));
    chunk(split, "IEND", {});
    EXPECT_EQ(eng::decodeJpegData({}, split, true, 1u << 20).pixels, img.pixels);

    // DefineBitsJPEG3 with a PNG: the alpha plane does not apply.
    auto m = movie();
    const uint16_t id = m.defineBitsJpeg3(png, std::vector<uint8_t>{0, 0});
    auto loaded = eng::parseMovie(m.build());
    ASSERT_TRUE(loaded.movie) << loaded.error;
    const eng::BitmapDef* b = bitmapOf(*loaded.movie, id);
    ASSERT_TRUE(b && b->usable());
    EXPECT_EQ(b->pixels[1], 0xFF0000FFu);
}

TEST(BitmapDecode, AlphaPlanePremultipliesAndDamagedPlaneLeavesThePictureOpaque)
{
    eng::DecodedImage img;
    img.width = 2;
    img.height = 1;
    img.pixels = {0xFFC86432u, 0xFF102030u};
    eng::DecodedImage damaged = img;
    eng::applyAlphaPlane(img, zlibOf({128, 0}));
    EXPECT_EQ(img.pixels[0], argb(128, 100, 50, 25));
    EXPECT_EQ(img.pixels[1], 0u);
    eng::applyAlphaPlane(damaged, zlibOf({128}));  // one byte short
    EXPECT_EQ(damaged.pixels[0], 0xFFC86432u);
}

// --- definitions in movies -----------------------------------------------------------------

TEST(BitmapTags, BrokenBitmapsLoadEmptyAndCapsLeaveLaterOnesUndecoded)
{
    auto m = movie();
    const uint16_t good = m.defineBitsLossless(quad());
    const uint16_t broken = m.defineBitsJpeg2(std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 0xC0, 0, 50});
    const uint16_t big = m.defineBitsLossless(sw::LosslessBitmap{.width = 4, .height = 4, .pixels = std::vector<sw::Rgba>(16)});
    const std::vector<uint8_t> bytes = m.build();

    auto loaded = eng::parseMovie(bytes);
    ASSERT_TRUE(loaded.movie) << loaded.error;
    EXPECT_TRUE(bitmapOf(*loaded.movie, good)->usable());
    const eng::BitmapDef* b = bitmapOf(*loaded.movie, broken);
    ASSERT_TRUE(b);
    EXPECT_FALSE(b->usable());
    EXPECT_FALSE(b->problem.empty());

    eng::Limits limits;
    limits.movieBitmapPixels = 10;  // the first (4 pixels) fits, the 16-pixel one does not
    loaded = eng::parseMovie(bytes, limits);
    ASSERT_TRUE(loaded.movie) << loaded.error;
    EXPECT_TRUE(bitmapOf(*loaded.movie, good)->usable());
    EXPECT_FALSE(bitmapOf(*loaded.movie, big)->usable());
    EXPECT_NE(bitmapOf(*loaded.movie, big)->problem.find("limit"), std::string::npos);
}

// --- fills ------------------------------------------------------------------------------------

TEST(BitmapFill, NearestSamplingPlacesPixelsExactlyAtEveryScale)
{
    auto m = movie(40, 40);
    const uint16_t bm = m.defineBitsLossless(quad());
    m.place(placeAt(bitmapRect(m, bm, 2, 3, 2, 2, 1, false, false), 1));
    m.place(placeAt(bitmapRect(m, bm, 10, 10, 6, 6, 3, false, false), 2)).showFrame();
    RecordingHost host;
    Player player(host);
    load(player, m.build(), 40, 40);
    View v = render(player, 40, 40);
    const uint32_t red = 0xFFFF0000u, green = 0xFF00FF00u, blue = 0xFF0000FFu, white = 0xFFFFFFFFu;
    EXPECT_EQ(v.at(2, 3), red);
    EXPECT_EQ(v.at(3, 3), green);
    EXPECT_EQ(v.at(2, 4), blue);
    EXPECT_EQ(v.at(3, 4), white);
    EXPECT_EQ(v.at(1, 3), white);  // the background around it
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) {
            const uint32_t want = y < 3 ? (x < 3 ? red : green) : (x < 3 ? blue : white);
            ASSERT_EQ(v.at(10 + x, 10 + y), want) << x << "," << y;
        }
}

TEST(BitmapFill, ClippedFillsExtendTheEdgeAndRepeatingFillsTile)
{
    auto m = movie(40, 20);
    m.setBackgroundColor(sw::Rgba::rgb(0x000000));
    const uint16_t bm = m.defineBitsLossless(quad());
    m.place(placeAt(bitmapRect(m, bm, 0, 0, 6, 6, 1, false, false), 1));   // bitmap at 0,0; 2 x 2
    m.place(placeAt(bitmapRect(m, bm, 20, 0, 6, 6, 1, true, false), 2)).showFrame();
    RecordingHost host;
    Player player(host);
    load(player, m.build(), 40, 20);
    View v = render(player, 40, 20);
    const uint32_t red = 0xFFFF0000u, green = 0xFF00FF00u, blue = 0xFF0000FFu, white = 0xFFFFFFFFu;
    EXPECT_EQ(v.at(5, 0), green);  // the right column extends
    EXPECT_EQ(v.at(0, 5), blue);   // the bottom row extends
    EXPECT_EQ(v.at(5, 5), white);
    EXPECT_EQ(v.at(24, 0), red);   // tiles every two pixels
    EXPECT_EQ(v.at(25, 2), green);
    EXPECT_EQ(v.at(24, 5), blue);
    EXPECT_EQ(v.at(25, 5), white);
    EXPECT_EQ(v.at(6, 0), 0xFF000000u);  // nothing outside the shape
}

TEST(BitmapFill, SmoothingBlendsNeighboursAndWrapsOnlyWhenRepeating)
{
    // A black and a white pixel, four device pixels each.
    auto m = movie(20, 20);
    m.setBackgroundColor(sw::Rgba::rgb(0x000000));
    const uint16_t bm = m.defineBitsLossless(sw::LosslessBitmap{.width = 2, .height = 1, .pixels = {{0, 0, 0, 255}, {255, 255, 255, 255}}});
    m.place(placeAt(bitmapRect(m, bm, 0, 0, 8, 2, 4, false, true), 1));
    m.place(placeAt(bitmapRect(m, bm, 0, 4, 8, 2, 4, true, true), 2)).showFrame();
    RecordingHost host;
    Player player(host);
    load(player, m.build(), 20, 20);
    View v = render(player, 20, 20);
    // Device pixel x samples the bitmap at (x + 0.5) / 4 - 0.5 between pixel centres.
    auto grey = [](double f) { uint8_t c = uint8_t(std::lround(255 * f)); return argb(255, c, c, c); };
    EXPECT_TRUE(Near(v.at(3, 0), grey(0.375)));
    EXPECT_TRUE(Near(v.at(4, 0), grey(0.625)));
    EXPECT_EQ(v.at(0, 0), 0xFF000000u);  // clipped: the edge pixel alone
    EXPECT_EQ(v.at(7, 0), 0xFFFFFFFFu);
    EXPECT_TRUE(Near(v.at(0, 4), grey(0.375)));  // repeating: the far edge blends in
    EXPECT_TRUE(Near(v.at(7, 4), grey(0.625)));
}

TEST(BitmapFill, AlphaAndColourTransformsApplyToBitmapPixels)
{
    auto m = movie(20, 10);
    m.setBackgroundColor(sw::Rgba::rgb(0xFFFFFF));
    const uint16_t bm = m.defineBitsLossless(sw::LosslessBitmap{.width = 1, .height = 1, .alpha = true, .pixels = {{200, 100, 0, 128}}});
    const uint16_t shape = bitmapRect(m, bm, 0, 0, 4, 4, 1, true, false);
    m.place(placeAt(shape, 1));
    sw::PlaceObject tinted = placeAt(shape, 2, 10, 0);
    tinted.colorTransform = sw::CxForm{.multR = 0, .addR = 50};
    m.place(tinted).showFrame();
    RecordingHost host;
    Player player(host);
    load(player, m.build(), 20, 10);
    View v = render(player, 20, 10);
    // Half-transparent over white: c * a + 255 * (1 - a), with a = 128 / 255.
    auto over = [](double c) { return uint8_t(std::lround(c * 128 / 255 + 255 * (127.0 / 255))); };
    EXPECT_TRUE(Near(v.at(1, 1), argb(255, over(200), over(100), over(0)), 2));
    EXPECT_TRUE(Near(v.at(11, 1), argb(255, over(50), over(100), over(0)), 2));
}

TEST(BitmapFill, JpegBitmapsDrawAndMissingOrBrokenOnesDrawNothing)
{
    const std::vector<uint8_t> jpeg = readFile("ffmpeg_blocks16.jpg");
    auto m = movie(40, 20);
    m.setBackgroundColor(sw::Rgba::rgb(0x000000));
    const uint16_t good = m.defineBitsJpeg2(jpeg);
    const uint16_t withAlpha = m.defineBitsJpeg3(jpeg, std::vector<uint8_t>(256, 0));
    const uint16_t broken = m.defineBitsJpeg2(std::span(jpeg).first(40));
    m.place(placeAt(bitmapRect(m, good, 0, 0, 16, 16, 1, false, false), 1));
    m.place(placeAt(bitmapRect(m, withAlpha, 20, 0, 4, 4, 1, false, false), 2));
    m.place(placeAt(bitmapRect(m, broken, 24, 0, 4, 4, 1, false, false), 3));
    m.place(placeAt(bitmapRect(m, 999, 28, 0, 4, 4, 1, false, false), 4));
    m.place(placeAt(good, 5, 32, 0)).showFrame();  // a bitmap placed on its own shows nothing
    RecordingHost host;
    Player player(host);
    load(player, m.build(), 40, 20);
    View v = render(player, 40, 20);
    EXPECT_TRUE(Near(v.at(3, 3), opaque(kBlocks[0]), 3));
    EXPECT_TRUE(Near(v.at(12, 3), opaque(kBlocks[1]), 3));
    EXPECT_TRUE(Near(v.at(3, 12), opaque(kBlocks[2]), 3));
    EXPECT_TRUE(Near(v.at(12, 12), opaque(kBlocks[3]), 3));
    for (int x = 20; x < 40; ++x)
        ASSERT_EQ(v.at(x, 1), 0xFF000000u) << x;
}
