// A parsed SWF movie: header facts, the character dictionary (shapes,
// sprites, buttons, text fields, video streams) and the timelines as lists of
// display-list commands and action blocks per frame. Parsing is all-or-nothing:
// a movie either loads whole or is refused with a message, so nothing later
// has to cope with half-read records.
#pragma once

#include "geometry.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

namespace refplayer::engine {

// Hard caps that keep hostile input from exhausting memory or time. A movie
// over a parse cap is refused; the run-time caps make the player ignore what
// goes beyond them.
struct Limits {
    size_t movieBytes = 64u << 20;          // decompressed size of one movie
    size_t tags = 1u << 20;                 // tags in one movie, sprites' included
    size_t frames = 65535;                  // frames of one timeline
    size_t shapeRecords = 1u << 18;         // records of one shape
    size_t movieEdges = 1u << 22;           // edges of all shapes of one movie
    size_t shapeStyles = 1u << 16;          // fill and line styles of one shape, over all its groups
    size_t actionBlocks = 1u << 18;         // action blocks of one movie
    // run time
    int clipNesting = 32;                   // sprites inside sprites (instances)
    size_t depthsPerClip = 16384;           // occupied depths of one display list
    size_t instances = 1u << 15;            // display objects of one player
    size_t actionsPerTick = 20000;          // action blocks run by one tick or call
    uint64_t scriptActionsPerTick = 2'000'000;  // actions those blocks run in all (each block: at most 1,000,000)
    size_t videoPixels = 1u << 22;          // the largest picture a video frame may decode to
    size_t bitmapPixels = 1u << 24;         // the largest bitmap a definition may decode to
    size_t movieBitmapPixels = 1u << 25;    // all decoded bitmaps of one movie
    size_t streams = 256;                   // NetStreams one player keeps
};

// Tag codes the engine reads.
namespace tag {
constexpr uint16_t End = 0, ShowFrame = 1, DefineShape = 2, PlaceObject = 4, RemoveObject = 5, DefineButton = 7,
                   SetBackgroundColor = 9, DoAction = 12, DefineShape2 = 22, PlaceObject2 = 26,
                   RemoveObject2 = 28, DefineShape3 = 32, DefineButton2 = 34, DefineEditText = 37,
                   DefineSprite = 39, FrameLabel = 43, DoInitAction = 59, DefineVideoStream = 60,
                   VideoFrame = 61, FileAttributes = 69, PlaceObject3 = 70, DefineShape4 = 83,
                   ExportAssets = 56, DefineBits = 6, JPEGTables = 8, DefineBitsLossless = 20,
                   DefineBitsJPEG2 = 21, DefineBitsJPEG3 = 35, DefineBitsLossless2 = 36, DefineBitsJPEG4 = 90,
                   DefineMorphShape = 46, DefineMorphShape2 = 84;
}

// --- shapes --------------------------------------------------------------------

struct GradientStop {
    uint8_t ratio = 0;
    Rgba color;
};

struct FillStyle {
    enum class Kind : uint8_t { Solid, LinearGradient, RadialGradient, FocalGradient, Bitmap };
    Kind kind = Kind::Solid;
    Rgba color;                        // Solid
    Matrix matrix;                     // gradients and bitmaps: gradient square / bitmap to shape space
    std::vector<GradientStop> stops;   // gradients, 1 to 15 entries
    uint8_t spread = 0;                // gradients: 0 pad, 1 reflect, 2 repeat (3, reserved, pads)
    bool linearRgb = false;            // gradients: colours mixed in linear light, not as stored
    double focal = 0;                  // FocalGradient
    uint16_t bitmapId = 0;             // Bitmap: the character, and how it is sampled
    bool bitmapRepeat = true;          //   tiled (else the edge pixels extend outwards)
    bool bitmapSmooth = true;          //   bilinear (else nearest)
};

struct LineStyle {
    uint16_t width = 0;  // twips; 0 is a hairline
    Rgba color;
    // DefineShape4 and DefineMorphShape2; the older shapes' strokes are round.
    uint8_t startCap = 0, endCap = 0;  // 0 round, 1 none, 2 square
    uint8_t join = 0;                  // 0 round, 1 bevel, 2 miter
    double miterLimit = 3;             // 8.8 factor of the stroke width
    bool noHScale = false, noVScale = false, pixelHinting = false, noClose = false;
    bool hasFill = false;
    FillStyle fill;      // DefineShape4 strokes filled with a style
};

// One edge in twips: straight, or a quadratic curve through (cx, cy).
struct Segment {
    int32_t x0 = 0, y0 = 0, cx = 0, cy = 0, x1 = 0, y1 = 0;
    bool curve = false;
};

// The edges bounding one fill style (oriented so the fill lies on the same
// side of every edge) or traced by one line style.
struct ShapePath {
    uint32_t style = 0;  // 1-based index into the group's fills or lines
    std::vector<Segment> segments;
};

// Styles and the edges drawn with them; a shape's "new styles" records start
// a new group, painted above the ones before.
struct ShapeGroup {
    std::vector<FillStyle> fills;
    std::vector<LineStyle> lines;
    std::vector<ShapePath> fillPaths;
    std::vector<ShapePath> linePaths;
};

// --- characters ---------------------------------------------------------------------

struct Character {
    enum class Kind : uint8_t { Shape, Sprite, Button, EditText, Video, Bitmap, Font };
    explicit Character(Kind k, uint16_t i) : kind(k), id(i) {}
    virtual ~Character() = default;
    Kind kind;
    uint16_t id;
};

struct ShapeDef : Character {
    ShapeDef(uint16_t i) : Character(Kind::Shape, i) {}
    Box bounds;            // twips
    bool nonZero = false;  // DefineShape4's fill winding rule; even-odd otherwise
    bool morph = false;    // a MorphShapeDef (morph_shape.h)
    std::vector<ShapeGroup> groups;
};

struct ClipAction {
    uint32_t events = 0;  // ClipEvent bits (see clipEvent below)
    uint8_t keyCode = 0;
    std::span<const uint8_t> actions;
};

namespace clipEvent {
constexpr uint32_t KeyUp = 1u << 31, KeyDown = 1u << 30, MouseUp = 1u << 29, MouseDown = 1u << 28,
                   MouseMove = 1u << 27, Unload = 1u << 26, EnterFrame = 1u << 25, Load = 1u << 24,
                   KeyPress = 1u << 9;
}

struct PlaceCommand {
    int depth = 0;
    bool move = false;
    std::optional<uint16_t> character;
    std::optional<Matrix> matrix;
    std::optional<ColorTransform> colorTransform;
    std::optional<uint16_t> ratio;
    std::optional<std::string> name;
    std::optional<uint16_t> clipDepth;
    std::optional<bool> visible;
    std::vector<ClipAction> clipActions;
};

struct RemoveCommand {
    int depth = 0;
};

using DisplayCommand = std::variant<PlaceCommand, RemoveCommand>;

struct InitAction {
    uint16_t sprite = 0;
    std::span<const uint8_t> actions;
};

struct Frame {
    std::vector<DisplayCommand> commands;
    std::vector<std::span<const uint8_t>> actions;
    std::vector<InitAction> initActions;
};

struct Timeline {
    std::vector<Frame> frames;  // at least one
    std::vector<std::pair<std::string, int>> labels;
    // Exact match first, then without regard to ASCII case.
    std::optional<int> frameOfLabel(std::string_view label) const;
    int frameCount() const { return static_cast<int>(frames.size()); }
};

struct SpriteDef : Character {
    SpriteDef(uint16_t i) : Character(Kind::Sprite, i) {}
    uint16_t declaredFrames = 0;
    Timeline timeline;
};

namespace buttonState {
constexpr uint8_t Up = 1, Over = 2, Down = 4, Hit = 8;
}

// Transition bits of a button condition action (the 16-bit field as read,
// first byte high).
namespace buttonCond {
constexpr uint16_t IdleToOverDown = 0x8000, OutDownToIdle = 0x4000, OutDownToOverDown = 0x2000,
                   OverDownToOutDown = 0x1000, OverDownToOverUp = 0x0800, OverUpToOverDown = 0x0400,
                   OverUpToIdle = 0x0200, IdleToOverUp = 0x0100, OverDownToIdle = 0x0001;
constexpr uint16_t KeyMask = 0x00FE;  // key code << 1
}

struct ButtonRecord {
    uint8_t states = 0;
    uint16_t character = 0;
    int depth = 0;
    Matrix matrix;
    ColorTransform colorTransform;
};

struct ButtonAction {
    uint16_t conditions = 0;
    uint8_t keyCode() const { return static_cast<uint8_t>((conditions & buttonCond::KeyMask) >> 1); }
    std::span<const uint8_t> actions;
};

struct ButtonDef : Character {
    ButtonDef(uint16_t i) : Character(Kind::Button, i) {}
    bool trackAsMenu = false;
    std::vector<ButtonRecord> records;
    std::vector<ButtonAction> actions;
};

struct EditTextDef : Character {
    EditTextDef(uint16_t i) : Character(Kind::EditText, i) {}
    Box bounds;  // twips
    bool wordWrap = false, multiline = false, password = false, readOnly = false, autoSize = false,
         noSelect = false, border = false, html = false;
    // A field's border flag gives it both an outline and a white background;
    // script sets them apart.
    bool background = false;
    Rgba borderColor{0, 0, 0, 255};
    Rgba backgroundColor{255, 255, 255, 255};
    uint16_t fontId = 0;
    bool useOutlines = false;   // draw with the embedded glyphs of fontId
    uint16_t fontHeight = 240;  // twips
    Rgba color{0, 0, 0, 255};
    std::optional<uint16_t> maxLength;
    uint8_t align = 0;  // 0 left, 1 right, 2 centre, 3 justify
    uint16_t leftMargin = 0, rightMargin = 0, indent = 0;
    int16_t leading = 0;
    std::string variable;
    std::optional<std::string> initialText;
};

struct VideoDef : Character {
    VideoDef(uint16_t i) : Character(Kind::Video, i) {}
    uint16_t numFrames = 0;
    uint16_t width = 0, height = 0;
    uint8_t codec = 0;
    uint8_t deblocking = 0;
    bool smoothing = false;
    std::vector<std::span<const uint8_t>> frames;  // by frame number; empty where none arrived
};

// A bitmap: DefineBits (with the movie's JPEGTables), DefineBitsJPEG2/3/4,
// DefineBitsLossless/2, decoded while the movie loads. An image that cannot
// be decoded keeps the character with no pixels (fills with it draw nothing)
// and says why in `problem`.
struct BitmapDef : Character {
    BitmapDef(uint16_t i) : Character(Kind::Bitmap, i) {}
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;  // premultiplied 0xAARRGGBB, row by row; empty when undecodable
    std::string problem;
    bool usable() const { return !pixels.empty(); }
};

// --- the movie ------------------------------------------------------------------------

namespace fileAttr {
constexpr uint32_t UseNetwork = 0x01, ActionScript3 = 0x08, HasMetadata = 0x10;
}

struct MovieDef {
    std::vector<uint8_t> data;  // the whole uncompressed file; spans above point into it
    int version = 0;
    bool compressed = false;
    Box stage;                  // twips
    double frameRate = 12;      // frames per second
    uint16_t declaredFrames = 0;
    Rgba background{255, 255, 255, 255};
    std::optional<uint32_t> fileAttributes;
    std::unordered_map<uint16_t, std::unique_ptr<Character>> characters;
    Timeline timeline;
    size_t edgeCount = 0;
    std::span<const uint8_t> jpegTables;  // the first JPEGTables tag, for DefineBits
    size_t bitmapPixels = 0;              // decoded so far, against Limits::movieBitmapPixels
    // ExportAssets: the linkage names of the symbols script may attach. The
    // first export of a name, and a symbol's first name, count.
    void addExport(std::string name, uint16_t id);
    // The symbol exported as `name`: an exact match, or for movies before
    // SWF 7 (which ignore case) one that differs only in ASCII case.
    std::optional<uint16_t> exportedSymbol(std::string_view name) const;
    // The first linkage name of symbol `id` (what Object.registerClass names it by).
    const std::string* exportName(uint16_t id) const;

