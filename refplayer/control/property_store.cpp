#include "property_store.h"

#include <algorithm>
#include <cstring>

namespace refcontrol {
namespace {

constexpr uint8_t kMagic[4] = {'K', 'V', 'F', 'C'};
constexpr uint8_t kVersion = 1;
enum : uint8_t { kInteger = 1, kTruth = 2, kText = 3 };

void put32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

class Reader {
public:
    explicit Reader(std::span<const uint8_t> b) : b_(b) {}
    bool take(size_t n, const uint8_t*& p)
    {
        if (n > b_.size() - pos_)
            return false;
        p = b_.data() + pos_;
        pos_ += n;
        return true;
    }
    bool u8(uint8_t& v)
    {
        const uint8_t* p;
        if (!take(1, p))
            return false;
        v = *p;
        return true;
    }
    bool u16(uint16_t& v)
    {
        const uint8_t* p;
        if (!take(2, p))
            return false;
        v = static_cast<uint16_t>(p[0] | (p[1] << 8));
        return true;
    }
    bool u32(uint32_t& v)
    {
        const uint8_t* p;
        if (!take(4, p))
            return false;
        v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
        return true;
    }
    size_t pos() const { return pos_; }

private:
    std::span<const uint8_t> b_;
    size_t pos_ = 0;
};

}  // namespace

int32_t PropertyStore::integer(int32_t id, int32_t fallback) const
{
    auto it = values.find(id);
    if (it == values.end())
        return fallback;
    if (auto v = std::get_if<int32_t>(&it->second))
        return *v;
    if (auto b = std::get_if<bool>(&it->second))
        return *b ? 1 : 0;
    return fallback;
}

bool PropertyStore::truth(int32_t id, bool fallback) const
{
    auto it = values.find(id);
    if (it == values.end())
        return fallback;
    if (auto b = std::get_if<bool>(&it->second))
        return *b;
    if (auto v = std::get_if<int32_t>(&it->second))
        return *v != 0;
    return fallback;
}

std::string PropertyStore::text(int32_t id, const std::string& fallback) const
{
    auto it = values.find(id);
    if (it == values.end())
        return fallback;
    if (auto s = std::get_if<std::string>(&it->second))
        return *s;
    return fallback;
}

std::vector<uint8_t> encode(const PropertyStore& store)
{
    std::vector<uint8_t> out(std::begin(kMagic), std::end(kMagic));
    out.push_back(kVersion);
    size_t count = std::min(store.values.size(), kMaxStoredEntries);
    out.push_back(static_cast<uint8_t>(count));
    out.push_back(static_cast<uint8_t>(count >> 8));
    size_t n = 0;
    for (const auto& [id, value] : store.values) {
        if (n++ == count)
            break;
        put32(out, static_cast<uint32_t>(id));
        if (auto v = std::get_if<int32_t>(&value)) {
            out.push_back(kInteger);
            put32(out, static_cast<uint32_t>(*v));
        } else if (auto b = std::get_if<bool>(&value)) {
            out.push_back(kTruth);
            out.push_back(*b ? 1 : 0);
        } else {
            const std::string& s = std::get<std::string>(value);
            size_t len = std::min(s.size(), kMaxStoredText);
            out.push_back(kText);
            put32(out, static_cast<uint32_t>(len));
            out.insert(out.end(), s.begin(), s.begin() + static_cast<ptrdiff_t>(len));
        }
    }
    return out;
}

DecodeResult decode(std::span<const uint8_t> bytes)
{
    DecodeResult r;
    auto fail = [&](std::string why) {
        r.ok = false;
        r.store = {};
        r.error = std::move(why);
        return r;
    };
    Reader in(bytes);
    const uint8_t* magic;
    if (!in.take(4, magic) || std::memcmp(magic, kMagic, 4) != 0)
        return fail("not the control's saved state");
    uint8_t version = 0;
    if (!in.u8(version) || version != kVersion)
        return fail("saved state of an unknown version");
    uint16_t count = 0;
    if (!in.u16(count))
        return fail("saved state cut short");
    if (count > kMaxStoredEntries)
        return fail("saved state with too many entries");
    for (uint16_t i = 0; i < count; ++i) {
        uint32_t id = 0;
        uint8_t type = 0;
        if (!in.u32(id) || !in.u8(type))
            return fail("saved state cut short");
        PropertyValue value;
        switch (type) {
        case kInteger: {
            uint32_t v = 0;
            if (!in.u32(v))
                return fail("saved state cut short");
            value = static_cast<int32_t>(v);
            break;
        }
        case kTruth: {
            uint8_t v = 0;
            if (!in.u8(v))
                return fail("saved state cut short");
            if (v > 1)
                return fail("a truth value that is neither 0 nor 1");
            value = v == 1;
            break;
        }
        case kText: {
            uint32_t len = 0;
            const uint8_t* p;
            if (!in.u32(len))
                return fail("saved state cut short");
            if (len > kMaxStoredText)
                return fail("a saved text longer than allowed");
            if (!in.take(len, p))
                return fail("a saved text longer than the data");
            value = std::string(reinterpret_cast<const char*>(p), len);
            break;
        }
        default:
            return fail("an entry of unknown type " + std::to_string(type));
        }
        if (!r.store.values.emplace(static_cast<int32_t>(id), std::move(value)).second)
            return fail("property " + std::to_string(static_cast<int32_t>(id)) + " saved twice");
    }
    r.ok = true;
    r.used = in.pos();
    return r;
}

}  // namespace refcontrol
