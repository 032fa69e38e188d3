// The SWF container and tag records: what parses into the movie, and what is
// refused (with which message) when the bytes are truncated or hostile.
#include "engine_test_support.h"
#include "swf_movie.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace refplayer::engine;
using namespace enginetest;

namespace {

LoadResult Parse(const std::vector<uint8_t>& bytes, const Limits& limits = {})
{
    return parseMovie(bytes, limits);
}

void ExpectRefused(const std::vector<uint8_t>& bytes, const std::string& reason, const Limits& limits = {})
{
    LoadResult r = Parse(bytes, limits);
    EXPECT_FALSE(r.movie);
    EXPECT_NE(r.error.find(reason), std::string::npos) << "error was: " << r.error;
}

// The header of an empty movie built by the writer (without the ShowFrame
// and End it closes with), and a file made of that header and hand-written tags.
std::vector<uint8_t> HeaderOf(const sw::Movie& m)
{
    auto bytes = m.build();
    const std::vector<uint8_t> closing = {0x40, 0x00, 0x00, 0x00};
    EXPECT_TRUE(bytes.size() > 12 && std::equal(closing.begin(), closing.end(), bytes.end() - 4));
    bytes.resize(bytes.size() - 4);
    return bytes;
}

std::vector<uint8_t> Assemble(std::vector<uint8_t> header, const std::vector<uint8_t>& tags)
{
    header.insert(header.end(), tags.begin(), tags.end());
    uint32_t n = static_cast<uint32_t>(header.size());
    std::memcpy(header.data() + 4, &n, 4);  // little-endian on every machine this runs on
    return header;
}

// A tag header: the short form, or the long form when asked or needed.
std::vector<uint8_t> Tag(uint16_t code, const std::vector<uint8_t>& body, std::optional<uint32_t> claimedLength = {})
{
    std::vector<uint8_t> out;
    uint32_t len = claimedLength.value_or(static_cast<uint32_t>(body.size()));
    if (len < 0x3F && !claimedLength) {
        uint16_t h = static_cast<uint16_t>(code << 6 | len);
        out = {uint8_t(h), uint8_t(h >> 8)};
    } else {
        uint16_t h = static_cast<uint16_t>(code << 6 | 0x3F);
        out = {uint8_t(h), uint8_t(h >> 8), uint8_t(len), uint8_t(len >> 8), uint8_t(len >> 16), uint8_t(len >> 24)};
    }
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

const ShapeDef& ShapeOf(const MovieDef& m, uint16_t id)
{
    const Character* c = m.character(id);
    EXPECT_TRUE(c && c->kind == Character::Kind::Shape);
    return static_cast<const ShapeDef&>(*c);
}

}  // namespace

TEST(SwfParse, HeaderFactsAreTheSameUncompressedAndCompressed)
{
    sw::Movie m(9, 550, 400, 24.5);
    m.setBackgroundColor(sw::Rgba::rgb(0x336699));
    m.showFrame(3);
    for (auto compression : {sw::Compression::None, sw::Compression::Zlib}) {
        LoadResult r = Parse(m.build(compression));
        ASSERT_TRUE(r.movie) << r.error;
        EXPECT_EQ(r.movie->compressed, compression == sw::Compression::Zlib);
        EXPECT_EQ(r.movie->version, 9);
        EXPECT_EQ(r.movie->stage.xMax, 550 * 20);
        EXPECT_EQ(r.movie->stage.yMax, 400 * 20);
        EXPECT_DOUBLE_EQ(r.movie->frameRate, 24.5);
        EXPECT_EQ(r.movie->declaredFrames, 3);
        EXPECT_EQ(r.movie->timeline.frameCount(), 3);
        EXPECT_EQ(r.movie->background, (Rgba{0x33, 0x66, 0x99, 255}));
    }
}

TEST(SwfParse, ControlTagsLandInTheFramesTheyPrecede)
{
    auto m = movie();
    uint16_t shape = defineRect(m, 0, 0, 10, 10, sw::Rgba::rgb(0xFF0000));
    m.frameLabel("start").place(placeAt(shape, 1)).showFrame();
    m.removeObject2(1).doAction(sw::ActionAssembler().stop()).frameLabel("end").showFrame();
    sw::PlaceObject moved;
    moved.depth = 3;
    moved.move = true;
    moved.matrix = sw::Matrix::translate(40, -60);
    moved.colorTransform = sw::CxForm::alpha(0.5);
    moved.ratio = 7;
    moved.name = "clip";
    m.place(moved).showFrame();
    LoadResult r = Parse(m.build());
    ASSERT_TRUE(r.movie) << r.error;
    const Timeline& t = r.movie->timeline;
    ASSERT_EQ(t.frameCount(), 3);
    EXPECT_EQ(t.frameOfLabel("start"), 0);
    EXPECT_EQ(t.frameOfLabel("END"), 1);  // labels also match without regard to case
    EXPECT_FALSE(t.frameOfLabel("middle"));

    ASSERT_EQ(t.frames[0].commands.size(), 1u);
    const auto& place = std::get<PlaceCommand>(t.frames[0].commands[0]);
    EXPECT_EQ(place.character, shape);
    EXPECT_EQ(place.depth, 1);
    EXPECT_FALSE(place.move);

    ASSERT_EQ(t.frames[1].commands.size(), 1u);
    EXPECT_EQ(std::get<RemoveCommand>(t.frames[1].commands[0]).depth, 1);
    ASSERT_EQ(t.frames[1].actions.size(), 1u);
    EXPECT_EQ(t.frames[1].actions[0][0], 0x07);  // Stop

    const auto& move = std::get<PlaceCommand>(t.frames[2].commands.at(0));
    EXPECT_TRUE(move.move);
    EXPECT_FALSE(move.character);
    EXPECT_EQ(move.matrix->tx, 40);
    EXPECT_EQ(move.matrix->ty, -60);
    EXPECT_DOUBLE_EQ(move.colorTransform->ma, 0.5);
    EXPECT_EQ(move.ratio, 7);
    EXPECT_EQ(move.name, "clip");
}

TEST(SwfParse, ShapeEdgesAreSortedIntoOnePathPerStyleWithFill0Reversed)
{
    auto m = movie();
    sw::ShapeBuilder s(3);
    uint32_t red = s.addFill(sw::Rgba::rgba(0xFF000080));
    uint32_t line = s.addLine(40, sw::Rgba::rgb(0x0000FF));
    // One edge with the fill on its right (fill 1), one with it on its left (fill 0).
    s.moveTo(0, 0).setFill1(red).setLine(line).lineTo(200, 0);
    s.setFill1(0).setFill0(red).setLine(0).curveTo(300, 100, 200, 200);
    s.newStyles();
    uint32_t green = s.addFill(sw::Rgba::rgb(0x00FF00));
    s.moveTo(0, 0).setFill1(green).lineTo(0, 100);
    uint16_t id = m.defineShape(s);
    LoadResult r = Parse(m.build());
    ASSERT_TRUE(r.movie) << r.error;
    const ShapeDef& shape = ShapeOf(*r.movie, id);
    ASSERT_EQ(shape.groups.size(), 2u);

    const ShapeGroup& g = shape.groups[0];
    ASSERT_EQ(g.fills.size(), 1u);
    EXPECT_EQ(g.fills[0].color, (Rgba{255, 0, 0, 0x80}));
    ASSERT_EQ(g.lines.size(), 1u);
    EXPECT_EQ(g.lines[0].width, 40);
    ASSERT_EQ(g.fillPaths.size(), 1u);
    const auto& segs = g.fillPaths[0].segments;
    ASSERT_EQ(segs.size(), 2u);
    EXPECT_FALSE(segs[0].curve);
    EXPECT_EQ(segs[0].x1, 200);
    // The curve was drawn from (200,0) to (200,200) with the fill on its left:
    // the path holds it reversed, control point unchanged.
    EXPECT_TRUE(segs[1].curve);
    EXPECT_EQ(segs[1].x0, 200);
    EXPECT_EQ(segs[1].y0, 200);
    EXPECT_EQ(segs[1].x1, 200);
    EXPECT_EQ(segs[1].y1, 0);
    EXPECT_EQ(segs[1].cx, 300);
    EXPECT_EQ(segs[1].cy, 100);
    ASSERT_EQ(g.linePaths.size(), 1u);
    EXPECT_EQ(g.linePaths[0].segments.size(), 1u);

    const ShapeGroup& g2 = shape.groups[1];
    ASSERT_EQ(g2.fillPaths.size(), 1u);
    EXPECT_EQ(g2.fills[0].color, (Rgba{0, 255, 0, 255}));
    EXPECT_EQ(g2.fillPaths[0].segments.size(), 1u);
}

TEST(SwfParse, OlderShapeVersionsReadOpaqueColours)
{
    auto m = movie();
    uint16_t v1 = defineRect(m, 0, 0, 5, 5, sw::Rgba::rgb(0x102030), 1);
    uint16_t v2 = defineRect(m, 0, 0, 5, 5, sw::Rgba::rgb(0x405060), 2);
    uint16_t v4 = defineRect(m, 0, 0, 5, 5, sw::Rgba::rgba(0x70809040), 4);
    LoadResult r = Parse(m.build());
    ASSERT_TRUE(r.movie) << r.error;
    EXPECT_EQ(ShapeOf(*r.movie, v1).groups[0].fills[0].color, (Rgba{0x10, 0x20, 0x30, 255}));
    EXPECT_EQ(ShapeOf(*r.movie, v2).groups[0].fills[0].color, (Rgba{0x40, 0x50, 0x60, 255}));
    EXPECT_EQ(ShapeOf(*r.movie, v4).groups[0].fills[0].color, (Rgba{0x70, 0x80, 0x90, 0x40}));
    EXPECT_EQ(ShapeOf(*r.movie, v4).bounds.xMax, 100);
}

TEST(SwfParse, SpritesButtonsTextFieldsAndVideoKeepTheirFields)
{
    auto m = movie();
    uint16_t shape = defineRect(m, 0, 0, 10, 10, sw::Rgba::rgb(0xFF0000));
    sw::Timeline sprite;
    sprite.place(placeAt(shape, 1)).showFrame().frameLabel("two").showFrame(2);
    uint16_t spriteId = m.defineSprite(sprite);

    sw::Button b;
    b.records.push_back(sw::ButtonRecord{.states = sw::button_state::Up, .character = shape, .depth = 1});
    b.records.push_back(sw::ButtonRecord{.states = sw::button_state::HitTest, .character = shape, .depth = 2});
    sw::ButtonAction press;
    press.conditions = sw::button_cond::Press;
    press.actions.play();
    sw::ButtonAction key;
    key.conditions = sw::button_cond::keyPress('k') | sw::button_cond::Release;
    key.actions.stop();
    b.actions.push_back(std::move(press));
    b.actions.push_back(std::move(key));
    uint16_t buttonId = m.defineButton(b);

    sw::EditText t;
    t.bounds = {0, 2000, 0, 400};
    t.variable = "_root.answer";
    t.initialText = "hello";
    t.fontHeight = 240;
    t.maxLength = 12;
    t.multiline = true;
    t.border = true;
    t.color = sw::Rgba::rgba(0x11223344);
    uint16_t textId = m.defineEditText(t);

    uint16_t videoId = m.defineVideoStream(sw::VideoStream{.numFrames = 2, .width = 32, .height = 16, .codec = 3});
    const uint8_t frameData[] = {1, 2, 3};
    m.videoFrame(videoId, 1, frameData).showFrame();

    LoadResult r = Parse(m.build());
    ASSERT_TRUE(r.movie) << r.error;
    const auto& sp = static_cast<const SpriteDef&>(*r.movie->character(spriteId));
    EXPECT_EQ(sp.timeline.frameCount(), 3);
    EXPECT_EQ(sp.timeline.frameOfLabel("two"), 1);

    const auto& bt = static_cast<const ButtonDef&>(*r.movie->character(buttonId));
    ASSERT_EQ(bt.records.size(), 2u);
    EXPECT_EQ(bt.records[1].states, buttonState::Hit);
    ASSERT_EQ(bt.actions.size(), 2u);
    EXPECT_EQ(bt.actions[0].conditions, buttonCond::OverUpToOverDown);
    EXPECT_EQ(bt.actions[0].actions[0], 0x06);  // Play
    EXPECT_EQ(bt.actions[1].keyCode(), 'k');
    EXPECT_TRUE(bt.actions[1].conditions & buttonCond::OverDownToOverUp);
    EXPECT_EQ(bt.actions[1].actions[0], 0x07);

    const auto& tf = static_cast<const EditTextDef&>(*r.movie->character(textId));
    EXPECT_EQ(tf.variable, "_root.answer");
    EXPECT_EQ(tf.initialText, "hello");
    EXPECT_EQ(tf.fontHeight, 240);
    EXPECT_EQ(tf.maxLength, 12);
    EXPECT_TRUE(tf.multiline && tf.border && !tf.password);
    EXPECT_EQ(tf.color, (Rgba{0x11, 0x22, 0x33, 0x44}));
    EXPECT_EQ(tf.bounds.xMax, 2000);

    const auto& vd = static_cast<const VideoDef&>(*r.movie->character(videoId));
    EXPECT_EQ(vd.width, 32);
    EXPECT_EQ(vd.height, 16);
    EXPECT_EQ(vd.codec, 3);
    ASSERT_EQ(vd.frames.size(), 2u);
    EXPECT_TRUE(vd.frames[0].empty());
    EXPECT_EQ(vd.frames[1].size(), 3u);
}

TEST(SwfParse, UnknownTagsAreSkippedByTheirLength)
{
    auto m = movie();
    const uint8_t junk[100] = {0xFF, 0x3F, 0xFF, 0xFF, 0xFF, 0xFF};  // looks like a tag header inside
    m.rawTag(777, junk, true).rawTag(900, std::span<const uint8_t>(junk, 5));
    m.frameLabel("after").showFrame();
    LoadResult r = Parse(m.build());
    ASSERT_TRUE(r.movie) << r.error;
    EXPECT_EQ(r.movie->timeline.frameOfLabel("after"), 0);
}

TEST(SwfParse, TagsAfterTheLastShowFrameFormAFinalFrame)
{
    auto m = movie();
    auto header = HeaderOf(m);
    auto file = Assemble(header, [] {
        std::vector<uint8_t> tags = Tag(tag::ShowFrame, {});
        auto label = Tag(tag::FrameLabel, {'x', 0});
        tags.insert(tags.end(), label.begin(), label.end());
        return tags;  // and no End tag either
    }());
    LoadResult r = Parse(file);
    ASSERT_TRUE(r.movie) << r.error;
    EXPECT_EQ(r.movie->timeline.frameCount(), 2);
    EXPECT_EQ(r.movie->timeline.frameOfLabel("x"), 1);
}

TEST(SwfParse, MalformedContainersAreRefusedWithTheReason)
{
    auto m = movie();
    m.place(placeAt(defineRect(m, 0, 0, 10, 10, sw::Rgba::rgb(0xFF)), 1)).showFrame();
    const auto good = m.build();
    const auto goodCompressed = m.build(sw::Compression::Zlib);
    ASSERT_TRUE(Parse(good).movie);
    ASSERT_TRUE(Parse(goodCompressed).movie);

    ExpectRefused({'F', 'W', 'S'}, "fewer than a SWF header");
    auto bad = good;
    bad[0] = 'X';
    ExpectRefused(bad, "signature");
    bad = good;
    bad[0] = 'Z';
    ExpectRefused(bad, "LZMA");

    // Shorter than the header says, either way it was stored.
    ExpectRefused(std::vector<uint8_t>(good.begin(), good.end() - 3), "truncated");
    ExpectRefused(std::vector<uint8_t>(goodCompressed.begin(), goodCompressed.end() - 6), "truncated");
    bad = goodCompressed;
    for (size_t i = 10; i < bad.size(); ++i)
        bad[i] ^= 0x5A;
    ExpectRefused(bad, "corrupt compressed data");

    Limits small;
    small.movieBytes = good.size() - 1;
    ExpectRefused(good, "more than the limit", small);
    bad = good;
    bad[4] = 3, bad[5] = 0, bad[6] = 0, bad[7] = 0;
    ExpectRefused(bad, "declares a file of 3 bytes");
}

TEST(SwfParse, LengthsThatRunPastTheirContainerAreRefused)
{
    const auto header = HeaderOf(movie());
    // A tag claiming more than the file holds.
    ExpectRefused(Assemble(header, Tag(tag::DoAction, {0x07, 0x00}, 0x7FFFFFF0)), "claims 2147483632 bytes");
    // A string without its terminator.
    ExpectRefused(Assemble(header, Tag(tag::FrameLabel, {'a', 'b'})), "NUL");
    // A place record cut short inside its matrix.
    ExpectRefused(Assemble(header, Tag(tag::PlaceObject2, {0x06, 0x01, 0x00, 0x01, 0x00, 0xFF})), "remain");
    // A sprite whose inner tag overruns the sprite.
    std::vector<uint8_t> sprite = {1, 0, 1, 0};
    auto inner = Tag(tag::ShowFrame, {}, 50);
    sprite.insert(sprite.end(), inner.begin(), inner.end());
    ExpectRefused(Assemble(header, Tag(tag::DefineSprite, sprite)), "claims 50 bytes");
    // A clip action record longer than its tag.
    std::vector<uint8_t> place = {0x82, 0x01, 0x00, 0x01, 0x00, 0, 0, 0, 0, 0, 0, 0x01, 0, 0, 0, 0xFF, 0, 0, 0};
    ExpectRefused(Assemble(header, Tag(tag::PlaceObject2, place)), "clip action of 255 bytes");
    // A fill style of a type that does not exist.
    std::vector<uint8_t> shape = {1, 0, 0x08, 0x00, 1, 0x77};
    ExpectRefused(Assemble(header, Tag(tag::DefineShape, shape)), "unknown fill style type 119");
}

TEST(SwfParse, HardCapsRefuseMoviesThatWouldExhaustTheEngine)
{
    auto m = movie();
    sw::ShapeBuilder s(3);
    uint32_t f = s.addFill(sw::Rgba::rgb(0xFF));
    std::vector<sw::Point> star;
    for (int i = 0; i < 40; ++i)
        star.push_back({(i % 2) * 1000 + i * 10, i * 37 % 500});
    s.polygon(star, f, 0);
    m.defineShape(s);
    m.defineShape(s);
    m.showFrame(5);
    const auto bytes = m.build();
    ASSERT_TRUE(Parse(bytes).movie);

    Limits l;
    l.shapeRecords = 20;
    ExpectRefused(bytes, "more than 20 records", l);
    l = Limits{};
    l.movieEdges = 60;  // each shape alone fits, both together do not
    ExpectRefused(bytes, "more than 60 edges", l);
    l = Limits{};
    l.tags = 4;
    ExpectRefused(bytes, "more than 4 tags", l);
    l = Limits{};
    l.frames = 4;
    ExpectRefused(bytes, "more than 4 frames", l);
    l = Limits{};
    l.shapeStyles = 0;
    ExpectRefused(bytes, "too many styles", l);
}

TEST(SwfParse, EveryTruncationAndByteFlipIsRefusedOrParsedNeverMisread)
{
    // A movie with a bit of everything; each prefix and each corrupted byte must
    // come back as a movie or an error, never as a crash (the sanitisers watch).
    auto m = movie();
    uint16_t shape = defineRect(m, 1, 2, 30, 20, sw::Rgba::rgba(0x80FF0040));
    sw::Timeline sprite;
    sprite.place(placeAt(shape, 1, 5, 5)).showFrame(2);
    uint16_t spriteId = m.defineSprite(sprite);
    sw::Button b;
    b.records.push_back(sw::ButtonRecord{.character = shape});
    sw::ButtonAction a;
    a.actions.fscommand("x", "y");
    b.actions.push_back(std::move(a));
    uint16_t button = m.defineButton(b);
    m.place(placeAt(spriteId, 1)).place(placeAt(button, 2)).doAction(sw::ActionAssembler().stop()).showFrame();
    const auto bytes = m.build();
    size_t parsed = 0;
    for (size_t n = 0; n < bytes.size(); ++n) {
        LoadResult r = Parse(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(n)));
        EXPECT_FALSE(r.movie) << "prefix of " << n << " bytes";
        EXPECT_FALSE(r.error.empty());
    }
    for (size_t i = 8; i < bytes.size(); ++i) {
        auto copy = bytes;
        copy[i] ^= 0xA5;
        LoadResult r = Parse(copy);
        parsed += r.movie ? 1 : 0;
        EXPECT_TRUE(r.movie || !r.error.empty());
    }
    EXPECT_GT(parsed, 0u);  // flips inside colours and coordinates are still movies
}
