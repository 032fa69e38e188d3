// An assembler for AVM1 action records: actions by name with typed operands,
// branch labels resolved to byte offsets, nested function bodies, and helpers
// that emit what the ActionScript 1/2 compiler produces for common statements.
#pragma once

#include "swfwriter/swf_buffer.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace refplayer::swfwriter {

// Actions without operands: X(method, code, name). The name is what the text
// format and `simpleActionCode` accept (case-insensitive).
#define KV_SWF_SIMPLE_ACTIONS(X)                                                   \
    X(nextFrame, 0x04, "NextFrame") X(prevFrame, 0x05, "PrevFrame")                \
    X(play, 0x06, "Play") X(stop, 0x07, "Stop")                                    \
    X(toggleQuality, 0x08, "ToggleQuality") X(stopSounds, 0x09, "StopSounds")      \
    X(add, 0x0A, "Add") X(subtract, 0x0B, "Subtract")                              \
    X(multiply, 0x0C, "Multiply") X(divide, 0x0D, "Divide")                        \
    X(equals, 0x0E, "Equals") X(less, 0x0F, "Less")                                \
    X(and_, 0x10, "And") X(or_, 0x11, "Or") X(not_, 0x12, "Not")                   \
    X(stringEquals, 0x13, "StringEquals") X(stringLength, 0x14, "StringLength")    \
    X(stringExtract, 0x15, "StringExtract") X(pop, 0x17, "Pop")                    \
    X(toInteger, 0x18, "ToInteger") X(getVariable, 0x1C, "GetVariable")            \
    X(setVariable, 0x1D, "SetVariable") X(setTarget2, 0x20, "SetTarget2")          \
    X(stringAdd, 0x21, "StringAdd") X(getProperty, 0x22, "GetProperty")            \
    X(setProperty, 0x23, "SetProperty") X(cloneSprite, 0x24, "CloneSprite")        \
    X(removeSprite, 0x25, "RemoveSprite") X(trace, 0x26, "Trace")                  \
    X(startDrag, 0x27, "StartDrag") X(endDrag, 0x28, "EndDrag")                    \
    X(stringLess, 0x29, "StringLess") X(throw_, 0x2A, "Throw")                     \
    X(castOp, 0x2B, "CastOp") X(implementsOp, 0x2C, "ImplementsOp")                \
    X(randomNumber, 0x30, "RandomNumber") X(mbStringLength, 0x31, "MBStringLength") \
    X(charToAscii, 0x32, "CharToAscii") X(asciiToChar, 0x33, "AsciiToChar")        \
    X(getTime, 0x34, "GetTime") X(mbStringExtract, 0x35, "MBStringExtract")        \
    X(mbCharToAscii, 0x36, "MBCharToAscii") X(mbAsciiToChar, 0x37, "MBAsciiToChar") \
    X(delete_, 0x3A, "Delete") X(delete2, 0x3B, "Delete2")                         \
    X(defineLocal, 0x3C, "DefineLocal") X(callFunction, 0x3D, "CallFunction")      \
    X(return_, 0x3E, "Return") X(modulo, 0x3F, "Modulo")                           \
    X(newObject, 0x40, "NewObject") X(defineLocal2, 0x41, "DefineLocal2")          \
    X(initArray, 0x42, "InitArray") X(initObject, 0x43, "InitObject")              \
    X(typeOf, 0x44, "TypeOf") X(targetPath, 0x45, "TargetPath")                    \
    X(enumerate, 0x46, "Enumerate") X(add2, 0x47, "Add2") X(less2, 0x48, "Less2")  \
    X(equals2, 0x49, "Equals2") X(toNumber, 0x4A, "ToNumber")                      \
    X(toString, 0x4B, "ToString") X(pushDuplicate, 0x4C, "PushDuplicate")          \
    X(stackSwap, 0x4D, "StackSwap") X(getMember, 0x4E, "GetMember")                \
    X(setMember, 0x4F, "SetMember") X(increment, 0x50, "Increment")                \
    X(decrement, 0x51, "Decrement") X(callMethod, 0x52, "CallMethod")              \
    X(newMethod, 0x53, "NewMethod") X(instanceOf, 0x54, "InstanceOf")              \
    X(enumerate2, 0x55, "Enumerate2") X(bitAnd, 0x60, "BitAnd")                    \
    X(bitOr, 0x61, "BitOr") X(bitXor, 0x62, "BitXor")                              \
    X(bitLShift, 0x63, "BitLShift") X(bitRShift, 0x64, "BitRShift")                \
    X(bitURShift, 0x65, "BitURShift") X(strictEquals, 0x66, "StrictEquals")       \
    X(greater, 0x67, "Greater") X(stringGreater, 0x68, "StringGreater")            \
    X(extends, 0x69, "Extends")

