// ActionScript 2 as compilers emit it, through the whole player: #initclip
// blocks, exported symbols and registered classes, _global packages, timers
// on the player's clock, and scripts that fail without stopping the movie.
#include "engine_test_support.h"

#include "swfwriter/swf_text.h"

#include <gtest/gtest.h>

using namespace enginetest;

namespace {

std::vector<uint8_t> compile(const std::string& text)
{
    auto r = sw::compileSwfText(text);
    EXPECT_TRUE(r.ok) << r.error;
    return r.swf;
}

// What a class compiles to in an #initclip block: the package objects under
// _global, the constructor (calling super(), then tracing "made <name>
// <speed>"), `extends MovieClip`, a prototype member and the registration.
const char* const kBallClass = R"(
  get _global
  push "shapes"
  push 0
  initobject
  setmember
  get _global.shapes
  push "Ball"
  function ""
    push 0
    push "super"
    getvariable
    push undefined
    callmethod
    pop
    push "made "
    get this._name
    add2
    push " "
    add2
    get this.speed
    add2
    trace
  end
  setmember
  get _global.shapes.Ball
  get MovieClip
  extends
  get _global.shapes.Ball.prototype
  push "kind"
  push "ball"
  setmember
  call Object.registerClass "Ball" _global.shapes.Ball
)";

}  // namespace

TEST(ScriptClasses, InitClipBlocksRunOnceInFileOrderBeforeTheFramesThatUseThem)
{
    const std::string text = std::string(R"(
movie version=8 width=100 height=100 rate=12
sprite ball
  actions
    trace "ball's own frame"
  end
  frame
end
sprite box
  frame
end
sprite late
  frame
end
export ball "Ball"
export box "Box"
export late "Late"
initactions box
  trace "init box"
end
initactions ball
  trace "init ball"
)") + kBallClass + R"(
end
place 1 ball name=b1
actions
  trace "frame 1"
  trace b1.kind
end
frame
initactions late
  trace "init late"
end
actions
  trace "frame 2"
end
frame
actions
  gotoandplay 1
end
frame
)";
    RecordingHost host;
    Player p(host);
    load(p, compile(text), 100, 100);
    EXPECT_EQ(host.traces, (std::vector<std::string>{"init box", "init ball", "made b1 undefined", "frame 1", "ball",
                                                      "ball's own frame"}))
        << p.lastError();
    host.traces.clear();
    for (int i = 0; i < 3; ++i)
        p.tick();  // frame 2; frame 3, which goes back to frame 1; frame 2 again
    // Each block ran once; the clip kept on frame 1 is not built again.
    EXPECT_EQ(host.traces, (std::vector<std::string>{"init late", "frame 2", "frame 1", "ball", "frame 2"}));
    EXPECT_TRUE(p.lastError().empty()) << p.lastError();
}

TEST(ScriptClasses, AttachedSymbolsAreBuiltAsTheirClassAfterTheirInitObject)
{
    const std::string text = std::string(R"(
movie version=8 width=100 height=100 rate=12
sprite ball
  frame
end
sprite plain
  frame
end
export ball "Ball"
export plain "Plain"
initactions ball
)") + kBallClass + R"(
end
actions
  push "b2"
  push "speed"
  push 3
  push 1
  initobject
  push 6
  push "b2"
  push "Ball"
  push 4
  get this
  push "attachMovie"
  callmethod
  setvariable
  trace b2.kind
  trace b2._name
  push "isBall"
  get b2
  get shapes.Ball
  instanceof
  setvariable
  call this.attachMovie "ball" "lower" 7
  call this.attachMovie "Plain" "p" 8
  trace p.kind
  push "missing"
  push "x"
  push "Nothing"
  push 2
  get this
  push "attachMovie"
  callmethod
  setvariable
  call Object.registerClass "Plain" _global.shapes.Ball
  call this.attachMovie "Plain" "p2" 9
  call Object.registerClass "Plain" null
  call this.attachMovie "Plain" "p3" 10
  trace p3.kind
end
frame
)";
    RecordingHost host;
    Player p(host);
    load(p, compile(text), 100, 100);
    // Linkage names match case exactly from SWF 7 on: "ball" attaches nothing.
    EXPECT_EQ(host.traces,
              (std::vector<std::string>{"made b2 3", "ball", "b2", "undefined", "made p2 undefined", "undefined"}))
        << p.lastError();
    EXPECT_EQ(p.getVariable("isBall"), "true");
    EXPECT_EQ(p.getVariable("missing"), std::nullopt);
    EXPECT_EQ(p.getVariable("lower"), std::nullopt);
}

