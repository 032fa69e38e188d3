// What a form designer offers a component package: palette registration and
// property editors. The designer creates an editor for each property it shows
// and asks it for the text, the value list and the dialog. Platform-free.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "framework/classes.h"
#include "framework/typinfo.h"

enum TPropertyAttribute {
  paValueList,     // offers a list of values (GetValues)
  paSubProperties,
  paDialog,        // has a "..." button (Edit)
  paMultiSelect,   // may edit several selected components at once
  paAutoUpdate,
  paSortList,      // the designer sorts the value list
  paReadOnly,
  paRevertable,
};
using TPropertyAttributes = TSet<TPropertyAttribute>;

// The designer, as an editor sees it.
class IDesigner {
public:
  virtual ~IDesigner() = default;
  // The edited form changed and must be saved.
  virtual void Modified() = 0;
};

using TGetStrProc = std::function<void(const WideString&)>;

class TPropertyEditor : public TObject {
public:
  // Designer is not owned; Selection lists the edited objects (at least one),
  // all publishing a property of Prop's name and kind (each is reached through
  // its own class's property).
  TPropertyEditor(IDesigner* Designer, std::vector<TPersistent*> Selection, const TPropInfo& Prop);

  // --- overridden by editors, in this order ---------------------------------
  virtual void Activate() {}
  virtual bool AllEqual();
  virtual void Edit() {}
  virtual TPropertyAttributes GetAttributes() { return {paRevertable}; }
  virtual WideString GetValue() { return L"(unknown)"; }
  virtual void GetValues(const TGetStrProc& /*Proc*/) {}
  virtual void SetValue(const WideString& /*Value*/) {}

  IDesigner* Designer() const { return designer_; }
  int PropCount() const { return static_cast<int>(selection_.size()); }
  TPersistent* GetComponent(int Index) const;
  const TPropInfo& Prop() const { return prop_; }
  WideString GetName() const { return prop_.Name; }
  void Modified();

protected:
  // The property's text value of the first selected object (String and
  // WideString properties).
  WideString GetStrValue() const;
  // Writes Value to the property of every selected object.
  void SetStrValue(const WideString& Value);

private:
  IDesigner* designer_;
  std::vector<TPersistent*> selection_;
  const TPropInfo& prop_;
};

// The editor of string properties: the text itself, edited in place.
class TStringProperty : public TPropertyEditor {
public:
  using TPropertyEditor::TPropertyEditor;
  TPropertyAttributes GetAttributes() override { return {paMultiSelect, paRevertable}; }
  WideString GetValue() override { return GetStrValue(); }
  void SetValue(const WideString& Value) override { SetStrValue(Value); }
};

// Makes an editor of one class for a property.
using TPropertyEditorFactory = std::function<std::unique_ptr<TPropertyEditor>(
    IDesigner* Designer, std::vector<TPersistent*> Selection, const TPropInfo& Prop)>;

template <class E>
TPropertyEditorFactory PropertyEditorClass() {
  return [](IDesigner* d, std::vector<TPersistent*> s, const TPropInfo& p) {
    return std::unique_ptr<TPropertyEditor>(new E(d, std::move(s), p));
  };
}

// Puts component classes on a palette page, in the given order.
void RegisterComponents(const WideString& Page, std::initializer_list<const TClassInfo*> Classes);
// An editor for properties of kind PropertyType; ComponentClass (nullptr: any)
// and PropertyName (empty: any) narrow it. Later registrations win over
// earlier ones of equal precision.
void RegisterPropertyEditor(TPropKind PropertyType, const TClassInfo* ComponentClass, const WideString& PropertyName,
                            TPropertyEditorFactory EditorClass);

// --- the designer's side ------------------------------------------------------
struct TPaletteEntry {
  WideString Page;
  const TClassInfo* Class;
};
const std::vector<TPaletteEntry>& RegisteredComponents();
// The editor registered for a property of the first selected object, or
// nullptr when none was (the designer then uses its built-in editors).
std::unique_ptr<TPropertyEditor> CreatePropertyEditor(IDesigner* Designer, std::vector<TPersistent*> Selection,
                                                      const WideString& PropertyName);
// Forgets every registration (a designer unloading its packages).
void UnregisterDesignTime();
