// AMF0, the value encoding of FLV script data tags (onMetaData and cue points).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace refplayer::media {

struct AmfProperty;

struct AmfValue {
    enum class Type : uint8_t { Number, Boolean, String, Object, Null, Undefined, EcmaArray, StrictArray, Date };

    Type type = Type::Undefined;
    double number = 0;      // Number; Date: milliseconds since 1970
    bool boolean = false;   // Boolean
    std::string string{};     // String (short or long form)
    std::vector<AmfProperty> properties;  // Object, EcmaArray (in file order)
    std::vector<AmfValue> elements{};       // StrictArray
    int16_t timezone = 0;   // Date: minutes, as stored

    static AmfValue makeNumber(double v);
    static AmfValue makeBoolean(bool v);
    static AmfValue makeString(std::string v);
    static AmfValue makeNull();
    static AmfValue makeObject(std::vector<AmfProperty> props);
    static AmfValue makeEcmaArray(std::vector<AmfProperty> props);
    static AmfValue makeStrictArray(std::vector<AmfValue> items);
    static AmfValue makeDate(double ms, int16_t timezone = 0);

    // The first property named `key` of an Object or EcmaArray; null if none.
    const AmfValue* find(std::string_view key) const;
    bool operator==(const AmfValue& other) const;
};

struct AmfProperty {
    std::string name{};
    AmfValue value{};
    bool operator==(const AmfProperty& other) const { return name == other.name && value == other.value; }
};

struct AmfLimits {
    unsigned maxDepth = 32;        // nesting of objects and arrays
    size_t maxValues = 1u << 20;   // values in one decode, all levels together
};

// Decodes one value at data[offset]; on success advances `offset` past it.
// On failure `error` says what is wrong and where; `offset` and `out` are left
// as they were.
bool decodeAmf0(std::span<const uint8_t> data, size_t& offset, AmfValue& out, std::string& error,
                const AmfLimits& limits = {});

// Appends the encoding of `v`; strings of 65536 bytes or more take the long form.
void encodeAmf0(const AmfValue& v, std::vector<uint8_t>& out);

}  // namespace refplayer::media
