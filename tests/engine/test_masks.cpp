// Clip-depth masks: what a mask lets through (its geometry, not its colour),
// ranges that end at the clip depth, masks inside masks, masks that move,
// masks made of sprites, the mouse under a mask, and a placement written byte
// by byte so the writer and the reader cannot share a mistake.
#include "engine_test_support.h"
#include "mask.h"
#include "swf_movie.h"

#include <gtest/gtest.h>

using namespace enginetest;

namespace {

constexpr uint32_t kWhite = 0xFFFFFFFFu;
const sw::Rgba kRed{255, 0, 0, 255}, kBlue{0, 0, 255, 255}, kGreen{0, 255, 0, 255};
const uint32_t kRedPx = argb(255, 255, 0, 0), kBluePx = argb(255, 0, 0, 255), kGreenPx = argb(255, 0, 255, 0);

sw::PlaceObject maskAt(uint16_t character, uint16_t depth, uint16_t clipDepth, double xPx = 0, double yPx = 0)
{
    sw::PlaceObject p = placeAt(character, depth, xPx, yPx);
    p.clipDepth = clipDepth;
    return p;
}

// Which pixels of a w x h view equal `colour`, as a box (empty when none):
// the masks here are whole-pixel rectangles, so their pictures are boxes.
struct PixBox {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool operator==(const PixBox&) const = default;
};
std::ostream& operator<<(std::ostream& o, const PixBox& b)
{
    return o << "[" << b.left << "," << b.top << " - " << b.right << "," << b.bottom << ")";
}
PixBox boxOf(const View& v, uint32_t colour)
{
    PixBox b{v.width, v.height, 0, 0};
    int count = 0;
    for (int y = 0; y < v.height; ++y)
        for (int x = 0; x < v.width; ++x)
            if (v.at(x, y) == colour) {
                ++count;
                b = {std::min(b.left, x), std::min(b.top, y), std::max(b.right, x + 1), std::max(b.bottom, y + 1)};
            }
    if (!count)
        return {};
    // A box only if every pixel inside it has the colour.
    EXPECT_EQ(count, (b.right - b.left) * (b.bottom - b.top)) << "not a box: " << b;
    return b;
}

}  // namespace

TEST(Masks, ClipDepthShowsTheRangeOnlyWhereTheMaskCovers)
{
    // Depth 1 masks depths 2..3; depth 4 lies above the range and shows whole.
    // The mask's colour is transparent: only its geometry counts.
    auto m = movie(100, 100);
    const uint16_t maskShape = defineRect(m, 20, 30, 40, 20, sw::Rgba{10, 20, 30, 0});
    m.place(maskAt(maskShape, 1, 3));
    m.place(placeAt(defineRect(m, 0, 0, 100, 40, kRed), 2));
    m.place(placeAt(defineRect(m, 0, 40, 100, 60, kBlue), 3));
    m.place(placeAt(defineRect(m, 80, 80, 10, 10, kGreen), 4));
    m.showFrame();
    RecordingHost host;
    Player p(host);
    load(p, m.build(), 100, 100);
    View v = render(p, 100, 100);
    EXPECT_EQ(boxOf(v, kRedPx), (PixBox{20, 30, 60, 40}));
    EXPECT_EQ(boxOf(v, kBluePx), (PixBox{20, 40, 60, 50}));
    EXPECT_EQ(boxOf(v, kGreenPx), (PixBox{80, 80, 90, 90}));
    EXPECT_EQ(v.at(10, 10), kWhite);
    EXPECT_EQ(v.at(70, 70), kWhite);

    // Half a pixel of mask edge lets half the colour through.
    auto half = movie(20, 10);
    half.place(maskAt(defineRect(half, 0, 0, 5.5, 10, kRed), 1, 2));
    half.place(placeAt(defineRect(half, 0, 0, 20, 10, kBlue), 2)).showFrame();
    load(p, half.build(), 20, 10);
    View h = render(p, 20, 10);
    EXPECT_EQ(h.at(4, 5), kBluePx);
    EXPECT_EQ(h.at(6, 5), kWhite);
    const uint32_t edge = h.at(5, 5);
    EXPECT_NEAR(int(edge & 0xFF), 255, 1);             // blue stays
    EXPECT_NEAR(int((edge >> 16) & 0xFF), 128, 2);     // red and green half gone
}

