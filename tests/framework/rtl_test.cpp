// Platform-free parts: streams, string lists, collections, components,
// events, class information.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "framework/streams.h"
#include "test_components.h"

#ifdef _WIN32
#include <windows.h>
#endif

// ---------------------------------------------------------------------------
// Streams
// ---------------------------------------------------------------------------
TEST(MemoryStream, WritesGrowReadsStopAtEndAndGapsAreZero) {
  TMemoryStream s;
  s.WriteBuffer("abc", 3);
  EXPECT_EQ(s.Size(), 3);
  s.SetPosition(6);  // beyond the end: the next write zero-fills the gap
  s.WriteBuffer("z", 1);
  ASSERT_EQ(s.Size(), 7);
  EXPECT_EQ(std::memcmp(s.Memory(), "abc\0\0\0z", 7), 0);

  s.SetPosition(5);
  char buf[8] = {};
  EXPECT_EQ(s.Read(buf, 8), 2);  // only what is there
  EXPECT_EQ(s.Read(buf, 8), 0);
  s.SetPosition(5);
  EXPECT_THROW(s.ReadBuffer(buf, 3), EReadError);

  EXPECT_THROW(s.Seek(-1, soBeginning), EStreamError);
  EXPECT_EQ(s.Seek(-2, soEnd), 5);
  s.SetSize(4);  // shrinking pulls the position back
  EXPECT_EQ(s.Position(), 4);
  EXPECT_EQ(s.Remaining(), 0);
}

TEST(MemoryStream, LittleEndianHelpersAndCopyFrom) {
  TMemoryStream a;
  a.WriteUInt8(0x01);
  a.WriteUInt16(0x0302);
  a.WriteUInt32(0x07060504);
  a.WriteUInt64(0x0F0E0D0C0B0A0908ull);
  const auto* p = static_cast<const std::uint8_t*>(a.Memory());
  for (int i = 0; i < 15; ++i) EXPECT_EQ(p[i], i + 1) << i;

  TMemoryStream b;
  b.WriteBuffer("xx", 2);
  a.SetPosition(9);
  EXPECT_EQ(b.CopyFrom(a, 0), 15);  // 0: the whole source from its start
  EXPECT_EQ(b.Size(), 17);
  a.SetPosition(14);
  EXPECT_THROW(b.CopyFrom(a, 2), EReadError);  // only one byte left

  a.SetPosition(0);
  EXPECT_EQ(a.ReadUInt8(), 1);
  EXPECT_EQ(a.ReadUInt16(), 0x0302);
  EXPECT_EQ(a.ReadUInt32(), 0x07060504u);
  EXPECT_EQ(a.ReadUInt64(), 0x0F0E0D0C0B0A0908ull);
  EXPECT_THROW(a.ReadUInt8(), EReadError);
}

TEST(MemoryStream, LoadFromStreamReplacesContentAndKeepsItOnFailure) {
  TStringStream src("hello");
  TMemoryStream m;
  m.WriteBuffer("old content", 11);
  m.LoadFromStream(src);
  EXPECT_EQ(m.Size(), 5);
  EXPECT_EQ(m.Position(), 0);
  EXPECT_EQ(std::memcmp(m.Memory(), "hello", 5), 0);

  // A source that claims more than it delivers.
  class Liar : public TStringStream {
  public:
    Liar() : TStringStream("abc") {}
    std::int64_t Size() override { return 100; }
  } liar;
  EXPECT_THROW(m.LoadFromStream(liar), EReadError);
  EXPECT_EQ(m.Size(), 5);
  EXPECT_EQ(std::memcmp(m.Memory(), "hello", 5), 0);
}

TEST(MemoryStream, ImpossibleSizeIsAnErrorNotACrash) {
  TMemoryStream m;
  m.WriteBuffer("abc", 3);
  EXPECT_THROW(m.SetSize(std::int64_t(1) << 62), EOutOfMemory);
  EXPECT_EQ(m.Size(), 3);
  EXPECT_THROW(m.SetSize(-1), EStreamError);
}

