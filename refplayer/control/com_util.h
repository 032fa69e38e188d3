// Small owners for COM resources used across the control.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <string>
#include <utility>

namespace refcontrol {

template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    explicit ComPtr(T* p) : p_(p)
    {
        if (p_)
            p_->AddRef();
    }
    ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ~ComPtr() { reset(); }
    ComPtr& operator=(ComPtr o) noexcept
    {
        std::swap(p_, o.p_);
        return *this;
    }
    static ComPtr attach(T* p)
    {
        ComPtr c;
        c.p_ = p;
        return c;
    }
    T* detach() { return std::exchange(p_, nullptr); }
    void reset()
    {
        if (T* p = std::exchange(p_, nullptr))
            p->Release();
    }
    // Releases what is held before handing out the address to fill.
    T** put()
    {
        reset();
        return &p_;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

    template <typename U>
    ComPtr<U> query(REFIID iid) const
    {
        ComPtr<U> out;
        if (p_)
            p_->QueryInterface(iid, out.putVoid());
        return out;
    }

private:
    T* p_ = nullptr;
};

class Bstr {
public:
    Bstr() = default;
    explicit Bstr(const std::wstring& s) : b_(SysAllocStringLen(s.data(), static_cast<UINT>(s.size()))) {}
    ~Bstr() { SysFreeString(b_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    Bstr(Bstr&& o) noexcept : b_(std::exchange(o.b_, nullptr)) {}
    BSTR get() const { return b_; }
    BSTR* put()
    {
        SysFreeString(b_);
        b_ = nullptr;
        return &b_;
    }
    BSTR detach() { return std::exchange(b_, nullptr); }

private:
    BSTR b_ = nullptr;
};

inline std::string utf8(const wchar_t* text, size_t length)
{
    if (!text || length == 0)
        return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), n, nullptr, nullptr);
    return out;
}
inline std::string utf8(BSTR b) { return utf8(b, b ? SysStringLen(b) : 0); }
inline std::string utf8(const std::wstring& s) { return utf8(s.data(), s.size()); }

inline std::wstring wide(const std::string& s)
{
    if (s.empty())
        return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
    return out;
}

// A new BSTR for an out parameter; E_OUTOFMEMORY when it cannot be made.
inline HRESULT newBstr(const std::string& s, BSTR* out)
{
    std::wstring w = wide(s);
    *out = SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

std::string hresultText(HRESULT hr);
std::string guidText(REFGUID g);
std::string rectText(const RECT* r);

// Live COM objects of this module (controls, connection points' enumerators,
// binding callbacks, class factories handed out): DllCanUnloadNow's answer.
void objectCreated();
void objectDestroyed();
int liveObjects();
void lockModule(bool lock);
int moduleLocks();

}  // namespace refcontrol
