#include "test_components.h"

const TEnumInfo& TestModeInfo() {
  static const TEnumInfo info{L"TTestMode", {L"tmAlpha", L"tmBeta", L"tmGamma"}, 0};
  return info;
}

int TTestItem::Live = 0;
int TTestComponent::Live = 0;
std::vector<WideString> TTestComponent::LoadedLog;

const TClassInfo& TTestItem::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TTestItem>(L"TTestItem").WideStr(L"Title", &TTestItem::Title, &TTestItem::SetTitle).NoDefault();
  return info;
}

TTestItem::TTestItem(TCollection* c) : TCollectionItem(c) { ++Live; }
TTestItem::~TTestItem() { --Live; }

void TTestItem::DefineProperties(TFiler& Filer) {
  Filer.DefineBinaryProperty(
      L"Payload",
      [this](TStream& s) {
        std::uint32_t n = s.ReadUInt32();
        if (n > s.Remaining()) throw EReadError(L"payload longer than its frame");
        std::string data(n, '\0');
        s.ReadBuffer(data.data(), n);
        Data = std::move(data);
      },
      [this](TStream& s) {
        s.WriteUInt32(static_cast<std::uint32_t>(Data.size()));
        s.WriteBuffer(Data.data(), static_cast<std::int64_t>(Data.size()));
      },
      !Data.empty());
}

const TClassInfo& TTestComponent::StaticClass() {
  using T = TTestComponent;
  static const TClassInfo info = TClassBuilder<T>(L"TTestComponent")
                                     .Integer(L"Count", &T::Count, &T::SetCount)
                                     .Default(7)
                                     .Bool(L"Flag", &T::Flag, &T::SetFlag)
                                     .Default(true)
                                     .Enum(L"Mode", TestModeInfo(), &T::Mode, &T::SetMode)
                                     .Default(tmAlpha)
                                     .Set(L"Modes", TestModeInfo(), &T::Modes, &T::SetModes)
                                     .Default(TTestModes{})
                                     .String(L"Skin", &T::Skin, &T::SetSkin)
                                     .NoDefault()
                                     .WideStr(L"Movie", &T::Movie, &T::SetMovie)
                                     .Color(L"Shade", &T::Shade, &T::SetShade)
                                     .Default(0)
                                     .Collection(L"Items", &T::Items)
                                     .Component(L"Buddy", &T::Buddy, &T::SetBuddy)
                                     .Event(L"OnPing", &T::OnPing);
  return info;
}

TTestComponent::TTestComponent(TComponent* AOwner)
    : TComponent(AOwner), items_(new TCollection(TTestItem::StaticClass(), this)) {
  ++Live;
}

TTestComponent::~TTestComponent() {
  delete items_;
  --Live;
}

void TTestComponent::SetCount(int v) {
  count_ = v;
  if (ComponentState().Contains(csReading)) sawReadingInSetter = true;
}

void TTestComponent::SetBuddy(TTestComponent* v) {
  if (buddy_) buddy_->RemoveFreeNotification(this);
  buddy_ = v;
  if (v) v->FreeNotification(this);
}

void TTestComponent::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == buddy_) buddy_ = nullptr;
}

void TTestComponent::Loaded() {
  sawLoadingInLoaded = ComponentState().Contains(csLoading);
  buddyKnownInLoaded = buddy_ != nullptr;
  LoadedLog.push_back(Name());
  TComponent::Loaded();
}

const TClassInfo& TTestRoot::StaticClass() {
  static const TClassInfo info = TClassBuilder<TTestRoot>(L"TTestRoot");
  return info;
}

TTestRoot::TTestRoot(TComponent* AOwner) : TTestComponent(AOwner) {
  RegisterMethod(L"Ping", this, &TTestRoot::Ping);
  RegisterMethod(L"Other", this, &TTestRoot::Other);
}

void RegisterTestClasses() { RegisterClasses<TTestComponent, TTestRoot>(); }
