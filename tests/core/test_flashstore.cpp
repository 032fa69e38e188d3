// The movie store: registry by name, the stored record, and a store written
// and read back.
#include "kv_flashstore.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

void Fill(TkvFlashStream* item, const std::string& bytes)
{
    item->DataStream()->SetSize(0);
    item->DataStream()->WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

std::string Bytes(TkvFlashStream* item)
{
    std::string s(static_cast<size_t>(item->DataStream()->Size()), '\0');
    std::memcpy(s.data(), item->DataStream()->Memory(), s.size());
    return s;
}

// A "FlashStream" record as raw bytes.
class Record {
public:
    Record& U8(std::uint8_t v) { return Raw(&v, 1); }
    Record& U32(std::uint32_t v)
    {
        std::uint8_t b[4] = {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
        return Raw(b, 4);
    }
    Record& Text(const std::string& s) { return Raw(s.data(), s.size()); }
    Record& Utf16(const std::u16string& s)
    {
        for (char16_t c : s) {
            std::uint8_t b[2] = {std::uint8_t(c), std::uint8_t(c >> 8)};
            Raw(b, 2);
        }
        return *this;
    }
    Record& Raw(const void* p, size_t n)
    {
        stream.WriteBuffer(p, static_cast<std::int64_t>(n));
        return *this;
    }
    TMemoryStream& Rewound()
    {
        stream.SetPosition(0);
        return stream;
    }
    TMemoryStream stream;
};

TEST(MovieStore, ItemsAreRegisteredByNameAndTheRegistryLivesWithThem)
{
    ASSERT_EQ(FlashList, nullptr) << "no items yet, no registry";
    {
        TkvFlashList store(nullptr);
        TkvFlashStream* item = store.Flashs()->Add();
        ASSERT_NE(FlashList, nullptr);
        EXPECT_EQ(item->GetFlashStore(), L"(empty)");
        EXPECT_EQ(item->GetDisplayName(), L"(empty)");
        EXPECT_EQ(FlashList->Strings(FlashList->IndexOfObject(item)), L"(empty)");

        item->SetFlashStore(L"Intro.swf");
        EXPECT_EQ(item->GetFlashStore(), L"(empty)") << "no data yet";
        Fill(item, "FWS...");
        EXPECT_EQ(item->GetFlashStore(), L"Intro.swf");
        EXPECT_EQ(FindStoredFile(L"intro.swf"), item);
        EXPECT_EQ(store.FindFlash(L"INTRO.SWF"), item);
        EXPECT_EQ(store.FindFlash(L"other.swf"), nullptr);

        TkvFlashStream* empty = store.Flashs()->Add();
        EXPECT_EQ(store.FindFlash(L"(empty)"), empty) << "an empty item matches \"(empty)\"";
        EXPECT_EQ(FlashList->Count(), 2);
    }
    EXPECT_EQ(FlashList, nullptr) << "freed with the last item";
    TkvFlashList again(nullptr);
    again.Flashs()->Add();
    EXPECT_NE(FlashList, nullptr) << "built again by the next item";
}

TEST(MovieStore, TheFirstRegisteredOfTwoEqualNamesWins)
{
    TkvFlashList first(nullptr), second(nullptr);
    TkvFlashStream* a = first.Flashs()->Add();
    TkvFlashStream* b = second.Flashs()->Add();
    a->SetFlashStore(L"Logo.png");
    b->SetFlashStore(L"Logo.png");
    EXPECT_EQ(FindStoredFile(L"logo.png"), a);
    first.Flashs()->Clear();
    EXPECT_EQ(FindStoredFile(L"logo.png"), b);
}

TEST(MovieStore, RecordsOfBothNameKindsAreRead)
{
    TkvFlashList store(nullptr);
    TkvFlashStream* item = store.Flashs()->Add();

    Record wide;
    wide.U8(4).U32(5).Utf16(u"a\u00e9.sw").U32(3).Text("xyz");
    item->ReadData(wide.Rewound());
    EXPECT_EQ(item->Name(), L"a\u00e9.sw");
    EXPECT_EQ(Bytes(item), "xyz");

    Record ansi;
    ansi.U8(2).U32(6).Text("old.swf").U32(2).Text("ab");  // name length 6: "old.sw"
    TMemoryStream& s = ansi.Rewound();
    // Only 6 name bytes are taken, then the size is read from "f" + "\2\0\0"...
    // which claims more than follows: a damaged record.
    EXPECT_THROW(item->ReadData(s), EReadError);

    Record ansi2;
    ansi2.U8(2).U32(7).Text("old.swf").U32(2).Text("ab");
    item->ReadData(ansi2.Rewound());
    EXPECT_EQ(item->Name(), L"old.swf");
    EXPECT_EQ(Bytes(item), "ab");
}

TEST(MovieStore, DamagedOrUnknownRecordsLeaveTheItemAsItWas)
{
    TkvFlashList store(nullptr);
    TkvFlashStream* item = store.Flashs()->Add();
    item->SetFlashStore(L"keep.swf");
    Fill(item, "kept");

    struct Case {
        const char* what;
        Record record;
    };
    Case damaged[4];
    damaged[0].what = "name longer than the record";
    damaged[0].record.U8(4).U32(1000).Utf16(u"ab");
    damaged[1].what = "data size beyond the record";
    damaged[1].record.U8(4).U32(1).Utf16(u"n").U32(0x7FFFFFFF).Text("abc");
    damaged[2].what = "huge name count that would overflow 32 bits when doubled";
    damaged[2].record.U8(4).U32(0x80000001u).Utf16(u"ab");
    damaged[3].what = "record ends inside the data size";
    damaged[3].record.U8(4).U32(1).Utf16(u"n").U8(1);
    for (Case& c : damaged) {
        EXPECT_THROW(item->ReadData(c.record.Rewound()), EReadError) << c.what;
        EXPECT_EQ(item->GetFlashStore(), L"keep.swf") << c.what;
        EXPECT_EQ(Bytes(item), "kept") << c.what;
    }

    Record unknown;
    unknown.U8(7).U32(1).Text("zzzz");
    item->ReadData(unknown.Rewound());
    Record none;
    none.U8(0);
    item->ReadData(none.Rewound());
    EXPECT_EQ(item->GetFlashStore(), L"keep.swf");
    EXPECT_EQ(Bytes(item), "kept");
}

TEST(MovieStore, WritesDataWithAWideNameAndNothingForAnEmptyItem)
{
    TkvFlashList store(nullptr);
    TkvFlashStream* item = store.Flashs()->Add();
    item->SetFlashStore(L"nameonly.swf");
    TMemoryStream empty;
    item->WriteData(empty);
    ASSERT_EQ(empty.Size(), 1);
    EXPECT_EQ(static_cast<std::uint8_t*>(empty.Memory())[0], 0);

    item->SetFlashStore(L"Ab");
    Fill(item, "DATA");
    TMemoryStream out;
    item->WriteData(out);
    const std::uint8_t expected[] = {4, 2, 0, 0, 0, 'A', 0, 'b', 0, 4, 0, 0, 0, 'D', 'A', 'T', 'A'};
    ASSERT_EQ(out.Size(), static_cast<std::int64_t>(sizeof expected));
    EXPECT_EQ(std::memcmp(out.Memory(), expected, sizeof expected), 0);
}

TEST(MovieStore, AStoreWrittenAndReadBackKeepsNamesAndBytesExactly)
{
    RegisterClass(TkvFlashList::StaticClass());
    std::string binary(70000, '\0');
    for (size_t i = 0; i < binary.size(); ++i)
        binary[i] = static_cast<char>((i * 131) ^ (i >> 8));
    TMemoryStream form;
    {
        TkvFlashList store(nullptr);
        store.SetName(L"Store");
        TkvFlashStream* a = store.Flashs()->Add();
        a->SetFlashStore(L"movie.swf");
        Fill(a, binary);
        TkvFlashStream* b = store.Flashs()->Add();
        b->SetFlashStore(L"lost-name.xml");  // no data: written as "(empty)", the name does not survive
        TkvFlashStream* c = store.Flashs()->Add();
        c->SetFlashStore(L"\u65e5\u672c.txt");
        Fill(c, "text");
        WriteComponent(form, &store);
    }
    EXPECT_EQ(FlashList, nullptr);
    form.SetPosition(0);
    TkvFlashList store(nullptr);
    ReadComponent(form, &store);
    ASSERT_EQ(store.Flashs()->Count(), 3);
    EXPECT_EQ(store.Flashs()->GetItem(0)->GetFlashStore(), L"movie.swf");
    EXPECT_EQ(Bytes(store.Flashs()->GetItem(0)), binary);
    EXPECT_EQ(store.Flashs()->GetItem(1)->GetFlashStore(), L"(empty)");
    EXPECT_EQ(store.Flashs()->GetItem(1)->Name(), L"(empty)");
    EXPECT_EQ(store.Flashs()->GetItem(2)->GetFlashStore(), L"\u65e5\u672c.txt");
    EXPECT_EQ(FindStoredFile(L"MOVIE.SWF"), store.Flashs()->GetItem(0)) << "registered under the name read";
    EXPECT_EQ(FlashList->Count(), 3);
}

TEST(MovieStore, AssigningCopiesTheNameAndBytesAndOtherClassesAreRefused)
{
    TkvFlashList store(nullptr);
    TkvFlashStream* a = store.Flashs()->Add();
    a->SetFlashStore(L"a.swf");
    Fill(a, "AAAA");
    TkvFlashStream* b = store.Flashs()->Add();
    store.Flashs()->SetItem(1, a);
    EXPECT_EQ(b->GetFlashStore(), L"a.swf");
    EXPECT_EQ(Bytes(b), "AAAA");
    Fill(a, "changed");
    EXPECT_EQ(Bytes(b), "AAAA") << "a copy, not shared";

    TkvFlashList other(nullptr);
    other.SetFlashs(store.Flashs());
    ASSERT_EQ(other.Flashs()->Count(), 2);
    EXPECT_NE(other.Flashs()->GetItem(0), a) << "the store keeps its own items";
    EXPECT_EQ(Bytes(other.Flashs()->GetItem(0)), "changed");

    TStringList notAnItem;
    EXPECT_THROW(b->Assign(&notAnItem), EConvertError);
}

}  // namespace
