// The script interpreter as the engine drives it: action blocks run on clips,
// variables by path, ExternalInterface callbacks. Kept behind this small face
// so the display code never sees the interpreter's own types beyond the clip
// interface it implements.
#pragma once

#include "../script/avm1_host.h"
#include "../script/avm1_value.h"

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace refplayer::engine {

class MovieClip;

class Scripting {
public:
    virtual ~Scripting() = default;
    static std::unique_ptr<Scripting> create(avm1::Host& host);

    // The variables object of a new clip (empty without an interpreter).
    virtual avm1::ObjectRef newClipObject() = 0;
    // The script object of a text field (empty without an interpreter).
    virtual avm1::ObjectRef newTextFieldObject(avm1::TextField& field) = 0;
    // The user changed a field's text; focus moved between fields (either may be null).
    virtual void textFieldChanged(avm1::TextField& field) = 0;
    virtual void focusChanged(avm1::TextField* oldFocus, avm1::TextField* newFocus) = 0;
    // Runs an action block with `clip` as this and target; answers an error text
    // (empty when the block ran to its end).
    virtual std::string run(MovieClip& clip, std::span<const uint8_t> actions) = 0;
    // Calls the clip's member `name` (onEnterFrame, onPress...) when it is a function.
    virtual void callMethod(MovieClip& clip, std::string_view name) = 0;
    virtual bool hasMethod(MovieClip& clip, std::string_view name) = 0;

    // Paths relative to _level0 ("a.b", "_level1.x", "/clip:var").
    virtual bool setVariable(std::string_view path, std::string_view value) = 0;
    virtual std::optional<std::string> getVariable(std::string_view path) = 0;
    // Variables seen from a clip, as text fields bind them: "name", "a.b",
    // "sub:name", "_root.name", "/a:name".
    virtual void setClipVariable(MovieClip& clip, std::string_view name, std::string_view value) = 0;
    virtual std::optional<std::string> getClipVariable(MovieClip& clip, std::string_view name) = 0;

    // Makes a clip the timeline just placed an instance of the class registered
    // (Object.registerClass) for `linkage`, running its constructor. Answers an
    // error text (empty when the constructor ran to its end or none is registered).
    virtual std::string constructClip(MovieClip& clip, std::string_view linkage) = 0;
    // Fires the setInterval/setTimeout timers due at `nowMs`; answers the
    // failures' texts.
    virtual std::vector<std::string> runTimers(double nowMs) = 0;

    virtual std::optional<std::string> callExternalCallback(std::string_view invokeXml) = 0;

    // What the standard objects (Key, Mouse, Stage, XML, LoadVars) hear from the player.
    enum class Pointer { Down, Up, Move, Wheel };
    virtual void keyEvent(bool down, int code, int ascii) = 0;
    virtual void keyChar(int ascii) = 0;
    virtual void pointerEvent(Pointer event, int wheelDelta) = 0;
    virtual void stageResized() = 0;
    virtual void frameEnded() = 0;
    enum class ClipLoad { Arrived, Initialized, Failed };
    virtual void clipLoaded(uint32_t id, ClipLoad outcome, double bytes) = 0;
    virtual void dataArrived(uint32_t id, std::optional<std::string_view> body) = 0;
    // A NetStream's onStatus and onMetaData; the script object of a video
    // object on the stage.
    virtual void streamStatus(uint32_t id, std::string_view code, std::string_view level) = 0;
    virtual void streamMetaData(uint32_t id, std::span<const std::pair<std::string, avm1::PropertyValue>> fields) = 0;
    virtual avm1::ObjectRef newVideoObject(uint32_t id) = 0;
    virtual std::string lastError() const = 0;
    // Actions run so far, over every entry (only ever grows).
    virtual uint64_t actionsRun() const = 0;
    virtual void collectGarbage() = 0;
};

}  // namespace refplayer::engine
