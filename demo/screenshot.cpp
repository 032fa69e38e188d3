#include "screenshot.h"

#include <wincodec.h>

#include <vector>

namespace {

template <class T>
struct ComRelease {
    T* p = nullptr;
    ~ComRelease() { if (p) p->Release(); }
    T** put() { return &p; }
    T* operator->() const { return p; }
};

std::wstring Hr(const wchar_t* what, HRESULT hr)
{
    wchar_t buf[32];
    wsprintfW(buf, L" failed: 0x%08lX", static_cast<unsigned long>(hr));
    return std::wstring(what) + buf;
}

}  // namespace

std::wstring SaveWindowPng(HWND window, const std::wstring& path)
{
    RECT client{};
    if (!GetClientRect(window, &client))
        return L"GetClientRect failed";
    const int w = client.right, h = client.bottom;
    if (w <= 0 || h <= 0)
        return L"the window has no client area";

    // Read back from the screen, so the capture shows what a person would see,
    // whatever painted it.
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    std::wstring error;
    if (!dib || !mem) {
        error = L"CreateDIBSection failed";
    } else {
        HGDIOBJ old = SelectObject(mem, dib);
        BitBlt(mem, 0, 0, w, h, screen, origin.x, origin.y, SRCCOPY);
        SelectObject(mem, old);
        GdiFlush();
        // The screen has no alpha: make every pixel opaque.
        auto* px = static_cast<unsigned*>(bits);
        for (int i = 0; i < w * h; ++i)
            px[i] |= 0xFF000000u;
    }
    ReleaseDC(nullptr, screen);
    if (mem)
        DeleteDC(mem);
    if (!error.empty()) {
        if (dib)
            DeleteObject(dib);
        return error;
    }

    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const bool uninit = SUCCEEDED(hr);
    {
        ComRelease<IWICImagingFactory> factory;
        ComRelease<IWICStream> stream;
        ComRelease<IWICBitmapEncoder> encoder;
        ComRelease<IWICBitmapFrameEncode> frame;
        hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                              reinterpret_cast<void**>(factory.put()));
        if (FAILED(hr)) error = Hr(L"creating the imaging factory", hr);
        if (error.empty() && FAILED(hr = factory->CreateStream(stream.put())))
            error = Hr(L"CreateStream", hr);
        if (error.empty() && FAILED(hr = stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)))
            error = Hr(L"opening the output file", hr);
        if (error.empty() && FAILED(hr = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.put())))
            error = Hr(L"CreateEncoder", hr);
        if (error.empty() && FAILED(hr = encoder->Initialize(stream.p, WICBitmapEncoderNoCache)))
            error = Hr(L"Initialize", hr);
        if (error.empty() && FAILED(hr = encoder->CreateNewFrame(frame.put(), nullptr)))
            error = Hr(L"CreateNewFrame", hr);
        if (error.empty() && FAILED(hr = frame->Initialize(nullptr)))
            error = Hr(L"frame Initialize", hr);
        if (error.empty() && FAILED(hr = frame->SetSize(w, h)))
            error = Hr(L"SetSize", hr);
        WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
        if (error.empty() && FAILED(hr = frame->SetPixelFormat(&format)))
            error = Hr(L"SetPixelFormat", hr);
        if (error.empty() && FAILED(hr = frame->WritePixels(h, w * 4, w * h * 4, static_cast<BYTE*>(bits))))
            error = Hr(L"WritePixels", hr);
        if (error.empty() && FAILED(hr = frame->Commit()))
            error = Hr(L"frame Commit", hr);
        if (error.empty() && FAILED(hr = encoder->Commit()))
            error = Hr(L"Commit", hr);
    }
    if (uninit)
        CoUninitialize();
    DeleteObject(dib);
    return error;
}
