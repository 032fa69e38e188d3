// Owners for the handles the package holds: counted interfaces, BSTRs,
// VARIANTs, global memory blocks, a device context's saved state and a 32-bit
// DIB section with its memory DC. Each owner releases exactly what it took,
// on every way out, exceptions included. Internal to the package, the layer
// and the back-ends; see docs/internals.md.
#pragma once

#include <windows.h>

#include <ole2.h>
#include <oleauto.h>

#include <cstdint>
#include <string_view>
#include <utility>

namespace kv {

// One counted reference to a COM interface. Moving hands the reference on
// without AddRef; copying takes a new one.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes a new reference to p.
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

    // Adopts a reference the caller already holds (no AddRef).
    void attach(T* p) noexcept
    {
        reset();
        p_ = p;
    }
    // Gives up the reference without releasing it.
    T* detach() noexcept { return std::exchange(p_, nullptr); }
    void reset() noexcept
    {
        // Cleared before the release: a call back during it finds nothing.
        if (T* p = std::exchange(p_, nullptr))
            p->Release();
    }
    // Releases what is held, then hands out the address to fill.
    T** put() noexcept
    {
        reset();
        return &p_;
    }
    void** putVoid() noexcept { return reinterpret_cast<void**>(put()); }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    // Another interface of the same object; empty when it is not offered.
    template <class U>
    ComPtr<U> query(REFIID iid) const noexcept
    {
        ComPtr<U> out;
        if (p_ && FAILED(p_->QueryInterface(iid, out.putVoid())))
            out.detach();  // an object that failed may still have written the pointer
        return out;
    }

private:
    T* p_ = nullptr;
};

// Releases an interface field (the back-ends' public fields stay raw
// pointers) and clears it first, so a call back during the release finds it
// gone.
template <class I>
void ReleaseAndClear(I*& field) noexcept
{
    if (I* p = std::exchange(field, nullptr))
        p->Release();
}

// Stores p (adding a reference) in an interface field, releasing what it held.
template <class I>
void ReplaceField(I*& field, I* p) noexcept
{
    if (p)
        p->AddRef();
    I* old = std::exchange(field, p);
    if (old)
        old->Release();
}

