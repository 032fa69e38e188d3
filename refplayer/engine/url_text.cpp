#include "url_text.h"

#include <algorithm>
#include <cctype>
#include <cstddef>

namespace refplayer::engine {

namespace {

bool isAlpha(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }

// Length of "scheme:" at the front, 0 when there is none. A single letter
// before ':' is a drive, not a scheme.
size_t schemeLength(std::string_view s)
{
    if (s.empty() || !isAlpha(s[0]))
        return 0;
    for (size_t i = 1; i < s.size(); ++i) {
        char c = s[i];
        if (c == ':')
            return i >= 2 ? i + 1 : 0;
        if (!(isAlpha(c) || std::isdigit(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.'))
            return 0;
    }
    return 0;
}

bool isDrivePath(std::string_view s)
{
    return s.size() >= 2 && isAlpha(s[0]) && s[1] == ':';
}

std::string_view stripQueryAndFragment(std::string_view s)
{
    size_t cut = s.find_first_of("?#");
    return cut == std::string_view::npos ? s : s.substr(0, cut);
}

// Removes "." and ".." segments; `path` uses '/' (a '\' stays part of a segment
// unless the path is a file path, where both separate).
std::string removeDotSegments(std::string_view path, bool backslashSeparates, char joiner = '/')
{
    auto isSep = [&](char c) { return c == '/' || (backslashSeparates && c == '\\'); };
    std::vector<std::string_view> out;
    bool leading = !path.empty() && isSep(path[0]);
    size_t i = leading ? 1 : 0;
    bool trailing = false;
    while (i <= path.size()) {
        size_t j = i;
        while (j < path.size() && !isSep(path[j]))
            ++j;
        std::string_view seg = path.substr(i, j - i);
        trailing = false;
        if (seg == ".") {
            trailing = true;
        } else if (seg == "..") {
            if (!out.empty())
                out.pop_back();
            trailing = true;
        } else if (!(seg.empty() && j >= path.size())) {
            out.push_back(seg);
        } else {
            trailing = true;  // path ends with a separator
        }
        i = j + 1;
    }
    std::string result = leading ? std::string(1, joiner) : std::string();
    for (size_t k = 0; k < out.size(); ++k) {
        if (k)
            result += joiner;
        result += out[k];
    }
    if (trailing && !out.empty())
        result += joiner;
    return result;
}

// The schemes whose paths are segments ("http:", "https:", "ftp:", "file:",
// given with their colon).
bool isHierarchicalScheme(std::string_view scheme)
{
    std::string lower(scheme);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower == "http:" || lower == "https:" || lower == "ftp:" || lower == "file:";
}

}  // namespace

std::string resolveUrl(std::string_view base, std::string_view relative)
{
    if (relative.empty())
        return std::string(base);
    if (schemeLength(relative) || isDrivePath(relative) || relative.substr(0, 2) == "\\\\")
        return std::string(relative);
    base = stripQueryAndFragment(base);

    size_t scheme = schemeLength(base);
    if (scheme) {
        // In hierarchical URLs a backslash separates segments as a slash does,
        // as the system's URL combination (and every browser) reads them: a
        // movie at "http://host/C:\dir\main.swf" asking for "skin.swf" gets
        // "http://host/C:/dir/skin.swf".
        std::string slashed, slashedRelative;
        if (isHierarchicalScheme(base.substr(0, scheme))) {
            slashed.assign(base);
            std::replace(slashed.begin() + static_cast<std::ptrdiff_t>(scheme), slashed.end(), '\\', '/');
            base = slashed;
            slashedRelative.assign(relative);
            const size_t q = slashedRelative.find_first_of("?#");
            std::replace(slashedRelative.begin(),
                         q == std::string::npos ? slashedRelative.end()
                                                : slashedRelative.begin() + static_cast<std::ptrdiff_t>(q),
                         '\\', '/');
            relative = slashedRelative;
        }
        std::string_view rest = base.substr(scheme);
        std::string prefix(base.substr(0, scheme));
        std::string_view path = rest;
        if (rest.substr(0, 2) == "//") {
            size_t slash = rest.find('/', 2);
            std::string_view authority = slash == std::string_view::npos ? rest : rest.substr(0, slash);
            prefix += authority;
            path = slash == std::string_view::npos ? std::string_view("/") : rest.substr(slash);
            if (relative.substr(0, 2) == "//")
                return std::string(base.substr(0, scheme)) + std::string(relative);
        }
        if (relative[0] == '/')
            return prefix + removeDotSegments(relative, false);
        size_t lastSlash = path.rfind('/');
        std::string dir = lastSlash == std::string_view::npos ? std::string() : std::string(path.substr(0, lastSlash + 1));
        std::string joined = dir + std::string(relative);
        // A relative reference keeps its own query intact.
        size_t q = joined.find_first_of("?#");
        std::string tail = q == std::string::npos ? std::string() : joined.substr(q);
        std::string p = q == std::string::npos ? joined : joined.substr(0, q);
        return prefix + removeDotSegments(p, false) + tail;
    }

    // A plain file path (or a bare name).
    if ((relative[0] == '/' || relative[0] == '\\') && isDrivePath(base))
        return std::string(base.substr(0, 2)) + std::string(relative);
    size_t lastSep = base.find_last_of("/\\");
    std::string dir = lastSep == std::string_view::npos ? std::string() : std::string(base.substr(0, lastSep + 1));
    std::string joined = dir + std::string(relative);
    size_t q = joined.find_first_of("?#");
    std::string tail = q == std::string::npos ? std::string() : joined.substr(q);
    std::string p = q == std::string::npos ? joined : joined.substr(0, q);
    if (p.find("./") == std::string::npos && p.find(".\\") == std::string::npos && p != "." && p != "..")
        return joined;
    // Keep a drive prefix out of the segment arithmetic.
    std::string drive;
    if (isDrivePath(p)) {
        drive = p.substr(0, 2);
        p = p.substr(2);
    }
    // Windows paths keep their backslashes.
    char joiner = base.find('\\') != std::string_view::npos && base.find('/') == std::string_view::npos ? '\\' : '/';
    return drive + removeDotSegments(p, true, joiner) + tail;
}

std::string urlDecode(std::string_view text)
{
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
            out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

std::vector<std::pair<std::string, std::string>> parseUrlEncoded(std::string_view text)
{
    std::vector<std::pair<std::string, std::string>> pairs;
    size_t i = 0;
    while (i <= text.size()) {
        size_t amp = text.find('&', i);
        if (amp == std::string_view::npos)
            amp = text.size();
        std::string_view item = text.substr(i, amp - i);
        // Bodies often end with a line break.
        while (!item.empty() && (item.back() == '\r' || item.back() == '\n'))
            item.remove_suffix(1);
        if (!item.empty()) {
            size_t eq = item.find('=');
            if (eq == std::string_view::npos)
                pairs.emplace_back(urlDecode(item), std::string());
            else
                pairs.emplace_back(urlDecode(item.substr(0, eq)), urlDecode(item.substr(eq + 1)));
        }
        i = amp + 1;
    }
    return pairs;
}

std::string_view urlQuery(std::string_view url)
{
    size_t q = url.find('?');
    if (q == std::string_view::npos)
        return {};
    std::string_view rest = url.substr(q + 1);
    size_t hash = rest.find('#');
    return hash == std::string_view::npos ? rest : rest.substr(0, hash);
}

}  // namespace refplayer::engine
