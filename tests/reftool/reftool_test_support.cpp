#include "reftool_test_support.h"

#include <zlib.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace reftooltest {

// --- JSON --------------------------------------------------------------------------------

bool Json::has(std::string_view key) const
{
    for (const auto& [name, value] : members)
        if (name == key)
            return true;
    return false;
}

const Json& Json::operator[](std::string_view key) const
{
    if (kind != Kind::Object)
        throw std::out_of_range("not an object, looking up " + std::string(key));
    for (const auto& [name, value] : members)
        if (name == key)
            return value;
    throw std::out_of_range("no member " + std::string(key));
}

const Json& Json::operator[](size_t index) const
{
    if (kind != Kind::Array || index >= items.size())
        throw std::out_of_range("no item " + std::to_string(index));
    return items[index];
}

size_t Json::size() const { return kind == Kind::Array ? items.size() : members.size(); }

double Json::num() const
{
    if (kind != Kind::Number)
        throw std::out_of_range("not a number");
    return number;
}

const std::string& Json::str() const
{
    if (kind != Kind::String)
        throw std::out_of_range("not a string");
    return string;
}

namespace {

class JsonParser {
public:
    explicit JsonParser(std::string_view t) : t_(t) {}

    Json document()
    {
        Json v = value(0);
        space();
        if (i_ != t_.size())
            fail("text after the value");
        return v;
    }

private:
    [[noreturn]] void fail(const std::string& why) { throw std::runtime_error("JSON at " + std::to_string(i_) + ": " + why); }
    void space()
    {
        while (i_ < t_.size() && (t_[i_] == ' ' || t_[i_] == '\t' || t_[i_] == '\n' || t_[i_] == '\r'))
            ++i_;
    }
    bool eat(char c)
    {
        space();
        if (i_ < t_.size() && t_[i_] == c) {
            ++i_;
            return true;
        }
        return false;
    }
    void expect(char c)
    {
        if (!eat(c))
            fail(std::string("expected ") + c);
    }
    bool word(std::string_view w)
    {
        if (t_.substr(i_, w.size()) != w)
            return false;
        i_ += w.size();
        return true;
    }

    Json value(int depth)
    {
        if (depth > 64)
            fail("nested too deeply");
        space();
        if (i_ >= t_.size())
            fail("value expected");
        Json v;
        const char c = t_[i_];
        if (c == '{') {
            ++i_;
            v.kind = Json::Kind::Object;
            if (eat('}'))
                return v;
            do {
                space();
                std::string key = string();
                expect(':');
                v.members.push_back(JsonMember{std::move(key), value(depth + 1)});
            } while (eat(','));
            expect('}');
        } else if (c == '[') {
            ++i_;
            v.kind = Json::Kind::Array;
            if (eat(']'))
                return v;
            do
                v.items.push_back(value(depth + 1));
            while (eat(','));
            expect(']');
        } else if (c == '"') {
            v.kind = Json::Kind::String;
            v.string = string();
        } else if (word("true")) {
            v.kind = Json::Kind::Bool;
            v.boolean = true;
        } else if (word("false")) {
            v.kind = Json::Kind::Bool;
        } else if (word("null")) {
            v.kind = Json::Kind::Null;
        } else {
            v.kind = Json::Kind::Number;
            v.number = number();
        }
        return v;
    }

    double number()
    {
        const size_t start = i_;
        auto digits = [&] {
            const size_t from = i_;
            while (i_ < t_.size() && t_[i_] >= '0' && t_[i_] <= '9')
                ++i_;
            return i_ - from;
        };
        if (i_ < t_.size() && t_[i_] == '-')
            ++i_;
        const size_t intStart = i_;
        const size_t n = digits();
        if (n == 0 || (n > 1 && t_[intStart] == '0'))
            fail("bad number");
        if (i_ < t_.size() && t_[i_] == '.') {
            ++i_;
            if (!digits())
                fail("bad fraction");
        }
        if (i_ < t_.size() && (t_[i_] == 'e' || t_[i_] == 'E')) {
            ++i_;
            if (i_ < t_.size() && (t_[i_] == '+' || t_[i_] == '-'))
                ++i_;
            if (!digits())
                fail("bad exponent");
        }
        return std::strtod(std::string(t_.substr(start, i_ - start)).c_str(), nullptr);
    }

