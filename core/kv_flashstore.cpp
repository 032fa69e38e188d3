#include "kv_flashstore.h"

#include <limits>
#include <vector>

TStringList* FlashList = nullptr;

namespace {

constexpr std::uint8_t kKindNone = 0;
constexpr std::uint8_t kKindAnsiName = 2;
constexpr std::uint8_t kKindWideName = 4;
const wchar_t kEmptyName[] = L"(empty)";

// Reads a 32-bit length and checks that the record still holds `unit` bytes
// for each counted element: a damaged record must not make us allocate or
// read beyond what is there.
std::uint32_t ReadCount(TStream& s, std::uint32_t unit, const wchar_t* what)
{
    const std::uint32_t n = s.ReadUInt32();
    if (static_cast<std::uint64_t>(n) * unit > static_cast<std::uint64_t>(s.Remaining()))
        throw EReadError(WideString(L"FlashStream record is truncated: ") + what + L" of " + IntToStr(n) +
                         (unit == 1 ? L" bytes" : L" characters") + L" but only " + IntToStr(s.Remaining()) +
                         L" bytes follow");
    return n;
}

}  // namespace

// ---------------------------------------------------------------------------
// TkvFlashStream
// ---------------------------------------------------------------------------

const TClassInfo& TkvFlashStream::StaticClass()
{
    static const TClassInfo info = TClassBuilder<TkvFlashStream>(L"TkvFlashStream")
                                       .WideStr(L"FlashStore", &TkvFlashStream::GetFlashStore,
                                                &TkvFlashStream::SetFlashStore)
                                       .NoDefault()
                                       .Build();
    return info;
}

TkvFlashStream::TkvFlashStream(TCollection* Collection)
    : TCollectionItem(Collection), data_(new TMemoryStream), name_(kEmptyName)
{
    if (!FlashList) {
        FlashList = new TStringList;
        FlashList->SetCaseSensitive(false);
    }
    FlashList->AddObject(GetFlashStore(), this);
}

TkvFlashStream::~TkvFlashStream()
{
    if (FlashList) {
        const int i = FlashList->IndexOfObject(this);
        if (i >= 0)
            FlashList->Delete(i);
        if (FlashList->Count() == 0) {
            delete FlashList;
            FlashList = nullptr;
        }
    }
    delete data_;
}

WideString TkvFlashStream::GetFlashStore() const
{
    return data_->Size() > 0 ? name_ : WideString(kEmptyName);
}

void TkvFlashStream::SetFlashStore(const WideString& Value)
{
    if (Value == name_)
        return;
    const int i = FlashList ? FlashList->IndexOfObject(this) : -1;
    name_ = Value;
    if (i >= 0)
        FlashList->Put(i, Value);
}

void TkvFlashStream::Assign(TPersistent* Source)
{
    if (auto* other = dynamic_cast<TkvFlashStream*>(Source)) {
        if (other == this)
            return;
        TMemoryStream copy;
        copy.LoadFromStream(*other->data_);
        data_->LoadFromStream(copy);
        SetFlashStore(other->name_);
        return;
    }
    TCollectionItem::Assign(Source);
}

void TkvFlashStream::DefineProperties(TFiler& Filer)
{
    TCollectionItem::DefineProperties(Filer);
    Filer.DefineBinaryProperty(
        L"FlashStream", [this](TStream& s) { ReadData(s); }, [this](TStream& s) { WriteData(s); }, true);
}

void TkvFlashStream::ReadData(TStream& Stream)
{
    const std::uint8_t kind = Stream.ReadUInt8();
    WideString name;
    if (kind == kKindAnsiName) {
        const std::uint32_t n = ReadCount(Stream, 1, L"a name");
        AnsiString text(n, '\0');
        Stream.ReadBuffer(text.data(), n);
        name = AnsiToWide(text);
    } else if (kind == kKindWideName) {
        const std::uint32_t n = ReadCount(Stream, 2, L"a name");
        std::u16string text(n, u'\0');
        for (std::uint32_t i = 0; i < n; ++i)
            text[i] = static_cast<char16_t>(Stream.ReadUInt16());
        name = Utf16ToWide(text);
    } else {
        return;  // no data, or a kind this version does not know: the item keeps what it has
    }
    const std::uint32_t size = ReadCount(Stream, 1, L"data");
    std::vector<std::uint8_t> bytes(size);
    if (size)
        Stream.ReadBuffer(bytes.data(), size);
    // Only a complete record changes the item.
    name_ = name;
    data_->SetSize(0);
    if (size)
        data_->WriteBuffer(bytes.data(), size);
    data_->SetPosition(0);
}

void TkvFlashStream::WriteData(TStream& Stream)
{
    const std::int64_t size = data_->Size();
    if (size <= 0) {
        Stream.WriteUInt8(kKindNone);
        return;
    }
    // The record counts the data in 32 bits; a larger file could not be read back.
    if (size > std::numeric_limits<std::uint32_t>::max())
        throw EWriteError(L"Stored file \"" + name_ + L"\" is too large to be kept in a form (4 GB at most)");
    const std::u16string name = WideToUtf16(name_);
    Stream.WriteUInt8(kKindWideName);
    Stream.WriteUInt32(static_cast<std::uint32_t>(name.size()));
    for (char16_t c : name)
        Stream.WriteUInt16(static_cast<std::uint16_t>(c));
    Stream.WriteUInt32(static_cast<std::uint32_t>(size));
    Stream.WriteBuffer(data_->Memory(), size);
}

// ---------------------------------------------------------------------------
// TkvFlashCollection and TkvFlashList
// ---------------------------------------------------------------------------

const TClassInfo& TkvFlashCollection::StaticClass()
{
    static const TClassInfo info = TClassBuilder<TkvFlashCollection>(L"TkvFlashCollection").Build();
    return info;
}

TkvFlashCollection::TkvFlashCollection(TkvFlashList* Owner) : TCollection(TkvFlashStream::StaticClass(), Owner) {}

const TClassInfo& TkvFlashList::StaticClass()
{
    static const TClassInfo info =
        TClassBuilder<TkvFlashList>(L"TkvFlashList").Collection(L"Flashs", &TkvFlashList::Flashs).Build();
    return info;
}

TkvFlashList::TkvFlashList(TComponent* AOwner) : TComponent(AOwner), flashs_(new TkvFlashCollection(this)) {}

TkvFlashList::~TkvFlashList()
{
    delete flashs_;
}

void TkvFlashList::SetFlashs(TkvFlashCollection* Value)
{
    if (Value != flashs_)
        flashs_->Assign(Value);
}

TkvFlashStream* TkvFlashList::FindFlash(const WideString& Name) const
{
    for (int i = 0; i < flashs_->Count(); ++i) {
        TkvFlashStream* item = flashs_->GetItem(i);
        if (SameText(item->GetFlashStore(), Name))
            return item;
    }
    return nullptr;
}

TkvFlashStream* FindStoredFile(const WideString& Name)
{
    if (!FlashList)
        return nullptr;
    const int i = FlashList->IndexOf(Name);
    return i >= 0 ? dynamic_cast<TkvFlashStream*>(FlashList->Objects(i)) : nullptr;
}
