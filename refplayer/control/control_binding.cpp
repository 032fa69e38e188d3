// Every URL the movie needs comes from the container: its IBindHost (found
// through the client site's IServiceProvider) makes a moniker for the URL,
// and binding that moniker to storage delivers the data to the control's
// IBindStatusCallback, registered in the bind context under "_BSCB_Holder_".
// The data may arrive inside BindToStorage or later, from the message loop,
// in pieces; the control itself never opens a file or a socket.
#include <algorithm>
#include <cctype>

#include "control_internal.h"

#include <wininet.h>

namespace refcontrol {

// No body the control accepts is larger than this.
constexpr size_t kMaxBodyBytes = size_t(64) << 20;

class BindCallback final : public IBindStatusCallback {
public:
    BindCallback(Control* owner, refplayer::RequestId id, std::string url)
        : owner_(owner), id_(id), url_(std::move(url))
    {
        objectCreated();
    }
    BindCallback(const BindCallback&) = delete;
    BindCallback& operator=(const BindCallback&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IBindStatusCallback))
            return E_NOINTERFACE;
        *ppv = static_cast<IBindStatusCallback*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() noexcept override
    {
        LONG n = InterlockedDecrement(&refs_);
        if (n == 0)
            delete this;
        return static_cast<ULONG>(n);
    }

    HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding* binding) noexcept override
    {
        return guarded([&]() -> HRESULT {
            log("OnStartBinding");
            if (HRESULT f = configuredFailure("OnStartBinding"); f != S_OK)
                return f;
            binding_ = ComPtr<IBinding>(binding);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetPriority(LONG* priority) noexcept override
    {
        if (!priority)
            return E_POINTER;
        *priority = THREAD_PRIORITY_NORMAL;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG max, ULONG status, LPCWSTR) noexcept override
    {
        return guarded([&]() -> HRESULT {
            log("OnProgress " + std::to_string(progress) + "/" + std::to_string(max) + " status=" + std::to_string(status));
            if (HRESULT f = configuredFailure("OnProgress"); f != S_OK)
                return f;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT result, LPCWSTR text) noexcept override
    {
        return guarded([&]() -> HRESULT {
            log("OnStopBinding " + hresultText(result));
            if (HRESULT f = configuredFailure("OnStopBinding"); f != S_OK)
                return f;
            if (SUCCEEDED(result))
                finish(true, {});
            else
                finish(false, "the container ended the binding with " + hresultText(result) +
                                  (text && *text ? " (" + utf8(text, wcslen(text)) + ")" : std::string()));
            binding_.reset();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO* info) noexcept override
    {
        return guarded([&]() -> HRESULT {
            log("GetBindInfo");
            if (HRESULT f = configuredFailure("GetBindInfo"); f != S_OK)
                return f;
            if (!flags || !info)
                return E_POINTER;
            *flags = BINDF_ASYNCHRONOUS | BINDF_ASYNCSTORAGE | BINDF_PULLDATA;
            // Only the fields of the size the caller says it has.
            DWORD size = info->cbSize;
            if (size < sizeof(DWORD))
                return E_INVALIDARG;
            ZeroMemory(info, std::min<size_t>(size, sizeof(BINDINFO)));
            info->cbSize = size;
            if (size >= offsetof(BINDINFO, dwBindVerb) + sizeof(DWORD))
                info->dwBindVerb = BINDVERB_GET;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD flags, DWORD size, FORMATETC*, STGMEDIUM* medium) noexcept override
    {
        return guarded([&]() -> HRESULT {
            log("OnDataAvailable flags=" + std::to_string(flags) + " size=" + std::to_string(size));
            if (HRESULT f = configuredFailure("OnDataAvailable"); f != S_OK)
                return f;
            if (finished_)
                return S_OK;
            if (!medium)
                return E_INVALIDARG;
            if (medium->tymed == TYMED_ISTREAM && medium->pstm) {
                // Pull what there is now; a later notification brings the rest.
                uint8_t chunk[16384];
                for (;;) {
                    ULONG got = 0;
                    HRESULT hr = medium->pstm->Read(chunk, sizeof chunk, &got);
                    got = std::min<ULONG>(got, sizeof chunk);
                    if (!append(chunk, got))
                        return E_ABORT;
                    if (FAILED(hr) || hr == S_FALSE || got == 0)
                        break;
                }
            } else if (medium->tymed == TYMED_HGLOBAL && medium->hGlobal) {
                // `size` counts everything so far; the block may hold no more than it says.
                SIZE_T held = GlobalSize(medium->hGlobal);
                size_t total = std::min<size_t>(size, held);
                if (total > body_.size()) {
                    auto p = static_cast<const uint8_t*>(GlobalLock(medium->hGlobal));
                    if (!p)
                        return E_FAIL;
                    bool ok = append(p + body_.size(), total - body_.size());
                    GlobalUnlock(medium->hGlobal);
                    if (!ok)
                        return E_ABORT;
                }
            } else {
                finish(false, "data in a medium the control does not read (" + std::to_string(medium->tymed) + ")");
                return E_INVALIDARG;
            }
            if (flags & BSCF_LASTDATANOTIFICATION)
                lastSeen_ = true;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) noexcept override { return S_OK; }

    // The binding call returned: what it says about a transfer still open.
    void bindReturned(HRESULT hr, IUnknown* direct)
    {
        if (finished_)
            return;
        if (FAILED(hr)) {
            finish(false, "BindToStorage answered " + hresultText(hr));
            return;
        }
        if (auto stream = ComPtr<IUnknown>(direct).query<IStream>(IID_IStream)) {
            // A moniker that handed the data over directly.
            uint8_t chunk[16384];
            for (;;) {
                ULONG got = 0;
                HRESULT r = stream->Read(chunk, sizeof chunk, &got);
                got = std::min<ULONG>(got, sizeof chunk);
                if (!append(chunk, got))
                    return;
                if (FAILED(r) || r == S_FALSE || got == 0)
                    break;
            }
            finish(true, {});
            return;
        }
        if (lastSeen_)
            finish(true, {});
        // Otherwise the data comes later, from the message loop.
    }

    // The control is going away: nothing more is reported to it.
    void detach()
    {
        owner_ = nullptr;
        finished_ = true;
        if (auto b = std::move(binding_))
            b->Abort();
    }

private:
    ~BindCallback()
    {
        if (owner_)
            owner_->bindingGone(this);
        objectDestroyed();
    }

    // A failure the control's settings give this method (the request then
    // goes on as the container makes it).
    HRESULT configuredFailure(const char* method) { return owner_ ? owner_->injected(method) : S_OK; }

    void log(const std::string& what)
    {
        if (callLog().enabled())
            callLog().received("IBindStatusCallback." + what + " " + refplugin::quoted(url_));
    }
    bool append(const uint8_t* p, size_t n)
    {
        if (n > kMaxBodyBytes - body_.size()) {
            finish(false, "more than " + std::to_string(kMaxBodyBytes) + " bytes");
            if (auto b = binding_)
                b->Abort();
            return false;
        }
        body_.insert(body_.end(), p, p + n);
        return true;
    }
    void finish(bool delivered, const std::string& why)
    {
        if (finished_)
            return;
        finished_ = true;
        if (Control* owner = owner_) {
            owner_ = nullptr;
            owner->bindingFinished(this, id_, url_, delivered, std::move(body_), why);
        }
    }

    LONG refs_ = 1;
    Control* owner_;
    refplayer::RequestId id_;
    std::string url_;
    std::vector<uint8_t> body_;
    ComPtr<IBinding> binding_;
    bool finished_ = false;
    bool lastSeen_ = false;
};

void Control::requestUrl(refplayer::RequestId id, refplayer::RequestKind kind, const std::string& url,
                         const std::string& target, const std::string& postData)
{
    if (destroyed_)
        return;
    if (kind == refplayer::RequestKind::Navigate) {
        callLog().note("navigation to " + refplugin::quoted(url) + " in " + refplugin::quoted(target) + " ignored");
        return;
    }
    auto refuse = [&](const std::string& why) {
        callLog().note("request " + refplugin::quoted(url) + " failed: " + why);
        run([this, id] { player_.failUrl(id); });
    };
    if (!postData.empty()) {
        refuse("the control does not post data");
        return;
    }
    ComPtr<IUnknown> self(identity());
    auto services = site_.query<IServiceProvider>(IID_IServiceProvider);
    if (!services) {
        refuse("the client site offers no services");
        return;
    }
    ComPtr<IBindHost> bindHost;
    HRESULT hr = services->QueryService(SID_IBindHost, IID_IBindHost, bindHost.putVoid());
    made("IServiceProvider.QueryService IBindHost", hr);
    if (FAILED(hr) || !bindHost) {
        refuse("no bind host");
        return;
    }
    ComPtr<IBindCtx> context;
    hr = CreateBindCtx(0, context.put());
    if (FAILED(hr)) {
        refuse("no bind context: " + hresultText(hr));
        return;
    }
    auto callback = ComPtr<BindCallback>::attach(new BindCallback(this, id, url));
    bindings_.push_back(callback.get());
    hr = context->RegisterObjectParam(const_cast<LPOLESTR>(L"_BSCB_Holder_"), callback.get());
    if (FAILED(hr)) {
        callback->detach();
        bindingGone(callback.get());
        refuse("the callback could not be registered: " + hresultText(hr));
        return;
    }
    std::wstring wurl = wide(url);
    ComPtr<IMoniker> moniker;
    hr = bindHost->CreateMoniker(const_cast<LPOLESTR>(wurl.c_str()), context.get(), moniker.put(), 0);
    made("IBindHost.CreateMoniker " + refplugin::quoted(url), hr);
    if (hr == E_NOTIMPL && habits_.ownLoading) {
        // The container leaves this name to the control.
        callback->detach();
        bindingGone(callback.get());
        loadItself(id, url);
        return;
    }
    if (FAILED(hr) || !moniker) {
        callback->detach();
        bindingGone(callback.get());
        refuse("the container made no moniker (" + hresultText(hr) + ")");
        return;
    }
    ComPtr<IUnknown> direct;
    hr = moniker->BindToStorage(context.get(), nullptr, IID_IStream, direct.putVoid());
    made("IMoniker.BindToStorage " + refplugin::quoted(url), hr);
    callback->bindReturned(hr, direct.get());
}

namespace {

bool startsWithNoCase(const std::string& text, const char* prefix)
{
    for (size_t i = 0; prefix[i]; ++i)
        if (i >= text.size() || std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    return true;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// The file a name stands for: "file:" URLs (escapes undone, the slash before
// a drive dropped) and plain absolute paths; nothing for anything else.
std::optional<std::wstring> filePath(const std::string& name)
{
    std::string path;
    if (startsWithNoCase(name, "file:")) {
        std::string rest = name.substr(5);
        if (rest.rfind("//", 0) == 0)
            rest = rest.substr(2);
        if (rest.size() >= 3 && rest[0] == '/' && std::isalpha(static_cast<unsigned char>(rest[1])) &&
            (rest[2] == ':' || rest[2] == '|'))
            rest = rest.substr(1);
        for (size_t i = 0; i < rest.size(); ++i) {
            int hi = 0, lo = 0;
            if (rest[i] == '%' && i + 2 < rest.size() && (hi = hexDigit(rest[i + 1])) >= 0 &&
                (lo = hexDigit(rest[i + 2])) >= 0) {
                path += static_cast<char>(hi * 16 + lo);
                i += 2;
            } else {
                path += rest[i];
            }
        }
        if (path.size() >= 2 && path[1] == '|')
            path[1] = ':';
    } else if (name.size() >= 3 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':' &&
               (name[2] == '\\' || name[2] == '/')) {
        path = name;
    } else if (name.rfind("\\\\", 0) == 0) {
        path = name;
    } else {
        return std::nullopt;
    }
    std::replace(path.begin(), path.end(), '/', '\\');
    return wide(path);
}

bool readFile(const std::wstring& path, std::vector<uint8_t>& data, std::string& why)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        why = "no such file (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    bool ok = true;
    uint8_t chunk[16384];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, chunk, sizeof chunk, &got, nullptr)) {
            why = "read error " + std::to_string(GetLastError());
            ok = false;
            break;
        }
        if (got == 0)
            break;
        if (data.size() + got > kMaxBodyBytes) {
            why = "more than " + std::to_string(kMaxBodyBytes) + " bytes";
            ok = false;
            break;
        }
        data.insert(data.end(), chunk, chunk + got);
    }
    CloseHandle(file);
    return ok;
}

struct InternetHandle {
    HINTERNET h = nullptr;
    ~InternetHandle()
    {
        if (h)
            InternetCloseHandle(h);
    }
};

// One request of the control's own, as a browser would make it; it runs to
// its end inside the call (the control has no thread of its own to wait on).
bool download(const std::string& url, std::vector<uint8_t>& data, std::string& why)
{
    InternetHandle session{InternetOpenW(L"Shockwave Flash", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0)};
    if (!session.h) {
        why = "no internet session (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    const std::wstring wurl = wide(url);
    InternetHandle request{InternetOpenUrlW(session.h, wurl.c_str(), nullptr, 0,
                                            INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI,
                                            0)};
    if (!request.h) {
        why = "the request failed (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    if (startsWithNoCase(url, "http:") || startsWithNoCase(url, "https:")) {
        DWORD status = 0, size = sizeof status;
        if (HttpQueryInfoW(request.h, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) &&
            status >= 400) {
            why = "the server answered " + std::to_string(status);
            return false;
        }
    }
    uint8_t chunk[16384];
    for (;;) {
        DWORD got = 0;
        if (!InternetReadFile(request.h, chunk, sizeof chunk, &got)) {
            why = "read error " + std::to_string(GetLastError());
            return false;
        }
        if (got == 0)
            return true;
        if (data.size() + got > kMaxBodyBytes) {
            why = "more than " + std::to_string(kMaxBodyBytes) + " bytes";
            return false;
        }
        data.insert(data.end(), chunk, chunk + got);
    }
}

}  // namespace

// A name the container leaves to the control (its bind host made no moniker
// for it): a file is read from the file system, a network URL fetched with
// the control's own request.
void Control::loadItself(refplayer::RequestId id, const std::string& url)
{
    std::vector<uint8_t> data;
    std::string why;
    bool ok = false;
    if (auto path = filePath(url)) {
        callLog().note("loading " + refplugin::quoted(url) + " from the file system");
        ok = readFile(*path, data, why);
    } else if (startsWithNoCase(url, "http:") || startsWithNoCase(url, "https:") || startsWithNoCase(url, "ftp:")) {
        callLog().note("loading " + refplugin::quoted(url) + " with a request of the control's own");
        ok = download(url, data, why);
    } else {
        why = "the container made no moniker and the name is neither a file nor a network URL";
    }
    bindingFinished(nullptr, id, url, ok, std::move(data), why);
}

void Control::bindingFinished(BindCallback* callback, refplayer::RequestId id, const std::string& url, bool delivered,
                              std::vector<uint8_t> data, const std::string& why)
{
    bindingGone(callback);
    if (destroyed_)
        return;
    if (!delivered) {
        callLog().note("request " + refplugin::quoted(url) + " failed: " + why);
        run([this, id] { player_.failUrl(id); });
        return;
    }
    callLog().note("delivered " + refplugin::quoted(url) + " (" + std::to_string(data.size()) + " bytes)");
    ComPtr<IUnknown> self(identity());
    auto shared = std::make_shared<std::vector<uint8_t>>(std::move(data));
    run([this, id, url, shared] {
        bool hadMovie = player_.hasMovie();
        if (!player_.deliverUrl(id, *shared)) {
            callLog().note("data of " + refplugin::quoted(url) + " refused: " + player_.lastError());
            return;
        }
        restartTimer();  // a new root movie may bring a new frame rate
        if (url == movieUrl_ || (!hadMovie && player_.hasMovie())) {
            if (habits_.posRectChange)
                askStageSize();
            fireEvent(dispid::kOnProgress, {}, {100});
            fireEvent(dispid::kOnReadyStateChange, {}, {4});
        }
    });
}

void Control::bindingGone(BindCallback* callback)
{
    bindings_.erase(std::remove(bindings_.begin(), bindings_.end(), callback), bindings_.end());
}

void Control::abandonBindings()
{
    auto pending = std::move(bindings_);
    bindings_.clear();
    for (BindCallback* b : pending)
        b->detach();
}

}  // namespace refcontrol
