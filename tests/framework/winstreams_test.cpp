// Resource streams, the IStream adapter and the registry.
#include <gtest/gtest.h>

#include <cstring>

#include "win_test_support.h"

namespace {

TEST(ResourceStream, ReadsTheModulesBytesAndRefusesWrites) {
  TResourceStream s(ThisModule(), L"kvtestdata", RT_RCDATA);  // names ignore case
  ASSERT_EQ(s.Size(), 11);
  char buf[12] = {};
  s.ReadBuffer(buf, 11);
  EXPECT_STREQ(buf, "hello world");
  EXPECT_THROW(s.WriteBuffer("x", 1), EStreamError);
  try {
    TResourceStream missing(ThisModule(), L"NOSUCHRES", RT_RCDATA);
    FAIL();
  } catch (const EResNotFound& e) {
    EXPECT_NE(e.Message().find(L"NOSUCHRES"), WideString::npos);
  }
}

TEST(StreamAdapter, ServesAStreamThroughIStreamAndOwnsItWhenAsked) {
  static int freed = 0;
  struct Counted : TMemoryStream {
    ~Counted() override { ++freed; }
  };
  auto* backing = new Counted;
  backing->WriteBuffer("0123456789", 10);
  backing->SetPosition(0);
  IStream* stream = TStreamAdapter::Create(backing, soOwned);

  char buf[8] = {};
  ULONG got = 0;
  EXPECT_EQ(stream->Read(buf, 4, &got), S_OK);
  EXPECT_EQ(got, 4u);
  EXPECT_EQ(std::memcmp(buf, "0123", 4), 0);
  LARGE_INTEGER move;
  move.QuadPart = -2;
  ULARGE_INTEGER pos;
  EXPECT_EQ(stream->Seek(move, STREAM_SEEK_END, &pos), S_OK);
  EXPECT_EQ(pos.QuadPart, 8u);
  EXPECT_EQ(stream->Read(buf, 8, &got), S_FALSE);  // short: the end came first
  EXPECT_EQ(got, 2u);
  move.QuadPart = -100;
  EXPECT_NE(stream->Seek(move, STREAM_SEEK_SET, &pos), S_OK);  // no exception leaves

  STATSTG stat;
  EXPECT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
  EXPECT_EQ(stat.cbSize.QuadPart, 10u);

  IStream* copy = nullptr;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &copy), S_OK);
  move.QuadPart = 0;
  stream->Seek(move, STREAM_SEEK_SET, nullptr);
  ULARGE_INTEGER all, read, written;
  all.QuadPart = 100;
  EXPECT_EQ(stream->CopyTo(copy, all, &read, &written), S_OK);
  EXPECT_EQ(read.QuadPart, 10u);
  EXPECT_EQ(written.QuadPart, 10u);
  copy->Release();

  IUnknown* unk = nullptr;
  EXPECT_EQ(stream->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unk)), S_OK);
  EXPECT_EQ(stream->QueryInterface(IID_IStorage, reinterpret_cast<void**>(&copy)), E_NOINTERFACE);
  EXPECT_EQ(copy, nullptr);
  unk->Release();
  EXPECT_EQ(freed, 0);
  stream->Release();
  EXPECT_EQ(freed, 1);
}

TEST(Registry, ReadsStringsAndRejectsOtherTypes) {
  const WideString key = L"\\Software\\KvFrameworkTest";
  TRegistry reg;
  reg.SetRootKey(HKEY_CURRENT_USER);
  ASSERT_TRUE(reg.OpenKey(key, true));
  reg.WriteString(L"Path", L"C:\\Plugins\\npswf32.dll");
  reg.WriteInteger(L"Number", 42);
  // Stored without its terminating NUL, as some installers do.
  const wchar_t raw[] = L"abc";
  RegSetValueExW(reg.CurrentKey(), L"Raw", 0, REG_SZ, reinterpret_cast<const BYTE*>(raw), 6);
  reg.CloseKey();

  TRegistry ro(KEY_READ);
  ro.SetRootKey(HKEY_CURRENT_USER);
  EXPECT_FALSE(ro.OpenKeyReadOnly(key + L"\\Missing"));
  ASSERT_TRUE(ro.OpenKeyReadOnly(key));
  EXPECT_EQ(ro.ReadString(L"Path"), L"C:\\Plugins\\npswf32.dll");
  EXPECT_EQ(ro.ReadString(L"Raw"), L"abc");
  EXPECT_EQ(ro.ReadString(L"Absent"), L"");
  EXPECT_EQ(ro.ReadInteger(L"Number"), 42);
  EXPECT_THROW(ro.ReadString(L"Number"), ERegistryException);
  EXPECT_THROW(ro.ReadInteger(L"Path"), ERegistryException);
  ro.CloseKey();

  TRegistry cleanup;
  cleanup.SetRootKey(HKEY_CURRENT_USER);
  EXPECT_TRUE(cleanup.DeleteKey(key));
}

}  // namespace
