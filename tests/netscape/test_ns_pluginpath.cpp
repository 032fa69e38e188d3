// Where the Netscape back-end finds the plug-in library: beside the program,
// then the registered path (in the registry view of the program's
// architecture), then the player's default location; and that it never loads
// a library built for the other architecture. This program runs from a folder
// without the library; it copies the reference player's library (both
// architectures' builds) around itself.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "kv_driver_netscape.h"
#include "kv_flashplayer.h"
#include "kv_hostfiles.h"

namespace {

// A Unix path as Wine shows it (the root is drive Z:).
std::wstring WinePath(const char* unixPath)
{
    std::wstring p = L"Z:";
    for (const char* c = unixPath; *c; ++c)
        p += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    return p;
}

// The reference plug-in as built, and as the other architecture's build of
// this tree built it.
std::wstring BuiltPlugin() { return WinePath(KV_REF_PLUGIN_PATH); }
std::wstring OtherArchitecturePlugin() { return WinePath(KV_OTHER_ARCH_BIN "/npswf32.dll"); }

#ifdef _WIN64
constexpr REGSAM kOwnView = KEY_WOW64_64KEY;
constexpr REGSAM kOtherView = KEY_WOW64_32KEY;
constexpr WORD kOtherMachine = IMAGE_FILE_MACHINE_I386;
#else
constexpr REGSAM kOwnView = KEY_WOW64_32KEY;
constexpr REGSAM kOtherView = KEY_WOW64_64KEY;
constexpr WORD kOtherMachine = IMAGE_FILE_MACHINE_AMD64;
#endif

std::wstring ProgramFolder()
{
    wchar_t buf[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
    std::wstring path(buf, n);
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

const wchar_t kKey[] = L"SOFTWARE\\MozillaPlugins\\@adobe.com/FlashPlayer";

// Registers in the program's own registry view unless told otherwise.
void Register(const std::wstring* path, REGSAM view = 0)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    if (path)
        RegSetValueExW(key, L"Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(path->c_str()),
                       static_cast<DWORD>((path->size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

// Both views: a 64-bit Windows keeps 32-bit programs' HKLM\SOFTWARE apart.
void Unregister()
{
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kKey, KEY_WOW64_64KEY, 0);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kKey, KEY_WOW64_32KEY, 0);
}

bool IsRegisteredIn(REGSAM view)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
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
        other = std::wstring(temp) + L"kv-other-arch-npswf32.dll";
    }
    void TearDown() override
    {
        kv_driver_netscape_Stop();
        Unregister();
        DeleteFileW((ProgramFolder() + L"npswf32.dll").c_str());
        DeleteFileW(registered.c_str());
        DeleteFileW(other.c_str());
    }
    // A copy of the other architecture's library at `to`.
    void CopyOtherArchitecture(const std::wstring& to)
    {
        ASSERT_TRUE(IsExistingFile(OtherArchitecturePlugin()))
            << "the other architecture's build of this tree is missing: " << OtherArchitecturePlugin().size();
        ASSERT_TRUE(CopyFileW(OtherArchitecturePlugin().c_str(), to.c_str(), FALSE));
    }
    std::wstring registered;
    std::wstring other;
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

TEST_F(PluginPath, OnlyTheRegistryViewOfTheProgramsArchitectureIsRead)
{
    // Registered for the other architecture only: as if nothing were registered.
    Register(&registered, kOtherView);
    ASSERT_TRUE(IsRegisteredIn(kOtherView));
    ASSERT_FALSE(IsRegisteredIn(kOwnView)) << "the two views are apart";
    kv_driver_netscape_Start();
    EXPECT_EQ(NetscapePluginLibraryPath(), L"C:\\Windows\\system32\\Macromed\\Flash\\NPSWF32.dll");
    EXPECT_FALSE(TkvFlashDriverNS::PluginExists());
    kv_driver_netscape_Stop();

    // Registered for this architecture only (for a 32-bit program, the 32-bit view).
    Unregister();
    Register(&registered, kOwnView);
    ASSERT_FALSE(IsRegisteredIn(kOtherView));
    kv_driver_netscape_Start();
    EXPECT_EQ(NetscapePluginLibraryPath(), registered);
    EXPECT_TRUE(TkvFlashDriverNS::PluginExists());
}

TEST_F(PluginPath, ImageMachinesAreReadFromTheHeader)
{
    EXPECT_EQ(ImageMachine(BuiltPlugin()), ProcessMachine());
    EXPECT_TRUE(IsLibraryForThisProcess(BuiltPlugin()));
    ASSERT_NO_FATAL_FAILURE(CopyOtherArchitecture(other));
    EXPECT_EQ(ImageMachine(other), kOtherMachine);
    EXPECT_FALSE(IsLibraryForThisProcess(other));

    EXPECT_EQ(ImageMachine(L""), 0);
    EXPECT_EQ(ImageMachine(other + L".missing"), 0);
    // Not an image: a text file, and a header whose PE offset points past the end.
    const std::wstring junk = other + L".txt";
    for (const std::string& bytes : {std::string("just some text, long enough to read a DOS header from it......"),
                                     std::string("MZ") + std::string(58, '\0') + std::string("\xF0\xFF\x00\x00", 4)}) {
        HANDLE f = CreateFileW(junk.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(f, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(f);
        EXPECT_EQ(ImageMachine(junk), 0) << bytes.substr(0, 2);
        EXPECT_FALSE(IsLibraryForThisProcess(junk));
    }
    DeleteFileW(junk.c_str());
}

TEST_F(PluginPath, OnlyTheOtherArchitecturesLibraryInstalledMeansNoPlayer)
{
    // Registered: the path is the registered one, but nothing is loaded.
    ASSERT_NO_FATAL_FAILURE(CopyOtherArchitecture(other));
    Register(&other);
    kv_driver_netscape_Start();
    EXPECT_EQ(NetscapePluginLibraryPath(), other);
    EXPECT_FALSE(TkvFlashDriverNS::PluginExists());
    EXPECT_EQ(GetModuleHandleW(other.c_str()), nullptr) << "never loaded";
    EXPECT_STREQ(SelectDriverClass(kvNetscape).ClassName(), L"TkvFlashDriver") << "no player: the base driver";

    // Beside the program: passed over like a missing library.
    kv_driver_netscape_Stop();
    Unregister();
    const std::wstring beside = ProgramFolder() + L"npswf32.dll";
    ASSERT_NO_FATAL_FAILURE(CopyOtherArchitecture(beside));
    kv_driver_netscape_Start();
    EXPECT_EQ(NetscapePluginLibraryPath(), L"C:\\Windows\\system32\\Macromed\\Flash\\NPSWF32.dll");
    EXPECT_FALSE(TkvFlashDriverNS::PluginExists());
    EXPECT_EQ(GetModuleHandleW(beside.c_str()), nullptr);
}

TEST_F(PluginPath, ALibraryOfTheOtherArchitectureBesideTheProgramLeavesTheRegisteredOne)
{
    Register(&registered);
    ASSERT_NO_FATAL_FAILURE(CopyOtherArchitecture(ProgramFolder() + L"npswf32.dll"));
    kv_driver_netscape_Start();
    EXPECT_EQ(NetscapePluginLibraryPath(), registered);
    EXPECT_TRUE(TkvFlashDriverNS::PluginExists());
}

}  // namespace
