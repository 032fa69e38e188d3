// The standard objects movies read on start (System, Stage, Key, Mouse, XML,
// LoadVars ...): a file per family, each with an install function the
// interpreter's state calls once. Shared helpers for those files.
// Not for use outside refplayer/script.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "avm1_internal.h"

namespace refplayer::avm1 {

void installBroadcaster(Vm::State& s);  // avm1_standard.cpp: AsBroadcaster
void installSystem(Vm::State& s);       // avm1_system.cpp: System, System.capabilities, System.security
void installStage(Vm::State& s);        // avm1_stage.cpp: Stage
void installInput(Vm::State& s);        // avm1_input.cpp: Key, Mouse
void installXml(Vm::State& s);          // avm1_xml.cpp: XML, XMLNode
void installLoadVars(Vm::State& s);     // avm1_loadvars.cpp: LoadVars
void installColorSound(Vm::State& s);   // avm1_color_sound.cpp: Color, Sound
void installShared(Vm::State& s);       // avm1_shared.cpp: SharedObject, LocalConnection
void installLoader(Vm::State& s);       // avm1_loader.cpp: MovieClipLoader
void installVideo(Vm::State& s);        // avm1_video.cpp: NetConnection, NetStream, Video, attachAudio

namespace standard {

using State = Vm::State;
using Impl = Value (*)(State&, NativeCall&);

// A native method `name` of `on` (DontEnum).
Object* method(State& s, Object* on, std::string_view name, Impl fn);
// A native accessor `name` of `on` (DontEnum); read-only without a setter.
void accessor(State& s, Object* on, std::string_view name, Impl get, Impl set = nullptr);
// A read-only constant.
void constant(Object* on, std::string_view name, Value value);
// A native class `name` in _global: answers its prototype (inheriting from
// `parentProto`, Object.prototype when null) and the constructor in `ctor`.
Object* defineClass(State& s, std::string_view name, NativeFn constructor, Object* parentProto = nullptr,
                    Object** ctor = nullptr);
// A plain object under `name` in _global (DontEnum).
Object* globalObject(State& s, std::string_view name);

// Makes `o` a broadcaster as AsBroadcaster.initialize does: a `_listeners`
// array and addListener, removeListener, broadcastMessage.
void makeBroadcaster(State& s, Object* o);
// Calls `event` on each of `o`'s listeners (on a copy of the list, so
// listeners may add and remove listeners while it runs).
void broadcast(State& s, Object* o, std::string_view event, std::span<const Value> args = {});

// A standard object the player's events reach, kept under `name` (nullptr
// when it was never kept).
void keep(State& s, std::string_view name, Object* o);
Object* kept(State& s, std::string_view name);

// --- data loads (XML and LoadVars) --------------------------------------------------
// What an object that loads data keeps: the byte counts getBytesLoaded and
// getBytesTotal answer (undefined before a load).
struct Loadable : NativeData {
    std::optional<double> bytesLoaded;
    std::optional<double> bytesTotal;
};
// Asks the host for `request`; `target` (whose native data is a Loadable) gets
// onData(body) when the answer arrives, onData(undefined) when the load
// fails (at once, when the host refuses it).
void startLoad(State& s, Object* target, const UrlRequest& request);
// A request for `url` that sends `data` (url-encoded variables or XML text) by
// `method` ("GET" or "POST" in any case; undefined or anything else gives
// POST when `postByDefault`, else a plain GET of the URL alone).
UrlRequest dataRequest(State& s, const std::string& url, const Value& method, const std::string& data,
                       bool postByDefault);
Value bytesLoaded(State& s, NativeCall& c);
Value bytesTotal(State& s, NativeCall& c);

// Runs `body` as a top-level entry for an event from the player.
template <typename F>
void playerEvent(State& s, F&& body) {
    s.maybeCollect();
    s.entry(std::forward<F>(body));
}

}  // namespace standard
}  // namespace refplayer::avm1
