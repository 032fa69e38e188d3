// Scripting for a build without the AVM1 interpreter: action blocks are
// skipped, variables are kept as text by their full path so that text fields
// and the host's SetVariable/GetVariable still meet.
#include "scripting.h"

#include "display.h"

#include <map>

namespace refplayer::engine {

namespace {

std::string lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// "_level0.a.b" of a clip.
std::string targetOf(MovieClip& clip)
{
    std::string path;
    for (avm1::Clip* c = &clip; c; c = c->parent()) {
        if (!c->parent())
            path = "_level" + std::to_string(c->level()) + path;
        else
            path = "." + c->name() + path;
    }
    return path;
}

// "name", "_root.a.b", "/a/b:name", "a:name" made "_level0.a.b.name" (lower case).
std::string normalise(std::string_view path, const std::string& base)
{
    std::string p(path);
    for (char& c : p)
        if (c == '/' || c == ':')
            c = '.';
    std::string result;
    if (!path.empty() && path[0] == '/')
        result = "_level0" + p;
    else if (lower(p).rfind("_root", 0) == 0)
        result = "_level0" + p.substr(5);
    else if (lower(p).rfind("_level", 0) == 0)
        result = p;
    else
        result = base + "." + p;
    return lower(result);
}

class NoScripting final : public Scripting {
public:
    bool runsActions() const override { return false; }
    avm1::ObjectRef newClipObject() override { return {}; }
    std::string run(MovieClip&, std::span<const uint8_t>) override
    {
        return "no script interpreter in this build: action blocks are skipped";
    }
    void callMethod(MovieClip&, std::string_view) override {}
    bool hasMethod(MovieClip&, std::string_view) override { return false; }
    bool setVariable(std::string_view path, std::string_view value) override
    {
        vars_[normalise(path, "_level0")] = std::string(value);
        return true;
    }
    std::optional<std::string> getVariable(std::string_view path) override
    {
        auto it = vars_.find(normalise(path, "_level0"));
        if (it == vars_.end())
            return std::nullopt;
        return it->second;
    }
    void setClipVariable(MovieClip& clip, std::string_view name, std::string_view value) override
    {
        vars_[normalise(name, targetOf(clip))] = std::string(value);
    }
    std::optional<std::string> getClipVariable(MovieClip& clip, std::string_view name) override
    {
        auto it = vars_.find(normalise(name, targetOf(clip)));
        if (it == vars_.end())
            return std::nullopt;
        return it->second;
    }
    std::optional<std::string> callExternalCallback(std::string_view) override { return std::nullopt; }
    std::string lastError() const override { return {}; }
    void collectGarbage() override {}

private:
    std::map<std::string, std::string> vars_;
};

}  // namespace

std::unique_ptr<Scripting> Scripting::create(avm1::Host&)
{
    return std::make_unique<NoScripting>();
}

}  // namespace refplayer::engine
