#include "framework/classes.h"

#include <algorithm>
#include <map>

// ---------------------------------------------------------------------------
// TObject, TPersistent
// ---------------------------------------------------------------------------
const TClassInfo& TObject::StaticClass() {
  static const TClassInfo info = TClassBuilder<TObject>(L"TObject");
  return info;
}

const WideString& TObject::ClassName() const { return ClassType().ClassName(); }

bool TObject::ClassNameIs(std::wstring_view name) const { return SameText(ClassName(), name); }

bool TObject::InheritsFrom(const TClassInfo& cls) const { return ClassType().InheritsFrom(cls); }

void Free(TObject* obj) {
  if (!obj) return;
  try {
    obj->BeforeDestruction();
  } catch (...) {
    delete obj;
    throw;
  }
  delete obj;
}

const TClassInfo& TPersistent::StaticClass() {
  static const TClassInfo info = TClassBuilder<TPersistent>(L"TPersistent");
  return info;
}

void TPersistent::Assign(TPersistent* Source) {
  if (Source) {
    Source->AssignTo(this);
    return;
  }
  throw EConvertError(L"Cannot assign a nil to a " + ClassName());
}

void TPersistent::AssignTo(TPersistent* Dest) {
  throw EConvertError(L"Cannot assign a " + ClassName() + L" to a " + (Dest ? Dest->ClassName() : WideString(L"nil")));
}

WideString TPersistent::GetNamePath() {
  WideString path;
  if (TPersistent* owner = GetOwner()) {
    path = owner->GetNamePath();
    if (!path.empty()) path += L".";
  }
  return path + ClassName();
}

// ---------------------------------------------------------------------------
// TComponent
// ---------------------------------------------------------------------------
const TClassInfo& TComponent::StaticClass() {
  static const TClassInfo info = TClassBuilder<TComponent>(L"TComponent")
                                     .WideStr(L"Name", &TComponent::Name, &TComponent::SetName)
                                     .NotStored()  // the writer stores names in the component header
                                     .Integer(L"Tag", &TComponent::Tag, &TComponent::SetTag)
                                     .Default(0);
  return info;
}

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  // A component deleted without Free still announces its end.
  state_.Include(csDestroying);
  // Tell those who asked; they drop their references to us.
  while (!freeNotifies_.empty()) {
    TComponent* c = freeNotifies_.back();
    freeNotifies_.pop_back();
    auto& theirs = c->freeNotifies_;
    theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
    c->Notification(this, opRemove);
  }
  DestroyComponents();
  if (owner_) owner_->RemoveComponent(this);
}

void TComponent::BeforeDestruction() {
  if (!state_.Contains(csDestroying)) Destroying();
}

void TComponent::Destroying() {
  if (state_.Contains(csDestroying)) return;
  state_.Include(csDestroying);
  for (TComponent* c : components_) c->Destroying();
}

TComponent* TComponent::Components(int index) const {
  if (index < 0 || index >= ComponentCount())
    throw EListError(L"List index out of bounds (" + IntToStr(index) + L")");
  return components_[static_cast<std::size_t>(index)];
}

int TComponent::ComponentIndex() const {
  if (!owner_) return -1;
  auto& list = owner_->components_;
  auto it = std::find(list.begin(), list.end(), this);
  return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

TComponent* TComponent::FindComponent(std::wstring_view name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : components_)
    if (SameText(c->name_, name)) return c;
  return nullptr;
}

