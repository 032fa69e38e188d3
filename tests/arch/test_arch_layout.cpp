// The records, tables and exports a program exchanges with the player, as the
// running program of each architecture sees them: the plug-in API records have
// the published sizes of their architecture (32-bit: 172, 60, 28, ...), the
// libraries export their entries undecorated, and the control's type library
// carries the function offsets and system kind of the program's architecture,
// so a call made through it lands on the right method.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "kv_flashocx.h"
#include "kv_nsinternal.h"
#include "npapi/npfunctions.h"

namespace {

constexpr bool k32 = sizeof(void*) == 4;
constexpr std::size_t P = sizeof(void*);

std::wstring WinePath(const char* unixPath)
{
    std::wstring p = L"Z:";
    for (const char* c = unixPath; *c; ++c)
        p += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    return p;
}

TEST(RecordLayouts, PluginApiRecordsHaveThePublishedSizesOfTheirArchitecture)
{
    EXPECT_EQ(sizeof(NPNetscapeFuncs), k32 ? 172u : 344u);
    EXPECT_EQ(sizeof(NPPluginFuncs), k32 ? 60u : 120u);
    EXPECT_EQ(sizeof(NPStream), k32 ? 28u : 48u);
    EXPECT_EQ(sizeof(NPWindow), k32 ? 32u : 40u);
    EXPECT_EQ(sizeof(NPEvent), k32 ? 12u : 24u);
    EXPECT_EQ(sizeof(NPVariant), k32 ? 16u : 24u);
    EXPECT_EQ(offsetof(NPVariant, value), 8u) << "a 32-bit type, then the value aligned for a double";
    EXPECT_EQ(sizeof(NPObject), 2 * P);
    EXPECT_EQ(sizeof(NPClass), k32 ? 52u : 104u);

    // Both tables: a 16-bit size and version, then one pointer per entry.
    const std::size_t first = k32 ? 4 : 8;
    EXPECT_EQ(offsetof(NPNetscapeFuncs, geturl), first);
    EXPECT_EQ(offsetof(NPNetscapeFuncs, geturlnotify), first + 14 * P);
    EXPECT_EQ(offsetof(NPNetscapeFuncs, getvalue), first + 16 * P);
    EXPECT_EQ(offsetof(NPNetscapeFuncs, invalidaterect), first + 18 * P);
    EXPECT_EQ(offsetof(NPNetscapeFuncs, invoke), first + 30 * P);
    EXPECT_EQ(offsetof(NPNetscapeFuncs, evaluate), first + 32 * P);
    EXPECT_EQ(offsetof(NPNetscapeFuncs, poppopupsenabledstate), k32 ? 168u : 336u);
    EXPECT_EQ(offsetof(NPPluginFuncs, newp), first);
    EXPECT_EQ(offsetof(NPPluginFuncs, event), first + 9 * P);
    EXPECT_EQ(offsetof(NPPluginFuncs, setvalue), first + 13 * P);
    EXPECT_EQ(offsetof(NPStream, url), 2 * P);
    EXPECT_EQ(offsetof(NPStream, notifyData), k32 ? 20u : 32u);
    EXPECT_EQ(offsetof(NPStream, headers), k32 ? 24u : 40u);
    EXPECT_EQ(offsetof(NPWindow, clipRect), k32 ? 20u : 24u);
    EXPECT_EQ(offsetof(NPEvent, lParam), 2 * P);
}

TEST(RecordLayouts, TheTablesExchangedWithTheLibraryCarryTheirArchitecturesSizes)
{
    const NPNetscapeFuncs& browser = kvns::BrowserFuncs();
    EXPECT_EQ(browser.size, k32 ? 172 : 344);
    EXPECT_EQ(browser.version, 18);
    EXPECT_NE(browser.poppopupsenabledstate, nullptr) << "the last entry is filled";

    HMODULE plugin = LoadLibraryW(WinePath(KV_REF_PLUGIN_PATH).c_str());
    ASSERT_NE(plugin, nullptr);
    // The entries are __stdcall on 32-bit Windows and exported without the
    // @N decoration, as hosts look them up.
    for (const char* name : {"NP_GetEntryPoints", "NP_Initialize", "NP_Shutdown", "Flash_DisableLocalSecurity"})
        EXPECT_NE(GetProcAddress(plugin, name), nullptr) << name;
    if (k32) {
        EXPECT_EQ(GetProcAddress(plugin, "_NP_GetEntryPoints@4"), nullptr);
    }
    auto getEntryPoints =
        reinterpret_cast<NP_GetEntryPointsFunc>(reinterpret_cast<void*>(GetProcAddress(plugin, "NP_GetEntryPoints")));
    ASSERT_NE(getEntryPoints, nullptr);
    NPPluginFuncs funcs{};
    ASSERT_EQ(getEntryPoints(&funcs), NPERR_NO_ERROR);
    EXPECT_EQ(funcs.size, k32 ? 60 : 120) << "a whole table of this architecture";
    EXPECT_NE(funcs.newp, nullptr);
    EXPECT_NE(funcs.setvalue, nullptr) << "the last entry is filled";
    FreeLibrary(plugin);
}

class TypeLibrary : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        ASSERT_EQ(LoadTypeLibEx(WinePath(KV_REF_CONTROL_PATH).c_str(), REGKIND_NONE, &lib), S_OK);
        ITypeInfo* dispatch = nullptr;
        ASSERT_EQ(lib->GetTypeInfoOfGuid(IID_IkvFlashPlayer, &dispatch), S_OK);
        // A dual interface: its vtable half is the implemented type -1.
        HREFTYPE ref = 0;
        const HRESULT hr = dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref);
        if (SUCCEEDED(hr))
            dispatch->GetRefTypeInfo(ref, &player);
        dispatch->Release();
        ASSERT_NE(player, nullptr);
    }
    void TearDown() override
    {
        if (player)
            player->Release();
        if (lib)
            lib->Release();
        OleUninitialize();
    }
    // The function of the vtable interface with this id and kind.
    FUNCDESC* Find(MEMBERID id, INVOKEKIND kind)
    {
        TYPEATTR* attr = nullptr;
        if (FAILED(player->GetTypeAttr(&attr)))
            return nullptr;
        const UINT count = attr->cFuncs;
        player->ReleaseTypeAttr(attr);
        for (UINT i = 0; i < count; ++i) {
            FUNCDESC* f = nullptr;
            if (SUCCEEDED(player->GetFuncDesc(i, &f))) {
                if (f->memid == id && f->invkind == kind)
                    return f;
                player->ReleaseFuncDesc(f);
            }
        }
        return nullptr;
    }
    ITypeLib* lib = nullptr;
    ITypeInfo* player = nullptr;
};

