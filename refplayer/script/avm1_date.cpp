// Date: a time value in milliseconds since 1970-01-01 00:00 UTC, read and set
// in local time or in UTC, with the calendar arithmetic of ECMAScript (which
// the player's Date follows). The host answers the wall clock and the local
// time zone's offset, so tests and hosts can pin both.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "avm1_natives.h"

namespace refplayer::avm1 {

// --- the host's defaults ------------------------------------------------------------

namespace {
constexpr double kMsPerDay = 86400000.0;

// Days from 1970-01-01 to the civil date (proleptic Gregorian), month 1..12.
int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

struct Civil {
    int64_t year;
    int month;  // 0..11
    int day;    // 1..31
};

Civil civilFromDays(int64_t z) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    return {yoe + era * 400 + (month <= 2), month - 1, day};
}

double secondsOf(const std::tm& t) {
    return static_cast<double>(daysFromCivil(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday)) * 86400.0 +
           t.tm_hour * 3600.0 + t.tm_min * 60.0 + t.tm_sec;
}
}  // namespace

double Host::wallClockMs() {
    using namespace std::chrono;
    return static_cast<double>(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

double Host::localOffsetMs(double utcMs) {
    if (!std::isfinite(utcMs)) return 0;
    // The C library knows the zone only within time_t; outside it the
    // nearest known offset stands.
    const double seconds = std::clamp(std::floor(utcMs / 1000), 0.0, 2147483647.0);
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{}, utc{};
    const std::tm* l = std::localtime(&t);
    if (!l) return 0;
    local = *l;
    const std::tm* u = std::gmtime(&t);
    if (!u) return 0;
    utc = *u;
    return (secondsOf(local) - secondsOf(utc)) * 1000.0;
}

// --- Date ------------------------------------------------------------------------------

namespace {

constexpr double kMaxTime = 8.64e15;
constexpr const char* kDays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

double timeClip(double t) { return std::isfinite(t) && std::fabs(t) <= kMaxTime ? std::trunc(t) + 0.0 : kNaN; }

// A host's offset is trusted only within a day either way.
double offsetAt(State& s, double utc) {
    const double o = s.host.localOffsetMs(utc);
    return std::isfinite(o) && std::fabs(o) <= kMsPerDay ? o : 0.0;
}
double localOf(State& s, double t) { return t + offsetAt(s, t); }
double utcOf(State& s, double local) {
    if (!std::isfinite(local)) return kNaN;
    return local - offsetAt(s, local - offsetAt(s, local));
}

// A time value taken apart: year, month (0-11), date (1-31), hours,
// minutes, seconds, milliseconds; and the weekday (0 Sunday).
enum Field { Year, Month, DateOfMonth, Hours, Minutes, Seconds, Millis, kFields };
struct Parts {
    double f[kFields];
    int weekday;
};

Parts split(double t) {
    const double day = std::floor(t / kMsPerDay);
    double within = t - day * kMsPerDay;
    const Civil c = civilFromDays(static_cast<int64_t>(day));
    Parts p;
    p.f[Year] = static_cast<double>(c.year);
    p.f[Month] = c.month;
    p.f[DateOfMonth] = c.day;
    p.f[Hours] = std::floor(within / 3600000.0);
    within -= p.f[Hours] * 3600000.0;
    p.f[Minutes] = std::floor(within / 60000.0);
    within -= p.f[Minutes] * 60000.0;
    p.f[Seconds] = std::floor(within / 1000.0);
    p.f[Millis] = within - p.f[Seconds] * 1000.0;
    p.weekday = static_cast<int>(((static_cast<int64_t>(day) % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    return p;
}

// MakeDate(MakeDay(year, month, date), MakeTime(h, m, s, ms)); fields may be
// out of range (month 14, date 0, minutes -5) and carry over, as setters rely on.
double join(const double f[kFields]) {
    for (int i = 0; i < kFields; ++i)
        if (!std::isfinite(f[i])) return kNaN;
    const double year = std::trunc(f[Year]), month = std::trunc(f[Month]);
    const double y = year + std::floor(month / 12);
    const double m = month - std::floor(month / 12) * 12;
    if (std::fabs(y) > 400000) return kNaN;  // far past any time value
    const double days = static_cast<double>(daysFromCivil(static_cast<int64_t>(y), static_cast<int64_t>(m) + 1, 1)) +
                        std::trunc(f[DateOfMonth]) - 1;
    const double time = std::trunc(f[Hours]) * 3600000.0 + std::trunc(f[Minutes]) * 60000.0 +
                        std::trunc(f[Seconds]) * 1000.0 + std::trunc(f[Millis]);
    return days * kMsPerDay + time;
}

Object* thisDate(NativeCall& c) {
    Object* o = c.thisValue.objectValue();
    return o && o->kind() == Object::Kind::Date ? o : nullptr;
}
double thisTime(NativeCall& c) {
    Object* o = thisDate(c);
    return o ? o->primitive().numberValue() : kNaN;
}
Value setTime(NativeCall& c, double t) {
    t = timeClip(t);
    if (Object* o = thisDate(c)) Heap::setPrimitive(o, Value::number(t));
    return Value::number(t);
}

// Two-digit years in the constructor, Date.UTC and setYear mean 1900-1999.
double fullYear(double y) { return std::isfinite(y) && y >= 0 && y <= 99 && y == std::trunc(y) ? 1900 + y : y; }

// The fields from arguments, starting at `first`; missing ones keep `base`.
double fromArgs(State& s, NativeCall& c, double base[kFields], int first, int most, bool twoDigitYear) {
    const size_t n = std::min<size_t>(c.args.size(), static_cast<size_t>(most));
    for (size_t i = 0; i < n; ++i) base[first + static_cast<int>(i)] = s.toNumber(c.args[i]);
    if (twoDigitYear && first == Year && n > 0) base[Year] = fullYear(base[Year]);
    return join(base);
}

// "Wed Dec 9 08:24:40 GMT+0100 2026", as the player writes a date.
std::string formatDate(State& s, double t) {
    if (std::isnan(t)) return "Invalid Date";
    const double local = localOf(s, t);
    const Parts p = split(local);
    const long offsetMinutes = std::lround((local - t) / 60000.0);
    const long absMinutes = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    char text[96];
    std::snprintf(text, sizeof text, "%s %s %d %02d:%02d:%02d GMT%c%02ld%02ld %.0f", kDays[p.weekday],
                  kMonths[static_cast<int>(p.f[Month])], static_cast<int>(p.f[DateOfMonth]),
                  static_cast<int>(p.f[Hours]), static_cast<int>(p.f[Minutes]), static_cast<int>(p.f[Seconds]),
                  offsetMinutes < 0 ? '-' : '+', absMinutes / 60, absMinutes % 60, p.f[Year]);
    return text;
}

Value dateToString(State& s, NativeCall& c) { return s.str(formatDate(s, thisTime(c))); }

Value dateCtor(State& s, NativeCall& c) {
    if (!c.construct) return s.str(formatDate(s, timeClip(s.host.wallClockMs())));  // Date(): now, as text
    double t;
    if (c.args.empty()) {
        t = s.host.wallClockMs();
    } else if (c.args.size() == 1) {
        t = s.toNumber(c.arg(0));
    } else {
        double f[kFields] = {0, 0, 1, 0, 0, 0, 0};
        t = utcOf(s, fromArgs(s, c, f, Year, kFields, true));
    }
    t = timeClip(t);
    Object* o = c.thisValue.objectValue();
    if (!o) return {};
    Heap::setKind(o, Object::Kind::Date);
    Heap::setPrimitive(o, Value::number(t));
    return {};
}

Value dateUTC(State& s, NativeCall& c) {
    if (c.args.empty()) return Value::number(kNaN);
    double f[kFields] = {0, 0, 1, 0, 0, 0, 0};
    return Value::number(timeClip(fromArgs(s, c, f, Year, kFields, true)));
}

// Getters: one field of the local or UTC view, NaN for an invalid date.
template <int F, bool Utc>
Value getField(State& s, NativeCall& c) {
    const double t = thisTime(c);
    if (std::isnan(t)) return Value::number(kNaN);
    return Value::number(split(Utc ? t : localOf(s, t)).f[F]);
}
template <bool Utc>
Value getDay(State& s, NativeCall& c) {
    const double t = thisTime(c);
    if (std::isnan(t)) return Value::number(kNaN);
    return Value::number(split(Utc ? t : localOf(s, t)).weekday);
}
template <bool Utc>
Value getYear(State& s, NativeCall& c) {
    const double t = thisTime(c);
    if (std::isnan(t)) return Value::number(kNaN);
    return Value::number(split(Utc ? t : localOf(s, t)).f[Year] - 1900);
}
Value getTime(State&, NativeCall& c) { return Value::number(thisTime(c)); }
Value getTimezoneOffset(State& s, NativeCall& c) {
    const double t = thisTime(c);
    if (std::isnan(t)) return Value::number(kNaN);
    return Value::number((t - localOf(s, t)) / 60000.0);
}

// Setters: fields from F on (at most Most of them) from the arguments, the
// rest kept; answer the new time value. A setter on an invalid date stays
// invalid, except the year setters, which start from 1970-01-01 00:00.
template <int F, int Most, bool Utc>
Value setField(State& s, NativeCall& c) {
    if (!thisDate(c)) return Value::number(kNaN);
    double t = thisTime(c);
    if (std::isnan(t)) {
        if (F != Year) return Value::number(kNaN);
        t = Utc ? 0.0 : utcOf(s, 0.0);
    }
    if (c.args.empty()) return setTime(c, kNaN);
    Parts p = split(Utc ? t : localOf(s, t));
    const double joined = fromArgs(s, c, p.f, F, Most, false);
    return setTime(c, Utc ? joined : utcOf(s, joined));
}
template <bool Utc>
Value setYear(State& s, NativeCall& c) {
    if (!thisDate(c)) return Value::number(kNaN);
    double t = thisTime(c);
    if (std::isnan(t)) t = Utc ? 0.0 : utcOf(s, 0.0);
    Parts p = split(Utc ? t : localOf(s, t));
    p.f[Year] = fullYear(s.toNumber(c.arg(0)));
    const double joined = join(p.f);
    return setTime(c, Utc ? joined : utcOf(s, joined));
}
Value setTimeFn(State& s, NativeCall& c) {
    if (!thisDate(c)) return Value::number(kNaN);
    return setTime(c, s.toNumber(c.arg(0)));
}

}  // namespace

void installDate(State& s) {
    s.dateProto = s.newObject(s.objectProto);
    Object* date = defClass(s, s.global, "Date", dateCtor, s.dateProto);
    def(s, date, "UTC", dateUTC);
    Object* p = s.dateProto;
    def(s, p, "getFullYear", getField<Year, false>);
    def(s, p, "getYear", getYear<false>);
    def(s, p, "getMonth", getField<Month, false>);
    def(s, p, "getDate", getField<DateOfMonth, false>);
    def(s, p, "getDay", getDay<false>);
    def(s, p, "getHours", getField<Hours, false>);
    def(s, p, "getMinutes", getField<Minutes, false>);
    def(s, p, "getSeconds", getField<Seconds, false>);
    def(s, p, "getMilliseconds", getField<Millis, false>);
    def(s, p, "getUTCFullYear", getField<Year, true>);
    def(s, p, "getUTCYear", getYear<true>);
    def(s, p, "getUTCMonth", getField<Month, true>);
    def(s, p, "getUTCDate", getField<DateOfMonth, true>);
    def(s, p, "getUTCDay", getDay<true>);
    def(s, p, "getUTCHours", getField<Hours, true>);
    def(s, p, "getUTCMinutes", getField<Minutes, true>);
    def(s, p, "getUTCSeconds", getField<Seconds, true>);
    def(s, p, "getUTCMilliseconds", getField<Millis, true>);
    def(s, p, "getTime", getTime);
    def(s, p, "getTimezoneOffset", getTimezoneOffset);
    def(s, p, "setFullYear", setField<Year, 3, false>);
    def(s, p, "setYear", setYear<false>);
    def(s, p, "setMonth", setField<Month, 2, false>);
    def(s, p, "setDate", setField<DateOfMonth, 1, false>);
    def(s, p, "setHours", setField<Hours, 4, false>);
    def(s, p, "setMinutes", setField<Minutes, 3, false>);
    def(s, p, "setSeconds", setField<Seconds, 2, false>);
    def(s, p, "setMilliseconds", setField<Millis, 1, false>);
    def(s, p, "setUTCFullYear", setField<Year, 3, true>);
    def(s, p, "setUTCYear", setYear<true>);
    def(s, p, "setUTCMonth", setField<Month, 2, true>);
    def(s, p, "setUTCDate", setField<DateOfMonth, 1, true>);
    def(s, p, "setUTCHours", setField<Hours, 4, true>);
    def(s, p, "setUTCMinutes", setField<Minutes, 3, true>);
    def(s, p, "setUTCSeconds", setField<Seconds, 2, true>);
    def(s, p, "setUTCMilliseconds", setField<Millis, 1, true>);
    def(s, p, "setTime", setTimeFn);
    def(s, p, "toString", dateToString);
    def(s, p, "valueOf", getTime);
}

}  // namespace refplayer::avm1
