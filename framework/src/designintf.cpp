#include "framework/designintf.h"

namespace {

struct TEditorEntry {
  TPropKind Kind;
  const TClassInfo* Class;
  WideString Name;
  TPropertyEditorFactory Factory;
};

std::vector<TPaletteEntry>& Palette() {
  static std::vector<TPaletteEntry> palette;
  return palette;
}

std::vector<TEditorEntry>& Editors() {
  static std::vector<TEditorEntry> editors;
  return editors;
}

}  // namespace

TPropertyEditor::TPropertyEditor(IDesigner* Designer, std::vector<TPersistent*> Selection, const TPropInfo& Prop)
    : designer_(Designer), selection_(std::move(Selection)), prop_(Prop) {
  if (selection_.empty() || !selection_.front()) throw EInvalidArgument(L"A property editor needs a selection");
}

TPersistent* TPropertyEditor::GetComponent(int Index) const {
  if (Index < 0 || Index >= PropCount()) throw EListError(L"List index out of bounds (" + IntToStr(Index) + L")");
  return selection_[static_cast<size_t>(Index)];
}

namespace {
// Each selected object is reached through its own class's property: the
// selection may mix classes that publish the same property.
const TPropInfo& OwnProperty(TPersistent& p, const TPropInfo& like) {
  const TPropInfo* own = p.ClassType().FindProperty(like.Name);
  if (!own || own->Kind != like.Kind)
    throw EPropertyError(p.ClassType().ClassName() + L" has no property " + like.Name + L" of that type");
  return *own;
}

WideString TextOf(TPersistent& p, const TPropInfo& like) {
  const TPropInfo& own = OwnProperty(p, like);
  if (own.Kind == TPropKind::String) return AnsiToWide(own.GetAnsi(p));
  if (own.Kind == TPropKind::WideString) return own.GetWide(p);
  throw EPropertyError(L"Property " + own.Name + L" is no text");
}
}  // namespace

bool TPropertyEditor::AllEqual() {
  if (!prop_.IsText()) return PropCount() == 1;
  const WideString first = GetStrValue();
  for (TPersistent* p : selection_)
    if (TextOf(*p, prop_) != first) return false;
  return true;
}

void TPropertyEditor::Modified() {
  if (designer_) designer_->Modified();
}

WideString TPropertyEditor::GetStrValue() const { return TextOf(*selection_.front(), prop_); }

void TPropertyEditor::SetStrValue(const WideString& Value) {
  for (TPersistent* p : selection_) {
    const TPropInfo& own = OwnProperty(*p, prop_);
    if (own.Kind == TPropKind::String)
      own.SetAnsi(*p, WideToAnsi(Value));
    else if (own.Kind == TPropKind::WideString)
      own.SetWide(*p, Value);
    else
      throw EPropertyError(L"Property " + own.Name + L" is no text");
  }
}

void RegisterComponents(const WideString& Page, std::initializer_list<const TClassInfo*> Classes) {
  for (const TClassInfo* c : Classes)
    if (c) Palette().push_back({Page, c});
}

void RegisterPropertyEditor(TPropKind PropertyType, const TClassInfo* ComponentClass, const WideString& PropertyName,
                            TPropertyEditorFactory EditorClass) {
  Editors().push_back({PropertyType, ComponentClass, PropertyName, std::move(EditorClass)});
}

const std::vector<TPaletteEntry>& RegisteredComponents() { return Palette(); }

std::unique_ptr<TPropertyEditor> CreatePropertyEditor(IDesigner* Designer, std::vector<TPersistent*> Selection,
                                                      const WideString& PropertyName) {
  if (Selection.empty() || !Selection.front()) return nullptr;
  const TClassInfo& cls = Selection.front()->ClassType();
  const TPropInfo* prop = cls.FindProperty(PropertyName);
  if (!prop) return nullptr;
  // The most precise registration wins: a class and a name beat a name,
  // which beats a class, which beats the bare type; the last of equals wins.
  const TEditorEntry* best = nullptr;
  int bestScore = -1;
  for (const TEditorEntry& e : Editors()) {
    if (e.Kind != prop->Kind) continue;
    if (e.Class && !cls.InheritsFrom(*e.Class)) continue;
    if (!e.Name.empty() && !SameText(e.Name, prop->Name)) continue;
    const int score = (e.Name.empty() ? 0 : 2) + (e.Class ? 1 : 0);
    if (score >= bestScore) {
      best = &e;
      bestScore = score;
    }
  }
  if (!best) return nullptr;
  // Every selected object must be one the registration covers.
  for (TPersistent* p : Selection) {
    if (!p) return nullptr;
    if (best->Class && !p->ClassType().InheritsFrom(*best->Class)) {
      // Another registration of the same precision may cover it (one per
      // class, as for a property several classes publish).
      bool covered = false;
      for (const TEditorEntry& e : Editors())
        if (e.Kind == prop->Kind && e.Name == best->Name && e.Class && p->ClassType().InheritsFrom(*e.Class))
          covered = true;
      if (!covered) return nullptr;
    }
    const TPropInfo* own = p->ClassType().FindProperty(PropertyName);
    if (!own || own->Kind != prop->Kind) return nullptr;
  }
  return best->Factory(Designer, std::move(Selection), *prop);
}

void UnregisterDesignTime() {
  Palette().clear();
  Editors().clear();
}
