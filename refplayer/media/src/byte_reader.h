// Bounds-checked big-endian reads over a byte span. A read past the end sets
// a sticky failure and yields zeros, so parsers check once per record.
#pragma once

#include <bit>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace refplayer::media {

class ByteReader {
public:
    explicit ByteReader(std::span<const uint8_t> data, size_t offset = 0) : data_(data), pos_(offset) {
        if (pos_ > data_.size())
            failed_ = true;
    }

    size_t offset() const { return pos_; }
    size_t remaining() const { return failed_ ? 0 : data_.size() - pos_; }
    bool ok() const { return !failed_; }

    bool has(size_t n) {
        if (failed_ || data_.size() - pos_ < n) {
            failed_ = true;
            return false;
        }
        return true;
    }
    // The next byte without consuming it; -1 at the end.
    int peek() const { return !failed_ && pos_ < data_.size() ? data_[pos_] : -1; }
    uint8_t u8() { return has(1) ? data_[pos_++] : 0; }
    uint16_t u16() {
        if (!has(2)) return 0;
        const uint16_t v = static_cast<uint16_t>(data_[pos_] << 8 | data_[pos_ + 1]);
        pos_ += 2;
        return v;
    }
    uint32_t u24() {
        if (!has(3)) return 0;
        const uint32_t v = uint32_t(data_[pos_]) << 16 | uint32_t(data_[pos_ + 1]) << 8 | data_[pos_ + 2];
        pos_ += 3;
        return v;
    }
    uint32_t u32() {
        if (!has(4)) return 0;
        const uint32_t v = uint32_t(data_[pos_]) << 24 | uint32_t(data_[pos_ + 1]) << 16 |
                           uint32_t(data_[pos_ + 2]) << 8 | data_[pos_ + 3];
        pos_ += 4;
        return v;
    }
    double f64() {
        if (!has(8)) return 0;
        uint64_t v = 0;
        for (int i = 0; i < 8; ++i)
            v = v << 8 | data_[pos_ + i];
        pos_ += 8;
        return std::bit_cast<double>(v);
    }
    std::span<const uint8_t> bytes(size_t n) {
        if (!has(n)) return {};
        auto s = data_.subspan(pos_, n);
        pos_ += n;
        return s;
    }
    std::string string(size_t n) {
        auto s = bytes(n);
        return std::string(s.begin(), s.end());
    }

private:
    std::span<const uint8_t> data_;
    size_t pos_;
    bool failed_ = false;
};

// Big-endian appends.
inline void putU8(std::vector<uint8_t>& out, uint8_t v) { out.push_back(v); }
inline void putU16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}
inline void putU24(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v >> 16));
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}
inline void putU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8)
        out.push_back(static_cast<uint8_t>(v >> s));
}
inline void putF64(std::vector<uint8_t>& out, double d) {
    const uint64_t v = std::bit_cast<uint64_t>(d);
    for (int s = 56; s >= 0; s -= 8)
        out.push_back(static_cast<uint8_t>(v >> s));
}

}  // namespace refplayer::media
