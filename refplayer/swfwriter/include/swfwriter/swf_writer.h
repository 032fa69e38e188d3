// Builds SWF files: a movie header, definition tags, timelines of control
// tags (the main one and sprites'), and the file itself, uncompressed ("FWS")
// or zlib-compressed ("CWS").
#pragma once

#include "swfwriter/actions.h"
#include "swfwriter/shape.h"
#include "swfwriter/swf_buffer.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace refplayer::swfwriter {

namespace tag {
constexpr uint16_t End = 0, ShowFrame = 1, DefineShape = 2, RemoveObject = 5, SetBackgroundColor = 9,
                   DoAction = 12, DefineShape2 = 22, PlaceObject2 = 26, RemoveObject2 = 28, DefineShape3 = 32,
                   DefineButton2 = 34, DefineEditText = 37, DefineSprite = 39, FrameLabel = 43, DefineFont2 = 48,
                   ExportAssets = 56, DoInitAction = 59, DefineVideoStream = 60, VideoFrame = 61,
                   FileAttributes = 69, PlaceObject3 = 70, DefineShape4 = 83, DefineBits = 6,
                   JPEGTables = 8, DefineBitsLossless = 20, DefineBitsJPEG2 = 21, DefineBitsJPEG3 = 35,
                   DefineBitsLossless2 = 36, DefineFont = 10, DefineText = 11, DefineFontInfo = 13,
                   DefineText2 = 33, DefineFontInfo2 = 62, DefineFont3 = 75,
                   DefineMorphShape = 46, DefineMorphShape2 = 84;
}

// FileAttributes flags (first byte of the 32-bit field).
namespace file_attr {
constexpr uint32_t UseNetwork = 0x01, ActionScript3 = 0x08, HasMetadata = 0x10, UseGpu = 0x20,
                   UseDirectBlit = 0x40;
}

// PlaceObject2, or PlaceObject3 when a field only it carries is set.
struct PlaceObject {
    uint16_t depth = 1;
    bool move = false;  // modify (or, with a character, replace) what is at depth
    std::optional<uint16_t> character{};
    std::optional<Matrix> matrix{};
    std::optional<CxForm> colorTransform{};
    std::optional<uint16_t> ratio{};
    std::optional<std::string> name{};
    std::optional<uint16_t> clipDepth{};
    // PlaceObject3 only.
    std::optional<std::string> className{};
    std::optional<uint8_t> blendMode{};
    std::optional<bool> cacheAsBitmap{};
    std::optional<bool> visible{};
    std::optional<Rgba> opaqueBackground{};

    bool needsPlaceObject3() const {
        return className || blendMode || cacheAsBitmap || visible || opaqueBackground;
    }
};

// DefineButton2.
namespace button_state {
constexpr uint8_t Up = 0x01, Over = 0x02, Down = 0x04, HitTest = 0x08;
}
// Button conditions, as the 16-bit field is stored (little-endian).
namespace button_cond {
constexpr uint16_t RollOver = 0x0001,        // idle -> over up
    RollOut = 0x0002,                         // over up -> idle
    Press = 0x0004,                           // over up -> over down
    Release = 0x0008,                         // over down -> over up
    DragOut = 0x0010,                         // over down -> out down
    DragOver = 0x0020,                        // out down -> over down
    ReleaseOutside = 0x0040,                  // out down -> idle
    IdleToOverDown = 0x0080, OverDownToIdle = 0x0100;
// A key press: ASCII 32..126, or 1 left, 2 right, 3 home, 4 end, 5 insert, 6 delete,
// 8 backspace, 13 enter, 14 up, 15 down, 16 page up, 17 page down, 18 tab, 19 escape.
constexpr uint16_t keyPress(uint8_t key) { return static_cast<uint16_t>((key & 0x7F) << 9); }
}  // namespace button_cond

struct ButtonRecord {
    uint8_t states = button_state::Up | button_state::Over | button_state::Down | button_state::HitTest;
    uint16_t character = 0;
    uint16_t depth = 1;
    Matrix matrix{};
    CxForm colorTransform{};
    std::optional<uint8_t> blendMode{};
};

