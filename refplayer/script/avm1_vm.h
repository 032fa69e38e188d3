// The AVM1 interpreter: runs the action blocks of DoAction tags, buttons and
// clip events, on the clips and the host described in avm1_host.h.
//
// Conversions follow the SWF version of the clip whose code runs: from SWF 7
// on, undefined converts to "undefined" and NaN, identifiers are
// case-sensitive and non-empty strings are true; before SWF 7 undefined gives
// "" and 0, identifiers ignore case and strings are true when their number is
// non-zero.
//
// No entry point throws. Every top-level entry (run, callFunction,
// callExternalCallback, setVariable, getVariable) gets a budget of actions
// and of allocated bytes; running out aborts the entry, as the player stops
// a script that makes it run slowly.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "avm1_host.h"
#include "avm1_value.h"

namespace refplayer::avm1 {

struct Limits {
    uint64_t actions = 1'000'000;        // per top-level entry, natives' loops included
    uint64_t allocationBytes = 64u << 20;  // strings and objects made per top-level entry
    uint32_t callDepth = 256;            // nested function calls (and re-entrant runs)
    uint32_t regionDepth = 128;          // nested with/try blocks
    uint32_t stackValues = 1u << 16;     // operand stack entries
    uint32_t stringBytes = 16u << 20;    // the longest string a script may build
    uint32_t denseArray = 1u << 20;      // array elements stored densely; beyond, indexes become named properties
};

enum class RunStatus {
    Ok,
    Malformed,          // an action ran past its block; the block stopped there
    BudgetExceeded,     // too many actions: the entry was abandoned
    OutOfMemory,        // too many bytes allocated, or a string or array grew past its limit
    TooDeep,            // calls nested too deeply, or the operand stack overflowed
    UncaughtException,  // `throw` with no matching try
    NotCallable,        // callFunction on something that is not a function
};

struct RunResult {
    RunStatus status = RunStatus::Ok;
    std::string message;  // empty when ok
    bool ok() const { return status == RunStatus::Ok; }
};

class Vm;

// What a native function receives.
struct NativeCall {
    Vm& vm;
    Value thisValue;          // for `new`, the fresh object
    std::span<const Value> args;
    bool construct = false;   // called through `new`
    const Value& arg(size_t i) const;  // undefined past the end
};
// A native answers its result. Under `new`, an object result replaces the
// fresh object.
using NativeFn = std::function<Value(NativeCall&)>;

class Vm {
public:
    explicit Vm(Host& host, Limits limits = {});
    ~Vm();
    Vm(const Vm&) = delete;
    Vm& operator=(const Vm&) = delete;

    // --- running ----------------------------------------------------------------
    // Runs an action block with `clip` as `this` and target (DoAction, a frame's
    // or button's actions). The bytes are copied: functions defined by the block
    // stay valid when the caller's buffer goes.
    RunResult run(std::span<const uint8_t> actions, Clip& clip);
    // Calls `function` (a script or native function value) with `thisValue`.
    RunResult callFunction(const Value& function, const Value& thisValue, std::span<const Value> args,
                           Value* result = nullptr);
    // Calls the member `name` of `thisValue` (a clip's onEnterFrame, say) when it
    // is a function; answers Ok without doing anything when it is not.
    RunResult callMethod(const Value& thisValue, std::string_view name, std::span<const Value> args,
                         Value* result = nullptr);

    // Keeps `object` and what it reaches alive between entries. Nothing else
    // held outside the interpreter is kept: a function fetched now and called
    // in a later entry must be pinned (or fetched again).
    ObjectRef pin(Object* object);

    // --- clips -----------------------------------------------------------------
    // The variables object of a new clip (Clip::variables answers it).
    ObjectRef newClipObject();
    // The script object of a video object on the stage (Clip::videoByName),
    // an instance of Video for the host's video object `id`.
    ObjectRef newVideoObject(uint32_t id);
    // The script value that denotes `clip`, and back (nullptr when the path no
    // longer leads to a clip).
    Value clipValue(Clip& clip);
    Clip* resolveClip(const Value& value);
    std::string targetPath(Clip& clip);   // "_level0.a.b"
    std::string slashPath(Clip& clip);    // "/a/b" (the _target property)

    // --- text fields ----------------------------------------------------------------
    // The script object of a text field (TextField::scriptObject answers it),
    // and what the engine calls when the field goes: the object then reads as
    // a field no longer there. unlinkTextField needs no interpreter, so it may
    // run after the interpreter is gone.
    ObjectRef newTextFieldObject(TextField& field);
    static void unlinkTextField(Object* object);
    // Events of a field, as the engine reports them: the user changed its text
    // (onChanged, to the field and its listeners), or focus moved from
    // `oldFocus` to `newFocus` (either may be null: onKillFocus, onSetFocus and
    // Selection's listeners).
    void textFieldChanged(TextField& field);
    void focusChanged(TextField* oldFocus, TextField* newFocus);

    // --- the host's view of variables ------------------------------------------
    // `path` is relative to _level0: "name", "a.b.c", "_level1.x", "/clip:var",
    // "_root.clip.var". Values cross as text, as the control's SetVariable and
    // GetVariable carry them. setVariable answers false when the path leads nowhere.
    bool setVariable(std::string_view path, std::string_view value);
    std::optional<std::string> getVariable(std::string_view path);
    // Sets a text variable on a clip.
    void setClipVariable(Clip& clip, std::string_view name, std::string_view value);
    // loadVariables' answer: url-encoded "a=1&b=two" pairs become text variables of `clip`.
    void loadVariablesInto(Clip& clip, std::string_view urlEncoded);

