// Reads the compiled-in TrueType face with stb_truetype: glyph outlines
// (quadratic, as TrueType draws them) turned into the engine's segments,
// y flipped to point down, with the horizontal metrics. The face is a file
// the build embeds, never one from a movie.
#include "device_font.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

// The library's own code, private to this file; much of it (its bitmap
// rasteriser and packer) is unused here.
#define STB_TRUETYPE_IMPLEMENTATION
#define STBTT_STATIC
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#include "stb_truetype.h"
#pragma GCC diagnostic pop

namespace refplayer::engine {

extern const unsigned char kDeviceFontData[], kDeviceFontBoldData[], kDeviceSerifData[], kDeviceSerifBoldData[],
    kDeviceMonoData[], kDeviceMonoBoldData[];
extern const size_t kDeviceFontData_size, kDeviceFontBoldData_size, kDeviceSerifData_size,
    kDeviceSerifBoldData_size, kDeviceMonoData_size, kDeviceMonoBoldData_size;

namespace {

// An italic leans its upright outline by the face's own italic angle (11
// degrees: tan 11 = 199/1024), about the baseline, in whole font units.
int32_t slanted(int32_t x, int32_t y)
{
    const int64_t shift = static_cast<int64_t>(y) * 199;
    return x + static_cast<int32_t>((shift + (shift >= 0 ? 512 : -512)) / 1024);
}

Glyph outlineOf(const stbtt_fontinfo& info, int glyphIndex, bool italic)
{
    Glyph glyph;
    stbtt_vertex* vertices = nullptr;
    const int count = stbtt_GetGlyphShape(&info, glyphIndex, &vertices);
    int32_t x = 0, y = 0, startX = 0, startY = 0;
    auto closeContour = [&] {
        if (x != startX || y != startY)
            glyph.segments.push_back(Segment{x, -y, 0, 0, startX, -startY, false});
    };
    for (int i = 0; i < count; ++i) {
        const stbtt_vertex& v = vertices[i];
        switch (v.type) {
        case STBTT_vmove:
            if (i > 0)
                closeContour();
            x = startX = v.x;
            y = startY = v.y;
            break;
        case STBTT_vline:
            glyph.segments.push_back(Segment{x, -y, 0, 0, v.x, -v.y, false});
            x = v.x;
            y = v.y;
            break;
        case STBTT_vcurve:
            glyph.segments.push_back(Segment{x, -y, v.cx, -v.cy, v.x, -v.y, true});
            x = v.x;
            y = v.y;
            break;
        default:  // cubic curves come only from CFF faces, which this is not
            break;
        }
    }
    if (count > 0)
        closeContour();
    stbtt_FreeShape(&info, vertices);
    if (italic)
        for (Segment& s : glyph.segments) {
            // y points down here: what lies above the baseline (y < 0) moves right.
            s.x0 = slanted(s.x0, -s.y0);
            s.cx = slanted(s.cx, -s.cy);
            s.x1 = slanted(s.x1, -s.y1);
        }
    return glyph;
}

std::unique_ptr<FontDef> readDeviceFont(const unsigned char* data, size_t size, const char* name, bool bold,
                                        bool italic)
{
    stbtt_fontinfo info;
    if (size < 12 || !stbtt_InitFont(&info, data, stbtt_GetFontOffsetForIndex(data, 0)))
        return nullptr;
    auto font = std::make_unique<FontDef>(0);
    font->name = name;
    font->bold = bold;
    font->italic = italic;
    font->hasLayout = true;
    font->nonZero = true;  // TrueType contours may overlap: they fill by winding
    // The EM is the head table's unitsPerEm (big-endian, 18 bytes in).
    const unsigned char* head = info.data + info.head;
    font->emSquare = head[18] << 8 | head[19];
    if (font->emSquare <= 0)
        return nullptr;
    int ascent = 0, descent = 0, lineGap = 0;
    stbtt_GetFontVMetrics(&info, &ascent, &descent, &lineGap);
    font->ascent = static_cast<uint16_t>(ascent > 0 ? ascent : 0);
    font->descent = static_cast<uint16_t>(descent < 0 ? -descent : 0);
    font->leading = static_cast<int16_t>(lineGap);
    // The characters of the European languages: Latin with its extensions,
    // Greek, Cyrillic, and the punctuation, currency and letter-like signs
    // text is typed with (dashes, curly quotes, the ellipsis, the euro, the
    // trade mark).
    static constexpr std::pair<uint32_t, uint32_t> kRanges[] = {
        {0x20, 0x7E}, {0xA0, 0x24F}, {0x370, 0x3FF}, {0x400, 0x4FF}, {0x2000, 0x206F}, {0x20A0, 0x20CF},
        {0x2100, 0x214F}};
    for (const auto& [first, last] : kRanges)
        for (uint32_t code = first; code <= last; ++code) {
            const int index = stbtt_FindGlyphIndex(&info, static_cast<int>(code));
            if (index == 0)
                continue;  // no glyph: nothing drawn, no room taken
            int advance = 0, bearing = 0;
            stbtt_GetGlyphHMetrics(&info, index, &advance, &bearing);
            font->glyphs.push_back(outlineOf(info, index, italic));
            font->codes.push_back(static_cast<uint16_t>(code));
            font->advances.push_back(static_cast<int16_t>(advance));
        }
    font->indexCodes();
    return font;
}

bool contains(std::string_view text, std::string_view part)
{
    return text.find(part) != std::string_view::npos;
}

}  // namespace

DeviceFace deviceFaceFor(std::string_view fontName)
{
    std::string name(fontName);
    for (char& c : name)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (name == "_serif")
        return DeviceFace::Serif;
    if (name == "_typewriter")
        return DeviceFace::Typewriter;
    if (name.starts_with("_"))
        return DeviceFace::Sans;
    for (std::string_view mono : {"courier", "mono", "consol", "lucida console", "typewriter", "fixedsys"})
        if (contains(name, mono))
            return DeviceFace::Typewriter;
    if (contains(name, "sans"))
        return DeviceFace::Sans;
    for (std::string_view serif : {"times", "serif", "georgia", "garamond", "palatino", "book antiqua", "bookman",
                                   "cambria", "baskerville"})
        if (contains(name, serif))
            return DeviceFace::Serif;
    return DeviceFace::Sans;
}

namespace {

struct FaceSource {
    const unsigned char* data;
    const size_t& size;
    const char* name;
};

// By kind of face, then regular and bold.
const FaceSource kFaceSources[3][2] = {
    {{kDeviceFontData, kDeviceFontData_size, "_sans"}, {kDeviceFontBoldData, kDeviceFontBoldData_size, "_sans"}},
    {{kDeviceSerifData, kDeviceSerifData_size, "_serif"}, {kDeviceSerifBoldData, kDeviceSerifBoldData_size, "_serif"}},
    {{kDeviceMonoData, kDeviceMonoData_size, "_typewriter"},
     {kDeviceMonoBoldData, kDeviceMonoBoldData_size, "_typewriter"}}};

// Each face is read the first time text asks for it (a function-local
// static each, so two players asking at once read it once).
template <size_t Face, bool Bold, bool Italic>
const FontDef* faceOf()
{
    static const std::unique_ptr<FontDef> font = [] {
        const FaceSource& source = kFaceSources[Face][Bold ? 1 : 0];
        return readDeviceFont(source.data, source.size, source.name, Bold, Italic);
    }();
    return font.get();
}

template <size_t Face>
const FontDef* styleOf(bool bold, bool italic)
{
    if (bold)
        return italic ? faceOf<Face, true, true>() : faceOf<Face, true, false>();
    return italic ? faceOf<Face, false, true>() : faceOf<Face, false, false>();
}

}  // namespace

const FontDef* deviceFont(bool bold, bool italic, DeviceFace face)
{
    const FontDef* font = face == DeviceFace::Serif        ? styleOf<1>(bold, italic)
                          : face == DeviceFace::Typewriter ? styleOf<2>(bold, italic)
                                                           : styleOf<0>(bold, italic);
    // A face that cannot be read gives way to the regular sans face.
    return font || (face == DeviceFace::Sans && !bold && !italic) ? font : deviceFont();
}

}  // namespace refplayer::engine
