#include "swf_reader.h"

#include <cstring>

namespace refplayer::engine {

void SwfReader::fail(const std::string& what) const
{
    throw ParseError(what + " at offset " + std::to_string(absolute()));
}

void SwfReader::need(size_t count) const
{
    if (count > remaining())
        fail("record needs " + std::to_string(count) + " bytes but only " + std::to_string(remaining()) +
             " remain");
}

uint8_t SwfReader::u8()
{
    align();
    need(1);
    return data_[pos_++];
}

uint16_t SwfReader::u16()
{
    align();
    need(2);
    uint16_t v = static_cast<uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
    pos_ += 2;
    return v;
}

uint32_t SwfReader::u32()
{
    align();
    need(4);
    uint32_t v = static_cast<uint32_t>(data_[pos_]) | (static_cast<uint32_t>(data_[pos_ + 1]) << 8) |
                 (static_cast<uint32_t>(data_[pos_ + 2]) << 16) | (static_cast<uint32_t>(data_[pos_ + 3]) << 24);
    pos_ += 4;
    return v;
}

float SwfReader::f32()
{
    uint32_t bits = u32();
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

std::string SwfReader::string()
{
    align();
    const uint8_t* begin = data_.data() + pos_;
    const void* nul = std::memchr(begin, 0, remaining());
    if (!nul)
        fail("string without terminating NUL");
    size_t len = static_cast<const uint8_t*>(nul) - begin;
    std::string s(reinterpret_cast<const char*>(begin), len);
    pos_ += len + 1;
    return s;
}

std::span<const uint8_t> SwfReader::bytes(size_t count)
{
    align();
    need(count);
    auto s = data_.subspan(pos_, count);
    pos_ += count;
    return s;
}

SwfReader SwfReader::sub(size_t count)
{
    align();
    size_t at = absolute();
    return SwfReader(bytes(count), at);
}

uint32_t SwfReader::ub(unsigned bits)
{
    if (bits > 32)
        fail("bit field of " + std::to_string(bits) + " bits");
    uint32_t v = 0;
    while (bits) {
        if (bitCount_ == 0) {
            need(1);
            bitBuffer_ = data_[pos_++];
            bitCount_ = 8;
        }
        unsigned take = bits < bitCount_ ? bits : bitCount_;
        uint32_t chunk = (bitBuffer_ >> (bitCount_ - take)) & ((1u << take) - 1);
        // A 32-bit field shifts by 32 only when take == 0, which cannot happen.
        v = (take == 32 ? 0 : (v << take)) | chunk;
        bitCount_ -= take;
        bits -= take;
    }
    return v;
}

int32_t SwfReader::sb(unsigned bits)
{
    if (bits == 0)
        return 0;
    uint32_t v = ub(bits);
    if (bits < 32 && (v & (1u << (bits - 1))))
        v |= ~((1u << bits) - 1);
    return static_cast<int32_t>(v);
}

}  // namespace refplayer::engine
