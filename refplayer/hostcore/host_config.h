// Behaviour a test can set for the reference player before a host loads it,
// read from a registry key of the player's own under HKEY_CURRENT_USER:
//   Version      REG_SZ     the version reported ("10,0,45,2")
//   ManualClock  REG_DWORD  1: frames advance only through the step seam
//   Log          REG_DWORD  1: the call log records from the first call on
//   MiscStatus   REG_DWORD  the OLE misc status bits the control reports
//   RepaintInPaint REG_DWORD n: the player asks its host to repaint its
//                           whole view from inside each of its first n paints
//   Fail\<name>  REG_DWORD  the error code that entry or method answers
//                           instead of working
//   NullOut\<name> REG_DWORD non-zero: that entry or method answers success
//                           but hands back a null pointer (or no value)
//                           where it has something to hand back
//   <other>      REG_DWORD  any other number, kept by name for the face of
//                           the player that reads it (setting())
//   Process      REG_SZ     when set, the settings apply only in the program
//                           of that file name ("test_x.exe"); every other
//                           program loading the player meanwhile keeps the
//                           defaults (test programs run side by side)
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

namespace refhost {

struct Config {
    std::string version = "10,0,45,2";
    bool manualClock = false;
    bool log = false;
    std::optional<uint32_t> miscStatus;
    int repaintInPaint = 0;
    std::map<std::string, int> failures;
    std::set<std::string> nullOuts;

    std::optional<int> failure(const std::string& entry) const
    {
        auto it = failures.find(entry);
        if (it == failures.end())
            return std::nullopt;
        return it->second;
    }
    bool nullOut(const std::string& entry) const { return nullOuts.count(entry) != 0; }
    // Every REG_DWORD value of the key by name, for settings one face of the
    // player reads on its own.
    std::map<std::string, uint32_t> numbers;

    uint32_t setting(const std::string& name, uint32_t fallback) const
    {
        auto it = numbers.find(name);
        return it == numbers.end() ? fallback : it->second;
    }
    int versionMajor() const;
    int versionMinor() const;
    int versionBuild() const;
};

// Reads HKEY_CURRENT_USER\<keyPath> now; a missing key or value leaves the default.
Config readConfig(const wchar_t* keyPath);

// One REG_DWORD of HKEY_CURRENT_USER\<keyPath>, under the same Process rule
// as readConfig (another program's settings read as absent).
std::optional<uint32_t> readConfigDword(const wchar_t* keyPath, const wchar_t* name);

// Writes the Process value of HKEY_CURRENT_USER\<keyPath>: the settings there
// are this program's alone. For test programs.
void claimConfig(const wchar_t* keyPath);

}  // namespace refhost
