// A small SWF reader for the writer's tests: walks headers, tags and shape
// records independently of the writer's own code, so structure can be
// checked field by field.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace swftest {

class BitReader {
public:
    explicit BitReader(std::span<const uint8_t> d) : d_(d) {}
    uint32_t ub(unsigned n) {
        uint32_t v = 0;
        for (unsigned i = 0; i < n; ++i) {
            if (pos_ >= d_.size() * 8) throw std::runtime_error("bit read past end");
            v = (v << 1) | ((d_[pos_ / 8] >> (7 - pos_ % 8)) & 1u);
            ++pos_;
        }
        return v;
    }
    int32_t sb(unsigned n) {
        if (n == 0) return 0;
        const uint32_t v = ub(n);
        return n < 32 && (v >> (n - 1)) ? int32_t(v | ~((1u << n) - 1)) : int32_t(v);
    }
    void align() { pos_ = (pos_ + 7) / 8 * 8; }
    uint8_t u8() { align(); return static_cast<uint8_t>(ub(8)); }
    uint16_t u16() { const uint8_t lo = u8(); return static_cast<uint16_t>(lo | u8() << 8); }
    uint32_t u32() { const uint32_t lo = u16(); return lo | uint32_t(u16()) << 16; }
    std::string str() {
        std::string s;
        while (char c = static_cast<char>(u8())) s += c;
        return s;
    }
    size_t byteOffset() const { return (pos_ + 7) / 8; }
    bool atEnd() const { return byteOffset() >= d_.size(); }

private:
    std::span<const uint8_t> d_;
    size_t pos_ = 0;
};

struct Tag {
    uint16_t code;
    std::vector<uint8_t> body;
};

std::vector<Tag> parseTags(std::span<const uint8_t> data);

struct Swf {
    char signature;  // 'F' or 'C'
    uint8_t version;
    uint32_t length;
    int32_t xMin, xMax, yMin, yMax;
    uint16_t rate;
    uint16_t frames;
    std::vector<Tag> tags;  // End included
};
// Reads FWS or CWS (inflating with zlib directly).
Swf parseSwf(std::span<const uint8_t> file);

struct ShapeRecord {
    enum Kind { Style, Straight, Curved } kind;
    bool newStyles = false;
    std::optional<int32_t> moveX, moveY;
    std::optional<uint32_t> fill0, fill1, line;
    int32_t dx = 0, dy = 0, cdx = 0, cdy = 0;  // anchor deltas (from control for curves)
};
struct Shape {
    uint16_t id;
    int32_t xMin, xMax, yMin, yMax;
    std::vector<std::vector<uint32_t>> fills;  // per style group: 0xRRGGBBAA
    std::vector<std::vector<std::pair<uint16_t, uint32_t>>> lines;  // width, 0xRRGGBBAA
    std::vector<ShapeRecord> records;
};
Shape parseShape(int version, std::span<const uint8_t> body);

}  // namespace swftest