    static void putUtf8(std::string& out, uint32_t cp)
    {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | cp >> 6);
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | cp >> 12);
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | cp >> 18);
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    uint32_t hex4()
    {
        if (t_.size() - i_ < 4)
            fail("short \\u escape");
        uint32_t v = 0;
        for (int k = 0; k < 4; ++k) {
            const char h = t_[i_++];
            v <<= 4;
            if (h >= '0' && h <= '9') v |= h - '0';
            else if (h >= 'a' && h <= 'f') v |= h - 'a' + 10;
            else if (h >= 'A' && h <= 'F') v |= h - 'A' + 10;
            else fail("bad \\u escape");
        }
        return v;
    }

    std::string string()
    {
        if (i_ >= t_.size() || t_[i_] != '"')
            fail("string expected");
        ++i_;
        std::string out;
        for (;;) {
            if (i_ >= t_.size())
                fail("unterminated string");
            const unsigned char c = static_cast<unsigned char>(t_[i_++]);
            if (c == '"')
                return out;
            if (c < 0x20)
                fail("control character in a string");
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (i_ >= t_.size())
                fail("unterminated escape");
            switch (t_[i_++]) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                uint32_t cp = hex4();
                if (cp >= 0xD800 && cp < 0xDC00 && word("\\u")) {
                    const uint32_t low = hex4();
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                }
                putUtf8(out, cp);
                break;
            }
            default: fail("unknown escape");
            }
        }
    }

    std::string_view t_;
    size_t i_ = 0;
};

// Whether `s` is entirely well-formed UTF-8 (JSON text must be).
bool validUtf8(std::string_view s)
{
    for (size_t i = 0; i < s.size();) {
        const uint8_t b = static_cast<uint8_t>(s[i]);
        size_t n = b < 0x80 ? 1 : (b >= 0xC2 && b <= 0xDF) ? 2 : (b >= 0xE0 && b <= 0xEF) ? 3 : (b >= 0xF0 && b <= 0xF4) ? 4 : 0;
        if (n == 0 || s.size() - i < n)
            return false;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<uint8_t>(s[i + k]) & 0xC0) != 0x80)
                return false;
        i += n;
    }
    return true;
}

}  // namespace

Json parseJson(std::string_view text)
{
    if (!validUtf8(text))
        throw std::runtime_error("JSON text is not UTF-8");
    return JsonParser(text).document();
}

// --- PNG ---------------------------------------------------------------------------------

uint32_t DecodedPng::argb(int x, int y) const
{
    const uint8_t* p = &rgba[(static_cast<size_t>(y) * width + x) * 4];
    return uint32_t(p[3]) << 24 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
}

DecodedPng decodePng(std::span<const uint8_t> file)
{
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    auto fail = [](const std::string& why) -> void { throw std::runtime_error("PNG: " + why); };
    auto be32 = [](const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; };
    if (file.size() < 8 || std::memcmp(file.data(), kSignature, 8) != 0)
        fail("bad signature");
    DecodedPng png;
    std::vector<uint8_t> idat;
    bool ended = false;
    for (size_t pos = 8; pos < file.size();) {
        if (ended)
            fail("data after IEND");
        if (file.size() - pos < 12)
            fail("truncated chunk");
        const uint32_t length = be32(&file[pos]);
        if (length > file.size() - pos - 12)
            fail("chunk runs past the end");
        const std::string type(reinterpret_cast<const char*>(&file[pos + 4]), 4);
        const uint8_t* data = &file[pos + 8];
        const uint32_t crc = static_cast<uint32_t>(crc32(0, &file[pos + 4], length + 4));
        if (crc != be32(data + length))
            fail("bad CRC in " + type);
        png.chunkTypes.push_back(type);
        if (png.chunkTypes.size() == 1 && type != "IHDR")
            fail("first chunk is not IHDR");
        if (type == "IHDR") {
            if (length != 13)
                fail("IHDR length");
            png.width = static_cast<int>(be32(data));
            png.height = static_cast<int>(be32(data + 4));
            if (png.width <= 0 || png.height <= 0)
                fail("zero size");
            if (data[8] != 8 || data[9] != 6 || data[10] != 0 || data[11] != 0 || data[12] != 0)
                fail("not 8-bit RGBA, deflate, filter method 0, no interlace");
        } else if (type == "IDAT") {
            idat.insert(idat.end(), data, data + length);
        } else if (type == "IEND") {
            ended = true;
        } else if (!(type[0] & 0x20)) {
            fail("unknown critical chunk " + type);
        }
        pos += 12 + length;
    }
    if (!ended)
        fail("no IEND");
    const size_t rowBytes = static_cast<size_t>(png.width) * 4;
    std::vector<uint8_t> raw((rowBytes + 1) * png.height);
    uLongf rawSize = static_cast<uLongf>(raw.size());
    if (uncompress(raw.data(), &rawSize, idat.data(), static_cast<uLong>(idat.size())) != Z_OK || rawSize != raw.size())
        fail("IDAT does not inflate to the picture size");
    png.rgba.reserve(rowBytes * png.height);
    for (int y = 0; y < png.height; ++y) {
        const uint8_t* row = &raw[y * (rowBytes + 1)];
        if (row[0] != 0)
            fail("row filter " + std::to_string(row[0]));
        png.rgba.insert(png.rgba.end(), row + 1, row + 1 + rowBytes);
    }
    return png;
}

}  // namespace reftooltest
