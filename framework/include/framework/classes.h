// The object model: TObject, TPersistent, TComponent (ownership, names,
// state, free notification), TCollection/TCollectionItem, TStringList and the
// class registry used to create classes by name. Platform-free.
//
// Construction and destruction run in two phases. C++ constructors and
// destructors do not dispatch to a descendant's overrides, so the framework
// never calls a virtual from one expecting descendant behaviour:
//  - AfterConstruction() runs once the whole object exists. The class
//    registry's factories, the form reader and TApplication::CreateForm call
//    it; code that uses `new` directly calls it itself when it matters (a
//    form's OnCreate fires there).
//  - BeforeDestruction() runs while the whole object still exists. Free(obj)
//    and owners freeing their components call it before `delete`; it marks a
//    component csDestroying (and a form fires OnDestroy). Plain `delete`
//    skips it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <typeindex>
#include <vector>

#include "framework/events.h"
#include "framework/sysutils.h"
#include "framework/typinfo.h"

class TFiler;
class TReader;
class TWriter;

class TObject {
public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;

  static const TClassInfo& StaticClass();
  virtual const TClassInfo& ClassType() const { return StaticClass(); }
  const WideString& ClassName() const;
  bool ClassNameIs(std::wstring_view name) const;
  bool InheritsFrom(const TClassInfo& cls) const;

  virtual void AfterConstruction() {}
  virtual void BeforeDestruction() {}
};

// BeforeDestruction, then delete. Does nothing for nullptr.
void Free(TObject* obj);
template <class T>
void FreeAndNil(T*& obj) {
  T* p = obj;
  obj = nullptr;
  Free(p);
}

class TPersistent : public TObject {
  KV_CLASS(TPersistent, TObject)
public:
  // Copies Source into this object. The base asks Source->AssignTo(this),
  // whose base raises EConvertError "Cannot assign a TSource to a TThis".
  virtual void Assign(TPersistent* Source);
  // The object this one belongs to (a collection's owner, an item's collection).
  virtual TPersistent* GetOwner() { return nullptr; }
  virtual WideString GetNamePath();

protected:
  virtual void AssignTo(TPersistent* Dest);
  // Declares properties stored beside the published ones (binary data).
  virtual void DefineProperties(TFiler& /*Filer*/) {}

  friend class TReader;
  friend class TWriter;
};

// ---------------------------------------------------------------------------
// Components
// ---------------------------------------------------------------------------
enum TComponentStateItem {
  csLoading,       // being read from a stored form; cleared by Loaded
  csReading,       // its properties are being read
  csWriting,       // its properties are being written
  csDestroying,    // BeforeDestruction has run
  csDesigning,     // in a form designer
  csUpdating,
  csFreeNotification,
};
using TComponentState = TSet<TComponentStateItem>;

enum TOperation { opInsert, opRemove };

class TComponent : public TPersistent {
  KV_CLASS(TComponent, TPersistent)
public:
  explicit TComponent(TComponent* AOwner);
  // Frees the owned components (last first), tells the free-notification
  // list, leaves the owner.
  ~TComponent() override;
  void BeforeDestruction() override;

  TComponent* Owner() const { return owner_; }
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const;  // EListError when out of range
  int ComponentIndex() const;
  // Case-insensitive; nullptr when none.
  TComponent* FindComponent(std::wstring_view name) const;
  void InsertComponent(TComponent* AComponent);
  void RemoveComponent(TComponent* AComponent);
  void DestroyComponents();

  const WideString& Name() const { return name_; }
  // EComponentError for an invalid identifier or a name already used among
  // the owner's components. Empty is allowed.
  virtual void SetName(const WideString& NewName);
  std::intptr_t Tag() const { return tag_; }
  void SetTag(std::intptr_t value) { tag_ = value; }

  TComponentState ComponentState() const { return state_; }
  // Marks this component (and the components it owns) as being designed.
  void SetDesigning(bool value, bool setChildren = true);
  // Marks csDestroying on this component and the ones it owns.
  void Destroying();

  // AComponent gets Notification(this, opRemove) when this one goes.
  void FreeNotification(TComponent* AComponent);
  void RemoveFreeNotification(TComponent* AComponent);

