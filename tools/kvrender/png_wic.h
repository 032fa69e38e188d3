// PNG files through the system's image encoder (WIC).
#pragma once

#include <windows.h>
#include <wincodec.h>

#include <cstdint>
#include <stdexcept>
#include <string>

#include "kv_owners.h"

namespace kvrender {

// A failure of the encoder or of the file system while writing: exit status 1.
class WriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The text of a system error code or HRESULT, on one line.
std::string SystemMessage(DWORD code);
// A wide path as narrow text for a message.
std::string Narrow(const std::wstring& text);

class PngWriter {
public:
    // COM must be started on the calling thread. Throws WriteError when the
    // system has no image encoder.
    PngWriter();

    // Writes width x height pixels, rows `stride` bytes apart: B, G, R, A
    // bytes with straight alpha, or B, G, R bytes when `alpha` is false. The
    // file is written under a temporary name beside `path` and renamed into
    // place, so `path` is either the whole picture or untouched (an older file
    // stays as it was). Throws WriteError.
    void Write(const std::wstring& path, int width, int height, UINT stride, const std::uint8_t* pixels, bool alpha);

private:
    kv::ComPtr<IWICImagingFactory> factory_;
};

}  // namespace kvrender
