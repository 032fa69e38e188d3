#include "media/amf0.h"

#include "byte_reader.h"

#include <bit>
#include <stdexcept>

namespace refplayer::media {

namespace marker {
constexpr uint8_t Number = 0, Boolean = 1, String = 2, Object = 3, Null = 5, Undefined = 6, EcmaArray = 8,
                  ObjectEnd = 9, StrictArray = 10, Date = 11, LongString = 12;
}

AmfValue AmfValue::makeNumber(double v) { AmfValue a; a.type = Type::Number; a.number = v; return a; }
AmfValue AmfValue::makeBoolean(bool v) { AmfValue a; a.type = Type::Boolean; a.boolean = v; return a; }
AmfValue AmfValue::makeString(std::string v) { AmfValue a; a.type = Type::String; a.string = std::move(v); return a; }
AmfValue AmfValue::makeNull() { AmfValue a; a.type = Type::Null; return a; }
AmfValue AmfValue::makeObject(std::vector<AmfProperty> props) {
    AmfValue a; a.type = Type::Object; a.properties = std::move(props); return a;
}
AmfValue AmfValue::makeEcmaArray(std::vector<AmfProperty> props) {
    AmfValue a; a.type = Type::EcmaArray; a.properties = std::move(props); return a;
}
AmfValue AmfValue::makeStrictArray(std::vector<AmfValue> items) {
    AmfValue a; a.type = Type::StrictArray; a.elements = std::move(items); return a;
}
AmfValue AmfValue::makeDate(double ms, int16_t timezone) {
    AmfValue a; a.type = Type::Date; a.number = ms; a.timezone = timezone; return a;
}

const AmfValue* AmfValue::find(std::string_view key) const {
    if (type != Type::Object && type != Type::EcmaArray)
        return nullptr;
    for (const auto& p : properties)
        if (p.name == key)
            return &p.value;
    return nullptr;
}

bool AmfValue::operator==(const AmfValue& o) const {
    if (type != o.type)
        return false;
    switch (type) {
    case Type::Number: return std::bit_cast<uint64_t>(number) == std::bit_cast<uint64_t>(o.number);
    case Type::Boolean: return boolean == o.boolean;
    case Type::String: return string == o.string;
    case Type::Object:
    case Type::EcmaArray: return properties == o.properties;
    case Type::StrictArray: return elements == o.elements;
    case Type::Date:
        return std::bit_cast<uint64_t>(number) == std::bit_cast<uint64_t>(o.number) && timezone == o.timezone;
    case Type::Null:
    case Type::Undefined: return true;
    }
    return false;
}

namespace {

class Decoder {
public:
    Decoder(std::span<const uint8_t> data, size_t offset, const AmfLimits& limits)
        : in_(data, offset), limits_(limits) {}

    bool value(AmfValue& out, unsigned depth) {
        const size_t at = in_.offset();
        if (++values_ > limits_.maxValues)
            return fail(at, "too many values");
        const uint8_t m = in_.u8();
        if (!in_.ok())
            return fail(at, "value missing");
        switch (m) {
        case marker::Number:
            out = AmfValue::makeNumber(in_.f64());
            return in_.ok() || fail(at, "number truncated");
        case marker::Boolean:
            out = AmfValue::makeBoolean(in_.u8() != 0);
            return in_.ok() || fail(at, "boolean truncated");
        case marker::String: {
            const uint16_t n = in_.u16();
            out = AmfValue::makeString(in_.string(n));
            return in_.ok() || fail(at, "string truncated");
        }
        case marker::LongString: {
            const uint32_t n = in_.u32();
            if (!in_.ok() || n > in_.remaining())
                return fail(at, "long string truncated");
            out = AmfValue::makeString(in_.string(n));
            return true;
        }
        case marker::Object:
            out = AmfValue();
            out.type = AmfValue::Type::Object;
            return properties(out, depth + 1, at);
        case marker::EcmaArray:
            out = AmfValue();
            out.type = AmfValue::Type::EcmaArray;
            (void)in_.u32();  // an approximate count: the end marker decides
            if (!in_.ok())
                return fail(at, "ECMA array truncated");
            return properties(out, depth + 1, at);
        case marker::StrictArray: {
            if (depth + 1 > limits_.maxDepth)
                return fail(at, "nested too deeply");
            const uint32_t n = in_.u32();
            // Every element takes at least one byte: a count beyond what remains is a lie.
            if (!in_.ok() || n > in_.remaining())
                return fail(at, "strict array count exceeds the data");
            AmfValue arr = AmfValue::makeStrictArray({});
            arr.elements.reserve(n);
            for (uint32_t i = 0; i < n; ++i) {
                arr.elements.emplace_back();
                if (!value(arr.elements.back(), depth + 1))
                    return false;
            }
            out = std::move(arr);
            return true;
        }
        case marker::Date: {
            const double ms = in_.f64();
            const auto tz = static_cast<int16_t>(in_.u16());
            out = AmfValue::makeDate(ms, tz);
            return in_.ok() || fail(at, "date truncated");
        }
        case marker::Null: out = AmfValue::makeNull(); return true;
        case marker::Undefined: out = AmfValue(); return true;
        case marker::ObjectEnd: return fail(at, "object end marker outside an object");
        default: return fail(at, "unsupported AMF0 type " + std::to_string(m));
        }
    }