  // Called by the form reader once the whole stored tree is read. The base
  // clears csLoading.
  virtual void Loaded();

  // Structure written by the form writer: a component with a parent is
  // written under its parent, the others under the root.
  virtual bool HasParent() const { return false; }
  virtual TComponent* GetParentComponent() const { return nullptr; }
  virtual void SetParentComponent(TComponent* /*Value*/) {}
  // Calls proc for each component stored under this one when root is written.
  // The base, for the root itself: every owned component without a parent.
  virtual void GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root);

  TPersistent* GetOwner() override { return owner_; }
  WideString GetNamePath() override { return name_; }

  // Named handlers that stored forms refer to: a form registers its methods,
  // and the reader assigns events by these names.
  template <class... A>
  void RegisterMethod(const WideString& name, const TEvent<A...>& handler) {
    auto named = std::make_shared<const TEvent<A...>>(handler.WithName(name));
    AddMethod(TMethodEntry{name, std::type_index(typeid(TEvent<A...>)), named});
  }
  template <class T, class... A>
  void RegisterMethod(const WideString& name, T* obj, void (T::*method)(A...)) {
    RegisterMethod(name, TEvent<A...>(obj, method, name));
  }
  const TMethodEntry* FindMethod(std::wstring_view name) const;  // case-insensitive
  // The registered handler, or an unassigned event when missing or of another type.
  template <class E>
  E MethodByName(std::wstring_view name) const {
    const TMethodEntry* m = FindMethod(name);
    const E* e = m ? m->As<E>() : nullptr;
    return e ? *e : E();
  }

protected:
  // Tells this component that AComponent was inserted or is going away. The
  // base passes the news on to the owned components.
  virtual void Notification(TComponent* AComponent, TOperation Operation);
  void SetComponentStateFlag(TComponentStateItem flag, bool on);

private:
  friend class TReader;
  void AddMethod(TMethodEntry entry);
  void InsertInto(TComponent* owner);
  void RemoveFrom();

  TComponent* owner_ = nullptr;
  std::vector<TComponent*> components_;
  std::vector<TComponent*> freeNotifies_;
  std::vector<TMethodEntry> methods_;
  WideString name_;
  std::intptr_t tag_ = 0;
  TComponentState state_;
};

// ---------------------------------------------------------------------------
// Collections
// ---------------------------------------------------------------------------
enum TCollectionNotification { cnAdded, cnExtracting, cnDeleting };

class TCollectionItem : public TPersistent {
  KV_CLASS(TCollectionItem, TPersistent)
public:
  // Joins Collection (may be nullptr) at its end.
  explicit TCollectionItem(TCollection* Collection);
  // Leaves its collection.
  ~TCollectionItem() override;

  TCollection* Collection() const { return collection_; }
  void SetCollection(TCollection* Value);
  int Index() const;
  void SetIndex(int Value);
  int ID() const { return id_; }
  // What a collection editor lists; the base gives the class name.
  virtual WideString GetDisplayName();
  TPersistent* GetOwner() override;
  WideString GetNamePath() override;

protected:
  void Changed(bool AllItems);

private:
  friend class TCollection;
  TCollection* collection_ = nullptr;
  int id_ = 0;
};

class TCollection : public TPersistent {
  KV_CLASS(TCollection, TPersistent)
public:
  // ItemClass must be a TCollectionItem class with a (TCollection*) constructor.
  explicit TCollection(const TClassInfo& ItemClass, TPersistent* Owner = nullptr);
  ~TCollection() override;  // frees the items

  TCollectionItem* Add();
  TCollectionItem* Insert(int Index);
  void Delete(int Index);  // EListError when out of range
  void Clear();
  int Count() const { return static_cast<int>(items_.size()); }
  TCollectionItem* Items(int Index) const;           // EListError when out of range
  void SetItem(int Index, TCollectionItem* Value);   // Items(Index)->Assign(Value)
  TCollectionItem* FindItemID(int ID) const;
  const TClassInfo& ItemClass() const { return *itemClass_; }

  // From another TCollection: Clear, then Add and Assign each of its items.
  void Assign(TPersistent* Source) override;
  TPersistent* GetOwner() override { return owner_; }
  WideString GetNamePath() override;

