// Timers and time: setInterval/setTimeout with their clear functions as the
// player fires them between frames, getTimer, and Date in local time and UTC.
#include "script_test_support.h"

namespace scripttest {
namespace {

constexpr uint8_t SetVariable = 0x1D, CallFunction = 0x3D, NewObject = 0x40, InitObject = 0x43, Increment = 0x50,
                  SetMember = 0x4F, Throw = 0x2A, Add2 = 0x47;

// name = name + 1, as a function body.
Asm bump(const std::string& name) {
    Asm b;
    b.push({name}).getVar(name).op(Increment).op(SetVariable);
    return b;
}

// result = fn(args...) where the first argument is the variable `first`.
Asm& callWithVar(Asm& a, const std::string& result, const std::string& fn, const std::string& first,
                 std::initializer_list<PushItem> rest) {
    a.push({result});
    std::vector<PushItem> reversed(rest.begin(), rest.end());
    for (auto it = reversed.rbegin(); it != reversed.rend(); ++it) a.push({*it});
    a.getVar(first);
    return a.push({static_cast<int>(rest.size() + 1), fn}).op(CallFunction).op(SetVariable);
}

TEST_F(ScriptTest, IntervalsAndTimeoutsFireOnTheHostsClockUntilCleared) {
    Asm a;
    a.setVar("fn", 0).setVar("obj", 0).setVar("once", 0).setVar("never", 0);
    a.function("byFunction", {}, bump("fn"));
    a.function("onceOnly", {}, bump("once"));
    a.function("neverRuns", {}, bump("never"));
    // o = {n: 0, tick: function() { this.n++; last = arguments[0]; }}
    Asm method;
    method.push({"last"}).getVar("arguments").push({0}).op(0x4E).op(SetVariable);
    method.getVar("this").push({"n"}).getVar("this").push({"n"}).op(0x4E).op(Increment).op(SetMember);
    a.push({"o"}).push({"n", 0, "tick"}).function("", {}, method).push({2}).op(InitObject).op(SetVariable);
    host.timer = 1000;
    callWithVar(a, "id1", "setInterval", "byFunction", {100});
    a.push({"id2", "hello", 50, "tick"}).getVar("o").push({4, "setInterval"}).op(CallFunction).op(SetVariable);
    callWithVar(a, "id3", "setTimeout", "onceOnly", {120});
    callWithVar(a, "id4", "setTimeout", "neverRuns", {10});
    a.push({"bad"}).push({100, 42, 2, "setInterval"}).op(CallFunction).op(SetVariable);  // nothing to call
    a.push({"now"}).call("getTimer", {}).op(SetVariable);
    a.getVar("id4").push({1, "clearTimeout"}).op(CallFunction).op(0x17);
    ASSERT_TRUE(run(a).ok()) << vm.lastError();
    EXPECT_EQ(var("id1") + var("id2") + var("id3") + var("id4"), "1234");
    EXPECT_EQ(var("bad"), "<undefined>");
    EXPECT_EQ(var("now"), "1000");
    EXPECT_EQ(vm.timerCount(), 3u);

    EXPECT_TRUE(vm.runTimers(1049).empty());  // nothing due yet
    EXPECT_EQ(var("obj"), "0");
    vm.runTimers(1050);
    EXPECT_EQ(var("o.n"), "1");
    EXPECT_EQ(var("last"), "hello");  // the extra arguments reach the method
    vm.runTimers(1130);               // due: the method (1100), the function (1100), the timeout (1120)
    EXPECT_EQ(var("o.n") + var("fn") + var("once"), "211");
    EXPECT_EQ(vm.timerCount(), 2u);   // the timeout is gone once it fired
    // Far behind: each timer fires once, then waits a whole interval from now.
    vm.runTimers(5000);
    EXPECT_EQ(var("o.n") + var("fn"), "32");
    vm.runTimers(5049);
    EXPECT_EQ(var("o.n"), "3");
    vm.runTimers(5050);
    EXPECT_EQ(var("o.n"), "4");
    EXPECT_EQ(var("never"), "0");

    Asm clear;
    clear.getVar("id1").push({1, "clearInterval"}).op(CallFunction).op(0x17);
    ASSERT_TRUE(run(clear).ok());
    vm.runTimers(9000);
    EXPECT_EQ(var("fn") + var("o.n"), "25");
}

TEST_F(ScriptTest, ATimerThatFailsStopsAloneAndOneMayClearAnother) {
    Asm thrower;
    thrower.push({"boom"}).op(Throw);
    Asm clearer;  // clears the timer whose id is in `victim`, then counts
    clearer.getVar("victim").push({1, "clearInterval"}).op(CallFunction).op(0x17);
    clearer.push({"cleared"}).getVar("cleared").op(Increment).op(SetVariable);
    Asm a;
    a.setVar("good", 0).setVar("cleared", 0);
    a.function("fails", {}, thrower).function("goodOne", {}, bump("good")).function("clearer", {}, clearer);
    callWithVar(a, "t1", "setInterval", "fails", {10});
    callWithVar(a, "t2", "setInterval", "clearer", {10});
    callWithVar(a, "victim", "setInterval", "goodOne", {10});
    ASSERT_TRUE(run(a).ok());
    const std::vector<std::string> failures = vm.runTimers(10);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].find("boom"), std::string::npos);
    EXPECT_EQ(var("cleared"), "1");
    EXPECT_EQ(var("good"), "0");  // cleared before its turn came
    EXPECT_EQ(vm.timerCount(), 2u);
}

