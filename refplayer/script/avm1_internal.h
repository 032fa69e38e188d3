// Inner workings of the AVM1 interpreter, shared by its translation units.
// Not for use outside refplayer/script.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "avm1_vm.h"

namespace refplayer::avm1 {

using Code = std::vector<uint8_t>;
using ConstantPool = std::vector<Str>;

// Owns every object. Shared with ObjectRefs so that a pinned reference that
// outlives the interpreter still points into live memory.
class Heap {
public:
    ~Heap();
    Object* allocate(Object::Kind kind);
    // Frees every object not reached from `roots`, pinned objects or what they reach.
    void collect(const std::vector<Object*>& roots, const std::vector<const Value*>& rootValues);
    size_t size() const { return objects_.size(); }
    static void pin(Object* o) { ++o->pins_; }
    static void unpin(Object* o) { --o->pins_; }
    static void setKind(Object* o, Object::Kind kind) { o->kind_ = kind; }
    static void setScript(Object* o, std::unique_ptr<ScriptFunction> f);
    static void setNative(Object* o, std::unique_ptr<NativeFunction> f);
    static void setPrimitive(Object* o, Value v) { o->primitive_ = std::move(v); }
    static void setSuperProto(Object* o, Object* home) { o->superProto_ = home; }

private:
    std::vector<Object*> objects_;
};

struct ScriptFunction {
    struct Param {
        std::string name;
        uint8_t reg = 0;  // 0: a variable of the activation
    };
    std::shared_ptr<const Code> code;
    uint32_t begin = 0, end = 0;
    std::string name;
    std::vector<Param> params;
    bool v2 = false;            // DefineFunction2
    uint16_t flags = 0;         // DefineFunction2 preload/suppress flags
    uint8_t registerCount = 4;
    std::vector<Value> scope;   // the defining frame's scope chain, outermost first
    Value target;               // the defining timeline: where play/stop/goto act
    std::shared_ptr<const ConstantPool> pool;
    int swfVersion = 8;
};

struct NativeFunction {
    NativeFn fn;
    std::string name;
};

namespace fn2flags {
constexpr uint16_t PreloadThis = 0x0001, SuppressThis = 0x0002, PreloadArguments = 0x0004,
                   SuppressArguments = 0x0008, PreloadSuper = 0x0010, SuppressSuper = 0x0020,
                   PreloadRoot = 0x0040, PreloadParent = 0x0080, PreloadGlobal = 0x0100;
}

// Text helpers (avm1_text.cpp).
std::string formatNumber(double n);
double parseNumber(std::string_view text, int version);  // ToNumber of a string
double parseFloatPrefix(std::string_view text);
double parseIntPrefix(std::string_view text, int radix);
std::u32string decodeUtf8(std::string_view text);
std::string encodeUtf8(std::u32string_view chars);
void appendUtf8(std::string& out, char32_t c);
std::string urlEscape(std::string_view text);
std::string urlUnescape(std::string_view text);
// The byte offset of character `charIndex` of UTF-8 text, clamped to the text
// (the engine counts bytes; scripts count characters).
size_t utf8ByteOffset(std::string_view text, double charIndex);
bool equalsIgnoreCase(std::string_view a, std::string_view b);
std::string lowerAscii(std::string_view text);
// "123" -> 123 for canonical array indices (no sign, no leading zeros, < 2^32-1).
bool arrayIndex(std::string_view key, uint32_t& index);

// One activation: a top-level block or a function call.
struct Frame {
    std::shared_ptr<const Code> code;
    uint32_t codeEnd = 0;         // actions may not reach past this
    std::shared_ptr<const ConstantPool> pool;
    std::vector<Value> registers;
    std::vector<Value> scope;     // with-objects, activations, captured scopes; innermost last
    Value target;                 // timeline target (SetTarget changes it)
    Value originalTarget;
    Value thisValue;
    Object* activation = nullptr; // locals of a function call
    Object* callee = nullptr;
    Object* home = nullptr;       // the object the running method was found on (for super)
    int version = 8;
    size_t stackBase = 0;
    bool caseSensitive() const { return version >= 7; }
};

// Why the whole entry stops.
struct ScriptAbort {
    RunStatus status;
    std::string message;
};
// `throw` in script, until a try catches it.
struct ScriptThrow {
    Value value;
};

struct ExternalCallback {
    Value thisValue;
    Value function;
};

// A timer of setInterval or setTimeout: a function, or an object and the
// name of its method (looked up when the timer fires).
struct Timer {
    Value function;
    Value object;
    std::string method;
    std::vector<Value> args;
    double intervalMs = 0;
    double dueMs = 0;
    bool repeat = false;
};

struct Vm::State {
    State(Vm& vm, Host& host, Limits limits);