TEST(Masks, NestedMasksIntersectAndEachRangeEndsAtItsDepth)
{
    // Depth 1 (left half) masks up to 10; depth 2 (top half), inside that
    // range, masks up to 5 and is itself masked by depth 1.
    auto m = movie(100, 100);
    m.place(maskAt(defineRect(m, 0, 0, 50, 100, kRed), 1, 10));
    m.place(maskAt(defineRect(m, 0, 0, 100, 50, kRed), 2, 5));
    m.place(placeAt(defineRect(m, 0, 0, 100, 100, kRed), 3));    // both masks
    m.place(placeAt(defineRect(m, 0, 60, 100, 20, kBlue), 6));   // the outer one only
    m.place(placeAt(defineRect(m, 0, 90, 100, 10, kGreen), 11)); // none
    m.showFrame();
    RecordingHost host;
    Player p(host);
    load(p, m.build(), 100, 100);
    View v = render(p, 100, 100);
    EXPECT_EQ(boxOf(v, kRedPx), (PixBox{0, 0, 50, 50}));
    EXPECT_EQ(boxOf(v, kBluePx), (PixBox{0, 60, 50, 80}));
    EXPECT_EQ(boxOf(v, kGreenPx), (PixBox{0, 90, 100, 100}));
}

TEST(Masks, SpriteMaskMasksWithAllItsContentsAndMasksInsideSpritesStayInside)
{
    // A sprite of two squares as the mask.
    auto m = movie(100, 100);
    sw::Timeline parts;
    parts.place(placeAt(defineRect(m, 0, 0, 10, 10, kRed), 1));
    parts.place(placeAt(defineRect(m, 30, 0, 10, 10, kRed), 2)).showFrame();
    const uint16_t sprite = m.defineSprite(parts);
    m.place(maskAt(sprite, 1, 2, 10, 10));
    m.place(placeAt(defineRect(m, 0, 0, 100, 100, kBlue), 2));
    // A sprite whose own timeline masks: the mask works on the sprite's list
    // and nothing outside the sprite is affected.
    sw::Timeline inner;
    inner.place(maskAt(defineRect(m, 0, 0, 20, 20, kRed), 1, 2));
    inner.place(placeAt(defineRect(m, 0, 0, 40, 40, kGreen), 2)).showFrame();
    m.place(placeAt(m.defineSprite(inner), 3, 50, 50));
    m.place(placeAt(defineRect(m, 0, 95, 5, 5, kRed), 4));
    m.showFrame();
    RecordingHost host;
    Player p(host);
    load(p, m.build(), 100, 100);
    View v = render(p, 100, 100);
    EXPECT_EQ(v.at(15, 15), kBluePx);
    EXPECT_EQ(v.at(45, 15), kBluePx);
    EXPECT_EQ(v.at(30, 15), kWhite);  // between the sprite's squares
    EXPECT_EQ(v.at(15, 30), kWhite);
    EXPECT_EQ(boxOf(v, kGreenPx), (PixBox{50, 50, 70, 70}));
    EXPECT_EQ(boxOf(v, kRedPx), (PixBox{0, 95, 5, 100}));
}

TEST(Masks, MovingMaskRepaintsWhatItUncoversAndWhatItCovers)
{
    auto m = movie(100, 100);
    const uint16_t square = defineRect(m, 0, 0, 20, 20, kRed);
    m.place(maskAt(square, 1, 2, 10, 10));
    m.place(placeAt(defineRect(m, 0, 0, 100, 100, kBlue), 2)).showFrame();
    sw::PlaceObject move;
    move.depth = 1;
    move.move = true;
    move.matrix = sw::Matrix::translate(sw::pxToTwips(60), sw::pxToTwips(50));
    m.place(move).showFrame();
    RecordingHost host;
    Player p(host);
    load(p, m.build(), 100, 100);
    EXPECT_EQ(boxOf(render(p, 100, 100), kBluePx), (PixBox{10, 10, 30, 30}));

    host.invalidations.clear();
    p.tick();
    EXPECT_EQ(boxOf(render(p, 100, 100), kBluePx), (PixBox{60, 50, 80, 70}));
    ASSERT_FALSE(host.invalidations.empty());
    auto repainted = [&](int x, int y) {
        for (const IRect& r : host.invalidations)
            if (x >= r.left && x < r.right && y >= r.top && y < r.bottom)
                return true;
        return false;
    };
    EXPECT_TRUE(repainted(15, 15));  // uncovered
    EXPECT_TRUE(repainted(75, 65));  // newly shown

    // Back to frame 0 (the timeline loops): the mask returns.
    p.tick();
    EXPECT_EQ(boxOf(render(p, 100, 100), kBluePx), (PixBox{10, 10, 30, 30}));
}

