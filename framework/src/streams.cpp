#include "framework/streams.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

// ---------------------------------------------------------------------------
// TStream
// ---------------------------------------------------------------------------
const TClassInfo& TStream::StaticClass() {
  static const TClassInfo info = TClassBuilder<TStream>(L"TStream");
  return info;
}

std::int64_t TStream::Size() {
  std::int64_t pos = Seek(0, soCurrent);
  std::int64_t size = Seek(0, soEnd);
  Seek(pos, soBeginning);
  return size;
}

void TStream::SetSize(std::int64_t) { throw EStreamError(ClassName() + L" cannot change its size"); }

std::int64_t TStream::Remaining() {
  std::int64_t r = Size() - Position();
  return r > 0 ? r : 0;
}

void TStream::ReadBuffer(void* Buffer, std::int64_t Count) {
  if (Count < 0) throw EReadError(L"Stream read error");
  std::int64_t done = 0;
  auto* p = static_cast<std::uint8_t*>(Buffer);
  // Some streams answer in parts (files, pipes): read until done or nothing comes.
  while (done < Count) {
    std::int64_t n = Read(p + done, Count - done);
    if (n <= 0) throw EReadError(L"Stream read error");
    done += n;
  }
}

void TStream::WriteBuffer(const void* Buffer, std::int64_t Count) {
  if (Count < 0) throw EWriteError(L"Stream write error");
  std::int64_t done = 0;
  auto* p = static_cast<const std::uint8_t*>(Buffer);
  while (done < Count) {
    std::int64_t n = Write(p + done, Count - done);
    if (n <= 0) throw EWriteError(L"Stream write error");
    done += n;
  }
}

std::int64_t TStream::CopyFrom(TStream& Source, std::int64_t Count) {
  if (Count == 0) {
    Source.SetPosition(0);
    Count = Source.Size();
  }
  if (Count < 0) throw EStreamError(L"Invalid stream copy count");
  constexpr std::int64_t kChunk = 61440;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min(Count, kChunk)));
  std::int64_t left = Count;
  while (left > 0) {
    std::int64_t n = std::min(left, kChunk);
    Source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    left -= n;
  }
  return Count;
}

std::uint8_t TStream::ReadUInt8() {
  std::uint8_t b;
  ReadBuffer(&b, 1);
  return b;
}

std::uint16_t TStream::ReadUInt16() {
  std::uint8_t b[2];
  ReadBuffer(b, 2);
  return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}

std::uint32_t TStream::ReadUInt32() {
  std::uint8_t b[4];
  ReadBuffer(b, 4);
  return std::uint32_t(b[0]) | (std::uint32_t(b[1]) << 8) | (std::uint32_t(b[2]) << 16) | (std::uint32_t(b[3]) << 24);
}

std::uint64_t TStream::ReadUInt64() {
  std::uint64_t lo = ReadUInt32();
  std::uint64_t hi = ReadUInt32();
  return lo | (hi << 32);
}

void TStream::WriteUInt8(std::uint8_t v) { WriteBuffer(&v, 1); }

void TStream::WriteUInt16(std::uint16_t v) {
  std::uint8_t b[2] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)};
  WriteBuffer(b, 2);
}

