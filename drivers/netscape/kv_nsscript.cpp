#include "kv_nsscript.h"

namespace {

bool IsBlank(wchar_t c)
{
    return c <= L' ';
}

std::wstring Trim(std::wstring_view s)
{
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && IsBlank(s[e - 1]))
        --e;
    return std::wstring(s.substr(b, e - b));
}

int HexDigit(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

// Undoes the escapes of a quoted script literal (without its quotes).
std::wstring Unescape(std::wstring_view s)
{
    std::wstring out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        const wchar_t c = s[i];
        if (c != L'\\' || i + 1 >= s.size()) {
            out += c;
            continue;
        }
        const wchar_t e = s[++i];
        switch (e) {
        case L'"': out += L'"'; break;
        case L'\'': out += L'\''; break;
        case L'\\': out += L'\\'; break;
        case L'/': out += L'/'; break;
        case L'b': out += L'\b'; break;
        case L'f': out += L'\f'; break;
        case L'n': out += L'\n'; break;
        case L'r': out += L'\r'; break;
        case L't': out += L'\t'; break;
        case L'u': {
            int v = 0;
            bool ok = i + 4 < s.size();
            for (size_t k = 1; ok && k <= 4; ++k) {
                const int d = HexDigit(s[i + k]);
                if (d < 0)
                    ok = false;
                else
                    v = v * 16 + d;
            }
            if (ok) {
                out += static_cast<wchar_t>(v);
                i += 4;
            } else {
                out += L'u';  // not a valid escape: keep the letter, as a script would
            }
            break;
        }
        default: out += e; break;
        }
    }
    return out;
}

}  // namespace

std::wstring XmlEscape(std::wstring_view Text)
{
    std::wstring out;
    out.reserve(Text.size());
    for (wchar_t c : Text) {
        switch (c) {
        case L'&': out += L"&amp;"; break;
        case L'<': out += L"&lt;"; break;
        case L'>': out += L"&gt;"; break;
        case L'"': out += L"&quot;"; break;
        case L'\'': out += L"&apos;"; break;
        default: out += c; break;
        }
    }
    return out;
}

std::wstring BuildFlashCallRequest(std::wstring_view Name, const std::vector<std::wstring>& Arguments)
{
    std::wstring r = L"<invoke name=\"";
    r += XmlEscape(Name);
    r += L"\" returntype=\"XML\"><arguments>";
    for (const std::wstring& a : Arguments) {
        r += L"<string>";
        r += XmlEscape(a);
        r += L"</string>";
    }
    r += L"</arguments></invoke>";
    return r;
}

// An argument exactly one quoted literal: its text with the escapes undone.
static bool AsLiteral(const std::wstring& raw, std::wstring& text)
{
    if (raw.size() < 2 || (raw[0] != L'"' && raw[0] != L'\''))
        return false;
    const wchar_t q = raw[0];
    for (size_t i = 1; i < raw.size(); ++i) {
        if (raw[i] == L'\\') {
            ++i;
            continue;
        }
        if (raw[i] == q) {
            if (i + 1 != raw.size())
                return false;  // text follows the closing quote: not a lone literal
            text = Unescape(std::wstring_view(raw).substr(1, raw.size() - 2));
            return true;
        }
    }
    return false;
}

bool ParseFlashCallScript(std::wstring_view Script, std::wstring& Name, std::vector<std::wstring>& Arguments)
{
    Name.clear();
    Arguments.clear();
    if (Script.substr(0, FlashCallScriptPrefix.size()) != FlashCallScriptPrefix)
        return false;
    std::wstring_view s = Script.substr(FlashCallScriptPrefix.size());

    const size_t open = s.find(L'(');
    if (open == std::wstring_view::npos)
        return false;
    Name = Trim(s.substr(0, open));
    s = s.substr(open + 1);

    // Walk the argument list up to its closing parenthesis, keeping track of
    // quotes and nesting so that only top-level commas split.
    std::vector<std::wstring> raw;
    std::wstring current;
    wchar_t quote = 0;
    int depth = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        const wchar_t c = s[i];
        if (quote) {
            current += c;
            if (c == L'\\' && i + 1 < s.size())
                current += s[++i];
            else if (c == quote)
                quote = 0;
            continue;
        }
        if (c == L'"' || c == L'\'') {
            quote = c;
        } else if (c == L'(' || c == L'[' || c == L'{') {
            ++depth;
        } else if (c == L']' || c == L'}') {
            if (--depth < 0)
                return false;
        } else if (c == L')') {
            if (depth == 0) {
                raw.push_back(Trim(current));
                // "name()" has no arguments; "name(a, )" keeps its empty last one.
                if (raw.size() == 1 && raw[0].empty())
                    raw.clear();
                for (const std::wstring& r : raw) {
                    std::wstring text;
                    Arguments.push_back(AsLiteral(r, text) ? text : r);
                }
                return true;
            }
            --depth;
        } else if (c == L',' && depth == 0) {
            raw.push_back(Trim(current));
            current.clear();
            continue;
        }
        current += c;
    }
    return false;  // no closing parenthesis
}

bool FlashCallScriptToRequest(std::wstring_view Script, std::wstring& Request)
{
    std::wstring name;
    std::vector<std::wstring> args;
    if (!ParseFlashCallScript(Script, name, args))
        return false;
    Request = BuildFlashCallRequest(name, args);
    return true;
}

bool IsScriptUrl(std::string_view Url)
{
    constexpr std::string_view scheme = "javascript:";
    std::size_t at = 0;
    while (at < Url.size() && static_cast<unsigned char>(Url[at]) <= ' ')
        ++at;
    if (Url.size() - at < scheme.size())
        return false;
    for (std::size_t i = 0; i < scheme.size(); ++i) {
        char c = Url[at + i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != scheme[i])
            return false;
    }
    return true;
}
