// Number, Boolean, Math and the global functions (parseInt, isNaN, escape
// and the like) compiled ActionScript 1/2 relies on.
#include <algorithm>
#include <cmath>
#include <limits>

#include "avm1_natives.h"
#include "int_conv.h"

namespace refplayer::avm1 {

namespace {

// --- Number and Boolean ----------------------------------------------------------------------------

Value numberCtor(State& s, NativeCall& c) {
    const Value n = Value::number(c.args.empty() ? 0 : s.toNumber(c.arg(0)));
    return c.construct ? Value::object(s.newBoxed(n)) : n;
}

double thisNumber(State& s, NativeCall& c) {
    if (Object* o = c.thisValue.objectValue(); o && o->kind() == Object::Kind::Boxed) return s.toNumber(o->primitive());
    return s.toNumber(c.thisValue);
}

Value numberToString(State& s, NativeCall& c) {
    const double n = thisNumber(s, c);
    const double radixNumber = c.arg(0).isUndefined() ? 10 : num(s, c, 0);
    // NaN, infinities and radixes out of 2..36 all print in decimal.
    const int radix = num::truncClamp<int>(radixNumber);
    if (radix == 10 || radix < 2 || radix > 36 || !std::isfinite(n)) return s.str(formatNumber(n));
    // Other radixes print the integer part, as the player does.
    double v = std::trunc(std::fabs(n));
    if (v > 9007199254740992.0) return s.str(formatNumber(n));
    auto whole = static_cast<uint64_t>(v);
    std::string digits;
    do {
        digits.insert(digits.begin(), "0123456789abcdefghijklmnopqrstuvwxyz"[whole % static_cast<unsigned>(radix)]);
        whole /= static_cast<unsigned>(radix);
    } while (whole);
    if (n < 0 && v != 0) digits.insert(digits.begin(), '-');
    return s.str(digits);
}

Value numberValueOf(State& s, NativeCall& c) { return Value::number(thisNumber(s, c)); }

Value booleanCtor(State& s, NativeCall& c) {
    const Value b = Value::boolean(s.toBoolean(c.arg(0)));
    return c.construct ? Value::object(s.newBoxed(b)) : b;
}

bool thisBoolean(State& s, NativeCall& c) {
    if (Object* o = c.thisValue.objectValue(); o && o->kind() == Object::Kind::Boxed) return s.toBoolean(o->primitive());
    return s.toBoolean(c.thisValue);
}

Value booleanToString(State& s, NativeCall& c) { return s.str(thisBoolean(s, c) ? "true" : "false"); }
Value booleanValueOf(State& s, NativeCall& c) { return Value::boolean(thisBoolean(s, c)); }

// --- Math --------------------------------------------------------------------------------------------

using Unary = double (*)(double);
void defMath(State& s, Object* math, std::string_view name, Unary f) {
    Object* fn = s.newNative([&s, f](NativeCall& c) { return Value::number(f(s.toNumber(c.arg(0)))); }, name);
    math->setOwn(name, Value::object(fn), kDontEnum);
}

Value mathAtan2(State& s, NativeCall& c) { return Value::number(std::atan2(num(s, c, 0), num(s, c, 1))); }
Value mathPow(State& s, NativeCall& c) { return Value::number(std::pow(num(s, c, 0), num(s, c, 1))); }
Value mathRandom(State& s, NativeCall&) { return Value::number(s.randomUnit()); }

Value mathMinMax(State& s, NativeCall& c, bool max) {
    double r = max ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    for (size_t i = 0; i < c.args.size(); ++i) {
        const double n = num(s, c, i);
        if (std::isnan(n)) return Value::number(kNaN);
        r = max ? std::max(r, n) : std::min(r, n);
    }
    return Value::number(r);
}
Value mathMax(State& s, NativeCall& c) { return mathMinMax(s, c, true); }
Value mathMin(State& s, NativeCall& c) { return mathMinMax(s, c, false); }

// --- global functions ------------------------------------------------------------------------------------

Value parseIntFn(State& s, NativeCall& c) {
    const double radix = c.arg(1).isUndefined() ? 0 : num(s, c, 1);
    return Value::number(parseIntPrefix(s.toString(c.arg(0)), num::toInt32(radix)));
}
Value parseFloatFn(State& s, NativeCall& c) { return Value::number(parseFloatPrefix(s.toString(c.arg(0)))); }
Value isNaNFn(State& s, NativeCall& c) { return Value::boolean(std::isnan(num(s, c, 0))); }
Value isFiniteFn(State& s, NativeCall& c) { return Value::boolean(std::isfinite(num(s, c, 0))); }
Value escapeFn(State& s, NativeCall& c) {
    const std::string text = s.toString(c.arg(0));
    s.checkStringSize(text.size() * 3);
    return s.str(urlEscape(text));
}
Value unescapeFn(State& s, NativeCall& c) { return s.str(urlUnescape(s.toString(c.arg(0)))); }
Value getVersionFn(State& s, NativeCall&) { return s.str("WIN 8,0,0,0"); }

}  // namespace

void installNumber(State& s) {
    Object* g = s.global;

    s.numberProto = s.newObject(s.objectProto);
    Object* number = defClass(s, g, "Number", numberCtor, s.numberProto);
    constant(number, "MAX_VALUE", Value::number(std::numeric_limits<double>::max()));
    constant(number, "MIN_VALUE", Value::number(std::numeric_limits<double>::denorm_min()));
    constant(number, "NaN", Value::number(kNaN));
    constant(number, "POSITIVE_INFINITY", Value::number(std::numeric_limits<double>::infinity()));
    constant(number, "NEGATIVE_INFINITY", Value::number(-std::numeric_limits<double>::infinity()));
    def(s, s.numberProto, "toString", numberToString);
    def(s, s.numberProto, "valueOf", numberValueOf);

    s.booleanProto = s.newObject(s.objectProto);
    defClass(s, g, "Boolean", booleanCtor, s.booleanProto);
    def(s, s.booleanProto, "toString", booleanToString);
    def(s, s.booleanProto, "valueOf", booleanValueOf);

    Object* math = s.newObject(s.objectProto);
    g->setOwn("Math", Value::object(math), kDontEnum);
    defMath(s, math, "abs", [](double x) { return std::fabs(x); });
    defMath(s, math, "acos", [](double x) { return std::acos(x); });
    defMath(s, math, "asin", [](double x) { return std::asin(x); });
    defMath(s, math, "atan", [](double x) { return std::atan(x); });
    defMath(s, math, "ceil", [](double x) { return std::ceil(x); });
    defMath(s, math, "cos", [](double x) { return std::cos(x); });
    defMath(s, math, "exp", [](double x) { return std::exp(x); });
    defMath(s, math, "floor", [](double x) { return std::floor(x); });
    defMath(s, math, "log", [](double x) { return std::log(x); });
    defMath(s, math, "round", [](double x) { return std::floor(x + 0.5); });  // halves go up, as the player rounds
    defMath(s, math, "sin", [](double x) { return std::sin(x); });
    defMath(s, math, "sqrt", [](double x) { return std::sqrt(x); });
    defMath(s, math, "tan", [](double x) { return std::tan(x); });
    def(s, math, "atan2", mathAtan2);
    def(s, math, "pow", mathPow);
    def(s, math, "random", mathRandom);
    def(s, math, "max", mathMax);
    def(s, math, "min", mathMin);
    constant(math, "E", Value::number(2.718281828459045));
    constant(math, "LN10", Value::number(2.302585092994046));
    constant(math, "LN2", Value::number(0.6931471805599453));
    constant(math, "LOG10E", Value::number(0.4342944819032518));
    constant(math, "LOG2E", Value::number(1.4426950408889634));
    constant(math, "PI", Value::number(3.141592653589793));
    constant(math, "SQRT1_2", Value::number(0.7071067811865476));
    constant(math, "SQRT2", Value::number(1.4142135623730951));
}

void installGlobalFunctions(State& s) {
    Object* g = s.global;

    def(s, g, "parseInt", parseIntFn);
    def(s, g, "parseFloat", parseFloatFn);
    def(s, g, "isNaN", isNaNFn);
    def(s, g, "isFinite", isFiniteFn);
    def(s, g, "escape", escapeFn);
    def(s, g, "unescape", unescapeFn);
    def(s, g, "getVersion", getVersionFn);
}

}  // namespace refplayer::avm1