TEST(Masks, MouseReachesAButtonOnlyWhereItsMaskLetsItShow)
{
    auto m = movie(100, 100);
    const uint16_t face = defineRect(m, 0, 0, 100, 100, kBlue);
    sw::Button b;
    b.records.push_back(sw::ButtonRecord{.states = sw::button_state::Up | sw::button_state::HitTest, .character = face});
    sw::ButtonAction press;
    press.conditions = sw::button_cond::Press;
    press.actions.fscommand("press", "");
    b.actions.push_back(press);
    m.place(maskAt(defineRect(m, 0, 0, 50, 50, kRed), 1, 2));
    m.place(placeAt(m.defineButton(b), 2)).showFrame();
    RecordingHost host;
    Player p(host);
    load(p, m.build(), 100, 100);
    p.mouseMove(75, 75);
    p.mouseDown(refplayer::MouseButton::Left, 75, 75);
    p.mouseUp(refplayer::MouseButton::Left, 75, 75);
    EXPECT_TRUE(host.commands.empty());
    p.mouseMove(25, 25);
    p.mouseDown(refplayer::MouseButton::Left, 25, 25);
    p.mouseUp(refplayer::MouseButton::Left, 25, 25);
    ASSERT_EQ(host.commands.size(), 1u);
    EXPECT_EQ(host.commands[0].first, "press");
}

TEST(Masks, PlaceObject2WithClipDepthLaidOutByHand)
{
    // The shapes come from the writer; the placements are bytes as the
    // format lays them out: flags (0x40 clip depth, 0x04 matrix, 0x02
    // character), depth, character, then the clip depth.
    auto m = movie(100, 100);
    const uint16_t mask = defineRect(m, 10, 10, 30, 30, kRed);
    const uint16_t fill = defineRect(m, 0, 0, 100, 100, kBlue);
    const std::vector<uint8_t> placeMask = {0x42, 1, 0, uint8_t(mask), uint8_t(mask >> 8), 2, 0};
    const std::vector<uint8_t> placeFill = {0x02, 2, 0, uint8_t(fill), uint8_t(fill >> 8)};
    m.rawTag(sw::tag::PlaceObject2, placeMask).rawTag(sw::tag::PlaceObject2, placeFill).showFrame();
    auto loaded = refplayer::engine::parseMovie(m.build());
    ASSERT_TRUE(loaded.movie) << loaded.error;
    const auto& cmds = loaded.movie->timeline.frames[0].commands;
    ASSERT_EQ(cmds.size(), 2u);
    EXPECT_EQ(std::get<refplayer::engine::PlaceCommand>(cmds[0]).clipDepth, std::optional<uint16_t>(2));
    RecordingHost host;
    Player p(host);
    load(p, m.build(), 100, 100);
    EXPECT_EQ(boxOf(render(p, 100, 100), kBluePx), (PixBox{10, 10, 40, 40}));
}

TEST(Masks, MasksNestedPastTheCapMaskNoFurther)
{
    // 70 nested masks, each a rectangle one pixel narrower than the last;
    // past the cap they stop narrowing what shows.
    auto m = movie(100, 10);
    const int count = 70;
    for (int i = 0; i < count; ++i)
        m.place(maskAt(defineRect(m, 0, 0, 100 - i, 10, kRed), uint16_t(i + 1), 1000));
    m.place(placeAt(defineRect(m, 0, 0, 100, 10, kBlue), 500)).showFrame();
    RecordingHost host;
    Player p(host);
    load(p, m.build(), 100, 10);
    const int cap = refplayer::engine::kMaxMaskNesting;
    EXPECT_EQ(boxOf(render(p, 100, 10), kBluePx), (PixBox{0, 0, 100 - (cap - 1), 10}));
}
