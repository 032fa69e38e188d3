// Timelines and display lists: frame advance, looping, gotos that rebuild,
// sprites with their own timelines, and the order in which frame scripts see
// the display list.
#include "engine_test_support.h"

#include <gtest/gtest.h>

#include <string>

using namespace enginetest;

namespace {

const sw::Rgba kRed = sw::Rgba::rgb(0xFF0000), kGreen = sw::Rgba::rgb(0x00FF00), kBlue = sw::Rgba::rgb(0x0000FF);
constexpr uint32_t kRedPx = 0xFFFF0000u, kGreenPx = 0xFF00FF00u, kBluePx = 0xFF0000FFu, kWhitePx = 0xFFFFFFFFu;

uint32_t Pixel(Player& p, int x, int y)
{
    return render(p, 40, 40).at(x, y);
}

}  // namespace

TEST(Timeline, RootAdvancesLoopsAndStopsAtTheEndWhenNotLooping)
{
    auto m = movie(40, 40);
    uint16_t colours[3] = {defineRect(m, 0, 0, 40, 40, kRed), defineRect(m, 0, 0, 40, 40, kGreen),
                           defineRect(m, 0, 0, 40, 40, kBlue)};
    m.place(placeAt(colours[0], 1)).showFrame();
    m.removeObject2(1).place(placeAt(colours[1], 1)).showFrame();
    m.removeObject2(1).place(placeAt(colours[2], 1)).showFrame();
    RecordingHost host;
    Player p(host);
    load(p, m.build(), 40, 40);
    EXPECT_EQ(p.totalFrames(), 3);
    EXPECT_TRUE(p.isPlaying());
    EXPECT_EQ(p.currentFrame(), 0);
    EXPECT_EQ(Pixel(p, 5, 5), kRedPx);
    p.tick();
    EXPECT_EQ(p.currentFrame(), 1);
    EXPECT_EQ(Pixel(p, 5, 5), kGreenPx);
    p.tick();
    p.tick();
    EXPECT_EQ(p.currentFrame(), 0);  // looped
    EXPECT_EQ(Pixel(p, 5, 5), kRedPx);

    p.setLoop(false);
    p.tick();
    p.tick();
    p.tick();
    EXPECT_EQ(p.currentFrame(), 2);
    EXPECT_FALSE(p.isPlaying());
    EXPECT_EQ(Pixel(p, 5, 5), kBluePx);

    // Host control of the root timeline.
    p.back();
    EXPECT_EQ(p.currentFrame(), 1);
    EXPECT_EQ(Pixel(p, 5, 5), kGreenPx);
    p.forward();
    p.forward();  // no further than the last frame
    EXPECT_EQ(p.currentFrame(), 2);
    p.rewind();
    EXPECT_EQ(p.currentFrame(), 0);
    EXPECT_FALSE(p.isPlaying());
    p.play();
    p.tick();
    EXPECT_EQ(p.currentFrame(), 1);
    p.gotoFrame(99);
    EXPECT_EQ(p.currentFrame(), 2);
    EXPECT_FALSE(p.isPlaying());
}

TEST(Timeline, GoingBackwardsRebuildsTheDisplayListFromTheFirstFrame)
{
    auto m = movie(40, 40);
    uint16_t red = defineRect(m, 0, 0, 20, 40, kRed);
    uint16_t green = defineRect(m, 20, 0, 20, 40, kGreen);
    m.place(placeAt(red, 1)).showFrame();
    m.place(placeAt(green, 2)).showFrame();
    m.removeObject2(1).showFrame();
    RecordingHost host;
    Player p(host);
    load(p, m.build(), 40, 40);
    p.gotoFrame(2);
    EXPECT_EQ(Pixel(p, 5, 5), kWhitePx);
    EXPECT_EQ(Pixel(p, 30, 5), kGreenPx);
    p.gotoFrame(0);
    EXPECT_EQ(Pixel(p, 5, 5), kRedPx);
    EXPECT_EQ(Pixel(p, 30, 5), kWhitePx);  // placed later: gone again
    p.gotoFrame(1);
    EXPECT_EQ(Pixel(p, 5, 5), kRedPx);
    EXPECT_EQ(Pixel(p, 30, 5), kGreenPx);
}