// One BSTR. An empty text is the null BSTR, which COM reads as "".
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(std::wstring_view text)
        : b_(text.empty() ? nullptr : SysAllocStringLen(text.data(), static_cast<UINT>(text.size())))
    {
    }
    ~Bstr() { SysFreeString(b_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    Bstr(Bstr&& o) noexcept : b_(std::exchange(o.b_, nullptr)) {}

    // Adopts a BSTR the caller was handed (an EXCEPINFO's texts, say).
    static Bstr Attach(BSTR b) noexcept
    {
        Bstr out;
        out.b_ = b;
        return out;
    }
    BSTR get() const noexcept { return b_; }
    operator BSTR() const noexcept { return b_; }
    // Frees what is held, then hands out the address for an out parameter.
    BSTR* put() noexcept
    {
        SysFreeString(b_);
        b_ = nullptr;
        return &b_;
    }
    BSTR detach() noexcept { return std::exchange(b_, nullptr); }
    std::wstring_view view() const noexcept
    {
        return b_ ? std::wstring_view(b_, SysStringLen(b_)) : std::wstring_view();
    }

private:
    BSTR b_ = nullptr;
};

// One VARIANT, cleared on every way out.
class Variant {
public:
    Variant() noexcept { VariantInit(&v_); }
    ~Variant() { VariantClear(&v_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;

    VARIANT& get() noexcept { return v_; }
    const VARIANT& get() const noexcept { return v_; }
    // Clears what is held, then hands out the variant to fill.
    VARIANT* put() noexcept
    {
        VariantClear(&v_);
        return &v_;
    }
    // Moves the value out to a variant the caller owns (which must be empty).
    void moveTo(VARIANT& out) noexcept
    {
        out = v_;
        VariantInit(&v_);
    }

private:
    VARIANT v_;
};

// A global memory block, freed unless handed on.
class GlobalMem {
public:
    GlobalMem() = default;
    explicit GlobalMem(HGLOBAL h) noexcept : h_(h) {}
    ~GlobalMem()
    {
        if (h_)
            GlobalFree(h_);
    }
    GlobalMem(const GlobalMem&) = delete;
    GlobalMem& operator=(const GlobalMem&) = delete;
    HGLOBAL get() const noexcept { return h_; }
    HGLOBAL detach() noexcept { return std::exchange(h_, nullptr); }
    explicit operator bool() const noexcept { return h_ != nullptr; }

private:
    HGLOBAL h_ = nullptr;
};

// A device context's state saved for a scope: whatever runs inside (a
// player's drawing, an application's paint code) may change the clip or the
// selection; the state is back when the scope ends, exceptions included.
class SavedDC {
public:
    explicit SavedDC(HDC dc) noexcept : dc_(dc), saved_(dc ? SaveDC(dc) : 0) {}
    ~SavedDC()
    {
        if (saved_)
            RestoreDC(dc_, saved_);
    }
    SavedDC(const SavedDC&) = delete;
    SavedDC& operator=(const SavedDC&) = delete;

    HDC dc() const noexcept { return dc_; }
    // Narrows the clip to r (within the clip already there).
    void IntersectClip(const RECT& r) const noexcept { IntersectClipRect(dc_, r.left, r.top, r.right, r.bottom); }
    // Makes r the whole clip, whatever the clip was.
    void ReplaceClip(const RECT& r) const noexcept
    {
        if (HRGN region = CreateRectRgn(r.left, r.top, r.right, r.bottom)) {
            SelectClipRgn(dc_, region);  // the DC keeps a copy
            DeleteObject(region);
        }
    }

private:
    HDC dc_;
    int saved_;
};

// A top-down 32-bit DIB section selected into a memory DC of its own. The
// members go in release order: the DC's first selection is put back, then the
// DC is deleted, then the bitmap.
class DibSection {
public:
    DibSection() = default;
    // A section as `info` describes it; Valid() says whether it was made.
    explicit DibSection(const BITMAPINFO& info) noexcept
    {
        void* pixels = nullptr;
        bitmap_ = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
        if (!bitmap_)
            return;
        dc_ = CreateCompatibleDC(nullptr);
        if (!dc_)
            return;
        previous_ = SelectObject(dc_, bitmap_);
        bits_ = pixels;
    }
    // A w x h section (top-down, 32 bits per pixel).
    DibSection(int w, int h) noexcept : DibSection(Describe(w, h)) {}
    ~DibSection() { reset(); }
    DibSection(const DibSection&) = delete;
    DibSection& operator=(const DibSection&) = delete;
    DibSection(DibSection&& o) noexcept { take(o); }
    DibSection& operator=(DibSection&& o) noexcept
    {
        if (this != &o) {
            reset();
            take(o);
        }
        return *this;
    }

    void reset() noexcept
    {
        if (dc_) {
            if (previous_)
                SelectObject(dc_, previous_);
            DeleteDC(dc_);
        }
        if (bitmap_)
            DeleteObject(bitmap_);
        dc_ = nullptr;
        bitmap_ = nullptr;
        previous_ = nullptr;
        bits_ = nullptr;
    }

    bool Valid() const noexcept { return bits_ != nullptr; }
    HDC dc() const noexcept { return dc_; }
    HBITMAP bitmap() const noexcept { return bitmap_; }
    void* bits() const noexcept { return bits_; }

    static BITMAPINFO Describe(int w, int h) noexcept
    {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = w;
        info.bmiHeader.biHeight = -h;  // top-down
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        return info;
    }

private:
    void take(DibSection& o) noexcept
    {
        dc_ = std::exchange(o.dc_, nullptr);
        bitmap_ = std::exchange(o.bitmap_, nullptr);
        previous_ = std::exchange(o.previous_, nullptr);
        bits_ = std::exchange(o.bits_, nullptr);
    }

    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;  // the DC's stock bitmap, put back before the DC goes
    void* bits_ = nullptr;
};

// An open registry key.
class RegKey {
public:
    RegKey() = default;
    ~RegKey()
    {
        if (h_)
            RegCloseKey(h_);
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    HKEY get() const noexcept { return h_; }
    HKEY* put() noexcept
    {
        if (h_)
            RegCloseKey(h_);
        h_ = nullptr;
        return &h_;
    }

private:
    HKEY h_ = nullptr;
};

// The screen's DC for a scope.
class ScreenDC {
public:
    ScreenDC() noexcept : dc_(::GetDC(nullptr)) {}
    ~ScreenDC()
    {
        if (dc_)
            ::ReleaseDC(nullptr, dc_);
    }
    ScreenDC(const ScreenDC&) = delete;
    ScreenDC& operator=(const ScreenDC&) = delete;
    HDC get() const noexcept { return dc_; }

private:
    HDC dc_;
};

}  // namespace kv