  void BeginUpdate() { ++updateCount_; }
  void EndUpdate();
  int UpdateCount() const { return updateCount_; }

protected:
  // An item changed (nullptr: all of them). Runs when no update is pending.
  virtual void Update(TCollectionItem* /*Item*/) {}
  virtual void Notify(TCollectionItem* /*Item*/, TCollectionNotification /*Action*/) {}
  void Changed();

private:
  friend class TCollectionItem;
  void InsertItem(TCollectionItem* item);
  void RemoveItem(TCollectionItem* item);

  const TClassInfo* itemClass_;
  TPersistent* owner_;
  std::vector<TCollectionItem*> items_;
  int nextId_ = 0;
  int updateCount_ = 0;
};

// ---------------------------------------------------------------------------
// String lists
// ---------------------------------------------------------------------------
enum TDuplicates { dupIgnore, dupAccept, dupError };

class TStringList : public TPersistent {
  KV_CLASS(TStringList, TPersistent)
public:
  TStringList() = default;
  explicit TStringList(bool OwnsObjects) : ownsObjects_(OwnsObjects) {}
  ~TStringList() override;

  int Count() const { return static_cast<int>(items_.size()); }
  // Index errors raise EListError "List index out of bounds (n)".
  const WideString& Strings(int Index) const;
  void Put(int Index, const WideString& S);
  TObject* Objects(int Index) const;
  void PutObject(int Index, TObject* Obj);

  // In a sorted list the position follows the order (and Duplicates applies).
  int Add(const WideString& S);
  int AddObject(const WideString& S, TObject* Obj);
  void Insert(int Index, const WideString& S);
  void InsertObject(int Index, const WideString& S, TObject* Obj);
  void Delete(int Index);
  void Clear();
  void Exchange(int Index1, int Index2);

  // First match, -1 when none. Case-insensitive unless CaseSensitive.
  int IndexOf(std::wstring_view S) const;
  int IndexOfObject(const TObject* Obj) const;
  // Sorted lists: binary search; Index is where S is or would go.
  bool Find(std::wstring_view S, int& Index) const;

  bool CaseSensitive() const { return caseSensitive_; }
  void SetCaseSensitive(bool Value);
  bool Sorted() const { return sorted_; }
  void SetSorted(bool Value);
  void Sort();
  TDuplicates Duplicates() const { return duplicates_; }
  void SetDuplicates(TDuplicates Value) { duplicates_ = Value; }
  bool OwnsObjects() const { return ownsObjects_; }
  void SetOwnsObjects(bool Value) { ownsObjects_ = Value; }

  // Lines joined with CR LF; setting splits at CR LF, LF or CR.
  WideString Text() const;
  void SetText(std::wstring_view Value);

  void Assign(TPersistent* Source) override;

  TNotifyEvent OnChange;

private:
  struct Item {
    WideString text;
    TObject* object = nullptr;
  };
  int Compare(std::wstring_view a, std::wstring_view b) const;
  void CheckIndex(int index, int limit) const;
  void Changed();

  std::vector<Item> items_;
  bool caseSensitive_ = false;
  bool sorted_ = false;
  bool ownsObjects_ = false;
  TDuplicates duplicates_ = dupIgnore;
};

// ---------------------------------------------------------------------------
// Class registry: classes the form reader may create by name.
// ---------------------------------------------------------------------------
// Registering the same class twice is harmless; another class under a
// registered name raises EFilerError.
// <windows.h> defines RegisterClass as a macro for RegisterClassW; whichever
// spelling a caller ends up with registers the class.
#pragma push_macro("RegisterClass")
#undef RegisterClass
void RegisterClass(const TClassInfo& cls);
inline void RegisterClassW(const TClassInfo& cls) { RegisterClass(cls); }
#pragma pop_macro("RegisterClass")
template <class... T>
void RegisterClasses() {
  (RegisterClass(T::StaticClass()), ...);
}
void UnRegisterClass(const TClassInfo& cls);
const TClassInfo* GetClass(std::wstring_view name);  // nullptr when unknown
const TClassInfo& FindClass(std::wstring_view name);  // EClassNotFound when unknown
