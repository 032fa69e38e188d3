// The action dispatch loop. Every action is decoded against the end of the
// code it belongs to; an action that runs past it stops the code there.
// Handlers live in small functions of their own so that the loop's own stack
// frame stays small: script recursion nests this loop on the C++ stack.
#include <algorithm>
#include <bit>
#include <cmath>
#include <optional>
#include <cstring>
#include <limits>

#include "avm1_internal.h"
#include "int_conv.h"

namespace refplayer::avm1 {

namespace {

using State = Vm::State;

struct Malformed {
    const char* what;
};

// Reads operands from one action's payload; every read is checked.
class Reader {
public:
    Reader(const uint8_t* code, uint32_t begin, uint32_t end) : code_(code), pos_(begin), end_(end) {}
    bool atEnd() const { return pos_ >= end_; }
    uint32_t pos() const { return pos_; }
    uint8_t u8() {
        need(1);
        return code_[pos_++];
    }
    uint16_t u16() {
        need(2);
        const uint16_t v = static_cast<uint16_t>(code_[pos_] | (code_[pos_ + 1] << 8));
        pos_ += 2;
        return v;
    }
    int16_t s16() { return static_cast<int16_t>(u16()); }
    uint32_t u32() {
        need(4);
        uint32_t v = 0;
        for (int i = 3; i >= 0; --i) v = (v << 8) | code_[pos_ + static_cast<uint32_t>(i)];
        pos_ += 4;
        return v;
    }
    // The bytes from here to the end of the action.
    std::string_view rest() const { return {reinterpret_cast<const char*>(code_ + pos_), end_ - pos_}; }
    std::string_view cstr() {
        const uint8_t* start = code_ + pos_;
        const void* nul = std::memchr(start, 0, end_ - pos_);
        if (!nul) throw Malformed{"string without its terminator"};
        const auto len = static_cast<uint32_t>(static_cast<const uint8_t*>(nul) - start);
        pos_ += len + 1;
        return std::string_view(reinterpret_cast<const char*>(start), len);
    }

private:
    void need(uint32_t n) const {
        if (end_ - pos_ < n) throw Malformed{"operand runs past its action"};
    }
    const uint8_t* code_;
    uint32_t pos_;
    uint32_t end_;
};

Value pop(State& s, Frame& f) {
    if (s.stack.size() <= f.stackBase) return {};  // an empty stack reads as undefined
    Value v = std::move(s.stack.back());
    s.stack.pop_back();
    return v;
}

void push(State& s, Value v) {
    if (s.stack.size() >= s.limits.stackValues) throw ScriptAbort{RunStatus::TooDeep, "operand stack overflow"};
    s.stack.push_back(std::move(v));
}

// A count popped for an argument list, limited to what the stack holds: the
// values beyond would read as undefined anyway, and a hostile count costs nothing.
size_t popCount(State& s, Frame& f) {
    const double n = s.toNumber(pop(s, f));
    const size_t available = s.stack.size() - std::min(s.stack.size(), f.stackBase);
    if (!(n > 0)) return 0;
    return n >= static_cast<double>(available) ? available : static_cast<size_t>(n);
}

std::vector<Value> popArgs(State& s, Frame& f, size_t count) {
    s.charge(count);
    std::vector<Value> args;
    args.reserve(count);
    for (size_t i = 0; i < count; ++i) args.push_back(pop(s, f));
    return args;
}

Value boolResult(Frame& f, bool b) { return f.version >= 5 ? Value::boolean(b) : Value::number(b ? 1 : 0); }

bool utf8(const Frame& f) { return f.version >= 6; }

// --- characters -----------------------------------------------------------------

size_t length(std::string_view text, bool chars) { return chars ? decodeUtf8(text).size() : text.size(); }

// Characters [index, index+count) of `text`, 0-based; count < 0 means "to the end".
std::string extract(State& s, std::string_view text, double index, double count, bool chars) {
    if (chars) {
        const std::u32string all = decodeUtf8(text);
        const double size = static_cast<double>(all.size());
        if (std::isnan(index) || index >= size) return {};
        const size_t from = index < 0 ? 0 : static_cast<size_t>(index);
        const size_t n = std::isnan(count) || count < 0 || count > size ? all.size() - from
                         : std::min(all.size() - from, static_cast<size_t>(count));
        s.charge(n / 64);
        return encodeUtf8(std::u32string_view(all).substr(from, n));
    }
    const double size = static_cast<double>(text.size());
    if (std::isnan(index) || index >= size) return {};
    const size_t from = index < 0 ? 0 : static_cast<size_t>(index);
    const size_t n = std::isnan(count) || count < 0 || count > size ? text.size() - from
                     : std::min(text.size() - from, static_cast<size_t>(count));
    return std::string(text.substr(from, n));
}

double firstCharCode(std::string_view text, bool chars) {
    if (text.empty()) return 0;
    if (!chars) return static_cast<uint8_t>(text[0]);
    return static_cast<double>(decodeUtf8(text.substr(0, std::min<size_t>(4, text.size())))[0]);
}

std::string charFromCode(double code, bool chars) {
    // Wrapped modulo 2^32 as the language wraps integers; the low 21 bits are
    // the same as those of the plain integer part.
    const uint32_t c = num::toUint32(code) & 0x1FFFFF;
    if (c == 0) return {};
    if (!chars) return std::string(1, static_cast<char>(c & 0xFF));
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return {};
    std::string out;
    appendUtf8(out, c);
    return out;
}

// --- timeline actions -------------------------------------------------------------

Clip* targetClip(State& s, Frame& f) { return s.resolveClip(f.target); }

// A frame named by a value: a 1-based number, a label, or "path:frame".
// Answers the clip and its 0-based frame, or nothing.
bool frameOf(State& s, Frame& f, const Value& v, int bias, Clip*& clip, int& frame) {
    clip = targetClip(s, f);
    if (!v.isString()) {
        const double n = s.toNumber(v);
        if (!std::isfinite(n) || !clip) return false;
        const double index = std::trunc(n) - 1 + bias;
        if (index < 0 || index > 0x7FFFFFFF) return false;
        frame = static_cast<int>(index);
        return true;
    }
    std::string_view text = v.stringValue().view();
    if (const size_t colon = text.rfind(':'); colon != std::string_view::npos) {
        clip = s.resolveClip(s.resolvePath(f, text.substr(0, colon)));
        text = text.substr(colon + 1);
    }
    if (!clip) return false;
    const double n = parseNumber(text, 7);
    if (std::isfinite(n)) {
        const double index = std::trunc(n) - 1 + bias;
        if (index < 0 || index > 0x7FFFFFFF) return false;
        frame = static_cast<int>(index);
        return true;
    }
    if (auto labelled = clip->frameOfLabel(text)) {
        frame = *labelled;
        return true;
    }
    return false;
}

void setTarget(State& s, Frame& f, const Value& target) {
    if (target.isClip()) {
        f.target = target;
        return;
    }
    const std::string path = s.toString(target);
    f.target = f.originalTarget;
    if (path.empty()) return;
    const Value v = s.resolvePath(f, path);
    // A target that does not exist makes the following actions act on nothing.
    f.target = v.isClip() ? v : Value();
}

void getUrl(State& s, Frame& f, const std::string& url, const Value& targetValue, uint8_t flags) {
    const bool loadVariables = flags & 0x80;
    const bool loadTarget = flags & 0x40;
    const unsigned methodBits = flags & 3;
    UrlRequest request;
    request.url = url;
    request.method = methodBits == 1 ? HttpMethod::Get : methodBits == 2 ? HttpMethod::Post : HttpMethod::None;
    if (request.method != HttpMethod::None) {
        const std::string vars = s.encodeVariables(f.target);
        if (request.method == HttpMethod::Get && !vars.empty()) {
            request.url += request.url.find('?') == std::string::npos ? '?' : '&';
            request.url += vars;
        } else if (request.method == HttpMethod::Post) {
            request.postData = vars;
        }
    }
    if (loadVariables || loadTarget) {
        const LoadTarget where = s.loadTarget(f, targetValue);
        if (where.level < 0 && !where.clip) return;  // the player ignores loads into nothing
        if (loadVariables) s.host.loadVariables(where, request);
        else s.host.loadMovie(where, request);
        return;
    }
    const std::string window = s.toString(targetValue);
    if (url.size() >= 10 && equalsIgnoreCase(std::string_view(url).substr(0, 10), "FSCommand:")) {
        s.host.fsCommand(url.substr(10), window);
        return;
    }
    if (window.size() > 6 && equalsIgnoreCase(std::string_view(window).substr(0, 6), "_level")) {
        // loadMovieNum: a window named _levelN is a level.
        const LoadTarget where = s.loadTarget(f, Value::string(Str(window)));
        if (where.level >= 0) {
            s.host.loadMovie(where, request);
            return;
        }
    }
    request.window = window;
    s.host.getUrl(request);
}

// --- functions --------------------------------------------------------------------

// Decodes DefineFunction / DefineFunction2 at `r` and makes the function. Its
// body follows the action and is skipped by the caller (answers the body's end).
uint32_t defineFunction(State& s, Frame& f, Reader& r, uint32_t next, bool v2) {
    auto fn = std::make_unique<ScriptFunction>();
    fn->v2 = v2;
    fn->name = std::string(r.cstr());
    const uint16_t count = r.u16();
    if (v2) {
        fn->registerCount = r.u8();
        fn->flags = r.u16();
    }
    for (uint16_t i = 0; i < count; ++i) {
        ScriptFunction::Param p;
        if (v2) p.reg = r.u8();
        p.name = std::string(r.cstr());
        fn->params.push_back(std::move(p));
    }
    const uint16_t size = r.u16();
    if (static_cast<uint64_t>(next) + size > f.codeEnd) throw Malformed{"function body runs past the block"};
    fn->code = f.code;
    fn->begin = next;
    fn->end = next + size;
    fn->scope = f.scope;
    fn->target = f.target;
    fn->pool = f.pool;
    fn->swfVersion = f.version;
    const std::string name = fn->name;
    Object* o = s.newScriptFunction(std::move(fn));
    if (name.empty()) push(s, Value::object(o));
    else s.defineLocal(f, name, Value::object(o));
    return next + size;
}

void constantPool(State& s, Frame& f, Reader& r) {
    const std::string_view bytes = r.rest();
    const uint16_t count = r.u16();
    // Every entry is read and charged before any is built, so a pool whose
    // entries run past its action costs no allocations before it fails.
    std::vector<std::string_view> entries;
    entries.reserve(count);
    for (uint16_t i = 0; i < count; ++i) {
        entries.push_back(r.cstr());
        // Each entry counts as an action and an allocation of its own, built
        // or not: a pool of many short entries run in a loop must meet the
        // budgets as soon as the same count of pushes would.
        s.charge(1);
        s.chargeBytes(entries.back().size() + sizeof(Str) + sizeof(std::string));
    }
    // A pool run again with the same bytes (a frame script each time the
    // timeline comes round, a loop over its own pool) takes the one built
    // last time: the entries are the same text, and pools are never changed.
    if (!s.lastPool || s.lastPoolBytes != bytes) {
        auto pool = std::make_shared<ConstantPool>(entries.begin(), entries.end());
        s.lastPoolBytes.assign(bytes);
        s.lastPool = std::move(pool);
    }
    f.pool = s.lastPool;
}

void pushValues(State& s, Frame& f, Reader& r) {
    while (!r.atEnd()) {
        const uint8_t type = r.u8();
        switch (type) {
        case 0: push(s, s.str(std::string(r.cstr()))); break;
        case 1: push(s, Value::number(std::bit_cast<float>(r.u32()))); break;
        case 2: push(s, Value::null()); break;
        case 3: push(s, Value()); break;
        case 4: {
            const uint8_t reg = r.u8();
            push(s, reg < f.registers.size() ? f.registers[reg] : Value());
            break;
        }
        case 5: push(s, Value::boolean(r.u8() != 0)); break;
        case 6: {
            // Two little-endian 32-bit halves, the high one first.
            const uint64_t high = r.u32();
            const uint64_t low = r.u32();
            push(s, Value::number(std::bit_cast<double>((high << 32) | low)));
            break;
        }
        case 7: push(s, Value::number(static_cast<int32_t>(r.u32()))); break;
        case 8:
        case 9: {
            const uint16_t index = type == 8 ? r.u8() : r.u16();
            push(s, f.pool && index < f.pool->size() ? Value::string((*f.pool)[index]) : Value());
            break;
        }
        default: throw Malformed{"unknown push type"};
        }
    }
}

// --- stack-only actions -------------------------------------------------------------

void binaryNumeric(State& s, Frame& f, uint8_t op) {
    const Value a = pop(s, f);
    const Value b = pop(s, f);
    const double x = s.toNumber(b), y = s.toNumber(a);
    switch (op) {
    case 0x0A: push(s, Value::number(x + y)); break;
    case 0x0B: push(s, Value::number(x - y)); break;
    case 0x0C: push(s, Value::number(x * y)); break;
    case 0x0D:
        if (y == 0 && f.version < 5) push(s, s.str("#ERROR#"));
        else push(s, Value::number(x / y));
        break;
    case 0x0E: push(s, boolResult(f, x == y)); break;
    case 0x0F: push(s, boolResult(f, x < y)); break;
    case 0x3F: push(s, Value::number(std::fmod(x, y))); break;
    default: break;
    }
}

void bitwise(State& s, Frame& f, uint8_t op) {
    const Value a = pop(s, f);
    const Value b = pop(s, f);
    const int32_t x = s.toInt32(b), y = s.toInt32(a);
    const auto ux = static_cast<uint32_t>(x);
    const unsigned shift = static_cast<uint32_t>(y) & 31;
    switch (op) {
    case 0x60: push(s, Value::number(x & y)); break;
    case 0x61: push(s, Value::number(x | y)); break;
    case 0x62: push(s, Value::number(x ^ y)); break;
    case 0x63: push(s, Value::number(static_cast<int32_t>(ux << shift))); break;
    case 0x64: push(s, Value::number(x >> shift)); break;
    case 0x65: push(s, Value::number(static_cast<double>(ux >> shift))); break;
    default: break;
    }
}

void stringOp(State& s, Frame& f, uint8_t op) {
    switch (op) {
    case 0x13: case 0x29: case 0x68: {  // StringEquals, StringLess, StringGreater
        const Value a = pop(s, f);
        const Value b = pop(s, f);
        const std::string x = s.toString(b), y = s.toString(a);
        const bool r = op == 0x13 ? x == y : op == 0x29 ? x < y : x > y;
        push(s, boolResult(f, r));
        break;
    }
    case 0x14: case 0x31: {  // StringLength, MBStringLength
        const std::string text = s.toString(pop(s, f));
        push(s, Value::number(static_cast<double>(length(text, op == 0x31 || utf8(f)))));
        break;
    }
    case 0x15: case 0x35: {  // StringExtract, MBStringExtract (1-based index)
        const double count = s.toNumber(pop(s, f));
        const double index = s.toNumber(pop(s, f));
        const std::string text = s.toString(pop(s, f));
        const double from = std::isnan(index) ? 0 : std::max(0.0, std::trunc(index) - 1);
        push(s, s.str(extract(s, text, from, std::trunc(count), op == 0x35 || utf8(f))));
        break;
    }
    case 0x21: {  // StringAdd
        const Value a = pop(s, f);
        const Value b = pop(s, f);
        std::string x = s.toString(b);
        const std::string y = s.toString(a);
        s.checkStringSize(x.size() + y.size());
        x += y;
        push(s, s.str(std::move(x)));
        break;
    }
    case 0x32: case 0x36:  // CharToAscii, MBCharToAscii
        push(s, Value::number(firstCharCode(s.toString(pop(s, f)), op == 0x36 || utf8(f))));
        break;
    case 0x33: case 0x37:  // AsciiToChar, MBAsciiToChar
        push(s, s.str(charFromCode(s.toNumber(pop(s, f)), op == 0x37 || utf8(f))));
        break;
    default: break;
    }
}

void compareOp(State& s, Frame& f, uint8_t op) {
    const Value a = pop(s, f);
    const Value b = pop(s, f);
    switch (op) {
    case 0x47: push(s, s.add(b, a)); break;                       // Add2
    case 0x48: push(s, s.lessThan(b, a)); break;                  // Less2
    case 0x67: push(s, s.lessThan(a, b)); break;                  // Greater
    case 0x49: push(s, Value::boolean(s.looseEquals(b, a))); break;   // Equals2
    case 0x66:
        if (a.isString() && b.isString()) s.charge(std::min(a.stringValue().size(), b.stringValue().size()) >> 10);
        push(s, Value::boolean(State::strictEquals(b, a)));
        break;
    case 0x10: push(s, boolResult(f, s.toBoolean(b) && s.toBoolean(a))); break;  // And
    case 0x11: push(s, boolResult(f, s.toBoolean(b) || s.toBoolean(a))); break;  // Or
    default: break;
    }
}

// --- variables, members, objects ---------------------------------------------------------

void callFunction(State& s, Frame& f) {
    const std::string name = s.toString(pop(s, f));
    const std::vector<Value> args = popArgs(s, f, popCount(s, f));
    const Value fn = s.getVariable(f, name);
    // A function called by name acts on the timeline it is called from.
    push(s, s.call(fn, f.target, args));
}

void callMethod(State& s, Frame& f) {
    const Value nameValue = pop(s, f);
    const Value object = pop(s, f);
    const std::vector<Value> args = popArgs(s, f, popCount(s, f));
    if (nameValue.isUndefined() || (nameValue.isString() && nameValue.stringValue().empty())) {
        Object* o = object.objectValue();
        push(s, s.call(object, o && o->kind() == Object::Kind::Super ? o->superThis() : Value(), args));
        return;
    }
    const std::string name = s.memberKey(nameValue);
    Object* home = nullptr;
    Value fn;
    Value thisValue = object;
    if (Object* o = object.objectValue()) {
        if (o->kind() == Object::Kind::Super) {
            thisValue = o->superThis();
            Object* start = o->superProto() ? o->superProto()->proto() : nullptr;
            fn = s.readProperty(thisValue, s.findProperty(start, name, &home));
        } else if (o->isArray() || o->kind() == Object::Kind::Boxed) {
            fn = s.getMember(object, name);
            s.findProperty(o, name, &home);
        } else {
            fn = s.readProperty(object, s.findProperty(o, name, &home));
        }
    } else {
        fn = s.getMember(object, name);
        if (Clip* c = s.resolveClip(object))
            if (Object* vars = c->variables()) s.findProperty(vars, name, &home);
    }
    push(s, s.call(fn, thisValue, args, home));
}

void newObject(State& s, Frame& f, bool method) {
    Value ctor;
    if (method) {
        const Value nameValue = pop(s, f);
        const Value object = pop(s, f);
        const bool self = nameValue.isUndefined() || (nameValue.isString() && nameValue.stringValue().empty());
        ctor = self ? object : s.getMember(object, nameValue);
    } else {
        ctor = s.getVariable(f, s.toString(pop(s, f)));
    }
    const std::vector<Value> args = popArgs(s, f, popCount(s, f));
    push(s, s.construct(ctor, args));
}

void initArray(State& s, Frame& f) {
    std::vector<Value> elements = popArgs(s, f, popCount(s, f));
    push(s, Value::object(s.newArray(std::move(elements))));
}

void initObject(State& s, Frame& f) {
    const double n = s.toNumber(pop(s, f));
    const size_t available = (s.stack.size() - std::min(s.stack.size(), f.stackBase)) / 2;
    const size_t count = !(n > 0) ? 0 : n >= static_cast<double>(available) ? available : static_cast<size_t>(n);
    s.charge(count);
    std::vector<std::pair<Value, Value>> pairs;  // popped last member first
    pairs.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        Value value = pop(s, f);
        Value name = pop(s, f);
        pairs.emplace_back(std::move(name), std::move(value));
    }
    Object* o = s.newObject(s.objectProto);
    const Value self = Value::object(o);
    // Members are made in the order the source wrote them.
    for (auto it = pairs.rbegin(); it != pairs.rend(); ++it) s.setMember(self, s.memberKey(it->first), it->second);
    push(s, self);
}

void enumerate(State& s, Frame& f, bool byValue) {
    const Value v = pop(s, f);
    const Value object = byValue ? v : s.getVariable(f, s.toString(v));
    const std::vector<std::string> keys = s.enumerate(object);
    push(s, Value::null());  // the loop's end marker
    for (const std::string& key : keys) push(s, s.str(key));
}

void extendsOp(State& s, Frame& f) {
    const Value superclass = pop(s, f);
    const Value subclass = pop(s, f);
    if (!superclass.objectValue() || !subclass.objectValue()) return;
    Object* parentProto = s.getMember(superclass, "prototype").objectValue();
    Object* proto = s.newObject(parentProto);
    proto->setOwn("__constructor__", superclass, kDontEnum);
    s.setMember(subclass, "prototype", Value::object(proto));
}

void getProperty(State& s, Frame& f) {
    const double index = s.toNumber(pop(s, f));
    const Value target = pop(s, f);
    Clip* c = nullptr;
    if (target.isClip()) c = s.resolveClip(target);
    else {
        const std::string path = s.toString(target);
        c = s.resolveClip(path.empty() ? f.target : s.resolvePath(f, path));
    }
    if (!c || !(index >= 0 && index < kClipPropertyCount)) {
        push(s, Value());
        return;
    }
    push(s, s.getClipProperty(*c, static_cast<ClipProperty>(static_cast<int>(index))));
}

void setProperty(State& s, Frame& f) {
    const Value value = pop(s, f);
    const double index = s.toNumber(pop(s, f));
    const Value target = pop(s, f);
    Clip* c = nullptr;
    if (target.isClip()) c = s.resolveClip(target);
    else {
        const std::string path = s.toString(target);
        c = s.resolveClip(path.empty() ? f.target : s.resolvePath(f, path));
    }
    if (c && index >= 0 && index < kClipPropertyCount)
        s.setClipProperty(*c, static_cast<ClipProperty>(static_cast<int>(index)), value);
}

void cloneOrRemove(State& s, Frame& f, bool clone) {
    if (clone) {
        const double depth = s.toNumber(pop(s, f));
        const std::string name = s.toString(pop(s, f));
        const Value source = pop(s, f);
        Clip* c = s.resolveClip(source.isClip() ? source : s.resolvePath(f, s.toString(source)));
        if (c && std::isfinite(depth)) c->duplicate(name, static_cast<int>(std::clamp(depth - 16384, -1e9, 1e9)));
        return;
    }
    const Value target = pop(s, f);
    if (Clip* c = s.resolveClip(target.isClip() ? target : s.resolvePath(f, s.toString(target)))) c->remove();
}

void gotoFrame2(State& s, Frame& f, Reader& r) {
    const uint8_t flags = r.u8();
    const int bias = (flags & 2) ? r.u16() : 0;
    Clip* clip;
    int frame;
    if (frameOf(s, f, pop(s, f), bias, clip, frame)) clip->gotoFrame(frame, flags & 1);
}

void callFrame(State& s, Frame& f) {
    Clip* clip;
    int frame;
    if (frameOf(s, f, pop(s, f), 0, clip, frame)) clip->callFrame(frame);
}

void trace(State& s, Frame& f) {
    const Value v = pop(s, f);
    // trace shows undefined by name in every version.
    s.host.trace(v.isUndefined() ? "undefined" : s.toString(v));
}

void startDrag(State& s, Frame& f) {
    pop(s, f);  // target
    pop(s, f);  // lock centre
    if (s.toBoolean(pop(s, f)))
        for (int i = 0; i < 4; ++i) pop(s, f);  // constraint rectangle
}

// --- the loop --------------------------------------------------------------------------

Completion malformed(State& s, const char* what) {
    if (s.entryStatus == RunStatus::Ok) {
        s.entryStatus = RunStatus::Malformed;
        s.entryMessage = std::string("malformed actions: ") + what;
    }
    return Completion{Completion::Malformed, {}, 0};
}

// What a nested region's completion means for the region around it: answers
// true to keep running at `pc`, false to hand `c` (possibly rewritten) upward.
bool resume(Completion& c, uint32_t after, uint32_t begin, uint32_t end, uint32_t& pc) {
    switch (c.kind) {
    case Completion::Normal: pc = after; return true;
    case Completion::JumpOut:
        if (c.target >= begin && c.target < end) {
            pc = c.target;
            return true;
        }
        if (c.target == end) c = Completion{};
        return false;
    default: return false;
    }
}

Completion withBlock(State& s, Frame& f, Reader& r, uint32_t next, uint32_t& after) {
    const uint16_t size = r.u16();
    if (static_cast<uint64_t>(next) + size > f.codeEnd) throw Malformed{"with body runs past the block"};
    after = next + size;
    const Value object = pop(s, f);
    const bool scoped = object.isObject() || object.isClip();
    if (scoped) f.scope.push_back(object);
    struct Pop {
        Frame& f;
        size_t mark;
        ~Pop() { f.scope.resize(mark); }
    } restore{f, f.scope.size() - (scoped ? 1 : 0)};
    return execute(s, f, next, after);
}

Completion tryBlock(State& s, Frame& f, Reader& r, uint32_t next, uint32_t& after) {
    const uint8_t flags = r.u8();
    const uint16_t trySize = r.u16(), catchSize = r.u16(), finallySize = r.u16();
    const bool inRegister = flags & 4, hasFinally = flags & 2, hasCatch = flags & 1;
    std::string catchName;
    uint8_t catchRegister = 0;
    if (inRegister) catchRegister = r.u8();
    else catchName = std::string(r.cstr());
    const uint64_t end = static_cast<uint64_t>(next) + trySize + catchSize + finallySize;
    if (end > f.codeEnd) throw Malformed{"try blocks run past the block"};
    const uint32_t catchBegin = next + trySize, finallyBegin = catchBegin + catchSize;
    after = static_cast<uint32_t>(end);

    const size_t stackMark = s.stack.size(), scopeMark = f.scope.size();
    const Value savedTarget = f.target;
    auto unwind = [&] {
        if (s.stack.size() > stackMark) s.stack.resize(stackMark);
        f.scope.resize(scopeMark);
        f.target = savedTarget;
    };
    Completion c;
    std::optional<Value> pending;
    try {
        c = execute(s, f, next, catchBegin);
    } catch (ScriptThrow& t) {
        unwind();
        if (hasCatch) {
            if (inRegister) {
                if (catchRegister < f.registers.size()) f.registers[catchRegister] = t.value;
            } else {
                s.defineLocal(f, catchName, t.value);
            }
            try {
                c = execute(s, f, catchBegin, finallyBegin);
            } catch (ScriptThrow& again) {
                unwind();
                pending = again.value;
            }
        } else {
            pending = t.value;
        }
    }
    if (hasFinally) {
        Completion fin = execute(s, f, finallyBegin, after);
        if (fin.kind != Completion::Normal) {
            c = fin;  // leaving a finally block overrides what was pending
            pending.reset();
        }
    }
    if (pending) throw ScriptThrow{*pending};
    return c;
}

}  // namespace