TEST(FileStream, RoundTripAndOpenErrorsNameTheFile) {
#ifdef _WIN32
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  WideString path = WideString(dir) + L"kvfw_stream_test.bin";
  WideString missing = WideString(dir) + L"kvfw_no_such_dir\\x.bin";
#else
  WideString path = L"/tmp/kvfw_stream_test.bin";
  WideString missing = L"/tmp/kvfw_no_such_dir/x.bin";
#endif
  {
    TFileStream f(path, fmCreate);
    f.WriteUInt32(0xDEADBEEF);
    f.WriteBuffer("tail", 4);
  }
  {
    TMemoryStream m;
    m.LoadFromFile(path);
    ASSERT_EQ(m.Size(), 8);
    EXPECT_EQ(m.ReadUInt32(), 0xDEADBEEFu);
    TFileStream f(path, fmOpenReadWrite);
    f.SetSize(2);
    EXPECT_EQ(f.Size(), 2);
  }
  try {
    TFileStream f(missing, fmOpenRead);
    FAIL() << "opened a missing file";
  } catch (const EFOpenError& e) {
    EXPECT_NE(e.Message().find(missing), WideString::npos) << WideToUtf8(e.Message());
  }
  EXPECT_THROW(TFileStream(missing, fmCreate), EFCreateError);
  EXPECT_TRUE(FileExists(path));
#ifdef _WIN32
  DeleteFileW(path.c_str());
#else
  std::remove(WideToUtf8(path).c_str());
#endif
}

// ---------------------------------------------------------------------------
// Text helpers
// ---------------------------------------------------------------------------
TEST(SysUtils, ConversionsAndFileNames) {
  WideString w = Utf8ToWide("a\xC3\xA9\xE3\x81\x82\xF0\x9F\x98\x80");  // a é あ 😀
  EXPECT_EQ(WideToUtf8(w), "a\xC3\xA9\xE3\x81\x82\xF0\x9F\x98\x80");
  EXPECT_EQ(WideToUtf16(w).size(), 5u);  // the emoji takes a surrogate pair
  EXPECT_EQ(Utf16ToWide(WideToUtf16(w)), w);
  // Malformed UTF-8 turns into replacement characters, never into a crash.
  EXPECT_EQ(Utf8ToWide("\xC3"), WideString(1, wchar_t(0xFFFD)));
  EXPECT_EQ(Utf8ToWide("\xE3\x81"), WideString(2, wchar_t(0xFFFD)));

  EXPECT_EQ(IntToHex(0x1A2B, 8), L"00001A2B");
  EXPECT_EQ(StrToInt(L" -42 "), -42);
  EXPECT_EQ(StrToInt(L"$FF"), 255);
  EXPECT_THROW(StrToInt(L"12a"), EConvertError);
  EXPECT_THROW(StrToInt(L"99999999999"), EConvertError);
  EXPECT_EQ(StrToIntDef(L"", 5), 5);

  EXPECT_TRUE(SameText(L"Intro.SWF", L"intro.swf"));
  EXPECT_FALSE(SameText(L"intro", L"intro2"));
  EXPECT_TRUE(AnsiSameText(L"\u00C9T\u00C9", L"\u00E9t\u00E9"));
  EXPECT_EQ(ExtractFileName(L"C:\\movies\\intro.swf"), L"intro.swf");
  EXPECT_EQ(ExtractFileName(L"dir/clip.flv"), L"clip.flv");
  EXPECT_EQ(ExtractFilePath(L"C:\\movies\\intro.swf"), L"C:\\movies\\");
  EXPECT_EQ(ExtractFileExt(L"a.b\\name"), L"");
  EXPECT_EQ(ExtractFileExt(L"x\\clip.flv"), L".flv");
  EXPECT_TRUE(IsValidIdent(L"_Player1"));
  EXPECT_FALSE(IsValidIdent(L"1Player"));
  EXPECT_FALSE(IsValidIdent(L"my player"));
}

// ---------------------------------------------------------------------------
// String lists
// ---------------------------------------------------------------------------
TEST(StringList, CaseInsensitiveLookupFindsFirstEntryAndObjects) {
  TStringList list;
  TTestComponent a(nullptr), b(nullptr), c(nullptr);
  list.AddObject(L"Logo.png", &a);
  list.AddObject(L"Intro.swf", &b);
  list.AddObject(L"LOGO.PNG", &c);
  EXPECT_EQ(list.IndexOf(L"logo.png"), 0);  // the first registered
  EXPECT_EQ(list.IndexOf(L"INTRO.SWF"), 1);
  EXPECT_EQ(list.IndexOf(L"\u00E9t\u00E9.swf"), -1);
  list.Add(L"\u00C9T\u00C9.swf");
  EXPECT_EQ(list.IndexOf(L"\u00E9t\u00E9.swf"), 3);  // beyond ASCII too
  EXPECT_EQ(list.IndexOfObject(&c), 2);
  EXPECT_EQ(list.IndexOfObject(nullptr), 3);

  list.Delete(0);
  EXPECT_EQ(list.IndexOf(L"logo.png"), 1);
  EXPECT_EQ(list.Objects(1), &c);
  list.Put(1, L"Renamed.png");
  EXPECT_EQ(list.IndexOf(L"logo.png"), -1);
  EXPECT_EQ(list.IndexOfObject(&c), 1);

  list.SetCaseSensitive(true);
  EXPECT_EQ(list.IndexOf(L"renamed.png"), -1);
  EXPECT_EQ(list.IndexOf(L"Renamed.png"), 1);

  EXPECT_THROW(list.Strings(3), EListError);
  EXPECT_THROW(list.Delete(-1), EListError);
  EXPECT_THROW(list.Objects(99), EListError);
}