    const Character* character(uint16_t id) const
    {
        auto it = characters.find(id);
        return it == characters.end() ? nullptr : it->second.get();
    }

private:
    // Looked up by every attachMovie and every clip the timeline places, so
    // a movie with very many exports costs no more per lookup.
    std::unordered_map<std::string, uint16_t> exportIds_, exportIdsLower_;
    std::unordered_map<uint16_t, std::string> exportNames_;
};

struct LoadResult {
    std::shared_ptr<MovieDef> movie;
    std::string error;  // why the bytes were refused; empty on success
};

// Parses a whole SWF file ("FWS" or "CWS"). Never throws.
LoadResult parseMovie(std::span<const uint8_t> file, const Limits& limits = {});

// Shape records of a DefineShape* body after its id and bounds (exposed for tests
// and fuzzing): `shapeVersion` is 1 to 4.
class SwfReader;
void parseShapeWithStyle(SwfReader& r, int shapeVersion, ShapeDef& shape, const Limits& limits, size_t& movieEdges);
// An edge record, read from just after its edge flag: the segment from (x, y),
// which then moves to the edge's end.
Segment readEdge(SwfReader& r, int32_t& x, int32_t& y);
// Any other shape record, read from just after its edge flag: the end of the
// shape, or a style change that may move the pen (x, y) and set the fill and
// line indexes it names. With `newStyles`, style arrays follow for the caller.
struct StyleChange {
    bool end = false;
    bool newStyles = false, hasFill0 = false, hasFill1 = false, hasLine = false;
};
StyleChange readStyleChange(SwfReader& r, unsigned fillBits, unsigned lineBits, int32_t& x, int32_t& y,
                            uint32_t& fill0, uint32_t& fill1, uint32_t& line);
// FILLSTYLE and gradient records, shared with line styles.
FillStyle parseFillStyle(SwfReader& r, int shapeVersion);
Matrix readMatrix(SwfReader& r);
ColorTransform readColorTransform(SwfReader& r, bool withAlpha);
Box readRect(SwfReader& r);

}  // namespace refplayer::engine
