// The worker thread of a pull-stream download: a blocking WinINet transfer, or
// a local file read in pieces, whose every step is queued to the binding for
// delivery on the caller's thread.
#include <windows.h>

#include <wininet.h>

#include <cwchar>
#include <optional>
#include <thread>
#include <vector>

#include "pull_binding.h"

namespace urlshim {
namespace {

// Small enough that anything beyond a few dozen kilobytes arrives in several
// notifications, as it does from a real network.
constexpr DWORD kChunkSize = 16 * 1024;
// A stalled server must not keep a binding open for ever.
constexpr DWORD kTimeoutMs = 30 * 1000;

class InternetHandle {
public:
    explicit InternetHandle(HINTERNET handle) noexcept : handle_(handle) {}
    ~InternetHandle()
    {
        if (handle_)
            InternetCloseHandle(handle_);
    }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    operator HINTERNET() const noexcept { return handle_; }

private:
    HINTERNET handle_;
};

std::optional<std::wstring> QueryText(HINTERNET request, DWORD what)
{
    wchar_t buffer[512];
    DWORD size = sizeof(buffer);
    if (!HttpQueryInfoW(request, what, buffer, &size, nullptr))
        return std::nullopt;
    return std::wstring(buffer, size / sizeof(wchar_t));
}

// The media type without its parameters ("text/html; charset=utf-8" gives "text/html").
std::wstring MediaType(std::wstring value)
{
    const auto semicolon = value.find(L';');
    if (semicolon != std::wstring::npos)
        value.resize(semicolon);
    while (!value.empty() && (value.back() == L' ' || value.back() == L'\t'))
        value.pop_back();
    return value;
}

std::optional<ULONGLONG> ContentLength(HINTERNET request)
{
    const auto text = QueryText(request, HTTP_QUERY_CONTENT_LENGTH);
    if (!text || text->empty() || text->size() > 19)
        return std::nullopt;
    ULONGLONG value = 0;
    for (wchar_t c : *text) {
        if (c < L'0' || c > L'9')
            return std::nullopt;
        value = value * 10 + static_cast<ULONGLONG>(c - L'0');
    }
    return value;
}

ULONG Clamp(ULONGLONG value)
{
    return value > MAXDWORD ? MAXDWORD : static_cast<ULONG>(value);
}

void ReportProgress(Binding& binding, ULONG status, ULONGLONG progress, ULONGLONG progressMax, std::wstring text)
{
    BindEvent event;
    event.kind = BindEvent::Progress;
    event.status = status;
    event.progress = Clamp(progress);
    event.progressMax = Clamp(progressMax);
    event.text = std::move(text);
    binding.Report(std::move(event));
}

void ReportData(Binding& binding, const char* data, DWORD size, bool last)
{
    BindEvent event;
    event.kind = BindEvent::Data;
    event.bytes.assign(data, data + size);
    event.last = last;
    binding.Report(std::move(event));
}

HRESULT Download(Binding& binding)
{
    const std::wstring& url = binding.Url();
    ReportProgress(binding, BINDSTATUS_CONNECTING, 0, 0, url);

    // Direct, never through a proxy from the environment: the servers this
    // serves are local, and a proxy would turn a refused connection into a 502.
    InternetHandle session(InternetOpenW(L"Mozilla/4.0 (compatible; KvUrlmonShim)", INTERNET_OPEN_TYPE_DIRECT,
                                         nullptr, nullptr, 0));
    if (!session)
        return ResultFromWinInetError(GetLastError());
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT}) {
        DWORD timeout = kTimeoutMs;
        InternetSetOptionW(session, option, &timeout, sizeof(timeout));
    }

    // Always from the server: tests rewrite the files they serve between runs,
    // and a cached copy would hide that.
    const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                        INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_COOKIES;
    InternetHandle request(InternetOpenUrlW(session, url.c_str(), nullptr, 0, flags, 0));
    if (!request)
        return ResultFromWinInetError(GetLastError());
    if (binding.AbortRequested())
        return E_ABORT;

    DWORD status = 0;
    DWORD size = sizeof(status);
    if (HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) {
        const HRESULT failure = ResultFromHttpStatus(status);
        if (FAILED(failure))
            return failure;
    }

    const std::optional<ULONGLONG> expected = ContentLength(request);
    if (auto type = QueryText(request, HTTP_QUERY_CONTENT_TYPE)) {
        std::wstring media = MediaType(std::move(*type));
        if (!media.empty())
            ReportProgress(binding, BINDSTATUS_MIMETYPEAVAILABLE, 0, 0, std::move(media));
    }
    ReportProgress(binding, BINDSTATUS_BEGINDOWNLOADDATA, 0, expected.value_or(0), url);

