// MovieClip methods (what gotoAndPlay(), loadMovie() and friends compile to
// when called on a clip) and flash.external.ExternalInterface.
#include <cmath>

#include "avm1_natives.h"
#include "eixml.h"

namespace refplayer::avm1 {

namespace {

Clip* thisClip(State& s, NativeCall& c) { return s.resolveClip(c.thisValue); }

// gotoAndPlay/gotoAndStop's argument: a 1-based number, or a label (a text
// that reads as a number is a number).
void gotoFrame(State& s, NativeCall& c, bool play) {
    Clip* clip = thisClip(s, c);
    if (!clip) return;
    const Value& where = c.arg(0);
    double n = where.isString() ? parseNumber(where.stringValue().view(), 7) : s.toNumber(where);
    if (where.isString() && !std::isfinite(n)) {
        if (auto frame = clip->frameOfLabel(where.stringValue().view())) clip->gotoFrame(*frame, play);
        return;
    }
    if (!std::isfinite(n) || n < 1 || n > 2147483647.0) return;
    clip->gotoFrame(static_cast<int>(n) - 1, play);
}

Value gotoAndPlay(State& s, NativeCall& c) { gotoFrame(s, c, true); return {}; }
Value gotoAndStop(State& s, NativeCall& c) { gotoFrame(s, c, false); return {}; }
Value play(State& s, NativeCall& c) { if (Clip* clip = thisClip(s, c)) clip->play(); return {}; }
Value stop(State& s, NativeCall& c) { if (Clip* clip = thisClip(s, c)) clip->stop(); return {}; }
Value nextFrame(State& s, NativeCall& c) { if (Clip* clip = thisClip(s, c)) clip->nextFrame(); return {}; }
Value prevFrame(State& s, NativeCall& c) { if (Clip* clip = thisClip(s, c)) clip->prevFrame(); return {}; }

// The request for a method-form getURL/loadMovie/loadVariables: "GET" or
// "POST" sends this clip's variables.
UrlRequest request(State& s, NativeCall& c, const std::string& url, const Value& methodArg) {
    UrlRequest r;
    r.url = url;
    const std::string method = methodArg.isUndefined() ? std::string() : s.toString(methodArg);
    if (equalsIgnoreCase(method, "GET")) r.method = HttpMethod::Get;
    else if (equalsIgnoreCase(method, "POST")) r.method = HttpMethod::Post;
    if (r.method != HttpMethod::None) {
        const std::string vars = s.encodeVariables(c.thisValue);
        if (r.method == HttpMethod::Post) r.postData = vars;
        else if (!vars.empty()) r.url += (r.url.find('?') == std::string::npos ? "?" : "&") + vars;
    }
    return r;
}

LoadTarget selfTarget(State& s, Clip& clip) {
    LoadTarget t;
    if (!clip.parent()) t.level = clip.level();
    else t.clip = &clip, t.path = s.targetPath(clip);
    return t;
}

Value getURL(State& s, NativeCall& c) {
    const std::string url = s.toString(c.arg(0));
    const std::string window = c.arg(1).isUndefined() ? std::string() : s.toString(c.arg(1));
    if (url.size() >= 10 && equalsIgnoreCase(std::string_view(url).substr(0, 10), "FSCommand:")) {
        s.host.fsCommand(url.substr(10), window);
        return {};
    }
    UrlRequest r = request(s, c, url, c.arg(2));
    r.window = window;
    s.host.getUrl(r);
    return {};
}

Value loadMovie(State& s, NativeCall& c) {
    Clip* clip = thisClip(s, c);
    if (!clip) return {};
    const UrlRequest r = request(s, c, s.toString(c.arg(0)), c.arg(1));
    clip = thisClip(s, c);  // encoding the variables may have run script
    if (clip) s.host.loadMovie(selfTarget(s, *clip), r);
    return {};
}

Value unloadMovie(State& s, NativeCall& c) {
    if (Clip* clip = thisClip(s, c)) s.host.loadMovie(selfTarget(s, *clip), UrlRequest{});
    return {};
}

Value loadVariables(State& s, NativeCall& c) {
    Clip* clip = thisClip(s, c);
    if (!clip) return {};
    const UrlRequest r = request(s, c, s.toString(c.arg(0)), c.arg(1));
    clip = thisClip(s, c);
    if (clip) s.host.loadVariables(selfTarget(s, *clip), r);
    return {};
}

Value removeMovieClip(State& s, NativeCall& c) {
    if (Clip* clip = thisClip(s, c)) clip->remove();
    return {};
}

Value duplicateMovieClip(State& s, NativeCall& c) {
    Clip* clip = thisClip(s, c);
    const double depth = s.toNumber(c.arg(1));
    const std::string name = s.toString(c.arg(0));
    clip = thisClip(s, c);
    if (clip && std::isfinite(depth) && std::fabs(depth) < 1e9) clip->duplicate(name, static_cast<int>(depth));
    return {};
}

// attachMovie(linkage, newName, depth[, initObject]): the new clip, with the
// init object's members copied onto it, or undefined when none was made.
Value attachMovie(State& s, NativeCall& c) {
    const std::string linkage = s.toString(c.arg(0));
    const std::string name = s.toString(c.arg(1));
    const double depth = s.toNumber(c.arg(2));
    const Value init = c.arg(3);
    Clip* clip = thisClip(s, c);
    if (!clip || linkage.empty() || name.empty() || !std::isfinite(depth) || std::fabs(depth) > 1048575) return {};
    if (!clip->attachMovie(linkage, name, static_cast<int>(depth))) return {};
    // The host may have changed the display list: find both clips again.
    clip = thisClip(s, c);
    Clip* child = clip ? clip->childByName(name, true) : nullptr;
    if (!child) return {};
    const Value made = s.clipValue(*child);
    if (Object* o = init.objectValue()) {
        std::vector<std::pair<std::string, Value>> members;
        o->forEachOwn([&](std::string_view key, const Property& p) {
            if (!(p.flags & kDontEnum) && !p.isAccessor()) members.emplace_back(std::string(key), p.value);
        });
        for (const auto& [key, value] : members) s.setMember(made, key, value);
    }
    // A registered class takes the clip over once the init object's members
    // are in place: its constructor may read them.
    child = s.resolveClip(made);
    const Value ctor = child ? s.registeredClass(linkage, s.caseSensitive()) : Value();
    if (child && ctor.objectValue()) s.becomeInstance(*child, ctor, true);
    return made;
}

// createEmptyMovieClip(name, depth): the new clip, or undefined when none was made.
Value createEmptyMovieClip(State& s, NativeCall& c) {
    const std::string name = s.toString(c.arg(0));
    const double depth = s.toNumber(c.arg(1));
    Clip* clip = thisClip(s, c);
    if (!clip || name.empty() || !std::isfinite(depth) || std::fabs(depth) > 1048575) return {};
    if (!clip->createEmpty(name, static_cast<int>(depth))) return {};
    clip = thisClip(s, c);
    Clip* child = clip ? clip->childByName(name, true) : nullptr;
    return child ? s.clipValue(*child) : Value();
}

// getNextHighestDepth(): one above the highest depth in use, 0 at least.
Value getNextHighestDepth(State& s, NativeCall& c) {
    Clip* clip = thisClip(s, c);
    if (!clip) return {};
    const std::optional<int> top = clip->highestDepth();
    return Value::number(top && *top >= 0 ? *top + 1.0 : 0.0);
}

Value movieClipCtor(State&, NativeCall& c) { return c.thisValue; }

// --- ExternalInterface ----------------------------------------------------------------

ei::Value toEi(State& s, const Value& v, int depth) {
    switch (v.type()) {
    case Value::Type::Undefined: return ei::Value::undefined();
    case Value::Type::Null: return ei::Value::null();
    case Value::Type::Boolean: return ei::Value::of(v.boolValue());
    case Value::Type::Number: return ei::Value::of(v.numberValue());
    case Value::Type::String:
    case Value::Type::Clip: return ei::Value::of(v.stringValue().str());
    case Value::Type::Object: break;
    }
    Object* o = v.objectValue();
    if (depth >= ei::kMaxDepth || o->isFunction()) return ei::Value::null();
    if (o->kind() == Object::Kind::Boxed) return toEi(s, o->primitive(), depth + 1);
    if (o->isArray()) {
        std::vector<ei::Value> items;
        for (uint32_t i = 0; i < o->length(); ++i) {
            s.charge(1);
            items.push_back(toEi(s, s.getMember(v, Value::number(i)), depth + 1));
        }
        return ei::Value::array(std::move(items));
    }
    std::vector<ei::Member> members;
    for (const std::string& key : s.enumerate(v)) {
        const Value member = s.getMember(v, key);
        if (Object* m = member.objectValue(); m && m->isFunction()) continue;
        members.push_back(ei::Member{key, toEi(s, member, depth + 1)});
    }
    return ei::Value::object(std::move(members));
}

Value fromEi(State& s, const ei::Value& v) {
    s.charge(1);
    switch (v.kind) {
    case ei::Value::Kind::Undefined: return {};
    case ei::Value::Kind::Null: return Value::null();
    case ei::Value::Kind::Boolean: return Value::boolean(v.boolean);
    case ei::Value::Kind::Number: return Value::number(v.number);
    case ei::Value::Kind::String: return s.str(v.text);
    case ei::Value::Kind::Array: {
        std::vector<Value> items;
        items.reserve(v.items.size());
        for (const ei::Value& item : v.items) items.push_back(fromEi(s, item));
        return Value::object(s.newArray(std::move(items)));
    }
    case ei::Value::Kind::Object: {
        Object* o = s.newObject(s.objectProto);
        for (const auto& [key, member] : v.members) s.setMember(Value::object(o), key, fromEi(s, member));
        return Value::object(o);
    }
    }
    return {};
}

Value externalCall(State& s, NativeCall& c) {
    if (!s.host.externalAvailable()) return Value::null();
    const std::string name = s.toString(c.arg(0));
    std::vector<ei::Value> args;
    for (size_t i = 1; i < c.args.size(); ++i) args.push_back(toEi(s, c.args[i], 0));
    const std::string request = ei::encodeInvoke(name, args, "xml");
    s.chargeBytes(request.size());
    const std::optional<std::string> answer = s.host.externalCall(name, request);
    if (!answer) return Value::null();
    if (answer->find_first_not_of(" \t\r\n") == std::string::npos) return {};
    const ei::Decoded<ei::Value> decoded = ei::decodeValue(*answer);
    if (!decoded) {
        s.lastError = "ExternalInterface answer refused: " + decoded.error;
        return Value::null();
    }
    return fromEi(s, *decoded.value);
}

Value addCallback(State& s, NativeCall& c) {
    const std::string name = s.toString(c.arg(0));
    Object* fn = c.arg(2).objectValue();
    if (name.empty() || !fn || !fn->isFunction()) return Value::boolean(false);
    s.callbacks[name] = ExternalCallback{c.arg(1), c.arg(2)};
    return Value::boolean(s.host.addCallback(name));
}

Value available(State& s, NativeCall&) { return Value::boolean(s.host.externalAvailable()); }

}  // namespace

void installMovieClip(State& s) {
    s.movieClipProto = s.newObject(s.objectProto);
    Object* ctor = s.newNative([&s](NativeCall& c) { return movieClipCtor(s, c); }, "MovieClip");
    ctor->setOwn("prototype", Value::object(s.movieClipProto), kDontEnum | kDontDelete);
    s.movieClipProto->setOwn("constructor", Value::object(ctor), kDontEnum);
    s.global->setOwn("MovieClip", Value::object(ctor), kDontEnum);
    Object* p = s.movieClipProto;
    def(s, p, "gotoAndPlay", gotoAndPlay);
    def(s, p, "gotoAndStop", gotoAndStop);
    def(s, p, "play", play);
    def(s, p, "stop", stop);
    def(s, p, "nextFrame", nextFrame);
    def(s, p, "prevFrame", prevFrame);
    def(s, p, "getURL", getURL);
    def(s, p, "loadMovie", loadMovie);
    def(s, p, "unloadMovie", unloadMovie);
    def(s, p, "loadVariables", loadVariables);
    def(s, p, "removeMovieClip", removeMovieClip);
    def(s, p, "duplicateMovieClip", duplicateMovieClip);
    def(s, p, "attachMovie", attachMovie);
    def(s, p, "createEmptyMovieClip", createEmptyMovieClip);
    def(s, p, "getNextHighestDepth", getNextHighestDepth);
}

void installExternalInterface(State& s) {
    Object* external = s.package("flash.external");
    Object* ei = s.newObject(s.objectProto);
    external->setOwn("ExternalInterface", Value::object(ei), kDontEnum);
    def(s, ei, "call", externalCall);
    def(s, ei, "addCallback", addCallback);
    Object* getter = s.newNative([&s](NativeCall& c) { return available(s, c); }, "available");
    Property& p = ei->setOwn("available", Value(), kDontEnum | kReadOnly);
    p.getter = getter;
    s.externalInterface = ei;
}

std::optional<std::string> Vm::callExternalCallback(std::string_view invokeXml) {
    State& s = *state_;
    const ei::Decoded<ei::Invoke> request = ei::decodeInvoke(invokeXml);
    if (!request) {
        s.lastError = "malformed ExternalInterface request: " + request.error;
        return std::nullopt;
    }
    const auto it = s.callbacks.find(request.value->name);
    if (it == s.callbacks.end()) {
        s.lastError = "no ExternalInterface callback named \"" + request.value->name + "\"";
        return std::nullopt;
    }
    s.maybeCollect();  // the callback stays rooted by its registration
    const ExternalCallback callback = it->second;
    std::string answer = "<undefined/>";
    s.entry([&] {
        std::vector<Value> args;
        for (const ei::Value& a : request.value->arguments) args.push_back(fromEi(s, a));
        const Value result = s.call(callback.function, callback.thisValue, args);
        answer = ei::encodeValue(toEi(s, result, 0));
    });
    return answer;
}

}  // namespace refplayer::avm1
