// Behaviour a test can set for the plug-in before the host loads it: values
// under HKEY_CURRENT_USER\Software\KorvelRef\Plugin, read when the library is
// initialised and again for each new instance.
//   Version      REG_SZ     the version reported ("10,0,45,2")
//   ManualClock  REG_DWORD  1: frames advance only through RefPlayer_StepFrames
//   Log          REG_DWORD  1: the call log records from the first call on
//   Fail\<entry> REG_DWORD  the NPError that entry answers instead of working
//                           (NP_Initialize, NPP_New, NPP_SetWindow, NPP_NewStream,
//                           NPP_GetValue, NPP_Destroy, ...); for a script method
//                           ("Play", "GetVariable", ...) any non-zero value
//                           makes the invoke fail.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace refplugin {

inline constexpr const wchar_t* kConfigKey = L"Software\\KorvelRef\\Plugin";

struct Config {
    std::string version = "10,0,45,2";
    bool manualClock = false;
    bool log = false;
    std::map<std::string, int> failures;

    std::optional<int> failure(const std::string& entry) const
    {
        auto it = failures.find(entry);
        if (it == failures.end())
            return std::nullopt;
        return it->second;
    }
    int versionMajor() const;
    int versionMinor() const;
    int versionBuild() const;
};

// Reads the key now; a missing key or value leaves the default.
Config readConfig();

// The configuration in force: replaced by refreshConfig().
const Config& config();
void refreshConfig();

}  // namespace refplugin