void TComponent::InsertComponent(TComponent* AComponent) {
  if (!AComponent || AComponent->owner_ == this) return;
  if (!AComponent->name_.empty() && FindComponent(AComponent->name_))
    throw EComponentError(L"A component named " + AComponent->name_ + L" already exists");
  if (AComponent->owner_) AComponent->owner_->RemoveComponent(AComponent);
  components_.push_back(AComponent);
  AComponent->owner_ = this;
  if (state_.Contains(csDesigning)) AComponent->SetDesigning(true);
  Notification(AComponent, opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent) {
  if (!AComponent || AComponent->owner_ != this) return;
  Notification(AComponent, opRemove);
  components_.erase(std::remove(components_.begin(), components_.end(), AComponent), components_.end());
  AComponent->owner_ = nullptr;
}

void TComponent::DestroyComponents() {
  // Last first: later components may refer to earlier ones.
  while (!components_.empty()) {
    TComponent* c = components_.back();
    RemoveComponent(c);
    Free(c);
  }
}

void TComponent::SetName(const WideString& NewName) {
  if (NewName == name_) return;
  if (!NewName.empty() && !IsValidIdent(NewName))
    throw EComponentError(L"'" + NewName + L"' is not a valid component name");
  if (owner_ && !NewName.empty()) {
    TComponent* other = owner_->FindComponent(NewName);
    if (other && other != this) throw EComponentError(L"A component named " + NewName + L" already exists");
  }
  name_ = NewName;
}

void TComponent::SetDesigning(bool value, bool setChildren) {
  if (value)
    state_.Include(csDesigning);
  else
    state_.Exclude(csDesigning);
  if (setChildren)
    for (TComponent* c : components_) c->SetDesigning(value, true);
}

void TComponent::SetComponentStateFlag(TComponentStateItem flag, bool on) {
  if (on)
    state_.Include(flag);
  else
    state_.Exclude(flag);
}

void TComponent::FreeNotification(TComponent* AComponent) {
  if (!AComponent || AComponent == this) return;
  if (AComponent->owner_ == owner_ && owner_) return;  // the common owner already tells both
  if (std::find(freeNotifies_.begin(), freeNotifies_.end(), AComponent) == freeNotifies_.end()) {
    freeNotifies_.push_back(AComponent);
    AComponent->freeNotifies_.push_back(this);
  }
  state_.Include(csFreeNotification);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
  if (!AComponent) return;
  freeNotifies_.erase(std::remove(freeNotifies_.begin(), freeNotifies_.end(), AComponent), freeNotifies_.end());
  auto& theirs = AComponent->freeNotifies_;
  theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
}

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent) RemoveFreeNotification(AComponent);
  // Copy: a notified component may free others of the list.
  std::vector<TComponent*> list = components_;
  for (TComponent* c : list)
    if (c != AComponent && std::find(components_.begin(), components_.end(), c) != components_.end())
      c->Notification(AComponent, Operation);
}

void TComponent::Loaded() { state_.Exclude(csLoading); }

void TComponent::GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) {
  if (root != this) return;
  for (TComponent* c : std::vector<TComponent*>(components_))
    if (!c->HasParent()) proc(c);
}

void TComponent::AddMethod(TMethodEntry entry) {
  for (auto& m : methods_) {
    if (SameText(m.Name, entry.Name)) {
      m = std::move(entry);
      return;
    }
  }
  methods_.push_back(std::move(entry));
}

const TMethodEntry* TComponent::FindMethod(std::wstring_view name) const {
  for (const auto& m : methods_)
    if (SameText(m.Name, name)) return &m;
  return nullptr;
}

// ---------------------------------------------------------------------------
// Class registry
// ---------------------------------------------------------------------------
namespace {
struct CaseLess {
  bool operator()(const WideString& a, const WideString& b) const { return CompareText(a, b) < 0; }
};
std::map<WideString, const TClassInfo*, CaseLess>& Registry() {
  static std::map<WideString, const TClassInfo*, CaseLess> registry;
  return registry;
}
}  // namespace

void RegisterClass(const TClassInfo& cls) {
  auto& reg = Registry();
  auto it = reg.find(cls.ClassName());
  if (it != reg.end()) {
    if (it->second == &cls) return;
    throw EFilerError(L"A class named " + cls.ClassName() + L" already exists");
  }
  reg.emplace(cls.ClassName(), &cls);
}

void UnRegisterClass(const TClassInfo& cls) {
  auto& reg = Registry();
  auto it = reg.find(cls.ClassName());
  if (it != reg.end() && it->second == &cls) reg.erase(it);
}

const TClassInfo* GetClass(std::wstring_view name) {
  auto& reg = Registry();
  auto it = reg.find(WideString(name));
  return it == reg.end() ? nullptr : it->second;
}

const TClassInfo& FindClass(std::wstring_view name) {
  const TClassInfo* c = GetClass(name);
  if (!c) throw EClassNotFound(L"Class " + WideString(name) + L" not found");
  return *c;
}
