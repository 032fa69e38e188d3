// Movie loading: every URL the plug-in asks for is resolved here to a file, a
// stored movie, an in-memory copy, a package resource or an http download.
#include <windows.h>

#include <urlmon.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "kv_boundary.h"
#include "kv_flashstore.h"
#include "kv_hostfiles.h"
#include "kv_nsinternal.h"
#include "kv_pendingstreams.h"
#include "kv_urltext.h"

using namespace kvns;

namespace {

constexpr char kMime[] = "application/x-shockwave-flash";

}  // namespace

// ---------------------------------------------------------------------------
// Downloads
// ---------------------------------------------------------------------------

// One http download for a plug-in stream. urlmon holds it through COM
// references while the binding runs; the download list holds one more until
// the download ends. A download whose driver went away is detached: it lets
// the transfer finish but touches neither the driver nor the plug-in.
class TAsyncSteam : public TComponent, public IBindStatusCallback {
    KV_CLASS(TAsyncSteam, TComponent)
public:
    TAsyncSteam(TkvFlashDriverNS* driver, const std::string& url, void* notifyData)
        : TComponent(nullptr), Driver(driver), URL(url)
    {
        Stream.url = URL.c_str();
        Stream.notifyData = notifyData;
    }

    TkvFlashDriverNS* Driver;
    NPStream Stream{};
    std::string URL;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IBindStatusCallback)) {
            *ppv = static_cast<IBindStatusCallback*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() noexcept override
    {
        const ULONG n = --refs_;
        if (n == 0)
            delete this;
        return n;
    }

    // IBindStatusCallback
    HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding*) noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetPriority(LONG*) noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG, ULONG, ULONG, LPCWSTR) noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO*) noexcept override
    {
        if (flags)
            *flags = BINDF_ASYNCHRONOUS | BINDF_ASYNCSTORAGE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM* medium) noexcept override
    {
        // urlmon hears S_OK whatever happens: a piece that cannot be handed
        // on (no memory for the buffer) is traced, and the download goes on.
        return kv::Entry("IBindStatusCallback::OnDataAvailable", S_OK, [&] {
            if (!medium || medium->tymed != TYMED_ISTREAM || !medium->pstm)
                return S_OK;
            // Read what is there now; urlmon calls again as more arrives.
            std::vector<char> buffer(64 * 1024);
            for (;;) {
                ULONG got = 0;
                const HRESULT hr = medium->pstm->Read(buffer.data(), static_cast<ULONG>(buffer.size()), &got);
                if (got > 0)
                    Write(buffer.data(), got);
                if (hr != S_OK || got == 0)
                    break;
            }
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT result, LPCWSTR) noexcept override
    {
        return kv::Entry("IBindStatusCallback::OnStopBinding", S_OK, [&] {
            Finish(SUCCEEDED(result) && !broken_ ? NPRES_DONE : NPRES_NETWORK_ERR);
            return S_OK;
        });
    }

    // Starts the stream in the plug-in and the transfer; the object is in the
    // download list. A stream the plug-in refuses ends the request at once:
    // the object leaves the list (and may be gone on return) and the failure
    // is told from the message loop. A transfer that cannot start ends the
    // open stream the same way.
    void Start()
    {
        if (!Alive()) {
            ReleaseFromList();
            return;
        }
        TkvFlashDriverNS* const driver = Driver;
        std::uint16_t type = NP_NORMAL;
        // A handler may release the driver from inside NPP_NewStream.
        const auto opened = driver->NppNewStream(Stream, type);
        if (!opened.Made || opened.Result != NPERR_NO_ERROR) {
            const std::string url = URL;
            void* const notifyData = Stream.notifyData;
            Driver = nullptr;
            ReleaseFromList();  // may delete this
            if (opened.Survived)
                NotifyFailureLater(driver, url, notifyData);
            return;
        }
        streamOpen_ = true;
        const std::wstring url = DecodeURLText(Utf8ToWide(URL));
        if (!PullStreamProc || FAILED(PullStreamProc(nullptr, url.c_str(), 0, this)))
            FailLater();
    }

    // Ends the download with a network error from the message loop.
    void FailLater();
    void Fail() { Finish(NPRES_NETWORK_ERR); }

    void Detach() { Driver = nullptr; }
    bool Finished() const { return finished_; }

private:
    bool Alive() const { return Driver && TkvFlashDriverNS::PluginExists(); }

    void Write(const char* data, ULONG size)
    {
        if (!Alive() || !streamOpen_ || broken_)
            return;
        Stream.url = URL.c_str();
        // The movie may run scripts as data arrives; nothing of the driver is
        // used after the call.
        bool survived = true;
        const std::uint64_t at = offset_;
        offset_ += size;
        if (!Driver->WriteStream(Stream, at, data, size, survived) && survived) {
            // The player stopped taking data: later pieces would leave a gap,
            // so none goes, and the stream ends as failed when the transfer
            // does.
            broken_ = true;
        }
    }

    // Ends the plug-in's stream once: the notification first, then the stream.
    void Finish(NPReason reason)
    {
        if (finished_)
            return;
        finished_ = true;
        if (Alive() && streamOpen_) {
            TkvFlashDriverNS* const d = Driver;
            // The movie's loader hears the outcome and may run handlers that
            // release the driver: each step goes on only if it survived.
            if (d->NppURLNotify(URL.c_str(), reason, Stream.notifyData).Survived &&
                d->NppDestroyStream(Stream, reason).Survived)
                d->ResetWindow();
        }
        streamOpen_ = false;
        Driver = nullptr;
        ReleaseFromList();
    }

    void ReleaseFromList();

    ULONG refs_ = 1;  // the download list's reference
    std::uint64_t offset_ = 0;
    bool streamOpen_ = false;
    bool finished_ = false;
    bool broken_ = false;  // the player stopped taking this body's data
};

const TClassInfo& TAsyncSteam::StaticClass()
{
    static const TClassInfo info = TClassBuilder<TAsyncSteam>(L"TAsyncSteam").Build();
    return info;
}

namespace {

std::vector<TAsyncSteam*>& DownloadList()
{
    static std::vector<TAsyncSteam*> list;
    return list;
}

}  // namespace

void TAsyncSteam::ReleaseFromList()
{
    auto& list = DownloadList();
    auto it = std::find(list.begin(), list.end(), this);
    if (it != list.end()) {
        list.erase(it);
        Release();  // may delete this
    }
}

// ---------------------------------------------------------------------------
// Failure notices. A request that fails while the plug-in is still inside the
// call that made it is told so later, from the message loop: a plug-in does
// not expect NPP_URLNotify from inside its own NPN_GetURLNotify.
// ---------------------------------------------------------------------------

namespace {

constexpr UINT WM_KV_REQUESTFAILED = WM_APP + 0x4B58;

struct FailureNotice {
    TkvFlashDriverNS* driver = nullptr;
    std::string url;
    void* notifyData = nullptr;
    TAsyncSteam* download = nullptr;  // a download to end instead of a bare notice
};

std::deque<FailureNotice>& Notices()
{
    static std::deque<FailureNotice> notices;
    return notices;
}

HWND g_noticeWindow = nullptr;

void DeliverNotices()
{
    // Only the notices waiting now: a movie that asks again on every failure
    // gets its next answer at the next turn of the loop, not in this one.
    for (std::size_t n = Notices().size(); n > 0 && !Notices().empty(); --n) {
        FailureNotice notice = std::move(Notices().front());
        Notices().pop_front();
        if (notice.download) {
            notice.download->Fail();
            continue;
        }
        TkvFlashDriverNS* d = notice.driver;
        if (!d->InstanceAlive() || !TkvFlashDriverNS::PluginExists())
            continue;
        // The loader's failure handler may release the driver; nothing of it
        // is used after the call.
        d->NppURLNotify(notice.url.c_str(), NPRES_NETWORK_ERR, notice.notifyData);
    }
    if (!Notices().empty() && g_noticeWindow)
        PostMessageW(g_noticeWindow, WM_KV_REQUESTFAILED, 0, 0);
}

LRESULT CALLBACK NoticeWindowProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) noexcept
{
    if (msg == WM_KV_REQUESTFAILED) {
        // A notice that fails is traced; the next message carries the rest.
        kv::Entry("plug-in request window", [] { DeliverNotices(); });
        return 0;
    }
    return DefWindowProcW(wnd, msg, wp, lp);
}

HWND NoticeWindow()
{
    if (g_noticeWindow)
        return g_noticeWindow;
    static const wchar_t kClass[] = L"KorvelPluginRequests";
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&NoticeWindowProc), &module);
    WNDCLASSW wc{};
    wc.lpfnWndProc = NoticeWindowProc;
    wc.hInstance = module;
    wc.lpszClassName = kClass;
    ::RegisterClassW(&wc);  // a second registration fails harmlessly
    g_noticeWindow = CreateWindowExW(0, kClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module, nullptr);
    return g_noticeWindow;
}

