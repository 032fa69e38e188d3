// Arbitrary font and text records in a movie: the input is a list of tags,
// each a selector byte (which of DefineFont, DefineFont2, DefineFont3,
// DefineFontInfo, DefineFontInfo2, DefineText, DefineText2), a 16-bit length
// (little-endian, cut to what remains) and the body. The movie adds two text
// fields (one in the outlines of font 1, wrapping; one in device text),
// places characters 1 to 6 and both fields, and is then loaded, drawn and
// fed input like any fuzzed movie.
#include "swf_fuzz_input.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr uint16_t kCodes[] = {10, 48, 75, 13, 62, 11, 33};

struct Out {
    std::vector<uint8_t> bytes;
    uint32_t bitBuffer = 0;
    int bits = 0;
    void u8(uint8_t v) { flush(); bytes.push_back(v); }
    void u16(uint16_t v) { u8(uint8_t(v)); u8(uint8_t(v >> 8)); }
    void u32(uint32_t v) { u16(uint16_t(v)); u16(uint16_t(v >> 16)); }
    void ub(uint32_t v, int n)
    {
        for (int i = n - 1; i >= 0; --i) {
            bitBuffer = bitBuffer << 1 | ((v >> i) & 1);
            if (++bits == 8) {
                bytes.push_back(uint8_t(bitBuffer));
                bitBuffer = 0;
                bits = 0;
            }
        }
    }
    void flush()
    {
        if (bits)
            ub(0, 8 - bits);
    }
    void tag(uint16_t code, const uint8_t* body, size_t size)
    {
        u16(uint16_t(code << 6 | 0x3F));
        u32(uint32_t(size));
        bytes.insert(bytes.end(), body, body + size);
    }
};

std::vector<uint8_t> editText(uint16_t id, bool outlines, const char* text)
{
    Out b;
    b.u16(id);
    b.ub(12, 5);  // RECT: 0..960 x 0..800 twips
    b.ub(0, 12);
    b.ub(960, 12);
    b.ub(0, 12);
    b.ub(800, 12);
    b.u8(0x80 | 0x40 | 0x20 | 0x08 | 0x01);  // text, word wrap, multiline, read-only, font
    b.u8(outlines ? 0x01 : 0x00);
    b.u16(1);    // font 1
    b.u16(300);  // 15 px
    b.u8(0);     // variable ""
    for (const char* c = text; *c; ++c)
        b.u8(uint8_t(*c));
    b.u8(0);
    b.flush();
    return b.bytes;
}

std::vector<uint8_t> place(uint16_t id, uint16_t depth)
{
    Out b;
    b.u8(0x02 | 0x04);  // character, matrix
    b.u16(depth);
    b.u16(id);
    b.ub(0, 1);  // no scale
    b.ub(0, 1);  // no rotation
    b.ub(10, 5);
    b.ub(uint32_t(20 * depth) & 0x3FF, 10);
    b.ub(uint32_t(40 * depth) & 0x3FF, 10);
    b.flush();
    return b.bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Out tags;
    size_t at = 0;
    while (size - at >= 3) {
        const uint16_t code = kCodes[data[at] % 7];
        size_t length = data[at + 1] | data[at + 2] << 8;
        at += 3;
        length = std::min(length, size - at);
        tags.tag(code, data + at, length);
        at += length;
    }
    for (auto [id, outlines] : {std::pair<uint16_t, bool>{0x7000, true}, {0x7001, false}}) {
        const std::vector<uint8_t> body = editText(id, outlines, "AB ab\xE9 wrap these words\rnext");
        tags.tag(37, body.data(), body.size());
    }
    for (uint16_t id = 1; id <= 6; ++id) {
        const std::vector<uint8_t> body = place(id, id);
        tags.tag(26, body.data(), body.size());
    }
    for (auto [id, depth] : {std::pair<uint16_t, uint16_t>{0x7000, 10}, {0x7001, 11}}) {
        const std::vector<uint8_t> body = place(id, depth);
        tags.tag(26, body.data(), body.size());
    }
    tags.u16(1 << 6);  // ShowFrame
    tags.u16(0);       // End

    Out movie;
    movie.u8('F');
    movie.u8('W');
    movie.u8('S');
    movie.u8(8);
    movie.u32(0);  // length, below
    movie.ub(12, 5);
    movie.ub(0, 12);
    movie.ub(960, 12);
    movie.ub(0, 12);
    movie.ub(800, 12);
    movie.u16(12 << 8);
    movie.u16(1);
    movie.bytes.insert(movie.bytes.end(), tags.bytes.begin(), tags.bytes.end());
    const uint32_t length = uint32_t(movie.bytes.size());
    std::memcpy(movie.bytes.data() + 4, &length, 4);  // little-endian hosts only, as the fuzzers run
    runSwfFuzzInput(movie.bytes.data(), movie.bytes.size());
    return 0;
}
