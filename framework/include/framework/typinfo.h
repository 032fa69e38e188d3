// Class references and published properties: what the form reader and
// writer (and a designer) know about a class. Platform-free.
//
// Every framework class carries a TClassInfo: its name, its parent's info, a
// factory when it can be created by name, and its published properties in
// declaration order, ancestors' first. A class declares itself with
// KV_CLASS(Self, Parent) inside its body and defines Self::StaticClass() in a
// source file with a TClassBuilder:
//
//   const TClassInfo& TMyControl::StaticClass() {
//     static const TClassInfo info = TClassBuilder<TMyControl>(L"TMyControl")
//         .Publish(L"Align")                        // a framework property made visible
//         .Bool(L"Transparent", &TMyControl::GetTransparent, &TMyControl::SetTransparent).Default(true)
//         .WideStr(L"Movie", &TMyControl::GetMovie, &TMyControl::SetMovie).NoDefault()
//         .Enum(L"Mode", ModeInfo, &TMyControl::GetMode, &TMyControl::SetMode).Default(0)
//         .Event(L"OnThing", &TMyControl::OnThing)
//         .Build();
//     return info;
//   }
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <typeindex>
#include <typeinfo>
#include <vector>

#include "framework/events.h"
#include "framework/sysutils.h"

class TObject;
class TPersistent;
class TComponent;
class TCollection;
class TCollectionItem;
class TClassInfo;

