#include "framework/sysutils.h"

#include <algorithm>
#include <cwctype>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

Exception::Exception(WideString message) : message_(std::move(message)), utf8_(WideToUtf8(message_)) {}

namespace {

// Appends one code point as UTF-8; lone surrogates and out-of-range values
// become U+FFFD so the output is always well-formed.
void AppendUtf8(std::string& out, char32_t cp) {
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void AppendWide(WideString& out, char32_t cp) {
  if constexpr (sizeof(wchar_t) == 2) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<wchar_t>(0xD800 + (cp >> 10));
      out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
      return;
    }
  }
  out += static_cast<wchar_t>(cp);
}

// Decodes the code point at text[i] (advancing i), pairing UTF-16 surrogates
// where wchar_t is 16-bit.
char32_t NextWide(std::wstring_view text, std::size_t& i) {
  char32_t c = static_cast<char32_t>(text[i++]);
  if constexpr (sizeof(wchar_t) == 2) {
    c &= 0xFFFF;
    if (c >= 0xD800 && c <= 0xDBFF && i < text.size()) {
      char32_t d = static_cast<char32_t>(text[i]) & 0xFFFF;
      if (d >= 0xDC00 && d <= 0xDFFF) {
        ++i;
        return 0x10000 + ((c - 0xD800) << 10) + (d - 0xDC00);
      }
    }
  }
  return c;
}

wchar_t AsciiUpper(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c; }

#ifndef _WIN32
// Simple case folding for the native build: enough for the scripts a
// component name or file name uses in tests (Latin, Greek, Cyrillic).
char32_t FoldUpper(char32_t c) {
  if (c < 0x80) return static_cast<char32_t>(AsciiUpper(static_cast<wchar_t>(c)));
  if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 0x20;
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149) {
    bool oddLower = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (oddLower) return (c % 2 == 0) ? c - 1 : c;
    return (c % 2 == 1) ? c - 1 : c;
  }
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 0x20;
  if (c >= 0x430 && c <= 0x44F) return c - 0x20;
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  return c;
}
#endif

}  // namespace

std::string WideToUtf8(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) AppendUtf8(out, NextWide(text, i));
  return out;
}

WideString Utf8ToWide(std::string_view text) {
  WideString out;
  out.reserve(text.size());
  std::size_t i = 0;
  const auto n = text.size();
  while (i < n) {
    unsigned char b = static_cast<unsigned char>(text[i]);
    char32_t cp;
    int extra;
    if (b < 0x80) {
      cp = b;
      extra = 0;
    } else if ((b & 0xE0) == 0xC0) {
      cp = b & 0x1F;
      extra = 1;
    } else if ((b & 0xF0) == 0xE0) {
      cp = b & 0x0F;
      extra = 2;
    } else if ((b & 0xF8) == 0xF0) {
      cp = b & 0x07;
      extra = 3;
    } else {
      AppendWide(out, 0xFFFD);
      ++i;
      continue;
    }
    // The continuation bytes must all be present and well-formed.
    bool ok = i + static_cast<std::size_t>(extra) < n;
    std::size_t j = i + 1;
    for (int k = 0; ok && k < extra; ++k, ++j) {
      unsigned char cb = static_cast<unsigned char>(text[j]);
      if ((cb & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (cb & 0x3F);
    }
    if (!ok) {
      AppendWide(out, 0xFFFD);
      ++i;
      continue;
    }
    static const char32_t minimum[] = {0, 0x80, 0x800, 0x10000};
    if (cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    AppendWide(out, cp);
    i = j;
  }
  return out;
}

std::u16string WideToUtf16(std::wstring_view text) {
  std::u16string out;
  out.reserve(text.size());
  if constexpr (sizeof(wchar_t) == 2) {
    for (wchar_t c : text) out += static_cast<char16_t>(c);
  } else {
    for (wchar_t wc : text) {
      char32_t c = static_cast<char32_t>(wc);
      if (c > 0x10FFFF) c = 0xFFFD;
      if (c >= 0x10000) {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (c >> 10));
        out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
      } else {
        out += static_cast<char16_t>(c);
      }
    }
  }
  return out;
}

WideString Utf16ToWide(std::u16string_view text) {
  WideString out;
  out.reserve(text.size());
  if constexpr (sizeof(wchar_t) == 2) {
    for (char16_t c : text) out += static_cast<wchar_t>(c);
  } else {
    for (std::size_t i = 0; i < text.size(); ++i) {
      char32_t c = text[i];
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
        ++i;
      }
      out += static_cast<wchar_t>(c);
    }
  }
  return out;
}

AnsiString WideToAnsi(std::wstring_view text) {
  if (text.empty()) return {};
#ifdef _WIN32
  if (text.size() > 0x3FFFFFFF) throw EConvertError(L"Text too long to convert");
  int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  AnsiString out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0)
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
#else
  AnsiString out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = NextWide(text, i);
    out += c < 0x100 ? static_cast<char>(c) : '?';
  }
  return out;
#endif
}

WideString AnsiToWide(std::string_view text) {
  if (text.empty()) return {};
#ifdef _WIN32
  if (text.size() > 0x3FFFFFFF) throw EConvertError(L"Text too long to convert");
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  WideString out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
#else
  WideString out;
  out.reserve(text.size());
  for (char c : text) out += static_cast<wchar_t>(static_cast<unsigned char>(c));
  return out;
#endif
}

WideString IntToStr(std::int64_t value) { return Utf8ToWide(std::to_string(value)); }

