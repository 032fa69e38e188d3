// A program never uses the other architecture's Flash control. A 64-bit
// Windows keeps the class registrations of 32-bit and 64-bit programs in two
// registry views; with only the other architecture's control installed, or
// with this view naming the other architecture's library, creating the
// control fails and the ActiveX back-end answers "no control": a driver of
// its class keeps showing its background. The control of this build is
// unregistered and registered again around each case.
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <string>

#include "kv_driver_activex.h"
#include "kv_flashocx.h"
#include "kv_flashplayer.h"
#include "kv_hostfiles.h"
#include "kv_package.h"
#include "kv_pixels.h"

namespace {

std::wstring WinePath(const char* unixPath)
{
    std::wstring p = L"Z:";
    for (const char* c = unixPath; *c; ++c)
        p += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    return p;
}

#ifdef _WIN64
constexpr REGSAM kOwnView = KEY_WOW64_64KEY;
constexpr REGSAM kOtherView = KEY_WOW64_32KEY;
#else
constexpr REGSAM kOwnView = KEY_WOW64_32KEY;
constexpr REGSAM kOtherView = KEY_WOW64_64KEY;
#endif

const wchar_t kServerKey[] = L"Software\\Classes\\CLSID\\{D27CDB6E-AE6D-11CF-96B8-444553540000}\\InprocServer32";

// The in-process server a registry view names for the control ("" for none).
std::wstring ServerIn(REGSAM view)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kServerKey, 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return L"";
    wchar_t buf[MAX_PATH * 2] = {};
    DWORD size = sizeof buf - sizeof(wchar_t);
    DWORD type = 0;
    const LSTATUS read = RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(key);
    return read == ERROR_SUCCESS && type == REG_SZ ? std::wstring(buf) : std::wstring();
}

void SetServerIn(REGSAM view, const std::wstring& path)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kServerKey, 0, nullptr, 0, KEY_WRITE | view, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                   static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
    const wchar_t model[] = L"Apartment";
    RegSetValueExW(key, L"ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(model), sizeof model);
    RegCloseKey(key);
}

class OtherArchitectureControl : public ::testing::Test {
protected:
    using Entry = HRESULT(STDAPICALLTYPE*)();

    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        oleStarted = true;
        other = WinePath(KV_OTHER_ARCH_BIN "/Flash.ocx");
        ASSERT_TRUE(IsExistingFile(other)) << "the other architecture's build of this tree is missing";
        own = LoadLibraryW(WinePath(KV_REF_CONTROL_PATH).c_str());
        ASSERT_NE(own, nullptr);
        registerOwn = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(own, "DllRegisterServer")));
        unregisterOwn = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(own, "DllUnregisterServer")));
        ASSERT_TRUE(registerOwn && unregisterOwn);
        ASSERT_EQ(unregisterOwn(), S_OK);
        ASSERT_EQ(ServerIn(kOwnView), L"") << "unregistered from this architecture's view";
        // The other architecture's control, installed the way its regsvr32
        // installs it (the session has normally done so already).
        if (ServerIn(kOtherView).empty())
            SetServerIn(kOtherView, other);
    }
    void TearDown() override
    {
        if (packageStarted)
            KvPackageStop();
        if (registerOwn) {
            EXPECT_EQ(registerOwn(), S_OK) << "this architecture's control registered again";
        }
        if (own)
            FreeLibrary(own);
        if (oleStarted)
            OleUninitialize();
    }
    void StartPackage()
    {
        KvPackageStart();
        packageStarted = true;
    }
    // Creating the control the way the back-end does fails, and the back-end
    // reports no control: its driver keeps the background it was made with.
    void ExpectNoControl()
    {
        IUnknown* object = nullptr;
        const HRESULT hr = CoCreateInstance(CLSID_kvFlashPlayer, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                            IID_IUnknown, reinterpret_cast<void**>(&object));
        EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
        if (object)
            object->Release();

        StartPackage();
        CheckFlashPlugins();
        EXPECT_TRUE(ActiveXChecked());
        EXPECT_FALSE(ActiveXAvailable());
        EXPECT_STRNE(SelectDriverClass(kvActiveX).ClassName(), L"TkvFlashDriverActiveX");
        EXPECT_STRNE(SelectDriverClass(kvDefault).ClassName(), L"TkvFlashDriverActiveX");

        // A driver of the ActiveX class itself: no control, every operation a no-op.
        TkvFlashDriver* driver = TkvFlashDriverActiveX::ClassRef().Create(40, 30, kBackground);
        ASSERT_NE(driver, nullptr);
        auto* ax = dynamic_cast<TkvFlashDriverActiveX*>(driver);
        ASSERT_NE(ax, nullptr);
        EXPECT_TRUE(ax->NoControl);
        EXPECT_EQ(ax->OleObject, nullptr);
        ax->LoadMovie(L"C:\\nothing.swf");
        ax->Play();
        EXPECT_FALSE(ax->GetIsPlaying());
        FreeFlashDriver(driver);

        // A player asking for the ActiveX back-end gets the driver without a
        // player, and its buffer keeps the background it was erased to.
        TkvEraseBackgroundEvent erase([](TObject* sender, const TRect& r) {
            auto* d = static_cast<TkvFlashDriver*>(sender);
            FillLongwordRect(d->Bits, d->Width, d->Height, r.left, r.top, r.right, r.bottom, kBackground);
        });
        ChangePlugin(driver, kvActiveX, L"C:\\nothing.swf", 40, 30, kBackground, nullptr, TkvPaintEvent(), erase,
                     TkvFSCommandEvent(), TkvFlashCallEvent());
        ASSERT_NE(driver, nullptr);
        EXPECT_STREQ(driver->DriverClass().ClassName(), L"TkvFlashDriver");
        driver->Play();
        ASSERT_NE(driver->Bits, nullptr);
        const auto* pixels = static_cast<const std::uint32_t*>(driver->Bits);
        EXPECT_EQ(pixels[0], kBackground) << "the background is shown";
        EXPECT_EQ(pixels[40 * 30 - 1], kBackground);
        FreeFlashDriver(driver);
    }

    static constexpr std::uint32_t kBackground = 0xFF102030u;
    bool oleStarted = false;
    bool packageStarted = false;
    std::wstring other;
    HMODULE own = nullptr;
    Entry registerOwn = nullptr;
    Entry unregisterOwn = nullptr;
};

TEST_F(OtherArchitectureControl, OnlyTheOtherArchitecturesControlInstalledMeansNoControl)
{
    ASSERT_FALSE(ServerIn(kOtherView).empty());
    ExpectNoControl();
}

TEST_F(OtherArchitectureControl, ThisViewNamingTheOtherArchitecturesLibraryMeansNoControl)
{
    // As a registration by the wrong regsvr32 would leave it.
    SetServerIn(kOwnView, other);
    ASSERT_EQ(ServerIn(kOwnView), other);
    ExpectNoControl();
    EXPECT_EQ(GetModuleHandleW(other.c_str()), nullptr) << "never loaded";
}

}  // namespace
