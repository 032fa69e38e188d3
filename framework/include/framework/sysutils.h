// Run-time basics shared by every part of the framework: string types and
// conversions, the exception hierarchy, small text and file-name helpers.
// Platform-free: builds natively as well as for Windows.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

using WideString = std::wstring;
using AnsiString = std::string;

// ---------------------------------------------------------------------------
// Exceptions. Every framework error derives from Exception, which carries its
// message as wide text and answers what() with the same text in UTF-8.
// ---------------------------------------------------------------------------
class Exception : public std::exception {
public:
  explicit Exception(WideString message);
  const WideString& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return utf8_.c_str(); }

private:
  WideString message_;
  std::string utf8_;
};

#define KV_DECLARE_EXCEPTION(Name, Base)                  \
  class Name : public Base {                              \
  public:                                                 \
    using Base::Base;                                     \
  }

KV_DECLARE_EXCEPTION(EStreamError, Exception);
KV_DECLARE_EXCEPTION(EFilerError, EStreamError);
KV_DECLARE_EXCEPTION(EReadError, EFilerError);
KV_DECLARE_EXCEPTION(EWriteError, EFilerError);
KV_DECLARE_EXCEPTION(EClassNotFound, EFilerError);
KV_DECLARE_EXCEPTION(EFOpenError, EStreamError);
KV_DECLARE_EXCEPTION(EFCreateError, EStreamError);
KV_DECLARE_EXCEPTION(EResNotFound, Exception);
KV_DECLARE_EXCEPTION(EConvertError, Exception);
KV_DECLARE_EXCEPTION(EListError, Exception);
KV_DECLARE_EXCEPTION(EComponentError, Exception);
KV_DECLARE_EXCEPTION(EInvalidOperation, Exception);
KV_DECLARE_EXCEPTION(EInvalidArgument, Exception);
KV_DECLARE_EXCEPTION(EOutOfMemory, Exception);
KV_DECLARE_EXCEPTION(ERegistryException, Exception);
KV_DECLARE_EXCEPTION(EOutOfResources, Exception);
KV_DECLARE_EXCEPTION(EPropertyError, Exception);

// A failed operating-system call; ErrorCode is the system's error number.
class EOSError : public Exception {
public:
  EOSError(WideString message, std::uint32_t errorCode)
      : Exception(std::move(message)), ErrorCode(errorCode) {}
  std::uint32_t ErrorCode;
};

// A failed COM call; ErrorCode is the HRESULT.
class EOleError : public Exception {
public:
  using Exception::Exception;
};
class EOleSysError : public EOleError {
public:
  EOleSysError(WideString message, std::int32_t errorCode)
      : EOleError(std::move(message)), ErrorCode(errorCode) {}
  std::int32_t ErrorCode;
};

// ---------------------------------------------------------------------------
// Text conversions. WideString holds UTF-16 on Windows and UTF-32 natively;
// the Utf16 helpers give the same code units on both.
// ---------------------------------------------------------------------------
std::string WideToUtf8(std::wstring_view text);
WideString Utf8ToWide(std::string_view text);
std::u16string WideToUtf16(std::wstring_view text);
WideString Utf16ToWide(std::u16string_view text);
// The process's 8-bit code page on Windows (CP_ACP); Latin-1 natively.
// Characters the code page lacks become '?'.
AnsiString WideToAnsi(std::wstring_view text);
WideString AnsiToWide(std::string_view text);

WideString IntToStr(std::int64_t value);
// Upper-case hexadecimal, at least `digits` digits (zero-padded).
WideString IntToHex(std::uint64_t value, int digits);
// Decimal (optionally signed) or $/0x hexadecimal; EConvertError otherwise.
std::int64_t StrToInt64(std::wstring_view text);
int StrToInt(std::wstring_view text);
int StrToIntDef(std::wstring_view text, int fallback);
WideString Trim(std::wstring_view text);

// ASCII-only case handling, as identifiers and file names in forms need.
WideString UpperCase(std::wstring_view text);
WideString LowerCase(std::wstring_view text);
bool SameText(std::wstring_view a, std::wstring_view b);
int CompareText(std::wstring_view a, std::wstring_view b);
// Full case folding (the system's rules on Windows), as lists compare names.
int AnsiCompareText(std::wstring_view a, std::wstring_view b);
bool AnsiSameText(std::wstring_view a, std::wstring_view b);
int AnsiCompareStr(std::wstring_view a, std::wstring_view b);

// Letters, digits and '_', not starting with a digit; not empty.
bool IsValidIdent(std::wstring_view ident);

// File names: both '\' and '/' separate folders; a drive colon ends a folder.
WideString ExtractFileName(std::wstring_view path);
WideString ExtractFilePath(std::wstring_view path);
WideString ExtractFileExt(std::wstring_view path);
bool FileExists(const WideString& path);
