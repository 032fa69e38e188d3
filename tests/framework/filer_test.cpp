// Form streaming: round trips, rejection of damaged data, reading order.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "framework/filer.h"
#include "test_components.h"

namespace {

// Builds stored-form bytes by hand, for data a writer would never produce.
struct Raw {
  std::string b;
  Raw& Sig() {
    b += "KVFM";
    b += '\x01';
    return *this;
  }
  Raw& U8(int v) {
    b += static_cast<char>(v);
    return *this;
  }
  Raw& U16(unsigned v) {
    U8(v & 0xFF);
    return U8(v >> 8);
  }
  Raw& U32(std::uint32_t v) {
    U16(v & 0xFFFF);
    return U16(v >> 16);
  }
  Raw& Name(const std::string& s) {
    U16(static_cast<unsigned>(s.size()));
    b += s;
    return *this;
  }
  Raw& End() { return U16(0); }
  std::unique_ptr<TMemoryStream> Stream() const {
    auto s = std::make_unique<TMemoryStream>();
    s->WriteBuffer(b.data(), static_cast<std::int64_t>(b.size()));
    s->SetPosition(0);
    return s;
  }
};

class FilerTest : public ::testing::Test {
protected:
  void SetUp() override {
    RegisterTestClasses();
    TTestComponent::LoadedLog.clear();
    liveComponents = TTestComponent::Live;
    liveItems = TTestItem::Live;
  }
  void TearDown() override {
    EXPECT_EQ(TTestComponent::Live, liveComponents) << "components leaked or freed twice";
    EXPECT_EQ(TTestItem::Live, liveItems) << "items leaked or freed twice";
  }

  // Form1 (root) owns Player1 and Store; Player1 refers forward to Store,
  // Store back to Player1.
  static TTestRoot* MakeForm() {
    auto* root = new TTestRoot(nullptr);
    root->SetName(L"Form1");
    root->SetCount(3);
    root->SetSkin("SteelOverAll");
    auto* player = new TTestComponent(root);
    player->SetName(L"Player1");
    player->SetFlag(false);
    player->SetMode(tmBeta);
    player->SetModes({tmAlpha, tmGamma});
    player->SetShade(static_cast<std::int32_t>(0x80000005u));
    player->SetMovie(L"\u3042 intro.swf");
    player->OnPing = root->MethodByName<TNotifyEvent>(L"Ping");
    auto* item = static_cast<TTestItem*>(player->Items()->Add());
    item->SetTitle(L"Intro.swf");
    item->Data = std::string("FWS\0\x01\x02", 6);
    static_cast<TTestItem*>(player->Items()->Add())->SetTitle(L"(empty)");
    auto* store = new TTestComponent(root);
    store->SetName(L"Store");
    player->SetBuddy(store);
    store->SetBuddy(player);
    return root;
  }

  static std::unique_ptr<TMemoryStream> Save(TComponent* root) {
    auto s = std::make_unique<TMemoryStream>();
    WriteComponent(*s, root);
    s->SetPosition(0);
    return s;
  }