    // --- ExternalInterface ------------------------------------------------------
    // Answers an <invoke> request to a function registered with
    // ExternalInterface.addCallback: the result as ExternalInterface XML
    // ("<undefined/>" when it returns nothing). nullopt when the request is
    // malformed or no such callback exists (lastError() says which).
    std::optional<std::string> callExternalCallback(std::string_view invokeXml);
    bool hasExternalCallback(std::string_view name) const;

    // --- timers -------------------------------------------------------------------
    // Fires every setInterval/setTimeout timer due at `nowMs` (Host::timerMs's
    // clock), each once and as an entry of its own: one that throws or runs
    // past the budget stops alone. A repeating timer is next due one interval
    // after it was due, or one interval from now when it fell further behind.
    // Answers the failures' messages.
    std::vector<std::string> runTimers(double nowMs);
    size_t timerCount() const;

    // --- registered classes (Object.registerClass) ----------------------------------
    // Makes a clip just placed by the timeline an instance of the class
    // registered for `linkage`, running its constructor with the clip as
    // `this`. Answers false, doing nothing, when no class is registered.
    bool constructClip(Clip& clip, std::string_view linkage);
    // --- the player's events, as the standard objects report them -------------------
    // Each broadcasts to the listeners of Key, Mouse or Stage as an entry of its
    // own. Key codes are the player's (the Windows virtual-key codes); `ascii` is
    // the character the key gives (0 when none).
    enum class MouseEvent { Down, Up, Move, Wheel };
    void keyDown(int code, int ascii);
    void keyUp(int code, int ascii);
    // A character typed (after its keyDown): what Key.getAscii() answers from now.
    void keyChar(int ascii);
    void mouseEvent(MouseEvent event, int wheelDelta = 0);
    // The player's view changed size: Stage.onResize when the stage is not scaled.
    void stageResized();
    // What became of Host::loadClip's load `id`: its movie arrived (`bytes`
    // long: onLoadProgress, onLoadComplete), then is in place with its first
    // frame run (onLoadInit); or it failed (onLoadError).
    enum class ClipLoad { Arrived, Initialized, Failed };
    void clipLoaded(uint32_t id, ClipLoad outcome, double bytes = 0);
    // The end of a frame: what the standard objects leave for it happens now
    // (LocalConnection's deliveries and their onStatus).
    void frameEnded();
    // The answer to Host::loadData's request `id`: its body, or nullopt when the
    // load failed. Unknown ids are ignored.
    void dataArrived(uint32_t id, std::optional<std::string_view> body);
    // What became of Host::openStream's stream `id`: onStatus with an info
    // object {code, level} ("NetStream.Play.Start", "status"), and onMetaData
    // with the file's metadata. Streams script no longer plays are skipped.
    void streamStatus(uint32_t id, std::string_view code, std::string_view level);
    void streamMetaData(uint32_t id, std::span<const std::pair<std::string, PropertyValue>> fields);

    // --- native classes and functions ---------------------------------------------
    Object* global();                 // _global
    Object* objectPrototype();
    Object* functionPrototype();
    Object* arrayPrototype();
    Object* movieClipPrototype();
    Object* newObject(Object* proto = nullptr);  // proto nullptr: Object.prototype
    Object* newArray(std::span<const Value> elements = {});
    Object* newFunction(NativeFn fn, std::string_view name = {});
    // A native method or function as a property of `on` (DontEnum).
    Object* defineFunction(Object* on, std::string_view name, NativeFn fn);
    // A native class: constructor `name` on `on` with a fresh prototype, answered.
    Object* defineClass(Object* on, std::string_view name, NativeFn constructor, Object* parentProto = nullptr);
    // An accessor property (what addProperty makes) backed by natives.
    void defineAccessor(Object* on, std::string_view name, NativeFn getter, NativeFn setter = nullptr);
    // The object at a dotted path under _global ("flash.external"), created as needed.
    Object* package(std::string_view dottedPath);

    // Member access with the interpreter's full rules (prototypes, accessors,
    // arrays, clips, primitives); for natives, during a call.
    Value getMember(const Value& target, std::string_view name);
    void setMember(const Value& target, std::string_view name, const Value& value);
    Value call(const Value& function, const Value& thisValue, std::span<const Value> args);
    // Conversions by the SWF version of the code running now (or the root movie's).
    std::string toString(const Value& value);
    double toNumber(const Value& value);
    bool toBoolean(const Value& value);
    int swfVersion() const;

    // --- diagnostics and determinism -----------------------------------------------
    const std::string& lastError() const;
    // Actions charged since the interpreter was made, over every entry: the
    // player bounds what one tick may run with it.
    uint64_t actionsRun() const;
    void setRandomSeed(uint64_t seed);
    // Collects unreachable objects now (also done on its own between entries).
    void collectGarbage();
    size_t liveObjects() const;

    struct State;  // the interpreter's inner state, for its own translation units

private:
    std::unique_ptr<State> state_;
};

}  // namespace refplayer::avm1
