// Downloads through the urlmon shim, found the way the package finds urlmon:
// LoadLibrary("urlmon.dll") and GetProcAddress. Files are served by the
// kv_http_server fixture from its folder, which this program writes into.
#include <winsock2.h>
#include <windows.h>

#include <urlmon.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

using PullStreamFunc = HRESULT(WINAPI*)(IUnknown*, LPCWSTR, DWORD, IBindStatusCallback*);

std::wstring Widen(const std::string& s)
{
    return std::wstring(s.begin(), s.end());
}

// Records every callback with the thread it ran on, reads the data it is
// offered and fails the test on a callback that starts inside another.
class Recorder final : public IBindStatusCallback {
public:
    struct Notification {
        DWORD flags;
        DWORD size;
        bool streamMedium;
    };

    std::vector<std::string> calls;
    std::vector<DWORD> threads;
    std::vector<Notification> notifications;
    std::string bytes;
    int stops = 0;
    HRESULT result = E_UNEXPECTED;
    bool nested = false;
    ULONG readPerNotification = ULONG_MAX;  // the last notification is always read to the end
    std::function<void(Recorder&)> onFirstData;
    IBinding* binding = nullptr;
    ULONG refs = 1;

    bool Stopped() const { return stops > 0; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IBindStatusCallback)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }  // lives on the test's stack

    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO* info) override
    {
        Call call(*this, "GetBindInfo");
        if (!flags || !info || info->cbSize < sizeof(BINDINFO))
            ADD_FAILURE() << "GetBindInfo got no usable record";
        else
            *flags = BINDF_ASYNCHRONOUS | BINDF_ASYNCSTORAGE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding* b) override
    {
        Call call(*this, "OnStartBinding");
        if (b) {
            b->AddRef();
            binding = b;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG, ULONG, ULONG, LPCWSTR) override
    {
        Call call(*this, "OnProgress");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format, STGMEDIUM* medium) override
    {
        Call call(*this, "OnDataAvailable");
        const bool streamMedium = format && format->tymed == TYMED_ISTREAM && medium &&
                                  medium->tymed == TYMED_ISTREAM && medium->pstm;
        notifications.push_back({flags, size, streamMedium});
        if (streamMedium)
            Read(medium->pstm, (flags & BSCF_LASTDATANOTIFICATION) ? ULONG_MAX : readPerNotification);
        if (notifications.size() == 1 && onFirstData)
            onFirstData(*this);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT hr, LPCWSTR) override
    {
        Call call(*this, "OnStopBinding");
        ++stops;
        result = hr;
        if (binding) {
            binding->Release();
            binding = nullptr;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

    size_t DataCallsWith(DWORD flag) const
    {
        size_t n = 0;
        for (const auto& note : notifications)
            n += (note.flags & flag) ? 1 : 0;
        return n;
    }

private:
    struct Call {
        Call(Recorder& r, const char* name) : r_(r)
        {
            r_.nested |= r_.depth_ > 0;
            ++r_.depth_;
            r_.calls.push_back(name);
            r_.threads.push_back(GetCurrentThreadId());
        }
        ~Call() { --r_.depth_; }
        Recorder& r_;
    };

    void Read(IStream* stream, ULONG limit)
    {
        char buffer[4096];
        while (limit > 0) {
            ULONG got = 0;
            const HRESULT hr = stream->Read(buffer, std::min<ULONG>(limit, sizeof(buffer)), &got);
            bytes.append(buffer, got);
            limit -= got;
            if (hr != S_OK || got == 0)
                break;
        }
    }

    int depth_ = 0;
};

// Runs the caller's message loop until `done`; the limit only keeps a broken
// shim from hanging the run.
bool PumpUntil(const std::function<bool()>& done, DWORD limitMs = 60000)
{
    const ULONGLONG start = GetTickCount64();
    while (!done()) {
        if (GetTickCount64() - start > limitMs)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return true;
}

std::string TestBytes(size_t size, uint32_t seed)
{
    std::string s(size, '\0');
    for (auto& c : s) {
        seed = seed * 1664525u + 1013904223u;
        c = static_cast<char>(seed >> 24);
    }
    return s;
}

class UrlmonShim : public testing::Test {
protected:
    static void SetUpTestSuite() { module_ = LoadLibraryW(L"urlmon.dll"); }

    void SetUp() override
    {
        ASSERT_NE(module_, nullptr) << "urlmon.dll did not load";
        open_ = reinterpret_cast<PullStreamFunc>(reinterpret_cast<void*>(GetProcAddress(module_, "URLOpenPullStreamW")));
        ASSERT_NE(open_, nullptr);
        ASSERT_NE(open_(nullptr, nullptr, 0, nullptr), E_NOTIMPL)
            << "Wine's own urlmon was loaded: the test needs WINEDLLOVERRIDES=urlmon=n,b";
        ReadServerState();
    }

    void TearDown() override
    {
        for (const auto& path : written_)
            DeleteFileW(path.c_str());
    }

    void ReadServerState()
    {
        wchar_t state[MAX_PATH];
        const DWORD n = GetEnvironmentVariableW(L"KV_HTTP_STATE", state, MAX_PATH);
        ASSERT_TRUE(n > 0 && n < MAX_PATH) << "KV_HTTP_STATE is not set: run through ctest (fixture kv_http_server)";
        std::ifstream in{std::filesystem::path(state)};
        ASSERT_TRUE(in) << "no http server state file: the kv_http_server fixture did not run";
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("port=", 0) == 0)
                port_ = std::stoi(line.substr(5));
            else if (line.rfind("root=", 0) == 0)
                root_ = (line.compare(5, 1, "/") == 0 ? L"Z:" : L"") + Widen(line.substr(5));  // Wine's drive Z: is /
        }
        ASSERT_GT(port_, 0);
        ASSERT_FALSE(root_.empty());
    }

    // Puts a file into the served folder; returns its URL.
    std::wstring Serve(const std::string& tag, const std::string& content)
    {
        const std::string name = "shimtest_" + std::to_string(GetCurrentProcessId()) + "_" + tag + ".bin";
        const std::wstring path = root_ + L"\\" + Widen(name);
        std::ofstream(std::filesystem::path(path), std::ios::binary).write(content.data(), static_cast<std::streamsize>(content.size()));
        written_.push_back(path);
        return Url(name);
    }

    std::wstring Url(const std::string& path, int port = 0) const
    {
        return L"http://127.0.0.1:" + std::to_wstring(port ? port : port_) + L"/" + Widen(path);
    }

    // Starts a download and runs the message loop until it has stopped.
    void Download(const std::wstring& url, Recorder& r)
    {
        ASSERT_EQ(open_(nullptr, url.c_str(), 0, &r), S_OK);
        EXPECT_TRUE(r.calls.empty()) << "a callback ran inside URLOpenPullStreamW";
        ASSERT_TRUE(PumpUntil([&] { return r.Stopped(); })) << "no OnStopBinding";
        // Anything still posted must not produce a second stop.
        PumpUntil([] { return false; }, 100);
        EXPECT_EQ(r.stops, 1);
        EXPECT_EQ(r.refs, 1u) << "the callback's references are not balanced";
        EXPECT_FALSE(r.nested) << "a callback started inside another";
    }

    static HMODULE module_;
    PullStreamFunc open_ = nullptr;
    int port_ = 0;
    std::wstring root_;
    std::vector<std::wstring> written_;
};

HMODULE UrlmonShim::module_ = nullptr;

TEST_F(UrlmonShim, LargeFileArrivesWholeInSeveralNotificationsOnCallerThread)
{
    const std::string content = TestBytes(300 * 1000, 7);
    Recorder r;
    Download(Serve("large", content), r);

    EXPECT_EQ(r.result, S_OK);
    EXPECT_TRUE(r.bytes == content) << "got " << r.bytes.size() << " bytes, not the file's " << content.size();
    ASSERT_GE(r.calls.size(), 4u);
    EXPECT_EQ(r.calls.front(), "GetBindInfo");
    EXPECT_EQ(r.calls[1], "OnStartBinding");
    EXPECT_EQ(r.calls.back(), "OnStopBinding");
    for (DWORD thread : r.threads)
        EXPECT_EQ(thread, GetCurrentThreadId());

    ASSERT_GE(r.notifications.size(), 2u);
    EXPECT_TRUE(r.notifications.front().flags & BSCF_FIRSTDATANOTIFICATION);
    EXPECT_EQ(r.DataCallsWith(BSCF_FIRSTDATANOTIFICATION), 1u);
    EXPECT_EQ(r.DataCallsWith(BSCF_LASTDATANOTIFICATION), 1u);
    EXPECT_TRUE(r.notifications.back().flags & BSCF_LASTDATANOTIFICATION);
    DWORD previous = 0;
    for (const auto& note : r.notifications) {
        EXPECT_TRUE(note.streamMedium);
        EXPECT_GE(note.size, previous) << "the running total went down";
        previous = note.size;
    }
    EXPECT_EQ(previous, content.size());
}

TEST_F(UrlmonShim, LastNotificationEndsEveryDownloadWhateverTheLength)
{
    struct Case {
        const char* name;
        size_t size;
        const char* query;
        ULONG readPerNotification;
    };
    const Case cases[] = {
        {"empty", 0, "", ULONG_MAX},
        {"smaller than a chunk", 1000, "", ULONG_MAX},
        {"no Content-Length", 70 * 1000, "?nolength", ULONG_MAX},
        {"reader leaves bytes behind", 90 * 1000, "", 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string content = TestBytes(c.size, static_cast<uint32_t>(c.size) + 1);
        Recorder r;
        r.readPerNotification = c.readPerNotification;
        Download(Serve(std::to_string(c.size), content) + Widen(c.query), r);

        EXPECT_EQ(r.result, S_OK);
        EXPECT_TRUE(r.bytes == content) << "got " << r.bytes.size() << " of " << content.size() << " bytes";
        ASSERT_FALSE(r.notifications.empty());
        EXPECT_TRUE(r.notifications.front().flags & BSCF_FIRSTDATANOTIFICATION);
        EXPECT_TRUE(r.notifications.back().flags & BSCF_LASTDATANOTIFICATION);
        EXPECT_EQ(r.DataCallsWith(BSCF_LASTDATANOTIFICATION), 1u);
        EXPECT_EQ(r.notifications.back().size, content.size());
    }
}

TEST_F(UrlmonShim, FailedDownloadsEndWithFailureAndDeliverNothingComplete)
{
    {
        SCOPED_TRACE("404");
        Recorder r;
        Download(Url("no_such_file.swf"), r);
        EXPECT_EQ(r.result, INET_E_RESOURCE_NOT_FOUND);
        EXPECT_TRUE(r.notifications.empty());
        EXPECT_EQ(r.calls.front(), "GetBindInfo");
    }
    {
        SCOPED_TRACE("connection refused");
        // A port bound but not listening refuses connections for as long as we hold it.
        WSADATA wsa;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wsa), 0);
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        ASSERT_NE(s, INVALID_SOCKET);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int len = sizeof(addr);
        ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&addr), len), 0);
        ASSERT_EQ(getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len), 0);
        Recorder r;
        Download(Url("movie.swf", ntohs(addr.sin_port)), r);
        closesocket(s);
        WSACleanup();
        EXPECT_TRUE(FAILED(r.result)) << std::hex << r.result;
        EXPECT_TRUE(r.notifications.empty());
    }
    {
        SCOPED_TRACE("connection closed before the announced length");
        Recorder r;
        Download(Serve("truncated", TestBytes(100 * 1000, 3)) + L"?truncate", r);
        EXPECT_TRUE(FAILED(r.result)) << std::hex << r.result;
        EXPECT_EQ(r.DataCallsWith(BSCF_LASTDATANOTIFICATION), 0u);
    }
}

