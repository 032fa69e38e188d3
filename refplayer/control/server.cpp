// The in-process server: class object, registration and unloading.
#include <windows.h>
#include <olectl.h>

#include <string>

#include "control_internal.h"

using namespace refcontrol;

namespace {

const wchar_t kProgId[] = L"ShockwaveFlash.ShockwaveFlash";
const wchar_t kVersionedProgId[] = L"ShockwaveFlash.ShockwaveFlash.10";
const wchar_t kDescription[] = L"Shockwave Flash Object";

refhost::Config& creationConfig()
{
    static refhost::Config c;
    return c;
}

// Read afresh for every control made, so a test can change the key between two.
void refreshConfig()
{
    creationConfig() = refhost::readConfig(kConfigKey);
    if (creationConfig().log)
        callLog().enable(true);
}

class ClassFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory))
            return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    // The factory is static: its references are the module's locks.
    ULONG STDMETHODCALLTYPE AddRef() noexcept override
    {
        lockModule(true);
        return 2;
    }
    ULONG STDMETHODCALLTYPE Release() noexcept override
    {
        lockModule(false);
        return 1;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) noexcept override
    {
        return guarded([&]() -> HRESULT {
            if (!ppv)
                return E_POINTER;
            *ppv = nullptr;
            refreshConfig();
            callLog().received("IClassFactory.CreateInstance " + guidText(riid));
            if (auto f = creationConfig().failure("CreateInstance"); f && *f != 0) {
                callLog().note("CreateInstance fails as configured: " + hresultText(*f));
                return static_cast<HRESULT>(*f);
            }
            if (outer)
                return CLASS_E_NOAGGREGATION;
            auto control = ComPtr<IUnknown>::attach(static_cast<IOleObject*>(new Control(creationConfig())));
            return control->QueryInterface(riid, ppv);
        });
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) noexcept override
    {
        lockModule(lock != FALSE);
        return S_OK;
    }
};

ClassFactory factory;

std::wstring modulePath()
{
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(refhost::thisModule(), path, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(path, n) : std::wstring();
}

std::wstring wguid(REFGUID g) { return wide(guidText(g)); }

bool setValue(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    LONG r = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return r == ERROR_SUCCESS;
}

HRESULT registerServer()
{
    std::wstring path = modulePath();
    if (path.empty())
        return SELFREG_E_CLASS;
    std::wstring clsid = L"CLSID\\" + wguid(CLSID_kvFlashPlayer);
    std::wstring misc = std::to_wstring(kDefaultMiscStatus);
    bool ok = setValue(HKEY_CLASSES_ROOT, clsid, nullptr, kDescription) &&
              setValue(HKEY_CLASSES_ROOT, clsid + L"\\InprocServer32", nullptr, path) &&
              setValue(HKEY_CLASSES_ROOT, clsid + L"\\InprocServer32", L"ThreadingModel", L"Apartment") &&
              setValue(HKEY_CLASSES_ROOT, clsid + L"\\ProgID", nullptr, kVersionedProgId) &&
              setValue(HKEY_CLASSES_ROOT, clsid + L"\\VersionIndependentProgID", nullptr, kProgId) &&
              setValue(HKEY_CLASSES_ROOT, clsid + L"\\Control", nullptr, L"") &&
              setValue(HKEY_CLASSES_ROOT, clsid + L"\\MiscStatus", nullptr, L"0") &&
              setValue(HKEY_CLASSES_ROOT, clsid + L"\\MiscStatus\\1", nullptr, misc) &&
              setValue(HKEY_CLASSES_ROOT, clsid + L"\\TypeLib", nullptr, wguid(LIBID_kvFlashPlayerObjects)) &&
              setValue(HKEY_CLASSES_ROOT, clsid + L"\\Version", nullptr, L"1.0") &&
              setValue(HKEY_CLASSES_ROOT, kProgId, nullptr, kDescription) &&
              setValue(HKEY_CLASSES_ROOT, std::wstring(kProgId) + L"\\CLSID", nullptr, wguid(CLSID_kvFlashPlayer)) &&
              setValue(HKEY_CLASSES_ROOT, std::wstring(kProgId) + L"\\CurVer", nullptr, kVersionedProgId) &&
              setValue(HKEY_CLASSES_ROOT, kVersionedProgId, nullptr, kDescription) &&
              setValue(HKEY_CLASSES_ROOT, std::wstring(kVersionedProgId) + L"\\CLSID", nullptr,
                       wguid(CLSID_kvFlashPlayer));
    if (!ok)
        return SELFREG_E_CLASS;
    ComPtr<ITypeLib> lib;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.put());
    if (FAILED(hr))
        return SELFREG_E_TYPELIB;
    hr = RegisterTypeLib(lib.get(), path.data(), nullptr);
    return SUCCEEDED(hr) ? S_OK : SELFREG_E_TYPELIB;
}

// The system kind the type library is registered under by this build.
#ifdef _WIN64
constexpr SYSKIND kOwnSysKind = SYS_WIN64;
constexpr wchar_t kOwnSysKindName[] = L"win64";
#else
constexpr SYSKIND kOwnSysKind = SYS_WIN32;
constexpr wchar_t kOwnSysKindName[] = L"win32";
#endif

HRESULT unregisterServer()
{
    std::wstring clsid = L"CLSID\\" + wguid(CLSID_kvFlashPlayer);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, clsid.c_str());
    RegDeleteKeyW(HKEY_CLASSES_ROOT, clsid.c_str());
    for (const wchar_t* id : {kProgId, kVersionedProgId}) {
        RegDeleteTreeW(HKEY_CLASSES_ROOT, id);
        RegDeleteKeyW(HKEY_CLASSES_ROOT, id);
    }
    // Only this build's own registration of the type library: the other
    // architecture's control registers the same library under its own system
    // kind (win32 beside win64), and that one stays.
    HRESULT hr = UnRegisterTypeLib(LIBID_kvFlashPlayerObjects, 1, 0, LOCALE_NEUTRAL, kOwnSysKind);
    if (SUCCEEDED(hr))
        return S_OK;
    // Nothing registered is not a failure to unregister. LoadRegTypeLib would
    // also find the other architecture's registration: look at our own key.
    const std::wstring ownKey = L"TypeLib\\" + wguid(LIBID_kvFlashPlayerObjects) + L"\\1.0\\0\\" + kOwnSysKindName;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, ownKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return S_OK;
    RegCloseKey(key);
    return SELFREG_E_TYPELIB;
}

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) noexcept
{
    return guarded([&]() -> HRESULT {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualCLSID(clsid, CLSID_kvFlashPlayer))
            return CLASS_E_CLASSNOTAVAILABLE;
        return factory.QueryInterface(riid, ppv);
    });
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() noexcept
{
    return guarded([]() -> HRESULT {
        if (liveObjects() > 0 || moduleLocks() > 0)
            return S_FALSE;
        // No control is left whose timer could fire into unloaded code.
        refhost::EngineSession::unregisterTimerClass();
        return S_OK;
    });
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() noexcept
{
    return guarded([] { return registerServer(); });
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() noexcept
{
    return guarded([] { return unregisterServer(); });
}
