// SharedObject (local objects, kept in memory for the player's life) and
// LocalConnection (connections between movies; only movies of this player can
// be reached, so a send to any other name reports that no one listens).
#include <map>
#include <string>
#include <vector>

#include "avm1_standard.h"

namespace refplayer::avm1 {

using namespace standard;

namespace {

// --- SharedObject ---------------------------------------------------------------------------

struct SharedObjects : NativeData {
    std::map<std::string, Object*, std::less<>> byName;  // "path\nname"
    void markValues(void (*mark)(void*, const Value&), void* context) const override {
        for (const auto& [key, o] : byName) mark(context, Value::object(o));
    }
};

SharedObjects& shared(State& s) { return *static_cast<SharedObjects*>(kept(s, "SharedObject")->nativeData()); }

// Names may not hold these, nor be empty; such a request answers null.
bool validName(std::string_view name) {
    return !name.empty() && name.find_first_of("~%&\\;:\"',<>?# ") == std::string_view::npos;
}

Value getLocal(State& s, NativeCall& c) {
    const std::string name = s.toString(c.arg(0));
    if (!validName(name)) return Value::null();
    const std::string path = c.arg(1).isNullish() ? std::string() : s.toString(c.arg(1));
    const std::string key = path + "\n" + name;
    SharedObjects& all = shared(s);
    if (auto it = all.byName.find(key); it != all.byName.end()) return Value::object(it->second);
    Object* proto = s.getMember(Value::object(kept(s, "SharedObject")), "prototype").objectValue();
    Object* o = s.newObject(proto ? proto : s.objectProto);
    o->setOwn("data", Value::object(s.newObject(s.objectProto)), kDontDelete);
    s.chargeBytes(key.size() + 64);
    all.byName.emplace(key, o);
    return Value::object(o);
}

Value flush(State&, NativeCall&) { return Value::boolean(true); }

Value clear(State& s, NativeCall& c) {
    if (Object* data = s.getMember(c.thisValue, "data").objectValue())
        for (const std::string& key : data->ownKeys()) data->removeOwn(key);
    return {};
}

// The bytes the data would take written out: names and texts, eight bytes a number.
uint64_t sizeOf(State& s, const Value& v, int depth) {
    s.charge(1);
    switch (v.type()) {
    case Value::Type::String: return 3 + v.stringValue().size();
    case Value::Type::Number: return 9;
    case Value::Type::Boolean: return 2;
    case Value::Type::Object: {
        Object* o = v.objectValue();
        if (depth > 32 || o->isFunction()) return 1;
        uint64_t total = 4;
        for (size_t i = 0; i < o->elements().size(); ++i) total += sizeOf(s, o->elements()[i], depth + 1);
        o->forEachOwn([&](std::string_view key, const Property& p) {
            if (!p.isAccessor()) total += 2 + key.size() + sizeOf(s, p.value, depth + 1);
        });
        return total;
    }
    default: return 1;
    }
}

Value getSize(State& s, NativeCall& c) {
    const Value data = s.getMember(c.thisValue, "data");
    Object* o = data.objectValue();
    if (!o || o->ownCount() == 0) return Value::number(0);
    return Value::number(static_cast<double>(sizeOf(s, data, 0)));
}

Value nothing(State&, NativeCall&) { return {}; }

// --- LocalConnection -----------------------------------------------------------------------

struct Delivery {
    Value sender;
    std::string name;
    std::string method;
    std::vector<Value> args;
};

struct Connections : NativeData {
    std::map<std::string, Object*, std::less<>> byName;  // lower-case names
    std::vector<Delivery> waiting;                       // sent, delivered when the frame ends
    void markValues(void (*mark)(void*, const Value&), void* context) const override {
        for (const auto& [name, o] : byName) mark(context, Value::object(o));
        for (const Delivery& d : waiting) {
            mark(context, d.sender);
            for (const Value& v : d.args) mark(context, v);
        }
    }
};

Connections& connections(State& s) { return *static_cast<Connections*>(kept(s, "LocalConnection")->nativeData()); }

// The name a connection is known by: case does not matter.
std::string connectionName(State& s, const Value& v) { return lowerAscii(s.toString(v)); }

Value connect(State& s, NativeCall& c) {
    Object* self = c.thisValue.objectValue();
    const std::string name = connectionName(s, c.arg(0));
    if (!self || name.empty() || name.find(':') != std::string::npos) return Value::boolean(false);
    Connections& all = connections(s);
    for (const auto& [taken, owner] : all.byName)
        if (taken == name || owner == self) return Value::boolean(false);
    all.byName.emplace(name, self);
    return Value::boolean(true);
}

Value close(State& s, NativeCall& c) {
    Object* self = c.thisValue.objectValue();
    std::erase_if(connections(s).byName, [&](const auto& entry) { return entry.second == self; });
    return {};
}

Value send(State& s, NativeCall& c) {
    const std::string name = connectionName(s, c.arg(0));
    const std::string method = s.toString(c.arg(1));
    static constexpr std::string_view kReserved[] = {"send", "connect", "close", "domain", "onStatus",
                                                     "allowDomain", "allowInsecureDomain"};
    if (name.empty() || method.empty() || !c.thisValue.isObject()) return Value::boolean(false);
    for (std::string_view r : kReserved)
        if (method == r) return Value::boolean(false);
    Delivery d{c.thisValue, name, method, {}};
    if (c.args.size() > 2) d.args.assign(c.args.begin() + 2, c.args.end());
    s.chargeBytes(sizeof(Delivery) + d.args.size() * sizeof(Value));
    connections(s).waiting.push_back(std::move(d));
    return Value::boolean(true);
}

Value domain(State& s, NativeCall&) { return s.str("localhost"); }

void reportStatus(State& s, const Value& sender, bool delivered) {
    Object* info = s.newObject(s.objectProto);
    info->setOwn("level", s.str(delivered ? "status" : "error"));
    const Value arg = Value::object(info);
    s.call(s.getMember(sender, "onStatus"), sender, std::span<const Value>(&arg, 1));
}

}  // namespace

void installShared(Vm::State& s) {
    Object* soCtor = nullptr;
    Object* so = defineClass(s, "SharedObject", [](NativeCall&) { return Value(); }, nullptr, &soCtor);
    soCtor->setNativeData(std::make_unique<SharedObjects>());
    keep(s, "SharedObject", soCtor);
    method(s, soCtor, "getLocal", getLocal);
    method(s, so, "flush", flush);
    method(s, so, "clear", clear);
    method(s, so, "getSize", getSize);
    method(s, so, "close", nothing);
    method(s, so, "setFps", flush);

    Object* lcCtor = nullptr;
    Object* lc = defineClass(s, "LocalConnection", [](NativeCall&) { return Value(); }, nullptr, &lcCtor);
    lcCtor->setNativeData(std::make_unique<Connections>());
    keep(s, "LocalConnection", lcCtor);
    method(s, lc, "connect", connect);
    method(s, lc, "close", close);
    method(s, lc, "send", send);
    method(s, lc, "domain", domain);
}

void Vm::frameEnded() {
    State& s = *state_;
    Object* lc = kept(s, "LocalConnection");
    if (!lc) return;
    auto& all = *static_cast<Connections*>(lc->nativeData());
    // What the calls send now waits for the next frame.
    std::vector<Delivery> now = std::move(all.waiting);
    all.waiting.clear();
    for (Delivery& d : now) {
        playerEvent(s, [&] {
            Connections& live = *static_cast<Connections*>(lc->nativeData());
            const auto it = live.byName.find(d.name);
            if (it != live.byName.end()) {
                const Value receiver = Value::object(it->second);
                s.call(s.getMember(receiver, d.method), receiver, d.args);
            }
            reportStatus(s, d.sender, it != live.byName.end());
        });
    }
}

}  // namespace refplayer::avm1