void TStream::WriteUInt32(std::uint32_t v) {
  std::uint8_t b[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                       static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
  WriteBuffer(b, 4);
}

void TStream::WriteUInt64(std::uint64_t v) {
  WriteUInt32(static_cast<std::uint32_t>(v));
  WriteUInt32(static_cast<std::uint32_t>(v >> 32));
}

// ---------------------------------------------------------------------------
// TCustomMemoryStream
// ---------------------------------------------------------------------------
const TClassInfo& TCustomMemoryStream::StaticClass() {
  static const TClassInfo info = TClassBuilder<TCustomMemoryStream>(L"TCustomMemoryStream");
  return info;
}

void TCustomMemoryStream::SetPointer(void* Ptr, std::int64_t Size) {
  memory_ = Ptr;
  size_ = Size;
}

std::int64_t TCustomMemoryStream::Read(void* Buffer, std::int64_t Count) {
  if (Count <= 0 || position_ >= size_) return 0;
  std::int64_t n = std::min(Count, size_ - position_);
  std::memcpy(Buffer, static_cast<const std::uint8_t*>(memory_) + position_, static_cast<std::size_t>(n));
  position_ += n;
  return n;
}

std::int64_t TCustomMemoryStream::Write(const void*, std::int64_t) {
  throw EStreamError(ClassName() + L" cannot be written");
}

std::int64_t TCustomMemoryStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  std::int64_t base = Origin == soBeginning ? 0 : (Origin == soCurrent ? position_ : size_);
  if ((Offset > 0 && base > std::numeric_limits<std::int64_t>::max() - Offset) || base + Offset < 0)
    throw EStreamError(L"Invalid stream position");
  position_ = base + Offset;
  return position_;
}

void TCustomMemoryStream::SaveToStream(TStream& Stream) {
  if (size_ > 0) Stream.WriteBuffer(memory_, size_);
}

void TCustomMemoryStream::SaveToFile(const WideString& FileName) {
  TFileStream f(FileName, fmCreate);
  SaveToStream(f);
}

// ---------------------------------------------------------------------------
// TMemoryStream
// ---------------------------------------------------------------------------
const TClassInfo& TMemoryStream::StaticClass() {
  static const TClassInfo info = TClassBuilder<TMemoryStream>(L"TMemoryStream");
  return info;
}

TMemoryStream::~TMemoryStream() { std::free(Memory()); }

void TMemoryStream::SetCapacity(std::int64_t NewCapacity) {
  if (NewCapacity == capacity_) return;
  // Far beyond any memory a process gets: refuse before asking the allocator.
  constexpr std::int64_t kLimit = std::int64_t(1) << 40;
  if (NewCapacity < 0 || NewCapacity > kLimit ||
      static_cast<std::uint64_t>(NewCapacity) > std::numeric_limits<std::size_t>::max() / 2)
    throw EOutOfMemory(L"Out of memory while expanding memory stream");
  void* p = NewCapacity == 0 ? nullptr : std::realloc(Memory(), static_cast<std::size_t>(NewCapacity));
  if (NewCapacity != 0 && !p) throw EOutOfMemory(L"Out of memory while expanding memory stream");
  if (NewCapacity == 0) std::free(Memory());
  capacity_ = NewCapacity;
  SetPointer(p, std::min(Size(), NewCapacity));
}

void TMemoryStream::SetSize(std::int64_t NewSize) {
  if (NewSize < 0) throw EStreamError(L"Invalid stream size");
  std::int64_t old = Size();
  if (NewSize > capacity_) {
    // Grow geometrically so that many small writes stay linear overall.
    std::int64_t cap = std::max<std::int64_t>(NewSize, capacity_ + capacity_ / 2);
    cap = (cap + 0xFFF) & ~std::int64_t(0xFFF);
    try {
      SetCapacity(cap);
    } catch (const EOutOfMemory&) {
      SetCapacity(NewSize);
    }
  } else if (NewSize == 0) {
    SetCapacity(0);
  }
  SetPointer(Memory(), NewSize);
  if (NewSize > old) std::memset(static_cast<std::uint8_t*>(Memory()) + old, 0, static_cast<std::size_t>(NewSize - old));
  if (position_ > NewSize) position_ = NewSize;
}

std::int64_t TMemoryStream::Write(const void* Buffer, std::int64_t Count) {
  if (Count <= 0) return 0;
  if (position_ > std::numeric_limits<std::int64_t>::max() - Count) throw EWriteError(L"Stream write error");
  std::int64_t end = position_ + Count;
  std::int64_t pos = position_;
  if (end > Size()) SetSize(end);
  std::memcpy(static_cast<std::uint8_t*>(Memory()) + pos, Buffer, static_cast<std::size_t>(Count));
  position_ = end;
  return Count;
}