    Vm& vm;
    Host& host;
    Limits limits;
    std::shared_ptr<Heap> heap;

    Object* global = nullptr;
    Object* objectProto = nullptr;
    Object* functionProto = nullptr;
    Object* arrayProto = nullptr;
    Object* stringProto = nullptr;
    Object* numberProto = nullptr;
    Object* booleanProto = nullptr;
    Object* movieClipProto = nullptr;
    Object* externalInterface = nullptr;
    Object* dateProto = nullptr;
    Object* textFieldProto = nullptr;

    std::vector<Value> stack;
    std::vector<Frame*> frames;   // running activations, innermost last
    // The constant pool built last and the bytes of its action.
    std::string lastPoolBytes;
    std::shared_ptr<const ConstantPool> lastPool;
    uint32_t callDepth = 0;
    uint32_t regionDepth = 0;     // nested with/try bodies, each a nested execute()
    int entryDepth = 0;
    uint64_t actionsUsed = 0;
    uint64_t actionsTotal = 0;  // over every entry, for the player's per-tick bound
    uint64_t bytesUsed = 0;
    RunStatus entryStatus = RunStatus::Ok;
    std::string entryMessage;
    std::string lastError;

    std::map<std::string, ExternalCallback, std::less<>> callbacks;
    std::map<uint32_t, Timer> timers;  // by id, which only grows
    uint32_t nextTimerId = 1;
    // Object.registerClass: symbol linkage name -> constructor.
    std::map<std::string, Value, std::less<>> registeredClasses;
    // The standard objects the player's events reach (Key, Mouse, Stage, data
    // loads in flight ...), by name; pinned, so deleting their globals keeps them working.
    std::map<std::string, ObjectRef, std::less<>> standard;
    uint64_t rng = 0x9E3779B97F4A7C15ull;
    size_t liveAfterCollect = 0;

    // Player-wide properties kept by the interpreter itself.
    double highQuality = 1;
    double soundBufTime = 5;
    Value focusRect = Value::boolean(true);
    std::string quality = "HIGH";

    // --- budgets -----------------------------------------------------------------
    void charge(uint64_t actions) {
        actionsUsed += actions;
        actionsTotal += actions;
        if (actionsUsed > limits.actions)
            throw ScriptAbort{RunStatus::BudgetExceeded, "script ran too many actions and was stopped"};
    }
    void chargeBytes(uint64_t bytes) {
        bytesUsed += bytes;
        if (bytesUsed > limits.allocationBytes)
            throw ScriptAbort{RunStatus::OutOfMemory, "script allocated too much memory and was stopped"};
    }
    // A new string of `text` (checked against the string limit, charged).
    Value str(std::string text);
    void checkStringSize(uint64_t bytes) const {
        if (bytes > limits.stringBytes)
            throw ScriptAbort{RunStatus::OutOfMemory, "string too long"};
    }
    uint32_t nextRandom(uint32_t bound);  // 0 <= r < bound (bound > 0)
    double randomUnit();

    // --- objects -----------------------------------------------------------------
    Object* newObject(Object* proto);
    Object* newArray(std::vector<Value> elements);
    Object* newNative(NativeFn fn, std::string_view name);
    Object* newScriptFunction(std::unique_ptr<ScriptFunction> fn);
    Object* newSuper(const Value& thisValue, Object* home);
    Object* newBoxed(const Value& primitive);

    // --- frames and entries ----------------------------------------------------
    Frame* frame() const { return frames.empty() ? nullptr : frames.back(); }
    int version() const;
    bool caseSensitive() const { return version() >= 7; }

    // --- values -----------------------------------------------------------------
    std::string toString(const Value& v);
    double toNumber(const Value& v);
    bool toBoolean(const Value& v);
    int32_t toInt32(const Value& v);
    Value toPrimitive(const Value& v, bool preferString);
    std::string typeOf(const Value& v);
    bool looseEquals(const Value& a, const Value& b);
    static bool strictEquals(const Value& a, const Value& b);
    // ECMA abstract relational comparison a < b: true, false, or undefined (NaN).
    Value lessThan(const Value& a, const Value& b);
    Value add(const Value& a, const Value& b);

