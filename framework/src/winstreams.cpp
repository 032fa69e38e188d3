#include "framework/winstreams.h"

#include <ocidl.h>

#include <algorithm>
#include <limits>

// ---------------------------------------------------------------------------
// TResourceStream
// ---------------------------------------------------------------------------
const TClassInfo& TResourceStream::StaticClass() {
  static const TClassInfo info = TClassBuilder<TResourceStream>(L"TResourceStream");
  return info;
}

TResourceStream::TResourceStream(HINSTANCE Instance, const WideString& ResName, LPCWSTR ResType) {
  Initialize(Instance, ResName.c_str(), ResType, ResName);
}

TResourceStream::TResourceStream(HINSTANCE Instance, int ResID, LPCWSTR ResType) {
  Initialize(Instance, MAKEINTRESOURCEW(ResID), ResType, L"#" + IntToStr(ResID));
}

void TResourceStream::Initialize(HINSTANCE Instance, LPCWSTR Name, LPCWSTR ResType, const WideString& DisplayName) {
  HRSRC info = FindResourceW(Instance, Name, ResType);
  if (!info) throw EResNotFound(L"Resource " + DisplayName + L" not found");
  HGLOBAL data = LoadResource(Instance, info);
  void* bytes = data ? LockResource(data) : nullptr;
  if (!bytes) throw EResNotFound(L"Resource " + DisplayName + L" cannot be loaded");
  // Resource memory lives as long as the module; it is never freed here.
  SetPointer(bytes, SizeofResource(Instance, info));
}

std::int64_t TResourceStream::Write(const void*, std::int64_t) {
  throw EStreamError(L"Can't write to a read-only resource stream");
}

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

// ---------------------------------------------------------------------------
// Errors
// ---------------------------------------------------------------------------
WideString SysErrorMessage(DWORD code) {
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  WideString msg = n && text ? Trim(std::wstring_view(text, n)) : L"Error " + IntToHex(code, 8);
  if (text) LocalFree(text);
  return msg;
}

void OleCheck(HRESULT hr) {
  if (SUCCEEDED(hr)) return;
  throw EOleSysError(SysErrorMessage(static_cast<DWORD>(hr)) + L" (HRESULT $" + IntToHex(static_cast<std::uint32_t>(hr), 8) + L")",
                     static_cast<std::int32_t>(hr));
}

namespace {
IConnectionPoint* FindConnectionPoint(IUnknown* Source, REFIID IID) {
  if (!Source) return nullptr;
  IConnectionPointContainer* container = nullptr;
  if (FAILED(Source->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container))) ||
      !container)
    return nullptr;
  IConnectionPoint* point = nullptr;
  if (FAILED(container->FindConnectionPoint(IID, &point))) point = nullptr;
  container->Release();
  return point;
}
}  // namespace

void InterfaceConnect(IUnknown* Source, REFIID IID, IUnknown* Sink, DWORD& Connection) {
  Connection = 0;
  if (IConnectionPoint* point = FindConnectionPoint(Source, IID)) {
    if (FAILED(point->Advise(Sink, &Connection))) Connection = 0;
    point->Release();
  }
}

void InterfaceDisconnect(IUnknown* Source, REFIID IID, DWORD& Connection) {
  if (Connection == 0) return;
  if (IConnectionPoint* point = FindConnectionPoint(Source, IID)) {
    point->Unadvise(Connection);
    point->Release();
  }
  Connection = 0;
}

// ---------------------------------------------------------------------------
// TStreamAdapter
// ---------------------------------------------------------------------------
IStream* TStreamAdapter::Create(TStream* Stream, TStreamOwnership Ownership) {
  if (!Stream) throw EInvalidArgument(L"TStreamAdapter needs a stream");
  return new TStreamAdapter(Stream, Ownership);
}

TStreamAdapter::~TStreamAdapter() {
  if (ownership_ == soOwned) {
    try {
      Free(stream_);
    } catch (...) {
    }
  }
}

HRESULT STDMETHODCALLTYPE TStreamAdapter::QueryInterface(REFIID riid, void** ppv) noexcept {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ISequentialStream) || IsEqualIID(riid, IID_IStream)) {
    *ppv = static_cast<IStream*>(this);
    AddRef();
    return S_OK;
  }
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE TStreamAdapter::AddRef() noexcept { return ++refs_; }

ULONG STDMETHODCALLTYPE TStreamAdapter::Release() noexcept {
  ULONG n = --refs_;
  if (n == 0) delete this;
  return n;
}

