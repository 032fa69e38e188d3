// One pull-stream download: the state shared by the caller's thread, which
// receives every IBindStatusCallback call from its message loop, and the worker
// thread that fetches the bytes.
#pragma once

#include <windows.h>

#include <urlmon.h>

#include <atomic>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace urlshim {

// What the worker reports, in order; each becomes one callback.
struct BindEvent {
    enum Kind { Progress, Data } kind = Progress;
    ULONG progress = 0;
    ULONG progressMax = 0;
    ULONG status = 0;        // BINDSTATUS_*
    std::wstring text;       // progress text
    std::vector<char> bytes; // new data (may be empty on the last notification)
    bool last = false;       // no data follows
};

class Binding final : public IBinding {
public:
    // Creates the binding and its message-only window on the calling thread and
    // queues the first callback. The callback is not called before this returns.
    static HRESULT Open(IBindStatusCallback* callback, const std::wstring& url) noexcept;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) noexcept override;
    ULONG STDMETHODCALLTYPE AddRef() noexcept override;
    ULONG STDMETHODCALLTYPE Release() noexcept override;

    // IBinding
    HRESULT STDMETHODCALLTYPE Abort() noexcept override;
    HRESULT STDMETHODCALLTYPE Suspend() noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Resume() noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPriority(LONG priority) noexcept override;
    HRESULT STDMETHODCALLTYPE GetPriority(LONG* priority) noexcept override;
    HRESULT STDMETHODCALLTYPE GetBindResult(CLSID*, DWORD*, LPOLESTR*, DWORD*) noexcept override { return E_NOTIMPL; }

    // Worker side; any thread.
    void Report(BindEvent&& event);      // may throw std::bad_alloc
    void Finish(HRESULT result) noexcept; // the worker's last word
    bool AbortRequested() const noexcept { return abort_.load(); }
    const std::wstring& Url() const noexcept { return url_; }

    // The pull stream's side: bytes announced to the caller and not yet read.
    HRESULT ReadPending(void* into, ULONG size, ULONG* got) noexcept;
    ULONGLONG Announced() noexcept;

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;

private:
    Binding(IBindStatusCallback* callback, std::wstring url);
    ~Binding();

    void Wake() noexcept; // caller must hold mutex_
    void Drain() noexcept;
    bool Begin() noexcept;
    void Deliver(BindEvent& event) noexcept;
    void Stop(HRESULT result) noexcept;
    void WindowGone() noexcept;

    std::atomic<ULONG> refs_{1};
    std::atomic<bool> abort_{false};
    std::atomic<LONG> priority_{0};
    const std::wstring url_;

    // Shared with the worker and the stream, under mutex_.
    std::mutex mutex_;
    HWND window_ = nullptr; // null once the window is gone: nothing more is posted
    bool wakePosted_ = false;
    std::deque<BindEvent> queue_;
    bool workerDone_ = false;
    HRESULT workerResult_ = S_OK;
    std::vector<char> pending_; // announced bytes; [readPos_, size) not yet read
    std::size_t readPos_ = 0;
    ULONGLONG announced_ = 0;
    bool complete_ = false; // no more bytes will be announced

    // The caller's thread only.
    IBindStatusCallback* callback_; // held until OnStopBinding has returned
    IStream* stream_ = nullptr;
    bool began_ = false;
    bool stopped_ = false;
    bool draining_ = false;
    bool firstData_ = true;
    HRESULT abortResult_ = E_ABORT; // what OnStopBinding reports once abort_ is set
    CLIPFORMAT format_ = 0;
};

// Runs the download on a new thread; false if the thread could not start.
bool StartDownload(Binding* binding) noexcept;

// Maps a transfer's outcome to the HRESULT OnStopBinding reports.
HRESULT ResultFromWinInetError(DWORD error) noexcept;
HRESULT ResultFromHttpStatus(DWORD status) noexcept;

// Reads bytes that the binding has announced; the object handed to OnDataAvailable.
IStream* NewPullStream(Binding* binding); // may throw std::bad_alloc

}  // namespace urlshim
