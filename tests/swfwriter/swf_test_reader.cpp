#include "swf_test_reader.h"

#include <zlib.h>

#include <cstring>

namespace swftest {

std::vector<Tag> parseTags(std::span<const uint8_t> data) {
    std::vector<Tag> tags;
    size_t pos = 0;
    while (pos < data.size()) {
        if (pos + 2 > data.size()) throw std::runtime_error("tag header truncated");
        const uint16_t h = static_cast<uint16_t>(data[pos] | data[pos + 1] << 8);
        pos += 2;
        uint32_t len = h & 0x3F;
        if (len == 0x3F) {
            if (pos + 4 > data.size()) throw std::runtime_error("long tag header truncated");
            len = data[pos] | data[pos + 1] << 8 | data[pos + 2] << 16 | uint32_t(data[pos + 3]) << 24;
            pos += 4;
        }
        if (len > data.size() - pos) throw std::runtime_error("tag body truncated");
        tags.push_back({static_cast<uint16_t>(h >> 6), std::vector<uint8_t>(data.begin() + pos, data.begin() + pos + len)});
        pos += len;
        if (tags.back().code == 0) break;
    }
    if (pos != data.size()) throw std::runtime_error("bytes after End");
    return tags;
}

Swf parseSwf(std::span<const uint8_t> file) {
    if (file.size() < 8) throw std::runtime_error("too short");
    Swf s{};
    s.signature = static_cast<char>(file[0]);
    if (std::memcmp(file.data() + 1, "WS", 2) != 0 || (s.signature != 'F' && s.signature != 'C'))
        throw std::runtime_error("bad signature");
    s.version = file[3];
    s.length = file[4] | file[5] << 8 | file[6] << 16 | uint32_t(file[7]) << 24;
    std::vector<uint8_t> rest;
    if (s.signature == 'C') {
        rest.resize(s.length - 8);
        uLongf n = static_cast<uLongf>(rest.size());
        if (uncompress(rest.data(), &n, file.data() + 8, static_cast<uLong>(file.size() - 8)) != Z_OK || n != rest.size())
            throw std::runtime_error("bad zlib data");
    } else {
        if (s.length != file.size()) throw std::runtime_error("length mismatch");
        rest.assign(file.begin() + 8, file.end());
    }
    BitReader r(rest);
    const unsigned n = r.ub(5);
    s.xMin = r.sb(n); s.xMax = r.sb(n); s.yMin = r.sb(n); s.yMax = r.sb(n);
    s.rate = r.u16();
    s.frames = r.u16();
    s.tags = parseTags(std::span<const uint8_t>(rest).subspan(r.byteOffset()));
    return s;
}

namespace {

uint32_t color(BitReader& r, bool alpha) {
    const uint32_t red = r.u8(), g = r.u8(), b = r.u8();
    const uint32_t a = alpha ? r.u8() : 255;
    return red << 24 | g << 16 | b << 8 | a;
}

void styles(BitReader& r, int version, Shape& s) {
    std::vector<uint32_t> fills;
    uint32_t n = r.u8();
    if (n == 0xFF && version >= 2) n = r.u16();
    for (uint32_t i = 0; i < n; ++i) {
        if (r.u8() != 0) throw std::runtime_error("not a solid fill");
        fills.push_back(color(r, version >= 3));
    }
    std::vector<std::pair<uint16_t, uint32_t>> lines;
    n = r.u8();
    if (n == 0xFF) n = r.u16();
    for (uint32_t i = 0; i < n; ++i) {
        const uint16_t w = r.u16();
        if (version == 4) {
            r.ub(2);
            const uint32_t join = r.ub(2);
            if (r.ub(1)) throw std::runtime_error("fill lines not expected");
            r.ub(3); r.ub(5); r.ub(1); r.ub(2);
            if (join == 2) r.u16();
        }
        lines.emplace_back(w, color(r, version >= 3));
    }
    s.fills.push_back(fills);
    s.lines.push_back(lines);
}

}  // namespace

Shape parseShape(int version, std::span<const uint8_t> body) {
    BitReader r(body);
    Shape s{};
    s.id = r.u16();
    unsigned n = r.ub(5);
    s.xMin = r.sb(n); s.xMax = r.sb(n); s.yMin = r.sb(n); s.yMax = r.sb(n);
    if (version == 4) {
        r.align();
        n = r.ub(5);
        r.sb(n); r.sb(n); r.sb(n); r.sb(n);
        r.u8();
    }
    styles(r, version, s);
    unsigned fillBits = r.ub(4), lineBits = r.ub(4);
    while (true) {
        ShapeRecord rec{};
        if (r.ub(1) == 0) {
            const uint32_t flags = r.ub(5);
            if (flags == 0) break;
            rec.kind = ShapeRecord::Style;
            rec.newStyles = flags & 0x10;
            if (flags & 0x01) {
                const unsigned mb = r.ub(5);
                rec.moveX = r.sb(mb);
                rec.moveY = r.sb(mb);
            }
            if (flags & 0x02) rec.fill0 = r.ub(fillBits);
            if (flags & 0x04) rec.fill1 = r.ub(fillBits);
            if (flags & 0x08) rec.line = r.ub(lineBits);
            if (rec.newStyles) {
                styles(r, version, s);
                fillBits = r.ub(4);
                lineBits = r.ub(4);
            }
        } else if (r.ub(1) == 1) {
            rec.kind = ShapeRecord::Straight;
            const unsigned nb = r.ub(4) + 2;
            if (r.ub(1)) {
                rec.dx = r.sb(nb);
                rec.dy = r.sb(nb);
            } else if (r.ub(1)) {
                rec.dy = r.sb(nb);
            } else {
                rec.dx = r.sb(nb);
            }
        } else {
            rec.kind = ShapeRecord::Curved;
            const unsigned nb = r.ub(4) + 2;
            rec.cdx = r.sb(nb); rec.cdy = r.sb(nb); rec.dx = r.sb(nb); rec.dy = r.sb(nb);
        }
        s.records.push_back(rec);
    }
    if (r.byteOffset() != body.size()) throw std::runtime_error("bytes after the shape");
    return s;
}

}  // namespace swftest