TEST(Timeline, SpritesPlayTheirOwnTimelinesAndSurviveTheRootLooping)
{
    auto m = movie(40, 40);
    uint16_t red = defineRect(m, 0, 0, 20, 20, kRed);
    uint16_t green = defineRect(m, 0, 0, 20, 20, kGreen);
    sw::Timeline blink;
    blink.place(placeAt(red, 1)).showFrame();
    blink.removeObject2(1).place(placeAt(green, 1)).showFrame();
    uint16_t sprite = m.defineSprite(blink);
    sw::PlaceObject moved = placeAt(sprite, 1, 20, 20);
    m.place(moved).showFrame(3);
    RecordingHost host;
    Player p(host);
    load(p, m.build(), 40, 40);
    EXPECT_EQ(Pixel(p, 25, 25), kRedPx);
    EXPECT_EQ(Pixel(p, 5, 5), kWhitePx);
    p.tick();  // root 1, sprite 1
    EXPECT_EQ(Pixel(p, 25, 25), kGreenPx);
    p.tick();  // root 2, sprite 0
    EXPECT_EQ(Pixel(p, 25, 25), kRedPx);
    p.tick();  // root loops to 0: the sprite placed there stays and goes on to 1
    EXPECT_EQ(p.currentFrame(), 0);
    EXPECT_EQ(Pixel(p, 25, 25), kGreenPx);

    // A stopped root does not stop the sprites in it.
    p.stopPlay();
    p.tick();
    EXPECT_EQ(p.currentFrame(), 0);
    EXPECT_EQ(Pixel(p, 25, 25), kRedPx);
}

TEST(Timeline, SelfNestingSpritesAreCutOffAtTheNestingLimit)
{
    auto m = movie(40, 40);
    uint16_t red = defineRect(m, 0, 0, 4, 4, kRed);
    sw::Timeline self;
    const uint16_t selfId = 2;  // the id the sprite is about to get
    self.place(placeAt(red, 1)).place(placeAt(selfId, 2, 1, 1)).place(placeAt(selfId, 3, 2, 0)).showFrame();
    ASSERT_EQ(m.defineSprite(self), selfId);
    m.place(placeAt(selfId, 1)).showFrame();
    RecordingHost host;
    Player p(host);
    load(p, m.build(), 40, 40);
    p.tick();
    EXPECT_EQ(Pixel(p, 0, 0), kRedPx);
}

// --- scripts and the display list --------------------------------------------------------------

TEST(TimelineScript, FrameActionsSeeTheirFramesObjectsAndStopOrRedirectTheTimeline)
{
    auto m = movie(40, 40);
    uint16_t red = defineRect(m, 0, 0, 10, 10, kRed);
    sw::Timeline inner;
    inner.place(placeAt(red, 1)).showFrame();
    uint16_t sprite = m.defineSprite(inner);
    sw::PlaceObject box = placeAt(sprite, 1);
    box.name = "box";
    m.place(box).doAction(sw::ActionAssembler().setPath("box._x", 25.0).gotoAndStop("end")).showFrame();
    m.doAction(sw::ActionAssembler().fscommand("passed", "1")).showFrame();
    m.frameLabel("end").doAction(sw::ActionAssembler().fscommand("arrived", "3")).showFrame();
    RecordingHost host;
    Player p(host);
    load(p, m.build(), 40, 40);
    EXPECT_EQ(p.currentFrame(), 2);
    EXPECT_FALSE(p.isPlaying());
    ASSERT_EQ(host.commands.size(), 1u) << p.lastError();
    EXPECT_EQ(host.commands[0], (std::pair<std::string, std::string>("arrived", "3")));
    EXPECT_EQ(Pixel(p, 30, 5), kRedPx);   // moved by the script before anything was drawn
    EXPECT_EQ(Pixel(p, 5, 5), kWhitePx);
    p.tick();
    EXPECT_EQ(p.currentFrame(), 2);
}

