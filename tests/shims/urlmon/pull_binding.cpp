// The caller's side of a pull-stream download: every IBindStatusCallback call is
// made from a message-only window owned by the thread that opened the download,
// so the caller sees them from its own message loop, one at a time and in order.
#include "pull_binding.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace urlshim {
namespace {

constexpr wchar_t kWindowClass[] = L"KvUrlmonShimBinding";
constexpr UINT kWakeMessage = WM_APP + 1;

// Registers the window class once per process. The module pins itself: worker
// threads and binding windows run its code after URLOpenPullStreamW has
// returned, and a caller that frees the library meanwhile must not pull it out
// from under them.
bool EnsureWindowClass() noexcept
{
    static const bool registered = [] {
        HMODULE self = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCWSTR>(&EnsureWindowClass), &self);
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = &Binding::WindowProc;
        wc.hInstance = reinterpret_cast<HINSTANCE>(&__ImageBase);
        wc.lpszClassName = kWindowClass;
        return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return registered;
}

// Frees what a GetBindInfo implementation may have put into the record; the
// caller owns none of it once we have looked.
void ReleaseBindInfoContents(BINDINFO& info) noexcept
{
    CoTaskMemFree(info.szExtraInfo);
    CoTaskMemFree(info.szCustomVerb);
    ReleaseStgMedium(&info.stgmedData);
    if (info.pUnk)
        info.pUnk->Release();
    info = BINDINFO{};
}

// The stream handed to OnDataAvailable. It keeps the binding alive, so a caller
// may hold it and read the rest after the binding has ended.
class PullStream final : public IStream {
public:
    explicit PullStream(Binding* binding) : binding_(binding) { binding_->AddRef(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ISequentialStream) ||
            IsEqualIID(riid, IID_IStream)) {
            *ppv = static_cast<IStream*>(this);
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

    HRESULT STDMETHODCALLTYPE Read(void* into, ULONG size, ULONG* read) noexcept override
    {
        ULONG got = 0;
        HRESULT hr = STG_E_INVALIDPOINTER;
        if (into || size == 0)
            hr = binding_->ReadPending(into, size, &got);
        if (read)
            *read = got;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG* written) noexcept override
    {
        if (written)
            *written = 0;
        return STG_E_ACCESSDENIED;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) noexcept override
    {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) noexcept override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Revert() noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) noexcept override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) noexcept override
    {
        if (!stat)
            return STG_E_INVALIDPOINTER;
        *stat = STATSTG{};
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = binding_->Announced();
        stat->grfMode = STGM_READ;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IStream** clone) noexcept override
    {
        if (clone)
            *clone = nullptr;
        return E_NOTIMPL;
    }

private:
    ~PullStream() { binding_->Release(); }

    std::atomic<ULONG> refs_{1};
    Binding* const binding_;
};

}  // namespace

IStream* NewPullStream(Binding* binding)
{
    return new PullStream(binding);
}

// ---------------------------------------------------------------------------

Binding::Binding(IBindStatusCallback* callback, std::wstring url) : url_(std::move(url)), callback_(callback) {}

// The callback is released on the caller's thread (OnStopBinding or the
// window's destruction), never here: the last reference may go on the worker
// thread, and a binding whose thread died without destroying its window must
// not call into that thread's objects.
Binding::~Binding() = default;

HRESULT Binding::Open(IBindStatusCallback* callback, const std::wstring& url) noexcept
{
    if (!EnsureWindowClass())
        return E_FAIL;
    Binding* binding = nullptr;
    try {
        binding = new Binding(callback, url);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    callback->AddRef();
    // The window takes its own reference (WM_NCCREATE) and gives it back when destroyed.
    const HWND window = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                        reinterpret_cast<HINSTANCE>(&__ImageBase), binding);
    if (!window) {
        // A window that failed after WM_NCCREATE has already let go of the callback.
        if (IBindStatusCallback* held = std::exchange(binding->callback_, nullptr))
            held->Release();
        binding->Release();
        return E_OUTOFMEMORY;
    }
    bool posted;
    {
        std::lock_guard lock(binding->mutex_);
        binding->Wake();
        posted = binding->wakePosted_;
    }
    if (!posted)
        DestroyWindow(window);  // releases the callback
    binding->Release();
    return posted ? S_OK : E_OUTOFMEMORY;
}