    // --- members ----------------------------------------------------------------
    Value getMember(const Value& target, const Value& key);
    Value getMember(const Value& target, std::string_view key);
    void setMember(const Value& target, const Value& key, const Value& value);
    void setMember(const Value& target, std::string_view key, const Value& value);
    bool deleteMember(const Value& target, std::string_view key);
    // Property lookup along the prototype chain; `where` receives the owner.
    Property* findProperty(Object* o, std::string_view key, Object** where = nullptr);
    Value readProperty(const Value& thisValue, Property* p);
    std::string memberKey(const Value& key);
    std::vector<std::string> enumerate(const Value& target);
    Object* protoOf(const Value& v);  // the prototype a primitive's members come from
    bool instanceOf(const Value& v, const Value& ctor);

    // --- clips and paths ---------------------------------------------------------
    Clip* resolveClip(const Value& v);
    Clip* resolveClipPath(std::string_view path);
    Value clipValue(Clip& c);
    std::string targetPath(Clip& c);
    std::string slashPath(Clip& c);
    Clip* rootOf(Clip* c);
    // A member of a clip: properties (_x ...), _parent/_root, children, then variables.
    bool clipMember(Clip& c, const Value& self, std::string_view key, Value& out);
    void setClipMember(Clip& c, const Value& self, std::string_view key, const Value& value);
    Value getClipProperty(Clip& c, ClipProperty p);
    void setClipProperty(Clip& c, ClipProperty p, const Value& v);
    // A target path (slash or dot syntax) from the frame's target; undefined when it leads nowhere.
    Value resolvePath(Frame& f, std::string_view path);
    Value getVariable(Frame& f, std::string_view name);
    void setVariable(Frame& f, std::string_view name, const Value& value);
    bool lookupName(Frame& f, std::string_view name, Value& out);
    bool deleteVariable(Frame& f, std::string_view name);
    void defineLocal(Frame& f, std::string_view name, const Value& value);
    Value superFor(Frame& f);
    std::string encodeVariables(const Value& clip);
    LoadTarget loadTarget(Frame& f, const Value& target);  // a level, a clip, or neither

    // --- calls ------------------------------------------------------------------
    Value call(const Value& fn, const Value& thisValue, std::span<const Value> args, Object* home = nullptr);
    Value construct(const Value& ctor, std::span<const Value> args);
    Value callScript(Object* fnObject, const Value& thisValue, std::span<const Value> args, Object* home);

    // --- entries ----------------------------------------------------------------
    // Runs `body` as a top-level entry (or nested in one), catching everything.
    // It never collects: the caller's values may be reachable from nowhere else.
    template <typename F>
    RunResult entry(F&& body);
    // Collects when the heap has grown enough; only between entries, and only
    // where everything the caller holds is rooted.
    void maybeCollect();
    void collect();

    // The object at a dotted path under _global, created as needed.
    Object* package(std::string_view dottedPath);