void Enqueue(FailureNotice notice)
{
    const bool first = Notices().empty();
    Notices().push_back(std::move(notice));
    // One message carries every notice queued before it is handled.
    if (first)
        if (HWND w = NoticeWindow())
            PostMessageW(w, WM_KV_REQUESTFAILED, 0, 0);
}

}  // namespace

void TAsyncSteam::FailLater()
{
    Enqueue(FailureNotice{Driver, URL, Stream.notifyData, this});
}

namespace kvns {

void NotifyFailureLater(TkvFlashDriverNS* driver, const std::string& url, void* notifyData)
{
    // A request made while the instance shuts down is not answered: the
    // instance will not be there to hear it.
    if (!driver || !driver->InstanceAlive())
        return;
    Enqueue(FailureNotice{driver, url, notifyData, nullptr});
}

void EndRequestsOf(TkvFlashDriverNS* driver)
{
    for (TAsyncSteam* d : DownloadList())
        if (d->Driver == driver)
            d->Detach();
    // A download's notice stays: ending it, detached, only takes it off the list.
    auto& notices = Notices();
    notices.erase(std::remove_if(notices.begin(), notices.end(),
                                 [&](const FailureNotice& n) { return n.driver == driver && !n.download; }),
                  notices.end());
}

int FailuresWaiting()
{
    return static_cast<int>(Notices().size());
}

void ShutdownDownloads()
{
    Notices().clear();
    if (g_noticeWindow) {
        DestroyWindow(g_noticeWindow);
        g_noticeWindow = nullptr;
    }
    auto list = std::move(DownloadList());
    DownloadList().clear();
    for (TAsyncSteam* d : list) {
        d->Detach();
        d->Release();
    }
}

int DownloadsInFlight()
{
    return static_cast<int>(DownloadList().size());
}

}  // namespace kvns

