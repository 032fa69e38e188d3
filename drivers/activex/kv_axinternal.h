// Small helpers the ActiveX back-end's files share: counted interfaces and
// the answers of the container's tear-off objects.
#pragma once

#include <windows.h>

namespace kvax {

// One counted interface, released when the holder goes.
template <class I>
struct TComRef {
    I* p = nullptr;
    TComRef() = default;
    TComRef(const TComRef&) = delete;
    TComRef& operator=(const TComRef&) = delete;
    ~TComRef()
    {
        if (p)
            p->Release();
    }
};

// Releases an interface field and clears it first, so that a call back
// during the release finds it gone.
template <class I>
void ReleaseAndClear(I*& p)
{
    if (p) {
        I* q = p;
        p = nullptr;
        q->Release();
    }
}

// A window query of a tear-off that has no window to name.
inline HRESULT NoWindow(HWND* phwnd)
{
    if (phwnd)
        *phwnd = nullptr;
    return S_OK;
}

}  // namespace kvax
