// The interpreter's state: conversions, member access, clips and target
// paths, calls, entries and the collector. The dispatch loop is in
// avm1_interp.cpp, the natives in avm1_natives.cpp and avm1_movieclip.cpp.
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
constexpr int kMaxClipNesting = 1000;

// Restores the frame list, the operand stack and the call depth whatever way
// a call ends (return, script throw, abort).
class FrameGuard {
public:
    FrameGuard(Vm::State& s, Frame& f) : s_(s), depth_(s.frames.size()), stack_(f.stackBase) {
        s.frames.push_back(&f);
    }
    ~FrameGuard() {
        s_.frames.resize(depth_);
        if (s_.stack.size() > stack_) s_.stack.resize(stack_);
    }
    FrameGuard(const FrameGuard&) = delete;
    FrameGuard& operator=(const FrameGuard&) = delete;

private:
    Vm::State& s_;
    size_t depth_;
    size_t stack_;
};

bool levelNumber(std::string_view name, bool caseSensitive, int& level) {
    if (name.size() <= 6 || name.size() > 12) return false;
    std::string_view head = name.substr(0, 6);
    if (caseSensitive ? head != "_level" : !equalsIgnoreCase(head, "_level")) return false;
    int n = 0;
    for (char c : name.substr(6)) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + (c - '0');
        if (n > 1'000'000) return false;
    }
    level = n;
    return true;
}

bool nameIs(std::string_view name, std::string_view word, bool caseSensitive) {
    return caseSensitive ? name == word : equalsIgnoreCase(name, word);
}
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
    installMovieClip(*this);
    installExternalInterface(*this);
    installBroadcaster(*this);
    installSystem(*this);
    installStage(*this);
    installInput(*this);
    installXml(*this);
    installLoadVars(*this);
    installColorSound(*this);
    installShared(*this);
    installLoader(*this);
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