// ---------------------------------------------------------------------------
// Resolving and delivering
// ---------------------------------------------------------------------------

bool TkvFlashDriverNS::WriteStream(NPStream& stream, std::uint64_t offset, const char* data, std::size_t size,
                                   bool& survived)
{
    // A plug-in that takes nothing for this many rounds in a row has stopped
    // reading: what is left is not offered again.
    constexpr int kMaxIdleRounds = 64;
    survived = true;
    std::size_t done = 0;
    int idle = 0;
    while (done < size) {
        const std::size_t left = size - done;
        std::size_t piece = std::min<std::size_t>(left, 0x7FFFFFFF);
        if (PluginFuncs.writeready) {
            // The movie's loader may run handlers in any of these calls.
            const auto ready = NppWriteReady(stream);
            if (!ready.Survived) {
                survived = false;
                return false;
            }
            if (ready.Result < 0)
                return false;
            piece = std::min<std::size_t>(piece, static_cast<std::size_t>(ready.Result));
        }
        std::int32_t taken = 0;
        if (piece > 0) {
            const auto wrote = NppWrite(stream, static_cast<std::int32_t>(offset + done),
                                        static_cast<std::int32_t>(piece), const_cast<char*>(data + done));
            if (!wrote.Survived) {
                survived = false;
                return false;
            }
            if (!wrote.Made || wrote.Result < 0)
                return false;
            // A plug-in may claim more than it was offered: it took the piece.
            taken = static_cast<std::int32_t>(std::min<std::size_t>(static_cast<std::size_t>(wrote.Result), piece));
        }
        if (taken == 0) {
            if (++idle == kMaxIdleRounds)
                return false;
            continue;
        }
        idle = 0;
        done += static_cast<std::size_t>(taken);
    }
    return true;
}

