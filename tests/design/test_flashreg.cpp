// The package as a form designer sees it: its palette page and its two
// property editors, with the system's real file dialog and message box
// answered from inside their modal loops.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "framework/dialogs.h"
#include "framework/forms.h"
#include "kv_flashplayer.h"
#include "kv_flashreg.h"
#include "kv_flashstore.h"
#include "kv_layer.h"
#include "kv_package.h"

namespace {

class PackageEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        KvPackageStart();
        kv_flashreg::Register();
    }
    void TearDown() override
    {
        UnregisterDesignTime();
        KvPackageStop();
    }
};
[[maybe_unused]] ::testing::Environment* const kEnv = ::testing::AddGlobalTestEnvironment(new PackageEnvironment);

struct TDesigner final : IDesigner {
    int modified = 0;
    void Modified() override { ++modified; }
};

// Answers the next common dialog or message box this thread shows: types a
// file name (empty: cancels) or presses OK, and keeps the box's text.
class TDialogAnswer {
public:
    explicit TDialogAnswer(std::wstring fileName = {}, bool cancel = false)
    {
        current_ = this;
        fileName_ = std::move(fileName);
        cancel_ = cancel;
        timer_ = SetTimer(nullptr, 0, 30, &Tick);
    }
    ~TDialogAnswer()
    {
        KillTimer(nullptr, timer_);
        current_ = nullptr;
    }
    std::wstring shownText;
    bool answered = false;

private:
    static BOOL CALLBACK Find(HWND w, LPARAM out)
    {
        wchar_t cls[16] = {};
        GetClassNameW(w, cls, 16);
        if (IsWindowVisible(w) && std::wstring(cls) == L"#32770") {
            *reinterpret_cast<HWND*>(out) = w;
            return FALSE;
        }
        return TRUE;
    }
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD)
    {
        TDialogAnswer* self = current_;
        if (!self || self->answered)
            return;
        HWND dlg = nullptr;
        EnumThreadWindows(GetCurrentThreadId(), &Find, reinterpret_cast<LPARAM>(&dlg));
        if (!dlg)
            return;
        self->answered = true;
        wchar_t text[512] = {};
        if (GetDlgItemTextW(dlg, 0xFFFF, text, 512))
            self->shownText = text;
        if (self->cancel_) {
            PostMessageW(dlg, WM_COMMAND, IDCANCEL, 0);
            return;
        }
        if (!self->fileName_.empty()) {
            // The explorer-style dialog's file name box, or the old style's edit.
            if (!SetDlgItemTextW(dlg, 0x47C, self->fileName_.c_str()))
                SetDlgItemTextW(dlg, 0x480, self->fileName_.c_str());
        }
        PostMessageW(dlg, WM_COMMAND, IDOK, 0);
    }
    static inline TDialogAnswer* current_ = nullptr;
    UINT_PTR timer_ = 0;
    std::wstring fileName_;
    bool cancel_ = false;
};

std::wstring TempFile(const wchar_t* name, const std::string& bytes)
{
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    const std::wstring path = std::wstring(dir) + name;
    if (FILE* f = _wfopen(path.c_str(), L"wb")) {
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }
    return path;
}

TEST(DesignTime, ThePalettePageHoldsTheFiveComponentsInOrder)
{
    std::vector<std::wstring> names;
    for (const TPaletteEntry& e : RegisteredComponents()) {
        EXPECT_EQ(e.Page, L"Korvel");
        names.push_back(e.Class->ClassName());
    }
    EXPECT_EQ(names, (std::vector<std::wstring>{L"TkvFlashList", L"TkvFlashPlayer", L"TkvFlashPlayerWnd",
                                                L"TkvFlashPlayerComp", L"TkvFlashLayer"}));
}

