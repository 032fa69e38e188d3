// Movie loading: every URL the plug-in asks for is resolved here to a file, a
// stored movie, an in-memory copy, a package resource or an http download.
#include <windows.h>

#include <urlmon.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

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
        try {
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
        } catch (...) {
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT result, LPCWSTR) noexcept override
    {
        try {
            Finish(SUCCEEDED(result) ? NPRES_DONE : NPRES_NETWORK_ERR);
        } catch (...) {
        }
        return S_OK;
    }

    // Starts the stream in the plug-in and the transfer; false when it could not start.
    bool Start()
    {
        if (!Alive())
            return false;
        {
            TkvDriverBusy busy(Driver);
            std::uint16_t type = NP_NORMAL;
            char mime[] = "application/x-shockwave-flash";
            if (PluginFuncs.newstream(&Driver->Instance, mime, &Stream, true, &type) != NPERR_NO_ERROR) {
                Driver = nullptr;  // refused: nothing more goes to the plug-in
                return false;
            }
            streamOpen_ = true;
        }
        if (!PullStreamProc) {
            Finish(NPRES_NETWORK_ERR);
            return false;
        }
        const std::wstring url = DecodeURLText(Utf8ToWide(URL));
        if (FAILED(PullStreamProc(nullptr, url.c_str(), 0, this))) {
            Finish(NPRES_NETWORK_ERR);
            return false;
        }
        return true;
    }

    void Detach() { Driver = nullptr; }
    bool Finished() const { return finished_; }

private:
    bool Alive() const { return Driver && TkvFlashDriverNS::PluginExists(); }

    void Write(const char* data, ULONG size)
    {
        if (!Alive() || !streamOpen_ || !PluginFuncs.write)
            return;
        TkvDriverBusy busy(Driver);
        Stream.url = URL.c_str();
        PluginFuncs.write(&Driver->Instance, &Stream, static_cast<std::int32_t>(offset_), static_cast<std::int32_t>(size),
                          const_cast<char*>(data));
        offset_ += size;
    }

    // Ends the plug-in's stream once: the notification first, then the stream.
    void Finish(NPReason reason)
    {
        if (finished_)
            return;
        finished_ = true;
        if (Alive() && streamOpen_) {
            TkvDriverBusy busy(Driver);
            if (PluginFuncs.urlnotify)
                PluginFuncs.urlnotify(&Driver->Instance, URL.c_str(), reason, Stream.notifyData);
            if (!busy.Released() && PluginFuncs.destroystream)
                PluginFuncs.destroystream(&Driver->Instance, &Stream, reason);
            if (!busy.Released())
                Driver->ResetWindow();
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

namespace kvns {

void DetachDownloads(TkvFlashDriverNS* driver)
{
    for (TAsyncSteam* d : DownloadList())
        if (d->Driver == driver)
            d->Detach();
}

void ShutdownDownloads()
{
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

void TkvFlashDriverNS::Deliver(TStream& source, const std::string& url, void* notifyData)
{
    TkvDriverBusy busy(this);
    const std::int64_t size = source.Size();
    if (size < 0 || size > 0x7FFFFFFF)
        return;  // one stream carries at most 2 GB
    std::vector<char> buffer(static_cast<size_t>(size));
    source.SetPosition(0);
    if (size)
        source.ReadBuffer(buffer.data(), size);

    NPStream stream{};
    stream.url = url.c_str();
    stream.end = static_cast<std::uint32_t>(size);
    stream.notifyData = notifyData;
    std::uint16_t type = NP_NORMAL;
    char mime[] = "application/x-shockwave-flash";
    if (!instanceAlive_ || !PluginFuncs.newstream)
        return;
    if (PluginFuncs.newstream(&Instance, mime, &stream, true, &type) != NPERR_NO_ERROR)
        return;
    if (busy.Released())
        return;
    if (PluginFuncs.write)
        PluginFuncs.write(&Instance, &stream, 0, static_cast<std::int32_t>(size), buffer.data());
    if (busy.Released())
        return;
    if (PluginFuncs.urlnotify)
        PluginFuncs.urlnotify(&Instance, url.c_str(), NPRES_DONE, notifyData);
    if (busy.Released())
        return;
    if (PluginFuncs.destroystream)
        PluginFuncs.destroystream(&Instance, &stream, NPRES_DONE);
}

void TkvFlashDriverNS::CreateStream(const WideString& URL, void* NotifyData)
{
    if (!Ready())
        return;
    TkvDriverBusy busy(this);
    std::wstring s = URL;
    if (StartsWith(s, StreamHostPrefix))
        s.erase(0, StreamHostPrefix.size());
    if (StartsWith(s, L"file:///"))
        s.erase(0, 8);

    std::vector<std::pair<std::wstring, std::wstring>> variables;
    if (!Contains(s, L"http:") && Contains(s, L"?")) {
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
    } else if (StartsWith(s, L"http:")) {
        auto* download = new TAsyncSteam(this, ToUtf8(s), NotifyData);
        DownloadList().push_back(download);
        download->Start();
        return;
    }
    if (!source)
        return;  // nothing matches: the plug-in is not told

    Deliver(*source, ToUtf8(s), NotifyData);
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
    if (!Ready() || Path.empty() || !ScriptObject)
        return;
    TkvDriverBusy busy(this);
    // Every movie starts in a fresh instance, which can never ask for the
    // copies the last one was given.
    kvpending::DropOwnedBy(this);
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
