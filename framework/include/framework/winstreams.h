// Windows streams: a stream over a module's resource, and the COM IStream
// adapter over any TStream.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <atomic>

#include "framework/streams.h"

// The bytes of a resource of a module, read-only.
class TResourceStream : public TCustomMemoryStream {
  KV_CLASS(TResourceStream, TCustomMemoryStream)
public:
  // EResNotFound "Resource NAME not found" when the module has no such resource.
  TResourceStream(HINSTANCE Instance, const WideString& ResName, LPCWSTR ResType);
  TResourceStream(HINSTANCE Instance, int ResID, LPCWSTR ResType);
  // EStreamError: resources cannot be written.
  std::int64_t Write(const void* Buffer, std::int64_t Count) override;

private:
  void Initialize(HINSTANCE Instance, LPCWSTR Name, LPCWSTR ResType, const WideString& DisplayName);
};

// The module holding the calling code (the EXE or the DLL it is linked into).
HINSTANCE ThisModule();

enum TStreamOwnership { soReference, soOwned };

// IStream over a TStream. Create answers an interface holding one
// reference; with soOwned the TStream is freed with the adapter. No
// exception leaves a method: stream errors become STG_E_* codes.
class TStreamAdapter final : public IStream {
public:
  static IStream* Create(TStream* Stream, TStreamOwnership Ownership = soReference);
  TStream* Stream() const { return stream_; }

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) noexcept override;
  ULONG STDMETHODCALLTYPE AddRef() noexcept override;
  ULONG STDMETHODCALLTYPE Release() noexcept override;
  // ISequentialStream
  HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) noexcept override;
  HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten) noexcept override;
  // IStream
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) noexcept override;
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER libNewSize) noexcept override;
  HRESULT STDMETHODCALLTYPE CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                                   ULARGE_INTEGER* pcbWritten) noexcept override;
  HRESULT STDMETHODCALLTYPE Commit(DWORD grfCommitFlags) noexcept override;
  HRESULT STDMETHODCALLTYPE Revert() noexcept override;
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) noexcept override;
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) noexcept override;
  HRESULT STDMETHODCALLTYPE Stat(STATSTG* pstatstg, DWORD grfStatFlag) noexcept override;
  HRESULT STDMETHODCALLTYPE Clone(IStream** ppstm) noexcept override;

private:
  TStreamAdapter(TStream* Stream, TStreamOwnership Ownership) : stream_(Stream), ownership_(Ownership) {}
  ~TStreamAdapter();
  std::atomic<ULONG> refs_{1};
  TStream* stream_;
  TStreamOwnership ownership_;
};

// Raises EOleSysError with the system's text for a failed HRESULT.
void OleCheck(HRESULT hr);
// Connects Sink to Source's connection point for IID; Connection receives the
// cookie (0 when Source has no such point or refuses). Never raises.
void InterfaceConnect(IUnknown* Source, REFIID IID, IUnknown* Sink, DWORD& Connection);
// Undoes InterfaceConnect and clears Connection; nothing when it is 0.
void InterfaceDisconnect(IUnknown* Source, REFIID IID, DWORD& Connection);
// The system's text for an error code (Win32 error or HRESULT).
WideString SysErrorMessage(DWORD code);