TEST_F(TypeLibrary, ItsSystemKindAndFunctionOffsetsFollowThePointerSize)
{
    TLIBATTR* libAttr = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&libAttr), S_OK);
    EXPECT_EQ(libAttr->syskind, k32 ? SYS_WIN32 : SYS_WIN64);
    lib->ReleaseTLibAttr(libAttr);

    TYPEATTR* attr = nullptr;
    ASSERT_EQ(player->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
    const UINT count = attr->cFuncs;
    // IUnknown's three and IDispatch's four slots come first.
    EXPECT_EQ(attr->cbSizeVft, (7 + count) * P);
    player->ReleaseTypeAttr(attr);
    ASSERT_GT(count, 30u);
    for (UINT i = 0; i < count; ++i) {
        FUNCDESC* f = nullptr;
        ASSERT_EQ(player->GetFuncDesc(i, &f), S_OK);
        EXPECT_EQ(static_cast<std::size_t>(f->oVft), (7 + i) * P) << "function " << i;
        EXPECT_EQ(f->callconv, CC_STDCALL);
        player->ReleaseFuncDesc(f);
    }
}

TEST_F(TypeLibrary, ACallThroughItsOffsetsReachesTheControlsMethod)
{
    // The control straight from its library: no registration involved.
    HMODULE ocx = LoadLibraryW(WinePath(KV_REF_CONTROL_PATH).c_str());
    ASSERT_NE(ocx, nullptr);
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto getClassObject =
        reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(ocx, "DllGetClassObject")));
    ASSERT_NE(getClassObject, nullptr) << "exported undecorated";
    IClassFactory* factory = nullptr;
    ASSERT_EQ(getClassObject(CLSID_kvFlashPlayer, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    IkvFlashPlayer* control = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IkvFlashPlayer, reinterpret_cast<void**>(&control)), S_OK);
    factory->Release();

    FUNCDESC* put = Find(0x7b, INVOKE_PROPERTYPUT);  // BackgroundColor
    FUNCDESC* get = Find(0x7b, INVOKE_PROPERTYGET);
    ASSERT_TRUE(put && get);

    VARIANT result;
    VariantInit(&result);
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_I4;
    V_I4(&value) = 0x123456;
    VARTYPE types[] = {VT_I4};
    VARIANTARG* args[] = {&value};
    ASSERT_EQ(DispCallFunc(control, put->oVft, CC_STDCALL, VT_ERROR, 1, types, args, &result), S_OK);
    EXPECT_EQ(V_ERROR(&result), S_OK);
    long direct = 0;
    ASSERT_EQ(control->get_BackgroundColor(&direct), S_OK);
    EXPECT_EQ(direct, 0x123456) << "the offset's method is the interface's";

    control->put_BackgroundColor(0x654321);
    long through = 0;
    VARIANT out;
    VariantInit(&out);
    V_VT(&out) = VT_BYREF | VT_I4;
    V_I4REF(&out) = &through;
    VARTYPE outTypes[] = {VT_BYREF | VT_I4};
    VARIANTARG* outArgs[] = {&out};
    ASSERT_EQ(DispCallFunc(control, get->oVft, CC_STDCALL, VT_ERROR, 1, outTypes, outArgs, &result), S_OK);
    EXPECT_EQ(V_ERROR(&result), S_OK);
    EXPECT_EQ(through, 0x654321);

    player->ReleaseFuncDesc(put);
    player->ReleaseFuncDesc(get);
    control->Release();
    FreeLibrary(ocx);
}

}  // namespace
