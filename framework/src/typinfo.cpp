#include "framework/typinfo.h"

#include "framework/classes.h"

const WideString* TEnumInfo::NameOf(std::int64_t value) const {
  std::int64_t i = value - MinValue;
  if (i < 0 || i >= static_cast<std::int64_t>(Values.size())) return nullptr;
  return &Values[static_cast<std::size_t>(i)];
}

std::optional<std::int64_t> TEnumInfo::ValueOf(std::wstring_view name) const {
  for (std::size_t i = 0; i < Values.size(); ++i)
    if (SameText(Values[i], name)) return MinValue + static_cast<std::int64_t>(i);
  return std::nullopt;
}

bool TPropInfo::IsOrdinal() const {
  switch (Kind) {
    case TPropKind::Integer:
    case TPropKind::Boolean:
    case TPropKind::Enum:
    case TPropKind::Set:
    case TPropKind::Color:
      return true;
    default:
      return false;
  }
}

bool TPropInfo::IsStored(TObject& obj) const {
  switch (Stored) {
    case TStoredRule::Always:
      return true;
    case TStoredRule::Never:
      return false;
    case TStoredRule::Custom:
      if (StoredFn && !StoredFn(obj)) return false;
      if (IsOrdinal() && !OrdDefault) return true;
      if (IsText() && !TextDefault) return true;
      break;
    case TStoredRule::Default:
      break;
  }
  switch (Kind) {
    case TPropKind::Integer:
    case TPropKind::Boolean:
    case TPropKind::Enum:
    case TPropKind::Set:
    case TPropKind::Color:
      return !OrdDefault || GetOrd(obj) != *OrdDefault;
    case TPropKind::String: {
      AnsiString v = GetAnsi(obj);
      return TextDefault ? AnsiToWide(v) != *TextDefault : !v.empty();
    }
    case TPropKind::WideString: {
      WideString v = GetWide(obj);
      return TextDefault ? v != *TextDefault : !v.empty();
    }
    case TPropKind::Component:
      return GetObj(obj) != nullptr;
    case TPropKind::Event:
      return EventAssigned(obj) && !EventName(obj).empty();
    case TPropKind::Persistent:
      return GetObj(obj) != nullptr;
    case TPropKind::Collection: {
      auto* c = dynamic_cast<TCollection*>(GetObj(obj));
      return c && c->Count() > 0;
    }
  }
  return true;
}

bool TClassInfo::InheritsFrom(const TClassInfo& other) const {
  for (const TClassInfo* c = this; c; c = c->parent_)
    if (c == &other) return true;
  return false;
}

const TPropInfo* TClassInfo::FindProperty(std::wstring_view name) const {
  for (const auto& p : props_)
    if (SameText(p->Name, name)) return p.get();
  return nullptr;
}

const TPropInfo* TClassInfo::FindPublishable(std::wstring_view name) const {
  for (const TClassInfo* c = this; c; c = c->parent_) {
    for (const auto& p : c->publishable_)
      if (SameText(p->Name, name)) return p.get();
    // A property published by an ancestor may be republished too (to change its default).
    for (const auto& p : c->props_)
      if (SameText(p->Name, name)) return p.get();
  }
  return nullptr;
}

TComponent* TClassInfo::CreateComponent(TComponent* owner) const {
  if (!newComponent_) throw EInvalidOperation(L"Cannot create an instance of " + name_);
  TComponent* c = newComponent_(owner);
  try {
    c->AfterConstruction();
  } catch (...) {
    Free(c);
    throw;
  }
  return c;
}

TCollectionItem* TClassInfo::CreateItem(TCollection* collection) const {
  if (!newItem_) throw EInvalidOperation(L"Cannot create an item of class " + name_);
  TCollectionItem* item = newItem_(collection);
  try {
    item->AfterConstruction();
  } catch (...) {
    Free(item);
    throw;
  }
  return item;
}

namespace kvdetail {
void ThrowEventMismatch(const WideString& prop, const WideString& method) {
  throw EPropertyError(L"Method " + method + L" does not match the type of event " + prop);
}
void ThrowNoPublishable(const WideString& cls, const WideString& prop) {
  throw EPropertyError(cls + L" publishes " + prop + L", which no ancestor declares");
}
}  // namespace kvdetail

// ---------------------------------------------------------------------------
// Text access
// ---------------------------------------------------------------------------
const TPropInfo* GetPropInfo(const TObject& obj, std::wstring_view name) {
  return obj.ClassType().FindProperty(name);
}

