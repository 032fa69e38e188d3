// The control is installed the way the player is: regsvr32 registered it
// under its class id and ProgID with its type library; its own entries undo
// and redo that.
#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>

#include <string>

#include "kv_flashocx.h"

namespace {

std::wstring readDefault(const std::wstring& path, const wchar_t* name = nullptr)
{
    wchar_t buf[MAX_PATH * 2] = {};
    DWORD size = sizeof buf;
    if (RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), name, RRF_RT_REG_SZ, nullptr, buf, &size) != ERROR_SUCCESS)
        return L"<missing>";
    return buf;
}

const wchar_t kClsidKey[] = L"CLSID\\{D27CDB6E-AE6D-11CF-96B8-444553540000}";

TEST(RefControlRegistration, ServerProgIdAndTypeLibraryAreRegisteredAndUndoneByItsOwnEntries)
{
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    std::wstring server = readDefault(std::wstring(kClsidKey) + L"\\InprocServer32");
    ASSERT_NE(server, L"<missing>");
    EXPECT_NE(server.find(L"Flash.ocx"), std::wstring::npos);
    EXPECT_EQ(readDefault(std::wstring(kClsidKey) + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
    EXPECT_EQ(readDefault(std::wstring(kClsidKey) + L"\\MiscStatus\\1"), L"131473");

    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(L"ShockwaveFlash.ShockwaveFlash", &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_kvFlashPlayer));
    ITypeLib* lib = nullptr;
    ASSERT_EQ(LoadRegTypeLib(LIBID_kvFlashPlayerObjects, 1, 0, 0, &lib), S_OK);
    ITypeInfo* info = nullptr;
    EXPECT_EQ(lib->GetTypeInfoOfGuid(DIID__IkvFlashPlayerEvents, &info), S_OK);
    if (info)
        info->Release();
    lib->Release();

    // Its own entries, as regsvr32 /u and regsvr32 call them.
    HMODULE module = LoadLibraryW(server.c_str());
    ASSERT_NE(module, nullptr);
    using Entry = HRESULT(STDAPICALLTYPE*)();
    auto unregister = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, "DllUnregisterServer")));
    auto reregister = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")));
    ASSERT_TRUE(unregister && reregister);
    ASSERT_EQ(unregister(), S_OK);
    IUnknown* object = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_kvFlashPlayer, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&object)),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(CLSIDFromProgID(L"ShockwaveFlash.ShockwaveFlash", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(unregister(), S_OK) << "unregistering twice is no failure";
    ASSERT_EQ(reregister(), S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_kvFlashPlayer, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&object)),
              S_OK);
    object->Release();
    FreeLibrary(module);
    OleUninitialize();
}

}  // namespace
