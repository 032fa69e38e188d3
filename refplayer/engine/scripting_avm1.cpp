// Scripting through the AVM1 interpreter.
#include "scripting.h"

#include "../script/avm1_vm.h"
#include "display.h"

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

class Avm1Scripting final : public Scripting {
public:
    explicit Avm1Scripting(avm1::Host& host) : vm_(host) {}

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
