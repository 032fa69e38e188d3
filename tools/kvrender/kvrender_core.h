// kvrender's platform-free half: the command line, what the tool needs to
// know of a movie before the player has it (stage, rate, frames, background),
// the frames it keeps and the pixel conversions for the PNG files. The Win32
// half (kvrender.cpp, png_wic.cpp) drives the player and the image encoder.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace kvrender {

// Anything wrong with what the user gave (the command line, the movie file,
// the output folder, the installed players): exit status 2, one line.
class InputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A wrong command line: an InputError whose message also points at --help.
class UsageError : public InputError {
public:
    using InputError::InputError;
};

// The player's limits on a picture: a side and the whole area.
constexpr int kMaxSide = 8192;
constexpr std::int64_t kMaxPixels = std::int64_t(1) << 24;
// A render asks for at most this many frames.
constexpr int kMaxFrames = 1000000;

enum class Backend { Default, Netscape, ActiveX };

struct Options {
    std::wstring movie;
    std::optional<int> frames;       // --frames N
    std::optional<double> seconds;   // --seconds S
    std::optional<int> width, height;  // --size WxH; the stage size when unset
    bool transparent = false;
    Backend plugin = Backend::Default;
    std::wstring outDir = L".";
    int every = 1;
    bool gotoFrames = false;         // --goto: frame by frame through the frame control
    std::vector<std::pair<std::wstring, std::wstring>> vars;  // --var name=value, in order
    bool help = false;
};

// Parses the arguments after the program name. Options take their value as
// the next argument or after '='. Throws UsageError.
Options ParseCommandLine(const std::vector<std::wstring>& args);

// The text --help prints.
const wchar_t* UsageText();

// Throws InputError unless a picture of width x height fits the player's limits.
void CheckPictureSize(int width, int height);

// What the tool reads from a movie file's header and first tags.
struct MovieFacts {
    int version = 0;
    int stageWidth = 0, stageHeight = 0;  // pixels (twips / 20, truncated), as the player sizes the stage
    double frameRate = 0;                 // frames per second; a stored 0 reads as 1/256, as players take it
    int frameCount = 0;                   // the header's count
    std::optional<std::uint32_t> background;  // 0xFFRRGGBB of the first SetBackgroundColor
    // The colour the player paints under an opaque movie: the background, white without one.
    std::uint32_t OpaqueBackground() const { return background.value_or(0xFFFFFFFFu); }
};

// Reads a SWF file ("FWS", or zlib-compressed "CWS"). Throws InputError for
// anything else (an FLV, an LZMA-compressed "ZWS" movie, other files) and
// for a header cut short. Damage after the header is left to the player.
MovieFacts ReadMovieFacts(std::span<const std::uint8_t> file);

// The plan of a render: how many frames play and which are written.
struct FramePlan {
    int count = 0;   // frames 0 .. count-1 are played
    int every = 1;   // frame k is written when k % every == 0
    bool Kept(int frame) const { return frame % every == 0; }
    int KeptCount() const { return count <= 0 ? 0 : (count - 1) / every + 1; }
};

// --frames, else --seconds at the movie's rate (rounded up, at least 1), else
// the movie's own frame count. With --goto every frame must exist in the
// movie. Throws InputError.
FramePlan PlanFrames(const Options& options, const MovieFacts& movie);

// In real time, frame k is taken in the middle of its frame period, so a
// player whose ticks wander a little either side of the period still shows
// frame k: seconds from the start of play.
double CaptureTime(int frame, double frameRate);

// The PNG name of frame k: "<stem>-NNNNN.png" (at least five digits).
std::wstring FrameFileName(const std::wstring& stem, int frame);

// Pixel conversions from the player's buffer (premultiplied 0xAARRGGBB).
// Straight-alpha B, G, R, A bytes, rounded to nearest; a fully transparent
// pixel is 0, 0, 0, 0.
void ToStraightBgra(std::span<const std::uint32_t> premultiplied, std::uint8_t* out);
// Opaque B, G, R bytes: the pixels over `background` (0xFFRRGGBB).
void ToOpaqueBgr(std::span<const std::uint32_t> premultiplied, std::uint32_t background, std::uint8_t* out);

}  // namespace kvrender
