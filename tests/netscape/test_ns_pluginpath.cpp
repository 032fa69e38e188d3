// Where the Netscape back-end finds the plug-in library: beside the program,
// then the registered path, then the player's default location. This program
// runs from a folder without the library; it copies the reference player's
// library around itself.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "kv_driver_netscape.h"
#include "kv_flashplayer.h"

namespace {

// The reference plug-in as built (a Unix path: Wine maps the root to Z:).
std::wstring BuiltPlugin()
{
    std::wstring p = L"Z:";
    for (const char* c = KV_REF_PLUGIN_PATH; *c; ++c)
        p += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    return p;
}

std::wstring ProgramFolder()
{
    wchar_t buf[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
    std::wstring path(buf, n);
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

const wchar_t kKey[] = L"SOFTWARE\\MozillaPlugins\\@adobe.com/FlashPlayer";

void Register(const std::wstring* path)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    if (path)
        RegSetValueExW(key, L"Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(path->c_str()),
                       static_cast<DWORD>((path->size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

void Unregister()
{
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKey);
}

class PluginPath : public ::testing::Test {
protected:
    void SetUp() override
    {
        Unregister();
        DeleteFileW((ProgramFolder() + L"npswf32.dll").c_str());
        // A copy somewhere else, to register.
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        registered = std::wstring(temp) + L"kv-registered-npswf32.dll";
        ASSERT_TRUE(CopyFileW(BuiltPlugin().c_str(), registered.c_str(), FALSE)) << "copy from " << BuiltPlugin().size();
    }
    void TearDown() override
    {
        kv_driver_netscape_Stop();
        Unregister();
        DeleteFileW((ProgramFolder() + L"npswf32.dll").c_str());
        DeleteFileW(registered.c_str());
    }
    std::wstring registered;
};

TEST_F(PluginPath, WithoutARegistrationTheDefaultLocationIsTried)
{
    kv_driver_netscape_Start();
    EXPECT_EQ(NetscapePluginLibraryPath(), L"C:\\Windows\\system32\\Macromed\\Flash\\NPSWF32.dll");
    EXPECT_FALSE(TkvFlashDriverNS::PluginExists());
    EXPECT_STREQ(SelectDriverClass(kvNetscape).ClassName(), L"TkvFlashDriver") << "no player: the base driver";
}

TEST_F(PluginPath, TheRegisteredPathWinsOverTheDefault)
{
    Register(&registered);
    kv_driver_netscape_Start();
    EXPECT_EQ(NetscapePluginLibraryPath(), registered);
    EXPECT_TRUE(TkvFlashDriverNS::PluginExists());
    EXPECT_STREQ(SelectDriverClass(kvDefault).ClassName(), L"TkvFlashDriverNS");
    kv_driver_netscape_Stop();
    EXPECT_FALSE(TkvFlashDriverNS::PluginExists()) << "shut down and unloaded at stop";
    EXPECT_EQ(GetModuleHandleW(registered.c_str()), nullptr);
}

TEST_F(PluginPath, ARegistrationWithoutAPathFindsNothing)
{
    Register(nullptr);
    kv_driver_netscape_Start();
    EXPECT_EQ(NetscapePluginLibraryPath(), L"");
    EXPECT_FALSE(TkvFlashDriverNS::PluginExists());
}

TEST_F(PluginPath, ALibraryBesideTheProgramWinsOverTheRegisteredPath)
{
    Register(&registered);
    ASSERT_TRUE(CopyFileW(BuiltPlugin().c_str(), (ProgramFolder() + L"npswf32.dll").c_str(), FALSE));
    kv_driver_netscape_Start();
    EXPECT_EQ(NetscapePluginLibraryPath(), ProgramFolder() + L"npswf32.dll");
    EXPECT_TRUE(TkvFlashDriverNS::PluginExists());
}

}  // namespace
