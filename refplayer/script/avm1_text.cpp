// Number <-> text and character helpers of the interpreter.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "avm1_internal.h"

namespace refplayer::avm1 {

std::string formatNumber(double n) {
    if (std::isnan(n)) return "NaN";
    if (std::isinf(n)) return n > 0 ? "Infinity" : "-Infinity";
    if (n == 0) return "0";  // also -0
    char buf[64];
    if (n == std::trunc(n) && std::fabs(n) < 1e15) {
        auto r = std::to_chars(buf, buf + sizeof buf, static_cast<long long>(n));
        return std::string(buf, r.ptr);
    }
    // 15 significant digits, shortest form, as the player prints; its
    // exponents carry no leading zeros ("1e-7", "1.5e+21").
    auto r = std::to_chars(buf, buf + sizeof buf, n, std::chars_format::general, 15);
    std::string text(buf, r.ptr);
    if (auto e = text.find('e'); e != std::string::npos) {
        size_t digits = e + 2;  // after the sign
        size_t firstNonZero = digits;
        while (firstNonZero + 1 < text.size() && text[firstNonZero] == '0') ++firstNonZero;
        text.erase(digits, firstNonZero - digits);
    }
    return text;
}

namespace {
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

std::string_view trimmed(std::string_view t) {
    while (!t.empty() && isBlank(t.front())) t.remove_prefix(1);
    while (!t.empty() && isBlank(t.back())) t.remove_suffix(1);
    return t;
}

int digitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return 99;
}

// The longest decimal number at the start of `t` ("12.5e3x" -> 12500 with
// consumed 6); consumed 0 when there is none.
double decimalPrefix(std::string_view t, size_t& consumed) {
    size_t i = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    size_t digits = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++digits;
    if (i < t.size() && t[i] == '.') {
        ++i;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++digits;
    }
    if (digits == 0) {
        consumed = 0;
        return std::numeric_limits<double>::quiet_NaN();
    }
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        size_t j = i + 1;
        if (j < t.size() && (t[j] == '+' || t[j] == '-')) ++j;
        size_t expDigits = 0;
        while (j < t.size() && t[j] >= '0' && t[j] <= '9') ++j, ++expDigits;
        if (expDigits) i = j;
    }
    consumed = i;
    std::string_view body = t.substr(0, i);
    bool negative = false;
    if (!body.empty() && (body[0] == '+' || body[0] == '-')) {
        negative = body[0] == '-';
        body.remove_prefix(1);
    }
    double value = 0;
    auto r = std::from_chars(body.data(), body.data() + body.size(), value);
    if (r.ec == std::errc::result_out_of_range) {
        // Overflow to infinity, underflow to zero, as strtod does.
        bool tiny = body.find_first_of("123456789") != std::string_view::npos &&
                    (body.find("e-") != std::string_view::npos || body.find("E-") != std::string_view::npos);
        value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    }
    return negative ? -value : value;
}
}  // namespace

double parseNumber(std::string_view text, int version) {
    std::string_view t = trimmed(text);
    if (t.empty()) return version >= 7 ? std::numeric_limits<double>::quiet_NaN() : 0.0;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        double v = 0;
        for (char c : t.substr(2)) {
            int d = digitValue(c);
            if (d >= 16) return std::numeric_limits<double>::quiet_NaN();
            v = v * 16 + d;
        }
        return v;
    }
    size_t consumed = 0;
    double v = decimalPrefix(t, consumed);
    if (consumed != t.size()) return std::numeric_limits<double>::quiet_NaN();
    return v;
}

double parseFloatPrefix(std::string_view text) {
    std::string_view t = text;
    while (!t.empty() && isBlank(t.front())) t.remove_prefix(1);
    size_t consumed = 0;
    return decimalPrefix(t, consumed);
}

double parseIntPrefix(std::string_view text, int radix) {
    std::string_view t = text;
    while (!t.empty() && isBlank(t.front())) t.remove_prefix(1);
    bool negative = false;
    if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
        negative = t[0] == '-';
        t.remove_prefix(1);
    }
    if ((radix == 0 || radix == 16) && t.size() >= 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        radix = 16;
        t.remove_prefix(2);
    }
    if (radix == 0) radix = 10;
    if (radix < 2 || radix > 36) return std::numeric_limits<double>::quiet_NaN();
    double v = 0;
    size_t digits = 0;
    for (char c : t) {
        int d = digitValue(c);
        if (d >= radix) break;
        v = v * radix + d;
        ++digits;
    }
    if (!digits) return std::numeric_limits<double>::quiet_NaN();
    return negative ? -v : v;
}

std::u32string decodeUtf8(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<uint8_t>(text[i]);
        int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
        char32_t c = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
        bool ok = extra >= 0 && i + static_cast<size_t>(extra) < text.size();
        for (int k = 1; ok && k <= extra; ++k) {
            const auto cb = static_cast<uint8_t>(text[i + k]);
            if ((cb & 0xC0) != 0x80) ok = false;
            else c = (c << 6) | (cb & 0x3F);
        }
        if (ok && extra > 0) {
            static constexpr char32_t minimum[] = {0, 0x80, 0x800, 0x10000};
            if (c < minimum[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) ok = false;
        }
        if (!ok) {
            // Not UTF-8: the byte stands for itself (Latin-1), so nothing is lost.
            out.push_back(b);
            ++i;
            continue;
        }
        out.push_back(c);
        i += static_cast<size_t>(extra) + 1;
    }
    return out;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

std::string encodeUtf8(std::u32string_view chars) {
    std::string out;
    out.reserve(chars.size());
    for (char32_t c : chars) appendUtf8(out, c);
    return out;
}

std::string urlEscape(std::string_view text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        const auto c = static_cast<uint8_t>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
    }
    return out;
}

size_t utf8ByteOffset(std::string_view text, double charIndex) {
    if (!(charIndex > 0)) return 0;
    size_t chars = 0, at = 0;
    while (at < text.size() && chars < charIndex) {
        const unsigned char lead = static_cast<unsigned char>(text[at]);
        at += lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        ++chars;
    }
    return std::min(at, text.size());
}

std::string urlUnescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '+') {
            out.push_back(' ');
        } else if (c == '%' && i + 2 < text.size() && digitValue(text[i + 1]) < 16 &&
                   digitValue(text[i + 2]) < 16) {
            out.push_back(static_cast<char>(digitValue(text[i + 1]) * 16 + digitValue(text[i + 2])));
            i += 2;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::string lowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool arrayIndex(std::string_view key, uint32_t& index) {
    if (key.empty() || key.size() > 10) return false;
    if (key.size() > 1 && key[0] == '0') return false;
    uint64_t v = 0;
    for (char c : key) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v >= 0xFFFFFFFFull) return false;
    index = static_cast<uint32_t>(v);
    return true;
}

}  // namespace refplayer::avm1
