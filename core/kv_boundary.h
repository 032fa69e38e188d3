// The package's edges: the entries the player calls (plug-in browser entries,
// COM methods of the container) and the trace that shows the package's side
// of a failure. No exception crosses an edge: each entry runs its body
// through one guard, which answers the entry's documented failure value and
// traces what was caught. See docs/internals.md.
#pragma once

#include <windows.h>

#include <exception>
#include <new>
#include <string>

#include "framework/sysutils.h"

namespace kv {

// Whether tracing is on: the environment variable KV_TRACE is set to
// anything but "" or "0" (read once per process).
bool TraceEnabled() noexcept;
// One line to the debugger's output (OutputDebugString), prefixed "korvel: ".
// Under Wine it shows with WINEDEBUG=+debugstr. Does nothing when off.
void Trace(const char* Text) noexcept;
void Trace(const std::string& Text) noexcept;

// What the exception in flight says, for the trace. Call inside a catch.
std::string CaughtText() noexcept;

// Runs the body of a plug-in browser entry (or another entry that answers a
// plain value: a window procedure, a callback from the player or the system):
// its result, or OnError when it raises.
template <class R, class F>
R Entry(const char* Entry, R OnError, F&& Body) noexcept
{
    try {
        return Body();
    } catch (...) {
        Trace(std::string(Entry) + " failed: " + CaughtText() + "; answers its failure value");
        return OnError;
    }
}

// The same for an entry (or a destructor) that answers nothing.
template <class F>
void Entry(const char* Entry, F&& Body) noexcept
{
    try {
        Body();
    } catch (...) {
        Trace(std::string(Entry) + " failed: " + CaughtText() + "; ignored");
    }
}

// The HRESULT an exception stands for: an OLE error's own code,
// E_OUTOFMEMORY for memory, otherwise Fallback. Call inside a catch.
HRESULT CaughtHResult(HRESULT Fallback) noexcept;

// Runs the body of a COM method of the container: its HRESULT, or the code
// of what it raised (OnError for anything that is not an OLE error).
template <class F>
HRESULT ComEntry(const char* Entry, F&& Body, HRESULT OnError = E_FAIL) noexcept
{
    try {
        return Body();
    } catch (...) {
        const HRESULT hr = CaughtHResult(OnError);
        Trace(std::string(Entry) + " failed: " + CaughtText() + "; answers 0x" +
              WideToUtf8(IntToHex(static_cast<std::uint32_t>(hr), 8)));
        return hr;
    }
}

}  // namespace kv