void TMemoryStream::Clear() {
  SetCapacity(0);
  SetPointer(nullptr, 0);
  position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& Stream) {
  Stream.SetPosition(0);
  std::int64_t n = Stream.Size();
  // Read into a fresh stream first: a failing source leaves this one as it was.
  TMemoryStream fresh;
  fresh.SetSize(n);
  if (n > 0) Stream.ReadBuffer(fresh.Memory(), n);
  std::free(Memory());
  SetPointer(fresh.Memory(), n);
  capacity_ = fresh.capacity_;
  position_ = 0;
  fresh.SetPointer(nullptr, 0);
  fresh.capacity_ = 0;
}

void TMemoryStream::LoadFromFile(const WideString& FileName) {
  TFileStream f(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(f);
}

// ---------------------------------------------------------------------------
// TStringStream
// ---------------------------------------------------------------------------
const TClassInfo& TStringStream::StaticClass() {
  static const TClassInfo info = TClassBuilder<TStringStream>(L"TStringStream");
  return info;
}

TStringStream::TStringStream(const AnsiString& Data) {
  if (!Data.empty()) WriteBuffer(Data.data(), static_cast<std::int64_t>(Data.size()));
  SetPosition(0);
}

AnsiString TStringStream::DataString() const {
  auto* self = const_cast<TStringStream*>(this);
  return AnsiString(static_cast<const char*>(Memory()), static_cast<std::size_t>(self->Size()));
}

// ---------------------------------------------------------------------------
// TFileStream
// ---------------------------------------------------------------------------
const TClassInfo& TFileStream::StaticClass() {
  static const TClassInfo info = TClassBuilder<TFileStream>(L"TFileStream");
  return info;
}

#ifdef _WIN32
namespace {
WideString SystemMessage(DWORD code) {
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  WideString msg = n && text ? Trim(std::wstring_view(text, n)) : L"System error " + IntToStr(code);
  if (text) LocalFree(text);
  return msg;
}
HANDLE H(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }
}  // namespace

TFileStream::TFileStream(const WideString& FileName, std::uint16_t Mode) : fileName_(FileName) {
  DWORD access, disposition;
  if (Mode == fmCreate || (Mode & 0xFF00) == fmCreate) {
    access = GENERIC_READ | GENERIC_WRITE;
    disposition = CREATE_ALWAYS;
  } else {
    static const DWORD accessModes[] = {GENERIC_READ, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE};
    if ((Mode & 3) > 2) throw EFOpenError(L"Cannot open file \"" + FileName + L"\". Invalid access mode");
    access = accessModes[Mode & 3];
    disposition = OPEN_EXISTING;
  }
  static const DWORD shareModes[] = {FILE_SHARE_READ | FILE_SHARE_WRITE, 0, FILE_SHARE_READ, FILE_SHARE_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE};
  unsigned share = (Mode & 0xF0) >> 4;
  DWORD shareMode = share < 5 ? shareModes[share] : FILE_SHARE_READ;
  HANDLE h = CreateFileW(FileName.c_str(), access, shareMode, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD err = GetLastError();
    if (disposition == CREATE_ALWAYS)
      throw EFCreateError(L"Cannot create file \"" + FileName + L"\". " + SystemMessage(err));
    throw EFOpenError(L"Cannot open file \"" + FileName + L"\". " + SystemMessage(err));
  }
  handle_ = reinterpret_cast<std::intptr_t>(h);
}

TFileStream::~TFileStream() { CloseHandle(H(handle_)); }

std::int64_t TFileStream::Read(void* Buffer, std::int64_t Count) {
  if (Count <= 0) return 0;
  DWORD n = 0;
  DWORD want = static_cast<DWORD>(std::min<std::int64_t>(Count, 0x40000000));
  if (!ReadFile(H(handle_), Buffer, want, &n, nullptr)) return 0;
  return n;
}

std::int64_t TFileStream::Write(const void* Buffer, std::int64_t Count) {
  if (Count <= 0) return 0;
  DWORD n = 0;
  DWORD want = static_cast<DWORD>(std::min<std::int64_t>(Count, 0x40000000));
  if (!WriteFile(H(handle_), Buffer, want, &n, nullptr)) return 0;
  return n;
}

std::int64_t TFileStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  LARGE_INTEGER move, result;
  move.QuadPart = Offset;
  DWORD method = Origin == soBeginning ? FILE_BEGIN : (Origin == soCurrent ? FILE_CURRENT : FILE_END);
  if (!SetFilePointerEx(H(handle_), move, &result, method)) throw EStreamError(L"Invalid stream position");
  return result.QuadPart;
}

