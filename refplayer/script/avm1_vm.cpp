// The interpreter's state: conversions, member access, calls, entries and the
// collector. Clips and target paths are in avm1_paths.cpp, the public face in
// avm1_api.cpp, the dispatch loop in avm1_interp.cpp, the natives in a file
// per family (avm1_natives.cpp installs them).
#include "avm1_vm.h"

#include <cmath>
#include <limits>
#include <new>
#include <unordered_set>

#include "avm1_internal.h"
#include "avm1_standard.h"
#include "eixml.h"
#include "int_conv.h"

namespace refplayer::avm1 {

namespace {
constexpr int kMaxProtoChain = 256;   // __proto__ can be pointed anywhere, even in a circle
}  // namespace

// --- clip properties by name ------------------------------------------------------

namespace {
constexpr std::string_view kPropertyNames[kClipPropertyCount] = {
    "_x", "_y", "_xscale", "_yscale", "_currentframe", "_totalframes", "_alpha", "_visible",
    "_width", "_height", "_rotation", "_target", "_framesloaded", "_name", "_droptarget", "_url",
    "_highquality", "_focusrect", "_soundbuftime", "_quality", "_xmouse", "_ymouse"};
}

std::optional<ClipProperty> clipPropertyByName(std::string_view name) {
    if (name.empty() || name[0] != '_') return std::nullopt;
    for (int i = 0; i < kClipPropertyCount; ++i)
        if (equalsIgnoreCase(name, kPropertyNames[i])) return static_cast<ClipProperty>(i);
    return std::nullopt;
}

std::string_view clipPropertyName(ClipProperty property) {
    const int i = static_cast<int>(property);
    return i >= 0 && i < kClipPropertyCount ? kPropertyNames[i] : std::string_view();
}

const Value& NativeCall::arg(size_t i) const {
    static const Value undefinedValue = Value();
    return i < args.size() ? args[i] : undefinedValue;
}

// --- state ------------------------------------------------------------------------

Vm::State::State(Vm& v, Host& h, Limits l) : vm(v), host(h), limits(l), heap(std::make_shared<Heap>()) {
    objectProto = heap->allocate(Object::Kind::Plain);
    functionProto = heap->allocate(Object::Kind::Plain);
    functionProto->setProto(objectProto);
    global = newObject(objectProto);
    installBuiltins(*this);
}

Value Vm::State::str(std::string text) {
    checkStringSize(text.size());
    chargeBytes(text.size());
    return Value::string(Str(std::move(text)));
}

uint32_t Vm::State::nextRandom(uint32_t bound) {
    // xorshift64*: deterministic for a given seed, good enough for games' dice.
    rng ^= rng >> 12;
    rng ^= rng << 25;
    rng ^= rng >> 27;
    const uint64_t r = rng * 0x2545F4914F6CDD1Dull;
    return static_cast<uint32_t>((r >> 32) % bound);
}

double Vm::State::randomUnit() {
    return static_cast<double>(nextRandom(0x40000000u)) / static_cast<double>(0x40000000u);
}

Object* Vm::State::newObject(Object* proto) {
    chargeBytes(sizeof(Object));
    Object* o = heap->allocate(Object::Kind::Plain);
    o->setProto(proto);
    return o;
}

Object* Vm::State::newArray(std::vector<Value> elements) {
    chargeBytes(sizeof(Object) + elements.size() * sizeof(Value));
    Object* o = heap->allocate(Object::Kind::Array);
    o->setProto(arrayProto);
    o->setLength(static_cast<uint32_t>(elements.size()));
    o->elements() = std::move(elements);
    return o;
}

Object* Vm::State::newNative(NativeFn fn, std::string_view name) {
    Object* o = heap->allocate(Object::Kind::Function);
    o->setProto(functionProto);
    Heap::setNative(o, std::make_unique<NativeFunction>(NativeFunction{std::move(fn), std::string(name)}));
    return o;
}

Object* Vm::State::newScriptFunction(std::unique_ptr<ScriptFunction> fn) {
    chargeBytes(2 * sizeof(Object) + sizeof(ScriptFunction) + fn->scope.size() * sizeof(Value));
    Object* o = heap->allocate(Object::Kind::Function);
    o->setProto(functionProto);
    Heap::setScript(o, std::move(fn));
    Object* proto = newObject(objectProto);
    proto->setOwn("constructor", Value::object(o), kDontEnum);
    o->setOwn("prototype", Value::object(proto), kDontEnum);
    return o;
}

Object* Vm::State::newSuper(const Value& thisValue, Object* home) {
    Object* o = newObject(nullptr);
    Heap::setKind(o, Object::Kind::Super);
    Heap::setPrimitive(o, thisValue);
    Heap::setSuperProto(o, home);
    return o;
}

Object* Vm::State::newBoxed(const Value& primitive) {
    Object* proto = primitive.isString() ? stringProto : primitive.isNumber() ? numberProto : booleanProto;
    Object* o = newObject(proto);
    Heap::setKind(o, Object::Kind::Boxed);
    Heap::setPrimitive(o, primitive);
    return o;
}

int Vm::State::version() const {
    if (const Frame* f = frame()) return f->version;
    if (Clip* root = host.level(0)) return root->swfVersion();
    return 8;
}

// --- conversions -------------------------------------------------------------------

std::string Vm::State::toString(const Value& v) {
    switch (v.type()) {
    case Value::Type::Undefined: return version() >= 7 ? "undefined" : "";
    case Value::Type::Null: return "null";
    case Value::Type::Boolean: return v.boolValue() ? "true" : "false";
    case Value::Type::Number: return formatNumber(v.numberValue());
    case Value::Type::String:
    case Value::Type::Clip:
        charge(v.stringValue().size() >> 10);  // a copy: long texts cost in proportion
        return v.stringValue().str();
    case Value::Type::Object: {
        Value p = toPrimitive(v, true);
        if (p.isObject()) return p.objectValue()->isFunction() ? "[type Function]" : "[object Object]";
        return toString(p);
    }
    }
    return {};
}

double Vm::State::toNumber(const Value& v) {
    switch (v.type()) {
    case Value::Type::Undefined:
    case Value::Type::Null: return version() >= 7 ? std::numeric_limits<double>::quiet_NaN() : 0.0;
    case Value::Type::Boolean: return v.boolValue() ? 1 : 0;
    case Value::Type::Number: return v.numberValue();
    case Value::Type::String:
        charge(v.stringValue().size() >> 10);
        return parseNumber(v.stringValue().view(), version());
    case Value::Type::Clip: return std::numeric_limits<double>::quiet_NaN();
    case Value::Type::Object: {
        Value p = toPrimitive(v, false);
        return p.isObject() ? std::numeric_limits<double>::quiet_NaN() : toNumber(p);
    }
    }
    return 0;
}

bool Vm::State::toBoolean(const Value& v) {
    switch (v.type()) {
    case Value::Type::Undefined:
    case Value::Type::Null: return false;
    case Value::Type::Boolean: return v.boolValue();
    case Value::Type::Number: return v.numberValue() != 0 && !std::isnan(v.numberValue());
    case Value::Type::String:
        if (version() >= 7) return !v.stringValue().empty();
        {
            const double n = parseNumber(v.stringValue().view(), version());
            return n != 0 && !std::isnan(n);
        }
    case Value::Type::Clip:
    case Value::Type::Object: return true;
    }
    return false;
}

int32_t Vm::State::toInt32(const Value& v) { return num::toInt32(toNumber(v)); }

Value Vm::State::toPrimitive(const Value& v, bool preferString) {
    if (v.isClip()) return Value::string(v.stringValue());
    Object* o = v.objectValue();
    if (!o) return v;
    if (o->kind() == Object::Kind::Boxed) return o->primitive();
    const std::string_view order[2] = {preferString ? "toString" : "valueOf", preferString ? "valueOf" : "toString"};
    for (std::string_view name : order) {
        Value fn = getMember(v, name);
        if (fn.objectValue() && fn.objectValue()->isFunction()) {
            Value r = call(fn, v, {});
            if (r.isPrimitive()) return r;
        }
    }
    return v;
}

std::string Vm::State::typeOf(const Value& v) {
    switch (v.type()) {
    case Value::Type::Undefined: return "undefined";
    case Value::Type::Null: return "null";
    case Value::Type::Boolean: return "boolean";
    case Value::Type::Number: return "number";
    case Value::Type::String: return "string";
    case Value::Type::Clip: return "movieclip";
    case Value::Type::Object: return v.objectValue()->isFunction() ? "function" : "object";
    }
    return "undefined";
}

bool Vm::State::strictEquals(const Value& a, const Value& b) {
    if (a.type() != b.type()) return false;
    switch (a.type()) {
    case Value::Type::Undefined:
    case Value::Type::Null: return true;
    case Value::Type::Boolean: return a.boolValue() == b.boolValue();
    case Value::Type::Number: return a.numberValue() == b.numberValue();
    case Value::Type::String:
    case Value::Type::Clip: return a.stringValue() == b.stringValue();
    case Value::Type::Object: return a.objectValue() == b.objectValue();
    }
    return false;
}

bool Vm::State::looseEquals(const Value& a, const Value& b) {
    if (a.isString() && b.isString()) charge(std::min(a.stringValue().size(), b.stringValue().size()) >> 10);
    if (a.type() == b.type()) return strictEquals(a, b);
    if (a.isNullish() || b.isNullish()) return a.isNullish() && b.isNullish();
    if (a.isBoolean()) return looseEquals(Value::number(a.boolValue() ? 1 : 0), b);
    if (b.isBoolean()) return looseEquals(a, Value::number(b.boolValue() ? 1 : 0));
    if ((a.isNumber() && b.isString()) || (a.isString() && b.isNumber())) return toNumber(a) == toNumber(b);
    if (a.isObject() && (b.isNumber() || b.isString())) {
        Value p = toPrimitive(a, false);
        return !p.isObject() && looseEquals(p, b);
    }
    if (b.isObject() && (a.isNumber() || a.isString())) {
        Value p = toPrimitive(b, false);
        return !p.isObject() && looseEquals(a, p);
    }
    return false;
}

Value Vm::State::lessThan(const Value& a, const Value& b) {
    const Value pa = toPrimitive(a, false), pb = toPrimitive(b, false);
    if (pa.isString() && pb.isString()) {
        charge(std::min(pa.stringValue().size(), pb.stringValue().size()) >> 10);
        return Value::boolean(pa.stringValue().view() < pb.stringValue().view());
    }
    const double x = toNumber(pa), y = toNumber(pb);
    if (std::isnan(x) || std::isnan(y)) return Value::undefined();
    return Value::boolean(x < y);
}

Value Vm::State::add(const Value& a, const Value& b) {
    const Value pa = toPrimitive(a, false), pb = toPrimitive(b, false);
    if (pa.isString() || pb.isString()) {
        std::string x = toString(pa);
        const std::string y = toString(pb);
        checkStringSize(x.size() + y.size());
        x += y;
        return str(std::move(x));
    }
    return Value::number(toNumber(pa) + toNumber(pb));
}

// --- members ---------------------------------------------------------------------------

std::string Vm::State::memberKey(const Value& key) {
    if (key.isString()) return key.stringValue().str();
    return toString(key);
}

Property* Vm::State::findProperty(Object* o, std::string_view key, Object** where) {
    const bool cs = caseSensitive();
    for (int depth = 0; o && depth < kMaxProtoChain; ++depth, o = o->proto()) {
        if (Property* p = o->findOwn(key, cs)) {
            if (where) *where = o;
            return p;
        }
    }
    return nullptr;
}

Value Vm::State::readProperty(const Value& thisValue, Property* p) {
    if (!p) return {};
    if (p->isAccessor()) {
        Object* getter = p->getter;  // the call may change the property table
        return call(Value::object(getter), thisValue, {});
    }
    return p->value;
}

Object* Vm::State::protoOf(const Value& v) {
    switch (v.type()) {
    case Value::Type::String: return stringProto;
    case Value::Type::Number: return numberProto;
    case Value::Type::Boolean: return booleanProto;
    case Value::Type::Object: return v.objectValue()->proto();
    case Value::Type::Clip:
        if (Clip* c = resolveClip(v))
            if (Object* vars = c->variables()) return vars->proto();
        return nullptr;
    default: return nullptr;
    }
}

namespace {
size_t charCount(std::string_view text, bool utf8) {
    if (utf8)
        for (char c : text)
            if (static_cast<uint8_t>(c) >= 0x80) return decodeUtf8(text).size();
    return text.size();
}
}  // namespace

Value Vm::State::getMember(const Value& target, const Value& key) {
    if (Object* o = target.objectValue(); o && o->isArray() && key.isNumber()) {
        const double n = key.numberValue();
        if (n >= 0 && n < static_cast<double>(o->elements().size()) && n == std::trunc(n))
            return o->elements()[static_cast<size_t>(n)];
    }
    return getMember(target, memberKey(key));
}

Value Vm::State::getMember(const Value& target, std::string_view key) {
    switch (target.type()) {
    case Value::Type::Undefined:
    case Value::Type::Null: return {};
    case Value::Type::Clip: {
        Clip* c = resolveClip(target);
        Value out;
        if (c) clipMember(*c, target, key, out);
        return out;
    }
    case Value::Type::String:
        if (key == "length") {
            charge(target.stringValue().size() >> 8);
            return Value::number(static_cast<double>(charCount(target.stringValue().view(), version() >= 6)));
        }
        [[fallthrough]];
    case Value::Type::Number:
    case Value::Type::Boolean: return readProperty(target, findProperty(protoOf(target), key));
    case Value::Type::Object: break;
    }
    Object* o = target.objectValue();
    if (key == "__proto__") return o->proto() ? Value::object(o->proto()) : Value();
    switch (o->kind()) {
    case Object::Kind::Array: {
        if (key == "length") return Value::number(o->length());
        uint32_t index;
        if (arrayIndex(key, index) && index < o->elements().size()) return o->elements()[index];
        break;
    }
    case Object::Kind::Super: {
        Object* home = o->superProto();
        return readProperty(o->superThis(), findProperty(home ? home->proto() : nullptr, key));
    }
    case Object::Kind::Boxed:
        if (key == "length" && o->primitive().isString())
            return Value::number(static_cast<double>(charCount(o->primitive().stringValue().view(), version() >= 6)));
        break;
    default: break;
    }
    return readProperty(target, findProperty(o, key));
}

// Assignment to an object's member with accessors and read-only members honoured.
void setObjectMember(Vm::State& s, Object* o, const Value& thisValue, std::string_view key, const Value& value) {
    const bool cs = s.caseSensitive();
    if (Property* own = o->findOwn(key, cs)) {
        if (own->isAccessor()) {
            if (Object* setter = own->setter) {
                const Value args[1] = {value};
                s.call(Value::object(setter), thisValue, args);
            }
            return;
        }
        if (!(own->flags & kReadOnly)) own->value = value;
        return;
    }
    Object* owner = nullptr;
    if (Property* inherited = s.findProperty(o->proto(), key, &owner); inherited && inherited->isAccessor()) {
        if (Object* setter = inherited->setter) {
            const Value args[1] = {value};
            s.call(Value::object(setter), thisValue, args);
        }
        return;
    }
    s.chargeBytes(key.size() + sizeof(Property) + 16);
    o->setOwn(key, value, 0, cs);
}

namespace {
void setArrayElement(Vm::State& s, Object* o, uint32_t index, const Value& value) {
    auto& elements = o->elements();
    if (index < elements.size()) {
        elements[index] = value;
    } else if (index < s.limits.denseArray) {
        s.chargeBytes((static_cast<uint64_t>(index) + 1 - elements.size()) * sizeof(Value));
        elements.resize(static_cast<size_t>(index) + 1);
        elements[index] = value;
    } else {
        // Far beyond the dense part: a named member, so a hostile index costs nothing.
        s.chargeBytes(32 + sizeof(Property));
        o->setOwn(std::to_string(index), value);
    }
    if (index >= o->length()) o->setLength(index + 1);
}

void setArrayLength(Vm::State& s, Object* o, double n) {
    if (!(n >= 0 && n < 4294967295.0) || n != std::trunc(n)) return;
    const auto length = static_cast<uint32_t>(n);
    if (length < o->elements().size()) o->elements().resize(length);
    if (o->ownCount() > 0 && length < o->length()) {
        for (const std::string& key : o->ownKeys()) {
            uint32_t index;
            if (arrayIndex(key, index) && index >= length) o->removeOwn(key);
        }
    }
    (void)s;
    o->setLength(length);
}
}  // namespace

void Vm::State::setMember(const Value& target, const Value& key, const Value& value) {
    if (Object* o = target.objectValue(); o && o->isArray() && key.isNumber()) {
        const double n = key.numberValue();
        if (n >= 0 && n < 4294967295.0 && n == std::trunc(n)) {
            setArrayElement(*this, o, static_cast<uint32_t>(n), value);
            return;
        }
    }
    setMember(target, memberKey(key), value);
}

void Vm::State::setMember(const Value& target, std::string_view key, const Value& value) {
    if (target.isClip()) {
        if (Clip* c = resolveClip(target)) setClipMember(*c, target, key, value);
        return;
    }
    Object* o = target.objectValue();
    if (!o) return;  // primitives keep no members
    if (key == "__proto__") {
        Object* proto = value.objectValue();
        for (Object* p = proto; p; p = p->proto())
            if (p == o) return;  // no circles
        if (proto || value.isNull()) o->setProto(proto);
        return;
    }
    if (o->isArray()) {
        if (key == "length") {
            setArrayLength(*this, o, toNumber(value));
            return;
        }
        uint32_t index;
        if (arrayIndex(key, index)) {
            setArrayElement(*this, o, index, value);
            return;
        }
    }
    if (o->kind() == Object::Kind::Super) {
        setMember(o->superThis(), key, value);
        return;
    }
    setObjectMember(*this, o, target, key, value);
}

bool Vm::State::deleteMember(const Value& target, std::string_view key) {
    Object* o = target.objectValue();
    if (target.isClip()) {
        Clip* c = resolveClip(target);
        o = c ? c->variables() : nullptr;
    }
    if (!o) return false;
    if (o->isArray()) {
        uint32_t index;
        if (arrayIndex(key, index) && index < o->elements().size()) {
            o->elements()[index] = Value();
            return true;
        }
    }
    const Property* p = o->findOwn(key, caseSensitive());
    if (!p || (p->flags & kDontDelete)) return false;
    return o->removeOwn(key, caseSensitive());
}

std::vector<std::string> Vm::State::enumerate(const Value& target) {
    Object* o = target.objectValue();
    if (target.isClip()) {
        Clip* c = resolveClip(target);
        o = c ? c->variables() : nullptr;
    }
    std::vector<std::string> keys;
    if (!o) return keys;
    std::unordered_set<std::string> seen;
    if (o->isArray()) {
        const auto& elements = o->elements();
        for (size_t i = 0; i < elements.size(); ++i) {
            charge(1);
            if (!elements[i].isUndefined()) {
                keys.push_back(std::to_string(i));
                seen.insert(keys.back());
            }
        }
    }
    int depth = 0;
    for (Object* p = o; p && depth < kMaxProtoChain; p = p->proto(), ++depth) {
        p->forEachOwn([&](std::string_view key, const Property& prop) {
            charge(1);
            std::string k(key);
            if (seen.insert(k).second && !(prop.flags & kDontEnum)) keys.push_back(std::move(k));
        });
    }
    chargeBytes(keys.size() * 32);
    return keys;
}

bool Vm::State::instanceOf(const Value& v, const Value& ctor) {
    if (!ctor.objectValue()) return false;
    Object* target = getMember(ctor, "prototype").objectValue();
    if (!target) return false;
    Object* p = protoOf(v);
    if (v.isPrimitive()) return false;
    for (int depth = 0; p && depth < kMaxProtoChain; p = p->proto(), ++depth)
        if (p == target) return true;
    return false;
}

// --- calls -----------------------------------------------------------------------------

Value Vm::State::call(const Value& fn, const Value& thisValue, std::span<const Value> args, Object* home) {
    Object* o = fn.objectValue();
    if (!o) return {};
    if (o->kind() == Object::Kind::Super) {
        // super(...) runs the parent class's constructor on this object.
        Object* h = o->superProto();
        Value ctor = h ? getMember(Value::object(h), "__constructor__") : Value();
        if (Object* c = ctor.objectValue(); c && c->isFunction()) {
            Object* parentProto = h->proto();
            return c->script() ? callScript(c, o->superThis(), args, parentProto)
                               : call(ctor, o->superThis(), args);
        }
        return {};
    }
    if (!o->isFunction()) return {};
    if (NativeFunction* nf = o->native()) {
        if (callDepth >= limits.callDepth)
            throw ScriptAbort{RunStatus::TooDeep, "functions nested too deeply"};
        ++callDepth;
        struct Down {
            uint32_t& d;
            ~Down() { --d; }
        } down{callDepth};
        NativeCall nc{vm, thisValue, args, false};
        return nf->fn(nc);
    }
    return callScript(o, thisValue, args, home);
}

Value Vm::State::construct(const Value& ctor, std::span<const Value> args) {
    Object* c = ctor.objectValue();
    if (!c || !c->isFunction()) return {};
    Object* proto = getMember(ctor, "prototype").objectValue();
    Object* fresh = newObject(proto ? proto : objectProto);
    const Value freshValue = Value::object(fresh);
    fresh->setOwn("__constructor__", ctor, kDontEnum);
    if (NativeFunction* nf = c->native()) {
        if (callDepth >= limits.callDepth)
            throw ScriptAbort{RunStatus::TooDeep, "functions nested too deeply"};
        ++callDepth;
        struct Down {
            uint32_t& d;
            ~Down() { --d; }
        } down{callDepth};
        NativeCall nc{vm, freshValue, args, true};
        Value r = nf->fn(nc);
        return r.isObject() ? r : freshValue;
    }
    Value r = callScript(c, freshValue, args, proto);
    return r.isObject() ? r : freshValue;
}

Value Vm::State::callScript(Object* fnObject, const Value& thisValue, std::span<const Value> args, Object* home) {
    const ScriptFunction& sf = *fnObject->script();
    if (callDepth >= limits.callDepth) throw ScriptAbort{RunStatus::TooDeep, "functions nested too deeply"};
    ++callDepth;
    struct Down {
        uint32_t& d;
        ~Down() { --d; }
    } down{callDepth};
    charge(1 + args.size());

    Frame f;
    f.code = sf.code;
    f.codeEnd = sf.end;
    f.pool = sf.pool;
    f.version = sf.swfVersion;
    f.target = f.originalTarget = sf.target;
    f.thisValue = thisValue;
    f.callee = fnObject;
    f.home = home;
    f.scope = sf.scope;
    f.stackBase = stack.size();
    chargeBytes(sizeof(Frame) + (f.scope.size() + args.size() + sf.registerCount) * sizeof(Value));

    Object* activation = newObject(nullptr);
    f.activation = activation;
    f.scope.push_back(Value::object(activation));
    f.registers.resize(sf.v2 ? std::max<size_t>(sf.registerCount, 1) : 4);
    const bool cs = f.caseSensitive();

    auto makeArguments = [&] {
        Object* a = newArray(std::vector<Value>(args.begin(), args.end()));
        a->setOwn("callee", Value::object(fnObject), kDontEnum);
        return Value::object(a);
    };

    FrameGuard guard(*this, f);
    if (!sf.v2) {
        activation->setOwn("arguments", makeArguments(), kDontEnum);
        for (size_t i = 0; i < sf.params.size(); ++i)
            activation->setOwn(sf.params[i].name, i < args.size() ? args[i] : Value(), 0, cs);
    } else {
        size_t reg = 1;
        auto preload = [&](const Value& v) {
            if (reg < f.registers.size()) f.registers[reg] = v;
            ++reg;
        };
        const uint16_t fl = sf.flags;
        if (fl & fn2flags::PreloadThis) preload(thisValue);
        if (fl & fn2flags::PreloadArguments) preload(makeArguments());
        else if (!(fl & fn2flags::SuppressArguments)) activation->setOwn("arguments", makeArguments(), kDontEnum);
        if (fl & fn2flags::PreloadSuper) preload(superFor(f));
        if (fl & fn2flags::PreloadRoot) {
            Value v;
            lookupName(f, "_root", v);
            preload(v);
        }
        if (fl & fn2flags::PreloadParent) {
            Value v;
            lookupName(f, "_parent", v);
            preload(v);
        }
        if (fl & fn2flags::PreloadGlobal) preload(Value::object(global));
        for (size_t i = 0; i < sf.params.size(); ++i) {
            const Value arg = i < args.size() ? args[i] : Value();
            const uint8_t r = sf.params[i].reg;
            if (r != 0 && r < f.registers.size()) f.registers[r] = arg;
            else activation->setOwn(sf.params[i].name, arg, 0, cs);
        }
    }
    const Completion c = execute(*this, f, sf.begin, sf.end);
    if (c.kind == Completion::Return) return c.value;
    return {};
}

// --- entries and the collector -------------------------------------------------------------

void Vm::State::maybeCollect() {
    if (entryDepth == 0 && heap->size() > 2 * liveAfterCollect + 20000) collect();
}

void Vm::State::collect() {
    if (entryDepth != 0) return;  // natives may hold raw pointers while script runs
    std::vector<Object*> roots = {global,       objectProto,  functionProto, arrayProto,       stringProto,
                                  numberProto, booleanProto, movieClipProto, externalInterface, dateProto,
                                  textFieldProto};
    std::vector<const Value*> values;
    for (const Value& v : stack) values.push_back(&v);
    for (const auto& [name, cb] : callbacks) {
        values.push_back(&cb.thisValue);
        values.push_back(&cb.function);
    }
    for (const auto& [id, timer] : timers) {
        values.push_back(&timer.function);
        values.push_back(&timer.object);
        for (const Value& a : timer.args) values.push_back(&a);
    }
    for (const auto& [name, ctor] : registeredClasses) values.push_back(&ctor);
    heap->collect(roots, values);
    liveAfterCollect = heap->size();
}

}  // namespace refplayer::avm1