namespace {
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

// --- clips and paths -------------------------------------------------------------------

std::string Vm::State::targetPath(Clip& c) {
    std::vector<std::string> names;
    Clip* p = &c;
    for (int depth = 0; p->parent() && depth < kMaxClipNesting; ++depth) {
        names.push_back(p->name());
        p = p->parent();
    }
    std::string path = "_level" + std::to_string(p->level());
    for (auto it = names.rbegin(); it != names.rend(); ++it) path += "." + *it;
    return path;
}

std::string Vm::State::slashPath(Clip& c) {
    std::vector<std::string> names;
    Clip* p = &c;
    for (int depth = 0; p->parent() && depth < kMaxClipNesting; ++depth) {
        names.push_back(p->name());
        p = p->parent();
    }
    std::string path = p->level() == 0 ? "" : "_level" + std::to_string(p->level());
    if (names.empty()) return path.empty() ? "/" : path;
    for (auto it = names.rbegin(); it != names.rend(); ++it) path += "/" + *it;
    return path;
}

Clip* Vm::State::rootOf(Clip* c) {
    for (int depth = 0; c && c->parent() && depth < kMaxClipNesting; ++depth) c = c->parent();
    return c;
}

Value Vm::State::clipValue(Clip& c) { return Value::clip(Str(targetPath(c))); }

Clip* Vm::State::resolveClipPath(std::string_view path) {
    size_t dot = path.find('.');
    int level;
    if (!levelNumber(path.substr(0, dot), true, level)) return nullptr;
    Clip* c = host.level(level);
    while (c && dot != std::string_view::npos) {
        path.remove_prefix(dot + 1);
        dot = path.find('.');
        c = c->childByName(path.substr(0, dot), true);
    }
    return c;
}

Clip* Vm::State::resolveClip(const Value& v) { return v.isClip() ? resolveClipPath(v.stringValue().view()) : nullptr; }

Value Vm::State::getClipProperty(Clip& c, ClipProperty p) {
    switch (p) {
    case ClipProperty::CurrentFrame: return Value::number(c.currentFrame() + 1);
    case ClipProperty::TotalFrames:
    case ClipProperty::FramesLoaded: return Value::number(c.totalFrames());
    case ClipProperty::Target: return str(slashPath(c));
    case ClipProperty::Name: return str(c.name());
    case ClipProperty::HighQuality: return Value::number(highQuality);
    case ClipProperty::FocusRect: return focusRect;
    case ClipProperty::SoundBufTime: return Value::number(soundBufTime);
    case ClipProperty::Quality: return str(quality);
    default: break;
    }
    const PropertyValue answer = c.getProperty(p);
    if (const double* n = std::get_if<double>(&answer)) return Value::number(*n);
    if (const bool* b = std::get_if<bool>(&answer)) return version() >= 5 ? Value::boolean(*b) : Value::number(*b ? 1 : 0);
    if (const std::string* t = std::get_if<std::string>(&answer)) return str(*t);
    return {};
}

void Vm::State::setClipProperty(Clip& c, ClipProperty p, const Value& v) {
    switch (p) {
    case ClipProperty::X: case ClipProperty::Y: case ClipProperty::XScale: case ClipProperty::YScale:
    case ClipProperty::Alpha: case ClipProperty::Width: case ClipProperty::Height: case ClipProperty::Rotation: {
        const double n = toNumber(v);
        if (std::isfinite(n)) c.setProperty(p, n);
        return;
    }
    case ClipProperty::Visible:
        c.setProperty(p, v.isNumber() || v.isBoolean() ? toNumber(v) != 0 : toBoolean(v));
        return;
    case ClipProperty::Name: c.setProperty(p, toString(v)); return;
    case ClipProperty::HighQuality: {
        const double n = toNumber(v);
        if (std::isfinite(n)) highQuality = n;
        return;
    }
    case ClipProperty::SoundBufTime: {
        const double n = toNumber(v);
        if (std::isfinite(n)) soundBufTime = n;
        return;
    }
    case ClipProperty::FocusRect: focusRect = v; return;
    case ClipProperty::Quality: quality = toString(v); return;
    default: return;  // read-only
    }
}

bool Vm::State::clipMember(Clip& c, const Value& self, std::string_view key, Value& out) {
    const bool cs = caseSensitive();
    if (!key.empty() && key[0] == '_') {
        if (auto p = clipPropertyByName(key)) {
            out = getClipProperty(c, *p);
            return true;
        }
        if (nameIs(key, "_parent", cs)) {
            Clip* parent = c.parent();
            out = parent ? clipValue(*parent) : Value();
            return true;
        }
        if (nameIs(key, "_root", cs)) {
            out = clipValue(*rootOf(&c));
            return true;
        }
    }
    if (Clip* child = c.childByName(key, cs)) {
        out = clipValue(*child);
        return true;
    }
    if (Object* vars = c.variables()) {
        if (Property* p = findProperty(vars, key)) {
            out = readProperty(self, p);
            return true;
        }
    }
    return false;
}

void Vm::State::setClipMember(Clip& c, const Value& self, std::string_view key, const Value& value) {
    if (!key.empty() && key[0] == '_') {
        if (auto p = clipPropertyByName(key)) {
            setClipProperty(c, *p, value);
            return;
        }
    }
    if (Object* vars = c.variables()) setObjectMember(*this, vars, self, key, value);
}

namespace {
// Splits a target path into names: '/' and '.' separate them and ".." names
// the parent in slash syntax. `absolute` is set for a leading '/'.
std::vector<std::string_view> splitPath(std::string_view path, bool& absolute) {
    std::vector<std::string_view> names;
    size_t i = 0;
    absolute = !path.empty() && path[0] == '/';
    if (absolute) i = 1;
    while (i < path.size()) {
        size_t j = i;
        if (path.compare(i, 2, "..") == 0 && (i + 2 == path.size() || path[i + 2] == '/')) {
            j = i + 2;
        } else {
            while (j < path.size() && path[j] != '/' && path[j] != '.') ++j;
        }
        if (j > i) names.push_back(path.substr(i, j - i));
        i = j < path.size() ? j + 1 : j;
    }
    return names;
}
}  // namespace

bool Vm::State::lookupName(Frame& f, std::string_view name, Value& out) {
    const bool cs = f.caseSensitive();
    if (!name.empty() && (name[0] == '_' || name[0] == 't' || name[0] == 'T' || name[0] == 's' || name[0] == 'S')) {
        if (nameIs(name, "this", cs)) {
            out = f.thisValue;
            return true;
        }
        if (nameIs(name, "_global", cs)) {
            out = Value::object(global);
            return true;
        }
        if (nameIs(name, "_root", cs)) {
            Clip* root = rootOf(resolveClip(f.target));
            if (!root) root = host.level(0);
            out = root ? clipValue(*root) : Value();
            return true;
        }
        if (nameIs(name, "_parent", cs)) {
            Clip* c = resolveClip(f.target);
            Clip* parent = c ? c->parent() : nullptr;
            out = parent ? clipValue(*parent) : Value();
            return true;
        }
        if (nameIs(name, "super", cs)) {
            out = superFor(f);
            return true;
        }
        int level;
        if (levelNumber(name, cs, level)) {
            Clip* c = host.level(level);
            out = c ? clipValue(*c) : Value();
            return true;
        }
    }
    for (size_t i = f.scope.size(); i-- > 0;) {
        const Value& entry = f.scope[i];
        if (Object* o = entry.objectValue()) {
            if (Property* p = findProperty(o, name)) {
                out = readProperty(entry, p);
                return true;
            }
        } else if (Clip* c = resolveClip(entry)) {
            if (clipMember(*c, entry, name, out)) return true;
        }
    }
    if (Clip* c = resolveClip(f.target))
        if (clipMember(*c, f.target, name, out)) return true;
    if (Property* p = findProperty(global, name)) {
        out = readProperty(Value::object(global), p);
        return true;
    }
    return false;
}

Value Vm::State::resolvePath(Frame& f, std::string_view path) {
    if (path.empty()) return f.target;
    bool absolute = false;
    const std::vector<std::string_view> names = splitPath(path, absolute);
    const bool slash = path.find('/') != std::string_view::npos;
    Value current;
    size_t i = 0;
    if (absolute) {
        Clip* root = rootOf(resolveClip(f.target));
        if (!root) root = host.level(0);
        if (!root) return {};
        current = clipValue(*root);
    } else if (!names.empty()) {
        if (names[0] == "..") {
            Clip* c = resolveClip(f.target);
            Clip* parent = c ? c->parent() : nullptr;
            if (!parent) return {};
            current = clipValue(*parent);
        } else if (slash && !nameIs(names[0], "this", f.caseSensitive()) && names[0][0] != '_') {
            // Slash syntax names children of the target.
            current = getMember(f.target, names[0]);
        } else if (!lookupName(f, names[0], current)) {
            return {};
        }
        i = 1;
    }
    for (; i < names.size(); ++i) {
        charge(1);
        if (current.isNullish()) return {};
        if (names[i] == "..") {
            Clip* c = resolveClip(current);
            Clip* parent = c ? c->parent() : nullptr;
            if (!parent) return {};
            current = clipValue(*parent);
        } else {
            current = getMember(current, names[i]);
        }
    }
    return current;
}

Value Vm::State::getVariable(Frame& f, std::string_view name) {
    if (const size_t colon = name.rfind(':'); colon != std::string_view::npos) {
        const Value owner = colon == 0 ? f.target : resolvePath(f, name.substr(0, colon));
        return getMember(owner, name.substr(colon + 1));
    }
    if (name.find_first_of("./") != std::string_view::npos && name != "." && name != "..")
        return resolvePath(f, name);
    Value out;
    lookupName(f, name, out);
    return out;
}

void Vm::State::setVariable(Frame& f, std::string_view name, const Value& value) {
    size_t split = name.rfind(':');
    if (split == std::string_view::npos) split = name.find_last_of("./");
    if (split != std::string_view::npos) {
        const Value owner = split == 0 ? (name[0] == '/' ? resolvePath(f, "/") : f.target)
                                       : resolvePath(f, name.substr(0, split));
        setMember(owner, name.substr(split + 1), value);
        return;
    }
    for (size_t i = f.scope.size(); i-- > 0;) {
        const Value entry = f.scope[i];
        if (Object* o = entry.objectValue()) {
            if (findProperty(o, name)) {
                setMember(entry, name, value);
                return;
            }
        } else if (Clip* c = resolveClip(entry)) {
            Object* vars = c->variables();
            if (vars && findProperty(vars, name)) {
                setClipMember(*c, entry, name, value);
                return;
            }
        }
    }
    if (Clip* c = resolveClip(f.target)) setClipMember(*c, f.target, name, value);
}

bool Vm::State::deleteVariable(Frame& f, std::string_view name) {
    const bool cs = f.caseSensitive();
    for (size_t i = f.scope.size(); i-- > 0;) {
        if (Object* o = f.scope[i].objectValue(); o && o->findOwn(name, cs)) return deleteMember(f.scope[i], name);
    }
    if (Clip* c = resolveClip(f.target)) {
        Object* vars = c->variables();
        if (vars && vars->findOwn(name, cs)) return deleteMember(f.target, name);
    }
    if (global->findOwn(name, cs)) return deleteMember(Value::object(global), name);
    return false;
}

void Vm::State::defineLocal(Frame& f, std::string_view name, const Value& value) {
    if (f.activation) {
        chargeBytes(name.size() + sizeof(Property));
        f.activation->setOwn(name, value, 0, f.caseSensitive());
        return;
    }
    if (name.find_first_of(":./") != std::string_view::npos) {
        setVariable(f, name, value);
        return;
    }
    if (Clip* c = resolveClip(f.target)) setClipMember(*c, f.target, name, value);
}

Value Vm::State::superFor(Frame& f) {
    if (!f.home) return {};
    return Value::object(newSuper(f.thisValue, f.home));
}

std::string Vm::State::encodeVariables(const Value& clip) {
    std::string out;
    Clip* c = resolveClip(clip);
    Object* vars = c ? c->variables() : clip.objectValue();
    if (!vars) return out;
    vars->forEachOwn([&](std::string_view key, const Property& p) {
        if ((p.flags & kDontEnum) || p.isAccessor() || !p.value.isPrimitive()) return;
        charge(1);
        if (!out.empty()) out += '&';
        out += urlEscape(key);
        out += '=';
        out += urlEscape(toString(p.value));
        checkStringSize(out.size());
    });
    return out;
}

LoadTarget Vm::State::loadTarget(Frame& f, const Value& target) {
    LoadTarget t;
    if (Clip* c = resolveClip(target)) {
        if (!c->parent()) t.level = c->level();
        else t.clip = c, t.path = targetPath(*c);
        return t;
    }
    const std::string text = toString(target);
    int level;
    if (levelNumber(text, f.caseSensitive(), level)) {
        t.level = level;
        return t;
    }
    const Value v = resolvePath(f, text);
    if (Clip* c = resolveClip(v)) {
        if (!c->parent()) {
            t.level = c->level();
        } else {
            t.clip = c;
            t.path = targetPath(*c);
        }
    }
    return t;
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
                                  numberProto, booleanProto, movieClipProto, externalInterface};
    std::vector<const Value*> values;
    for (const Value& v : stack) values.push_back(&v);
    for (const auto& [name, cb] : callbacks) {
        values.push_back(&cb.thisValue);
        values.push_back(&cb.function);
    }
    heap->collect(roots, values);
    liveAfterCollect = heap->size();
}