// Action codes with operands.
namespace action {
constexpr uint8_t GotoFrame = 0x81, GetURL = 0x83, StoreRegister = 0x87, ConstantPool = 0x88,
                  WaitForFrame = 0x8A, SetTarget = 0x8B, GoToLabel = 0x8C, WaitForFrame2 = 0x8D,
                  DefineFunction2 = 0x8E, Try = 0x8F, With = 0x94, Push = 0x96, Jump = 0x99,
                  GetURL2 = 0x9A, DefineFunction = 0x9B, If = 0x9D, Call = 0x9E, GotoFrame2 = 0x9F;
}

// The code of an operand-less action by name, case-insensitive.
std::optional<uint8_t> simpleActionCode(std::string_view name);

// Push operands. Each maps to one Push value type.
struct Null {};
struct Undefined {};
struct Register { uint8_t index; };
struct Constant { uint16_t index; };  // 8-bit form below 256, else 16-bit
struct Float { float value; };

class PushValue {
public:
    using Storage = std::variant<std::string, double, int32_t, bool, Null, Undefined, Register, Constant, Float>;
    PushValue(const char* s) : v_(std::string(s)) {}
    PushValue(std::string s) : v_(std::move(s)) {}
    PushValue(std::string_view s) : v_(std::string(s)) {}
    PushValue(double d) : v_(d) {}
    PushValue(int32_t i) : v_(i) {}
    PushValue(bool b) : v_(b) {}
    PushValue(Null n) : v_(n) {}
    PushValue(Undefined u) : v_(u) {}
    PushValue(Register r) : v_(r) {}
    PushValue(Constant c) : v_(c) {}
    PushValue(Float f) : v_(f) {}
    const Storage& value() const { return v_; }
    // Appends the value's type byte and payload.
    void encode(SwfBuffer& out) const;

private:
    Storage v_;
};

class ActionAssembler;

// A call argument or assigned value: a literal, or code that leaves one
// value on the stack.
using Emitter = std::function<void(ActionAssembler&)>;
using Operand = std::variant<PushValue, Emitter>;

// A branch target inside one assembler.
struct Label {
    uint32_t owner = 0;
    uint32_t index = 0;
};

// DefineFunction2 flags (the 16-bit field as stored, little-endian).
namespace fn2 {
constexpr uint16_t PreloadThis = 0x0001, SuppressThis = 0x0002, PreloadArguments = 0x0004,
                   SuppressArguments = 0x0008, PreloadSuper = 0x0010, SuppressSuper = 0x0020,
                   PreloadRoot = 0x0040, PreloadParent = 0x0080, PreloadGlobal = 0x0100;
}

struct RegisterParam {
    uint8_t reg = 0;  // 0: the parameter lives in a variable, not a register
    std::string name{};
};

// GetURL2 send-variables method.
enum class SendVars : uint8_t { None = 0, Get = 1, Post = 2 };

class ActionAssembler {
public:
    ActionAssembler();

    // --- labels ----------------------------------------------------------------
    Label newLabel();
    // Binds `label` to the current position; a label binds once.
    ActionAssembler& bind(Label label);
    ActionAssembler& jump(Label target);
    ActionAssembler& branchIfTrue(Label target);  // ActionIf

    // --- operand-less actions ----------------------------------------------------
#define KV_SWF_DECLARE(method, code, name) ActionAssembler& method() { return simple(code); }
    KV_SWF_SIMPLE_ACTIONS(KV_SWF_DECLARE)
#undef KV_SWF_DECLARE
    ActionAssembler& simple(uint8_t code);

