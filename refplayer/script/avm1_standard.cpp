// Helpers shared by the standard objects' files, and AsBroadcaster, the
// listener mechanism Key, Mouse, Stage and the loaders are built on.
#include "avm1_standard.h"

#include <algorithm>
#include <vector>

namespace refplayer::avm1 {

namespace standard {

Object* method(State& s, Object* on, std::string_view name, Impl fn) {
    Object* f = s.newNative([&s, fn](NativeCall& c) { return fn(s, c); }, name);
    on->setOwn(name, Value::object(f), kDontEnum);
    return f;
}

void accessor(State& s, Object* on, std::string_view name, Impl get, Impl set) {
    Property& p = on->setOwn(name, Value(), kDontEnum | kDontDelete);
    p.getter = s.newNative([&s, get](NativeCall& c) { return get(s, c); }, name);
    p.setter = set ? s.newNative([&s, set](NativeCall& c) { return set(s, c); }, name) : nullptr;
}

void constant(Object* on, std::string_view name, Value value) {
    on->setOwn(name, std::move(value), kDontEnum | kDontDelete | kReadOnly);
}

Object* defineClass(State& s, std::string_view name, NativeFn constructor, Object* parentProto, Object** ctor) {
    Object* fn = s.newNative(std::move(constructor), name);
    Object* proto = s.newObject(parentProto ? parentProto : s.objectProto);
    proto->setOwn("constructor", Value::object(fn), kDontEnum);
    fn->setOwn("prototype", Value::object(proto), kDontEnum | kDontDelete);
    s.global->setOwn(name, Value::object(fn), kDontEnum);
    if (ctor) *ctor = fn;
    return proto;
}

Object* globalObject(State& s, std::string_view name) {
    Object* o = s.newObject(s.objectProto);
    s.global->setOwn(name, Value::object(o), kDontEnum);
    return o;
}

namespace {

Object* listenersOf(State& s, const Value& self) {
    Object* list = s.getMember(self, "_listeners").objectValue();
    return list && list->isArray() ? list : nullptr;
}

// Where `listener` stands in `list`, or -1.
int64_t indexOf(State& s, Object* list, const Value& listener) {
    const std::vector<Value>& elements = list->elements();
    for (size_t i = 0; i < elements.size() && i < list->length(); ++i) {
        s.charge(1);
        if (State::strictEquals(elements[i], listener)) return static_cast<int64_t>(i);
    }
    return -1;
}

Value addListener(State& s, NativeCall& c) {
    Object* list = listenersOf(s, c.thisValue);
    if (!list) return Value::boolean(false);
    // A listener is listed once: adding it again moves it to the end.
    if (const int64_t at = indexOf(s, list, c.arg(0)); at >= 0) {
        list->elements().erase(list->elements().begin() + at);
        list->setLength(list->length() - 1);
    }
    // The dense part must reach the length before the listener goes last.
    if (list->length() >= s.limits.denseArray) return Value::boolean(false);
    s.chargeBytes((static_cast<uint64_t>(list->length()) + 1 - std::min<uint64_t>(list->length(), list->elements().size())) * sizeof(Value));
    list->elements().resize(list->length());
    list->elements().push_back(c.arg(0));
    list->setLength(static_cast<uint32_t>(list->elements().size()));
    return Value::boolean(true);
}

Value removeListener(State& s, NativeCall& c) {
    Object* list = listenersOf(s, c.thisValue);
    if (!list) return Value::boolean(false);
    const int64_t at = indexOf(s, list, c.arg(0));
    if (at < 0) return Value::boolean(false);
    list->elements().erase(list->elements().begin() + at);
    list->setLength(list->length() - 1);
    return Value::boolean(true);
}

Value broadcastMessage(State& s, NativeCall& c) {
    Object* self = c.thisValue.objectValue();
    if (!self || c.args.empty()) return {};
    const std::string event = s.toString(c.arg(0));
    broadcast(s, self, event, c.args.subspan(1));
    return {};
}

Value initialize(State& s, NativeCall& c) {
    if (Object* o = c.arg(0).objectValue()) makeBroadcaster(s, o);
    return {};
}

}  // namespace

void makeBroadcaster(State& s, Object* o) {
    o->setOwn("_listeners", Value::object(s.newArray({})), kDontEnum);
    method(s, o, "addListener", addListener);
    method(s, o, "removeListener", removeListener);
    method(s, o, "broadcastMessage", broadcastMessage);
}

void broadcast(State& s, Object* o, std::string_view event, std::span<const Value> args) {
    Object* list = listenersOf(s, Value::object(o));
    if (!list) return;
    // A copy: a handler may add or remove listeners.
    std::vector<Value> listeners(list->elements().begin(),
                                 list->elements().begin() + std::min<size_t>(list->elements().size(), list->length()));
    for (const Value& listener : listeners) {
        s.charge(1);
        const Value handler = s.getMember(listener, event);
        if (Object* fn = handler.objectValue(); fn && fn->isFunction()) s.call(handler, listener, args);
    }
}

void keep(State& s, std::string_view name, Object* o) {
    s.standard[std::string(name)] = ObjectRef(s.heap, o);
}

Object* kept(State& s, std::string_view name) {
    const auto it = s.standard.find(name);
    return it == s.standard.end() ? nullptr : it->second.get();
}

void startLoad(State& s, Object* target, const UrlRequest& request) {
    if (auto* l = dynamic_cast<Loadable*>(target->nativeData())) {
        l->bytesLoaded = 0;
        l->bytesTotal.reset();
    }
    const uint32_t id = s.host.loadData(request);
    if (id == 0) {
        const Value none{};
        s.call(s.getMember(Value::object(target), "onData"), Value::object(target), std::span<const Value>(&none, 1));
        return;
    }
    // Kept (and so alive) until its answer comes.
    keep(s, "load:" + std::to_string(id), target);
}

UrlRequest dataRequest(State& s, const std::string& url, const Value& method, const std::string& data,
                       bool postByDefault) {
    UrlRequest r;
    r.url = url;
    const std::string asked = method.isUndefined() ? std::string() : s.toString(method);
    if (equalsIgnoreCase(asked, "GET")) r.method = HttpMethod::Get;
    else if (equalsIgnoreCase(asked, "POST") || postByDefault) r.method = HttpMethod::Post;
    if (r.method == HttpMethod::Post) {
        r.postData = data;
    } else if (r.method == HttpMethod::Get && !data.empty()) {
        r.url += (r.url.find('?') == std::string::npos ? "?" : "&") + data;
    }
    return r;
}

namespace {
Loadable* loadableOf(NativeCall& c) {
    Object* o = c.thisValue.objectValue();
    return o ? dynamic_cast<Loadable*>(o->nativeData()) : nullptr;
}
}  // namespace

Value bytesLoaded(State&, NativeCall& c) {
    Loadable* l = loadableOf(c);
    return l && l->bytesLoaded ? Value::number(*l->bytesLoaded) : Value();
}

Value bytesTotal(State&, NativeCall& c) {
    Loadable* l = loadableOf(c);
    return l && l->bytesTotal ? Value::number(*l->bytesTotal) : Value();
}

}  // namespace standard

void Vm::dataArrived(uint32_t id, std::optional<std::string_view> body) {
    State& s = *state_;
    const auto it = s.standard.find("load:" + std::to_string(id));
    if (it == s.standard.end()) return;
    ObjectRef target = std::move(it->second);  // stays pinned through the call
    s.standard.erase(it);
    standard::playerEvent(s, [&] {
        if (auto* l = dynamic_cast<standard::Loadable*>(target->nativeData())) {
            l->bytesLoaded = body ? static_cast<double>(body->size()) : 0;
            if (body) l->bytesTotal = static_cast<double>(body->size());
        }
        const Value self = Value::object(target.get());
        const Value arg = body ? s.str(std::string(*body)) : Value();
        s.call(s.getMember(self, "onData"), self, std::span<const Value>(&arg, 1));
    });
}

void installBroadcaster(Vm::State& s) {
    Object* b = standard::globalObject(s, "AsBroadcaster");
    standard::method(s, b, "initialize", standard::initialize);
}

}  // namespace refplayer::avm1
