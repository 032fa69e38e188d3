// Movie loading: the driver turns movie names into URLs for the control, and
// serves the control's URL requests as its bind host and moniker.
#include <windows.h>

#include <urlmon.h>

#include <memory>

#include "framework/sysutils.h"
#include "framework/winstreams.h"
#include "kv_axinternal.h"
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
            return kvpending::Take(id);
        }
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
    TkvDriverBusy busy(this);
    IkvFlashPlayer* intf = GetControlInterface();
    if (!intf)
        return;
    BSTR text = SysAllocStringLen(url.data(), static_cast<UINT>(url.size()));
    const HRESULT hr = intf->LoadMovie(0, text);
    SysFreeString(text);
    intf->Release();
    OleCheck(hr);
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
        LoadControlMovie(L"flvplayback.swf");
        if (busy.Released())
            return;
        SetVariable(L"flv.skin", Skin + L".swf");
        SetVariable(L"flv.volume", IntToStr(Volume));
        SetVariable(L"flv.contentPath", WideString(StreamHostPrefix) + L"/" + path);
        CurrentMovie = path;
        IsVideo = true;
    } else {
        LoadControlMovie(WideString(StreamHostPrefix) + L"/" + URL);
        CurrentMovie = URL;
        IsVideo = false;
    }
    if (!busy.Released())
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
        LoadControlMovie(isVideo ? WideString(L"flvplayback.swf") : url + L".swf");
    } catch (...) {
        kvpending::Take(id);  // the control will never ask for it now
        throw;
    }
    if (busy.Released())
        return;
    if (isVideo) {
        // The copy stays for the video request that follows.
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
    try {
        const std::wstring_view name = szName ? std::wstring_view(szName) : std::wstring_view();
        accepted = ResolveMonikerName(name, HostSources(), PendingURL);
    } catch (...) {
        return E_FAIL;
    }
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
    try {
        if (!pbc)
            return E_FAIL;
        kvax::TComRef<IUnknown> holder;
        if (FAILED(pbc->GetObjectParam(const_cast<LPOLESTR>(L"_BSCB_Holder_"), &holder.p)) || !holder.p)
            return E_FAIL;
        kvax::TComRef<IBindStatusCallback> callback;
        if (FAILED(holder.p->QueryInterface(IID_IBindStatusCallback, reinterpret_cast<void**>(&callback.p))) ||
            !callback.p)
            return E_FAIL;

        TkvDriverBusy busy(this);
        std::wstring_view rest;
        const TkvPendingForm form = PendingFormOf(PendingURL, rest);
        if (form == TkvPendingForm::Url) {
            const WideString url = PendingURL;
            PendingURL.clear();
            const TURLOpenPullStreamW open = ActiveXURLOpenPullStream();
            const HRESULT hr = open ? open(nullptr, url.c_str(), 0, callback.p) : E_FAIL;
            return hr == S_OK ? S_OK : E_FAIL;
        }

        std::unique_ptr<TStream> data = OpenPending(form, rest);
        if (!data)
            return E_FAIL;
        const std::int64_t size = data->Size();
        data->SetPosition(0);
        // The adapter owns the data, so a reference the control keeps after
        // the binding stays valid.
        kvax::TComRef<IStream> stream;
        stream.p = TStreamAdapter::Create(data.get(), soOwned);
        data.release();
        STGMEDIUM medium{};
        medium.tymed = TYMED_ISTREAM;
        medium.pstm = stream.p;
        medium.pUnkForRelease = nullptr;
        PendingURL.clear();
        wchar_t empty[1] = {L'\0'};
        callback.p->OnStartBinding(0, nullptr);
        callback.p->OnProgress(100, 100, BINDSTATUS_ENDDOWNLOADDATA, empty);
        callback.p->OnDataAvailable(BSCF_FIRSTDATANOTIFICATION | BSCF_LASTDATANOTIFICATION,
                                    static_cast<DWORD>(size), nullptr, &medium);
        callback.p->OnStopBinding(S_OK, empty);
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
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