bool TkvFlashDriverNS::Deliver(TStream& source, const std::string& url, void* notifyData)
{
    if (!instanceAlive_ || !PluginFuncs.newstream)
        return false;
    const std::int64_t size = source.Size();
    if (size < 0 || size > 0x7FFFFFFF)
        return false;  // one stream carries at most 2 GB
    std::vector<char> buffer(static_cast<size_t>(size));
    source.SetPosition(0);
    if (size)
        source.ReadBuffer(buffer.data(), size);

    NPStream stream{};
    stream.url = url.c_str();
    stream.end = static_cast<std::uint32_t>(size);
    stream.notifyData = notifyData;
    std::uint16_t type = NP_NORMAL;
    // Each call below may run the movie's scripts, and through them handlers
    // that release the driver: the next one is made only if it survived.
    const auto opened = NppNewStream(stream, type);
    if (!opened.Made || opened.Result != NPERR_NO_ERROR)
        return false;
    // From here on the stream itself ends the request.
    if (!opened.Survived)
        return true;
    bool survived = true;
    // A body the player did not take whole ends as failed: the loader must
    // not take part of a file for all of it.
    const NPReason reason = WriteStream(stream, 0, buffer.data(), buffer.size(), survived) ? NPRES_DONE
                                                                                           : NPRES_NETWORK_ERR;
    if (survived && NppURLNotify(url.c_str(), reason, notifyData).Survived)
        NppDestroyStream(stream, reason);
    return true;
}

namespace {

// Answers a request with a failure from the message loop unless something
// answered it first; whatever way CreateStream leaves, an exception included,
// the plug-in hears of the request exactly once.
class TRequestEnd {
public:
    TRequestEnd(TkvFlashDriverNS* driver, const WideString& url, void* notifyData)
        : driver_(driver), url_(url), notifyData_(notifyData)
    {
    }
    ~TRequestEnd()
    {
        if (answered_)
            return;
        // Without memory for the notice the request stays unanswered: traced.
        kv::Entry("request end", [&] { NotifyFailureLater(driver_, ToUtf8(url_), notifyData_); });
    }
    TRequestEnd(const TRequestEnd&) = delete;
    TRequestEnd& operator=(const TRequestEnd&) = delete;
    void Answered() { answered_ = true; }

private:
    TkvFlashDriverNS* driver_;
    WideString url_;
    void* notifyData_;
    bool answered_ = false;
};

}  // namespace

