// Key and Mouse: the keyboard's state and the pointer, with their listeners,
// fed by the player from the input it receives.
#include <bitset>

#include "avm1_standard.h"

namespace refplayer::avm1 {

using namespace standard;

namespace {

constexpr int kCapsLock = 20;
constexpr int kNumLock = 144;

struct KeyData : NativeData {
    std::bitset<256> down;
    int lastCode = 0;
    int lastAscii = 0;
    bool capsLock = false;
    bool numLock = false;
};

struct MouseData : NativeData {
    bool visible = true;
};

KeyData& keys(State& s) { return *static_cast<KeyData*>(kept(s, "Key")->nativeData()); }
MouseData& mouse(State& s) { return *static_cast<MouseData*>(kept(s, "Mouse")->nativeData()); }

Value isDown(State& s, NativeCall& c) {
    const double code = s.toNumber(c.arg(0));
    return Value::boolean(code >= 0 && code < 256 && keys(s).down[static_cast<size_t>(code)]);
}

Value isToggled(State& s, NativeCall& c) {
    const double code = s.toNumber(c.arg(0));
    if (code == kCapsLock) return Value::boolean(keys(s).capsLock);
    if (code == kNumLock) return Value::boolean(keys(s).numLock);
    return Value::boolean(false);
}

Value getCode(State& s, NativeCall&) { return Value::number(keys(s).lastCode); }
Value getAscii(State& s, NativeCall&) { return Value::number(keys(s).lastAscii); }

// Both answer 1 when the pointer was visible before the call, 0 when hidden.
Value setVisible(State& s, bool visible) {
    MouseData& m = mouse(s);
    const bool was = m.visible;
    m.visible = visible;
    if (was != visible) s.host.setMouseVisible(visible);
    return Value::number(was ? 1 : 0);
}
Value hide(State& s, NativeCall&) { return setVisible(s, false); }
Value show(State& s, NativeCall&) { return setVisible(s, true); }

int keyCode(int code) { return code & 0xFF; }

}  // namespace

void installInput(Vm::State& s) {
    Object* key = globalObject(s, "Key");
    key->setNativeData(std::make_unique<KeyData>());
    keep(s, "Key", key);
    makeBroadcaster(s, key);
    method(s, key, "isDown", isDown);
    method(s, key, "isToggled", isToggled);
    method(s, key, "getCode", getCode);
    method(s, key, "getAscii", getAscii);
    static constexpr std::pair<std::string_view, int> kCodes[] = {
        {"BACKSPACE", 8}, {"TAB", 9},       {"ENTER", 13},  {"SHIFT", 16}, {"CONTROL", 17},
        {"CAPSLOCK", 20}, {"ESCAPE", 27},   {"SPACE", 32},  {"PGUP", 33},  {"PGDN", 34},    {"END", 35},
        {"HOME", 36},     {"LEFT", 37},     {"UP", 38},     {"RIGHT", 39}, {"DOWN", 40},    {"INSERT", 45},
        {"DELETEKEY", 46},
    };
    for (const auto& [name, code] : kCodes) constant(key, name, Value::number(code));

    Object* m = globalObject(s, "Mouse");
    m->setNativeData(std::make_unique<MouseData>());
    keep(s, "Mouse", m);
    makeBroadcaster(s, m);
    method(s, m, "hide", hide);
    method(s, m, "show", show);
}

void Vm::keyDown(int code, int ascii) {
    State& s = *state_;
    KeyData& k = keys(s);
    code = keyCode(code);
    // The lock keys change state on the press, as the keyboard's lights do.
    if (code == kCapsLock && !k.down[kCapsLock]) k.capsLock = !k.capsLock;
    if (code == kNumLock && !k.down[kNumLock]) k.numLock = !k.numLock;
    k.down[static_cast<size_t>(code)] = true;
    k.lastCode = code;
    k.lastAscii = ascii;
    playerEvent(s, [&] { broadcast(s, kept(s, "Key"), "onKeyDown"); });
}

void Vm::keyUp(int code, int ascii) {
    State& s = *state_;
    KeyData& k = keys(s);
    code = keyCode(code);
    k.down[static_cast<size_t>(code)] = false;
    k.lastCode = code;
    k.lastAscii = ascii;
    playerEvent(s, [&] { broadcast(s, kept(s, "Key"), "onKeyUp"); });
}

void Vm::keyChar(int ascii) { keys(*state_).lastAscii = ascii; }

void Vm::mouseEvent(MouseEvent event, int wheelDelta) {
    State& s = *state_;
    Object* m = kept(s, "Mouse");
    playerEvent(s, [&] {
        switch (event) {
        case MouseEvent::Down: broadcast(s, m, "onMouseDown"); break;
        case MouseEvent::Up: broadcast(s, m, "onMouseUp"); break;
        case MouseEvent::Move: broadcast(s, m, "onMouseMove"); break;
        case MouseEvent::Wheel: {
            const Value args[1] = {Value::number(wheelDelta)};
            broadcast(s, m, "onMouseWheel", args);
            break;
        }
        }
    });
}

}  // namespace refplayer::avm1
