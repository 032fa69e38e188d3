#include "png_wic.h"

namespace kvrender {

namespace {

void Check(HRESULT hr, const char* step)
{
    if (FAILED(hr))
        throw WriteError(std::string(step) + ": " + SystemMessage(static_cast<DWORD>(hr)));
}

}  // namespace

std::string SystemMessage(DWORD code)
{
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = n && text ? std::wstring(text, n) : std::wstring();
    if (text)
        LocalFree(text);
    // One line: the system's texts end in a line break, some hold more.
    for (wchar_t& c : message)
        if (c == L'\r' || c == L'\n')
            c = L' ';
    while (!message.empty() && (message.back() == L' ' || message.back() == L'.'))
        message.pop_back();
    char hex[16];
    wsprintfA(hex, "0x%08lX", static_cast<unsigned long>(code));
    return message.empty() ? std::string("error ") + hex : Narrow(message) + " (" + hex + ")";
}

std::string Narrow(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

PngWriter::PngWriter()
{
    Check(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                           factory_.putVoid()),
          "the system's image encoder (WIC) is not available");
}

void PngWriter::Write(const std::wstring& path, int width, int height, UINT stride, const std::uint8_t* pixels,
                      bool alpha)
{
    const std::wstring temp = path + L".kvrender-part";
    try {
        {
            kv::ComPtr<IWICStream> stream;
            Check(factory_->CreateStream(stream.put()), "cannot make a file stream");
            Check(stream->InitializeFromFilename(temp.c_str(), GENERIC_WRITE), ("cannot create " + Narrow(temp)).c_str());
            kv::ComPtr<IWICBitmapEncoder> encoder;
            Check(factory_->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.put()), "no PNG encoder");
            Check(encoder->Initialize(stream.get(), WICBitmapEncoderNoCache), "cannot start the PNG encoder");
            kv::ComPtr<IWICBitmapFrameEncode> frame;
            kv::ComPtr<IPropertyBag2> properties;
            Check(encoder->CreateNewFrame(frame.put(), properties.put()), "cannot start a PNG frame");
            Check(frame->Initialize(properties.get()), "cannot start a PNG frame");
            Check(frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(height)), "cannot size the PNG frame");
            const WICPixelFormatGUID wanted = alpha ? GUID_WICPixelFormat32bppBGRA : GUID_WICPixelFormat24bppBGR;
            WICPixelFormatGUID format = wanted;
            Check(frame->SetPixelFormat(&format), "the PNG encoder refuses the pixel format");
            // The encoder answers the nearest format it has; converting
            // behind the user's back would change the pixels.
            if (!IsEqualGUID(format, wanted))
                throw WriteError(std::string("the PNG encoder cannot store ") +
                                 (alpha ? "32-bit BGRA" : "24-bit BGR") + " pixels");
            Check(frame->WritePixels(static_cast<UINT>(height), stride, stride * static_cast<UINT>(height),
                                     const_cast<BYTE*>(pixels)),
                  "cannot encode the pixels");
            Check(frame->Commit(), "cannot finish the PNG frame");
            Check(encoder->Commit(), ("cannot write " + Narrow(temp)).c_str());
        }  // the stream is released, and the file closed, here
        if (!MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            throw WriteError("cannot put " + Narrow(path) + " in place: " + SystemMessage(GetLastError()));
    } catch (...) {
        DeleteFileW(temp.c_str());
        throw;
    }
}

}  // namespace kvrender
