// Test seams of the reference player's ActiveX control: exported beside the
// COM server entries, for tests only (a container never calls them). Resolve
// them with GetProcAddress on the loaded module (GetModuleHandleW(L"Flash.ocx")
// once a control exists); the names are undecorated.
//
//   RefControl_StepFrames(control, n)  stops the control's frame timer for good
//                                      and runs n frame ticks now; control null:
//                                      every live control. Answers the number of
//                                      controls stepped (0 when none matched).
//   RefControl_SetManualClock(on)      1: no control starts a frame timer (running
//                                      ones stop at their next restart); 0: timers.
//   RefControl_EnableLog(on)           the call log: "< " calls received from the
//                                      container, "> " calls made to it, "# " notes.
//   RefControl_ClearLog()
//   RefControl_ReadLog(buf, size)      copies the log (zero-terminated, cut to fit)
//                                      and answers its full length in bytes.
//   RefControl_InstanceCount()         live controls (leak checks).
//   RefControl_ObjectCount()           live COM objects of the module: controls,
//                                      enumerators and binding callbacks.
//   RefControl_CollectGarbage()        every live control frees its movie's
//                                      unreachable script objects now (leak
//                                      checks measure after it).
//
// Settings are read from HKCU\Software\KorvelRef\Control each time a control
// is created (values: see refplayer/hostcore/host_config.h). Fail\<name>
// makes that method answer the given HRESULT: an interface method by its
// name ("GetMiscStatus", "DoVerb", "InitNew", "SetObjectRects", "Draw",
// "OnWindowMessage", "Invoke", "Advise", ...), a property accessor as
// "get_X"/"put_X" ("put_WMode"), a query as "QueryInterface:<interface>"
// ("QueryInterface:IOleControl"), and "CreateInstance" for the class object.
#pragma once

#include <unknwn.h>

extern "C" {
typedef int (*RefControl_StepFramesFunc)(IUnknown* control, int frames);
typedef void (*RefControl_SetManualClockFunc)(int manual);
typedef void (*RefControl_EnableLogFunc)(int enable);
typedef void (*RefControl_ClearLogFunc)(void);
typedef int (*RefControl_ReadLogFunc)(char* buffer, int size);
typedef int (*RefControl_InstanceCountFunc)(void);
typedef int (*RefControl_ObjectCountFunc)(void);
typedef void (*RefControl_CollectGarbageFunc)(void);
}
