// Test support for the AVM1 interpreter: a fake player (host and clips) that
// records the calls it receives, and a small assembler for action blocks.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

#include "avm1_vm.h"

namespace scripttest {

using namespace refplayer;

class FakeHost;

// A clip with a timeline of `totalFrames` frames and optional labels. Commands
// are appended to the host's log as "<target path>.<call>".
class FakeClip : public avm1::Clip {
public:
    FakeClip(FakeHost& host, std::string name, FakeClip* parent, int level);

    FakeClip& addChild(const std::string& name);
    void removeChild(const std::string& name);

    avm1::Object* variables() override { return vars_.get(); }
    Clip* parent() override { return parent_; }
    Clip* childByName(std::string_view name, bool caseSensitive) override;
    std::string name() const override { return name_; }
    int level() const override { return level_; }
    int swfVersion() const override { return version; }
    int currentFrame() const override { return frame; }
    int totalFrames() const override { return total; }
    std::optional<int> frameOfLabel(std::string_view label) const override;
    avm1::PropertyValue getProperty(avm1::ClipProperty p) const override;
    void setProperty(avm1::ClipProperty p, const avm1::PropertyValue& v) override;
    void gotoFrame(int f, bool play) override;
    void play() override;
    void stop() override;
    void nextFrame() override;
    void prevFrame() override;
    void callFrame(int f) override;
    void duplicate(std::string_view newName, int depth) override;
    void remove() override;
    avm1::ClipColor clipColor() const override { return color; }
    void setClipColor(const avm1::ClipColor& c) override {
        color = c;
        log("setClipColor");
    }

    std::string path() const;

    int version = 8;
    int frame = 0;
    int total = 10;
    bool playing = false;
    std::map<std::string, int> labels;
    std::map<avm1::ClipProperty, avm1::PropertyValue> props;
    std::map<int, std::vector<uint8_t>> frameScripts;  // for the Call action
    avm1::ClipColor color;

private:
    void log(const std::string& what);
    FakeHost& host_;
    std::string name_;
    FakeClip* parent_;
    int level_;
    avm1::ObjectRef vars_;
    std::vector<std::unique_ptr<FakeClip>> children_;
};

class FakeHost : public avm1::Host {
public:
    FakeClip& addLevel(int n, int version = 8);
    void removeLevel(int n) { levels_.erase(n); }

    avm1::Clip* level(int n) override;
    void trace(std::string_view text) override { traces.emplace_back(text); }
    double timerMs() override { return timer; }
    double wallClockMs() override { return wall; }
    double localOffsetMs(double) override { return zoneMs; }
    void getUrl(const avm1::UrlRequest& r) override;
    void fsCommand(const std::string& command, const std::string& args) override;
    void loadMovie(const avm1::LoadTarget& t, const avm1::UrlRequest& r) override;
    void loadVariables(const avm1::LoadTarget& t, const avm1::UrlRequest& r) override;
    bool externalAvailable() override { return available; }
    std::optional<std::string> externalCall(const std::string& name, const std::string& xml) override;
    bool addCallback(const std::string& name) override;
    Size movieSize() override { return movie; }
    Size viewSize() override { return view; }
    void stageLayout(std::string_view scaleMode, std::string_view align) override {
        log.push_back("stageLayout " + std::string(scaleMode) + " " + std::string(align));
    }
    void setMouseVisible(bool visible) override { log.push_back(visible ? "mouse shown" : "mouse hidden"); }
    std::string playerType() override { return "PlugIn"; }
    // Logs "loadData <id> <url> <method>[ post=...]"; answers the next id, or 0 when refuseLoads.
    uint32_t loadData(const avm1::UrlRequest& r) override;
    // Logs "loadClip <id> <target> <url>" and answers the next id.
    uint32_t loadClip(const avm1::LoadTarget& t, const avm1::UrlRequest& r) override;