void TkvFlashDriverNS::CreateStream(const WideString& URL, void* NotifyData)
{
    if (!Ready())
        return;
    TkvDriverBusy busy(this);
    TRequestEnd request(this, URL, NotifyData);
    std::wstring s = URL;
    if (StartsWith(s, StreamHostPrefix))
        s.erase(0, StreamHostPrefix.size());
    if (StartsWith(s, L"file:///"))
        s.erase(0, 8);

    // "https:" is a network URL exactly like "http:".
    const bool network = Contains(s, L"http:") || Contains(s, L"https:");
    std::vector<std::pair<std::wstring, std::wstring>> variables;
    if (!network && Contains(s, L"?")) {
        TkvQuery q = SplitQuery(s);
        s = q.Path;
        variables = std::move(q.Variables);
    }

    std::unique_ptr<TStream> source;
    const std::wstring decoded = DecodeURLText(s);
    const std::wstring fileName = URLFileName(s);
    if (IsExistingFile(decoded)) {
        source = OpenFileForReading(decoded);
    } else if (IsExistingFile(fileName)) {
        source = OpenFileForReading(fileName);
    } else if (IsExistingFile(ExecutableFolder() + s)) {
        source = OpenFileForReading(ExecutableFolder() + s);
    } else if (TkvFlashStream* stored = FindStoredFile(fileName)) {
        source = CopyOfStream(*stored->DataStream());
    } else if (StartsWith(s, L"/") && StartsWith(std::wstring_view(s).substr(1), StreamMarker)) {
        unsigned id = 0;
        if (ParseStreamId(std::wstring_view(s).substr(1 + StreamMarker.size()), id))
            source = kvpending::Open(id);
    } else if (StartsWith(s, StreamMarker)) {
        unsigned id = 0;
        if (ParseStreamId(std::wstring_view(s).substr(StreamMarker.size()), id))
            source = kvpending::Open(id);
    } else if (HasPackageResource(ResourceNameOf(s))) {
        source = OpenPackageResource(ResourceNameOf(s));
    } else if (StartsWith(s, L"http:") || StartsWith(s, L"https:")) {
        // The download answers the request, however it ends.
        request.Answered();
        auto* download = new TAsyncSteam(this, ToUtf8(s), NotifyData);
        DownloadList().push_back(download);
        download->Start();
        return;
    }
    if (!source)
        return;  // nothing to deliver: the request fails

    // A stream the plug-in refuses leaves the request to fail; the movie's
    // variables and the window are seen to either way.
    // The movie's first frame may run inside the delivery, with handlers that
    // release the driver; the guard above keeps it whole until the checks.
    if (Deliver(*source, ToUtf8(s), NotifyData))
        request.Answered();
    if (busy.Released())
        return;
    for (const auto& [name, value] : variables) {
        SetVariable(name, value);
        if (busy.Released())
            return;
    }
    ResetWindow();
}

void TkvFlashDriverNS::InvokeLoadMovie(const WideString& url)
{
    const std::string text = ToUtf8(url);
    NPVariant args[2];
    args[0] = VoidVariant();
    args[0].type = NPVariantType_Int32;
    args[0].value.intValue = 0;  // the layer
    args[1] = StringVariant(text);
    InvokeCommand("LoadMovie", args, 2);
}

void TkvFlashDriverNS::LoadVideo(const WideString& contentPath)
{
    InvokeLoadMovie(L"flvplayback.swf");
    SetVariable(L"flv.skin", Skin + L".swf");
    SetVariable(L"flv.volume", IntToStr(Volume));
    SetVariable(L"flv.contentPath", contentPath);
    IsVideo = true;
}

void TkvFlashDriverNS::LoadMovie(const WideString& Path)
{
    // An instance that came up without a scriptable object (its NPP_New or
    // NPP_GetValue failed) is replaced too: the next load may work.
    if (!Ready() || Path.empty())
        return;
    TkvDriverBusy busy(this);
    // Every movie starts in a fresh instance, which can never ask for the
    // copies the last one was given.
    kvpending::DropOwnedBy(this);
    // The old instance's end and the new one's start both call into the
    // plug-in, which may run handlers that release the driver.
    DestroyPlugin();
    CreatePlugin();
    if (!ScriptObject || busy.Released())
        return;
    if (Contains(Path, L".flv")) {
        LoadVideo(WideString(StreamHostPrefix) + Path);
        return;
    }
    InvokeLoadMovie(Path);
    IsVideo = false;
}

void TkvFlashDriverNS::LoadMovieFromStream(TStream* Stream)
{
    if (!Ready() || !ScriptObject || !Stream)
        return;
    TkvDriverBusy busy(this);
    auto copy = std::make_unique<TMemoryStream>();
    const std::int64_t size = Stream->Size() - Stream->Position();
    if (size > 0)
        copy->CopyFrom(*Stream, size);
    copy->SetPosition(0);
    char head[3] = {};
    const bool isVideo = copy->Read(head, 3) == 3 && head[0] == 'F' && head[1] == 'L' && head[2] == 'V';
    copy->SetPosition(0);
    const unsigned id = kvpending::Add(std::move(copy), this);
    kvpending::DropOwnedBy(this, id);  // the new movie replaces the last one's copy
    const WideString base = WideString(StreamHostPrefix) + L"/" + WideString(StreamMarker) + FormatStreamId(id);
    CurrentMovie.clear();
    if (isVideo) {
        LoadVideo(base + L".flv");
        return;
    }
    InvokeLoadMovie(base + L".swf");
    IsVideo = false;
}
