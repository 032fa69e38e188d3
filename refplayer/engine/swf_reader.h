// Checked reading of SWF records: little-endian integers, strings and the
// bit-packed fields (UB/SB/FB) that RECT, MATRIX, CXFORM and shape records
// are made of. Every read is checked against the bytes that remain; running
// past the end throws ParseError, which the movie loader turns into a refusal
// with a message. Nothing here trusts a length taken from the data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

namespace refplayer::engine {

class ParseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class SwfReader {
public:
    SwfReader() = default;
    explicit SwfReader(std::span<const uint8_t> data, size_t baseOffset = 0) : data_(data), base_(baseOffset) {}

    // --- bytes (each first drops any partly read bit field) -----------------
    uint8_t u8();
    uint16_t u16();
    int16_t s16() { return static_cast<int16_t>(u16()); }
    uint32_t u32();
    float f32();
    // 8.8 fixed point as a double.
    double fixed8() { return s16() / 256.0; }
    // A NUL-terminated string; refused when no NUL comes before the end.
    std::string string();
    std::span<const uint8_t> bytes(size_t count);
    void skip(size_t count) { (void)bytes(count); }
    // A sub-reader over the next `count` bytes (checked), which this reader skips.
    SwfReader sub(size_t count);

    // --- bit fields (most significant bit first) ------------------------------
    uint32_t ub(unsigned bits);
    int32_t sb(unsigned bits);
    int32_t fb(unsigned bits) { return sb(bits); }  // 16.16 fixed, raw
    bool flag() { return ub(1) != 0; }
    void align() { bitCount_ = 0; }

    size_t remaining() const { return data_.size() - pos_; }
    bool atEnd() const { return pos_ >= data_.size(); }
    size_t position() const { return pos_; }
    // The offset of the current position in the outermost buffer (for messages).
    size_t absolute() const { return base_ + pos_; }
    std::span<const uint8_t> rest() const { return data_.subspan(pos_); }

    [[noreturn]] void fail(const std::string& what) const;

private:
    void need(size_t count) const;

    std::span<const uint8_t> data_;
    size_t base_ = 0;
    size_t pos_ = 0;
    uint8_t bitBuffer_ = 0;
    unsigned bitCount_ = 0;  // bits of bitBuffer_ not yet consumed
};

}  // namespace refplayer::engine
