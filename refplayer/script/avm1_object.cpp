// Object and Function, whose prototypes everything else shares, and
// ASSetPropFlags, which compiled class code uses to hide its members.
#include "avm1_natives.h"
#include "int_conv.h"

namespace refplayer::avm1 {

namespace {

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

// Object.registerClass(linkage, constructor): clips of the symbol exported as
// `linkage`, placed by the timeline or attached by script, become instances
// of the class. A null constructor takes the registration back.
Value registerClass(State& s, NativeCall& c) {
    const std::string linkage = s.toString(c.arg(0));
    if (c.args.size() < 2 || linkage.empty() || c.arg(0).isNullish()) return Value::boolean(false);
    const Value& ctor = c.arg(1);
    if (ctor.isNullish()) {
        s.registeredClasses.erase(linkage);
        return Value::boolean(true);
    }
    if (!ctor.objectValue() || !ctor.objectValue()->isFunction()) return Value::boolean(false);
    s.chargeBytes(linkage.size() + sizeof(Value) + 32);
    s.registeredClasses.insert_or_assign(linkage, ctor);
    return Value::boolean(true);
}

}  // namespace

Value Vm::State::registeredClass(std::string_view linkage, bool caseSensitive) {
    if (auto it = registeredClasses.find(linkage); it != registeredClasses.end()) return it->second;
    if (!caseSensitive)
        for (const auto& [name, ctor] : registeredClasses)
            if (equalsIgnoreCase(name, linkage)) return ctor;
    return {};
}

void Vm::State::becomeInstance(Clip& clip, const Value& ctor, bool runConstructor) {
    Object* vars = clip.variables();
    Object* proto = getMember(ctor, "prototype").objectValue();
    if (!vars || !proto) return;
    vars->setProto(proto);
    vars->setOwn("__constructor__", ctor, kDontEnum);
    if (runConstructor) call(ctor, clipValue(clip), {}, proto);
}

bool Vm::constructClip(Clip& clip, std::string_view linkage) {
    State& s = *state_;
    if (s.entryDepth == 0) s.maybeCollect();
    bool made = false;
    s.entry([&] {
        const Value ctor = s.registeredClass(linkage, clip.swfVersion() >= 7);
        if (!ctor.objectValue()) return;
        made = true;
        s.becomeInstance(clip, ctor, true);
    });
    return made;
}

void installObject(State& s) {
    Object* g = s.global;

    // Object and Function share their prototypes with everything else.
    Object* objectCtorFn = defClass(s, g, "Object", objectCtor, s.objectProto);
    def(s, objectCtorFn, "registerClass", registerClass);
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
}

void installPropFlags(State& s) { def(s, s.global, "ASSetPropFlags", setPropFlags); }

}  // namespace refplayer::avm1
