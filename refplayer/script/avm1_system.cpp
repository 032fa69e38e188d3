// System: the player's capabilities, its security sandbox and the code-page
// switch. The capabilities describe this player as it is: Windows, version 8,
// video but no sound, no printing.
#include <string>

#include "avm1_standard.h"

namespace refplayer::avm1 {

using namespace standard;

namespace {

constexpr const char* kVersion = "WIN 8,0,0,0";
constexpr const char* kManufacturer = "Macromedia Windows";
constexpr const char* kOs = "Windows XP";

struct Capability {
    const char* name;
    const char* serverKey;  // its key in serverString
    bool value;
};

// What this player can do; serverString repeats them in its own short form.
constexpr Capability kFlags[] = {
    {"hasAudio", "A", false},          {"hasStreamingAudio", "SA", false}, {"hasStreamingVideo", "SV", true},
    {"hasEmbeddedVideo", "EV", true},  {"hasMP3", "MP3", false},          {"hasAudioEncoder", "AE", false},
    {"hasVideoEncoder", "VE", false},  {"hasAccessibility", "ACC", false}, {"hasPrinting", "PR", false},
    {"hasScreenPlayback", "SP", false}, {"hasScreenBroadcast", "SB", false}, {"isDebugger", "DEB", false},
    {"avHardwareDisable", "AVD", true}, {"localFileReadDisable", "LFD", false}, {"windowlessDisable", "WD", false},
    {"hasIME", "IME", false},
};

std::string serverString(State& s) {
    const Host::Size screen = s.host.screenSize();
    std::string out;
    auto add = [&](std::string_view key, std::string_view value) {
        if (!out.empty()) out += '&';
        out += key;
        out += '=';
        out += urlEscape(value);
    };
    for (const Capability& c : kFlags) add(c.serverKey, c.value ? "t" : "f");
    add("V", kVersion);
    add("M", kManufacturer);
    add("R", std::to_string(screen.width) + "x" + std::to_string(screen.height));
    add("DP", "72");
    add("COL", "color");
    add("AR", "1.0");
    add("OS", kOs);
    add("L", "en");
    add("PT", s.host.playerType());
    return out;
}

// The host's facts are asked for when read: the player may not be complete
// yet when the interpreter is made.
Value screenX(State& s, NativeCall&) { return Value::number(s.host.screenSize().width); }
Value screenY(State& s, NativeCall&) { return Value::number(s.host.screenSize().height); }
Value playerType(State& s, NativeCall&) { return s.str(s.host.playerType()); }
Value serverStringGetter(State& s, NativeCall&) { return s.str(serverString(s)); }

Value nothing(State&, NativeCall&) { return {}; }
Value sandboxType(State& s, NativeCall&) {
    // Every host of this player disables local security, which makes a local
    // movie trusted: it may both read files and reach the network.
    return s.str("localTrusted");
}

Value setClipboard(State& s, NativeCall& c) {
    // No clipboard here: the text is converted (as the player would) and dropped.
    (void)s.toString(c.arg(0));
    return Value::boolean(true);
}

}  // namespace

void installSystem(Vm::State& s) {
    Object* system = globalObject(s, "System");
    // Movies written for SWF 6 and earlier may set it to read their texts in the
    // system code page; every text here is bytes already, so it is only kept.
    system->setOwn("useCodepage", Value::boolean(false), kDontEnum);
    system->setOwn("exactSettings", Value::boolean(true), kDontEnum);
    method(s, system, "setClipboard", setClipboard);
    method(s, system, "showSettings", nothing);

    Object* capabilities = s.newObject(s.objectProto);
    system->setOwn("capabilities", Value::object(capabilities), kDontEnum);
    for (const Capability& c : kFlags) constant(capabilities, c.name, Value::boolean(c.value));
    constant(capabilities, "version", s.str(kVersion));
    constant(capabilities, "manufacturer", s.str(kManufacturer));
    constant(capabilities, "os", s.str(kOs));
    constant(capabilities, "language", s.str("en"));
    constant(capabilities, "screenColor", s.str("color"));
    constant(capabilities, "screenDPI", Value::number(72));
    constant(capabilities, "pixelAspectRatio", Value::number(1));
    accessor(s, capabilities, "playerType", playerType);
    accessor(s, capabilities, "screenResolutionX", screenX);
    accessor(s, capabilities, "screenResolutionY", screenY);
    accessor(s, capabilities, "serverString", serverStringGetter);

    Object* security = s.newObject(s.objectProto);
    system->setOwn("security", Value::object(security), kDontEnum);
    accessor(s, security, "sandboxType", sandboxType);
    // Every domain may script this movie already: these grant nothing more.
    method(s, security, "allowDomain", nothing);
    method(s, security, "allowInsecureDomain", nothing);
    method(s, security, "loadPolicyFile", nothing);
}

}  // namespace refplayer::avm1