Completion execute(State& s, Frame& f, uint32_t begin, uint32_t end) {
    const uint8_t* code = f.code->data();
    uint32_t pc = begin;
    while (pc < end) {
        s.charge(1);
        const uint8_t op = code[pc];
        if (op == 0) return Completion{Completion::JumpOut, {}, f.codeEnd};  // end of the actions
        uint32_t payload = pc + 1;
        uint32_t next = payload;
        if (op >= 0x80) {
            if (f.codeEnd - pc < 3) return malformed(s, "action header runs past the block");
            const uint32_t len = code[pc + 1] | (code[pc + 2] << 8);
            payload = pc + 3;
            if (f.codeEnd - payload < len) return malformed(s, "action runs past the block");
            next = payload + len;
        }
        Reader r(code, payload, next);
        try {
            switch (op) {
            // --- timeline ---
            case 0x04: if (Clip* c = targetClip(s, f)) c->nextFrame(); break;
            case 0x05: if (Clip* c = targetClip(s, f)) c->prevFrame(); break;
            case 0x06: if (Clip* c = targetClip(s, f)) c->play(); break;
            case 0x07: if (Clip* c = targetClip(s, f)) c->stop(); break;
            case 0x08: case 0x09: case 0x28: break;  // ToggleQuality, StopSounds, EndDrag
            case 0x81: {
                const uint16_t frame = r.u16();
                if (Clip* c = targetClip(s, f)) c->gotoFrame(frame, false);
                break;
            }
            case 0x8C: {
                const std::string_view label = r.cstr();
                if (Clip* c = targetClip(s, f))
                    if (auto frame = c->frameOfLabel(label)) c->gotoFrame(*frame, false);
                break;
            }
            case 0x9F: gotoFrame2(s, f, r); break;
            case 0x8A: r.u16(); r.u8(); break;  // WaitForFrame: every frame counts as loaded
            case 0x8D: r.u8(); pop(s, f); break;  // WaitForFrame2
            case 0x9E: callFrame(s, f); break;
            case 0x8B: setTarget(s, f, s.str(std::string(r.cstr()))); break;
            case 0x20: setTarget(s, f, pop(s, f)); break;
            case 0x83: {
                const std::string url(r.cstr());
                const std::string window(r.cstr());
                getUrl(s, f, url, s.str(window), 0);
                break;
            }
            case 0x9A: {
                const uint8_t flags = r.u8();
                const Value target = pop(s, f);
                const std::string url = s.toString(pop(s, f));
                getUrl(s, f, url, target, flags);
                break;
            }
            case 0x22: getProperty(s, f); break;
            case 0x23: setProperty(s, f); break;
            case 0x24: cloneOrRemove(s, f, true); break;
            case 0x25: cloneOrRemove(s, f, false); break;
            case 0x27: startDrag(s, f); break;
            case 0x26: trace(s, f); break;
            case 0x34: push(s, Value::number(std::floor(s.host.timerMs()))); break;
            case 0x30: {
                const double max = s.toNumber(pop(s, f));
                push(s, Value::number(max >= 1 && max < 4294967296.0 ? s.nextRandom(static_cast<uint32_t>(max)) : 0));
                break;
            }

            // --- stack and arithmetic ---
            case 0x96: pushValues(s, f, r); break;
            case 0x17: pop(s, f); break;
            case 0x4C: {
                const Value top = s.stack.size() > f.stackBase ? s.stack.back() : Value();
                push(s, top);
                break;
            }
            case 0x4D: {
                const Value a = pop(s, f);
                const Value b = pop(s, f);
                push(s, a);
                push(s, b);
                break;
            }
            case 0x87: {
                const uint8_t reg = r.u8();
                if (reg < f.registers.size()) f.registers[reg] = s.stack.size() > f.stackBase ? s.stack.back() : Value();
                break;
            }
            case 0x88: constantPool(s, f, r); break;
            case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x0E: case 0x0F: case 0x3F:
                binaryNumeric(s, f, op);
                break;
            case 0x10: case 0x11: case 0x47: case 0x48: case 0x49: case 0x66: case 0x67:
                compareOp(s, f, op);
                break;
            case 0x12: push(s, boolResult(f, !s.toBoolean(pop(s, f)))); break;
            case 0x13: case 0x14: case 0x15: case 0x21: case 0x29: case 0x31: case 0x32: case 0x33:
            case 0x35: case 0x36: case 0x37: case 0x68:
                stringOp(s, f, op);
                break;
            case 0x18: {
                const double n = s.toNumber(pop(s, f));
                push(s, Value::number(std::isnan(n) ? 0 : std::trunc(n)));
                break;
            }
            case 0x4A: push(s, Value::number(s.toNumber(pop(s, f)))); break;
            case 0x4B: push(s, s.str(s.toString(pop(s, f)))); break;
            case 0x50: push(s, Value::number(s.toNumber(pop(s, f)) + 1)); break;
            case 0x51: push(s, Value::number(s.toNumber(pop(s, f)) - 1)); break;
            case 0x44: push(s, s.str(s.typeOf(pop(s, f)))); break;
            case 0x60: case 0x61: case 0x62: case 0x63: case 0x64: case 0x65: bitwise(s, f, op); break;

            // --- branches ---
            case 0x99:
            case 0x9D: {
                const int16_t offset = r.s16();
                if (op == 0x9D && !s.toBoolean(pop(s, f))) break;
                const int64_t target = static_cast<int64_t>(next) + offset;
                if (target >= begin && target < end) {
                    pc = static_cast<uint32_t>(target);
                    continue;
                }
                // Out of this region: the region around it decides; out of the
                // code altogether ends it.
                const uint32_t t = target < 0 || target > f.codeEnd ? f.codeEnd : static_cast<uint32_t>(target);
                if (t == end) return Completion{};
                return Completion{Completion::JumpOut, {}, t};
            }

            // --- variables ---
            case 0x1C: push(s, s.getVariable(f, s.toString(pop(s, f)))); break;
            case 0x1D: {
                const Value value = pop(s, f);
                s.setVariable(f, s.toString(pop(s, f)), value);
                break;
            }
            case 0x3C: {
                const Value value = pop(s, f);
                s.defineLocal(f, s.toString(pop(s, f)), value);
                break;
            }
            case 0x41: {
                const std::string name = s.toString(pop(s, f));
                const bool cs = f.caseSensitive();
                if (f.activation) {
                    if (!f.activation->findOwn(name, cs)) s.defineLocal(f, name, Value());
                } else if (Clip* c = targetClip(s, f)) {
                    Object* vars = c->variables();
                    if (vars && !vars->findOwn(name, cs)) s.defineLocal(f, name, Value());
                }
                break;
            }
            case 0x3A: {
                const std::string name = s.toString(pop(s, f));
                const Value object = pop(s, f);
                push(s, Value::boolean(s.deleteMember(object, name)));
                break;
            }
            case 0x3B: push(s, Value::boolean(s.deleteVariable(f, s.toString(pop(s, f))))); break;
            case 0x45: {
                const Value v = pop(s, f);
                Clip* c = s.resolveClip(v);
                push(s, c ? s.str(s.targetPath(*c)) : Value());
                break;
            }

            // --- objects and calls ---
            case 0x4E: {
                const Value key = pop(s, f);
                const Value object = pop(s, f);
                push(s, s.getMember(object, key));
                break;
            }
            case 0x4F: {
                const Value value = pop(s, f);
                const Value key = pop(s, f);
                const Value object = pop(s, f);
                s.setMember(object, key, value);
                break;
            }
            case 0x3D: callFunction(s, f); break;
            case 0x52: callMethod(s, f); break;
            case 0x40: newObject(s, f, false); break;
            case 0x53: newObject(s, f, true); break;
            case 0x42: initArray(s, f); break;
            case 0x43: initObject(s, f); break;
            case 0x46: enumerate(s, f, false); break;
            case 0x55: enumerate(s, f, true); break;
            case 0x54: {
                const Value ctor = pop(s, f);
                const Value object = pop(s, f);
                push(s, Value::boolean(s.instanceOf(object, ctor)));
                break;
            }
            case 0x2B: {
                const Value object = pop(s, f);
                const Value ctor = pop(s, f);
                push(s, s.instanceOf(object, ctor) ? object : Value::null());
                break;
            }
            case 0x2C: {
                pop(s, f);  // the class; interfaces are not checked
                popArgs(s, f, popCount(s, f));
                break;
            }
            case 0x69: extendsOp(s, f); break;
            case 0x9B:
            case 0x8E:
                pc = defineFunction(s, f, r, next, op == 0x8E);
                continue;
            case 0x3E: return Completion{Completion::Return, pop(s, f), 0};
            case 0x2A: throw ScriptThrow{pop(s, f)};
            case 0x94:
            case 0x8F: {
                if (s.regionDepth >= s.limits.regionDepth)
                    throw ScriptAbort{RunStatus::TooDeep, "with/try blocks nested too deeply"};
                ++s.regionDepth;
                struct Leave {
                    uint32_t& depth;
                    ~Leave() { --depth; }
                } leave{s.regionDepth};
                uint32_t after = next;
                Completion c = op == 0x94 ? withBlock(s, f, r, next, after) : tryBlock(s, f, r, next, after);
                if (!resume(c, after, begin, end, pc)) return c;
                continue;
            }
            case 0x89: break;  // StrictMode
            default: break;    // unknown: skipped by its length
            }
        } catch (const Malformed& m) {
            return malformed(s, m.what);
        }
        pc = next;
    }
    return Completion{};
}

}  // namespace refplayer::avm1