TEST(DesignTime, EveryComponentHasAPaletteIconOfItsColourDepth)
{
    const struct {
        const wchar_t* name;
        WORD bits;
    } icons[] = {{L"TKVFLASHLIST", 4},       {L"TKVFLASHPLAYER", 4}, {L"TKVFLASHPLAYERWND", 8},
                 {L"TKVFLASHPLAYERCOMP", 8}, {L"TKVFLASHLAYER", 8},  {L"TKVLAYERWINDOW", 8}};
    for (const auto& icon : icons) {
        // The package's module is this program.
        HANDLE h = LoadImageW(GetModuleHandleW(nullptr), icon.name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
        ASSERT_NE(h, nullptr) << "no bitmap " << std::string(icon.name, icon.name + wcslen(icon.name));
        DIBSECTION dib{};
        ASSERT_EQ(GetObjectW(h, sizeof dib, &dib), static_cast<int>(sizeof dib));
        EXPECT_EQ(dib.dsBm.bmWidth, 24);
        EXPECT_EQ(dib.dsBm.bmHeight, 24);
        EXPECT_EQ(dib.dsBmih.biBitCount, icon.bits);
        DeleteObject(h);
    }
}

TEST(DesignTime, TheSkinEditorOffersTheSkinsAndTakesAnyName)
{
    TDesigner designer;
    auto owner = std::make_unique<TComponent>(nullptr);
    auto* a = new TkvFlashPlayer(owner.get());
    auto* b = new TkvFlashPlayerComp(owner.get());
    // Different classes, one property: the designer edits them together.
    auto editor = CreatePropertyEditor(&designer, {a}, L"Skin");
    ASSERT_NE(dynamic_cast<TkvSkinProperty*>(editor.get()), nullptr);
    EXPECT_EQ(editor->GetAttributes(), (TPropertyAttributes{paValueList, paMultiSelect, paRevertable}));
    std::vector<std::wstring> offered;
    editor->GetValues([&](const WideString& s) { offered.push_back(s); });
    EXPECT_EQ(offered, (std::vector<std::wstring>{L"ClearOverAll", L"SteelOverAll", L"MojaveOverAll",
                                                  L"ArcticOverAll"}));
    EXPECT_EQ(editor->GetValue(), L"ClearOverAll");

    auto both = CreatePropertyEditor(&designer, {a, b}, L"Skin");
    ASSERT_NE(both, nullptr);
    both->SetValue(L"MyOwnSkin");
    EXPECT_EQ(a->GetSkin(), "MyOwnSkin");
    EXPECT_EQ(b->GetSkin(), "MyOwnSkin");
    EXPECT_EQ(designer.modified, 1);

    EXPECT_NE(dynamic_cast<TkvSkinProperty*>(CreatePropertyEditor(&designer, {new TkvFlashPlayerWnd(owner.get())},
                                                                   L"Skin").get()),
              nullptr);
    // The layered window is on the palette but has no skin editor.
    auto* layerForm = new TForm(owner.get());
    auto* layer = new TkvFlashLayer(layerForm);
    EXPECT_EQ(dynamic_cast<TkvSkinProperty*>(CreatePropertyEditor(&designer, {layer}, L"Skin").get()), nullptr);
    // ...also when it is selected together with a player.
    EXPECT_EQ(dynamic_cast<TkvSkinProperty*>(CreatePropertyEditor(&designer, {a, layer}, L"Skin").get()), nullptr);
}

TEST(DesignTime, StoredMovieEditorFillsTheItemFromAPickedFile)
{
    TDesigner designer;
    auto owner = std::make_unique<TComponent>(nullptr);
    auto* store = new TkvFlashList(owner.get());
    TkvFlashStream* item = store->Flashs()->Add();
    auto editor = CreatePropertyEditor(&designer, {item}, L"FlashStore");
    ASSERT_NE(dynamic_cast<TkvFlashStreamProperty*>(editor.get()), nullptr);
    EXPECT_EQ(editor->GetAttributes(), TPropertyAttributes{paDialog});
    EXPECT_EQ(editor->GetValue(), L"(empty)");

    const std::wstring movie = TempFile(L"kv_design_movie.swf", "FWS\x08 movie bytes");
    {
        TDialogAnswer answer(movie);
        editor->Edit();
        EXPECT_TRUE(answer.answered);
    }
    EXPECT_EQ(item->DataStream()->Size(), 16);
    EXPECT_EQ(editor->GetValue(), L"kv_design_movie.swf");
    EXPECT_NE(FindStoredFile(L"kv_design_movie.swf"), nullptr) << "the registry follows the new name";
    EXPECT_EQ(designer.modified, 1);

    // Cancelling changes nothing but still marks the form as modified.
    {
        TDialogAnswer answer({}, true);
        editor->Edit();
    }
    EXPECT_EQ(editor->GetValue(), L"kv_design_movie.swf");
    EXPECT_EQ(designer.modified, 2);

    // An empty file leaves the name, and the item shows as empty.
    const std::wstring empty = TempFile(L"kv_design_empty.swf", "");
    {
        TDialogAnswer answer(empty);
        editor->Edit();
    }
    EXPECT_EQ(item->DataStream()->Size(), 0);
    EXPECT_EQ(editor->GetValue(), L"(empty)");
    EXPECT_EQ(item->Name(), L"kv_design_movie.swf");
    DeleteFileW(movie.c_str());
    DeleteFileW(empty.c_str());
}

// An object whose Skin refuses some values, to see how the editor reports it.
class TPickySkin : public TComponent {
    KV_CLASS(TPickySkin, TComponent)
public:
    explicit TPickySkin(TComponent* owner) : TComponent(owner) {}
    AnsiString GetSkin() const { return skin_; }
    void SetSkin(const AnsiString& v)
    {
        if (v == "bad")
            throw EConvertError(L"No such skin here");
        skin_ = v;
    }

private:
    AnsiString skin_ = "ClearOverAll";
};

TEST(DesignTime, SkinEditorShowsErrorsInsteadOfRaisingThem)
{
    TDesigner designer;
    TPickySkin picky(nullptr);
    const TPropInfo* prop = picky.ClassType().FindProperty(L"Skin");
    ASSERT_NE(prop, nullptr);
    TkvSkinProperty editor(&designer, {&picky}, *prop);
    {
        TDialogAnswer answer;
        editor.SetValue(L"bad");
        EXPECT_TRUE(answer.answered);
        EXPECT_EQ(answer.shownText, L"No such skin here");
    }
    EXPECT_EQ(picky.GetSkin(), "ClearOverAll");
    EXPECT_EQ(designer.modified, 0);
}

}  // namespace

const TClassInfo& TPickySkin::StaticClass()
{
    static const TClassInfo info =
        TClassBuilder<TPickySkin>(L"TPickySkin").String(L"Skin", &TPickySkin::GetSkin, &TPickySkin::SetSkin).Build();
    return info;
}

// An application's own global Register links into the same program as the
// package: the designer's registration is scoped to its unit.
int g_applicationRegisterCalls = 0;
void Register() { ++g_applicationRegisterCalls; }

TEST(DesignTime, AnApplicationsOwnRegisterLinksBesideTheDesigners)
{
    const std::size_t pages = RegisteredComponents().size();
    Register();
    EXPECT_EQ(g_applicationRegisterCalls, 1);
    EXPECT_EQ(RegisteredComponents().size(), pages);  // the package's registration did not run again
}
