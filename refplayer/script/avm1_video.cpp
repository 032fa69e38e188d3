// Progressive video: NetConnection (connected to null, the only connection
// a player without a media server makes), NetStream (a file fetched through
// the host and played on the player's clock), Video (attachVideo on a video
// object placed on the stage) and MovieClip.attachAudio. The host plays the
// streams; script hears of them through onStatus and onMetaData.
#include <cmath>
#include <string>

#include "avm1_standard.h"

namespace refplayer::avm1 {

using namespace standard;

namespace {

struct ConnectionData : NativeData {
    bool connected = false;
};

struct StreamData : NativeData {
    uint32_t id = 0;        // the host's stream; 0 when it has none
    double bufferTime = 0.1;
};

struct VideoData : NativeData {
    explicit VideoData(uint32_t i) : id(i) {}
    uint32_t id;
};

template <typename T>
T* dataOf(const Value& v) {
    Object* o = v.objectValue();
    return o ? dynamic_cast<T*>(o->nativeData()) : nullptr;
}

std::string streamKey(uint32_t id) { return "stream:" + std::to_string(id); }

// --- NetConnection ---------------------------------------------------------------------

Value connectionCtor(State&, NativeCall& c) {
    Object* self = c.thisValue.objectValue();
    if (!self || self->nativeData()) return {};  // another native object stays as it is
    self->setNativeData(std::make_unique<ConnectionData>());
    return {};
}

Value connect(State&, NativeCall& c) {
    auto* d = dataOf<ConnectionData>(c.thisValue);
    if (!d) return Value::boolean(false);
    // Only the null connection (progressive download through the host) is
    // offered: there is no media server to reach.
    d->connected = c.arg(0).isNull();
    return Value::boolean(d->connected);
}

Value connectionClose(State&, NativeCall& c) {
    if (auto* d = dataOf<ConnectionData>(c.thisValue)) d->connected = false;
    return {};
}

Value isConnected(State&, NativeCall& c) {
    auto* d = dataOf<ConnectionData>(c.thisValue);
    return d ? Value::boolean(d->connected) : Value();
}

// --- NetStream ---------------------------------------------------------------------------

Value streamCtor(State& s, NativeCall& c) {
    Object* self = c.thisValue.objectValue();
    if (!self || self->nativeData()) return {};
    auto data = std::make_unique<StreamData>();
    // A stream needs a connected connection; without one it stays silent.
    if (auto* conn = dataOf<ConnectionData>(c.arg(0)); conn && conn->connected) data->id = s.host.openStream();
    self->setNativeData(std::move(data));
    return {};
}

Value play(State& s, NativeCall& c) {
    auto* d = dataOf<StreamData>(c.thisValue);
    if (!d || d->id == 0 || c.arg(0).isNullish()) return {};
    UrlRequest r;
    r.url = s.toString(c.arg(0));
    // Kept while it plays, so its onStatus still reaches it when script holds
    // it nowhere else.
    keep(s, streamKey(d->id), c.thisValue.objectValue());
    s.host.streamPlay(d->id, r);
    return {};
}

Value pause(State& s, NativeCall& c) {
    auto* d = dataOf<StreamData>(c.thisValue);
    if (!d || d->id == 0) return {};
    std::optional<bool> flag;
    if (!c.arg(0).isUndefined()) flag = s.toBoolean(c.arg(0));
    s.host.streamPause(d->id, flag);
    return {};
}

Value seek(State& s, NativeCall& c) {
    auto* d = dataOf<StreamData>(c.thisValue);
    if (!d || d->id == 0) return {};
    const double seconds = s.toNumber(c.arg(0));
    if (std::isfinite(seconds)) s.host.streamSeek(d->id, std::max(0.0, seconds));
    return {};
}

Value streamClose(State& s, NativeCall& c) {
    auto* d = dataOf<StreamData>(c.thisValue);
    if (!d || d->id == 0) return {};
    s.host.streamClose(d->id);
    s.standard.erase(streamKey(d->id));
    return {};
}

Value setBufferTime(State& s, NativeCall& c) {
    auto* d = dataOf<StreamData>(c.thisValue);
    if (!d) return {};
    const double seconds = s.toNumber(c.arg(0));
    if (!std::isfinite(seconds) || seconds < 0) return {};
    d->bufferTime = seconds;
    if (d->id) s.host.streamBufferTime(d->id, seconds);
    return {};
}

Value bufferTime(State&, NativeCall& c) {
    auto* d = dataOf<StreamData>(c.thisValue);
    return d ? Value::number(d->bufferTime) : Value();
}

// A member of the host's report on the stream.
template <double Host::StreamState::*Member>
Value streamNumber(State& s, NativeCall& c) {
    auto* d = dataOf<StreamData>(c.thisValue);
    if (!d) return {};
    if (d->id == 0) return Value::number(0);
    return Value::number(s.host.streamState(d->id).*Member);
}

// --- Video and attachAudio -------------------------------------------------------------------

Value attachVideo(State& s, NativeCall& c) {
    auto* v = dataOf<VideoData>(c.thisValue);
    if (!v) return {};
    // Anything but a stream (null among them) takes the picture away.
    auto* stream = dataOf<StreamData>(c.arg(0));
    s.host.attachVideo(v->id, stream ? stream->id : 0);
    return {};
}

Value clearVideo(State&, NativeCall&) {
    // The picture is the stream's latest frame: nothing is kept to clear.
    return {};
}

Value attachAudio(State&, NativeCall&) {
    // The player makes no sound: the clip's Sound objects keep their
    // volume and pan all the same.
    return {};
}

}  // namespace

void installVideo(Vm::State& s) {
    Object* conn = defineClass(s, "NetConnection", [&s](NativeCall& c) { return connectionCtor(s, c); });
    method(s, conn, "connect", connect);
    method(s, conn, "close", connectionClose);
    accessor(s, conn, "isConnected", isConnected);

    Object* stream = defineClass(s, "NetStream", [&s](NativeCall& c) { return streamCtor(s, c); });
    method(s, stream, "play", play);
    method(s, stream, "pause", pause);
    method(s, stream, "seek", seek);
    method(s, stream, "close", streamClose);
    method(s, stream, "setBufferTime", setBufferTime);
    accessor(s, stream, "bufferTime", bufferTime);
    accessor(s, stream, "time", streamNumber<&Host::StreamState::time>);
    accessor(s, stream, "bytesLoaded", streamNumber<&Host::StreamState::bytesLoaded>);
    accessor(s, stream, "bytesTotal", streamNumber<&Host::StreamState::bytesTotal>);
    accessor(s, stream, "bufferLength", streamNumber<&Host::StreamState::bufferLength>);

    // Video objects come from the stage only; `new Video()` gives one whose
    // methods do nothing.
    Object* video = defineClass(s, "Video", [](NativeCall&) { return Value(); });
    keep(s, "Video.prototype", video);
    method(s, video, "attachVideo", attachVideo);
    method(s, video, "clear", clearVideo);

    method(s, s.movieClipProto, "attachAudio", attachAudio);
}

ObjectRef Vm::newVideoObject(uint32_t id) {
    State& s = *state_;
    Object* o = s.heap->allocate(Object::Kind::Plain);
    o->setProto(kept(s, "Video.prototype"));
    o->setNativeData(std::make_unique<VideoData>(id));
    return ObjectRef(s.heap, o);
}

void Vm::streamStatus(uint32_t id, std::string_view code, std::string_view level) {
    State& s = *state_;
    const auto it = s.standard.find(streamKey(id));
    if (it == s.standard.end()) return;
    ObjectRef stream(s.heap, it->second.get());  // pinned through the call, whatever the handler does
    playerEvent(s, [&] {
        Object* info = s.newObject(s.objectProto);
        info->setOwn("code", s.str(std::string(code)));
        info->setOwn("level", s.str(std::string(level)));
        const Value self = Value::object(stream.get());
        const Value arg = Value::object(info);
        s.call(s.getMember(self, "onStatus"), self, std::span<const Value>(&arg, 1));
    });
}

void Vm::streamMetaData(uint32_t id, std::span<const std::pair<std::string, PropertyValue>> fields) {
    State& s = *state_;
    const auto it = s.standard.find(streamKey(id));
    if (it == s.standard.end()) return;
    ObjectRef stream(s.heap, it->second.get());
    playerEvent(s, [&] {
        Object* info = s.newObject(s.objectProto);
        for (const auto& [name, value] : fields) {
            Value v;
            if (const double* n = std::get_if<double>(&value)) v = Value::number(*n);
            else if (const bool* b = std::get_if<bool>(&value)) v = Value::boolean(*b);
            else if (const std::string* t = std::get_if<std::string>(&value)) v = s.str(*t);
            info->setOwn(name, v);
        }
        const Value self = Value::object(stream.get());
        const Value arg = Value::object(info);
        s.call(s.getMember(self, "onMetaData"), self, std::span<const Value>(&arg, 1));
    });
}

}  // namespace refplayer::avm1
