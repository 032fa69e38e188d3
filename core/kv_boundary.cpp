// The package's trace and the guards of its edges.
#include "kv_boundary.h"

#include <cstdlib>
#include <cstring>

namespace kv {

bool TraceEnabled() noexcept
{
    static const bool enabled = [] {
        const char* v = std::getenv("KV_TRACE");
        return v && *v && std::strcmp(v, "0") != 0;
    }();
    return enabled;
}

void Trace(const char* Text) noexcept
{
    if (!TraceEnabled() || !Text)
        return;
    try {
        OutputDebugStringA((std::string("korvel: ") + Text + "\n").c_str());
    } catch (...) {
        // No memory for the line: the trace is a courtesy, the caller goes on.
    }
}

void Trace(const std::string& Text) noexcept
{
    Trace(Text.c_str());
}

std::string CaughtText() noexcept
{
    try {
        throw;
    } catch (const Exception& e) {
        try {
            return WideToUtf8(e.Message());
        } catch (...) {
            return "an exception";
        }
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "an unknown exception";
    }
}

HRESULT CaughtHResult(HRESULT Fallback) noexcept
{
    try {
        throw;
    } catch (const EOleSysError& e) {
        return FAILED(e.ErrorCode) ? static_cast<HRESULT>(e.ErrorCode) : Fallback;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return Fallback;
    }
}

}  // namespace kv
