#include "json_writer.h"

#include <charconv>
#include <cmath>
#include <stdexcept>

namespace refplayer::tool {

namespace {

// Length of the well-formed UTF-8 sequence at text[i], 0 if there is none
// (overlong forms, surrogates and values past U+10FFFF are not well-formed).
size_t utf8Length(std::string_view text, size_t i)
{
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
    const uint8_t b = byte(i);
    size_t n = 0;
    uint8_t lo = 0x80, hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF)
        n = 2;
    else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        if (b == 0xE0) lo = 0xA0;
        if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        if (b == 0xF0) lo = 0x90;
        if (b == 0xF4) hi = 0x8F;
    } else
        return 0;
    if (text.size() - i < n)
        return 0;
    if (byte(i + 1) < lo || byte(i + 1) > hi)
        return 0;
    for (size_t k = 2; k < n; ++k)
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF)
            return 0;
    return n;
}

void appendEscaped(std::string& out, uint32_t code)
{
    static const char kHex[] = "0123456789abcdef";
    out += "\\u00";
    out += kHex[(code >> 4) & 0xF];
    out += kHex[code & 0xF];
}

}  // namespace

std::string jsonQuote(std::string_view text)
{
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const uint8_t c = static_cast<uint8_t>(text[i]);
        if (c >= 0x80) {
            if (size_t n = utf8Length(text, i)) {
                out.append(text.substr(i, n));
                i += n;
            } else {
                // Latin-1: U+0080..U+00FF as two UTF-8 bytes.
                out += static_cast<char>(0xC0 | (c >> 6));
                out += static_cast<char>(0x80 | (c & 0x3F));
                ++i;
            }
            continue;
        }
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7F)
                appendEscaped(out, c);
            else
                out += static_cast<char>(c);
        }
        ++i;
    }
    out += '"';
    return out;
}

void JsonWriter::newline(size_t depth)
{
    out_ += '\n';
    out_.append(depth * 2, ' ');
}

void JsonWriter::beforeValue()
{
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (stack_.empty()) {
        if (!out_.empty())
            throw std::logic_error("JSON document has a second top-level value");
        return;
    }
    Level& level = stack_.back();
    if (level.object)
        throw std::logic_error("JSON object member without a key");
    if (!level.empty)
        out_ += ',';
    if (level.inlined)
        out_ += level.empty ? "" : " ";
    else
        newline(stack_.size());
    level.empty = false;
}

JsonWriter& JsonWriter::key(std::string_view name)
{
    if (stack_.empty() || !stack_.back().object || afterKey_)
        throw std::logic_error("JSON key outside an object");
    Level& level = stack_.back();
    if (!level.empty)
        out_ += ',';
    if (level.inlined)
        out_ += level.empty ? "" : " ";
    else
        newline(stack_.size());
    level.empty = false;
    out_ += jsonQuote(name);
    out_ += ": ";
    afterKey_ = true;
    return *this;
}

void JsonWriter::open(char bracket, bool object, bool inlined)
{
    beforeValue();
    out_ += bracket;
    stack_.push_back(Level{object, inlined || (!stack_.empty() && stack_.back().inlined)});
}

void JsonWriter::close(char bracket)
{
    const bool object = bracket == '}';
    if (stack_.empty() || stack_.back().object != object || afterKey_)
        throw std::logic_error("unbalanced JSON container");
    const Level level = stack_.back();
    stack_.pop_back();
    if (!level.empty && !level.inlined)
        newline(stack_.size());
    out_ += bracket;
}

JsonWriter& JsonWriter::beginObject(bool inlined) { open('{', true, inlined); return *this; }
JsonWriter& JsonWriter::endObject() { close('}'); return *this; }
JsonWriter& JsonWriter::beginArray(bool inlined) { open('[', false, inlined); return *this; }
JsonWriter& JsonWriter::endArray() { close(']'); return *this; }

JsonWriter& JsonWriter::string(std::string_view text)
{
    beforeValue();
    out_ += jsonQuote(text);
    return *this;
}

JsonWriter& JsonWriter::number(double value)
{
    if (!std::isfinite(value))
        return null();
    if (value == std::trunc(value) && std::fabs(value) <= 9007199254740992.0)
        return integer(static_cast<int64_t>(value));
    beforeValue();
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    out_.append(buffer, ec == std::errc() ? end : buffer);
    return *this;
}

JsonWriter& JsonWriter::integer(int64_t value)
{
    beforeValue();
    out_ += std::to_string(value);
    return *this;
}

JsonWriter& JsonWriter::boolean(bool value)
{
    beforeValue();
    out_ += value ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::null()
{
    beforeValue();
    out_ += "null";
    return *this;
}

JsonWriter::Mark JsonWriter::mark() const
{
    Mark m;
    m.size_ = out_.size();
    m.stack_ = stack_;
    m.afterKey_ = afterKey_;
    return m;
}

void JsonWriter::rollback(const Mark& mark)
{
    out_.resize(mark.size_);
    stack_ = mark.stack_;
    afterKey_ = mark.afterKey_;
}

std::string JsonWriter::take()
{
    if (!stack_.empty() || afterKey_)
        throw std::logic_error("JSON document not closed");
    out_ += '\n';
    return std::move(out_);
}

}  // namespace refplayer::tool