    // --- actions with operands ---------------------------------------------------
    ActionAssembler& push(std::initializer_list<PushValue> values);
    ActionAssembler& push(const std::vector<PushValue>& values);
    ActionAssembler& push(const PushValue& value) { return push({value}); }
    ActionAssembler& constantPool(const std::vector<std::string>& pool);
    ActionAssembler& storeRegister(uint8_t reg);
    ActionAssembler& gotoFrame(uint16_t frameIndex);  // 0-based
    ActionAssembler& gotoFrame2(bool play, uint16_t sceneBias = 0);
    ActionAssembler& goToLabel(std::string_view label);
    ActionAssembler& getUrl(std::string_view url, std::string_view target);
    ActionAssembler& getUrl2(SendVars method, bool loadTarget, bool loadVariables);
    ActionAssembler& setTarget(std::string_view target);
    ActionAssembler& waitForFrame(uint16_t frame, uint8_t skipCount);
    ActionAssembler& defineFunction(std::string_view name, const std::vector<std::string>& params,
                                    const ActionAssembler& body);
    ActionAssembler& defineFunction2(std::string_view name, uint8_t registerCount, uint16_t flags,
                                     const std::vector<RegisterParam>& params, const ActionAssembler& body);
    // Any action by code; codes from 0x80 carry `payload` behind a length field.
    ActionAssembler& raw(uint8_t code, std::span<const uint8_t> payload = {});

    // --- what compiled ActionScript produces ------------------------------------
    // Leaves `operand` on the stack.
    ActionAssembler& value(const Operand& operand);
    // Leaves the value of a dotted path ("_root.menu.x", "flash.external") on the stack.
    ActionAssembler& getPath(std::string_view dotted);
    // path = value; a single name is a variable, a dotted path ends in a member.
    ActionAssembler& setPath(std::string_view dotted, const Operand& value);
    // fscommand("cmd", "args"): GetURL "FSCommand:cmd" with target "args".
    ActionAssembler& fscommand(std::string_view command, std::string_view args);
    // name(args...) as a statement (the result is popped unless `keepResult`).
    ActionAssembler& callFunction(std::string_view name, const std::vector<Operand>& args, bool keepResult = false);
    // objectPath.method(args...) as a statement.
    ActionAssembler& callMethod(std::string_view objectPath, std::string_view method,
                                const std::vector<Operand>& args, bool keepResult = false);
    // flash.external.ExternalInterface.call(name, args...).
    ActionAssembler& externalCall(std::string_view name, const std::vector<Operand>& args, bool keepResult = false);
    // flash.external.ExternalInterface.addCallback(name, instance, method).
    ActionAssembler& addCallback(std::string_view name, const Operand& instance, const Operand& method);
    // gotoAndPlay / gotoAndStop with a 1-based frame number or a label.
    ActionAssembler& gotoAndPlay(uint16_t frame) { return gotoFrame(frameIndex(frame)).play(); }
    ActionAssembler& gotoAndStop(uint16_t frame) { return gotoFrame(frameIndex(frame)); }
    ActionAssembler& gotoAndPlay(std::string_view label) { return goToLabel(label).play(); }
    ActionAssembler& gotoAndStop(std::string_view label) { return goToLabel(label); }
    // trace(value).
    ActionAssembler& traceValue(const Operand& v) { return value(v).trace(); }

    // --- output ------------------------------------------------------------------
    // The action records with every branch resolved, without the terminating
    // ActionEndFlag (DoAction and button actions append it).
    std::vector<uint8_t> assemble() const;
    bool empty() const { return code_.size() == 0; }

private:
    struct Fixup {
        size_t at;  // offset of the 16-bit branch field
        uint32_t label;
    };
    static uint16_t frameIndex(uint16_t frame);
    // Runs `emit`; if it throws, the block is put back as it was.
    template <class F>
    ActionAssembler& atomically(F&& emit);
    ActionAssembler& branch(uint8_t code, Label target);
    void record(uint8_t code, const SwfBuffer& payload);
    void checkOwn(Label label) const;

    uint32_t serial_;
    SwfBuffer code_;
    std::vector<std::optional<size_t>> labels_;
    std::vector<Fixup> fixups_;
};

}  // namespace refplayer::swfwriter