struct ButtonAction {
    uint16_t conditions = button_cond::Release;
    ActionAssembler actions{};
};

struct Button {
    bool trackAsMenu = false;
    std::vector<ButtonRecord> records{};
    std::vector<ButtonAction> actions{};
};

// DefineEditText. Without a font, a font height makes the movie define the
// device font "_sans" (once) and use it.
struct EditText {
    Rect bounds{};
    std::string variable{};
    std::optional<std::string> initialText{};
    std::optional<uint16_t> font{};
    std::optional<std::string> fontClass{};
    uint16_t fontHeight = 0;  // twips; 0 = no font
    std::optional<Rgba> color{};
    std::optional<uint16_t> maxLength{};
    bool wordWrap = false, multiline = false, password = false, readOnly = false, autoSize = false,
         noSelect = false, border = false, wasStatic = false, html = false, useOutlines = false;
    struct Layout {
        uint8_t align = 0;  // 0 left, 1 right, 2 centre, 3 justify
        uint16_t leftMargin = 0, rightMargin = 0, indent = 0;
        int16_t leading = 0;
    };
    std::optional<Layout> layout{};
};

// DefineVideoStream.
struct VideoStream {
    uint16_t numFrames = 0;
    uint16_t width = 0, height = 0;
    uint8_t deblocking = 0;  // 0..7
    bool smoothing = false;
    uint8_t codec = 3;  // 2 Sorenson H.263, 3 Screen Video, 4 VP6, 5 VP6 alpha, 6 Screen Video 2
};

// DefineBitsLossless (opaque) or DefineBitsLossless2 (with alpha). Format 3
// takes `palette` (up to 256 entries) and one index a pixel; formats 4 (15-bit,
// opaque only) and 5 take `pixels` in straight colour, row by row. The writer
// pads rows, premultiplies where the format wants it and compresses.
struct LosslessBitmap {
    uint16_t width = 0, height = 0;
    bool alpha = false;
    uint8_t format = 5;
    std::vector<Rgba> palette{};
    std::vector<uint8_t> indices{};
    std::vector<Rgba> pixels{};
};

// An embedded font: DefineFont with DefineFontInfo (SWF 6 on: DefineFontInfo2)
// for its codes, DefineFont2 or DefineFont3. Outlines in font units (1024 to
// an EM, 20480 for DefineFont3), y down, the baseline at y = 0; each outline
// is filled on its inside (holes turn the other way, see ShapeBuilder::addPath).
struct FontGlyph {
    uint16_t code = 0;
    Path outline{};
    int16_t advance = 0;  // font units (layout table)
};

struct Font {
    uint8_t version = 2;  // 1, 2 or 3
    std::string name = "Embedded";
    bool bold = false, italic = false;
    std::vector<FontGlyph> glyphs{};
    // DefineFont2/3: ascent, descent, leading, advances, bounds and kerning.
    bool layout = true;
    uint16_t ascent = 900, descent = 200;  // font units
    int16_t leading = 0;
    struct Kerning {
        uint16_t left = 0, right = 0;  // codes
        int16_t adjust = 0;
    };
    std::vector<Kerning> kerning{};
    bool wideOffsets = false;  // 32-bit offsets even where 16 bits hold them
};

// DefineText (RGB colours) or DefineText2 (`alpha`: RGBA). Each record may
// change the font (with its height in twips), the colour and the pen position;
// glyphs are indexes into the record's font with the pen's advance after each.
struct TextGlyph {
    uint32_t index = 0;
    int32_t advance = 0;  // twips
};

struct TextRecord {
    std::optional<uint16_t> font{};
    uint16_t height = 0;  // twips; written with the font
    std::optional<Rgba> color{};
    std::optional<int16_t> x{}, y{};
    std::vector<TextGlyph> glyphs{};  // at most 255
};

struct StaticText {
    Rect bounds{};
    Matrix matrix{};
    bool alpha = false;
    std::vector<TextRecord> records{};
};

