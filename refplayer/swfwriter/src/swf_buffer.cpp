#include "swfwriter/swf_buffer.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

namespace refplayer::swfwriter {

namespace {

int32_t roundToInt32(double v, const char* what) {
    if (!std::isfinite(v))
        throw Error(std::string(what) + " is not a finite number");
    const double r = std::nearbyint(v);
    if (r < double(std::numeric_limits<int32_t>::min()) || r > double(std::numeric_limits<int32_t>::max()))
        throw Error(std::string(what) + " is out of range");
    return static_cast<int32_t>(r);
}

}  // namespace

int32_t pxToTwips(double px) { return roundToInt32(px * kTwipsPerPixel, "coordinate"); }

int32_t toFixed16(double v) { return roundToInt32(v * 65536.0, "16.16 fixed value"); }

uint16_t toFixed8(double v) {
    const int32_t f = roundToInt32(v * 256.0, "8.8 fixed value");
    if (f < 0 || f > 0xFFFF)
        throw Error("8.8 fixed value out of range: " + std::to_string(v));
    return static_cast<uint16_t>(f);
}

Matrix Matrix::make(double sx, double sy, double degrees, int32_t x, int32_t y) {
    const double rad = degrees * 3.14159265358979323846 / 180.0;
    // Exact quarter turns keep the identity-ish terms clean (cos(90°) is not 0 in doubles).
    double c = std::cos(rad), s = std::sin(rad);
    if (std::fabs(c) < 1e-12) c = 0;
    if (std::fabs(s) < 1e-12) s = 0;
    Matrix m;
    m.scaleX = toFixed16(sx * c);
    m.rotateSkew0 = toFixed16(sx * s);
    m.rotateSkew1 = toFixed16(-sy * s);
    m.scaleY = toFixed16(sy * c);
    m.translateX = x;
    m.translateY = y;
    return m;
}

unsigned unsignedBits(uint32_t v) { return static_cast<unsigned>(std::bit_width(v)); }

unsigned signedBits(int32_t v) {
    if (v == 0)
        return 0;
    const uint32_t magnitude = v < 0 ? ~static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
    return static_cast<unsigned>(std::bit_width(magnitude)) + 1;
}

void SwfBuffer::ub(uint32_t value, unsigned bits) {
    if (bits > 32)
        throw Error("bit field wider than 32 bits");
    if (bits < 32 && (value >> bits) != 0)
        throw Error("value " + std::to_string(value) + " does not fit in " + std::to_string(bits) + " bits");
    for (unsigned i = bits; i-- > 0;) {
        pending_ = (pending_ << 1) | ((value >> i) & 1u);
        if (++pendingBits_ == 8) {
            data_.push_back(static_cast<uint8_t>(pending_));
            pending_ = 0;
            pendingBits_ = 0;
        }
    }
}

void SwfBuffer::sb(int32_t value, unsigned bits) {
    if (signedBits(value) > bits)
        throw Error("signed value " + std::to_string(value) + " does not fit in " + std::to_string(bits) + " bits");
    const uint32_t raw = static_cast<uint32_t>(value);
    ub(bits == 32 ? raw : raw & ((1u << bits) - 1u), bits);
}

void SwfBuffer::align() {
    if (pendingBits_ == 0)
        return;
    data_.push_back(static_cast<uint8_t>(pending_ << (8 - pendingBits_)));
    pending_ = 0;
    pendingBits_ = 0;
}

void SwfBuffer::u8(uint8_t v) {
    align();
    data_.push_back(v);
}

void SwfBuffer::u16(uint16_t v) {
    align();
    data_.push_back(static_cast<uint8_t>(v));
    data_.push_back(static_cast<uint8_t>(v >> 8));
}

void SwfBuffer::u32(uint32_t v) {
    align();
    for (int i = 0; i < 4; ++i)
        data_.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void SwfBuffer::f32(float v) { u32(std::bit_cast<uint32_t>(v)); }

void SwfBuffer::avm1Double(double v) {
    const uint64_t bits = std::bit_cast<uint64_t>(v);
    u32(static_cast<uint32_t>(bits >> 32));
    u32(static_cast<uint32_t>(bits));
}

void SwfBuffer::bytes(std::span<const uint8_t> b) {
    align();
    data_.insert(data_.end(), b.begin(), b.end());
}

void SwfBuffer::string(std::string_view s) {
    if (s.find('\0') != std::string_view::npos)
        throw Error("string contains a NUL character");
    align();
    data_.insert(data_.end(), s.begin(), s.end());
    data_.push_back(0);
}

void SwfBuffer::rect(const Rect& r) {
    unsigned n = 0;
    for (int32_t v : {r.xMin, r.xMax, r.yMin, r.yMax})
        n = std::max(n, signedBits(v));
    if (n > 31)
        throw Error("rectangle coordinate out of range");
    ub(n, 5);
    sb(r.xMin, n);
    sb(r.xMax, n);
    sb(r.yMin, n);
    sb(r.yMax, n);
    align();
}

void SwfBuffer::matrix(const Matrix& m) {
    auto pairBits = [](int32_t a, int32_t b) {
        const unsigned n = std::max(signedBits(a), signedBits(b));
        if (n > 31)
            throw Error("matrix term out of range");
        return n;
    };
    if (m.hasScale()) {
        const unsigned n = pairBits(m.scaleX, m.scaleY);
        ub(1, 1);
        ub(n, 5);
        fb(m.scaleX, n);
        fb(m.scaleY, n);
    } else {
        ub(0, 1);
    }
    if (m.hasRotate()) {
        const unsigned n = pairBits(m.rotateSkew0, m.rotateSkew1);
        ub(1, 1);
        ub(n, 5);
        fb(m.rotateSkew0, n);
        fb(m.rotateSkew1, n);
    } else {
        ub(0, 1);
    }
    const unsigned n = pairBits(m.translateX, m.translateY);
    ub(n, 5);
    sb(m.translateX, n);
    sb(m.translateY, n);
    align();
}

void SwfBuffer::cxform(const CxForm& c, bool withAlpha) {
    const bool mult = c.hasMult(withAlpha), add = c.hasAdd(withAlpha);
    unsigned n = 0;
    auto widen = [&](int16_t v) { n = std::max(n, signedBits(v)); };
    if (mult) {
        widen(c.multR); widen(c.multG); widen(c.multB);
        if (withAlpha) widen(c.multA);
    }
    if (add) {
        widen(c.addR); widen(c.addG); widen(c.addB);
        if (withAlpha) widen(c.addA);
    }
    ub(add ? 1 : 0, 1);
    ub(mult ? 1 : 0, 1);
    ub(n, 4);  // int16 terms need at most 16 bits, but the field holds 15
    if (mult) {
        sb(c.multR, n); sb(c.multG, n); sb(c.multB, n);
        if (withAlpha) sb(c.multA, n);
    }
    if (add) {
        sb(c.addR, n); sb(c.addG, n); sb(c.addB, n);
        if (withAlpha) sb(c.addA, n);
    }
    align();
}

void SwfBuffer::patchU16(size_t offset, uint16_t v) {
    if (offset + 2 > data_.size())
        throw Error("patch outside the buffer");
    data_[offset] = static_cast<uint8_t>(v);
    data_[offset + 1] = static_cast<uint8_t>(v >> 8);
}

void SwfBuffer::truncate(size_t size) {
    if (size < data_.size())
        data_.resize(size);
    pending_ = 0;
    pendingBits_ = 0;
}

const std::vector<uint8_t>& SwfBuffer::data() const {
    if (pendingBits_ != 0)
        throw Error("buffer read with unaligned bits pending");
    return data_;
}

std::vector<uint8_t> SwfBuffer::take() {
    align();
    std::vector<uint8_t> out = std::move(data_);
    data_.clear();
    return out;
}

void writeTag(SwfBuffer& out, uint16_t code, std::span<const uint8_t> body, bool longHeader) {
    if (code > 0x3FF)
        throw Error("tag code " + std::to_string(code) + " out of range");
    if (body.size() > 0x7FFFFFFF)
        throw Error("tag body too large");
    if (body.size() < 0x3F && !longHeader) {
        out.u16(static_cast<uint16_t>((code << 6) | body.size()));
    } else {
        out.u16(static_cast<uint16_t>((code << 6) | 0x3F));
        out.u32(static_cast<uint32_t>(body.size()));
    }
    out.bytes(body);
}

}  // namespace refplayer::swfwriter
