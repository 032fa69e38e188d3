// The plug-in's settings: HKEY_CURRENT_USER\Software\KorvelRef\Plugin (the
// values are listed in host_config.h), read when the library is initialised
// and again for each new instance. For a script method ("Play",
// "GetVariable", ...) any non-zero Fail value makes the invoke fail.
#pragma once

#include "host_config.h"

namespace refplugin {

inline constexpr const wchar_t* kConfigKey = L"Software\\KorvelRef\\Plugin";

using Config = refhost::Config;

inline Config readConfig() { return refhost::readConfig(kConfigKey); }

// The configuration in force: replaced by refreshConfig().
const Config& config();
void refreshConfig();

}  // namespace refplugin