    // --- registered classes (avm1_object.cpp) ------------------------------------
    // The constructor registered for a symbol's linkage name (undefined when none).
    Value registeredClass(std::string_view linkage, bool caseSensitive);
    // Makes `clip` an instance of `ctor`: its members come from ctor.prototype,
    // and with `runConstructor` the constructor runs with the clip as `this`.
    void becomeInstance(Clip& clip, const Value& ctor, bool runConstructor);
};

template <typename F>
inline RunResult Vm::State::entry(F&& body) {
    RunResult result;
    const bool top = entryDepth == 0;
    if (top) {
        actionsUsed = 0;
        bytesUsed = 0;
    }
    const RunStatus outerStatus = entryStatus;
    const std::string outerMessage = entryMessage;
    entryStatus = RunStatus::Ok;
    entryMessage.clear();
    const size_t stackMark = stack.size();
    const size_t frameMark = frames.size();
    const uint32_t depthMark = callDepth;
    const uint32_t regionMark = regionDepth;
    ++entryDepth;
    try {
        body();
        result.status = entryStatus;
        result.message = entryMessage;
    } catch (const ScriptAbort& a) {
        result.status = a.status;
        result.message = a.message;
    } catch (const ScriptThrow& t) {
        result.status = RunStatus::UncaughtException;
        result.message = "uncaught exception";
        if (t.value.isPrimitive() && !t.value.isClip()) {
            // Describe it without running script: the budget may be spent.
            switch (t.value.type()) {
            case Value::Type::String: result.message += ": " + t.value.stringValue().str().substr(0, 200); break;
            case Value::Type::Number: result.message += ": " + formatNumber(t.value.numberValue()); break;
            default: break;
            }
        }
    } catch (const std::bad_alloc&) {
        result.status = RunStatus::OutOfMemory;
        result.message = "out of memory";
    } catch (const std::exception& e) {
        result.status = RunStatus::OutOfMemory;
        result.message = std::string("internal failure: ") + e.what();
    }
    --entryDepth;
    frames.resize(frameMark);
    if (stack.size() > stackMark) stack.resize(stackMark);
    callDepth = depthMark;
    regionDepth = regionMark;
    entryStatus = outerStatus;
    entryMessage = outerMessage;
    if (!result.ok()) lastError = result.message;
    return result;
}

// Restores the frame list, the operand stack and the call depth whatever way
// a call ends (return, script throw, abort).
class FrameGuard {
public:
    FrameGuard(Vm::State& s, Frame& f) : s_(s), depth_(s.frames.size()), stack_(f.stackBase) {
        s.frames.push_back(&f);
    }
    ~FrameGuard() {
        s_.frames.resize(depth_);
        if (s_.stack.size() > stack_) s_.stack.resize(stack_);
    }
    FrameGuard(const FrameGuard&) = delete;
    FrameGuard& operator=(const FrameGuard&) = delete;

private:
    Vm::State& s_;
    size_t depth_;
    size_t stack_;
};

// Assignment to an object's member with accessors and read-only members
// honoured (avm1_vm.cpp; a clip's variables go through it too).
void setObjectMember(Vm::State& s, Object* o, const Value& thisValue, std::string_view key, const Value& value);

// Each name=value pair of URL-encoded text ("a=1&b%20c=2"), unescaped, in
// order, each charged as an action; pairs without a name are skipped, a pair
// without "=" has an empty value. `each(name, value)` answers false to stop.
template <typename F>
void forEachUrlPair(Vm::State& s, std::string_view text, F&& each) {
    while (!text.empty()) {
        s.charge(1);
        const size_t amp = text.find('&');
        const std::string_view pair = text.substr(0, amp);
        text = amp == std::string_view::npos ? std::string_view() : text.substr(amp + 1);
        const size_t eq = pair.find('=');
        std::string name = urlUnescape(pair.substr(0, eq));
        if (name.empty()) continue;
        std::string value = eq == std::string_view::npos ? std::string() : urlUnescape(pair.substr(eq + 1));
        if (!each(std::move(name), std::move(value))) return;
    }
}

// Executes frames: the dispatch loop (avm1_interp.cpp).
struct Completion {
    enum Kind { Normal, Return, JumpOut, Malformed } kind = Normal;
    Value value;
    uint32_t target = 0;
};
Completion execute(Vm::State& s, Frame& f, uint32_t begin, uint32_t end);

// Natives: installBuiltins (avm1_natives.cpp) fills the global object by
// calling each family's install function, in order.
void installBuiltins(Vm::State& s);
void installObject(Vm::State& s);           // avm1_object.cpp
void installPropFlags(Vm::State& s);        // avm1_object.cpp
void installArray(Vm::State& s);            // avm1_array.cpp
void installString(Vm::State& s);           // avm1_string.cpp
void installNumber(Vm::State& s);           // avm1_math.cpp
void installGlobalFunctions(Vm::State& s);  // avm1_math.cpp
void installTimers(Vm::State& s);           // avm1_timers.cpp
void installDate(Vm::State& s);             // avm1_date.cpp
void installMovieClip(Vm::State& s);        // avm1_movieclip.cpp
void installExternalInterface(Vm::State& s);
void installTextField(Vm::State& s);        // avm1_textfield.cpp
void installTextFormat(Vm::State& s);       // avm1_textformat.cpp (after installTextField)
void installSelection(Vm::State& s);        // avm1_selection.cpp
// Selection.onSetFocus(oldFocus, newFocus) for Selection's listeners.
void selectionFocusChanged(Vm::State& s, const Value& oldFocus, const Value& newFocus);

// The text field a script object denotes (nullptr when it denotes none, or
// its field has gone).
TextField* textFieldOf(const Value& v);

}  // namespace refplayer::avm1
