// setInterval, setTimeout and their clear functions, and getTimer. Timers
// live in the interpreter and fire when the player calls Vm::runTimers on its
// clock (the one getTimer reads), between frames.
#include <algorithm>
#include <cmath>

#include "avm1_natives.h"

namespace refplayer::avm1 {

namespace {

// A movie that makes timers without end must not grow the player without end.
constexpr size_t kMaxTimers = 10000;
constexpr double kMaxIntervalMs = 2147483647.0;

bool isFunction(const Value& v) { return v.objectValue() && v.objectValue()->isFunction(); }

// setInterval(function, ms, args...) or setInterval(object, "method", ms, args...);
// setTimeout takes the same. Answers the timer's id, or undefined when the
// arguments name nothing to call.
Value addTimer(State& s, NativeCall& c, bool repeat) {
    Timer t;
    size_t next = 0;
    if (isFunction(c.arg(0))) {
        t.function = c.arg(0);
        next = 1;
    } else if (c.arg(0).objectValue() || c.arg(0).isClip()) {
        if (c.args.size() < 2 || c.arg(1).isNullish()) return {};
        t.object = c.arg(0);
        t.method = s.toString(c.arg(1));
        if (t.method.empty()) return {};
        next = 2;
    } else {
        return {};
    }
    if (s.timers.size() >= kMaxTimers) return {};
    double ms = s.toNumber(c.arg(next));
    if (!(ms > 0)) ms = 0;  // NaN and negative delays fire at the next chance
    t.intervalMs = std::min(std::floor(ms), kMaxIntervalMs);
    t.dueMs = s.host.timerMs() + t.intervalMs;
    t.repeat = repeat;
    for (size_t i = next + 1; i < c.args.size(); ++i) t.args.push_back(c.args[i]);
    s.chargeBytes(sizeof(Timer) + t.method.size() + t.args.size() * sizeof(Value));
    const uint32_t id = s.nextTimerId++;
    s.timers.emplace(id, std::move(t));
    return Value::number(id);
}

Value setIntervalFn(State& s, NativeCall& c) { return addTimer(s, c, true); }
Value setTimeoutFn(State& s, NativeCall& c) { return addTimer(s, c, false); }

// clearInterval and clearTimeout share the ids, as they do in the player.
Value clearTimerFn(State& s, NativeCall& c) {
    const double id = s.toNumber(c.arg(0));
    if (id >= 1 && id < 4294967296.0 && id == std::floor(id)) s.timers.erase(static_cast<uint32_t>(id));
    return {};
}

Value getTimerFn(State& s, NativeCall&) { return Value::number(std::floor(s.host.timerMs())); }

}  // namespace

void installTimers(State& s) {
    Object* g = s.global;
    def(s, g, "setInterval", setIntervalFn);
    def(s, g, "clearInterval", clearTimerFn);
    def(s, g, "setTimeout", setTimeoutFn);
    def(s, g, "clearTimeout", clearTimerFn);
    def(s, g, "getTimer", getTimerFn);
}

std::vector<std::string> Vm::runTimers(double nowMs) {
    State& s = *state_;
    std::vector<std::string> failures;
    if (s.entryDepth != 0 || std::isnan(nowMs)) return failures;  // never from inside script
    s.maybeCollect();
    // The timers due now, earliest first; those made while they run wait for
    // the next call, so a callback that sets a timer cannot spin this loop.
    std::vector<std::pair<double, uint32_t>> due;
    for (const auto& [id, t] : s.timers)
        if (t.dueMs <= nowMs) due.emplace_back(t.dueMs, id);
    std::sort(due.begin(), due.end());
    for (const auto& [when, id] : due) {
        auto it = s.timers.find(id);
        if (it == s.timers.end()) continue;  // cleared by an earlier callback
        // The copy keeps the values alive even if the callback clears its own
        // timer: nothing is collected until this loop is done.
        const Timer t = it->second;
        if (t.repeat) {
            double next = t.dueMs + t.intervalMs;
            if (next <= nowMs) next = nowMs + t.intervalMs;
            it->second.dueMs = next;
        } else {
            s.timers.erase(it);
        }
        const RunResult r = s.entry([&] {
            Value self, fn = t.function;
            if (!t.method.empty()) {
                self = t.object;
                fn = s.getMember(self, t.method);
            }
            if (fn.objectValue() && fn.objectValue()->isFunction()) s.call(fn, self, t.args);
        });
        if (!r.ok()) failures.push_back(r.message);
    }
    return failures;
}

size_t Vm::timerCount() const { return state_->timers.size(); }

}  // namespace refplayer::avm1