void TFileStream::SetSize(std::int64_t NewSize) {
  std::int64_t pos = Position();
  Seek(NewSize, soBeginning);
  if (!SetEndOfFile(H(handle_))) {
    DWORD err = GetLastError();
    Seek(pos, soBeginning);
    throw EStreamError(L"Cannot change the size of \"" + fileName_ + L"\". " + SystemMessage(err));
  }
  Seek(std::min(pos, NewSize), soBeginning);
}
#else
TFileStream::TFileStream(const WideString& FileName, std::uint16_t Mode) : fileName_(FileName) {
  int flags;
  bool create = (Mode & 0xFF00) == fmCreate;
  if (create) {
    flags = O_RDWR | O_CREAT | O_TRUNC;
  } else {
    static const int accessModes[] = {O_RDONLY, O_WRONLY, O_RDWR};
    if ((Mode & 3) > 2) throw EFOpenError(L"Cannot open file \"" + FileName + L"\". Invalid access mode");
    flags = accessModes[Mode & 3];
  }
  int fd = ::open(WideToUtf8(FileName).c_str(), flags | O_CLOEXEC, 0644);
  if (fd < 0) {
    WideString reason = Utf8ToWide(std::strerror(errno));
    if (create) throw EFCreateError(L"Cannot create file \"" + FileName + L"\". " + reason);
    throw EFOpenError(L"Cannot open file \"" + FileName + L"\". " + reason);
  }
  handle_ = fd;
}

TFileStream::~TFileStream() { ::close(static_cast<int>(handle_)); }

std::int64_t TFileStream::Read(void* Buffer, std::int64_t Count) {
  if (Count <= 0) return 0;
  ssize_t n = ::read(static_cast<int>(handle_), Buffer, static_cast<std::size_t>(std::min<std::int64_t>(Count, 0x40000000)));
  return n < 0 ? 0 : n;
}

std::int64_t TFileStream::Write(const void* Buffer, std::int64_t Count) {
  if (Count <= 0) return 0;
  ssize_t n = ::write(static_cast<int>(handle_), Buffer, static_cast<std::size_t>(std::min<std::int64_t>(Count, 0x40000000)));
  return n < 0 ? 0 : n;
}

std::int64_t TFileStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  int whence = Origin == soBeginning ? SEEK_SET : (Origin == soCurrent ? SEEK_CUR : SEEK_END);
  off_t r = ::lseek(static_cast<int>(handle_), static_cast<off_t>(Offset), whence);
  if (r < 0) throw EStreamError(L"Invalid stream position");
  return r;
}

void TFileStream::SetSize(std::int64_t NewSize) {
  if (NewSize < 0 || ::ftruncate(static_cast<int>(handle_), static_cast<off_t>(NewSize)) != 0)
    throw EStreamError(L"Cannot change the size of \"" + fileName_ + L"\"");
  if (Position() > NewSize) Seek(NewSize, soBeginning);
}
#endif
