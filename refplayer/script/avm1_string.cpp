// String: the constructor, String.fromCharCode and the prototype's methods,
// counting characters by the running movie's rules (bytes before version 6,
// UTF-8 from it). Searches are charged for their worst case.
#include <algorithm>
#include <cmath>

#include "avm1_natives.h"
#include "int_conv.h"

namespace refplayer::avm1 {

namespace {

// --- characters, by the running movie's rules ------------------------------------------

bool charsAreUtf8(State& s) { return s.version() >= 6; }

std::u32string toChars(State& s, std::string_view text) {
    s.charge(text.size() / 64);
    if (charsAreUtf8(s)) return decodeUtf8(text);
    std::u32string out(text.size(), 0);
    for (size_t i = 0; i < text.size(); ++i) out[i] = static_cast<uint8_t>(text[i]);
    return out;
}

Value fromChars(State& s, std::u32string_view chars) {
    s.checkStringSize(chars.size() * (charsAreUtf8(s) ? 4 : 1));
    if (charsAreUtf8(s)) return s.str(encodeUtf8(chars));
    std::string out(chars.size(), '\0');
    for (size_t i = 0; i < chars.size(); ++i) out[i] = static_cast<char>(chars[i] & 0xFF);
    return s.str(std::move(out));
}

std::string thisText(State& s, NativeCall& c) { return s.toString(c.thisValue); }

// Searching is charged for its worst case, text length times needle length,
// so a hostile pair of long texts ends the entry instead of hanging it.
void chargeSearch(State& s, size_t text, size_t needle) { s.charge((text / 64 + 1) * (needle / 64 + 1)); }

char32_t upper(char32_t c) {
    if (c >= 'a' && c <= 'z') return c - 32;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
    return c;
}
char32_t lower(char32_t c) {
    if (c >= 'A' && c <= 'Z') return c + 32;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
    return c;
}

// --- String -------------------------------------------------------------------------------------

Value stringCtor(State& s, NativeCall& c) {
    const Value text = c.args.empty() ? s.str("") : s.str(s.toString(c.arg(0)));
    return c.construct ? Value::object(s.newBoxed(text)) : text;
}

Value stringValueOf(State& s, NativeCall& c) {
    if (Object* o = c.thisValue.objectValue(); o && o->kind() == Object::Kind::Boxed) return o->primitive();
    return s.str(thisText(s, c));
}

Value fromCharCode(State& s, NativeCall& c) {
    std::u32string chars;
    for (size_t i = 0; i < c.args.size(); ++i) {
        const double n = num(s, c, i);
        const char32_t code = num::toUint16(n);
        if (code) chars.push_back(code);
    }
    return fromChars(s, chars);
}

Value charAt(State& s, NativeCall& c) {
    const std::u32string chars = toChars(s, thisText(s, c));
    const double i = std::trunc(num(s, c, 0));
    if (!(i >= 0 && i < static_cast<double>(chars.size()))) return s.str("");
    return fromChars(s, std::u32string_view(chars).substr(static_cast<size_t>(i), 1));
}

Value charCodeAt(State& s, NativeCall& c) {
    const std::u32string chars = toChars(s, thisText(s, c));
    const double i = std::trunc(num(s, c, 0));
    if (!(i >= 0 && i < static_cast<double>(chars.size()))) return Value::number(kNaN);
    return Value::number(chars[static_cast<size_t>(i)]);
}

Value indexOf(State& s, NativeCall& c) {
    const std::u32string chars = toChars(s, thisText(s, c));
    const std::u32string needle = toChars(s, s.toString(c.arg(0)));
    const double from = c.arg(1).isUndefined() ? 0 : std::trunc(num(s, c, 1));
    const size_t start = !(from > 0) ? 0 : from > static_cast<double>(chars.size()) ? chars.size() : static_cast<size_t>(from);
    chargeSearch(s, chars.size(), needle.size());
    const size_t at = chars.find(needle, start);
    return Value::number(at == std::u32string::npos ? -1 : static_cast<double>(at));
}

Value lastIndexOf(State& s, NativeCall& c) {
    const std::u32string chars = toChars(s, thisText(s, c));
    const std::u32string needle = toChars(s, s.toString(c.arg(0)));
    const double from = c.arg(1).isUndefined() ? static_cast<double>(chars.size()) : std::trunc(num(s, c, 1));
    if (from < 0) return Value::number(-1);
    chargeSearch(s, chars.size(), needle.size());
    const size_t at = chars.rfind(needle, from >= static_cast<double>(chars.size()) ? std::u32string::npos : static_cast<size_t>(from));
    return Value::number(at == std::u32string::npos ? -1 : static_cast<double>(at));
}

Value substr(State& s, NativeCall& c) {
    const std::u32string chars = toChars(s, thisText(s, c));
    const size_t from = relativeIndex(num(s, c, 0), chars.size());
    size_t count = chars.size() - from;
    if (!c.arg(1).isUndefined()) {
        const double n = std::trunc(num(s, c, 1));
        count = !(n > 0) ? 0 : std::min(count, n >= 4294967295.0 ? count : static_cast<size_t>(n));
    }
    return fromChars(s, std::u32string_view(chars).substr(from, count));
}

Value substring(State& s, NativeCall& c) {
    const std::u32string chars = toChars(s, thisText(s, c));
    auto clampIndex = [&](double n) -> size_t {
        if (!(n > 0)) return 0;
        return n >= static_cast<double>(chars.size()) ? chars.size() : static_cast<size_t>(n);
    };
    size_t a = clampIndex(std::trunc(num(s, c, 0)));
    size_t b = c.arg(1).isUndefined() ? chars.size() : clampIndex(std::trunc(num(s, c, 1)));
    if (a > b) std::swap(a, b);
    return fromChars(s, std::u32string_view(chars).substr(a, b - a));
}

Value slice(State& s, NativeCall& c) {
    const std::u32string chars = toChars(s, thisText(s, c));
    const size_t a = relativeIndex(num(s, c, 0), chars.size());
    const size_t b = c.arg(1).isUndefined() ? chars.size() : relativeIndex(num(s, c, 1), chars.size());
    return fromChars(s, a < b ? std::u32string_view(chars).substr(a, b - a) : std::u32string_view());
}

Value toUpperCase(State& s, NativeCall& c) {
    std::u32string chars = toChars(s, thisText(s, c));
    for (char32_t& ch : chars) ch = upper(ch);
    return fromChars(s, chars);
}

Value toLowerCase(State& s, NativeCall& c) {
    std::u32string chars = toChars(s, thisText(s, c));
    for (char32_t& ch : chars) ch = lower(ch);
    return fromChars(s, chars);
}

Value split(State& s, NativeCall& c) {
    const std::string text = thisText(s, c);
    std::vector<Value> parts;
    const double limitNumber = c.arg(1).isUndefined() ? 4294967295.0 : num(s, c, 1);
    const size_t limit = !(limitNumber > 0) ? 0 : limitNumber >= 4294967295.0 ? SIZE_MAX : static_cast<size_t>(limitNumber);
    auto add = [&](Value v) {
        s.charge(1);
        s.chargeBytes(sizeof(Value));
        parts.push_back(std::move(v));
    };
    if (c.arg(0).isUndefined()) {
        if (limit > 0) add(s.str(text));
    } else {
        const std::u32string chars = toChars(s, text);
        const std::u32string separator = toChars(s, s.toString(c.arg(0)));
        chargeSearch(s, chars.size(), separator.size());
        if (separator.empty()) {
            for (size_t i = 0; i < chars.size() && parts.size() < limit; ++i)
                add(fromChars(s, std::u32string_view(chars).substr(i, 1)));
        } else {
            size_t start = 0;
            while (parts.size() < limit) {
                const size_t at = chars.find(separator, start);
                add(fromChars(s, std::u32string_view(chars).substr(start, at == std::u32string::npos ? std::u32string::npos : at - start)));
                if (at == std::u32string::npos) break;
                start = at + separator.size();
            }
        }
    }
    return Value::object(s.newArray(std::move(parts)));
}

Value stringConcat(State& s, NativeCall& c) {
    std::string text = thisText(s, c);
    for (const Value& v : c.args) {
        const std::string more = s.toString(v);
        s.checkStringSize(text.size() + more.size());
        text += more;
    }
    return s.str(std::move(text));
}

}  // namespace

void installString(State& s) {
    Object* g = s.global;

    s.stringProto = s.newObject(s.objectProto);
    Object* string = defClass(s, g, "String", stringCtor, s.stringProto);
    def(s, string, "fromCharCode", fromCharCode);
    def(s, s.stringProto, "toString", stringValueOf);
    def(s, s.stringProto, "valueOf", stringValueOf);
    def(s, s.stringProto, "charAt", charAt);
    def(s, s.stringProto, "charCodeAt", charCodeAt);
    def(s, s.stringProto, "indexOf", indexOf);
    def(s, s.stringProto, "lastIndexOf", lastIndexOf);
    def(s, s.stringProto, "substr", substr);
    def(s, s.stringProto, "substring", substring);
    def(s, s.stringProto, "slice", slice);
    def(s, s.stringProto, "toUpperCase", toUpperCase);
    def(s, s.stringProto, "toLowerCase", toLowerCase);
    def(s, s.stringProto, "split", split);
    def(s, s.stringProto, "concat", stringConcat);
}

}  // namespace refplayer::avm1
