// Independent readers for what refplay writes, so tests check its files the
// way other programs will read them: a strict JSON parser and a PNG decoder
// that verifies the signature, chunk CRCs, IHDR fields and the zlib stream.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace reftooltest {

struct JsonMember;

struct Json {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    std::string string;
    std::vector<Json> items;
    std::vector<JsonMember> members;

    bool has(std::string_view key) const;
    // Throws std::out_of_range for a missing member or index, or the wrong kind.
    const Json& operator[](std::string_view key) const;
    const Json& operator[](size_t index) const;
    size_t size() const;
    double num() const;
    const std::string& str() const;
};

struct JsonMember {
    std::string name;
    Json value;
};

// RFC 8259 JSON (one value, whitespace around it). Throws std::runtime_error.
Json parseJson(std::string_view text);

struct DecodedPng {
    int width = 0, height = 0;
    std::vector<uint8_t> rgba;  // straight RGBA, top-down
    std::vector<std::string> chunkTypes;
    // Straight 0xAARRGGBB of one pixel.
    uint32_t argb(int x, int y) const;
};

// Accepts only what refplay writes (8-bit RGBA, no interlace, filter 0 rows)
// but checks everything a PNG reader would. Throws std::runtime_error.
DecodedPng decodePng(std::span<const uint8_t> file);

}  // namespace reftooltest