// A sequence of control tags split into frames: the main timeline, or a
// sprite's. Only tags valid inside a sprite live here.
class Timeline {
public:
    Timeline& showFrame(unsigned count = 1);
    Timeline& frameLabel(std::string_view name, bool namedAnchor = false);
    Timeline& place(const PlaceObject& p);         // PlaceObject2 or 3, whichever the fields need
    Timeline& placeObject2(const PlaceObject& p);  // refuses PlaceObject3 fields
    Timeline& placeObject3(const PlaceObject& p);
    Timeline& removeObject2(uint16_t depth);
    Timeline& removeObject(uint16_t character, uint16_t depth);
    Timeline& doAction(const ActionAssembler& actions);
    Timeline& videoFrame(uint16_t stream, uint16_t frameNum, std::span<const uint8_t> data);
    // Any tag, body as given.
    Timeline& rawTag(uint16_t code, std::span<const uint8_t> body, bool longHeader = false);

    // Frames so far: ShowFrame tags, plus one if tags follow the last.
    uint16_t frameCount() const;
    // The tags with a closing ShowFrame when tags follow the last one, and End.
    std::vector<uint8_t> encodeTags() const;

protected:
    void append(uint16_t code, std::span<const uint8_t> body, bool longHeader = false);
    bool empty() const { return tags_.size() == 0; }

private:
    SwfBuffer tags_;
    uint32_t frames_ = 0;
    bool openFrame_ = false;  // tags written since the last ShowFrame
};

enum class Compression { None, Zlib };

class Movie : public Timeline {
public:
    // Stage in pixels, frame rate in frames per second (8.8 fixed in the file).
    Movie(uint8_t version, uint16_t widthPx, uint16_t heightPx, double frameRate);

    uint8_t version() const { return version_; }

    // Must be the first tag.
    Movie& fileAttributes(uint32_t flags);
    Movie& setBackgroundColor(Rgba color);

    // Definitions; each returns the new character id.
    uint16_t defineShape(const ShapeBuilder& shape);
    uint16_t defineMorphShape(const MorphShape& shape);
    uint16_t defineSprite(const Timeline& sprite);
    uint16_t defineButton(const Button& button);
    uint16_t defineEditText(const EditText& text);
    uint16_t defineVideoStream(const VideoStream& video);
    // Bitmaps. JPEG data goes in as given (a JPEG file, or for DefineBits the
    // image part that the movie's JPEGTables completes); `alpha` is one byte
    // a pixel, compressed by the writer.
    uint16_t defineBitsLossless(const LosslessBitmap& bitmap);
    Movie& jpegTables(std::span<const uint8_t> tables);
    uint16_t defineBits(std::span<const uint8_t> image);
    uint16_t defineBitsJpeg2(std::span<const uint8_t> jpeg);
    uint16_t defineBitsJpeg3(std::span<const uint8_t> jpeg, std::span<const uint8_t> alpha);
    // Embedded fonts and static text.
    uint16_t defineFont(const Font& font);
    uint16_t defineText(const StaticText& text);
    // A DefineFont2 without glyphs: the player draws with a system font of that name.
    uint16_t defineDeviceFont(std::string_view name, bool bold = false, bool italic = false);
    Movie& exportAssets(const std::vector<std::pair<uint16_t, std::string>>& assets);
    Movie& doInitAction(uint16_t sprite, const ActionAssembler& actions);

    // The next character id (ids start at 1); for raw definition tags.
    uint16_t allocateId();

    // The complete file.
    std::vector<uint8_t> build(Compression compression = Compression::None) const;

private:
    uint8_t version_;
    uint16_t width_, height_;
    uint16_t rate_;
    uint32_t nextId_ = 1;
    std::optional<uint16_t> sansFont_;
};

// Compresses an uncompressed SWF file ("FWS") into "CWS" form, and back.
std::vector<uint8_t> compressSwf(std::span<const uint8_t> fws);
std::vector<uint8_t> decompressSwf(std::span<const uint8_t> cws);

}  // namespace refplayer::swfwriter