TEST(TimelineScript, AStopInASpriteHoldsOnlyThatSprite)
{
    auto m = movie(40, 40);
    uint16_t red = defineRect(m, 0, 0, 10, 10, kRed);
    uint16_t green = defineRect(m, 0, 0, 10, 10, kGreen);
    sw::Timeline held;
    held.place(placeAt(red, 1)).doAction(sw::ActionAssembler().stop()).showFrame();
    held.removeObject2(1).place(placeAt(green, 1)).showFrame();
    uint16_t heldId = m.defineSprite(held);
    sw::Timeline running;
    running.place(placeAt(red, 1)).showFrame();
    running.removeObject2(1).place(placeAt(green, 1)).showFrame();
    uint16_t runningId = m.defineSprite(running);
    m.place(placeAt(heldId, 1)).place(placeAt(runningId, 2, 20, 0)).showFrame(2);
    RecordingHost host;
    Player p(host);
    load(p, m.build(), 40, 40);
    p.tick();
    EXPECT_EQ(Pixel(p, 5, 5), kRedPx);
    EXPECT_EQ(Pixel(p, 25, 5), kGreenPx);
    EXPECT_EQ(p.currentFrame(), 1);
}

TEST(TimelineScript, RunawayGotoLoopsAreCutOffWithAnError)
{
    auto m = movie(40, 40);
    m.doAction(sw::ActionAssembler().gotoAndPlay(2)).showFrame();
    m.doAction(sw::ActionAssembler().gotoAndPlay(1)).showFrame();
    RecordingHost host;
    Player p(host);
    load(p, m.build(), 40, 40);
    EXPECT_NE(p.lastError().find("dropped"), std::string::npos) << p.lastError();
    p.tick();  // and time goes on
}

// Each block has its own action budget, so blocks that re-queue one another
// would multiply it by the block bound (a fuzzed movie took seconds per tick
// this way): the blocks one tick runs share a bound of actions as well.
TEST(TimelineScript, RunawayGotoLoopsOfBusyScriptsAreCutOffByTheActionsRun)
{
    // Frame 1 counts its runs, then spends about 720,000 actions in a loop.
    sw::ActionAssembler busy;
    busy.push({sw::PushValue("runs"), sw::PushValue("runs")}).getVariable().push({sw::PushValue(0.0)});
    busy.bitOr().increment().setVariable();
    busy.push({sw::PushValue("i"), sw::PushValue(0.0)}).setVariable();
    const sw::Label top = busy.newLabel(), done = busy.newLabel();
    busy.bind(top);
    busy.push({sw::PushValue("i")}).getVariable().push({sw::PushValue(60000.0)}).less2().not_().branchIfTrue(done);
    busy.push({sw::PushValue("i"), sw::PushValue("i")}).getVariable().increment().setVariable().jump(top);
    busy.bind(done);
    busy.gotoAndPlay(2);
    auto m = movie(40, 40);
    m.doAction(busy).showFrame();
    m.doAction(sw::ActionAssembler().gotoAndPlay(1)).showFrame();
    RecordingHost host;
    Player p(host);
    load(p, m.build(), 40, 40);
    EXPECT_NE(p.lastError().find("actions in one go"), std::string::npos) << p.lastError();
    const double runs = std::stod(p.getVariable("runs").value_or("0"));
    EXPECT_GE(runs, 2);
    EXPECT_LE(runs, 4);
    p.tick();  // and time goes on, with a bound of its own
    EXPECT_GT(std::stod(p.getVariable("runs").value_or("0")), runs);
}