  int liveComponents = 0;
  int liveItems = 0;
};

TEST_F(FilerTest, RoundTripRestoresTreeValuesCollectionBinaryAndEvents) {
  TTestRoot* source = MakeForm();
  auto data = Save(source);
  Free(source);

  auto* root = dynamic_cast<TTestRoot*>(ReadComponent(*data));
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(data->Position(), data->Size());
  EXPECT_EQ(root->Name(), L"Form1");
  EXPECT_EQ(root->Count(), 3);
  EXPECT_EQ(root->Skin(), "SteelOverAll");
  ASSERT_EQ(root->ComponentCount(), 2);
  auto* player = dynamic_cast<TTestComponent*>(root->FindComponent(L"Player1"));
  auto* store = dynamic_cast<TTestComponent*>(root->FindComponent(L"Store"));
  ASSERT_TRUE(player && store);
  EXPECT_FALSE(player->Flag());
  EXPECT_EQ(player->Mode(), tmBeta);
  EXPECT_EQ(player->Modes(), (TTestModes{tmAlpha, tmGamma}));
  EXPECT_EQ(player->Shade(), static_cast<std::int32_t>(0x80000005u));
  EXPECT_EQ(player->Movie(), L"\u3042 intro.swf");
  EXPECT_EQ(player->Buddy(), store);
  EXPECT_EQ(store->Buddy(), player);
  ASSERT_EQ(player->Items()->Count(), 2);
  auto* item = static_cast<TTestItem*>(player->Items()->Items(0));
  EXPECT_EQ(item->Title(), L"Intro.swf");
  EXPECT_EQ(item->Data, std::string("FWS\0\x01\x02", 6));
  EXPECT_TRUE(static_cast<TTestItem*>(player->Items()->Items(1))->Data.empty());

  ASSERT_TRUE(player->OnPing.Assigned());
  EXPECT_EQ(player->OnPing.MethodName(), L"Ping");
  player->OnPing(player);
  ASSERT_EQ(root->pings.size(), 1u);  // bound to the new root's handler
  EXPECT_EQ(root->pings[0], player);

  // Loaded ran once per component, the root first, after everything was read.
  EXPECT_EQ(TTestComponent::LoadedLog, (std::vector<WideString>{L"Form1", L"Player1", L"Store"}));
  EXPECT_TRUE(player->sawLoadingInLoaded);
  EXPECT_TRUE(player->buddyKnownInLoaded);  // a forward reference, resolved before Loaded
  EXPECT_TRUE(root->sawReadingInSetter);
  EXPECT_FALSE(root->ComponentState().Contains(csLoading));
  EXPECT_FALSE(player->ComponentState().Contains(csReading));
  Free(root);
}

TEST_F(FilerTest, ValuesEqualToDefaultsAreNotStoredButNodefaultAlwaysIs) {
  TTestRoot source(nullptr);
  source.SetFlag(false);  // stored; Count stays 7, its default; Skin is empty but nodefault
  auto data = Save(&source);

  TTestRoot target(nullptr);
  target.SetCount(99);
  target.SetSkin("Steel");
  target.SetMovie(L"keep.swf");
  ReadComponent(*data, &target);
  EXPECT_EQ(target.Count(), 99);     // not in the data
  EXPECT_EQ(target.Movie(), L"keep.swf");
  EXPECT_FALSE(target.Flag());       // in the data
  EXPECT_EQ(target.Skin(), "");      // always stored, even empty
}

TEST_F(FilerTest, ReadingIntoARootReusesItsComponentsAndChecksItsClass) {
  TTestRoot* source = MakeForm();
  auto data = Save(source);
  Free(source);

  TTestRoot root(nullptr);
  auto* existing = new TTestComponent(&root);
  existing->SetName(L"Player1");
  ReadComponent(*data, &root);
  EXPECT_EQ(root.ComponentCount(), 2);
  EXPECT_EQ(root.FindComponent(L"Player1"), existing);
  EXPECT_EQ(existing->Mode(), tmBeta);

  data->SetPosition(0);
  TTestComponent notARoot(nullptr);
  try {
    ReadComponent(*data, &notARoot);
    FAIL() << "read a TTestRoot into a TTestComponent";
  } catch (const EReadError& e) {
    EXPECT_NE(e.Message().find(L"TTestRoot"), WideString::npos);
  }
}

TEST_F(FilerTest, EveryTruncationIsRejectedAndLeavesNothingBehind) {
  TTestRoot* source = MakeForm();
  auto full = Save(source);
  Free(source);
  const auto* bytes = static_cast<const std::uint8_t*>(full->Memory());
  for (std::int64_t len = 0; len < full->Size(); ++len) {
    TMemoryStream cut;
    cut.WriteBuffer(bytes, len);
    cut.SetPosition(0);
    EXPECT_THROW(ReadComponent(cut), EReadError) << "prefix of " << len << " bytes";
    ASSERT_EQ(TTestComponent::Live, liveComponents) << "prefix of " << len << " bytes";
    ASSERT_EQ(TTestItem::Live, liveItems) << "prefix of " << len << " bytes";
  }
}

TEST_F(FilerTest, OversizedLengthsAndUnknownTypesAreRejected) {
  auto expectReadError = [](const Raw& raw, const wchar_t* fragment) {
    auto s = raw.Stream();
    try {
      ReadComponent(*s);
      ADD_FAILURE() << "accepted bad data";
    } catch (const EReadError& e) {
      EXPECT_NE(e.Message().find(fragment), WideString::npos) << WideToUtf8(e.Message());
    }
  };
  // Lengths far beyond the data: rejected before anything is allocated.
  expectReadError(Raw().Sig().Name("TTestRoot").Name("R").Name("Movie").U8(6).U32(0x7FFFFFFF).U8('a').U8(0),
                  L"wide string needs");
  expectReadError(Raw().Sig().Name("TTestRoot").Name("R").Name("Skin").U8(5).U32(0xFFFFFFF0), L"string needs");
  expectReadError(Raw().Sig().Name("TTestRoot").Name("R").U16(0xFFFF), L"at most 1024");
  // Unknown value type, bad signature, other version, unknown property, wrong value type.
  expectReadError(Raw().Sig().Name("TTestRoot").Name("R").Name("Count").U8(0x7F), L"unknown value type 127");
  expectReadError(Raw().U8('X').U8('V').U8('F').U8('M').U8(1), L"signature");
  expectReadError(Raw().U8('K').U8('V').U8('F').U8('M').U8(9), L"version 9");
  expectReadError(Raw().Sig().Name("TTestRoot").Name("R").Name("Nope").U8(1).End().End(), L"R.Nope");
  expectReadError(Raw().Sig().Name("TTestRoot").Name("R").Name("Count").U8(1).End().End(), L"does not fit");
  expectReadError(Raw().Sig().Name("TTestRoot").Name("R").Name("Mode").U8(4).Name("tmDelta").End().End(),
                  L"invalid value tmDelta");
  // Nesting without end is cut off at a fixed depth.
  Raw deep;
  deep.Sig().Name("TTestRoot").Name("R");
  for (int i = 0; i < 200; ++i) deep.Name("Items").U8(10).U8(1);
  expectReadError(deep, L"nesting");

  // An unknown class is its own error.
  Raw unknownClass = Raw().Sig().Name("TTestRoot").Name("R").End().Name("TNoSuchClass").Name("X").End().End().End();
  auto s = unknownClass.Stream();
  EXPECT_THROW(ReadComponent(*s), EClassNotFound);
}

TEST_F(FilerTest, FailuresAfterCreationFreeEverythingTheReadMade) {
  // Store's item holds a payload whose inner size exceeds its frame: the
  // item's reader fails after Player1 and its items were created.
  TTestRoot* source = MakeForm();
  auto* item = static_cast<TTestItem*>(static_cast<TTestComponent*>(source->FindComponent(L"Store"))->Items()->Add());
  item->Data = "xyz";
  auto data = Save(source);
  Free(source);
  auto* bytes = static_cast<std::uint8_t*>(data->Memory());
  // The last payload: its 4-byte inner size follows "Payload", type 9 and the frame size.
  std::string all(reinterpret_cast<char*>(bytes), static_cast<std::size_t>(data->Size()));
  std::size_t at = all.rfind("Payload");
  ASSERT_NE(at, std::string::npos);
  std::size_t inner = at + 7 + 1 + 4;
  ASSERT_EQ(bytes[inner], 3);
  bytes[inner] = 200;

  TTestRoot root(nullptr);
  root.SetName(L"Form1");
  try {
    ReadComponent(*data, &root);
    FAIL() << "read a damaged payload";
  } catch (const EReadError& e) {
    EXPECT_NE(e.Message().find(L"Store.Items[0].Payload"), WideString::npos) << WideToUtf8(e.Message());
  }
  EXPECT_EQ(root.ComponentCount(), 0);
  EXPECT_FALSE(root.ComponentState().Contains(csLoading));
  EXPECT_TRUE(TTestComponent::LoadedLog.empty());  // no Loaded for a failed read
}

TEST_F(FilerTest, UnknownMethodsAndReferencesAreReadErrors) {
  auto readModified = [&](auto modify, const wchar_t* fragment) {
    TTestRoot* source = MakeForm();
    modify(source);
    auto data = Save(source);
    Free(source);
    // The reading root knows only "Ping" and "Other".
    try {
      ReadComponent(*data);
      ADD_FAILURE() << "accepted " << WideToUtf8(fragment);
    } catch (const EReadError& e) {
      EXPECT_NE(e.Message().find(fragment), WideString::npos) << WideToUtf8(e.Message());
    }
  };
  readModified(
      [](TTestRoot* r) {
        auto* p = static_cast<TTestComponent*>(r->FindComponent(L"Player1"));
        p->OnPing = TNotifyEvent(r, &TTestRoot::Ping, L"Vanished");
      },
      L"method Vanished not found");
  readModified(
      [](TTestRoot* r) {
        auto* p = static_cast<TTestComponent*>(r->FindComponent(L"Player1"));
        p->OnPing = TNotifyEvent(r, &TTestRoot::Ping, L"Other");  // a handler of another type
      },
      L"does not match");
}

TEST_F(FilerTest, ReferencesOutsideTheFormAreLeftOutUnresolvableOnesFail) {
  TTestComponent outsider(nullptr);
  outsider.SetName(L"Outsider");
  TTestRoot* source = MakeForm();
  static_cast<TTestComponent*>(source->FindComponent(L"Store"))->SetBuddy(&outsider);
  auto data = Save(source);
  Free(source);
  auto* root = ReadComponent(*data);
  EXPECT_EQ(static_cast<TTestComponent*>(root->FindComponent(L"Store"))->Buddy(), nullptr);
  Free(root);

  Raw ghost = Raw().Sig().Name("TTestRoot").Name("R").Name("Buddy").U8(4).Name("Ghost").End().End();
  auto s = ghost.Stream();
  try {
    ReadComponent(*s);
    FAIL();
  } catch (const EReadError& e) {
    EXPECT_NE(e.Message().find(L"no component named Ghost"), WideString::npos);
  }
}

}  // namespace