TEST(StringList, SortedListsKeepOrderAndHandleDuplicates) {
  TStringList list;
  list.SetSorted(true);
  list.Add(L"pear");
  list.Add(L"Apple");
  list.Add(L"banana");
  EXPECT_EQ(list.Add(L"APPLE"), 0);  // dupIgnore: the existing index
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Strings(0), L"Apple");
  EXPECT_EQ(list.Strings(2), L"pear");
  int index = -1;
  EXPECT_FALSE(list.Find(L"cherry", index));
  EXPECT_EQ(index, 2);
  list.SetDuplicates(dupError);
  EXPECT_THROW(list.Add(L"Pear"), EListError);
  EXPECT_THROW(list.Insert(0, L"x"), EListError);

  TStringList lines;
  lines.SetText(L"one\r\ntwo\nthree\r");
  ASSERT_EQ(lines.Count(), 3);
  EXPECT_EQ(lines.Strings(2), L"three");
  EXPECT_EQ(lines.Text(), L"one\r\ntwo\r\nthree\r\n");
}

TEST(StringList, OwnedObjectsAreFreedWithTheirEntries) {
  int before = TTestComponent::Live;
  {
    TStringList list(true);
    list.AddObject(L"a", new TTestComponent(nullptr));
    list.AddObject(L"b", new TTestComponent(nullptr));
    EXPECT_EQ(TTestComponent::Live, before + 2);
    list.Delete(0);
    EXPECT_EQ(TTestComponent::Live, before + 1);
  }
  EXPECT_EQ(TTestComponent::Live, before);
}

// ---------------------------------------------------------------------------
// Collections
// ---------------------------------------------------------------------------
TEST(Collection, ItemsJoinAndLeaveTheirCollection) {
  TTestComponent owner(nullptr);
  TCollection& c = *owner.Items();
  EXPECT_EQ(c.GetOwner(), &owner);
  auto* a = static_cast<TTestItem*>(c.Add());
  auto* b = static_cast<TTestItem*>(c.Add());
  EXPECT_EQ(c.Count(), 2);
  EXPECT_EQ(b->Index(), 1);
  EXPECT_EQ(b->GetOwner(), &c);
  EXPECT_EQ(a->GetDisplayName(), L"TTestItem");
  EXPECT_EQ(c.FindItemID(b->ID()), b);

  b->SetIndex(0);
  EXPECT_EQ(c.Items(0), b);
  delete b;  // an item freed directly leaves the collection
  EXPECT_EQ(c.Count(), 1);
  EXPECT_EQ(c.Items(0), a);
  EXPECT_THROW(c.Items(1), EListError);
  EXPECT_THROW(c.Delete(5), EListError);

  int live = TTestItem::Live;
  c.Clear();
  EXPECT_EQ(c.Count(), 0);
  EXPECT_EQ(TTestItem::Live, live - 1);
}

TEST(Collection, AssignCopiesThroughItemsAndRejectsOtherClasses) {
  // Items without their own Assign cannot be copied: the standard error.
  TTestComponent a(nullptr), b(nullptr);
  a.Items()->Add();
  try {
    b.Items()->Assign(a.Items());
    FAIL() << "assigned items that cannot assign";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), L"Cannot assign a TTestItem to a TTestItem");
  }
  TStringList list;
  try {
    a.Items()->Assign(&list);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), L"Cannot assign a TStringList to a TCollection");
  }
  EXPECT_THROW(list.Assign(nullptr), EConvertError);
  EXPECT_THROW(TCollection{TTestComponent::StaticClass()}, EInvalidArgument);
}

