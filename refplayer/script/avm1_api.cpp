// The interpreter's public face: what the engine and the hosts call. Each
// entry into script runs under Vm::State::entry, so nothing escapes.
#include "avm1_vm.h"

#include <cmath>
#include <limits>
#include <new>

#include "avm1_internal.h"
#include "eixml.h"
#include "int_conv.h"

namespace refplayer::avm1 {

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
        forEachUrlPair(s, urlEncoded, [&](std::string name, std::string value) {
            Clip* c = s.resolveClip(self);  // a setter may have removed it
            if (!c) return false;
            s.setClipMember(*c, self, name, s.str(std::move(value)));
            return true;
        });
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
uint64_t Vm::actionsRun() const { return state_->actionsTotal; }
void Vm::setRandomSeed(uint64_t seed) { state_->rng = seed ? seed : 0x9E3779B97F4A7C15ull; }
void Vm::collectGarbage() { state_->collect(); }
size_t Vm::liveObjects() const { return state_->heap->size(); }

}  // namespace refplayer::avm1