HRESULT Binding::QueryInterface(REFIID riid, void** ppv) noexcept
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IBinding)) {
        *ppv = static_cast<IBinding*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG Binding::AddRef() noexcept
{
    return ++refs_;
}

ULONG Binding::Release() noexcept
{
    const ULONG n = --refs_;
    if (n == 0)
        delete this;
    return n;
}

// Ends the binding with E_ABORT at the next chance on the caller's thread,
// after the callback that asked (if any) has returned; nothing more is delivered.
HRESULT Binding::Abort() noexcept
{
    abort_ = true;
    std::lock_guard lock(mutex_);
    Wake();
    return S_OK;
}

HRESULT Binding::SetPriority(LONG priority) noexcept
{
    priority_ = priority;
    return S_OK;
}

HRESULT Binding::GetPriority(LONG* priority) noexcept
{
    if (!priority)
        return E_POINTER;
    *priority = priority_;
    return S_OK;
}

void Binding::Report(BindEvent&& event)
{
    std::lock_guard lock(mutex_);
    if (!window_) {
        abort_ = true;  // nobody is left to receive it
        return;
    }
    queue_.push_back(std::move(event));
    Wake();
}

void Binding::Finish(HRESULT result) noexcept
{
    std::lock_guard lock(mutex_);
    workerDone_ = true;
    workerResult_ = result;
    Wake();
}

void Binding::Wake() noexcept
{
    if (!wakePosted_ && window_)
        wakePosted_ = PostMessageW(window_, kWakeMessage, 0, 0) != FALSE;
}

HRESULT Binding::ReadPending(void* into, ULONG size, ULONG* got) noexcept
{
    std::lock_guard lock(mutex_);
    const std::size_t available = pending_.size() - readPos_;
    const ULONG n = static_cast<ULONG>(std::min<std::size_t>(size, available));
    if (n > 0)
        std::memcpy(into, pending_.data() + readPos_, n);
    readPos_ += n;
    if (readPos_ == pending_.size()) {
        pending_.clear();  // keeps the capacity for the next chunk
        readPos_ = 0;
    }
    *got = n;
    if (n > 0)
        return S_OK;
    return complete_ ? S_FALSE : E_PENDING;
}

ULONGLONG Binding::Announced() noexcept
{
    std::lock_guard lock(mutex_);
    return announced_;
}

// Delivers everything queued, one callback at a time. A callback that pumps
// messages reaches here again through a nested wake; that call returns at once
// and the outer loop goes on, so the caller never sees overlapping callbacks.
void Binding::Drain() noexcept
{
    {
        std::lock_guard lock(mutex_);
        wakePosted_ = false;
    }
    if (draining_ || stopped_)
        return;
    draining_ = true;
    if (!began_) {
        began_ = true;
        if (!Begin()) {
            draining_ = false;
            return;
        }
    }
    while (!stopped_) {
        if (abort_) {
            Stop(abortResult_);
            break;
        }
        BindEvent event;
        bool have = false;
        bool done = false;
        HRESULT result = S_OK;
        {
            std::lock_guard lock(mutex_);
            if (!queue_.empty()) {
                event = std::move(queue_.front());
                queue_.pop_front();
                have = true;
            } else if (workerDone_) {
                done = true;
                result = workerResult_;
            }
        }
        if (have)
            Deliver(event);
        else {
            if (done)
                Stop(result);
            break;
        }
    }
    draining_ = false;
}

// Asks for the bind info, announces the binding and starts the transfer; false
// when the binding has already ended.
bool Binding::Begin() noexcept
{
    DWORD flags = 0;
    BINDINFO info{};
    info.cbSize = sizeof(info);
    HRESULT hr = callback_->GetBindInfo(&flags, &info);
    ReleaseBindInfoContents(info);
    // The flags are not consulted: every binding is asynchronous and always
    // fetches a fresh copy.
    if (FAILED(hr)) {
        Stop(hr);
        return false;
    }
    hr = callback_->OnStartBinding(0, this);
    if (FAILED(hr) || abort_) {
        Stop(E_ABORT);
        return false;
    }
    try {
        stream_ = NewPullStream(this);
    } catch (...) {
        Stop(E_OUTOFMEMORY);
        return false;
    }
    if (!StartDownload(this)) {
        Stop(E_OUTOFMEMORY);
        return false;
    }
    return true;
}

void Binding::Deliver(BindEvent& event) noexcept
{
    if (event.kind == BindEvent::Progress) {
        if (event.status == BINDSTATUS_MIMETYPEAVAILABLE && !event.text.empty())
            format_ = static_cast<CLIPFORMAT>(RegisterClipboardFormatW(event.text.c_str()));
        callback_->OnProgress(event.progress, event.progressMax, event.status,
                              event.text.empty() ? nullptr : event.text.c_str());
        return;
    }

    ULONGLONG total;
    {
        std::lock_guard lock(mutex_);
        try {
            pending_.insert(pending_.end(), event.bytes.begin(), event.bytes.end());
        } catch (...) {
            abortResult_ = E_OUTOFMEMORY;
            abort_ = true;  // the worker stops; Drain ends the binding next
            return;
        }
        announced_ += event.bytes.size();
        if (event.last)
            complete_ = true;
        total = announced_;
    }

    DWORD flags = firstData_ ? BSCF_FIRSTDATANOTIFICATION : BSCF_INTERMEDIATEDATANOTIFICATION;
    if (event.last)
        flags = (flags & BSCF_FIRSTDATANOTIFICATION) | BSCF_LASTDATANOTIFICATION | BSCF_DATAFULLYAVAILABLE;
    firstData_ = false;

    FORMATETC format{format_, nullptr, DVASPECT_CONTENT, -1, TYMED_ISTREAM};
    STGMEDIUM medium{};
    medium.tymed = TYMED_ISTREAM;
    medium.pstm = stream_;
    medium.pUnkForRelease = nullptr;
    const DWORD reported = static_cast<DWORD>(std::min<ULONGLONG>(total, MAXDWORD));
    callback_->OnDataAvailable(flags, reported, &format, &medium);
}

void Binding::Stop(HRESULT result) noexcept
{
    if (stopped_)
        return;
    stopped_ = true;
    abort_ = true;  // a worker still running gives up
    HWND window;
    {
        std::lock_guard lock(mutex_);
        complete_ = true;
        window = window_;
    }
    if (IBindStatusCallback* callback = std::exchange(callback_, nullptr)) {
        callback->OnStopBinding(result, nullptr);
        callback->Release();
    }
    // The stream refers back to the binding: dropping it here breaks the cycle.
    if (IStream* stream = std::exchange(stream_, nullptr))
        stream->Release();
    if (window)
        DestroyWindow(window);
}

void Binding::WindowGone() noexcept
{
    {
        std::lock_guard lock(mutex_);
        window_ = nullptr;
    }
    abort_ = true;
    if (IBindStatusCallback* callback = std::exchange(callback_, nullptr))
        callback->Release();
    if (IStream* stream = std::exchange(stream_, nullptr))
        stream->Release();
}

LRESULT CALLBACK Binding::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept
{
    auto* binding = reinterpret_cast<Binding*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
    case WM_NCCREATE: {
        auto* created = reinterpret_cast<Binding*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        if (created) {
            created->AddRef();
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
            std::lock_guard lock(created->mutex_);
            created->window_ = window;
        }
        break;
    }
    case kWakeMessage:
        if (binding) {
            binding->AddRef();  // the window may go away inside Drain
            binding->Drain();
            binding->Release();
        }
        return 0;
    case WM_NCDESTROY:
        if (binding) {
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            binding->WindowGone();
            binding->Release();
        }
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace urlshim
