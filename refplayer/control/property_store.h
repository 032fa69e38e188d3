// The control's stored properties and the bytes IPersistStreamInit writes
// them as. Platform-free, so it is fuzzed natively.
//
// Layout (little-endian): "KVFC", version byte 1, entry count (uint16), then
// per entry: dispid (int32), type byte (1 integer, 2 truth value, 3 text),
// and the value: int32; one byte 0/1; uint32 byte length + UTF-8 bytes.
// Decoding checks every length against what remains and takes all or nothing.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace refcontrol {

using PropertyValue = std::variant<int32_t, bool, std::string>;

struct PropertyStore {
    std::map<int32_t, PropertyValue> values;

    int32_t integer(int32_t id, int32_t fallback) const;
    bool truth(int32_t id, bool fallback) const;
    std::string text(int32_t id, const std::string& fallback = {}) const;
    void set(int32_t id, PropertyValue v) { values[id] = std::move(v); }
    bool operator==(const PropertyStore&) const = default;
};

inline constexpr size_t kMaxStoredText = 64 * 1024;
inline constexpr size_t kMaxStoredEntries = 256;
// Larger than any valid encoding, so a reader can stop early.
inline constexpr size_t kMaxEncodedBytes = 8 + kMaxStoredEntries * (9 + kMaxStoredText);

std::vector<uint8_t> encode(const PropertyStore& store);

struct DecodeResult {
    bool ok = false;
    PropertyStore store;
    std::string error;  // why not, when !ok
    size_t used = 0;    // bytes the encoding took (it may be followed by other data)
};
DecodeResult decode(std::span<const uint8_t> bytes);

}  // namespace refcontrol