TEST(ScriptClasses, TimersFireBetweenFramesOnThePlayersClock)
{
    // 10 frames a second: each tick is 100 ms of getTimer.
    const std::string text = R"(
movie version=8 width=100 height=100 rate=10
actions
  set count 0
  function onTick
    set count count
    push "count"
    get count
    increment
    setvariable
    push "at"
    gettime
    setvariable
    push "count"
    get count
    push 3
    equals2
    not
    if keep
    call clearInterval id
  keep:
  end
  push "id"
  push 250
  get onTick
  push 2
  push "setInterval"
  callfunction
  setvariable
  function onLate message
    trace message
  end
  push "late"
  push "late!"
  push 1000
  get onLate
  push 3
  push "setTimeout"
  callfunction
  setvariable
  stop
end
frame
)";
    RecordingHost host;
    Player p(host);
    load(p, compile(text), 100, 100);
    for (int i = 0; i < 9; ++i)
        p.tick();  // to 900 ms: due at 250 (fires at 300), 500, 750 (fires at 800), then cleared
    EXPECT_EQ(p.getVariable("count"), "3") << p.lastError();
    EXPECT_EQ(p.getVariable("at"), "800");
    EXPECT_TRUE(host.traces.empty());
    p.tick();
    p.tick();
    EXPECT_EQ(p.getVariable("count"), "3");
    EXPECT_EQ(host.traces, (std::vector<std::string>{"late!"}));  // once, with its argument
}

TEST(ScriptClasses, AFailingScriptStopsAloneAndTheMovieGoesOn)
{
    const std::string text = R"(
movie version=8 width=100 height=100 rate=12
actions
  trace "a1"
  push "boom"
  throw
  trace "a2"
end
actions
  trace "b"
end
frame
actions
  trace "frame 2"
spin:
  jump spin
end
actions
  trace "after spin"
end
frame
actions
  trace "frame 3"
  stop
end
frame
)";
    RecordingHost host;
    Player p(host);
    load(p, compile(text), 100, 100);
    EXPECT_EQ(host.traces, (std::vector<std::string>{"a1", "b"}));
    EXPECT_NE(p.lastError().find("boom"), std::string::npos) << p.lastError();
    p.tick();
    p.tick();
    // The endless loop is stopped at the action limit; nothing else is lost.
    EXPECT_EQ(host.traces, (std::vector<std::string>{"a1", "b", "frame 2", "after spin", "frame 3"}));
}

TEST(ScriptClasses, EmptyClipsAreMadeAtTheDepthAskedAndTakeTheMoviesSymbols)
{
    const std::string text = R"(
movie version=8 width=100 height=100 rate=12
shape box
  fill red #FF0000
  rect 0 0 10 10 fill=red
end
sprite boxClip
  place 1 box
  frame
end
export boxClip "Box"
actions
  push "first"
  push 0
  get this
  push "getNextHighestDepth"
  callmethod
  setvariable
  push "holder"
  push 5
  push "holder"
  push 2
  get this
  push "createEmptyMovieClip"
  callmethod
  setvariable
  trace holder._name
  trace holder._totalframes
  push "next"
  push 0
  get this
  push "getNextHighestDepth"
  callmethod
  setvariable
  call holder.attachMovie "Box" "inside" 1
  set holder._x 50
  call this.createEmptyMovieClip "" 6
  call this.createEmptyMovieClip "replaced" 5
  trace holder._name
end
frame
)";
    RecordingHost host;
    Player p(host);
    load(p, compile(text), 100, 100);
    EXPECT_EQ(host.traces, (std::vector<std::string>{"holder", "1", "undefined"})) << p.lastError();
    EXPECT_EQ(p.getVariable("first"), "0");
    EXPECT_EQ(p.getVariable("next"), "6");
    // The clip at depth 5 was replaced, with what it held.
    EXPECT_EQ(p.getVariable("replaced._name"), "replaced");
    EXPECT_EQ(render(p, 100, 100).at(55, 5), 0xFFFFFFFFu);

    // Kept, the empty clip holds the attached symbol where it was moved.
    const std::string kept = text.substr(0, text.find("  call this.createEmptyMovieClip \"\" 6")) + "end\nframe\n";
    Player q(host);
    load(q, compile(kept), 100, 100);
    EXPECT_EQ(q.getVariable("holder.inside._name"), "inside");
    EXPECT_EQ(render(q, 100, 100).at(55, 5), 0xFFFF0000u);
    EXPECT_EQ(render(q, 100, 100).at(5, 5), 0xFFFFFFFFu);
}
