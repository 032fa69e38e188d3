// Stage: the movie's size as the player shows it, its scale mode and
// alignment, and onResize for listeners when the stage is not scaled.
#include <string>

#include "avm1_standard.h"

namespace refplayer::avm1 {

using namespace standard;

namespace {

struct StageData : NativeData {
    std::string scaleMode = "showAll";
    std::string align;  // canonical: of "T"/"B" then "L"/"R"
    bool showMenu = true;
};

StageData& data(State& s) {
    // The Stage object is kept from the start, with its data.
    return *static_cast<StageData*>(kept(s, "Stage")->nativeData());
}

bool noScale(State& s) { return data(s).scaleMode == "noScale"; }

// Unscaled, the stage is the player's view; otherwise the movie's own size,
// however large it is shown.
Value width(State& s, NativeCall&) {
    return Value::number(noScale(s) ? s.host.viewSize().width : s.host.movieSize().width);
}
Value height(State& s, NativeCall&) {
    return Value::number(noScale(s) ? s.host.viewSize().height : s.host.movieSize().height);
}

Value getScaleMode(State& s, NativeCall&) { return s.str(data(s).scaleMode); }
Value setScaleMode(State& s, NativeCall& c) {
    static constexpr std::string_view kModes[] = {"showAll", "exactFit", "noBorder", "noScale"};
    const std::string asked = s.toString(c.arg(0));
    for (std::string_view mode : kModes) {
        if (equalsIgnoreCase(asked, mode)) {
            StageData& d = data(s);
            if (d.scaleMode == mode) return {};
            d.scaleMode = std::string(mode);
            s.host.stageLayout(d.scaleMode, d.align);
            return {};
        }
    }
    // Anything else leaves the mode as it was.
    return {};
}

Value getAlign(State& s, NativeCall&) { return s.str(data(s).align); }
Value setAlign(State& s, NativeCall& c) {
    // Letters in any order and case; T wins over B and L over R when both are given.
    const std::string asked = lowerAscii(s.toString(c.arg(0)));
    std::string align;
    if (asked.find('t') != std::string::npos) align += 'T';
    else if (asked.find('b') != std::string::npos) align += 'B';
    if (asked.find('l') != std::string::npos) align += 'L';
    else if (asked.find('r') != std::string::npos) align += 'R';
    StageData& d = data(s);
    if (d.align == align) return {};
    d.align = align;
    s.host.stageLayout(d.scaleMode, d.align);
    return {};
}

Value getShowMenu(State& s, NativeCall&) { return Value::boolean(data(s).showMenu); }
Value setShowMenu(State& s, NativeCall& c) {
    data(s).showMenu = s.toBoolean(c.arg(0));
    return {};
}

}  // namespace

void installStage(Vm::State& s) {
    Object* stage = globalObject(s, "Stage");
    stage->setNativeData(std::make_unique<StageData>());
    keep(s, "Stage", stage);
    makeBroadcaster(s, stage);
    accessor(s, stage, "width", width);
    accessor(s, stage, "height", height);
    accessor(s, stage, "scaleMode", getScaleMode, setScaleMode);
    accessor(s, stage, "align", getAlign, setAlign);
    accessor(s, stage, "showMenu", getShowMenu, setShowMenu);
}

void Vm::stageResized() {
    State& s = *state_;
    Object* stage = kept(s, "Stage");
    if (!stage || !noScale(s)) return;
    playerEvent(s, [&] { broadcast(s, stage, "onResize"); });
}

}  // namespace refplayer::avm1