// ---------------------------------------------------------------------------
// TSet<E>: a set of the values 0..31 of an enumeration, stored as bits.
// ---------------------------------------------------------------------------
template <class E>
class TSet {
public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> items) {
    for (E e : items) bits_ |= Bit(e);
  }
  static constexpr TSet FromBits(std::uint32_t bits) {
    TSet s;
    s.bits_ = bits;
    return s;
  }
  constexpr std::uint32_t Bits() const { return bits_; }
  constexpr bool Contains(E e) const { return (bits_ & Bit(e)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr TSet& Include(E e) {
    bits_ |= Bit(e);
    return *this;
  }
  constexpr TSet& Exclude(E e) {
    bits_ &= ~Bit(e);
    return *this;
  }
  constexpr TSet operator+(TSet o) const { return FromBits(bits_ | o.bits_); }
  constexpr TSet operator-(TSet o) const { return FromBits(bits_ & ~o.bits_); }
  constexpr TSet operator*(TSet o) const { return FromBits(bits_ & o.bits_); }
  constexpr TSet operator+(E e) const { return FromBits(bits_ | Bit(e)); }
  constexpr TSet operator-(E e) const { return FromBits(bits_ & ~Bit(e)); }
  constexpr bool operator==(const TSet&) const = default;

private:
  static constexpr std::uint32_t Bit(E e) { return std::uint32_t(1) << static_cast<unsigned>(e); }
  std::uint32_t bits_ = 0;
};

// ---------------------------------------------------------------------------
// Type information of enumerations (value names, in value order).
// ---------------------------------------------------------------------------
struct TEnumInfo {
  WideString Name;
  std::vector<WideString> Values;  // Values[i] names the value MinValue + i
  int MinValue = 0;

  const WideString* NameOf(std::int64_t value) const;
  // Case-insensitive (ASCII), as identifiers are.
  std::optional<std::int64_t> ValueOf(std::wstring_view name) const;
};

enum class TPropKind {
  Integer,     // any integral value
  Boolean,
  Enum,        // EnumType names the values
  Set,         // bit set over EnumType's values
  String,      // 8-bit text (AnsiString)
  WideString,  // UTF-16 text
  Color,       // TColor (32-bit signed)
  Persistent,  // a TPersistent sub-object owned by the object; its properties are stored in place
  Collection,  // a TCollection owned by the object; its items are stored
  Component,   // a reference to another component, stored by name
  Event,       // a method pointer, stored by method name
};

enum class TStoredRule {
  Default,  // not stored when equal to the default; ordinals with no default are always stored,
            // text with no default is not stored when empty
  Always,   // nodefault
  Never,
  Custom,   // stored when StoredFn agrees and the value differs from the default (if any)
};

// A handler registered by name on a root component (see TComponent::RegisterMethod).
struct TMethodEntry {
  WideString Name;
  std::type_index Type;
  std::shared_ptr<const void> Event;  // points to a TEvent of Type
  template <class E>
  const E* As() const {
    return Type == std::type_index(typeid(E)) ? static_cast<const E*>(Event.get()) : nullptr;
  }
};

struct TPropInfo {
  WideString Name;
  TPropKind Kind = TPropKind::Integer;
  const TEnumInfo* EnumType = nullptr;          // Enum, Set
  // Persistent, Collection, Component: the declared class. Looked up on use,
  // so a class may have properties of its own type.
  const TClassInfo& (*ClassTypeFn)() = nullptr;
  const TClassInfo* ClassType() const { return ClassTypeFn ? &ClassTypeFn() : nullptr; }
  const std::type_info* EventType = nullptr;    // Event

  std::function<std::int64_t(TObject&)> GetOrd;  // Integer, Boolean, Enum, Set (bits), Color
  std::function<void(TObject&, std::int64_t)> SetOrd;
  std::function<AnsiString(TObject&)> GetAnsi;  // String
  std::function<void(TObject&, const AnsiString&)> SetAnsi;
  std::function<WideString(TObject&)> GetWide;  // WideString
  std::function<void(TObject&, const WideString&)> SetWide;
  std::function<TObject*(TObject&)> GetObj;  // Persistent, Collection, Component
  std::function<void(TObject&, TObject*)> SetObj;  // Component
  std::function<bool(TObject&)> EventAssigned;         // Event
  std::function<WideString(TObject&)> EventName;       // empty when unassigned or unnamed
  std::function<void(TObject&, const TMethodEntry*)> SetEvent;  // nullptr clears; EPropertyError on a type mismatch

  std::optional<std::int64_t> OrdDefault;
  std::optional<WideString> TextDefault;
  TStoredRule Stored = TStoredRule::Default;
  std::function<bool(TObject&)> StoredFn;

  bool IsOrdinal() const;
  bool IsText() const { return Kind == TPropKind::String || Kind == TPropKind::WideString; }
  // Whether a writer stores the property's value of obj.
  bool IsStored(TObject& obj) const;
};

using TPropInfoPtr = std::shared_ptr<const TPropInfo>;

class TClassInfo {
public:
  const WideString& ClassName() const { return name_; }
  const TClassInfo* Parent() const { return parent_; }
  bool InheritsFrom(const TClassInfo& other) const;

  // Published properties: the ancestors' first, each in declaration order.
  const std::vector<TPropInfoPtr>& Properties() const { return props_; }
  const TPropInfo* FindProperty(std::wstring_view name) const;
  // Properties a descendant may publish (TClassBuilder::Publish), from this class up.
  const TPropInfo* FindPublishable(std::wstring_view name) const;

  bool CanCreateComponent() const { return static_cast<bool>(newComponent_); }
  bool CanCreateItem() const { return static_cast<bool>(newItem_); }
  // New instance (AfterConstruction has run). EInvalidOperation for an abstract class.
  TComponent* CreateComponent(TComponent* owner) const;
  TCollectionItem* CreateItem(TCollection* collection) const;

private:
  template <class T>
  friend class TClassBuilder;
  WideString name_;
  const TClassInfo* parent_ = nullptr;
  std::vector<TPropInfoPtr> props_;
  std::vector<TPropInfoPtr> publishable_;
  std::function<TComponent*(TComponent*)> newComponent_;
  std::function<TCollectionItem*(TCollection*)> newItem_;
};

// Declares the class-reference members; put first in the class body.
#define KV_CLASS(Self, Parent)                                          \
public:                                                                 \
  using inherited = Parent;                                             \
  static const ::TClassInfo& StaticClass();                             \
  const ::TClassInfo& ClassType() const override { return Self::StaticClass(); } \
                                                                        \
private:

namespace kvdetail {
template <class V>
std::int64_t ToOrd(const V& v) {
  if constexpr (std::is_same_v<V, bool>) {
    return v ? 1 : 0;
  } else if constexpr (std::is_enum_v<V>) {
    return static_cast<std::int64_t>(v);
  } else if constexpr (std::is_integral_v<V>) {
    return static_cast<std::int64_t>(v);
  } else {
    return static_cast<std::int64_t>(v.Bits());  // TSet
  }
}
template <class V>
V FromOrd(std::int64_t v) {
  if constexpr (std::is_same_v<V, bool>) {
    return v != 0;
  } else if constexpr (std::is_enum_v<V> || std::is_integral_v<V>) {
    return static_cast<V>(v);
  } else {
    return V::FromBits(static_cast<std::uint32_t>(v));  // TSet
  }
}
template <class G, class T>
using GetResult = std::remove_cvref_t<std::invoke_result_t<G&, T&>>;

template <class T>
constexpr bool IsTObject = std::is_base_of_v<TObject, T>;

void ThrowEventMismatch(const WideString& prop, const WideString& method);
void ThrowNoPublishable(const WideString& cls, const WideString& prop);
}  // namespace kvdetail

// Builds a TClassInfo for T (parent: T::inherited). Property modifiers
// (Default, NoDefault, Stored, NotStored, Publishable) apply to the property
// added last.
template <class T>
class TClassBuilder {
public:
  explicit TClassBuilder(WideString name) {
    info_.name_ = std::move(name);
    if constexpr (!std::is_same_v<T, TObject>) {
      info_.parent_ = &T::inherited::StaticClass();
      info_.props_ = info_.parent_->props_;
    }
    if constexpr (!std::is_abstract_v<T>) {
      if constexpr (std::is_base_of_v<TComponent, T> && std::is_constructible_v<T, TComponent*>) {
        info_.newComponent_ = [](TComponent* owner) -> TComponent* { return new T(owner); };
      } else if constexpr (std::is_base_of_v<TCollectionItem, T> && std::is_constructible_v<T, TCollection*>) {
        info_.newItem_ = [](TCollection* c) -> TCollectionItem* { return new T(c); };
      }
    }
  }

  template <class G, class S>
  TClassBuilder& Integer(WideString name, G get, S set) {
    return Ordinal(std::move(name), TPropKind::Integer, nullptr, get, set);
  }
  template <class G, class S>
  TClassBuilder& Bool(WideString name, G get, S set) {
    return Ordinal(std::move(name), TPropKind::Boolean, nullptr, get, set);
  }
  template <class G, class S>
  TClassBuilder& Enum(WideString name, const TEnumInfo& type, G get, S set) {
    return Ordinal(std::move(name), TPropKind::Enum, &type, get, set);
  }
  // The getter returns a TSet<E> (or its bits); the element type names the bits.
  template <class G, class S>
  TClassBuilder& Set(WideString name, const TEnumInfo& elementType, G get, S set) {
    return Ordinal(std::move(name), TPropKind::Set, &elementType, get, set);
  }
  template <class G, class S>
  TClassBuilder& Color(WideString name, G get, S set) {
    return Ordinal(std::move(name), TPropKind::Color, nullptr, get, set);
  }
  template <class G, class S>
  TClassBuilder& String(WideString name, G get, S set) {
    auto p = NewProp(std::move(name), TPropKind::String);
    p->GetAnsi = [get](TObject& o) -> AnsiString { return AnsiString(std::invoke(get, static_cast<T&>(o))); };
    p->SetAnsi = [set](TObject& o, const AnsiString& v) { std::invoke(set, static_cast<T&>(o), v); };
    return *this;
  }
  template <class G, class S>
  TClassBuilder& WideStr(WideString name, G get, S set) {
    auto p = NewProp(std::move(name), TPropKind::WideString);
    p->GetWide = [get](TObject& o) -> WideString { return WideString(std::invoke(get, static_cast<T&>(o))); };
    p->SetWide = [set](TObject& o, const WideString& v) { std::invoke(set, static_cast<T&>(o), v); };
    return *this;
  }
  // A TPersistent sub-object that T owns; G returns a pointer to it.
  template <class G>
  TClassBuilder& Persistent(WideString name, G get) {
    using P = std::remove_pointer_t<kvdetail::GetResult<G, T>>;
    auto p = NewProp(std::move(name), TPropKind::Persistent);
    p->ClassTypeFn = &P::StaticClass;
    p->GetObj = [get](TObject& o) -> TObject* { return std::invoke(get, static_cast<T&>(o)); };
    return *this;
  }
  // A TCollection that T owns; G returns a pointer to it.
  template <class G>
  TClassBuilder& Collection(WideString name, G get) {
    using P = std::remove_pointer_t<kvdetail::GetResult<G, T>>;
    auto p = NewProp(std::move(name), TPropKind::Collection);
    p->ClassTypeFn = &P::StaticClass;
    p->GetObj = [get](TObject& o) -> TObject* { return std::invoke(get, static_cast<T&>(o)); };
    return *this;
  }
  // A reference to a component of class C (or a descendant), stored by name.
  template <class G, class S>
  TClassBuilder& Component(WideString name, G get, S set) {
    using C = std::remove_pointer_t<kvdetail::GetResult<G, T>>;
    auto p = NewProp(std::move(name), TPropKind::Component);
    p->ClassTypeFn = &C::StaticClass;
    p->GetObj = [get](TObject& o) -> TObject* { return std::invoke(get, static_cast<T&>(o)); };
    p->SetObj = [set](TObject& o, TObject* v) { std::invoke(set, static_cast<T&>(o), dynamic_cast<C*>(v)); };
    return *this;
  }
  // An event field of T (or of an ancestor of T).
  template <class E, class C>
    requires std::is_base_of_v<C, T>
  TClassBuilder& Event(WideString name, E C::*field) {
    return Event(
        std::move(name), [field](T& o) -> const E& { return o.*field; },
        [field](T& o, const E& e) { o.*field = e; });
  }
  // An event behind a getter and a setter.
  template <class G, class S>
  TClassBuilder& Event(WideString name, G get, S set) {
    using E = kvdetail::GetResult<G, T>;
    auto p = NewProp(std::move(name), TPropKind::Event);
    p->EventType = &typeid(E);
    p->EventAssigned = [get](TObject& o) { return std::invoke(get, static_cast<T&>(o)).Assigned(); };
    p->EventName = [get](TObject& o) -> WideString {
      const E& e = std::invoke(get, static_cast<T&>(o));
      return e.Assigned() ? e.MethodName() : WideString();
    };
    WideString propName = p->Name;
    p->SetEvent = [set, propName](TObject& o, const TMethodEntry* m) {
      if (!m) {
        std::invoke(set, static_cast<T&>(o), E());
        return;
      }
      const E* e = m->As<E>();
      if (!e) kvdetail::ThrowEventMismatch(propName, m->Name);
      std::invoke(set, static_cast<T&>(o), *e);
    };
    return *this;
  }

  // Publishes a property that an ancestor declared publishable.
  TClassBuilder& Publish(const WideString& name) {
    const TPropInfo* src = info_.parent_ ? info_.parent_->FindPublishable(name) : nullptr;
    if (!src) kvdetail::ThrowNoPublishable(info_.name_, name);
    last_ = std::make_shared<TPropInfo>(*src);
    RemoveExisting(last_->Name);
    info_.props_.push_back(last_);
    lastPublished_ = true;
    return *this;
  }

  // Modifiers of the property added last.
  template <class V>
  TClassBuilder& Default(const V& value) {
    if constexpr (std::is_convertible_v<V, std::wstring_view>) {
      last_->TextDefault = WideString(std::wstring_view(value));
    } else {
      last_->OrdDefault = kvdetail::ToOrd(value);
    }
    if (last_->Stored != TStoredRule::Custom) last_->Stored = TStoredRule::Default;
    return *this;
  }
  TClassBuilder& NoDefault() {
    last_->OrdDefault.reset();
    last_->TextDefault.reset();
    last_->Stored = TStoredRule::Always;
    return *this;
  }
  template <class P>
  TClassBuilder& Stored(P pred) {
    last_->Stored = TStoredRule::Custom;
    last_->StoredFn = [pred](TObject& o) -> bool { return std::invoke(pred, static_cast<T&>(o)); };
    return *this;
  }
  TClassBuilder& NotStored() {
    last_->Stored = TStoredRule::Never;
    return *this;
  }
  // Not published here: kept for descendants to Publish (a "protected" property).
  TClassBuilder& Publishable() {
    if (lastPublished_) {
      info_.props_.pop_back();
      info_.publishable_.push_back(last_);
      lastPublished_ = false;
    }
    return *this;
  }

  TClassInfo Build() { return std::move(info_); }
  operator TClassInfo() { return Build(); }

private:
  std::shared_ptr<TPropInfo> NewProp(WideString name, TPropKind kind) {
    last_ = std::make_shared<TPropInfo>();
    last_->Name = std::move(name);
    last_->Kind = kind;
    RemoveExisting(last_->Name);
    info_.props_.push_back(last_);
    lastPublished_ = true;
    return last_;
  }
  // A property redeclared by a descendant moves behind its ancestors' properties,
  // where the descendant's declarations belong.
  void RemoveExisting(const WideString& name) {
    for (auto it = info_.props_.begin(); it != info_.props_.end(); ++it) {
      if (SameText((*it)->Name, name)) {
        info_.props_.erase(it);
        return;
      }
    }
  }
  template <class G, class S>
  TClassBuilder& Ordinal(WideString name, TPropKind kind, const TEnumInfo* type, G get, S set) {
    using V = kvdetail::GetResult<G, T>;
    auto p = NewProp(std::move(name), kind);
    p->EnumType = type;
    p->GetOrd = [get](TObject& o) -> std::int64_t { return kvdetail::ToOrd<V>(std::invoke(get, static_cast<T&>(o))); };
    p->SetOrd = [set](TObject& o, std::int64_t v) { std::invoke(set, static_cast<T&>(o), kvdetail::FromOrd<V>(v)); };
    return *this;
  }

  TClassInfo info_;
  std::shared_ptr<TPropInfo> last_;
  bool lastPublished_ = false;
};

// Generic access by property name (for designers and tests). Text forms:
// integers in decimal, booleans "True"/"False", enums by value name, sets as
// "[a,b]", colours as their value, components by name, events by method name.
const TPropInfo* GetPropInfo(const TObject& obj, std::wstring_view name);  // nullptr when missing
WideString GetPropText(TObject& obj, std::wstring_view name);              // EPropertyError when missing
void SetPropText(TObject& obj, std::wstring_view name, const WideString& value);