// --- the public face -----------------------------------------------------------------------

Vm::Vm(Host& host, Limits limits) : state_(std::make_unique<State>(*this, host, limits)) {}
Vm::~Vm() = default;

RunResult Vm::run(std::span<const uint8_t> actions, Clip& clip) {
    State& s = *state_;
    s.maybeCollect();
    RunResult r = s.entry([&] {
        // A host that runs frame actions from inside a command (the Call
        // action, a goto) nests runs: they count as calls.
        if (s.callDepth >= s.limits.callDepth) throw ScriptAbort{RunStatus::TooDeep, "scripts nested too deeply"};
        ++s.callDepth;
        s.chargeBytes(actions.size());
        auto code = std::make_shared<const Code>(actions.begin(), actions.end());
        Frame f;
        f.code = code;
        f.codeEnd = static_cast<uint32_t>(std::min<size_t>(code->size(), 0xFFFFFFFFu));
        f.pool = std::make_shared<const ConstantPool>();
        f.registers.resize(4);
        f.version = clip.swfVersion();
        f.target = f.originalTarget = f.thisValue = s.clipValue(clip);
        f.stackBase = s.stack.size();
        FrameGuard guard(s, f);
        execute(s, f, 0, f.codeEnd);
    });
    return r;
}

namespace {
// The caller's values may be reachable from nowhere else: they sit on the
// operand stack (a root) while an entry may collect.
class StackRoots {
public:
    StackRoots(Vm::State& s, const Value& a, const Value& b, std::span<const Value> rest) : s_(s), mark_(s.stack.size()) {
        s.stack.push_back(a);
        s.stack.push_back(b);
        s.stack.insert(s.stack.end(), rest.begin(), rest.end());
    }
    ~StackRoots() { s_.stack.resize(mark_); }
    StackRoots(const StackRoots&) = delete;
    StackRoots& operator=(const StackRoots&) = delete;

private:
    Vm::State& s_;
    size_t mark_;
};
}  // namespace

