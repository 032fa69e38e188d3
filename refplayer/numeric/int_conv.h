// Conversions of floating values to integers.
//
// A C++ conversion of a floating value whose truncation does not fit the
// target type is undefined behaviour, and script numbers, movie data and
// sizes computed from them can be anything: NaN, infinities, 1e300. Every
// place in the reference player where a floating value becomes an integer
// goes through one of these, or through a cast whose operand is bounded on
// the spot.
//
//  - toInteger, toInt32, toUint32, toUint16: the script language's own
//    conversions. NaN gives 0; the 32- and 16-bit ones give 0 for infinities
//    too and wrap modulo 2^32 (2^16), so 4294967297 is 1 and -1 is 0xFFFFFFFF.
//  - truncClamp, roundClamp: a bounded integer (an index, a count, a pixel
//    coordinate). Truncates toward zero (or rounds half away from zero), then
//    clamps into [lo, hi]; NaN counts as 0 before clamping.
#pragma once

#include <cmath>
#include <concepts>
#include <cstdint>
#include <limits>

namespace refplayer::num {

// NaN gives +0; anything else is truncated toward zero (infinities stay).
inline double toInteger(double v) { return std::isnan(v) ? 0.0 : std::trunc(v); }

inline uint32_t toUint32(double v) {
    if (!std::isfinite(v)) return 0;
    // fmod is exact, and a truncated double with magnitude below 2^32 converts exactly.
    double m = std::fmod(std::trunc(v), 4294967296.0);
    if (m < 0) m += 4294967296.0;
    return static_cast<uint32_t>(m);
}

inline int32_t toInt32(double v) { return static_cast<int32_t>(toUint32(v)); }

inline uint16_t toUint16(double v) { return static_cast<uint16_t>(toUint32(v)); }

namespace detail {

// `t` is a whole number or an infinity. The bounds' nearest doubles decide:
// any double strictly between them lies within [lo, hi] and converts exactly.
template <std::integral T>
T clampWhole(double t, T lo, T hi) {
    if (!(t > static_cast<double>(lo))) return lo;  // also NaN, though callers have mapped it to 0
    if (t >= static_cast<double>(hi)) return hi;
    return static_cast<T>(t);
}

}  // namespace detail

template <std::integral T>
T truncClamp(double v, T lo, T hi) {
    return detail::clampWhole(std::isnan(v) ? 0.0 : std::trunc(v), lo, hi);
}

template <std::integral T>
T truncClamp(double v) {
    return truncClamp(v, std::numeric_limits<T>::min(), std::numeric_limits<T>::max());
}

template <std::integral T>
T roundClamp(double v, T lo, T hi) {
    return detail::clampWhole(std::isnan(v) ? 0.0 : std::round(v), lo, hi);
}

template <std::integral T>
T roundClamp(double v) {
    return roundClamp(v, std::numeric_limits<T>::min(), std::numeric_limits<T>::max());
}

}  // namespace refplayer::num