    avm1::Vm* vm = nullptr;
    std::vector<std::string> log;
    std::vector<std::string> traces;
    std::vector<std::pair<std::string, std::string>> externalCalls;  // name, request XML
    std::optional<std::string> externalAnswer;
    double timer = 0;
    double wall = 1109631570250;  // Mon, 28 Feb 2005 22:59:30.250 UTC
    double zoneMs = 0;
    bool available = true;
    Size movie{550, 400};
    Size view{550, 400};
    bool refuseLoads = false;
    uint32_t lastLoad = 0;

private:
    std::map<int, std::unique_ptr<FakeClip>> levels_;
};

// --- a tiny action assembler ------------------------------------------------------

struct Null {};
struct Undef {};
struct Reg {
    uint8_t index;
};
struct Pool {
    uint16_t index;
};
struct F32 {
    float value;
};
using PushItem = std::variant<std::string, const char*, double, int, bool, Null, Undef, Reg, Pool, F32>;

class Asm {
public:
    Asm& op(uint8_t code);
    Asm& record(uint8_t code, const std::vector<uint8_t>& payload);
    Asm& push(std::initializer_list<PushItem> items);
    Asm& pool(const std::vector<std::string>& strings);
    // Branches to a label bound before or after.
    Asm& jump(const std::string& label) { return branch(0x99, label); }
    Asm& ifTrue(const std::string& label) { return branch(0x9D, label); }
    Asm& label(const std::string& name);
    Asm& function(const std::string& name, const std::vector<std::string>& params, const Asm& body);
    Asm& function2(const std::string& name, uint8_t registers, uint16_t flags,
                   const std::vector<std::pair<uint8_t, std::string>>& params, const Asm& body);
    Asm& storeRegister(uint8_t r) { return record(0x87, {r}); }
    Asm& with(const Asm& body);
    Asm& tryCatch(const Asm& body, const std::string& catchName, const Asm& handler,
                  const std::optional<Asm>& finally = std::nullopt);
    Asm& getUrl(const std::string& url, const std::string& target);
    Asm& getUrl2(uint8_t flags) { return record(0x9A, {flags}); }
    Asm& gotoFrame(uint16_t frame) { return record(0x81, {static_cast<uint8_t>(frame), static_cast<uint8_t>(frame >> 8)}); }
    Asm& gotoLabel(const std::string& label);
    Asm& gotoFrame2(bool play) { return record(0x9F, {static_cast<uint8_t>(play ? 1 : 0)}); }
    Asm& setTarget(const std::string& target);

    // Compiled-statement helpers.
    Asm& getVar(const std::string& name) { return push({name}).op(0x1C); }
    Asm& setVar(const std::string& name, PushItem value) { return push({name, value}).op(0x1D); }
    Asm& trace(PushItem value) { return push({value}).op(0x26); }
    Asm& traceVar(const std::string& name) { return getVar(name).op(0x26); }
    // name(args) leaving the result on the stack; args pushed last first.
    Asm& call(const std::string& name, std::initializer_list<PushItem> args);
    // object.method(args) leaving the result; `object` is a variable path.
    Asm& callMethod(const std::string& object, const std::string& method, std::initializer_list<PushItem> args);

    std::vector<uint8_t> bytes() const;  // with branches resolved, plus the end flag
    std::vector<uint8_t> body() const;   // without the end flag (function bodies)

private:
    Asm& branch(uint8_t code, const std::string& label);
    std::vector<uint8_t> code_;
    std::map<std::string, size_t> labels_;
    std::vector<std::pair<size_t, std::string>> fixups_;
};

// A fixture with a host, an interpreter and _level0.
class ScriptTest : public ::testing::Test {
protected:
    ScriptTest() {
        host.vm = &vm;
        root = &host.addLevel(0, 8);
    }
    avm1::RunResult run(const Asm& code, avm1::Clip* clip = nullptr) {
        return vm.run(code.bytes(), clip ? *clip : *root);
    }
    // A variable's text as the host reads it ("" when undefined).
    std::string var(const std::string& path) { return vm.getVariable(path).value_or("<undefined>"); }

    FakeHost host;
    avm1::Vm vm{host};
    FakeClip* root = nullptr;
};

}  // namespace scripttest