    size_t offset() const { return in_.offset(); }
    const std::string& error() const { return error_; }

private:
    bool properties(AmfValue& out, unsigned depth, size_t at) {
        if (depth > limits_.maxDepth)
            return fail(at, "nested too deeply");
        while (true) {
            const size_t nameAt = in_.offset();
            const uint16_t n = in_.u16();
            if (!in_.ok())
                return fail(nameAt, "object not terminated");
            if (n == 0) {
                const int m = in_.peek();
                if (m < 0)
                    return fail(in_.offset(), "object not terminated");
                if (m == marker::ObjectEnd) {
                    in_.u8();
                    return true;
                }
                // An empty property name is legal; its value follows.
                out.properties.push_back({std::string(), AmfValue()});
            } else {
                std::string name = in_.string(n);
                if (!in_.ok())
                    return fail(nameAt, "property name truncated");
                out.properties.push_back({std::move(name), AmfValue()});
            }
            if (!value(out.properties.back().value, depth))
                return false;
        }
    }

    bool fail(size_t at, const std::string& what) {
        if (error_.empty())
            error_ = "AMF0 at byte " + std::to_string(at) + ": " + what;
        return false;
    }

    ByteReader in_;
    const AmfLimits& limits_;
    size_t values_ = 0;
    std::string error_;
};

}  // namespace

bool decodeAmf0(std::span<const uint8_t> data, size_t& offset, AmfValue& out, std::string& error,
                const AmfLimits& limits) {
    try {
        Decoder d(data, offset, limits);
        AmfValue v;
        if (!d.value(v, 0)) {
            error = d.error();
            return false;
        }
        out = std::move(v);
        offset = d.offset();
        return true;
    } catch (const std::bad_alloc&) {
        error = "AMF0: out of memory";
        return false;
    }
}

namespace {

void putString(std::vector<uint8_t>& out, const std::string& s, bool withMarker) {
    if (s.size() <= 0xFFFF) {
        if (withMarker) putU8(out, marker::String);
        putU16(out, static_cast<uint16_t>(s.size()));
    } else {
        if (!withMarker)
            throw std::invalid_argument("AMF0 property name longer than 65535 bytes");
        if (s.size() > 0xFFFFFFFFu)
            throw std::invalid_argument("AMF0 string longer than 4 GB");
        putU8(out, marker::LongString);
        putU32(out, static_cast<uint32_t>(s.size()));
    }
    out.insert(out.end(), s.begin(), s.end());
}

void putProperties(std::vector<uint8_t>& out, const std::vector<AmfProperty>& props) {
    for (const auto& p : props) {
        putString(out, p.name, false);
        encodeAmf0(p.value, out);
    }
    putU16(out, 0);
    putU8(out, marker::ObjectEnd);
}

}  // namespace

void encodeAmf0(const AmfValue& v, std::vector<uint8_t>& out) {
    switch (v.type) {
    case AmfValue::Type::Number: putU8(out, marker::Number); putF64(out, v.number); break;
    case AmfValue::Type::Boolean: putU8(out, marker::Boolean); putU8(out, v.boolean ? 1 : 0); break;
    case AmfValue::Type::String: putString(out, v.string, true); break;
    case AmfValue::Type::Object: putU8(out, marker::Object); putProperties(out, v.properties); break;
    case AmfValue::Type::Null: putU8(out, marker::Null); break;
    case AmfValue::Type::Undefined: putU8(out, marker::Undefined); break;
    case AmfValue::Type::EcmaArray:
        putU8(out, marker::EcmaArray);
        putU32(out, static_cast<uint32_t>(v.properties.size()));
        putProperties(out, v.properties);
        break;
    case AmfValue::Type::StrictArray:
        putU8(out, marker::StrictArray);
        putU32(out, static_cast<uint32_t>(v.elements.size()));
        for (const auto& e : v.elements)
            encodeAmf0(e, out);
        break;
    case AmfValue::Type::Date:
        putU8(out, marker::Date);
        putF64(out, v.number);
        putU16(out, static_cast<uint16_t>(v.timezone));
        break;
    }
}

}  // namespace refplayer::media
