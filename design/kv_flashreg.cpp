#include "kv_flashreg.h"

#include <memory>

#include "framework/dialogs.h"
#include "framework/forms.h"
#include "kv_flashplayer.h"
#include "kv_flashstore.h"
#include "kv_layer.h"

namespace {

// The editors show a failure instead of passing it to the designer.
template <class F>
void Reported(F&& fn)
{
    try {
        fn();
    } catch (const Exception& e) {
        ShowMessage(e.Message());
    } catch (const std::exception& e) {
        ShowMessage(Utf8ToWide(e.what()));
    } catch (...) {
        ShowMessage(L"The skin could not be read or written.");
    }
}

WideString FileNameOnly(const WideString& path)
{
    const size_t slash = path.find_last_of(L"\\/:");
    return slash == WideString::npos ? path : path.substr(slash + 1);
}

}  // namespace

void TkvFlashStreamProperty::Edit()
{
    auto* item = dynamic_cast<TkvFlashStream*>(GetComponent(0));
    std::unique_ptr<TOpenDialog> dialog(new TOpenDialog(Application));
    dialog->Filter = kvFlashFileFilter;
    if (item && dialog->Execute()) {
        item->DataStream()->LoadFromFile(dialog->FileName);
        if (item->DataStream()->Size() > 0)
            item->SetFlashStore(FileNameOnly(dialog->FileName));
    }
    dialog.reset();
    Modified();
}

WideString TkvFlashStreamProperty::GetValue()
{
    auto* item = dynamic_cast<TkvFlashStream*>(GetComponent(0));
    return item ? item->GetFlashStore() : WideString();
}

WideString TkvSkinProperty::GetValue()
{
    WideString value;
    Reported([&] { value = TStringProperty::GetValue(); });
    return value;
}

void TkvSkinProperty::GetValues(const TGetStrProc& Proc)
{
    Reported([&] {
        for (const wchar_t* name : kvSkinNames)
            Proc(name);
    });
}

void TkvSkinProperty::SetValue(const WideString& Value)
{
    Reported([&] {
        TStringProperty::SetValue(Value);
        Modified();
    });
}

void kv_flashreg::Register()
{
    RegisterComponents(L"Korvel", {&TkvFlashList::StaticClass(), &TkvFlashPlayer::StaticClass(),
                                   &TkvFlashPlayerWnd::StaticClass(), &TkvFlashPlayerComp::StaticClass(),
                                   &TkvFlashLayer::StaticClass()});
    RegisterPropertyEditor(TPropKind::WideString, &TkvFlashStream::StaticClass(), L"FlashStore",
                           PropertyEditorClass<TkvFlashStreamProperty>());
    for (const TClassInfo* cls : {&TkvFlashPlayer::StaticClass(), &TkvFlashPlayerWnd::StaticClass(),
                                  &TkvFlashPlayerComp::StaticClass()})
        RegisterPropertyEditor(TPropKind::String, cls, L"Skin", PropertyEditorClass<TkvSkinProperty>());
}

void kv_flashreg_Start() {}
void kv_flashreg_Stop() {}