RunResult Vm::callFunction(const Value& function, const Value& thisValue, std::span<const Value> args, Value* result) {
    State& s = *state_;
    StackRoots roots(s, function, thisValue, args);
    s.maybeCollect();
    Object* o = function.objectValue();
    if (!o || (!o->isFunction() && o->kind() != Object::Kind::Super)) {
        s.lastError = "not a function";
        return RunResult{RunStatus::NotCallable, "not a function"};
    }
    return s.entry([&] {
        Value r = s.call(function, thisValue, args);
        if (result) *result = r;
    });
}

RunResult Vm::callMethod(const Value& thisValue, std::string_view name, std::span<const Value> args, Value* result) {
    State& s = *state_;
    StackRoots roots(s, thisValue, Value(), args);
    s.maybeCollect();
    return s.entry([&] {
        Object* home = nullptr;
        Value fn;
        if (Object* o = thisValue.objectValue()) {
            if (Property* p = s.findProperty(o, name, &home)) fn = s.readProperty(thisValue, p);
        } else {
            fn = s.getMember(thisValue, name);
            if (Clip* c = s.resolveClip(thisValue)) {
                if (Object* vars = c->variables()) s.findProperty(vars, name, &home);
            }
        }
        Object* f = fn.objectValue();
        if (!f || !f->isFunction()) return;
        Value r = s.call(fn, thisValue, args, home);
        if (result) *result = r;
    });
}

