// refplay: a command-line window onto the reference player's engine. It
// describes SWF and FLV files as JSON and renders what the engine shows to
// PNG. The functions here are the tool itself; main() only hands them argv.
// Platform-free.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace refplayer::tool {

// Anything that stops a command: a one-line message for the user.
class ToolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Files larger than this are refused before they are read.
constexpr uint64_t kMaxInputBytes = uint64_t(256) << 20;

std::vector<uint8_t> readFile(const std::string& path);
void writeFile(const std::string& path, std::span<const uint8_t> data);

enum class FileKind { Swf, Flv };
// By signature ("FWS", "CWS", "FLV"); anything else is a ToolError.
FileKind detectKind(std::span<const uint8_t> file);

// --- info ---------------------------------------------------------------------------
// JSON reports. A SWF: header facts, stage, the engine's verdict and every tag
// (code, name, offset of its header in the uncompressed file, body length, and
// a summary for the tags the engine plays). An FLV: header flags, onMetaData
// and every tag (type, timestamp, size, and codec details). Damage that hides
// the tag structure (truncation, lengths that overrun) is a ToolError;
// a damaged body is noted on its tag and the walk goes on.
std::string swfInfoJson(std::span<const uint8_t> file);
std::string flvInfoJson(std::span<const uint8_t> file);

// --- render -------------------------------------------------------------------------
// A rendered view: premultiplied 0xAARRGGBB, top-down, as the engine draws it.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
    uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// Views larger than this on either side, or in total, are refused.
constexpr int kMaxRenderSide = 8192;
constexpr int64_t kMaxRenderPixels = int64_t(1) << 24;
// More frame ticks than this are refused (a render must end in reasonable time).
constexpr int kMaxFrameTicks = 100000;

struct RenderOptions {
    int frames = 0;                   // frame ticks before the picture is taken
    std::optional<int> width{}, height{};  // the view; the stage size when unset
    bool transparent = false;         // no stage background: alpha shows through
};

// The view after `options.frames` ticks of the movie. URLs the movie asks for
// are left unanswered; script runs as in any host.
Image renderSwf(std::span<const uint8_t> file, const RenderOptions& options);

// The frame an FLV shows at `seconds`: the last video frame whose timestamp is
// not later. The engine draws it as an embedded video stream filling a stage
// of the video's size, so Screen Video comes out exactly as decoded and other
// codecs as the engine's placeholder. Before the first frame only the
// placeholder shows. `options.frames` must be 0.
Image renderFlv(std::span<const uint8_t> file, double seconds, const RenderOptions& options);

// The image as a PNG file (straight RGBA, as PNG requires).
std::vector<uint8_t> encodePng(const Image& image);

// --- the command line ------------------------------------------------------------------
// Runs one command (`args` without the program name): JSON goes to `out`,
// one line per error to `err`. Answers the exit code: 0 done, 1 the input
// or output failed, 2 the command line is wrong. Never throws.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) noexcept;

}  // namespace refplayer::tool
