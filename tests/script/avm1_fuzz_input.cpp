// One fuzz input for the interpreter: the first byte picks the SWF version;
// the rest is an action block, run on two clips of a small fake player and
// then poked through the host's entry points: timers fired on the clock,
// clips attached and built as registered classes. Limits are small so that each
// input runs quickly. The fuzzer and the regression tests share it.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "avm1_fuzz_input.h"
#include "avm1_vm.h"

namespace {

using namespace refplayer::avm1;

class FuzzClip : public Clip {
public:
    FuzzClip(Vm& vm, std::string name, FuzzClip* parent, int version)
        : vm_(vm), vars_(vm.newClipObject()), name_(std::move(name)), parent_(parent), version_(version) {}
    std::vector<std::unique_ptr<FuzzClip>> children;

    Object* variables() override { return vars_.get(); }
    Clip* parent() override { return parent_; }
    Clip* childByName(std::string_view name, bool) override {
        for (auto& c : children)
            if (c->name_ == name) return c.get();
        return nullptr;
    }
    std::string name() const override { return name_; }
    int level() const override { return 0; }
    int swfVersion() const override { return version_; }
    int currentFrame() const override { return frame_; }
    int totalFrames() const override { return 5; }
    std::optional<int> frameOfLabel(std::string_view label) const override {
        return label == "a" ? std::optional<int>(2) : std::nullopt;
    }
    PropertyValue getProperty(ClipProperty p) const override {
        if (p == ClipProperty::Visible) return true;
        if (p == ClipProperty::Url) return std::string("http://x/m.swf");
        return 1.5;
    }
    void setProperty(ClipProperty, const PropertyValue&) override {}
    void gotoFrame(int f, bool) override { frame_ = f < 0 ? 0 : f > 4 ? 4 : f; }
    void play() override {}
    void stop() override {}
    void nextFrame() override {}
    void prevFrame() override {}
    // Any linkage attaches an empty clip, so registered classes get built.
    bool attachMovie(std::string_view, std::string_view newName, int) override {
        if (children.size() >= 8 || childByName(newName, true)) return false;
        children.push_back(std::make_unique<FuzzClip>(vm_, std::string(newName), this, version_));
        return true;
    }

private:
    Vm& vm_;
    ObjectRef vars_;
    std::string name_;
    FuzzClip* parent_;
    int version_;
    int frame_ = 0;
};

class FuzzHost : public Host {
public:
    Clip* level(int n) override { return n == 0 ? root : nullptr; }
    void trace(std::string_view) override {}
    double timerMs() override { return clock; }
    double wallClockMs() override { return 1109631570250.0; }
    // A zone with daylight saving: an hour more in the second half of each
    // (UTC) day, so local and UTC conversions cross offset changes.
    double localOffsetMs(double utcMs) override {
        return std::fabs(std::fmod(utcMs, 86400000.0)) >= 43200000.0 ? 7200000.0 : 3600000.0;
    }
    void getUrl(const UrlRequest&) override {}
    void fsCommand(const std::string&, const std::string&) override {}
    void loadMovie(const LoadTarget&, const UrlRequest&) override {}
    void loadVariables(const LoadTarget&, const UrlRequest&) override {}
    std::optional<std::string> externalCall(const std::string&, const std::string&) override {
        return std::string("<array><property id=\"0\"><string>x</string></property></array>");
    }
    // Loads get ids 1, 2, 3 ...; the input's end answers the first few.
    uint32_t loadData(const UrlRequest&) override { return ++loads; }
    uint32_t loadClip(const LoadTarget&, const UrlRequest&) override { return ++clipLoads; }
    FuzzClip* root = nullptr;
    double clock = 1234;
    uint32_t loads = 0;
    uint32_t clipLoads = 0;
};

}  // namespace

void runAvm1FuzzInput(const uint8_t* data, size_t size) {
    if (size < 1) return;
    const int version = 4 + data[0] % 5;
    const std::span<const uint8_t> code(data + 1, size - 1);
    Limits limits;
    limits.actions = 20000;
    limits.allocationBytes = 4u << 20;
    limits.stringBytes = 1u << 20;
    limits.denseArray = 4096;
    limits.callDepth = 64;
    FuzzHost host;
    Vm vm(host, limits);
    FuzzClip root(vm, "", nullptr, version);
    root.children.push_back(std::make_unique<FuzzClip>(vm, "a", &root, version));
    root.children[0]->children.push_back(std::make_unique<FuzzClip>(vm, "b", root.children[0].get(), version));
    host.root = &root;

    vm.run(code, root);
    vm.run(code, *root.children[0]->children[0]);
    const Value self = vm.clipValue(root);
    vm.callMethod(self, "onEnterFrame", {});
    vm.getVariable("a.b.x");
    vm.getVariable("/a:y");
    vm.setVariable("_root.z", "1");
    vm.callExternalCallback("<invoke name=\"f\" returntype=\"xml\"><arguments><number>1</number></arguments></invoke>");
    // The player's events reach the standard objects' listeners.
    vm.keyDown(65, 'a');
    vm.keyChar('A');
    vm.keyUp(65, 'a');
    vm.keyDown(20, 0);
    vm.mouseEvent(Vm::MouseEvent::Down);
    vm.mouseEvent(Vm::MouseEvent::Move);
    vm.mouseEvent(Vm::MouseEvent::Up);
    vm.mouseEvent(Vm::MouseEvent::Wheel, -3);
    vm.stageResized();
    vm.collectGarbage();
    // Timers: due ones, then far later (repeating ones catch up once).
    host.clock = 1300;
    vm.runTimers(host.clock);
    host.clock = 1e9;
    vm.runTimers(host.clock);
    vm.constructClip(*root.children[0], "a");
    vm.constructClip(*root.children[0]->children[0], "x");
    vm.collectGarbage();
    vm.dataArrived(1, std::string_view("<a x='1'><b>t&amp;</b></a>"));
    vm.dataArrived(2, std::string_view("a=1&b=%20"));
    vm.dataArrived(3, std::nullopt);
    vm.clipLoaded(1, Vm::ClipLoad::Arrived, 10);
    vm.clipLoaded(1, Vm::ClipLoad::Initialized);
    vm.clipLoaded(2, Vm::ClipLoad::Failed);
    vm.frameEnded();
    vm.run(code, root);
    vm.runTimers(host.clock + 1);
}
