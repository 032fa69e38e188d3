// Test movies for the plug-in, built with the project's SWF writer.
#pragma once

#include <cstdint>
#include <vector>

namespace plugintest {

// 40x30 stage, 10 fps, background 0x336699, three frames, playing:
//  frame 0: an opaque red 20x15 box at (0,0) and a half-transparent green
//           (alpha 128) 20x15 box at (20,0);
//  frames 1, 2: the red box moved to (0,15).
std::vector<uint8_t> boxesMovie();
inline constexpr int kBoxesWidth = 40, kBoxesHeight = 30;

// Five empty frames, 10 fps, playing.
std::vector<uint8_t> fiveFramesMovie();

// One frame whose actions run:
//   fscommand("hello", "world");
//   answer = ExternalInterface.call("sayHello", "Bob", 42);
//   ExternalInterface.addCallback("twice", null, function (x) { return x * 2; });
//   stop();
std::vector<uint8_t> scriptMovie();

// One stopped frame with a 20x20 button at (10,5) whose press runs
// fscommand("pressed", "yes").
std::vector<uint8_t> buttonMovie();

// One frame that runs loadMovieNum("child.swf", 0) and stops.
std::vector<uint8_t> loaderMovie();

}  // namespace plugintest