HRESULT STDMETHODCALLTYPE TStreamAdapter::Read(void* pv, ULONG cb, ULONG* pcbRead) noexcept {
  if (pcbRead) *pcbRead = 0;
  if (!pv) return STG_E_INVALIDPOINTER;
  try {
    std::int64_t n = stream_->Read(pv, cb);
    if (pcbRead) *pcbRead = static_cast<ULONG>(n);
    // S_FALSE tells the caller the stream ended before cb bytes.
    return static_cast<ULONG>(n) == cb ? S_OK : S_FALSE;
  } catch (...) {
    return S_FALSE;
  }
}

HRESULT STDMETHODCALLTYPE TStreamAdapter::Write(const void* pv, ULONG cb, ULONG* pcbWritten) noexcept {
  if (pcbWritten) *pcbWritten = 0;
  if (!pv) return STG_E_INVALIDPOINTER;
  try {
    std::int64_t n = stream_->Write(pv, cb);
    if (pcbWritten) *pcbWritten = static_cast<ULONG>(n);
    return static_cast<ULONG>(n) == cb ? S_OK : STG_E_CANTSAVE;
  } catch (...) {
    return STG_E_CANTSAVE;
  }
}

HRESULT STDMETHODCALLTYPE TStreamAdapter::Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin,
                                               ULARGE_INTEGER* plibNewPosition) noexcept {
  TSeekOrigin origin;
  switch (dwOrigin) {
    case STREAM_SEEK_SET: origin = soBeginning; break;
    case STREAM_SEEK_CUR: origin = soCurrent; break;
    case STREAM_SEEK_END: origin = soEnd; break;
    default: return STG_E_INVALIDFUNCTION;
  }
  try {
    std::int64_t pos = stream_->Seek(dlibMove.QuadPart, origin);
    if (plibNewPosition) plibNewPosition->QuadPart = static_cast<ULONGLONG>(pos);
    return S_OK;
  } catch (...) {
    return STG_E_INVALIDPOINTER;
  }
}

HRESULT STDMETHODCALLTYPE TStreamAdapter::SetSize(ULARGE_INTEGER libNewSize) noexcept {
  if (libNewSize.QuadPart > static_cast<ULONGLONG>(std::numeric_limits<std::int64_t>::max()))
    return STG_E_INVALIDFUNCTION;
  try {
    stream_->SetSize(static_cast<std::int64_t>(libNewSize.QuadPart));
    return S_OK;
  } catch (const EOutOfMemory&) {
    return STG_E_MEDIUMFULL;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT STDMETHODCALLTYPE TStreamAdapter::CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                                                 ULARGE_INTEGER* pcbWritten) noexcept {
  if (pcbRead) pcbRead->QuadPart = 0;
  if (pcbWritten) pcbWritten->QuadPart = 0;
  if (!pstm) return STG_E_INVALIDPOINTER;
  try {
    std::uint8_t buffer[65536];
    ULONGLONG left = cb.QuadPart, totalRead = 0, totalWritten = 0;
    while (left > 0) {
      ULONG want = static_cast<ULONG>(std::min<ULONGLONG>(left, sizeof(buffer)));
      std::int64_t got = stream_->Read(buffer, want);
      if (got <= 0) break;
      totalRead += static_cast<ULONGLONG>(got);
      ULONG written = 0;
      HRESULT hr = pstm->Write(buffer, static_cast<ULONG>(got), &written);
      totalWritten += written;
      if (FAILED(hr)) {
        if (pcbRead) pcbRead->QuadPart = totalRead;
        if (pcbWritten) pcbWritten->QuadPart = totalWritten;
        return hr;
      }
      left -= static_cast<ULONGLONG>(got);
    }
    if (pcbRead) pcbRead->QuadPart = totalRead;
    if (pcbWritten) pcbWritten->QuadPart = totalWritten;
    return S_OK;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT STDMETHODCALLTYPE TStreamAdapter::Commit(DWORD) noexcept { return S_OK; }

HRESULT STDMETHODCALLTYPE TStreamAdapter::Revert() noexcept { return STG_E_REVERTED; }

HRESULT STDMETHODCALLTYPE TStreamAdapter::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) noexcept {
  return STG_E_INVALIDFUNCTION;
}

HRESULT STDMETHODCALLTYPE TStreamAdapter::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) noexcept {
  return STG_E_INVALIDFUNCTION;
}

HRESULT STDMETHODCALLTYPE TStreamAdapter::Stat(STATSTG* pstatstg, DWORD) noexcept {
  if (!pstatstg) return STG_E_INVALIDPOINTER;
  try {
    *pstatstg = STATSTG{};
    pstatstg->type = STGTY_STREAM;
    pstatstg->cbSize.QuadPart = static_cast<ULONGLONG>(stream_->Size());
    pstatstg->grfMode = STGM_READWRITE;
    return S_OK;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT STDMETHODCALLTYPE TStreamAdapter::Clone(IStream** ppstm) noexcept {
  if (ppstm) *ppstm = nullptr;
  return E_NOTIMPL;
}
