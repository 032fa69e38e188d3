// Reads the compiled-in TrueType face with stb_truetype: glyph outlines
// (quadratic, as TrueType draws them) turned into the engine's segments,
// y flipped to point down, with the horizontal metrics. The face is a file
// the build embeds, never one from a movie.
#include "device_font.h"

#include <cstddef>
#include <memory>
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

extern const unsigned char kDeviceFontData[];
extern const size_t kDeviceFontData_size;

namespace {

Glyph outlineOf(const stbtt_fontinfo& info, int glyphIndex)
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
    return glyph;
}

std::unique_ptr<FontDef> readDeviceFont()
{
    stbtt_fontinfo info;
    if (kDeviceFontData_size < 12 || !stbtt_InitFont(&info, kDeviceFontData, stbtt_GetFontOffsetForIndex(kDeviceFontData, 0)))
        return nullptr;
    auto font = std::make_unique<FontDef>(0);
    font->name = "_sans";
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
            font->glyphs.push_back(outlineOf(info, index));
            font->codes.push_back(static_cast<uint16_t>(code));
            font->advances.push_back(static_cast<int16_t>(advance));
        }
    font->indexCodes();
    return font;
}

}  // namespace

const FontDef* deviceFont()
{
    static const std::unique_ptr<FontDef> font = readDeviceFont();
    return font.get();
}

}  // namespace refplayer::engine
