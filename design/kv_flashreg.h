// Design-time support: the package's palette page and its property editors.
// Only a form designer loads this; applications never need it.
#pragma once

#include "framework/designintf.h"

// The skins of the video player, in the order the designer offers them.
inline constexpr const wchar_t* kvSkinNames[] = {L"ClearOverAll", L"SteelOverAll", L"MojaveOverAll",
                                                 L"ArcticOverAll"};
// What the stored-movie editor's file dialog offers.
inline constexpr wchar_t kvFlashFileFilter[] =
    L"Flash,Video,XML and Media files|*.swf;*.flv;*.xml;*.jpg;*.png;*.mp3;*.txt|All Files|*.*";

// Fills a stored movie item from a file the user picks.
class TkvFlashStreamProperty : public TPropertyEditor {
public:
    using TPropertyEditor::TPropertyEditor;
    void Edit() override;
    TPropertyAttributes GetAttributes() override { return {paDialog}; }
    WideString GetValue() override;
};

// The video player's skin: one of the package's skins, or any name typed in.
class TkvSkinProperty : public TStringProperty {
public:
    using TStringProperty::TStringProperty;
    TPropertyAttributes GetAttributes() override { return {paValueList, paMultiSelect, paRevertable}; }
    WideString GetValue() override;
    void GetValues(const TGetStrProc& Proc) override;
    void SetValue(const WideString& Value) override;
};

// The unit's registration procedure: the designer calls it once when it
// loads the package. Scoped to the unit, so an application's own Register
// never meets it at link time.
namespace kv_flashreg {
void Register();
}  // namespace kv_flashreg

void kv_flashreg_Start();
void kv_flashreg_Stop();
