// Test seams of the reference player's plug-in library: exported beside the
// plug-in entries, for tests only (a host never calls them). Resolve them with
// GetProcAddress on the loaded npswf32.dll; the names are undecorated.
//
//   RefPlayer_StepFrames(npp, n)   stops the instance's frame timer for good and
//                                  runs n frame ticks now; npp null: every live
//                                  instance. Answers the number of instances
//                                  stepped (0 when npp names none).
//   RefPlayer_SetManualClock(on)   1: no instance starts a frame timer (running
//                                  ones stop at their next restart); 0: back to timers.
//   RefPlayer_EnableLog(on)        the call log (see call_log.h for its lines).
//   RefPlayer_ClearLog()
//   RefPlayer_ReadLog(buf, size)   copies the log (zero-terminated, cut to fit)
//                                  and answers its full length in bytes.
//   RefPlayer_InstanceCount()      live instances (leak checks).
//   RefPlayer_ObjectCount()        scriptable objects not yet deallocated.
//   RefPlayer_ReloadConfig()       re-reads HKCU\Software\KorvelRef\Plugin now.
//   RefPlayer_CollectGarbage()     every live instance frees its movie's unreachable
//                                  script objects now (leak checks measure after it).
#pragma once

#include "npapi/npapi.h"

extern "C" {
typedef int (*RefPlayer_StepFramesFunc)(NPP npp, int frames);
typedef void (*RefPlayer_SetManualClockFunc)(int manual);
typedef void (*RefPlayer_EnableLogFunc)(int enable);
typedef void (*RefPlayer_ClearLogFunc)(void);
typedef int (*RefPlayer_ReadLogFunc)(char* buffer, int size);
typedef int (*RefPlayer_InstanceCountFunc)(void);
typedef int (*RefPlayer_ObjectCountFunc)(void);
typedef void (*RefPlayer_ReloadConfigFunc)(void);
typedef void (*RefPlayer_CollectGarbageFunc)(void);
}
