// What is particular to the Flash Player's Netscape plug-in library beyond the
// generic API: its file name, MIME type, registry identity and the one
// non-standard export.
#ifndef KV_NPAPI_FLASH_PLUGIN_H
#define KV_NPAPI_FLASH_PLUGIN_H

#include "npfunctions.h"

#ifdef __cplusplus
extern "C" {
#endif

#define FLASH_PLUGIN_FILE_NAME "npswf32.dll"
#define FLASH_PLUGIN_MIME_TYPE "application/x-shockwave-flash"

// The player's Mozilla plug-in identifier and the registry key (under
// HKEY_LOCAL_MACHINE) whose string value "Path" names the installed library.
#define FLASH_MOZILLA_PLUGIN_ID "@adobe.com/FlashPlayer"
#define FLASH_MOZILLA_PLUGIN_KEY "SOFTWARE\\MozillaPlugins\\" FLASH_MOZILLA_PLUGIN_ID
#define FLASH_MOZILLA_PLUGIN_PATH_VALUE "Path"

// Optional export: lets movies loaded from local files reach the network and
// the page. Takes nothing; callers ignore any result.
typedef void(NP_OSCALL* Flash_DisableLocalSecurityFunc)(void);

#define FLASH_EXPORT_GET_ENTRY_POINTS "NP_GetEntryPoints"
#define FLASH_EXPORT_INITIALIZE "NP_Initialize"
#define FLASH_EXPORT_SHUTDOWN "NP_Shutdown"
#define FLASH_EXPORT_DISABLE_LOCAL_SECURITY "Flash_DisableLocalSecurity"

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // KV_NPAPI_FLASH_PLUGIN_H
