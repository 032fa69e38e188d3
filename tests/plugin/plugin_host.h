// A minimal browser for testing the reference player's plug-in library on its
// own: loads npswf32.dll by path, hands it a browser table whose interesting
// entries go to a strict gmock (an unexpected call fails the test) and whose
// plumbing (memory, identifiers, objects) behaves as a browser's does while
// counting what is outstanding, and drives instances drawing into DIB sections.
#pragma once

#include <windows.h>

#include <gmock/gmock.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "npapi/flash_plugin.h"
#include "refplayer_seams.h"

namespace plugintest {

// The browser entries whose calls a test arms and checks.
class BrowserMock {
public:
    MOCK_METHOD(NPError, GetURLNotify, (NPP npp, std::string url, std::optional<std::string> target, void* notify));
    MOCK_METHOD(NPError, PostURLNotify,
                (NPP npp, std::string url, std::optional<std::string> target, std::string body, void* notify));
    MOCK_METHOD(NPError, SetValue, (NPP npp, NPPVariable variable, void* value));
    MOCK_METHOD(void, InvalidateRect, (NPP npp, NPRect rect));
    // Arguments as text: a string as itself, other types as "int:5", "true", "null"...
    MOCK_METHOD(bool, Invoke, (NPP npp, NPObject* obj, std::string method, std::vector<std::string> args,
                               NPVariant* result));
    MOCK_METHOD(bool, Evaluate, (NPP npp, NPObject* obj, std::string script, NPVariant* result));
};

// The one browser the table's entries reach; a test owns it through Host.
class Host;
Host& currentHost();

// Sets a string result the way a browser must: in memory from NPN_MemAlloc.
void setStringResult(NPVariant* result, const std::string& text);
std::string describe(const NPVariant& v);

struct Request {
    std::string url;
    void* notifyData = nullptr;
};

class Host {
public:
    Host();
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    ::testing::StrictMock<BrowserMock> mock;
    NPNetscapeFuncs browserFuncs{};
    NPPluginFuncs pluginFuncs{};

    // Loads the library and initialises it; false (with a failure) if it could not.
    bool load();
    void unload();
    HMODULE module() const { return module_; }
    template <typename F>
    F seam(const char* name) const
    {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
    }
    std::string log() const;

    // The window object the browser hands out, and references held on it by the player.
    NPObject* windowObject() { return &window_; }
    int windowReferencesHeldByPlayer() const { return static_cast<int>(window_.referenceCount) - 1; }
    int outstandingAllocations() const { return allocations_; }

    // What NPN_GetValue(NPNVnetscapeWindow) answers; null: the entry fails.
    HWND netscapeWindow = nullptr;

    // Plumbing state, read by the entries.
    int allocations_ = 0;
    NPObject window_{};
    NPClass windowClass_{};
    std::vector<std::string> unexpected_;

private:
    HMODULE module_ = nullptr;
    NP_ShutdownFunc shutdown_ = nullptr;
};

// An ARGB pixel buffer selected into a memory DC: a DIB section (top-down or
// bottom-up) or, for the path the player cannot blend into itself, a device bitmap.
class Surface {
public:
    enum class Kind { TopDownDib, BottomUpDib, DeviceBitmap };
    Surface(int width, int height, Kind kind = Kind::TopDownDib);
    ~Surface();
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;
    HDC dc() const { return dc_; }
    void fill(uint32_t argb);
    uint32_t pixel(int x, int y) const;  // 0xAARRGGBB as stored (device bitmaps: read back through GetDIBits)

private:
    int width_, height_;
    Kind kind_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
    uint8_t* bits_ = nullptr;
};

// One plug-in instance as a page would hold it.
class Instance {
public:
    explicit Instance(Host& host) : host_(host) {}
    ~Instance();

    NPError create(std::vector<std::pair<std::string, std::string>> args = {{"wmode", "transparent"}});
    NPError destroy();
    NPP npp() { return &npp_; }
    bool alive() const { return created_; }

    NPError setWindow(HDC dc, int x, int y, int width, int height);
    int16_t paint(HDC dc, RECT rect);
    int16_t event(uint16_t message, uintptr_t wParam, uintptr_t lParam);

    // A stream as a browser sends it: NPP_NewStream, pieces of at most
    // WriteReady bytes (and at most `piece`) at running offsets, each offered
    // again from where NPP_Write stopped, NPP_DestroyStream and then
    // NPP_URLNotify.
    void deliver(const Request& request, const std::vector<uint8_t>& body, size_t piece = 100);
    // The way a minimal host does it, all inside one call: NPP_NewStream, one
    // NPP_Write of everything at offset 0, NPP_URLNotify, NPP_DestroyStream.
    void deliverAtOnce(const Request& request, const std::vector<uint8_t>& body);
    void fail(const Request& request, NPReason reason);

    int stepFrames(int frames);

    // The scriptable object (held until the instance is destroyed).
    NPObject* scriptable();
    // Calls a method by a name whose identifier is a fresh copy of the text:
    // the player must compare names, not identifiers.
    bool invoke(const std::string& method, std::vector<NPVariant> args, NPVariant* result = nullptr);
    std::optional<std::string> invokeForString(const std::string& method, std::vector<NPVariant> args = {});
    std::optional<int32_t> invokeForInt(const std::string& method, std::vector<NPVariant> args = {});
    std::optional<bool> invokeForBool(const std::string& method);

private:
    Host& host_;
    NPP_t npp_{};
    bool created_ = false;
    NPObject* scriptable_ = nullptr;
    std::vector<std::unique_ptr<NPStream>> streams_;
    std::vector<std::unique_ptr<std::string>> urls_;
};

NPVariant stringArg(const std::string& text);  // points into a kept copy
NPVariant intArg(int32_t value);
NPVariant doubleArg(double value);
NPVariant boolArg(bool value);

// The lines of the player's call log that start with `prefix`.
std::vector<std::string> logLines(const std::string& log, const std::string& prefix = "");

}  // namespace plugintest