ObjectRef Vm::newClipObject() {
    State& s = *state_;
    Object* o = s.heap->allocate(Object::Kind::Plain);
    o->setProto(s.movieClipProto);
    return ObjectRef(s.heap, o);
}

ObjectRef Vm::pin(Object* object) { return ObjectRef(state_->heap, object); }

Value Vm::clipValue(Clip& clip) {
    try {
        return state_->clipValue(clip);
    } catch (...) {
        return {};
    }
}
Clip* Vm::resolveClip(const Value& value) { return state_->resolveClip(value); }
std::string Vm::targetPath(Clip& clip) { return state_->targetPath(clip); }
std::string Vm::slashPath(Clip& clip) { return state_->slashPath(clip); }

namespace {
// A frame for the host's own accesses: at _level0, as its movie sees things.
bool hostFrame(Vm::State& s, Frame& f) {
    Clip* root = s.host.level(0);
    if (!root) return false;
    f.version = root->swfVersion();
    f.target = f.originalTarget = f.thisValue = s.clipValue(*root);
    f.registers.resize(4);
    f.stackBase = s.stack.size();
    return true;
}
}  // namespace

bool Vm::setVariable(std::string_view path, std::string_view value) {
    State& s = *state_;
    bool ok = false;
    s.entry([&] {
        Frame f;
        if (!hostFrame(s, f)) return;
        FrameGuard guard(s, f);
        size_t split = path.rfind(':');
        if (split == std::string_view::npos) split = path.find_last_of("./");
        if (split != std::string_view::npos && split > 0) {
            const Value owner = s.resolvePath(f, path.substr(0, split));
            if (!owner.isObject() && !owner.isClip()) return;
        }
        s.setVariable(f, path, s.str(std::string(value)));
        ok = true;
    });
    return ok;
}

std::optional<std::string> Vm::getVariable(std::string_view path) {
    State& s = *state_;
    std::optional<std::string> answer;
    s.entry([&] {
        Frame f;
        if (!hostFrame(s, f)) return;
        FrameGuard guard(s, f);
        const Value v = s.getVariable(f, path);
        if (!v.isUndefined()) answer = s.toString(v);
    });
    return answer;
}

void Vm::setClipVariable(Clip& clip, std::string_view name, std::string_view value) {
    State& s = *state_;
    s.entry([&] {
        const Value self = s.clipValue(clip);
        s.setClipMember(clip, self, name, s.str(std::string(value)));
    });
}

void Vm::loadVariablesInto(Clip& clip, std::string_view urlEncoded) {
    State& s = *state_;
    s.entry([&] {
        const Value self = s.clipValue(clip);
        std::string_view rest = urlEncoded;
        while (!rest.empty()) {
            s.charge(1);
            const size_t amp = rest.find('&');
            const std::string_view pair = rest.substr(0, amp);
            rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
            const size_t eq = pair.find('=');
            const std::string name = urlUnescape(pair.substr(0, eq));
            if (name.empty()) continue;
            const std::string value = eq == std::string_view::npos ? std::string() : urlUnescape(pair.substr(eq + 1));
            Clip* c = s.resolveClip(self);  // a setter may have removed it
            if (!c) return;
            s.setClipMember(*c, self, name, s.str(value));
        }
    });
}

bool Vm::hasExternalCallback(std::string_view name) const { return state_->callbacks.count(name) != 0; }