namespace {
const TPropInfo& NeedProp(const TObject& obj, std::wstring_view name) {
  const TPropInfo* p = GetPropInfo(obj, name);
  if (!p) throw EPropertyError(obj.ClassName() + L" has no property " + WideString(name));
  return *p;
}

WideString SetToText(const TEnumInfo* type, std::int64_t bits) {
  WideString out = L"[";
  bool first = true;
  for (int i = 0; i < 32; ++i) {
    if (!(bits & (std::int64_t(1) << i))) continue;
    if (!first) out += L",";
    first = false;
    const WideString* n = type ? type->NameOf(i) : nullptr;
    out += n ? *n : IntToStr(i);
  }
  return out + L"]";
}

std::int64_t TextToSet(const TEnumInfo* type, const WideString& text) {
  WideString t = Trim(text);
  if (t.size() < 2 || t.front() != L'[' || t.back() != L']')
    throw EConvertError(L"'" + text + L"' is not a valid set value");
  std::int64_t bits = 0;
  std::wstring_view body(t.data() + 1, t.size() - 2);
  while (!body.empty()) {
    std::size_t comma = body.find(L',');
    WideString item = Trim(body.substr(0, comma));
    body = comma == std::wstring_view::npos ? std::wstring_view() : body.substr(comma + 1);
    if (item.empty()) continue;
    auto v = type ? type->ValueOf(item) : std::nullopt;
    if (!v || *v < 0 || *v > 31) throw EConvertError(L"'" + item + L"' is not a valid set element");
    bits |= std::int64_t(1) << *v;
  }
  return bits;
}
}  // namespace

WideString GetPropText(TObject& obj, std::wstring_view name) {
  const TPropInfo& p = NeedProp(obj, name);
  switch (p.Kind) {
    case TPropKind::Integer:
    case TPropKind::Color:
      return IntToStr(p.GetOrd(obj));
    case TPropKind::Boolean:
      return p.GetOrd(obj) ? L"True" : L"False";
    case TPropKind::Enum: {
      std::int64_t v = p.GetOrd(obj);
      const WideString* n = p.EnumType ? p.EnumType->NameOf(v) : nullptr;
      return n ? *n : IntToStr(v);
    }
    case TPropKind::Set:
      return SetToText(p.EnumType, p.GetOrd(obj));
    case TPropKind::String:
      return AnsiToWide(p.GetAnsi(obj));
    case TPropKind::WideString:
      return p.GetWide(obj);
    case TPropKind::Component: {
      auto* c = dynamic_cast<TComponent*>(p.GetObj(obj));
      return c ? c->Name() : WideString();
    }
    case TPropKind::Event:
      return p.EventName(obj);
    case TPropKind::Persistent:
    case TPropKind::Collection: {
      TObject* o = p.GetObj(obj);
      return o ? L"(" + o->ClassName() + L")" : WideString();
    }
  }
  return {};
}

void SetPropText(TObject& obj, std::wstring_view name, const WideString& value) {
  const TPropInfo& p = NeedProp(obj, name);
  switch (p.Kind) {
    case TPropKind::Integer:
    case TPropKind::Color:
      p.SetOrd(obj, StrToInt64(value));
      return;
    case TPropKind::Boolean:
      if (SameText(value, L"True"))
        p.SetOrd(obj, 1);
      else if (SameText(value, L"False"))
        p.SetOrd(obj, 0);
      else
        throw EConvertError(L"'" + value + L"' is not a valid boolean value");
      return;
    case TPropKind::Enum: {
      auto v = p.EnumType ? p.EnumType->ValueOf(value) : std::nullopt;
      if (!v) throw EConvertError(L"'" + value + L"' is not a valid value of " + p.Name);
      p.SetOrd(obj, *v);
      return;
    }
    case TPropKind::Set:
      p.SetOrd(obj, TextToSet(p.EnumType, value));
      return;
    case TPropKind::String:
      p.SetAnsi(obj, WideToAnsi(value));
      return;
    case TPropKind::WideString:
      p.SetWide(obj, value);
      return;
    case TPropKind::Component: {
      if (value.empty()) {
        p.SetObj(obj, nullptr);
        return;
      }
      // Look among the components of the object's owner chain's root.
      auto* self = dynamic_cast<TComponent*>(&obj);
      TComponent* root = self;
      while (root && root->Owner()) root = root->Owner();
      TComponent* target = root ? (SameText(root->Name(), value) ? root : root->FindComponent(value)) : nullptr;
      if (!target || !target->InheritsFrom(*p.ClassType()))
        throw EPropertyError(L"No component named " + value + L" fits " + p.Name);
      p.SetObj(obj, target);
      return;
    }
    case TPropKind::Event: {
      if (value.empty()) {
        p.SetEvent(obj, nullptr);
        return;
      }
      auto* self = dynamic_cast<TComponent*>(&obj);
      const TMethodEntry* m = nullptr;
      for (TComponent* c = self; c && !m; c = c->Owner()) m = c->FindMethod(value);
      if (!m) throw EPropertyError(L"Method " + value + L" not found");
      p.SetEvent(obj, m);
      return;
    }
    case TPropKind::Persistent:
    case TPropKind::Collection:
      throw EPropertyError(L"Property " + p.Name + L" has no text form");
  }
}
