// Scripting through the AVM1 interpreter.
#include "scripting.h"

#include "../script/avm1_vm.h"
#include "display.h"
#include "video_playback.h"

#include <cmath>
#include <limits>

namespace refplayer::engine {

namespace {

bool isAbsolutePath(std::string_view name)
{
    auto starts = [&](std::string_view p) {
        if (name.size() < p.size())
            return false;
        for (size_t i = 0; i < p.size(); ++i)
            if (std::tolower(static_cast<unsigned char>(name[i])) != p[i])
                return false;
        return true;
    };
    return starts("/") || starts("_root") || starts("_level") || starts("_global");
}

// The clip a video player method was called on, and its player object.
VideoPlayback* playbackOf(avm1::Vm& vm, const avm1::Value& self)
{
    // Every clip the interpreter knows is one of the engine's movie clips.
    avm1::Clip* clip = vm.resolveClip(self);
    return clip ? static_cast<MovieClip*>(clip)->playback.get() : nullptr;
}

class Avm1Scripting final : public Scripting {
public:
    explicit Avm1Scripting(avm1::Host& host) : vm_(host) { defineVideoPlayerClass(); }

    avm1::ObjectRef newClipObject() override { return vm_.newClipObject(); }
    avm1::ObjectRef newTextFieldObject(avm1::TextField& field) override { return vm_.newTextFieldObject(field); }
    void textFieldChanged(avm1::TextField& field) override { vm_.textFieldChanged(field); }
    void focusChanged(avm1::TextField* oldFocus, avm1::TextField* newFocus) override
    {
        vm_.focusChanged(oldFocus, newFocus);
    }

    std::string run(MovieClip& clip, std::span<const uint8_t> actions) override
    {
        avm1::RunResult r = vm_.run(actions, clip);
        return r.ok() ? std::string() : r.message;
    }

    void callMethod(MovieClip& clip, std::string_view name) override
    {
        vm_.callMethod(vm_.clipValue(clip), name, {});
    }

    bool hasMethod(MovieClip& clip, std::string_view name) override
    {
        avm1::Value v = vm_.getMember(vm_.clipValue(clip), name);
        return v.objectValue() && v.objectValue()->isFunction();
    }

    bool setVariable(std::string_view path, std::string_view value) override { return vm_.setVariable(path, value); }
    std::optional<std::string> getVariable(std::string_view path) override { return vm_.getVariable(path); }

    void setClipVariable(MovieClip& clip, std::string_view name, std::string_view value) override
    {
        if (name.find_first_of(".:/") == std::string_view::npos)
            vm_.setClipVariable(clip, name, value);
        else
            vm_.setVariable(pathFrom(clip, name), value);
    }

    std::optional<std::string> getClipVariable(MovieClip& clip, std::string_view name) override
    {
        return vm_.getVariable(pathFrom(clip, name));
    }

    std::string constructClip(MovieClip& clip, std::string_view linkage) override
    {
        const std::string before = vm_.lastError();
        if (!vm_.constructClip(clip, linkage))
            return {};
        // The constructor's entry reports its failure through lastError.
        return vm_.lastError() != before ? vm_.lastError() : std::string();
    }

    std::vector<std::string> runTimers(double nowMs) override { return vm_.runTimers(nowMs); }

    std::optional<std::string> callExternalCallback(std::string_view invokeXml) override
    {
        return vm_.callExternalCallback(invokeXml);
    }

    std::string clipText(MovieClip& clip, std::string_view name) override
    {
        avm1::Value v = ownMember(clip, name);
        return v.isNullish() ? std::string() : vm_.toString(v);
    }

    double clipNumber(MovieClip& clip, std::string_view name) override
    {
        avm1::Value v = ownMember(clip, name);
        return v.isNullish() ? std::numeric_limits<double>::quiet_NaN() : vm_.toNumber(v);
    }

    bool clipFlag(MovieClip& clip, std::string_view name) override
    {
        avm1::Value v = ownMember(clip, name);
        // The host writes flags as text: "false" and "0" must read as false.
        if (v.isString())
            return v.stringValue().view() != "false" && v.stringValue().view() != "0" && !v.stringValue().empty();
        return vm_.toBoolean(v);
    }

    void setClipNumber(MovieClip& clip, std::string_view name, double value) override
    {
        if (avm1::Object* vars = clip.variables())
            vars->setOwn(name, avm1::Value::number(value));
    }

    void setClipFlag(MovieClip& clip, std::string_view name, bool value) override
    {
        if (avm1::Object* vars = clip.variables())
            vars->setOwn(name, avm1::Value::boolean(value));
    }

    void makeVideoPlayer(MovieClip& clip) override
    {
        avm1::Object* vars = clip.variables();
        if (!vars)
            return;
        if (videoProto_)
            vars->setProto(videoProto_.get());
        using avm1::Value;
        vars->setOwn("autoPlay", Value::boolean(true));
        vars->setOwn("autoRewind", Value::boolean(true));
        vars->setOwn("autoSize", Value::boolean(false));
        vars->setOwn("bufferTime", Value::number(0.1));
        vars->setOwn("contentPath", Value::string(""));
        vars->setOwn("isLive", Value::boolean(false));
        vars->setOwn("maintainAspectRatio", Value::boolean(false));
        vars->setOwn("skin", Value::string("ClearOverAll.swf"));
        vars->setOwn("skinAutoHide", Value::boolean(true));
        vars->setOwn("totalTime", Value::number(0));
        vars->setOwn("volume", Value::number(100));
        vars->setOwn("playheadTime", Value::number(0));
        vars->setOwn("state", Value::string("disconnected"));
    }

