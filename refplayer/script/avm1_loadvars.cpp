// LoadVars: variables sent and loaded as url-encoded text through the host.
#include <string>
#include <vector>

#include "avm1_standard.h"

namespace refplayer::avm1 {

using namespace standard;

namespace {

struct LoadVarsData : Loadable {};

Object* self(NativeCall& c) {
    Object* o = c.thisValue.objectValue();
    return o && dynamic_cast<LoadVarsData*>(o->nativeData()) ? o : nullptr;
}

Value ctor(State&, NativeCall& c) {
    // An object with native data of its own (called on Key, say) is left alone.
    if (Object* o = c.thisValue.objectValue(); o && !o->nativeData()) o->setNativeData(std::make_unique<LoadVarsData>());
    return {};
}

// The object's enumerable members as "name=value&..." (functions left out),
// newest first, in the order for..in visits them.
std::string encode(State& s, const Value& target) {
    std::string out;
    const std::vector<std::string> keys = s.enumerate(target);
    for (auto it = keys.rbegin(); it != keys.rend(); ++it) {
        const std::string& key = *it;
        s.charge(1);
        const Value v = s.getMember(target, key);
        if (Object* o = v.objectValue(); o && o->isFunction()) continue;
        if (!out.empty()) out += '&';
        out += urlEscape(key);
        out += '=';
        out += urlEscape(s.toString(v));
        s.checkStringSize(out.size());
    }
    return out;
}

Value toString(State& s, NativeCall& c) { return s.str(encode(s, c.thisValue)); }

Value decode(State& s, NativeCall& c) {
    const std::string text = s.toString(c.arg(0));
    forEachUrlPair(s, text, [&](std::string name, std::string value) {
        s.setMember(c.thisValue, name, s.str(std::move(value)));
        return true;
    });
    return {};
}

Value load(State& s, NativeCall& c) {
    Object* o = self(c);
    if (!o || c.arg(0).isNullish()) return Value::boolean(false);
    s.setMember(c.thisValue, "loaded", Value::boolean(false));
    startLoad(s, o, dataRequest(s, s.toString(c.arg(0)), Value(), {}, false));
    return Value::boolean(true);
}

Value sendAndLoad(State& s, NativeCall& c) {
    Object* o = self(c);
    Object* target = c.arg(1).objectValue();
    if (!o || !target || !dynamic_cast<Loadable*>(target->nativeData()) || c.arg(0).isNullish())
        return Value::boolean(false);
    s.setMember(c.arg(1), "loaded", Value::boolean(false));
    startLoad(s, target, dataRequest(s, s.toString(c.arg(0)), c.arg(2), encode(s, c.thisValue), true));
    return Value::boolean(true);
}

Value send(State& s, NativeCall& c) {
    if (!self(c) || c.arg(0).isNullish()) return Value::boolean(false);
    UrlRequest r = dataRequest(s, s.toString(c.arg(0)), c.arg(2), encode(s, c.thisValue), true);
    r.window = c.arg(1).isUndefined() ? std::string() : s.toString(c.arg(1));
    s.host.getUrl(r);
    return Value::boolean(true);
}

// What an answer does unless the movie replaces onData: decode it and report.
Value onData(State& s, NativeCall& c) {
    const bool ok = !c.arg(0).isUndefined();
    if (ok) {
        const Value text = c.arg(0);
        s.call(s.getMember(c.thisValue, "decode"), c.thisValue, std::span<const Value>(&text, 1));
    }
    s.setMember(c.thisValue, "loaded", Value::boolean(ok));
    const Value result = Value::boolean(ok);
    s.call(s.getMember(c.thisValue, "onLoad"), c.thisValue, std::span<const Value>(&result, 1));
    return {};
}

Value nothing(State&, NativeCall&) { return {}; }

}  // namespace

void installLoadVars(Vm::State& s) {
    Object* proto = defineClass(s, "LoadVars", [&s](NativeCall& c) { return ctor(s, c); });
    method(s, proto, "load", load);
    method(s, proto, "send", send);
    method(s, proto, "sendAndLoad", sendAndLoad);
    method(s, proto, "decode", decode);
    method(s, proto, "toString", toString);
    method(s, proto, "onData", onData);
    method(s, proto, "onLoad", nothing);
    method(s, proto, "getBytesLoaded", bytesLoaded);
    method(s, proto, "getBytesTotal", bytesTotal);
    method(s, proto, "addRequestHeader", nothing);
    proto->setOwn("contentType", s.str("application/x-www-form-urlencoded"), kDontEnum);
    proto->setOwn("loaded", Value(), kDontEnum);
}

}  // namespace refplayer::avm1