    std::vector<char> chunk(kChunkSize);
    ULONGLONG total = 0;
    for (;;) {
        if (binding.AbortRequested())
            return E_ABORT;
        DWORD got = 0;
        if (!InternetReadFile(request, chunk.data(), kChunkSize, &got)) {
            const HRESULT failure = ResultFromWinInetError(GetLastError());
            return failure == INET_E_RESOURCE_NOT_FOUND ? INET_E_DOWNLOAD_FAILURE : failure;
        }
        if (got == 0)
            break;
        if (got > kChunkSize)  // never trust a count we did not bound
            return INET_E_DOWNLOAD_FAILURE;
        total += got;
        // With a known length the chunk that completes it is the last; without
        // one, only the end of the connection tells, and an empty last
        // notification follows.
        const bool last = expected && total >= *expected;
        ReportProgress(binding, last ? BINDSTATUS_ENDDOWNLOADDATA : BINDSTATUS_DOWNLOADINGDATA, total,
                       expected.value_or(0), url);
        ReportData(binding, chunk.data(), got, last);
        if (last)
            return S_OK;
    }
    // The connection ended before the announced length: the data is incomplete.
    if (expected && total < *expected)
        return INET_E_DOWNLOAD_FAILURE;
    ReportProgress(binding, BINDSTATUS_ENDDOWNLOADDATA, total, total, url);
    ReportData(binding, nullptr, 0, true);
    return S_OK;
}

// "C:/dir/a.swf", "C:\\dir\\a.swf" or "file:///C:/dir/a.swf": the path, else "".
std::wstring LocalPath(const std::wstring& url)
{
    std::wstring path = url;
    if (path.compare(0, 8, L"file:///") == 0)
        path.erase(0, 8);
    else if (path.compare(0, 7, L"file://") == 0)
        path.erase(0, 7);
    if (path.size() < 3 || !iswalpha(path[0]) || path[1] != L':' || (path[2] != L'/' && path[2] != L'\\'))
        return {};
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    return path;
}

// A local file, read the way the system's service reads one: in pieces.
HRESULT ReadFileInPieces(Binding& binding, const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return INET_E_RESOURCE_NOT_FOUND;
    LARGE_INTEGER size{};
    GetFileSizeEx(file, &size);
    const ULONGLONG total = static_cast<ULONGLONG>(size.QuadPart);
    ReportProgress(binding, BINDSTATUS_SENDINGREQUEST, 0, 0, path);
    ReportProgress(binding, BINDSTATUS_BEGINDOWNLOADDATA, 0, total, path);
    std::vector<char> chunk(kChunkSize);
    ULONGLONG done = 0;
    HRESULT result = S_OK;
    for (;;) {
        if (binding.AbortRequested()) {
            result = E_ABORT;
            break;
        }
        DWORD got = 0;
        if (!ReadFile(file, chunk.data(), kChunkSize, &got, nullptr)) {
            result = INET_E_DOWNLOAD_FAILURE;
            break;
        }
        done += got;
        if (got == 0 || done >= total) {
            ReportProgress(binding, BINDSTATUS_ENDDOWNLOADDATA, done, done, path);
            ReportData(binding, chunk.data(), got, true);
            break;
        }
        ReportProgress(binding, BINDSTATUS_DOWNLOADINGDATA, done, total, path);
        ReportData(binding, chunk.data(), got, false);
    }
    CloseHandle(file);
    return result;
}

void Run(Binding* binding) noexcept
{
    HRESULT result;
    try {
        const std::wstring path = LocalPath(binding->Url());
        result = path.empty() ? Download(*binding) : ReadFileInPieces(*binding, path);
    } catch (...) {
        result = E_OUTOFMEMORY;
    }
    binding->Finish(result);
    binding->Release();
}

}  // namespace

bool StartDownload(Binding* binding) noexcept
{
    binding->AddRef();  // the worker's, released when it has reported its result
    try {
        std::thread(Run, binding).detach();
        return true;
    } catch (...) {
        binding->Release();
        return false;
    }
}

HRESULT ResultFromWinInetError(DWORD error) noexcept
{
    switch (error) {
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
    case ERROR_INTERNET_CANNOT_CONNECT:
        return INET_E_RESOURCE_NOT_FOUND;
    case ERROR_INTERNET_TIMEOUT:
        return INET_E_CONNECTION_TIMEOUT;
    case ERROR_INTERNET_INVALID_URL:
    case ERROR_INTERNET_UNRECOGNIZED_SCHEME:
        return INET_E_INVALID_URL;
    case ERROR_INTERNET_OPERATION_CANCELLED:
        return E_ABORT;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return E_OUTOFMEMORY;
    default:
        return INET_E_DOWNLOAD_FAILURE;
    }
}

HRESULT ResultFromHttpStatus(DWORD status) noexcept
{
    if (status < 400)
        return S_OK;
    switch (status) {
    case 404:
    case 410:
        return INET_E_RESOURCE_NOT_FOUND;
    case 401:
    case 403:
    case 407:
        return E_ACCESSDENIED;
    default:
        return INET_E_DOWNLOAD_FAILURE;
    }
}

}  // namespace urlshim