Object* Vm::global() { return state_->global; }
Object* Vm::objectPrototype() { return state_->objectProto; }
Object* Vm::functionPrototype() { return state_->functionProto; }
Object* Vm::arrayPrototype() { return state_->arrayProto; }
Object* Vm::movieClipPrototype() { return state_->movieClipProto; }

namespace {
// Natives call these during an entry, where aborts must reach the entry;
// from outside, they run as entries of their own so nothing escapes.
template <typename T, typename F>
T guarded(Vm::State& s, F&& body) {
    if (s.entryDepth > 0) return body();
    T out{};
    s.entry([&] { out = body(); });
    return out;
}
}  // namespace

Object* Vm::newObject(Object* proto) {
    State& s = *state_;
    return guarded<Object*>(s, [&] { return s.newObject(proto ? proto : s.objectProto); });
}
Object* Vm::newArray(std::span<const Value> elements) {
    State& s = *state_;
    return guarded<Object*>(s, [&] { return s.newArray(std::vector<Value>(elements.begin(), elements.end())); });
}
Object* Vm::newFunction(NativeFn fn, std::string_view name) { return state_->newNative(std::move(fn), name); }

Object* Vm::defineFunction(Object* on, std::string_view name, NativeFn fn) {
    Object* f = state_->newNative(std::move(fn), name);
    if (on) on->setOwn(name, Value::object(f), kDontEnum);
    return f;
}

Object* Vm::defineClass(Object* on, std::string_view name, NativeFn constructor, Object* parentProto) {
    State& s = *state_;
    Object* ctor = s.newNative(std::move(constructor), name);
    Object* proto = s.heap->allocate(Object::Kind::Plain);
    proto->setProto(parentProto ? parentProto : s.objectProto);
    proto->setOwn("constructor", Value::object(ctor), kDontEnum);
    ctor->setOwn("prototype", Value::object(proto), kDontEnum | kDontDelete);
    if (on) on->setOwn(name, Value::object(ctor), kDontEnum);
    return ctor;
}

void Vm::defineAccessor(Object* on, std::string_view name, NativeFn getter, NativeFn setter) {
    State& s = *state_;
    if (!on) return;
    Object* g = s.newNative(std::move(getter), name);
    Object* st = setter ? s.newNative(std::move(setter), name) : nullptr;
    Property& p = on->setOwn(name, Value(), kDontEnum);
    p.getter = g;
    p.setter = st;
}

Object* Vm::package(std::string_view dottedPath) { return state_->package(dottedPath); }

Object* Vm::State::package(std::string_view dottedPath) {
    Object* o = global;
    while (!dottedPath.empty()) {
        const size_t dot = dottedPath.find('.');
        const std::string_view name = dottedPath.substr(0, dot);
        dottedPath = dot == std::string_view::npos ? std::string_view() : dottedPath.substr(dot + 1);
        Property* p = o->findOwn(name);
        Object* next = p ? p->value.objectValue() : nullptr;
        if (!next) {
            next = heap->allocate(Object::Kind::Plain);
            next->setProto(objectProto);
            o->setOwn(name, Value::object(next));
        }
        o = next;
    }
    return o;
}

Value Vm::getMember(const Value& target, std::string_view name) {
    State& s = *state_;
    return guarded<Value>(s, [&] { return s.getMember(target, name); });
}
void Vm::setMember(const Value& target, std::string_view name, const Value& value) {
    State& s = *state_;
    guarded<int>(s, [&] {
        s.setMember(target, name, value);
        return 0;
    });
}
Value Vm::call(const Value& function, const Value& thisValue, std::span<const Value> args) {
    State& s = *state_;
    return guarded<Value>(s, [&] { return s.call(function, thisValue, args); });
}
std::string Vm::toString(const Value& value) {
    State& s = *state_;
    return guarded<std::string>(s, [&] { return s.toString(value); });
}
double Vm::toNumber(const Value& value) {
    State& s = *state_;
    return guarded<double>(s, [&] { return s.toNumber(value); });
}
bool Vm::toBoolean(const Value& value) {
    State& s = *state_;
    return guarded<bool>(s, [&] { return s.toBoolean(value); });
}
int Vm::swfVersion() const { return state_->version(); }

const std::string& Vm::lastError() const { return state_->lastError; }
void Vm::setRandomSeed(uint64_t seed) { state_->rng = seed ? seed : 0x9E3779B97F4A7C15ull; }
void Vm::collectGarbage() { state_->collect(); }
size_t Vm::liveObjects() const { return state_->heap->size(); }

}  // namespace refplayer::avm1
