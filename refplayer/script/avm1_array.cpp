// Array: the constructor, its sort flags and the prototype's methods. Every
// loop over script-sized data charges the action budget, so a hostile length
// ends the entry instead of the process.
#include <algorithm>
#include <cmath>

#include "avm1_natives.h"
#include "int_conv.h"

namespace refplayer::avm1 {

// A relative index as slice() takes it: negative counts from the end.
size_t relativeIndex(double n, size_t size) {
    if (std::isnan(n)) return 0;
    n = std::trunc(n);
    if (n < 0) n = std::max(0.0, static_cast<double>(size) + n);
    return n > static_cast<double>(size) ? size : static_cast<size_t>(n);
}

namespace {
Value elementAt(State& s, Object* a, uint32_t i) {
    if (i < a->elements().size()) return a->elements()[i];
    if (a->ownCount() == 0) return {};
    return s.getMember(Value::object(a), std::to_string(i));
}
}  // namespace

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

namespace {

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

}  // namespace

void installArray(State& s) {
    Object* g = s.global;

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
}

}  // namespace refplayer::avm1
