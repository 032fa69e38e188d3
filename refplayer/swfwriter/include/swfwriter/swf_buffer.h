// Bit- and byte-level encoding of SWF records: the UB/SB/FB bit fields, the
// little-endian integers, strings and the compound records (RECT, MATRIX,
// CXFORM, RGB/RGBA) every tag is made of.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "int_conv.h"

namespace refplayer::swfwriter {

// Everything the writer refuses (a value that does not fit its field, an
// unbound label, a misplaced tag) is reported as this; nothing is written
// half-way: the caller's objects stay as they were before the failing call.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Coordinates are twips (1/20 pixel) throughout the writer.
constexpr int32_t kTwipsPerPixel = 20;
int32_t pxToTwips(double px);

// 16.16 fixed point, as MATRIX scale/rotate fields and FB bit fields hold it.
int32_t toFixed16(double v);
// 8.8 fixed point (frame rate, miter limit).
uint16_t toFixed8(double v);

struct Rgba {
    uint8_t r = 0, g = 0, b = 0, a = 255;
    // 0xRRGGBB, opaque.
    static Rgba rgb(uint32_t rrggbb) {
        return {uint8_t(rrggbb >> 16), uint8_t(rrggbb >> 8), uint8_t(rrggbb), 255};
    }
    // 0xRRGGBBAA.
    static Rgba rgba(uint32_t rrggbbaa) {
        return {uint8_t(rrggbbaa >> 24), uint8_t(rrggbbaa >> 16), uint8_t(rrggbbaa >> 8), uint8_t(rrggbbaa)};
    }
    bool operator==(const Rgba&) const = default;
};

// RECT in twips; field order as in the file (x before y, min before max).
struct Rect {
    int32_t xMin = 0, xMax = 0, yMin = 0, yMax = 0;
    bool operator==(const Rect&) const = default;
};

// MATRIX: scale and rotate/skew terms are 16.16 fixed, translation in twips.
// x' = x*scaleX + y*rotateSkew1 + translateX; y' = x*rotateSkew0 + y*scaleY + translateY.
struct Matrix {
    int32_t scaleX = 0x10000, scaleY = 0x10000;
    int32_t rotateSkew0 = 0, rotateSkew1 = 0;
    int32_t translateX = 0, translateY = 0;

    static Matrix translate(int32_t x, int32_t y) { Matrix m; m.translateX = x; m.translateY = y; return m; }
    // Scale (sx, sy), then rotate by `degrees` clockwise on screen, then translate.
    static Matrix make(double sx, double sy, double degrees, int32_t x, int32_t y);
    bool hasScale() const { return scaleX != 0x10000 || scaleY != 0x10000; }
    bool hasRotate() const { return rotateSkew0 != 0 || rotateSkew1 != 0; }
    bool operator==(const Matrix&) const = default;
};

// CXFORM / CXFORMWITHALPHA: multiply terms 8.8 fixed (256 = 1.0), add terms
// -256..255 style integers. Fields equal to the identity are left out.
struct CxForm {
    int16_t multR = 256, multG = 256, multB = 256, multA = 256;
    int16_t addR = 0, addG = 0, addB = 0, addA = 0;
    // Beyond the 8.8 range the term saturates; NaN is 0.
    static CxForm alpha(double a) { CxForm c; c.multA = num::roundClamp<int16_t>(a * 256); return c; }
    bool hasMult(bool withAlpha) const {
        return multR != 256 || multG != 256 || multB != 256 || (withAlpha && multA != 256);
    }
    bool hasAdd(bool withAlpha) const { return addR || addG || addB || (withAlpha && addA); }
    bool operator==(const CxForm&) const = default;
};

// Bits needed to hold a value as UB / SB (two's complement) / FB. Zero needs
// no bits: a field of width 0 reads back as 0.
unsigned unsignedBits(uint32_t v);
unsigned signedBits(int32_t v);

// An append-only SWF byte stream with a bit cursor. Bit fields are packed
// most significant bit first; every byte-sized write first pads the pending
// bits with zeros, as byte fields in the format always start aligned.
class SwfBuffer {
public:
    void ub(uint32_t value, unsigned bits);
    void sb(int32_t value, unsigned bits);
    void fb(int32_t value, unsigned bits) { sb(value, bits); }
    void align();

    void u8(uint8_t v);
    void u16(uint16_t v);
    void s16(int16_t v) { u16(static_cast<uint16_t>(v)); }
    void u32(uint32_t v);
    void f32(float v);
    // AVM1's Push double: two little-endian 32-bit halves, high half first.
    void avm1Double(double v);
    void bytes(std::span<const uint8_t> b);
    // Null-terminated; refuses an embedded NUL (it would cut the string short).
    void string(std::string_view s);

    void rect(const Rect& r);
    void matrix(const Matrix& m);
    void cxform(const CxForm& c, bool withAlpha);
    void rgb(const Rgba& c) { u8(c.r); u8(c.g); u8(c.b); }
    void rgba(const Rgba& c) { u8(c.r); u8(c.g); u8(c.b); u8(c.a); }

    // Overwrites an already written little-endian 16-bit field.
    void patchU16(size_t offset, uint16_t v);
    // Drops everything from `size` on (and any pending bits): undoes a partly
    // written record.
    void truncate(size_t size);

    // Size in whole bytes; pending bits not counted until aligned.
    size_t size() const { return data_.size(); }
    const std::vector<uint8_t>& data() const;  // requires an aligned buffer
    std::vector<uint8_t> take();                // aligns, then hands the bytes over

private:
    std::vector<uint8_t> data_;
    uint32_t pending_ = 0;
    unsigned pendingBits_ = 0;
};

// A tag with its RECORDHEADER: the short form when the body is under 63
// bytes, unless `longHeader` asks for the long form (some readers expect it
// on particular tags).
void writeTag(SwfBuffer& out, uint16_t code, std::span<const uint8_t> body, bool longHeader = false);

}  // namespace refplayer::swfwriter