// ---------------------------------------------------------------------------
// Components
// ---------------------------------------------------------------------------
TEST(Component, OwnerFreesOwnedComponentsAndReferencesAreCleared) {
  int before = TTestComponent::Live;
  auto* owner = new TTestComponent(nullptr);
  auto* a = new TTestComponent(owner);
  auto* b = new TTestComponent(owner);
  a->SetName(L"Alpha");
  b->SetName(L"Beta");
  EXPECT_EQ(owner->FindComponent(L"ALPHA"), a);
  EXPECT_EQ(b->ComponentIndex(), 1);
  EXPECT_THROW(b->SetName(L"alpha"), EComponentError);
  EXPECT_THROW(b->SetName(L"no spaces"), EComponentError);
  EXPECT_EQ(b->Name(), L"Beta");

  // A reference across owners is cleared by free notification.
  TTestComponent outsider(nullptr);
  outsider.SetBuddy(a);
  b->SetBuddy(a);
  delete a;
  EXPECT_EQ(outsider.Buddy(), nullptr);
  EXPECT_EQ(b->Buddy(), nullptr);
  EXPECT_EQ(owner->ComponentCount(), 1);

  Free(owner);
  EXPECT_EQ(TTestComponent::Live, before + 1);  // only the outsider remains
}

TEST(Component, FreeMarksDestroyingBeforeTheDestructorsRun) {
  struct Probe : TTestComponent {
    using TTestComponent::TTestComponent;
    bool* seen;
    ~Probe() override { *seen = ComponentState().Contains(csDestroying); }
  };
  bool childSeen = false;
  auto* owner = new TTestComponent(nullptr);
  auto* child = new Probe(owner);
  child->seen = &childSeen;
  Free(owner);
  EXPECT_TRUE(childSeen);
}

// ---------------------------------------------------------------------------
// Events and class information
// ---------------------------------------------------------------------------
TEST(Event, BindsCallsComparesAndResolvesByName) {
  TTestRoot root(nullptr);
  TNotifyEvent e(&root, &TTestRoot::Ping, L"Ping");
  EXPECT_TRUE(e.Assigned());
  e(&root);
  ASSERT_EQ(root.pings.size(), 1u);
  TNotifyEvent again(&root, &TTestRoot::Ping);
  EXPECT_TRUE(e == again);  // same object and method
  TNotifyEvent lambda([](TObject*) {});
  EXPECT_FALSE(e == lambda);
  TNotifyEvent none;
  none(&root);  // an unassigned event does nothing
  EXPECT_TRUE(none == nullptr);

  EXPECT_TRUE(root.MethodByName<TNotifyEvent>(L"PING").Assigned());
  EXPECT_EQ(root.MethodByName<TNotifyEvent>(L"PING").MethodName(), L"Ping");
  // Another signature under that name is not handed out as a notify event.
  EXPECT_FALSE(root.MethodByName<TNotifyEvent>(L"Other").Assigned());
  EXPECT_FALSE(root.MethodByName<TNotifyEvent>(L"Missing").Assigned());
}

TEST(ClassInfo, PropertiesInDeclarationOrderWithDefaultsAndTextAccess) {
  const auto& props = TTestRoot::StaticClass().Properties();
  std::vector<WideString> names;
  for (const auto& p : props) names.push_back(p->Name);
  std::vector<WideString> expected = {L"Name",  L"Tag",   L"Count", L"Flag",  L"Mode",  L"Modes", L"Skin",
                                      L"Movie", L"Shade", L"Items", L"Buddy", L"OnPing"};
  EXPECT_EQ(names, expected);
  EXPECT_TRUE(TTestRoot::StaticClass().InheritsFrom(TComponent::StaticClass()));

  TTestRoot root(nullptr);
  auto stored = [&](const wchar_t* n) { return GetPropInfo(root, n)->IsStored(root); };
  EXPECT_FALSE(stored(L"Count"));  // equal to its default
  EXPECT_TRUE(stored(L"Skin"));    // nodefault: always
  EXPECT_FALSE(stored(L"Movie"));  // empty text
  root.SetCount(8);
  root.SetMovie(L"intro.swf");
  EXPECT_TRUE(stored(L"Count"));
  EXPECT_TRUE(stored(L"Movie"));

  SetPropText(root, L"Mode", L"tmGamma");
  SetPropText(root, L"Modes", L"[tmAlpha, tmGamma]");
  SetPropText(root, L"Flag", L"False");
  SetPropText(root, L"OnPing", L"Ping");
  EXPECT_EQ(root.Mode(), tmGamma);
  EXPECT_EQ(GetPropText(root, L"Modes"), L"[tmAlpha,tmGamma]");
  EXPECT_EQ(GetPropText(root, L"Flag"), L"False");
  EXPECT_EQ(GetPropText(root, L"OnPing"), L"Ping");
  EXPECT_THROW(SetPropText(root, L"Mode", L"tmDelta"), EConvertError);
  EXPECT_THROW(SetPropText(root, L"OnPing", L"Other"), EPropertyError);  // wrong signature
  EXPECT_THROW(GetPropText(root, L"NoSuch"), EPropertyError);
}
