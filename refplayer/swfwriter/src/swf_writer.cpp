#include "swfwriter/swf_writer.h"

#include <zlib.h>

#include <cstring>

namespace refplayer::swfwriter {

// --- Timeline --------------------------------------------------------------------

void Timeline::append(uint16_t code, std::span<const uint8_t> body, bool longHeader) {
    writeTag(tags_, code, body, longHeader);
    if (code == tag::ShowFrame) {
        ++frames_;
        openFrame_ = false;
    } else {
        openFrame_ = true;
    }
}

Timeline& Timeline::showFrame(unsigned count) {
    if (uint64_t(frames_) + count > 0xFFFF)
        throw Error("more than 65535 frames");
    for (unsigned i = 0; i < count; ++i)
        append(tag::ShowFrame, {});
    return *this;
}

Timeline& Timeline::frameLabel(std::string_view name, bool namedAnchor) {
    if (name.empty())
        throw Error("empty frame label");
    SwfBuffer b;
    b.string(name);
    if (namedAnchor)
        b.u8(1);
    append(tag::FrameLabel, b.data());
    return *this;
}

namespace {

uint8_t placeFlags(const PlaceObject& p) {
    if (!p.move && !p.character)
        throw Error("placing a new object at depth " + std::to_string(p.depth) + " needs a character");
    return static_cast<uint8_t>((p.clipDepth ? 0x40 : 0) | (p.name ? 0x20 : 0) | (p.ratio ? 0x10 : 0) |
                                (p.colorTransform ? 0x08 : 0) | (p.matrix ? 0x04 : 0) |
                                (p.character ? 0x02 : 0) | (p.move ? 0x01 : 0));
}

void placeCommon(SwfBuffer& b, const PlaceObject& p) {
    if (p.matrix) b.matrix(*p.matrix);
    if (p.colorTransform) b.cxform(*p.colorTransform, true);
    if (p.ratio) b.u16(*p.ratio);
    if (p.name) b.string(*p.name);
    if (p.clipDepth) b.u16(*p.clipDepth);
}

}  // namespace

Timeline& Timeline::place(const PlaceObject& p) {
    return p.needsPlaceObject3() ? placeObject3(p) : placeObject2(p);
}

Timeline& Timeline::placeObject2(const PlaceObject& p) {
    if (p.needsPlaceObject3())
        throw Error("PlaceObject2 cannot carry class name, blend mode, bitmap caching, visibility or background");
    SwfBuffer b;
    b.u8(placeFlags(p));
    b.u16(p.depth);
    if (p.character) b.u16(*p.character);
    placeCommon(b, p);
    append(tag::PlaceObject2, b.data());
    return *this;
}

Timeline& Timeline::placeObject3(const PlaceObject& p) {
    SwfBuffer b;
    b.u8(placeFlags(p));
    b.u8(static_cast<uint8_t>((p.opaqueBackground ? 0x40 : 0) | (p.visible ? 0x20 : 0) |
                              (p.className ? 0x08 : 0) | (p.cacheAsBitmap ? 0x04 : 0) | (p.blendMode ? 0x02 : 0)));
    b.u16(p.depth);
    if (p.className) b.string(*p.className);
    if (p.character) b.u16(*p.character);
    placeCommon(b, p);
    if (p.blendMode) b.u8(*p.blendMode);
    if (p.cacheAsBitmap) b.u8(*p.cacheAsBitmap ? 1 : 0);
    if (p.visible) b.u8(*p.visible ? 1 : 0);
    if (p.opaqueBackground) b.rgba(*p.opaqueBackground);
    append(tag::PlaceObject3, b.data());
    return *this;
}

Timeline& Timeline::removeObject2(uint16_t depth) {
    SwfBuffer b;
    b.u16(depth);
    append(tag::RemoveObject2, b.data());
    return *this;
}

Timeline& Timeline::removeObject(uint16_t character, uint16_t depth) {
    SwfBuffer b;
    b.u16(character);
    b.u16(depth);
    append(tag::RemoveObject, b.data());
    return *this;
}

Timeline& Timeline::doAction(const ActionAssembler& actions) {
    SwfBuffer b;
    b.bytes(actions.assemble());
    b.u8(0);
    append(tag::DoAction, b.data());
    return *this;
}

Timeline& Timeline::videoFrame(uint16_t stream, uint16_t frameNum, std::span<const uint8_t> data) {
    SwfBuffer b;
    b.u16(stream);
    b.u16(frameNum);
    b.bytes(data);
    append(tag::VideoFrame, b.data());
    return *this;
}

Timeline& Timeline::rawTag(uint16_t code, std::span<const uint8_t> body, bool longHeader) {
    if (code == tag::End)
        throw Error("End is written by the writer");
    if (code == tag::ShowFrame && !body.empty())
        throw Error("ShowFrame has no body");
    if (code == tag::ShowFrame && frames_ >= 0xFFFF)
        throw Error("more than 65535 frames");
    append(code, body, longHeader);
    return *this;
}

uint16_t Timeline::frameCount() const {
    const uint32_t n = frames_ + ((openFrame_ || frames_ == 0) ? 1 : 0);
    if (n > 0xFFFF)
        throw Error("more than 65535 frames");
    return static_cast<uint16_t>(n);
}

std::vector<uint8_t> Timeline::encodeTags() const {
    (void)frameCount();
    SwfBuffer out;
    out.bytes(tags_.data());
    if (openFrame_ || frames_ == 0)
        writeTag(out, tag::ShowFrame, {});
    writeTag(out, tag::End, {});
    return out.take();
}

// --- Movie -------------------------------------------------------------------------

Movie::Movie(uint8_t version, uint16_t widthPx, uint16_t heightPx, double frameRate)
    : version_(version), width_(widthPx), height_(heightPx), rate_(toFixed8(frameRate)) {
    if (version == 0)
        throw Error("SWF version 0");
    // The stage rectangle is in twips and must fit its signed fields.
    if (int64_t(widthPx) * kTwipsPerPixel > 0x3FFFFFFF || int64_t(heightPx) * kTwipsPerPixel > 0x3FFFFFFF)
        throw Error("stage too large");
}

uint16_t Movie::allocateId() {
    if (nextId_ > 0xFFFF)
        throw Error("more than 65535 characters");
    return static_cast<uint16_t>(nextId_++);
}

Movie& Movie::fileAttributes(uint32_t flags) {
    if (!empty())
        throw Error("FileAttributes must be the first tag");
    SwfBuffer b;
    b.u32(flags);
    append(tag::FileAttributes, b.data());
    return *this;
}

Movie& Movie::setBackgroundColor(Rgba color) {
    SwfBuffer b;
    b.rgb(color);
    append(tag::SetBackgroundColor, b.data());
    return *this;
}

uint16_t Movie::defineShape(const ShapeBuilder& shape) {
    if (nextId_ > 0xFFFF)
        throw Error("more than 65535 characters");
    const auto body = shape.encode(static_cast<uint16_t>(nextId_));
    append(shape.tagCode(), body);
    return allocateId();
}

uint16_t Movie::defineMorphShape(const MorphShape& shape) {
    if (nextId_ > 0xFFFF)
        throw Error("more than 65535 characters");
    const auto body = shape.encode(static_cast<uint16_t>(nextId_));
    append(shape.version() == 2 ? tag::DefineMorphShape2 : tag::DefineMorphShape, body, true);
    return allocateId();
}

uint16_t Movie::defineSprite(const Timeline& sprite) {
    if (nextId_ > 0xFFFF)
        throw Error("more than 65535 characters");
    SwfBuffer b;
    b.u16(static_cast<uint16_t>(nextId_));
    b.u16(sprite.frameCount());
    b.bytes(sprite.encodeTags());
    append(tag::DefineSprite, b.data());
    return allocateId();
}

uint16_t Movie::defineButton(const Button& button) {
    if (nextId_ > 0xFFFF)
        throw Error("more than 65535 characters");
    SwfBuffer b;
    b.u16(static_cast<uint16_t>(nextId_));
    b.u8(button.trackAsMenu ? 1 : 0);
    const size_t offsetField = b.size();
    b.u16(0);
    for (const auto& r : button.records) {
        if ((r.states & 0x0F) == 0 || (r.states & ~0x0F))
            throw Error("a button record needs one or more of the up, over, down and hit states");
        b.u8(static_cast<uint8_t>(r.states | (r.blendMode ? 0x20 : 0)));
        b.u16(r.character);
        b.u16(r.depth);
        b.matrix(r.matrix);
        b.cxform(r.colorTransform, true);
        if (r.blendMode) b.u8(*r.blendMode);
    }
    b.u8(0);  // end of records
    if (!button.actions.empty()) {
        const size_t first = b.size();
        if (first - offsetField > 0xFFFF)
            throw Error("button records longer than 65535 bytes");
        b.patchU16(offsetField, static_cast<uint16_t>(first - offsetField));
        for (size_t i = 0; i < button.actions.size(); ++i) {
            const auto& a = button.actions[i];
            const auto code = a.actions.assemble();
            const size_t size = 2 + 2 + code.size() + 1;
            const bool last = i + 1 == button.actions.size();
            if (!last && size > 0xFFFF)
                throw Error("button action longer than 65535 bytes");
            if (a.conditions == 0)
                throw Error("button action without a condition");
            b.u16(last ? 0 : static_cast<uint16_t>(size));
            b.u16(a.conditions);
            b.bytes(code);
            b.u8(0);
        }
    }
    append(tag::DefineButton2, b.data());
    return allocateId();
}

namespace {

std::vector<uint8_t> deviceFontBody(uint16_t id, std::string_view name, bool bold, bool italic, uint8_t version) {
    if (name.empty() || name.size() > 255)
        throw Error("font name must be 1 to 255 bytes");
    SwfBuffer b;
    b.u16(id);
    b.u8(static_cast<uint8_t>((version >= 6 ? 0x04 : 0) | (italic ? 0x02 : 0) | (bold ? 0x01 : 0)));
    b.u8(0);  // language
    b.u8(static_cast<uint8_t>(name.size()));
    b.bytes({reinterpret_cast<const uint8_t*>(name.data()), name.size()});
    b.u16(0);  // no glyphs
    b.u16(0);  // code table offset, kept for readers that expect it even without glyphs
    return b.take();
}

}  // namespace

uint16_t Movie::defineDeviceFont(std::string_view name, bool bold, bool italic) {
    if (nextId_ > 0xFFFF)
        throw Error("more than 65535 characters");
    append(tag::DefineFont2, deviceFontBody(static_cast<uint16_t>(nextId_), name, bold, italic, version_));
    return allocateId();
}

uint16_t Movie::defineEditText(const EditText& t) {
    if (t.font && t.fontClass)
        throw Error("a text field takes a font or a font class, not both");
    // Work out ids and bodies first, so a refused field defines nothing.
    uint32_t id = nextId_;
    std::optional<uint16_t> font = t.font;
    std::vector<uint8_t> fontBody;
    if (!font && !t.fontClass && t.fontHeight != 0) {
        if (sansFont_) {
            font = sansFont_;
        } else {
            if (id > 0xFFFF)
                throw Error("more than 65535 characters");
            font = static_cast<uint16_t>(id);
            fontBody = deviceFontBody(*font, "_sans", false, false, version_);
            ++id;
        }
    }
    if (id > 0xFFFF)
        throw Error("more than 65535 characters");
    SwfBuffer b;
    b.u16(static_cast<uint16_t>(id));
    b.rect(t.bounds);
    b.u8(static_cast<uint8_t>((t.initialText ? 0x80 : 0) | (t.wordWrap ? 0x40 : 0) | (t.multiline ? 0x20 : 0) |
                              (t.password ? 0x10 : 0) | (t.readOnly ? 0x08 : 0) | (t.color ? 0x04 : 0) |
                              (t.maxLength ? 0x02 : 0) | (font ? 0x01 : 0)));
    b.u8(static_cast<uint8_t>((t.fontClass ? 0x80 : 0) | (t.autoSize ? 0x40 : 0) | (t.layout ? 0x20 : 0) |
                              (t.noSelect ? 0x10 : 0) | (t.border ? 0x08 : 0) | (t.wasStatic ? 0x04 : 0) |
                              (t.html ? 0x02 : 0) | (t.useOutlines ? 0x01 : 0)));
    if (font) b.u16(*font);
    if (t.fontClass) b.string(*t.fontClass);
    if (font || t.fontClass) b.u16(t.fontHeight);
    if (t.color) b.rgba(*t.color);
    if (t.maxLength) b.u16(*t.maxLength);
    if (t.layout) {
        if (t.layout->align > 3)
            throw Error("unknown text alignment");
        b.u8(t.layout->align);
        b.u16(t.layout->leftMargin);
        b.u16(t.layout->rightMargin);
        b.u16(t.layout->indent);
        b.s16(t.layout->leading);
    }
    b.string(t.variable);
    if (t.initialText) b.string(*t.initialText);

    if (!fontBody.empty()) {
        append(tag::DefineFont2, fontBody);
        sansFont_ = allocateId();
    }
    append(tag::DefineEditText, b.data());
    return allocateId();
}

uint16_t Movie::defineVideoStream(const VideoStream& v) {
    if (nextId_ > 0xFFFF)
        throw Error("more than 65535 characters");
    if (v.deblocking > 7)
        throw Error("deblocking must be 0 to 7");
    SwfBuffer b;
    b.u16(static_cast<uint16_t>(nextId_));
    b.u16(v.numFrames);
    b.u16(v.width);
    b.u16(v.height);
    b.u8(static_cast<uint8_t>((v.deblocking << 1) | (v.smoothing ? 1 : 0)));
    b.u8(v.codec);
    append(tag::DefineVideoStream, b.data());
    return allocateId();
}

Movie& Movie::exportAssets(const std::vector<std::pair<uint16_t, std::string>>& assets) {
    if (assets.empty() || assets.size() > 0xFFFF)
        throw Error("ExportAssets needs 1 to 65535 entries");
    SwfBuffer b;
    b.u16(static_cast<uint16_t>(assets.size()));
    for (const auto& [id, name] : assets) {
        b.u16(id);
        b.string(name);
    }
    append(tag::ExportAssets, b.data());
    return *this;
}

Movie& Movie::doInitAction(uint16_t sprite, const ActionAssembler& actions) {
    SwfBuffer b;
    b.u16(sprite);
    b.bytes(actions.assemble());
    b.u8(0);
    append(tag::DoInitAction, b.data());
    return *this;
}

std::vector<uint8_t> Movie::build(Compression compression) const {
    SwfBuffer body;
    body.rect({0, width_ * kTwipsPerPixel, 0, height_ * kTwipsPerPixel});
    body.u16(rate_);
    body.u16(frameCount());
    body.bytes(encodeTags());
    const std::vector<uint8_t>& rest = body.data();
    if (rest.size() > 0xFFFFFFFFull - 8)
        throw Error("movie larger than 4 GB");
    SwfBuffer file;
    file.bytes({reinterpret_cast<const uint8_t*>("FWS"), 3});
    file.u8(version_);
    file.u32(static_cast<uint32_t>(rest.size() + 8));
    file.bytes(rest);
    std::vector<uint8_t> out = file.take();
    return compression == Compression::Zlib ? compressSwf(out) : out;
}

// --- compression -----------------------------------------------------------------

std::vector<uint8_t> compressSwf(std::span<const uint8_t> fws) {
    if (fws.size() < 8 || std::memcmp(fws.data(), "FWS", 3) != 0)
        throw Error("not an uncompressed SWF file");
    const uint32_t declared = uint32_t(fws[4]) | uint32_t(fws[5]) << 8 | uint32_t(fws[6]) << 16 | uint32_t(fws[7]) << 24;
    if (declared != fws.size())
        throw Error("SWF length field does not match the file");
    const auto rest = fws.subspan(8);
    uLongf size = compressBound(static_cast<uLong>(rest.size()));
    std::vector<uint8_t> out(8 + size);
    if (compress2(out.data() + 8, &size, rest.data(), static_cast<uLong>(rest.size()), Z_BEST_COMPRESSION) != Z_OK)
        throw Error("zlib compression failed");
    out.resize(8 + size);
    std::memcpy(out.data(), fws.data(), 8);
    out[0] = 'C';
    return out;
}

std::vector<uint8_t> decompressSwf(std::span<const uint8_t> cws) {
    if (cws.size() < 8 || std::memcmp(cws.data(), "CWS", 3) != 0)
        throw Error("not a compressed SWF file");
    const uint32_t declared = uint32_t(cws[4]) | uint32_t(cws[5]) << 8 | uint32_t(cws[6]) << 16 | uint32_t(cws[7]) << 24;
    if (declared < 8)
        throw Error("SWF length field too small");
    std::vector<uint8_t> out(cws.begin(), cws.begin() + 8);
    out[0] = 'F';
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        throw Error("zlib initialisation failed");
    z.next_in = const_cast<Bytef*>(cws.data() + 8);
    z.avail_in = static_cast<uInt>(cws.size() - 8);
    // Grow in chunks rather than trusting the declared length with one allocation.
    uint8_t chunk[16384];
    int rc = Z_OK;
    while (rc == Z_OK) {
        z.next_out = chunk;
        z.avail_out = sizeof chunk;
        rc = inflate(&z, Z_NO_FLUSH);
        const size_t got = sizeof chunk - z.avail_out;
        if (out.size() + got > declared) {
            inflateEnd(&z);
            throw Error("compressed SWF holds more than its length field says");
        }
        out.insert(out.end(), chunk, chunk + got);
        if (rc == Z_BUF_ERROR && got == 0)
            break;
    }
    inflateEnd(&z);
    if (rc != Z_STREAM_END)
        throw Error("compressed SWF data is damaged or truncated");
    if (out.size() != declared)
        throw Error("compressed SWF holds less than its length field says");
    return out;
}

}  // namespace refplayer::swfwriter