    void keyEvent(bool down, int code, int ascii) override
    {
        if (down)
            vm_.keyDown(code, ascii);
        else
            vm_.keyUp(code, ascii);
    }
    void keyChar(int ascii) override { vm_.keyChar(ascii); }
    void pointerEvent(Pointer event, int wheelDelta) override
    {
        using E = avm1::Vm::MouseEvent;
        const E e = event == Pointer::Down ? E::Down : event == Pointer::Up ? E::Up : event == Pointer::Move ? E::Move : E::Wheel;
        vm_.mouseEvent(e, wheelDelta);
    }
    void stageResized() override { vm_.stageResized(); }
    void frameEnded() override { vm_.frameEnded(); }
    void clipLoaded(uint32_t id, ClipLoad outcome, double bytes) override
    {
        using L = avm1::Vm::ClipLoad;
        vm_.clipLoaded(id, outcome == ClipLoad::Arrived ? L::Arrived : outcome == ClipLoad::Initialized ? L::Initialized : L::Failed, bytes);
    }
    void dataArrived(uint32_t id, std::optional<std::string_view> body) override { vm_.dataArrived(id, body); }
    void streamStatus(uint32_t id, std::string_view code, std::string_view level) override
    {
        vm_.streamStatus(id, code, level);
    }
    void streamMetaData(uint32_t id, std::span<const std::pair<std::string, avm1::PropertyValue>> fields) override
    {
        vm_.streamMetaData(id, fields);
    }
    avm1::ObjectRef newVideoObject(uint32_t id) override { return vm_.newVideoObject(id); }

    std::string lastError() const override { return vm_.lastError(); }
    uint64_t actionsRun() const override { return vm_.actionsRun(); }
    void collectGarbage() override { vm_.collectGarbage(); }

private:
    avm1::Value ownMember(MovieClip& clip, std::string_view name)
    {
        avm1::Object* vars = clip.variables();
        const avm1::Property* p = vars ? vars->findOwn(name) : nullptr;
        if (!p)
            return {};
        if (p->isAccessor())
            return vm_.getMember(vm_.clipValue(clip), name);
        return p->value;
    }

    // mx.video.FLVPlayback: instances come from attachMovie("FLVPlayback", ...),
    // which makes the clip and its player object; `new` alone makes an object
    // that is never on the stage and whose methods do nothing.
    void defineVideoPlayerClass()
    {
        avm1::Object* pkg = vm_.package("mx.video");
        avm1::Object* ctor = vm_.defineClass(
            pkg, "FLVPlayback", [](avm1::NativeCall& c) { return c.thisValue; }, vm_.movieClipPrototype());
        const avm1::Property* proto = ctor ? ctor->findOwn("prototype") : nullptr;
        if (!proto || !proto->value.objectValue())
            return;
        videoProto_ = vm_.pin(proto->value.objectValue());
        avm1::Vm& vm = vm_;
        vm_.defineFunction(videoProto_.get(), "play", [&vm](avm1::NativeCall& c) {
            // play(contentPath) loads that video first.
            if (!c.arg(0).isNullish()) {
                std::string path = vm.toString(c.arg(0));
                if (!path.empty())
                    vm.setMember(c.thisValue, "contentPath", avm1::Value::string(path));
            }
            if (VideoPlayback* p = playbackOf(vm, c.thisValue))
                p->play();
            return avm1::Value();
        });
        vm_.defineFunction(videoProto_.get(), "pause", [&vm](avm1::NativeCall& c) {
            if (VideoPlayback* p = playbackOf(vm, c.thisValue))
                p->pause();
            return avm1::Value();
        });
        vm_.defineFunction(videoProto_.get(), "stop", [&vm](avm1::NativeCall& c) {
            if (VideoPlayback* p = playbackOf(vm, c.thisValue))
                p->stop();
            return avm1::Value();
        });
        vm_.defineFunction(videoProto_.get(), "seek", [&vm](avm1::NativeCall& c) {
            double seconds = vm.toNumber(c.arg(0));
            if (VideoPlayback* p = playbackOf(vm, c.thisValue); p && std::isfinite(seconds))
                p->seek(seconds);
            return avm1::Value();
        });
    }

    avm1::ObjectRef videoProto_;  // pinned: script may delete the class from _global

    // A variable name as a text field holds it, made a path from _level0.
    std::string pathFrom(MovieClip& clip, std::string_view name)
    {
        if (isAbsolutePath(name))
            return std::string(name);
        if (name.find(':') != std::string_view::npos || name.find('/') != std::string_view::npos) {
            std::string slash = vm_.slashPath(clip);
            if (slash.empty() || slash.back() != '/')
                slash += '/';
            return slash + std::string(name);
        }
        return vm_.targetPath(clip) + "." + std::string(name);
    }

    avm1::Vm vm_;
};

}  // namespace

std::unique_ptr<Scripting> Scripting::create(avm1::Host& host)
{
    return std::make_unique<Avm1Scripting>(host);
}

}  // namespace refplayer::engine