TEST_F(UrlmonShim, LocalFilesAreReadInPiecesAsTheSystemServiceReadsThem)
{
    const std::string content = TestBytes(100 * 1000, 3);
    Serve("local", content);
    const std::wstring path = written_.back();
    std::wstring slashed = path;
    for (wchar_t& c : slashed)
        if (c == L'\\')
            c = L'/';
    for (const std::wstring& url : {path, slashed, L"file:///" + slashed}) {
        Recorder r;
        Download(url, r);
        EXPECT_EQ(r.result, S_OK);
        EXPECT_TRUE(r.bytes == content) << "got " << r.bytes.size() << " bytes";
    }
    Recorder missing;
    Download(root_ + L"\\no such file.bin", missing);
    EXPECT_TRUE(FAILED(missing.result));
    EXPECT_TRUE(missing.bytes.empty());
}

TEST_F(UrlmonShim, BadArgumentsFailAtOnceWithoutCallbacks)
{
    Recorder r;
    const std::wstring longUrl = L"http://127.0.0.1/" + std::wstring(40000, L'a');
    EXPECT_EQ(open_(nullptr, nullptr, 0, &r), E_INVALIDARG);
    EXPECT_EQ(open_(nullptr, Url("x.swf").c_str(), 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(open_(nullptr, L"ftp://127.0.0.1/x.swf", 0, &r), INET_E_UNKNOWN_PROTOCOL);
    EXPECT_EQ(open_(nullptr, L"gopher://127.0.0.1/x.swf", 0, &r), INET_E_UNKNOWN_PROTOCOL);
    EXPECT_EQ(open_(nullptr, L"movies\\x.swf", 0, &r), INET_E_UNKNOWN_PROTOCOL) << "a relative path is no URL";
    EXPECT_TRUE(FAILED(open_(nullptr, L"", 0, &r)));
    EXPECT_TRUE(FAILED(open_(nullptr, longUrl.c_str(), 0, &r)));
    PumpUntil([] { return false; }, 200);
    EXPECT_TRUE(r.calls.empty());
    EXPECT_EQ(r.refs, 1u);
}

TEST_F(UrlmonShim, AbortInsideFirstNotificationEndsBindingAfterItReturns)
{
    Recorder r;
    r.readPerNotification = 0;
    r.onFirstData = [](Recorder& self) {
        // Pump while the worker queues the rest: none of it may arrive inside
        // this callback, and after the abort none of it at all.
        PumpUntil([] { return false; }, 300);
        ASSERT_NE(self.binding, nullptr);
        EXPECT_EQ(self.binding->Abort(), S_OK);
        EXPECT_EQ(self.stops, 0) << "OnStopBinding ran inside the callback that aborted";
    };
    Download(Serve("aborted", TestBytes(200 * 1000, 11)), r);
    EXPECT_EQ(r.result, E_ABORT);
    EXPECT_EQ(r.notifications.size(), 1u);
    EXPECT_EQ(r.binding, nullptr);
}

}  // namespace
