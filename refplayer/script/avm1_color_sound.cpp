// Color (a clip's colour transform) and Sound (volume, pan and channel
// mixing per clip; this player makes no sound, so nothing ever plays).
#include <cmath>
#include <map>
#include <string>

#include "avm1_standard.h"

namespace refplayer::avm1 {

using namespace standard;

namespace {

// --- Color -------------------------------------------------------------------------------

// The clip a Color or Sound was made for: its target path, resolved at each use.
struct TargetData : NativeData {
    Value target;  // a clip value, or undefined for the whole movie (Sound)
    void markValues(void (*mark)(void*, const Value&), void* context) const override { mark(context, target); }
};

TargetData* targetOf(NativeCall& c) {
    Object* o = c.thisValue.objectValue();
    return o ? dynamic_cast<TargetData*>(o->nativeData()) : nullptr;
}

Value colorCtor(State& s, NativeCall& c) {
    Object* o = c.thisValue.objectValue();
    if (!o || o->nativeData()) return {};  // another native object (Color.call(Key)) stays as it is
    auto data = std::make_unique<TargetData>();
    // A target given as a path text ("_root.box") counts as the clip it names.
    Value target = c.arg(0);
    if (target.isString() && s.frame()) target = s.resolvePath(*s.frame(), target.stringValue().view());
    if (Clip* clip = s.resolveClip(target)) data->target = s.clipValue(*clip);
    o->setNativeData(std::move(data));
    return {};
}

Clip* colorClip(State& s, NativeCall& c) {
    TargetData* d = targetOf(c);
    return d ? s.resolveClip(d->target) : nullptr;
}

// Offsets and multipliers as the player keeps them: whole numbers.
double whole(double v) { return std::isfinite(v) ? std::trunc(v) : 0; }

Value setRGB(State& s, NativeCall& c) {
    Clip* clip = colorClip(s, c);
    if (!clip) return {};
    const uint32_t rgb = static_cast<uint32_t>(s.toInt32(c.arg(0)));
    ClipColor color = clip->clipColor();
    color.ra = color.ga = color.ba = 0;
    color.rb = (rgb >> 16) & 0xFF;
    color.gb = (rgb >> 8) & 0xFF;
    color.bb = rgb & 0xFF;
    clip->setClipColor(color);
    return {};
}

Value getRGB(State& s, NativeCall& c) {
    Clip* clip = colorClip(s, c);
    if (!clip) return {};
    const ClipColor color = clip->clipColor();
    auto channel = [](double v) { return static_cast<uint32_t>(static_cast<int32_t>(whole(v))) & 0xFF; };
    return Value::number((channel(color.rb) << 16) | (channel(color.gb) << 8) | channel(color.bb));
}

Value getTransform(State& s, NativeCall& c) {
    Clip* clip = colorClip(s, c);
    if (!clip) return {};
    const ClipColor color = clip->clipColor();
    Object* o = s.newObject(s.objectProto);
    const std::pair<const char*, double> terms[] = {{"ra", color.ra}, {"rb", color.rb}, {"ga", color.ga},
                                                    {"gb", color.gb}, {"ba", color.ba}, {"bb", color.bb},
                                                    {"aa", color.aa}, {"ab", color.ab}};
    for (const auto& [name, v] : terms) o->setOwn(name, Value::number(whole(v)));
    return Value::object(o);
}

// Only the terms the object has change; the others stay.
Value setTransform(State& s, NativeCall& c) {
    Clip* clip = colorClip(s, c);
    Object* t = c.arg(0).objectValue();
    if (!clip || !t) return {};
    ClipColor color = clip->clipColor();
    const std::pair<const char*, double*> terms[] = {{"ra", &color.ra}, {"rb", &color.rb}, {"ga", &color.ga},
                                                     {"gb", &color.gb}, {"ba", &color.ba}, {"bb", &color.bb},
                                                     {"aa", &color.aa}, {"ab", &color.ab}};
    for (const auto& [name, term] : terms) {
        const Value v = s.getMember(c.arg(0), name);
        if (v.isUndefined()) continue;
        const double n = s.toNumber(v);
        if (std::isfinite(n)) *term = whole(n);
    }
    // The script may have removed the clip in a getter.
    if (Clip* still = colorClip(s, c)) still->setClipColor(color);
    return {};
}

// --- Sound -------------------------------------------------------------------------------

struct Mix {
    double volume = 100, pan = 0;
    double ll = 100, lr = 0, rr = 100, rl = 0;
};

// Sounds made for the same clip share its mix, as the player keeps one per
// clip; "" is the whole movie's.
struct SoundClass : NativeData {
    std::map<std::string, Mix, std::less<>> mixes;
};

struct SoundData : TargetData {
    std::string linkage;  // attachSound's name, kept though nothing plays
};

Mix& mixOf(State& s, NativeCall& c) {
    auto* cls = static_cast<SoundClass*>(kept(s, "Sound")->nativeData());
    TargetData* d = targetOf(c);
    std::string key;
    if (d && d->target.isClip()) key = d->target.stringValue().str();
    auto it = cls->mixes.find(key);
    if (it == cls->mixes.end()) {
        s.chargeBytes(key.size() + sizeof(Mix) + 32);
        it = cls->mixes.emplace(std::move(key), Mix{}).first;
    }
    return it->second;
}

Value soundCtor(State& s, NativeCall& c) {
    Object* o = c.thisValue.objectValue();
    if (!o || o->nativeData()) return {};
    auto data = std::make_unique<SoundData>();
    Value target = c.arg(0);
    if (target.isString() && s.frame()) target = s.resolvePath(*s.frame(), target.stringValue().view());
    if (Clip* clip = s.resolveClip(target)) data->target = s.clipValue(*clip);
    o->setNativeData(std::move(data));
    return {};
}

bool isSound(NativeCall& c) { return dynamic_cast<SoundData*>(targetOf(c)) != nullptr; }

// A finite number, or nothing (the setting is then ignored).
std::optional<double> finite(State& s, const Value& v) {
    const double n = s.toNumber(v);
    return std::isfinite(n) ? std::optional(std::trunc(n)) : std::nullopt;
}

Value setVolume(State& s, NativeCall& c) {
    if (!isSound(c)) return {};
    if (auto v = finite(s, c.arg(0))) mixOf(s, c).volume = *v;
    return {};
}
Value getVolume(State& s, NativeCall& c) { return isSound(c) ? Value::number(mixOf(s, c).volume) : Value(); }

Value setPan(State& s, NativeCall& c) {
    if (!isSound(c)) return {};
    if (auto v = finite(s, c.arg(0))) mixOf(s, c).pan = *v;
    return {};
}
Value getPan(State& s, NativeCall& c) { return isSound(c) ? Value::number(mixOf(s, c).pan) : Value(); }

Value setSoundTransform(State& s, NativeCall& c) {
    Object* t = c.arg(0).objectValue();
    if (!isSound(c) || !t) return {};
    Mix& m = mixOf(s, c);
    const std::pair<const char*, double*> terms[] = {{"ll", &m.ll}, {"lr", &m.lr}, {"rr", &m.rr}, {"rl", &m.rl}};
    for (const auto& [name, term] : terms) {
        const Value v = s.getMember(c.arg(0), name);
        if (v.isUndefined()) continue;
        if (auto n = finite(s, v)) *term = *n;
    }
    return {};
}

Value getSoundTransform(State& s, NativeCall& c) {
    if (!isSound(c)) return {};
    const Mix m = mixOf(s, c);
    Object* o = s.newObject(s.objectProto);
    o->setOwn("ll", Value::number(m.ll));
    o->setOwn("lr", Value::number(m.lr));
    o->setOwn("rr", Value::number(m.rr));
    o->setOwn("rl", Value::number(m.rl));
    return Value::object(o);
}

Value attachSound(State& s, NativeCall& c) {
    if (auto* d = dynamic_cast<SoundData*>(targetOf(c))) d->linkage = s.toString(c.arg(0));
    return {};
}

Value zero(State&, NativeCall& c) { return isSound(c) ? Value::number(0) : Value(); }
Value nothing(State&, NativeCall&) { return {}; }

}  // namespace

void installColorSound(Vm::State& s) {
    Object* color = defineClass(s, "Color", [&s](NativeCall& c) { return colorCtor(s, c); });
    method(s, color, "setRGB", setRGB);
    method(s, color, "getRGB", getRGB);
    method(s, color, "setTransform", setTransform);
    method(s, color, "getTransform", getTransform);

    Object* soundCtorFn = nullptr;
    Object* sound = defineClass(s, "Sound", [&s](NativeCall& c) { return soundCtor(s, c); }, nullptr, &soundCtorFn);
    soundCtorFn->setNativeData(std::make_unique<SoundClass>());
    keep(s, "Sound", soundCtorFn);
    method(s, sound, "setVolume", setVolume);
    method(s, sound, "getVolume", getVolume);
    method(s, sound, "setPan", setPan);
    method(s, sound, "getPan", getPan);
    method(s, sound, "setTransform", setSoundTransform);
    method(s, sound, "getTransform", getSoundTransform);
    method(s, sound, "attachSound", attachSound);
    // No audio: starting plays nothing and onSoundComplete never comes.
    method(s, sound, "start", nothing);
    method(s, sound, "stop", nothing);
    method(s, sound, "loadSound", nothing);
    method(s, sound, "getBytesLoaded", zero);
    method(s, sound, "getBytesTotal", zero);
    accessor(s, sound, "duration", zero);
    accessor(s, sound, "position", zero);
}

}  // namespace refplayer::avm1
