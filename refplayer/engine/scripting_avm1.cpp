// Scripting through the AVM1 interpreter.
#include "scripting.h"

#include "../script/avm1_vm.h"
#include "display.h"

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

    std::optional<std::string> callExternalCallback(std::string_view invokeXml) override
    {
        return vm_.callExternalCallback(invokeXml);
    }

    std::string lastError() const override { return vm_.lastError(); }
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
