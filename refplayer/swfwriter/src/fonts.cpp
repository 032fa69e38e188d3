// Font definition tags (DefineFont with DefineFontInfo/2, DefineFont2,
// DefineFont3) and static text (DefineText, DefineText2).
#include "swfwriter/swf_writer.h"

#include <algorithm>

namespace refplayer::swfwriter {

namespace {

struct EncodedGlyphs {
    std::vector<std::vector<uint8_t>> shapes;
    std::vector<Rect> bounds;
};

EncodedGlyphs encodeGlyphs(const Font& font) {
    EncodedGlyphs out;
    for (const FontGlyph& g : font.glyphs) {
        ShapeBuilder shape(1);
        const uint32_t fill = shape.addFill(Rgba{});
        if (!g.outline.segments().empty())
            shape.addPath(g.outline, fill, 0);
        out.shapes.push_back(shape.encodeGlyph());
        out.bounds.push_back(shape.edgeBounds());
    }
    return out;
}

void writeName(SwfBuffer& b, const std::string& name) {
    if (name.size() > 255)
        throw Error("font name longer than 255 bytes");
    b.u8(static_cast<uint8_t>(name.size()));
    b.bytes({reinterpret_cast<const uint8_t*>(name.data()), name.size()});
}

}  // namespace

uint16_t Movie::defineFont(const Font& font) {
    if (font.version < 1 || font.version > 3)
        throw Error("font version must be 1, 2 or 3");
    if (font.glyphs.size() > 0xFFFF)
        throw Error("more than 65535 glyphs");
    if (nextId_ > 0xFFFF)
        throw Error("more than 65535 characters");
    const EncodedGlyphs glyphs = encodeGlyphs(font);
    const size_t count = glyphs.shapes.size();
    const uint16_t id = static_cast<uint16_t>(nextId_);

    if (font.version == 1) {
        // The offset table's first entry doubles as the glyph count.
        SwfBuffer b;
        b.u16(id);
        size_t offset = count * 2;
        for (const auto& shape : glyphs.shapes) {
            if (offset > 0xFFFF)
                throw Error("glyphs too large for DefineFont's 16-bit offsets");
            b.u16(static_cast<uint16_t>(offset));
            offset += shape.size();
        }
        for (const auto& shape : glyphs.shapes)
            b.bytes(shape);
        append(tag::DefineFont, b.data(), true);
        SwfBuffer info;
        info.u16(id);
        writeName(info, font.name);
        const bool v2 = version_ >= 6;
        info.u8(static_cast<uint8_t>((font.italic ? 0x04 : 0) | (font.bold ? 0x02 : 0) | 0x01));  // wide codes
        if (v2)
            info.u8(0);  // language
        for (const FontGlyph& g : font.glyphs)
            info.u16(g.code);
        append(v2 ? tag::DefineFontInfo2 : tag::DefineFontInfo, info.data(), true);
        return allocateId();
    }

    size_t shapeBytes = 0;
    for (const auto& shape : glyphs.shapes)
        shapeBytes += shape.size();
    bool wide = font.wideOffsets || (count + 1) * 2 + shapeBytes > 0xFFFF;
    const size_t offsetSize = wide ? 4 : 2;
    SwfBuffer b;
    b.u16(id);
    b.u8(static_cast<uint8_t>((font.layout ? 0x80 : 0) | (wide ? 0x08 : 0) | 0x04 | (font.italic ? 0x02 : 0) |
                              (font.bold ? 0x01 : 0)));
    b.u8(0);  // language
    writeName(b, font.name);
    b.u16(static_cast<uint16_t>(count));
    auto offset = [&](size_t v) { wide ? b.u32(static_cast<uint32_t>(v)) : b.u16(static_cast<uint16_t>(v)); };
    size_t at = (count + 1) * offsetSize;
    for (const auto& shape : glyphs.shapes) {
        offset(at);
        at += shape.size();
    }
    offset(at);  // the code table
    for (const auto& shape : glyphs.shapes)
        b.bytes(shape);
    for (const FontGlyph& g : font.glyphs)
        b.u16(g.code);
    if (font.layout) {
        b.u16(font.ascent);
        b.u16(font.descent);
        b.s16(font.leading);
        for (const FontGlyph& g : font.glyphs)
            b.s16(g.advance);
        for (const Rect& r : glyphs.bounds)
            b.rect(r);
        if (font.kerning.size() > 0xFFFF)
            throw Error("more than 65535 kerning pairs");
        b.u16(static_cast<uint16_t>(font.kerning.size()));
        for (const Font::Kerning& k : font.kerning) {
            b.u16(k.left);
            b.u16(k.right);
            b.s16(k.adjust);
        }
    }
    append(font.version == 3 ? tag::DefineFont3 : tag::DefineFont2, b.data(), true);
    return allocateId();
}

uint16_t Movie::defineText(const StaticText& text) {
    if (nextId_ > 0xFFFF)
        throw Error("more than 65535 characters");
    unsigned glyphBits = 0, advanceBits = 0;
    for (const TextRecord& r : text.records) {
        if (r.glyphs.size() > 255)
            throw Error("a text record holds at most 255 glyphs");
        for (const TextGlyph& g : r.glyphs) {
            glyphBits = std::max(glyphBits, unsignedBits(g.index));
            advanceBits = std::max(advanceBits, signedBits(g.advance));
        }
    }
    const uint16_t id = static_cast<uint16_t>(nextId_);
    SwfBuffer b;
    b.u16(id);
    b.rect(text.bounds);
    b.matrix(text.matrix);
    b.u8(static_cast<uint8_t>(glyphBits));
    b.u8(static_cast<uint8_t>(advanceBits));
    for (const TextRecord& r : text.records) {
        b.u8(static_cast<uint8_t>(0x80 | (r.font ? 0x08 : 0) | (r.color ? 0x04 : 0) | (r.y ? 0x02 : 0) |
                                  (r.x ? 0x01 : 0)));
        if (r.font) b.u16(*r.font);
        if (r.color) text.alpha ? b.rgba(*r.color) : b.rgb(*r.color);
        if (r.x) b.s16(*r.x);
        if (r.y) b.s16(*r.y);
        if (r.font) b.u16(r.height);
        b.u8(static_cast<uint8_t>(r.glyphs.size()));
        for (const TextGlyph& g : r.glyphs) {
            b.ub(g.index, glyphBits);
            b.sb(g.advance, advanceBits);
        }
        b.align();
    }
    b.u8(0);  // end of records
    append(text.alpha ? tag::DefineText2 : tag::DefineText, b.data(), true);
    return allocateId();
}

}  // namespace refplayer::swfwriter