TEST_F(ScriptTest, DatesReadAndSetTheirFieldsInLocalTimeAndUtc) {
    host.zoneMs = 3600000;  // UTC+1
    Asm a;
    // d = new Date(2005, 1, 28, 23, 59, 30, 250): local time
    a.push({"d", 250, 30, 59, 23, 28, 1, 2005, 7, "Date"}).op(NewObject).op(SetVariable);
    auto read = [&](const std::string& into, const std::string& method) {
        a.push({into}).callMethod("d", method, {}).op(SetVariable);
    };
    read("time", "getTime");
    read("text", "toString");
    read("day", "getDay");
    read("utcHours", "getUTCHours");
    read("hours", "getHours");
    read("ms", "getMilliseconds");
    read("zone", "getTimezoneOffset");
    read("year", "getYear");
    a.push({"d"}).callMethod("d", "setDate", {29}).op(0x17).op(0x17);  // carries into March
    read("march", "getMonth");
    read("marchDate", "getDate");
    a.callMethod("d", "setUTCHours", {24, 0}).op(0x17);  // next day, 00:00 UTC: 01:00 local
    read("afterHours", "getHours");
    read("afterDate", "getDate");
    a.callMethod("d", "setMonth", {13}).op(0x17);  // February of the next year
    read("nextYear", "getFullYear");
    read("nextMonth", "getMonth");
    a.callMethod("d", "setYear", {5}).op(0x17);  // two digits: 1905
    read("shortYear", "getFullYear");
    a.push({"utc"}).callMethod("Date", "UTC", {2000, 0, 1}).op(SetVariable);
    a.push({"u"}).push({0, 99, 2, "Date"}).op(NewObject).op(SetVariable);  // 1999 in local time
    a.push({"uYear"}).callMethod("u", "getFullYear", {}).op(SetVariable);
    a.push({"now"}).push({0, "Date"}).op(NewObject).op(SetVariable);
    a.push({"nowTime"}).callMethod("now", "getTime", {}).op(SetVariable);
    a.push({"bad"}).push({"x", 1, "Date"}).op(NewObject).op(SetVariable);
    a.push({"badMonth"}).callMethod("bad", "getMonth", {}).op(SetVariable);
    a.push({"badText"}).callMethod("bad", "toString", {}).op(SetVariable);
    a.callMethod("bad", "setHours", {1}).op(0x17);  // stays invalid
    a.push({"badStill"}).callMethod("bad", "getTime", {}).op(SetVariable);
    a.callMethod("bad", "setFullYear", {2001}).op(0x17);  // the year setters revive it
    a.push({"revived"}).callMethod("bad", "getFullYear", {}).op(SetVariable);
    a.push({"sum"}).getVar("d").push({1}).op(Add2).op(SetVariable);  // valueOf is the time
    ASSERT_TRUE(run(a).ok()) << vm.lastError();

    EXPECT_EQ(var("time"), "1109631570250");
    EXPECT_EQ(var("text"), "Mon Feb 28 23:59:30 GMT+0100 2005");
    EXPECT_EQ(var("day"), "1");
    EXPECT_EQ(var("utcHours"), "22");
    EXPECT_EQ(var("hours"), "23");
    EXPECT_EQ(var("ms"), "250");
    EXPECT_EQ(var("zone"), "-60");
    EXPECT_EQ(var("year"), "105");
    EXPECT_EQ(var("march") + "/" + var("marchDate"), "2/1");
    EXPECT_EQ(var("afterHours") + "/" + var("afterDate"), "1/2");
    EXPECT_EQ(var("nextYear") + "/" + var("nextMonth"), "2006/1");
    EXPECT_EQ(var("shortYear"), "1905");
    EXPECT_EQ(var("utc"), "946684800000");
    EXPECT_EQ(var("uYear"), "1999");
    EXPECT_EQ(var("nowTime"), "1109631570250");
    EXPECT_EQ(var("badMonth"), "NaN");
    EXPECT_EQ(var("badText"), "Invalid Date");
    EXPECT_EQ(var("badStill"), "NaN");
    EXPECT_EQ(var("revived"), "2001");
    EXPECT_NE(var("sum"), "NaN");
}

TEST_F(ScriptTest, DateMethodsOnOtherObjectsAndOutOfRangeTimesGiveNaN) {
    Asm a;
    a.push({"o"}).push({0}).op(InitObject).op(SetVariable);
    a.getVar("o").push({"getMonth"}).getVar("Date").push({"prototype"}).op(0x4E).push({"getMonth"}).op(0x4E).op(SetMember);
    a.push({"m"}).callMethod("o", "getMonth", {}).op(SetVariable);
    a.push({"far"}).push({8.64e15 + 1, 1, "Date"}).op(NewObject).op(SetVariable);
    a.push({"farTime"}).callMethod("far", "getTime", {}).op(SetVariable);
    a.push({"edge"}).push({-8.64e15, 1, "Date"}).op(NewObject).op(SetVariable);
    a.push({"edgeYear"}).callMethod("edge", "getUTCFullYear", {}).op(SetVariable);
    a.push({"text"}).push({0, "Date"}).op(CallFunction).op(SetVariable);  // Date() without new
    ASSERT_TRUE(run(a).ok()) << vm.lastError();
    EXPECT_EQ(var("m"), "NaN");
    EXPECT_EQ(var("farTime"), "NaN");
    EXPECT_EQ(var("edgeYear"), "-271821");
    EXPECT_EQ(var("text"), "Mon Feb 28 22:59:30 GMT+0000 2005");
}

}  // namespace
}  // namespace scripttest
