// The library's one entry point: a pull-stream download over http(s) or of a
// local file, reported
// to the caller's IBindStatusCallback from the caller's own message loop.
#include <windows.h>

#include <wininet.h>

#include <cwchar>

#include "pull_binding.h"

namespace {

// Longer than any URL a browser would send; a longer text is not taken on trust.
constexpr std::size_t kMaxUrlLength = 32 * 1024;

// A local file the system's service would open: a drive path or a file URL.
bool IsLocal(const wchar_t* url, std::size_t length) noexcept
{
    if (length >= 7 && std::wcsncmp(url, L"file://", 7) == 0)
        return true;
    return length >= 3 && iswalpha(url[0]) && url[1] == L':' && (url[2] == L'/' || url[2] == L'\\');
}

HRESULT CheckUrl(const wchar_t* url) noexcept
{
    const std::size_t length = wcsnlen(url, kMaxUrlLength + 1);
    if (length == 0 || length > kMaxUrlLength)
        return INET_E_INVALID_URL;
    if (IsLocal(url, length))
        return S_OK;
    URL_COMPONENTSW parts{};
    parts.dwStructSize = sizeof(parts);
    parts.dwSchemeLength = 1;  // non-zero: point into the text rather than copy
    parts.dwHostNameLength = 1;
    if (!InternetCrackUrlW(url, static_cast<DWORD>(length), 0, &parts)) {
        return GetLastError() == ERROR_INTERNET_UNRECOGNIZED_SCHEME ? INET_E_UNKNOWN_PROTOCOL : INET_E_INVALID_URL;
    }
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)
        return INET_E_UNKNOWN_PROTOCOL;
    if (parts.dwHostNameLength == 0)
        return INET_E_INVALID_URL;
    return S_OK;
}

}  // namespace

// The caller object and the reserved word carry nothing this library uses.
STDAPI URLOpenPullStreamW(IUnknown*, LPCWSTR url, DWORD, IBindStatusCallback* callback)
{
    try {
        if (!url || !callback)
            return E_INVALIDARG;
        const HRESULT valid = CheckUrl(url);
        if (FAILED(valid))
            return valid;
        return urlshim::Binding::Open(callback, url);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}
