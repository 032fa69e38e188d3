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

// The type library's registration of one system kind (win32 or win64).
std::wstring TypeLibKey(const wchar_t* sysKind)
{
    wchar_t libid[64] = {};
    StringFromGUID2(LIBID_kvFlashPlayerObjects, libid, 64);
    return std::wstring(L"TypeLib\\") + libid + L"\\1.0\\0\\" + sysKind;
}

bool KeyExists(const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// Both architectures' controls register the same type library, each under
// its own system kind; either one's entries leave the other's registration.
TEST(RefControlRegistration, ItsOwnEntriesLeaveTheOtherArchitecturesTypeLibraryRegistration)
{
#ifdef _WIN64
    const std::wstring own = TypeLibKey(L"win64"), other = TypeLibKey(L"win32");
#else
    const std::wstring own = TypeLibKey(L"win32"), other = TypeLibKey(L"win64");
#endif
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    ASSERT_TRUE(KeyExists(own)) << "registered for this architecture";
    // The other architecture's registration, as its control leaves it (the
    // test session normally has it already).
    const bool otherWasThere = KeyExists(other);
    if (!otherWasThere) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, other.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        const wchar_t path[] = L"C:\\Other\\Flash.ocx";
        RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path), sizeof path);
        RegCloseKey(key);
    }

    std::wstring server = readDefault(std::wstring(kClsidKey) + L"\\InprocServer32");
    HMODULE module = LoadLibraryW(server.c_str());
    ASSERT_NE(module, nullptr);
    using Entry = HRESULT(STDAPICALLTYPE*)();
    auto unregister = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, "DllUnregisterServer")));
    auto reregister = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")));
    ASSERT_TRUE(unregister && reregister);
    EXPECT_EQ(unregister(), S_OK);
    EXPECT_FALSE(KeyExists(own));
    EXPECT_TRUE(KeyExists(other)) << "the other architecture's registration stays";
    EXPECT_EQ(unregister(), S_OK) << "nothing of ours left to unregister, though the library is still registered";
    EXPECT_TRUE(KeyExists(other));
    EXPECT_EQ(reregister(), S_OK);
    EXPECT_TRUE(KeyExists(own));
    EXPECT_TRUE(KeyExists(other));

    if (!otherWasThere)
        RegDeleteKeyW(HKEY_CLASSES_ROOT, other.c_str());
    FreeLibrary(module);
    OleUninitialize();
}

}  // namespace