WideString IntToHex(std::uint64_t value, int digits) {
  static const wchar_t hex[] = L"0123456789ABCDEF";
  WideString out;
  do {
    out.insert(out.begin(), hex[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  while (static_cast<int>(out.size()) < digits) out.insert(out.begin(), L'0');
  return out;
}

std::int64_t StrToInt64(std::wstring_view text) {
  auto fail = [&]() -> std::int64_t {
    throw EConvertError(L"'" + WideString(text) + L"' is not a valid integer value");
  };
  std::wstring_view s = text;
  while (!s.empty() && (s.front() == L' ' || s.front() == L'\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == L' ' || s.back() == L'\t')) s.remove_suffix(1);
  bool negative = false;
  if (!s.empty() && (s.front() == L'-' || s.front() == L'+')) {
    negative = s.front() == L'-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (!s.empty() && s.front() == L'$') {
    base = 16;
    s.remove_prefix(1);
  } else if (s.size() > 1 && s[0] == L'0' && (s[1] == L'x' || s[1] == L'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty()) return fail();
  std::uint64_t v = 0;
  const std::uint64_t limit = negative ? (std::uint64_t(1) << 63) : (base == 16 ? ~std::uint64_t(0) : (std::uint64_t(1) << 63) - 1);
  for (wchar_t c : s) {
    int d;
    if (c >= L'0' && c <= L'9')
      d = c - L'0';
    else if (base == 16 && c >= L'a' && c <= L'f')
      d = c - L'a' + 10;
    else if (base == 16 && c >= L'A' && c <= L'F')
      d = c - L'A' + 10;
    else
      return fail();
    if (v > (limit - static_cast<std::uint64_t>(d)) / static_cast<std::uint64_t>(base)) return fail();
    v = v * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
  }
  if (negative) return static_cast<std::int64_t>(0 - v);
  return static_cast<std::int64_t>(v);
}

int StrToInt(std::wstring_view text) {
  std::int64_t v = StrToInt64(text);
  // Hexadecimal spellings of 32-bit values ($FFFFFFFF) mean their bit pattern.
  if (v < INT32_MIN || v > static_cast<std::int64_t>(UINT32_MAX) ||
      (v > INT32_MAX && text.find_first_of(L"$xX") == std::wstring_view::npos))
    throw EConvertError(L"'" + WideString(text) + L"' is not a valid integer value");
  return static_cast<int>(static_cast<std::uint32_t>(v));
}

int StrToIntDef(std::wstring_view text, int fallback) {
  try {
    return StrToInt(text);
  } catch (const EConvertError&) {
    return fallback;
  }
}

WideString Trim(std::wstring_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && text[b] <= L' ') ++b;
  while (e > b && text[e - 1] <= L' ') --e;
  return WideString(text.substr(b, e - b));
}

WideString UpperCase(std::wstring_view text) {
  WideString out(text);
  for (auto& c : out) c = AsciiUpper(c);
  return out;
}

WideString LowerCase(std::wstring_view text) {
  WideString out(text);
  for (auto& c : out)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + 32);
  return out;
}

int CompareText(std::wstring_view a, std::wstring_view b) {
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    wchar_t x = AsciiUpper(a[i]), y = AsciiUpper(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool SameText(std::wstring_view a, std::wstring_view b) { return a.size() == b.size() && CompareText(a, b) == 0; }

int AnsiCompareText(std::wstring_view a, std::wstring_view b) {
#ifdef _WIN32
  if (a.size() <= 0x7FFFFFFF && b.size() <= 0x7FFFFFFF) {
    int r = CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()), b.data(),
                           static_cast<int>(b.size()));
    if (r != 0) return r - CSTR_EQUAL;
  }
  return CompareText(a, b);
#else
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    char32_t x = FoldUpper(NextWide(a, i)), y = FoldUpper(NextWide(b, j));
    if (x != y) return x < y ? -1 : 1;
  }
  if (i == a.size() && j == b.size()) return 0;
  return i == a.size() ? -1 : 1;
#endif
}

bool AnsiSameText(std::wstring_view a, std::wstring_view b) {
#ifdef _WIN32
  if (a.size() <= 0x7FFFFFFF && b.size() <= 0x7FFFFFFF)
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
#endif
  return AnsiCompareText(a, b) == 0;
}

int AnsiCompareStr(std::wstring_view a, std::wstring_view b) {
#ifdef _WIN32
  if (a.size() <= 0x7FFFFFFF && b.size() <= 0x7FFFFFFF) {
    int r = CompareStringW(LOCALE_USER_DEFAULT, 0, a.data(), static_cast<int>(a.size()), b.data(),
                           static_cast<int>(b.size()));
    if (r != 0) return r - CSTR_EQUAL;
  }
#endif
  int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

bool IsValidIdent(std::wstring_view ident) {
  if (ident.empty()) return false;
  auto alpha = [](wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || c == L'_'; };
  if (!alpha(ident[0])) return false;
  return std::all_of(ident.begin() + 1, ident.end(), [&](wchar_t c) { return alpha(c) || (c >= L'0' && c <= L'9'); });
}

namespace {
std::size_t NameStart(std::wstring_view path) {
  std::size_t p = path.find_last_of(L"\\/:");
  return p == std::wstring_view::npos ? 0 : p + 1;
}
}  // namespace

WideString ExtractFileName(std::wstring_view path) { return WideString(path.substr(NameStart(path))); }

WideString ExtractFilePath(std::wstring_view path) { return WideString(path.substr(0, NameStart(path))); }

WideString ExtractFileExt(std::wstring_view path) {
  std::wstring_view name = path.substr(NameStart(path));
  std::size_t dot = name.find_last_of(L'.');
  return dot == std::wstring_view::npos ? WideString() : WideString(name.substr(dot));
}

bool FileExists(const WideString& path) {
#ifdef _WIN32
  DWORD attr = GetFileAttributesW(path.c_str());
  return attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY);
#else
  struct stat st {};
  return stat(WideToUtf8(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
#endif
}
