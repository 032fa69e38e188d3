// Streams: the abstract TStream with its buffer operations, memory streams,
// a string stream and file streams. Platform-free (TFileStream uses the
// system's file API on Windows and POSIX files natively).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/classes.h"

enum TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream : public TObject {
  KV_CLASS(TStream, TObject)
public:
  // Read and Write move at most Count bytes and answer how many moved.
  virtual std::int64_t Read(void* Buffer, std::int64_t Count) = 0;
  virtual std::int64_t Write(const void* Buffer, std::int64_t Count) = 0;
  // Answers the new position. EStreamError for a position before the start.
  virtual std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) = 0;

  std::int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(std::int64_t Value) { Seek(Value, soBeginning); }
  virtual std::int64_t Size();
  // EStreamError when the stream cannot change its size.
  virtual void SetSize(std::int64_t NewSize);
  // Bytes between the position and the end (0 when beyond the end).
  std::int64_t Remaining();

  // All or nothing: EReadError "Stream read error" on a short read,
  // EWriteError "Stream write error" on a short write.
  void ReadBuffer(void* Buffer, std::int64_t Count);
  void WriteBuffer(const void* Buffer, std::int64_t Count);
  // Copies Count bytes from Source's position; Count 0 copies the whole of
  // Source from its start. Answers the bytes copied.
  std::int64_t CopyFrom(TStream& Source, std::int64_t Count);

  // Little-endian fixed-size values, with ReadBuffer/WriteBuffer semantics.
  std::uint8_t ReadUInt8();
  std::uint16_t ReadUInt16();
  std::uint32_t ReadUInt32();
  std::int32_t ReadInt32() { return static_cast<std::int32_t>(ReadUInt32()); }
  std::uint64_t ReadUInt64();
  void WriteUInt8(std::uint8_t v);
  void WriteUInt16(std::uint16_t v);
  void WriteUInt32(std::uint32_t v);
  void WriteInt32(std::int32_t v) { WriteUInt32(static_cast<std::uint32_t>(v)); }
  void WriteUInt64(std::uint64_t v);
};

// A stream over a block of memory it does not necessarily own. Reading past
// the end answers fewer bytes; the base cannot write (EStreamError).
class TCustomMemoryStream : public TStream {
  KV_CLASS(TCustomMemoryStream, TStream)
public:
  void* Memory() const { return memory_; }
  std::int64_t Read(void* Buffer, std::int64_t Count) override;
  std::int64_t Write(const void* Buffer, std::int64_t Count) override;
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
  std::int64_t Size() override { return size_; }
  void SaveToStream(TStream& Stream);
  void SaveToFile(const WideString& FileName);

protected:
  void SetPointer(void* Ptr, std::int64_t Size);
  std::int64_t position_ = 0;

private:
  void* memory_ = nullptr;
  std::int64_t size_ = 0;
};

// A growable memory stream that owns its memory. Memory() moves when the
// stream grows; writing past the end zero-fills any gap.
class TMemoryStream : public TCustomMemoryStream {
  KV_CLASS(TMemoryStream, TCustomMemoryStream)
public:
  TMemoryStream() = default;
  ~TMemoryStream() override;
  std::int64_t Write(const void* Buffer, std::int64_t Count) override;
  // EOutOfMemory when the memory cannot be had; the stream then keeps its data.
  void SetSize(std::int64_t NewSize) override;
  void Clear();
  // Replace the whole content with Stream's (from its start) or the file's.
  void LoadFromStream(TStream& Stream);
  void LoadFromFile(const WideString& FileName);

private:
  void SetCapacity(std::int64_t NewCapacity);
  std::int64_t capacity_ = 0;
};

// A memory stream over 8-bit text.
class TStringStream : public TMemoryStream {
  KV_CLASS(TStringStream, TMemoryStream)
public:
  explicit TStringStream(const AnsiString& Data = {});
  AnsiString DataString() const;
};

// File open modes: one access value or fmCreate, or'ed with a share value.
constexpr std::uint16_t fmOpenRead = 0x0000;
constexpr std::uint16_t fmOpenWrite = 0x0001;
constexpr std::uint16_t fmOpenReadWrite = 0x0002;
constexpr std::uint16_t fmShareCompat = 0x0000;
constexpr std::uint16_t fmShareExclusive = 0x0010;
constexpr std::uint16_t fmShareDenyWrite = 0x0020;
constexpr std::uint16_t fmShareDenyRead = 0x0030;
constexpr std::uint16_t fmShareDenyNone = 0x0040;
constexpr std::uint16_t fmCreate = 0xFF00;

class TFileStream : public TStream {
  KV_CLASS(TFileStream, TStream)
public:
  // EFOpenError (EFCreateError with fmCreate) naming the file and the
  // system's reason.
  TFileStream(const WideString& FileName, std::uint16_t Mode);
  ~TFileStream() override;
  const WideString& FileName() const { return fileName_; }
  std::int64_t Read(void* Buffer, std::int64_t Count) override;
  std::int64_t Write(const void* Buffer, std::int64_t Count) override;
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
  void SetSize(std::int64_t NewSize) override;

private:
  WideString fileName_;
  std::intptr_t handle_;
};
