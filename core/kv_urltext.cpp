#include "kv_urltext.h"

#include <cwctype>

namespace {

bool IsBlank(wchar_t c)
{
    return c <= L' ';
}

wchar_t LowerAscii(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

}  // namespace

bool StartsWith(std::wstring_view Text, std::wstring_view Prefix)
{
    return Text.substr(0, Prefix.size()) == Prefix;
}

bool Contains(std::wstring_view Text, std::wstring_view Part)
{
    return Text.find(Part) != std::wstring_view::npos;
}

WideText TrimText(std::wstring_view Text)
{
    size_t b = 0, e = Text.size();
    while (b < e && IsBlank(Text[b]))
        ++b;
    while (e > b && IsBlank(Text[e - 1]))
        --e;
    return WideText(Text.substr(b, e - b));
}

WideText NextToken(WideText& Text, std::wstring_view Delimiters)
{
    const size_t at = Text.find_first_of(Delimiters);
    WideText token;
    WideText rest;
    if (at == WideText::npos) {
        token = Text;
    } else {
        token = Text.substr(0, at);
        rest = Text.substr(at + 1);
    }
    Text = TrimText(rest);
    return TrimText(token);
}

WideText DecodeURLText(std::wstring_view Text)
{
    static const struct {
        const wchar_t* escape;
        wchar_t plain;
    } kEscapes[] = {{L"%3f", L'?'}, {L"%3d", L'='}, {L"%26", L'&'}, {L"%20", L' '}, {L"%2d", L'-'}, {L"%2f", L'/'}};
    WideText s(Text);
    for (const auto& e : kEscapes) {
        WideText out;
        out.reserve(s.size());
        for (size_t i = 0; i < s.size();) {
            if (i + 3 <= s.size() && s[i] == L'%' && LowerAscii(s[i + 1]) == e.escape[1] &&
                LowerAscii(s[i + 2]) == e.escape[2]) {
                out += e.plain;
                i += 3;
            } else {
                out += s[i++];
            }
        }
        s = std::move(out);
    }
    return s;
}

WideText URLFileName(std::wstring_view Text)
{
    const size_t at = Text.find_last_of(L"\\/:");
    return WideText(at == std::wstring_view::npos ? Text : Text.substr(at + 1));
}

WideText ResourceNameOf(std::wstring_view Text)
{
    const size_t dot = Text.rfind(L'.');
    return WideText(dot == std::wstring_view::npos ? Text : Text.substr(0, dot));
}

TkvQuery SplitQuery(std::wstring_view Text)
{
    TkvQuery q;
    WideText s(Text);
    q.Path = NextToken(s, L"?");
    while (!s.empty()) {
        WideText name = NextToken(s, L"=");
        WideText value = NextToken(s, L"&");
        q.Variables.emplace_back(std::move(name), std::move(value));
    }
    return q;
}

WideText FormatStreamId(unsigned Id)
{
    static const wchar_t kHex[] = L"0123456789ABCDEF";
    WideText s(8, L'0');
    for (int i = 7; i >= 0; --i) {
        s[i] = kHex[Id & 0xF];
        Id >>= 4;
    }
    return s;
}

bool ParseStreamId(std::wstring_view Digits, unsigned& Id)
{
    if (Digits.size() < 8)
        return false;
    unsigned v = 0;
    for (size_t i = 0; i < 8; ++i) {
        const wchar_t c = Digits[i];
        unsigned d;
        if (c >= L'0' && c <= L'9')
            d = c - L'0';
        else if (c >= L'A' && c <= L'F')
            d = c - L'A' + 10;
        else if (c >= L'a' && c <= L'f')
            d = c - L'a' + 10;
        else
            return false;
        v = (v << 4) | d;
    }
    Id = v;
    return true;
}
