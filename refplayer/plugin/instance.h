// One plug-in instance: the engine's host towards the browser. Always
// windowless: it draws only inside a WM_PAINT event, onto the device context
// the event carries, and asks for repaints with NPN_InvalidateRect.
//
// The browser may destroy the instance from inside a callback (see
// engine_session.h for how changes are queued meanwhile): a destroyed
// instance is freed only when the last call into it has returned.
#pragma once

#include <windows.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "config.h"
#include "npapi/npfunctions.h"
#include "engine_session.h"
#include "refplayer/engine/player.h"
#include "request_tracker.h"

namespace refplugin {

struct ScriptObject;

class Instance final : public refhost::EngineSession {
public:
    struct Params {
        bool transparent = false;
        std::string id;   // the embedding's id or name: prefixes the FSCommand method
        std::string src;  // the embedding's movie, streamed by the browser itself
    };

    Instance(NPP npp, Params params);
    ~Instance() override;
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    static Instance* from(NPP npp);
    static int liveCount();
    static std::vector<Instance*> all();

    // Keeps the instance allocated while a call into it is in progress.
    class Entry {
    public:
        explicit Entry(Instance* i);
        ~Entry();
        Entry(const Entry&) = delete;
        Entry& operator=(const Entry&) = delete;

    private:
        Instance* i_;
    };

    // ---- NPP entries ----
    void destroy();
    NPError setWindow(const NPWindow& window);
    NPError newStream(NPMIMEType type, NPStream* stream, uint16_t* stype);
    int32_t writeReady(NPStream* stream);
    int32_t write(NPStream* stream, int32_t offset, int32_t length, void* buffer);
    NPError destroyStream(NPStream* stream, NPReason reason);
    void urlNotify(const char* url, NPReason reason, void* notifyData);
    int16_t handleEvent(const NPEvent& event);
    NPError getValue(NPPVariable variable, void* value);

    // ---- the scriptable object's methods ----
    NPObject* scriptObject();  // retained for the caller
    bool invokeMethod(const std::string& name, const NPVariant* args, uint32_t count, NPVariant* result);
    bool hasMethod(const std::string& name) const;
    bool getProperty(const std::string& name, NPVariant* result);
    bool setProperty(const std::string& name, const NPVariant& value);

private:
    // PlayerHost
    void requestUrl(refplayer::RequestId id, refplayer::RequestKind kind, const std::string& url,
                    const std::string& target, const std::string& postData) override;
    void fsCommand(const std::string& command, const std::string& args) override;
    std::optional<std::string> externalCall(const std::string& functionName, const std::string& invokeXml) override;
    std::string playerType() const override { return "PlugIn"; }
    // EngineSession
    void requestRepaint(const refplayer::IRect& viewRect) override;
    bool manualClockConfigured() const override;
    int repaintInPaintConfigured() const override;
    void timerFired() override;
    bool holdFrame() override;

    // The right button's modal menu, at a screen point.
    void openContextMenu(int x, int y);
    // A WM_CHAR byte read in the system code page: the UTF-8 of the
    // character it completes (nothing while a lead byte waits for its trail).
    std::string typedCharacter(uint8_t byte);

    void takeOutcomes();
    void deliver(Outcome outcome);

    NPP npp_;
    Params params_;
    std::string fsCommandMethod_;  // kept alive: its address may serve as the identifier
    RequestTracker requests_;
    ScriptObject* object_ = nullptr;
    std::set<uintptr_t> secondRequests_;  // cookies of the repeated requests, whose answers are dropped
    NPWindow window_{};
    bool haveWindow_ = false;
    bool throttled_ = false;  // the clip rectangle is empty: taken for invisible
    int throttleTicks_ = 0;
    int setWindowRepaintsLeft_ = -1;  // -1: not read from the settings yet
    bool menuOpen_ = false;
    uint8_t leadByte_ = 0;  // the first byte of a two-byte character being typed
    int entries_ = 0;
};

}  // namespace refplugin
