// MovieClipLoader: loadMovie with listeners told of each step (onLoadStart,
// onLoadProgress, onLoadComplete, onLoadInit, onLoadError), through the
// host's movie loads.
#include <map>
#include <string>

#include "avm1_standard.h"

namespace refplayer::avm1 {

using namespace standard;

namespace {

struct Progress {
    double loaded = 0, total = 0;
};

// Each loader keeps the loads in flight by id (with the target's path) and
// what it knows of each target's bytes.
struct LoaderData : NativeData {
    std::map<uint32_t, std::string> loads;
    std::map<std::string, Progress, std::less<>> progress;
};

LoaderData* loaderOf(const Value& v) {
    Object* o = v.objectValue();
    return o ? dynamic_cast<LoaderData*>(o->nativeData()) : nullptr;
}

// The clip value a load's events name: the target as a path, which denotes
// whatever clip is there when the listener looks.
Value targetValue(const std::string& path) { return Value::clip(Str(path)); }

std::string targetPathOf(const LoadTarget& t) {
    return t.level >= 0 ? "_level" + std::to_string(t.level) : t.path;
}

LoadTarget resolveTarget(State& s, const Value& target) {
    if (target.isNumber()) {
        LoadTarget t;
        const double n = target.numberValue();
        if (n >= 0 && n < 65536 && n == static_cast<int>(n)) t.level = static_cast<int>(n);
        return t;
    }
    if (!s.frame()) return {};
    return s.loadTarget(*s.frame(), target);
}

Value ctor(State& s, NativeCall& c) {
    Object* self = c.thisValue.objectValue();
    if (!self || self->nativeData()) return {};  // another native object stays as it is
    self->setNativeData(std::make_unique<LoaderData>());
    makeBroadcaster(s, self);
    // The loader hears its own events, so handlers set on it work as listeners do.
    const Value me = c.thisValue;
    s.call(s.getMember(me, "addListener"), me, std::span<const Value>(&me, 1));
    return {};
}

Value loadClip(State& s, NativeCall& c) {
    LoaderData* data = loaderOf(c.thisValue);
    if (!data || c.arg(0).isNullish()) return Value::boolean(false);
    const std::string url = s.toString(c.arg(0));
    const LoadTarget target = resolveTarget(s, c.arg(1));
    if (target.level < 0 && !target.clip) return Value::boolean(false);
    const std::string path = targetPathOf(target);
    UrlRequest r;
    r.url = url;
    const uint32_t id = s.host.loadClip(target, r);
    data->progress[path] = Progress{};
    const Value args[1] = {targetValue(path)};
    if (id != 0) {
        data->loads[id] = path;
        keep(s, "clip:" + std::to_string(id), c.thisValue.objectValue());
    }
    broadcast(s, c.thisValue.objectValue(), "onLoadStart", args);
    return Value::boolean(true);
}

Value unloadClip(State& s, NativeCall& c) {
    if (!loaderOf(c.thisValue)) return Value::boolean(false);
    const LoadTarget target = resolveTarget(s, c.arg(0));
    if (target.level < 0 && !target.clip) return Value::boolean(false);
    s.host.loadMovie(target, UrlRequest{});
    return Value::boolean(true);
}

Value getProgress(State& s, NativeCall& c) {
    LoaderData* data = loaderOf(c.thisValue);
    if (!data) return {};
    const LoadTarget target = resolveTarget(s, c.arg(0));
    Progress p;
    if (auto it = data->progress.find(targetPathOf(target)); it != data->progress.end()) p = it->second;
    Object* o = s.newObject(s.objectProto);
    o->setOwn("bytesLoaded", Value::number(p.loaded));
    o->setOwn("bytesTotal", Value::number(p.total));
    return Value::object(o);
}

}  // namespace

void installLoader(Vm::State& s) {
    Object* proto = defineClass(s, "MovieClipLoader", [&s](NativeCall& c) { return ctor(s, c); });
    method(s, proto, "loadClip", loadClip);
    method(s, proto, "unloadClip", unloadClip);
    method(s, proto, "getProgress", getProgress);
}

void Vm::clipLoaded(uint32_t id, ClipLoad outcome, double bytes) {
    State& s = *state_;
    const auto it = s.standard.find("clip:" + std::to_string(id));
    if (it == s.standard.end()) return;
    ObjectRef loader(s.heap, it->second.get());  // stays pinned through the calls
    LoaderData* data = dynamic_cast<LoaderData*>(loader->nativeData());
    const auto load = data ? data->loads.find(id) : decltype(data->loads)::iterator{};
    if (!data || load == data->loads.end()) {
        s.standard.erase(it);
        return;
    }
    const std::string path = load->second;
    if (outcome != ClipLoad::Arrived) {
        // The last word on this load.
        data->loads.erase(load);
        s.standard.erase(it);
    }
    playerEvent(s, [&] {
        const Value target = targetValue(path);
        const Value one[1] = {target};
        switch (outcome) {
        case ClipLoad::Failed: {
            const Value args[2] = {target, s.str("URLNotFound")};
            broadcast(s, loader.get(), "onLoadError", args);
            break;
        }
        case ClipLoad::Arrived: {
            data->progress[path] = Progress{bytes, bytes};
            const Value progress[3] = {target, Value::number(bytes), Value::number(bytes)};
            broadcast(s, loader.get(), "onLoadProgress", progress);
            broadcast(s, loader.get(), "onLoadComplete", one);
            break;
        }
        case ClipLoad::Initialized: broadcast(s, loader.get(), "onLoadInit", one); break;
        }
    });
}

}  // namespace refplayer::avm1
