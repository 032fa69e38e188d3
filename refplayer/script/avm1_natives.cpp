// The built-in classes and functions: Object, Function, Array, String, Number,
// Boolean, Math and the global functions compiled ActionScript 1/2 relies on.
// Every loop over script-sized data charges the action budget, so a hostile
// length ends the entry instead of the process.
#include <algorithm>
#include <cmath>
#include <limits>

#include "avm1_internal.h"
#include "int_conv.h"

namespace refplayer::avm1 {

namespace {

using State = Vm::State;
using Impl = Value (*)(State&, NativeCall&);

Object* def(State& s, Object* on, std::string_view name, Impl fn) {
    Object* f = s.newNative([&s, fn](NativeCall& c) { return fn(s, c); }, name);
    on->setOwn(name, Value::object(f), kDontEnum);
    return f;
}

Object* defClass(State& s, Object* on, std::string_view name, Impl ctor, Object* proto) {
    Object* f = s.newNative([&s, ctor](NativeCall& c) { return ctor(s, c); }, name);
    f->setOwn("prototype", Value::object(proto), kDontEnum | kDontDelete);
    proto->setOwn("constructor", Value::object(f), kDontEnum);
    on->setOwn(name, Value::object(f), kDontEnum);
    return f;
}

void constant(Object* on, std::string_view name, Value v) { on->setOwn(name, std::move(v), kDontEnum | kDontDelete | kReadOnly); }

double num(State& s, NativeCall& c, size_t i) { return s.toNumber(c.arg(i)); }
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

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

// A relative index as slice() takes it: negative counts from the end.
size_t relativeIndex(double n, size_t size) {
    if (std::isnan(n)) return 0;
    n = std::trunc(n);
    if (n < 0) n = std::max(0.0, static_cast<double>(size) + n);
    return n > static_cast<double>(size) ? size : static_cast<size_t>(n);
}

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

// --- arrays -------------------------------------------------------------------------------

Value elementAt(State& s, Object* a, uint32_t i) {
    if (i < a->elements().size()) return a->elements()[i];
    if (a->ownCount() == 0) return {};
    return s.getMember(Value::object(a), std::to_string(i));
}

// All `length` elements as one vector (sparse parts filled in); costs one
// action per element, so a hostile length ends the entry before allocating.
std::vector<Value> materialize(State& s, Object* a) {
    s.charge(a->length());
    s.chargeBytes(static_cast<uint64_t>(a->length()) * sizeof(Value));
    std::vector<Value> out;
    out.reserve(a->length());
    for (uint32_t i = 0; i < a->length(); ++i) out.push_back(elementAt(s, a, i));
    return out;
}

// Puts `elements` back as the whole array.
void store(State& s, Object* a, std::vector<Value> elements) {
    if (a->ownCount() > 0) {
        for (const std::string& key : a->ownKeys()) {
            uint32_t index;
            if (arrayIndex(key, index)) a->removeOwn(key);
        }
    }
    s.chargeBytes(elements.size() * sizeof(Value));
    a->setLength(static_cast<uint32_t>(std::min<size_t>(elements.size(), 0xFFFFFFFEu)));
    a->elements() = std::move(elements);
}

Object* thisArray(NativeCall& c) {
    Object* o = c.thisValue.objectValue();
    return o && o->isArray() ? o : nullptr;
}

std::string join(State& s, Object* a, std::string_view separator) {
    std::string out;
    for (uint32_t i = 0; i < a->length(); ++i) {
        s.charge(1);
        if (i) out += separator;
        const Value v = elementAt(s, a, i);
        if (!v.isNullish()) out += s.toString(v);
        s.checkStringSize(out.size());
    }
    return out;
}

Value arrayCtor(State& s, NativeCall& c) {
    if (c.args.size() == 1 && c.args[0].isNumber()) {
        const double n = c.args[0].numberValue();
        Object* a = s.newArray({});
        // The length alone: no storage is made for it.
        if (n >= 0 && n < 4294967295.0 && n == std::trunc(n)) a->setLength(static_cast<uint32_t>(n));
        return Value::object(a);
    }
    return Value::object(s.newArray(std::vector<Value>(c.args.begin(), c.args.end())));
}

Value arrayPush(State& s, NativeCall& c) {
    Object* a = thisArray(c);
    if (!a) return {};
    for (const Value& v : c.args) {
        s.charge(1);
        s.setMember(c.thisValue, Value::number(a->length()), v);
    }
    return Value::number(a->length());
}

Value arrayPop(State& s, NativeCall& c) {
    Object* a = thisArray(c);
    if (!a || a->length() == 0) return {};
    const uint32_t last = a->length() - 1;
    Value v = elementAt(s, a, last);
    s.setMember(c.thisValue, "length", Value::number(last));
    return v;
}

Value arrayShift(State& s, NativeCall& c) {
    Object* a = thisArray(c);
    if (!a || a->length() == 0) return {};
    std::vector<Value> all = materialize(s, a);
    Value first = all.front();
    all.erase(all.begin());
    store(s, a, std::move(all));
    return first;
}

Value arrayUnshift(State& s, NativeCall& c) {
    Object* a = thisArray(c);
    if (!a) return {};
    std::vector<Value> all = materialize(s, a);
    all.insert(all.begin(), c.args.begin(), c.args.end());
    store(s, a, std::move(all));
    return Value::number(a->length());
}

Value arrayJoin(State& s, NativeCall& c) {
    Object* a = thisArray(c);
    if (!a) return {};
    const std::string separator = c.arg(0).isUndefined() ? "," : s.toString(c.arg(0));
    return s.str(join(s, a, separator));
}

Value arrayToString(State& s, NativeCall& c) {
    Object* a = thisArray(c);
    return a ? s.str(join(s, a, ",")) : s.str("[object Object]");
}

Value arrayConcat(State& s, NativeCall& c) {
    Object* a = thisArray(c);
    if (!a) return {};
    std::vector<Value> all = materialize(s, a);
    for (const Value& v : c.args) {
        Object* other = v.objectValue();
        if (other && other->isArray()) {
            std::vector<Value> more = materialize(s, other);
            all.insert(all.end(), more.begin(), more.end());
        } else {
            all.push_back(v);
        }
    }
    return Value::object(s.newArray(std::move(all)));
}

Value arraySlice(State& s, NativeCall& c) {
    Object* a = thisArray(c);
    if (!a) return {};
    const size_t size = a->length();
    const size_t from = relativeIndex(num(s, c, 0), size);
    const size_t to = c.arg(1).isUndefined() ? size : relativeIndex(num(s, c, 1), size);
    std::vector<Value> out;
    for (size_t i = from; i < to; ++i) {
        s.charge(1);
        out.push_back(elementAt(s, a, static_cast<uint32_t>(i)));
    }
    return Value::object(s.newArray(std::move(out)));
}

Value arraySplice(State& s, NativeCall& c) {
    Object* a = thisArray(c);
    if (!a || c.args.empty()) return {};
    std::vector<Value> all = materialize(s, a);
    const size_t from = relativeIndex(num(s, c, 0), all.size());
    size_t count = all.size() - from;
    if (c.args.size() > 1) {
        const double n = num(s, c, 1);
        count = std::isnan(n) || n < 0 ? 0 : std::min(count, static_cast<size_t>(std::min(n, 4294967295.0)));
    }
    std::vector<Value> removed(all.begin() + static_cast<ptrdiff_t>(from),
                               all.begin() + static_cast<ptrdiff_t>(from + count));
    all.erase(all.begin() + static_cast<ptrdiff_t>(from), all.begin() + static_cast<ptrdiff_t>(from + count));
    if (c.args.size() > 2) all.insert(all.begin() + static_cast<ptrdiff_t>(from), c.args.begin() + 2, c.args.end());
    store(s, a, std::move(all));
    return Value::object(s.newArray(std::move(removed)));
}

Value arrayReverse(State& s, NativeCall& c) {
    Object* a = thisArray(c);
    if (!a) return {};
    std::vector<Value> all = materialize(s, a);
    std::reverse(all.begin(), all.end());
    store(s, a, std::move(all));
    return c.thisValue;
}

// Sorting with a script comparator must survive comparators that contradict
// themselves, so no std::sort: a plain merge sort only ever asks "a before b?".
template <typename Less>
void mergeSort(State& s, std::vector<Value>& v, Less less) {
    std::vector<Value> tmp(v.size());
    for (size_t width = 1; width < v.size(); width *= 2) {
        for (size_t lo = 0; lo < v.size(); lo += 2 * width) {
            const size_t mid = std::min(lo + width, v.size()), hi = std::min(lo + 2 * width, v.size());
            size_t i = lo, j = mid, k = lo;
            while (i < mid && j < hi) {
                s.charge(1);
                tmp[k++] = less(v[j], v[i]) ? v[j++] : v[i++];
            }
            while (i < mid) tmp[k++] = v[i++];
            while (j < hi) tmp[k++] = v[j++];
        }
        v.swap(tmp);
    }
}

Value arraySort(State& s, NativeCall& c) {
    Object* a = thisArray(c);
    if (!a) return {};
    std::vector<Value> all = materialize(s, a);
    Object* fn = c.arg(0).objectValue();
    const double options = s.toNumber(fn && fn->isFunction() ? c.arg(1) : c.arg(0));
    const int32_t flags = num::toInt32(options);
    const bool descending = flags & 2, numeric = flags & 16, noCase = flags & 1;
    // undefined sorts last whatever the order.
    auto base = [&](const Value& x, const Value& y) -> bool {
        if (x.isUndefined() || y.isUndefined()) return !x.isUndefined() && y.isUndefined();
        if (fn && fn->isFunction()) {
            const Value args[2] = {x, y};
            return s.toNumber(s.call(Value::object(fn), Value(), args)) < 0;
        }
        if (numeric) return s.toNumber(x) < s.toNumber(y);
        if (noCase) return lowerAscii(s.toString(x)) < lowerAscii(s.toString(y));
        return s.toString(x) < s.toString(y);
    };
    mergeSort(s, all, [&](const Value& x, const Value& y) { return descending ? base(y, x) : base(x, y); });
    store(s, a, std::move(all));
    return c.thisValue;
}

// --- Object and Function --------------------------------------------------------------------

Value objectCtor(State& s, NativeCall& c) {
    if (c.arg(0).isObject()) return c.arg(0);
    if (c.construct) return c.thisValue;
    return Value::object(s.newObject(s.objectProto));
}

Value objectToString(State& s, NativeCall&) { return s.str("[object Object]"); }
Value objectValueOf(State&, NativeCall& c) { return c.thisValue; }

Value hasOwnProperty(State& s, NativeCall& c) {
    const std::string key = s.toString(c.arg(0));
    Object* o = c.thisValue.objectValue();
    if (Clip* clip = s.resolveClip(c.thisValue)) o = clip->variables();
    if (!o) return Value::boolean(false);
    uint32_t index;
    if (o->isArray() && arrayIndex(key, index) && index < o->elements().size()) return Value::boolean(true);
    return Value::boolean(o->findOwn(key, s.caseSensitive()) != nullptr);
}

Value isPropertyEnumerable(State& s, NativeCall& c) {
    Object* o = c.thisValue.objectValue();
    if (!o) return Value::boolean(false);
    const Property* p = o->findOwn(s.toString(c.arg(0)), s.caseSensitive());
    return Value::boolean(p && !(p->flags & kDontEnum));
}

Value isPrototypeOf(State& s, NativeCall& c) {
    Object* self = c.thisValue.objectValue();
    Object* p = c.arg(0).isPrimitive() ? nullptr : s.protoOf(c.arg(0));
    for (int depth = 0; self && p && depth < 256; p = p->proto(), ++depth)
        if (p == self) return Value::boolean(true);
    return Value::boolean(false);
}

// addProperty(name, getter, setter): what AS2's get/set compile to.
Value addProperty(State& s, NativeCall& c) {
    Object* o = c.thisValue.objectValue();
    if (Clip* clip = s.resolveClip(c.thisValue)) o = clip->variables();
    const std::string name = s.toString(c.arg(0));
    Object* getter = c.arg(1).objectValue();
    Object* setter = c.arg(2).objectValue();
    if (!o || name.empty() || !getter || !getter->isFunction()) return Value::boolean(false);
    Property& p = o->setOwn(name, Value(), 0, s.caseSensitive());
    p.getter = getter;
    p.setter = setter && setter->isFunction() ? setter : nullptr;
    return Value::boolean(true);
}

Value functionCall(State& s, NativeCall& c) {
    const std::span<const Value> rest = c.args.empty() ? c.args : c.args.subspan(1);
    return s.call(c.thisValue, c.arg(0), rest);
}

Value functionApply(State& s, NativeCall& c) {
    std::vector<Value> args;
    if (Object* a = c.arg(1).objectValue(); a && a->isArray()) args = materialize(s, a);
    return s.call(c.thisValue, c.arg(0), args);
}

Value functionToString(State& s, NativeCall&) { return s.str("[type Function]"); }
Value nothing(State&, NativeCall&) { return {}; }

// ASSetPropFlags(object, names, set, clear): names as "a,b", an array, or null for all.
Value setPropFlags(State& s, NativeCall& c) {
    Object* o = c.arg(0).objectValue();
    if (!o) return {};
    std::vector<std::string> names;
    if (c.arg(1).isNull()) {
        names = o->ownKeys();
    } else if (Object* list = c.arg(1).objectValue(); list && list->isArray()) {
        for (const Value& v : materialize(s, list)) names.push_back(s.toString(v));
    } else {
        const std::string text = s.toString(c.arg(1));
        size_t start = 0;
        while (start <= text.size()) {
            s.charge(1);
            const size_t comma = text.find(',', start);
            names.push_back(text.substr(start, comma - start));
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
    }
    const int set = s.toInt32(c.arg(2)) & 7, clear = s.toInt32(c.arg(3)) & 7;
    for (const std::string& name : names) {
        s.charge(1);
        if (Property* p = o->findOwn(name, s.caseSensitive()))
            p->flags = static_cast<uint8_t>((p->flags & ~clear) | set);
    }
    return {};
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

// --- Number and Boolean ----------------------------------------------------------------------------

Value numberCtor(State& s, NativeCall& c) {
    const Value n = Value::number(c.args.empty() ? 0 : s.toNumber(c.arg(0)));
    return c.construct ? Value::object(s.newBoxed(n)) : n;
}

double thisNumber(State& s, NativeCall& c) {
    if (Object* o = c.thisValue.objectValue(); o && o->kind() == Object::Kind::Boxed) return s.toNumber(o->primitive());
    return s.toNumber(c.thisValue);
}

Value numberToString(State& s, NativeCall& c) {
    const double n = thisNumber(s, c);
    const double radixNumber = c.arg(0).isUndefined() ? 10 : num(s, c, 0);
    // NaN, infinities and radixes out of 2..36 all print in decimal.
    const int radix = num::truncClamp<int>(radixNumber);
    if (radix == 10 || radix < 2 || radix > 36 || !std::isfinite(n)) return s.str(formatNumber(n));
    // Other radixes print the integer part, as the player does.
    double v = std::trunc(std::fabs(n));
    if (v > 9007199254740992.0) return s.str(formatNumber(n));
    auto whole = static_cast<uint64_t>(v);
    std::string digits;
    do {
        digits.insert(digits.begin(), "0123456789abcdefghijklmnopqrstuvwxyz"[whole % static_cast<unsigned>(radix)]);
        whole /= static_cast<unsigned>(radix);
    } while (whole);
    if (n < 0 && v != 0) digits.insert(digits.begin(), '-');
    return s.str(digits);
}

Value numberValueOf(State& s, NativeCall& c) { return Value::number(thisNumber(s, c)); }

Value booleanCtor(State& s, NativeCall& c) {
    const Value b = Value::boolean(s.toBoolean(c.arg(0)));
    return c.construct ? Value::object(s.newBoxed(b)) : b;
}

bool thisBoolean(State& s, NativeCall& c) {
    if (Object* o = c.thisValue.objectValue(); o && o->kind() == Object::Kind::Boxed) return s.toBoolean(o->primitive());
    return s.toBoolean(c.thisValue);
}

Value booleanToString(State& s, NativeCall& c) { return s.str(thisBoolean(s, c) ? "true" : "false"); }
Value booleanValueOf(State& s, NativeCall& c) { return Value::boolean(thisBoolean(s, c)); }

// --- Math --------------------------------------------------------------------------------------------

using Unary = double (*)(double);
void defMath(State& s, Object* math, std::string_view name, Unary f) {
    Object* fn = s.newNative([&s, f](NativeCall& c) { return Value::number(f(s.toNumber(c.arg(0)))); }, name);
    math->setOwn(name, Value::object(fn), kDontEnum);
}

Value mathAtan2(State& s, NativeCall& c) { return Value::number(std::atan2(num(s, c, 0), num(s, c, 1))); }
Value mathPow(State& s, NativeCall& c) { return Value::number(std::pow(num(s, c, 0), num(s, c, 1))); }
Value mathRandom(State& s, NativeCall&) { return Value::number(s.randomUnit()); }

Value mathMinMax(State& s, NativeCall& c, bool max) {
    double r = max ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    for (size_t i = 0; i < c.args.size(); ++i) {
        const double n = num(s, c, i);
        if (std::isnan(n)) return Value::number(kNaN);
        r = max ? std::max(r, n) : std::min(r, n);
    }
    return Value::number(r);
}
Value mathMax(State& s, NativeCall& c) { return mathMinMax(s, c, true); }
Value mathMin(State& s, NativeCall& c) { return mathMinMax(s, c, false); }

// --- global functions ------------------------------------------------------------------------------------

Value parseIntFn(State& s, NativeCall& c) {
    const double radix = c.arg(1).isUndefined() ? 0 : num(s, c, 1);
    return Value::number(parseIntPrefix(s.toString(c.arg(0)), num::toInt32(radix)));
}
Value parseFloatFn(State& s, NativeCall& c) { return Value::number(parseFloatPrefix(s.toString(c.arg(0)))); }
Value isNaNFn(State& s, NativeCall& c) { return Value::boolean(std::isnan(num(s, c, 0))); }
Value isFiniteFn(State& s, NativeCall& c) { return Value::boolean(std::isfinite(num(s, c, 0))); }
Value escapeFn(State& s, NativeCall& c) {
    const std::string text = s.toString(c.arg(0));
    s.checkStringSize(text.size() * 3);
    return s.str(urlEscape(text));
}
Value unescapeFn(State& s, NativeCall& c) { return s.str(urlUnescape(s.toString(c.arg(0)))); }
Value getVersionFn(State& s, NativeCall&) { return s.str("WIN 8,0,0,0"); }

}  // namespace

void installBuiltins(State& s) {
    Object* g = s.global;

    // Object and Function share their prototypes with everything else.
    Object* objectCtorFn = defClass(s, g, "Object", objectCtor, s.objectProto);
    (void)objectCtorFn;
    def(s, s.objectProto, "toString", objectToString);
    def(s, s.objectProto, "valueOf", objectValueOf);
    def(s, s.objectProto, "hasOwnProperty", hasOwnProperty);
    def(s, s.objectProto, "isPropertyEnumerable", isPropertyEnumerable);
    def(s, s.objectProto, "isPrototypeOf", isPrototypeOf);
    def(s, s.objectProto, "addProperty", addProperty);

    defClass(s, g, "Function", nothing, s.functionProto);
    def(s, s.functionProto, "call", functionCall);
    def(s, s.functionProto, "apply", functionApply);
    def(s, s.functionProto, "toString", functionToString);

    s.arrayProto = s.newObject(s.objectProto);
    Object* array = defClass(s, g, "Array", arrayCtor, s.arrayProto);
    constant(array, "CASEINSENSITIVE", Value::number(1));
    constant(array, "DESCENDING", Value::number(2));
    constant(array, "UNIQUESORT", Value::number(4));
    constant(array, "RETURNINDEXEDARRAY", Value::number(8));
    constant(array, "NUMERIC", Value::number(16));
    def(s, s.arrayProto, "push", arrayPush);
    def(s, s.arrayProto, "pop", arrayPop);
    def(s, s.arrayProto, "shift", arrayShift);
    def(s, s.arrayProto, "unshift", arrayUnshift);
    def(s, s.arrayProto, "join", arrayJoin);
    def(s, s.arrayProto, "toString", arrayToString);
    def(s, s.arrayProto, "concat", arrayConcat);
    def(s, s.arrayProto, "slice", arraySlice);
    def(s, s.arrayProto, "splice", arraySplice);
    def(s, s.arrayProto, "reverse", arrayReverse);
    def(s, s.arrayProto, "sort", arraySort);

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

    s.numberProto = s.newObject(s.objectProto);
    Object* number = defClass(s, g, "Number", numberCtor, s.numberProto);
    constant(number, "MAX_VALUE", Value::number(std::numeric_limits<double>::max()));
    constant(number, "MIN_VALUE", Value::number(std::numeric_limits<double>::denorm_min()));
    constant(number, "NaN", Value::number(kNaN));
    constant(number, "POSITIVE_INFINITY", Value::number(std::numeric_limits<double>::infinity()));
    constant(number, "NEGATIVE_INFINITY", Value::number(-std::numeric_limits<double>::infinity()));
    def(s, s.numberProto, "toString", numberToString);
    def(s, s.numberProto, "valueOf", numberValueOf);

    s.booleanProto = s.newObject(s.objectProto);
    defClass(s, g, "Boolean", booleanCtor, s.booleanProto);
    def(s, s.booleanProto, "toString", booleanToString);
    def(s, s.booleanProto, "valueOf", booleanValueOf);

    Object* math = s.newObject(s.objectProto);
    g->setOwn("Math", Value::object(math), kDontEnum);
    defMath(s, math, "abs", [](double x) { return std::fabs(x); });
    defMath(s, math, "acos", [](double x) { return std::acos(x); });
    defMath(s, math, "asin", [](double x) { return std::asin(x); });
    defMath(s, math, "atan", [](double x) { return std::atan(x); });
    defMath(s, math, "ceil", [](double x) { return std::ceil(x); });
    defMath(s, math, "cos", [](double x) { return std::cos(x); });
    defMath(s, math, "exp", [](double x) { return std::exp(x); });
    defMath(s, math, "floor", [](double x) { return std::floor(x); });
    defMath(s, math, "log", [](double x) { return std::log(x); });
    defMath(s, math, "round", [](double x) { return std::floor(x + 0.5); });  // halves go up, as the player rounds
    defMath(s, math, "sin", [](double x) { return std::sin(x); });
    defMath(s, math, "sqrt", [](double x) { return std::sqrt(x); });
    defMath(s, math, "tan", [](double x) { return std::tan(x); });
    def(s, math, "atan2", mathAtan2);
    def(s, math, "pow", mathPow);
    def(s, math, "random", mathRandom);
    def(s, math, "max", mathMax);
    def(s, math, "min", mathMin);
    constant(math, "E", Value::number(2.718281828459045));
    constant(math, "LN10", Value::number(2.302585092994046));
    constant(math, "LN2", Value::number(0.6931471805599453));
    constant(math, "LOG10E", Value::number(0.4342944819032518));
    constant(math, "LOG2E", Value::number(1.4426950408889634));
    constant(math, "PI", Value::number(3.141592653589793));
    constant(math, "SQRT1_2", Value::number(0.7071067811865476));
    constant(math, "SQRT2", Value::number(1.4142135623730951));

    def(s, g, "parseInt", parseIntFn);
    def(s, g, "parseFloat", parseFloatFn);
    def(s, g, "isNaN", isNaNFn);
    def(s, g, "isFinite", isFiniteFn);
    def(s, g, "escape", escapeFn);
    def(s, g, "unescape", unescapeFn);
    def(s, g, "getVersion", getVersionFn);
    def(s, g, "ASSetPropFlags", setPropFlags);
    constant(g, "NaN", Value::number(kNaN));
    constant(g, "Infinity", Value::number(std::numeric_limits<double>::infinity()));
}

}  // namespace refplayer::avm1
