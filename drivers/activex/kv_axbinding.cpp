// Movie loading: the driver turns movie names into URLs for the control, and
// serves the control's URL requests as its bind host and moniker.
#include <windows.h>

#include <urlmon.h>

#include <algorithm>
#include <memory>

#include "framework/sysutils.h"
#include "framework/winstreams.h"
#include "kv_axinternal.h"
#include "kv_boundary.h"
#include "kv_axurls.h"
#include "kv_driver_activex.h"
#include "kv_flashstore.h"
#include "kv_hostfiles.h"
#include "kv_pendingstreams.h"

namespace {

template <class I>
HRESULT ClearOut(I** out)
{
    if (out)
        *out = nullptr;
    return E_NOTIMPL;
}

// A local file goes to the control in pieces of this size, so that a large
// one is never held whole in memory twice.
constexpr std::int64_t kFilePiece = 64 * 1024;

// The callback of a bind context registered for one binding: the bind
// host's own bindings read it from there, like the control's. Whatever the
// context held before is put back afterwards.
class TScopedCallback {
public:
    TScopedCallback(IBindCtx* ctx, IBindStatusCallback* callback) : ctx_(ctx)
    {
        if (!callback)
            return;
        ctx_->GetObjectParam(Key(), previous_.put());
        registered_ = SUCCEEDED(ctx_->RegisterObjectParam(Key(), callback));
    }
    ~TScopedCallback()
    {
        if (!registered_)
            return;
        if (previous_)
            ctx_->RegisterObjectParam(Key(), previous_.get());
        else
            ctx_->RevokeObjectParam(Key());
    }
    TScopedCallback(const TScopedCallback&) = delete;
    TScopedCallback& operator=(const TScopedCallback&) = delete;

private:
    static LPOLESTR Key() { return const_cast<LPOLESTR>(L"_BSCB_Holder_"); }
    IBindCtx* ctx_;
    kv::ComPtr<IUnknown> previous_;
    bool registered_ = false;
};

// The bind context a bind host method works with: the caller's, or a new one.
HRESULT ContextFor(IBindCtx* given, kv::ComPtr<IBindCtx>& ctx)
{
    if (given) {
        ctx = kv::ComPtr<IBindCtx>(given);
        return S_OK;
    }
    return CreateBindCtx(0, ctx.put());
}

// Hands a piece of data to the control as an IStream it may keep.
void DeliverPiece(IBindStatusCallback* callback, std::unique_ptr<TStream> piece, DWORD flags, DWORD total,
                  HRESULT& answer)
{
    kv::ComPtr<IStream> stream;
    stream.attach(TStreamAdapter::Create(piece.get(), soOwned));
    piece.release();
    STGMEDIUM medium{};
    medium.tymed = TYMED_ISTREAM;
    medium.pstm = stream.get();
    medium.pUnkForRelease = nullptr;
    answer = callback->OnDataAvailable(flags, total, nullptr, &medium);
}

TkvMonikerSources HostSources()
{
    TkvMonikerSources s;
    s.IsStored = [](const WideText& key) { return FindStoredFile(key) != nullptr; };
    s.HasResource = [](const WideText& name) { return HasPackageResource(name); };
    s.IsFile = [](const WideText& path) { return IsExistingFile(path); };
    s.AppFolder = ExecutableFolder();
    return s;
}

// Opens what a pending URL of the resource, stored or stream form names;
// nullptr when it names nothing (any more).
std::unique_ptr<TStream> OpenPending(TkvPendingForm form, std::wstring_view rest)
{
    switch (form) {
        case TkvPendingForm::Resource:
            return OpenPackageResource(ResourceNameOf(rest));
        case TkvPendingForm::Stored:
            if (TkvFlashStream* stored = FindStoredFile(WideString(rest)))
                return CopyOfStream(*stored->DataStream());
            return nullptr;
        case TkvPendingForm::Stream: {
            unsigned id = 0;
            if (rest.size() < 8 || !ParseStreamId(rest.substr(0, 8), id))
                return nullptr;
            return kvpending::Open(id);
        }
        case TkvPendingForm::File:
            return OpenFileForReading(std::wstring(rest));
        case TkvPendingForm::Url:
            break;
    }
    return nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------
// Loading
// ---------------------------------------------------------------------------

void TkvFlashDriverActiveX::LoadControlMovie(const WideString& url)
{
    kv::ComPtr<IkvFlashPlayer> intf;
    intf.attach(GetControlInterface());
    if (!intf)
        return;
    const kv::Bstr text(url);
    // The control asks for the movie (and may run its first frame, with the
    // application's handlers) before it returns; callers check Released().
    OleCheck(CallPlayerWith(this, [&] { return intf->LoadMovie(0, text); }).Result);
}

void TkvFlashDriverActiveX::LoadMovie(const WideString& URL)
{
    if (URL.empty() || NoControl)
        return;
    TkvDriverBusy busy(this);
    if (Contains(URL, L".flv")) {
        WideString path = URL;
        for (wchar_t& c : path)
            if (c == L'\\')
                c = L'/';
        // The control may run the playback movie's first frame, and the
        // application's handlers with it, before it returns.
        LoadControlMovie(L"flvplayback.swf");
        if (busy.Released())
            return;
        SetVariable(L"flv.skin", Skin + L".swf");
        SetVariable(L"flv.volume", IntToStr(Volume));
        SetVariable(L"flv.contentPath", WideString(StreamHostPrefix) + L"/" + path);
        CurrentMovie = path;
        IsVideo = true;
    } else {
        // The control may run the movie's first frame, and the application's
        // handlers with it, before it returns.
        LoadControlMovie(WideString(StreamHostPrefix) + L"/" + URL);
        CurrentMovie = URL;
        IsVideo = false;
    }
    if (busy.Released())
        return;
    // The control has a new movie: the last one's stream copy is done with.
    kvpending::DropOwnedBy(this);
    SendMessageToControl(WM_NULL, 0, 0);
}

void TkvFlashDriverActiveX::LoadMovieFromStream(TStream* Stream)
{
    if (!Stream || NoControl)
        return;
    TkvDriverBusy busy(this);
    // The control asks for the data later; it is copied now, so the caller's
    // stream may go at once.
    std::unique_ptr<TMemoryStream> copy = CopyOfStream(*Stream);
    Stream->SetPosition(0);
    char head[3] = {};
    const bool isVideo = copy->Read(head, 3) == 3 && head[0] == 'F' && head[1] == 'L' && head[2] == 'V';
    copy->SetPosition(0);
    const unsigned id = kvpending::Add(std::move(copy), this);
    const WideString url = WideString(StreamHostPrefix) + L"/" + WideString(StreamMarker) + FormatStreamId(id);
    try {
        // The control may ask for the copy and run the movie's first frame
        // (and the application's handlers) before it returns.
        LoadControlMovie(isVideo ? WideString(L"flvplayback.swf") : url + L".swf");
    } catch (...) {
        kvpending::Remove(id);  // the control will never ask for it now
        throw;
    }
    if (busy.Released())
        return;
    // The copy stays while this driver lives, for every time the control asks
    // again; it replaces the copy of the last movie.
    kvpending::DropOwnedBy(this, id);
    if (isVideo) {
        SetVariable(L"flv.contentPath", url + L".flv");
        SetVariable(L"flv.skin", Skin + L".swf");
        SetVariable(L"flv.volume", IntToStr(Volume));
    }
    CurrentMovie.clear();
    IsVideo = isVideo;
}

// ---------------------------------------------------------------------------
// IBindHost and IMoniker
// ---------------------------------------------------------------------------

HRESULT TkvFlashDriverActiveX::CreateMoniker(LPOLESTR szName, IBindCtx*, IMoniker** ppmk, DWORD) noexcept
{
    if (ppmk)
        *ppmk = nullptr;
    bool accepted = false;
    const HRESULT resolved = kv::ComEntry("IBindHost::CreateMoniker", [&] {
        const std::wstring_view name = szName ? std::wstring_view(szName) : std::wstring_view();
        accepted = ResolveMonikerName(name, HostSources(), PendingURL);
        return S_OK;
    });
    if (FAILED(resolved))
        return resolved;
    if (!accepted)
        return E_NOTIMPL;
    // The moniker handed out is the driver's own.
    if (ppmk) {
        *ppmk = static_cast<IMoniker*>(this);
        AddRef();
    }
    return S_OK;
}

HRESULT TkvFlashDriverActiveX::BindToStorage(IBindCtx* pbc, IMoniker*, REFIID, void** ppvObj) noexcept
{
    if (ppvObj)
        *ppvObj = nullptr;
    return kv::ComEntry("IMoniker::BindToStorage", [&]() -> HRESULT {
        if (!pbc)
            return E_FAIL;
        kv::ComPtr<IUnknown> holder;
        if (FAILED(pbc->GetObjectParam(const_cast<LPOLESTR>(L"_BSCB_Holder_"), holder.put())) || !holder)
            return E_FAIL;
        const auto callback = holder.query<IBindStatusCallback>(IID_IBindStatusCallback);
        if (!callback)
            return E_FAIL;

        TkvDriverBusy busy(this);
        std::wstring_view rest;
        const TkvPendingForm form = PendingFormOf(PendingURL, rest);
        if (form == TkvPendingForm::Url) {
            const WideString url = PendingURL;
            PendingURL.clear();
            // Local names that matched no file are not the download
            // service's business: it would only fail later, or never answer.
            const TURLOpenPullStreamW open = ActiveXURLOpenPullStream();
            if (!open || !IsNetworkURL(url))
                return E_FAIL;
            return open(nullptr, url.c_str(), 0, callback.get()) == S_OK ? S_OK : E_FAIL;
        }

        std::unique_ptr<TStream> data = OpenPending(form, rest);
        if (!data)
            return E_FAIL;
        PendingURL.clear();
        const std::int64_t size = data->Size();
        if (size < 0 || size > static_cast<std::int64_t>(MAXDWORD))
            return E_FAIL;  // sizes reach the control as 32-bit counts
        data->SetPosition(0);
        wchar_t empty[1] = {L'\0'};
        callback->OnStartBinding(0, nullptr);
        if (form != TkvPendingForm::File || size <= kFilePiece) {
            // In one piece. The adapter owns the data, so a reference the
            // control keeps after the binding stays valid.
            callback->OnProgress(100, 100, BINDSTATUS_ENDDOWNLOADDATA, empty);
            HRESULT ignored = S_OK;
            DeliverPiece(callback.get(), std::move(data), BSCF_FIRSTDATANOTIFICATION | BSCF_LASTDATANOTIFICATION,
                         static_cast<DWORD>(size), ignored);
            callback->OnStopBinding(S_OK, empty);
            return S_OK;
        }
        // A large file, piece by piece, as a download arrives: each
        // notification counts the bytes so far. A control that refuses a
        // piece ends the binding.
        HRESULT result = S_OK;
        std::int64_t done = 0;
        while (done < size && SUCCEEDED(result)) {
            const std::int64_t n = std::min(kFilePiece, size - done);
            std::unique_ptr<TMemoryStream> piece;
            try {
                piece = std::make_unique<TMemoryStream>();
                piece->SetSize(n);
                if (data->Read(piece->Memory(), n) != n)
                    piece.reset();  // the file shrank under us
            } catch (...) {
                piece.reset();  // out of memory, or a read error of the file
            }
            if (!piece) {
                result = STG_E_READFAULT;
                break;
            }
            done += n;
            const bool last = done == size;
            const DWORD flags = done == n ? BSCF_FIRSTDATANOTIFICATION
                                          : (last ? BSCF_LASTDATANOTIFICATION : BSCF_INTERMEDIATEDATANOTIFICATION);
            callback->OnProgress(static_cast<ULONG>(done), static_cast<ULONG>(size),
                                   last ? BINDSTATUS_ENDDOWNLOADDATA : BINDSTATUS_DOWNLOADINGDATA, empty);
            HRESULT answer = S_OK;
            DeliverPiece(callback.get(), std::move(piece), flags, static_cast<DWORD>(done), answer);
            if (FAILED(answer))
                result = E_ABORT;
        }
        callback->OnStopBinding(result, empty);
        return S_OK;
    });
}

// The bind host's own binding entries: the given moniker does the work, with
// the given callback in its bind context.
HRESULT TkvFlashDriverActiveX::MonikerBindToStorage(IMoniker* pMk, IBindCtx* pBC, IBindStatusCallback* pBSC,
                                                    REFIID riid, void** ppvObj) noexcept
{
    if (!ppvObj)
        return E_POINTER;
    *ppvObj = nullptr;
    if (!pMk)
        return E_INVALIDARG;
    // Only the moniker's own answer hands anything out.
    const HRESULT hr = kv::ComEntry("IBindHost::MonikerBindToStorage", [&] {
        kv::ComPtr<IBindCtx> ctx;
        const HRESULT made = ContextFor(pBC, ctx);
        if (FAILED(made))
            return made;
        TScopedCallback scoped(ctx.get(), pBSC);
        return pMk->BindToStorage(ctx.get(), nullptr, riid, ppvObj);
    });
    return hr;
}

HRESULT TkvFlashDriverActiveX::MonikerBindToObject(IMoniker* pMk, IBindCtx* pBC, IBindStatusCallback* pBSC,
                                                   REFIID riid, void** ppvObj) noexcept
{
    if (!ppvObj)
        return E_POINTER;
    *ppvObj = nullptr;
    if (!pMk)
        return E_INVALIDARG;
    const HRESULT hr = kv::ComEntry("IBindHost::MonikerBindToObject", [&] {
        kv::ComPtr<IBindCtx> ctx;
        const HRESULT made = ContextFor(pBC, ctx);
        if (FAILED(made))
            return made;
        TScopedCallback scoped(ctx.get(), pBSC);
        return pMk->BindToObject(ctx.get(), nullptr, riid, ppvObj);
    });
    return hr;
}

HRESULT TkvFlashDriverActiveX::Reduce(IBindCtx*, DWORD, IMoniker**, IMoniker** ppmkReduced) noexcept
{
    return ClearOut(ppmkReduced);
}

HRESULT TkvFlashDriverActiveX::ComposeWith(IMoniker*, BOOL, IMoniker** ppmkComposite) noexcept
{
    return ClearOut(ppmkComposite);
}

HRESULT TkvFlashDriverActiveX::Enum(BOOL, IEnumMoniker** ppenumMoniker) noexcept { return ClearOut(ppenumMoniker); }

HRESULT TkvFlashDriverActiveX::Inverse(IMoniker** ppmk) noexcept { return ClearOut(ppmk); }

HRESULT TkvFlashDriverActiveX::CommonPrefixWith(IMoniker*, IMoniker** ppmkPrefix) noexcept
{
    return ClearOut(ppmkPrefix);
}

HRESULT TkvFlashDriverActiveX::RelativePathTo(IMoniker*, IMoniker** ppmkRelPath) noexcept
{
    return ClearOut(ppmkRelPath);
}

HRESULT TkvFlashDriverActiveX::ParseDisplayName(IBindCtx*, IMoniker*, LPOLESTR, ULONG*, IMoniker** ppmkOut) noexcept
{
    return ClearOut(ppmkOut);
}
