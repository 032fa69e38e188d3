// One plug-in instance: the engine's host towards the browser. Always
// windowless: it draws only inside a WM_PAINT event, onto the device context
// the event carries, and asks for repaints with NPN_InvalidateRect.
//
// The browser may call back into the instance from inside any call the
// instance makes (a minimal host delivers a whole stream inside
// NPN_GetURLNotify and paints inside NPN_InvalidateRect), and may destroy the
// instance from inside such a callback. So work that changes the movie is run
// one piece at a time: what arrives while the engine is busy is queued and run
// when the engine call in progress returns, in arrival order; repaints are
// requested only then; and a destroyed instance is freed only when the last
// call into it has returned.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "config.h"
#include "npapi/npfunctions.h"
#include "refplayer/engine/player.h"
#include "request_tracker.h"

namespace refplugin {

struct ScriptObject;

class Instance final : public refplayer::PlayerHost {
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

    // ---- test seams ----
    int stepFrames(int frames);
    bool destroyed() const { return destroyed_; }
    // The library is being shut down under a live instance: no timer may fire
    // into code that is about to be unloaded.
    void stopForShutdown();

private:
    // PlayerHost
    void requestUrl(refplayer::RequestId id, refplayer::RequestKind kind, const std::string& url,
                    const std::string& target, const std::string& postData) override;
    void fsCommand(const std::string& command, const std::string& args) override;
    std::optional<std::string> externalCall(const std::string& functionName, const std::string& invokeXml) override;
    void invalidate(const refplayer::IRect& viewRect) override;
    void trace(const std::string& text) override;

    // Runs a change to the movie now, or after the engine call in progress.
    void run(std::function<void()> change);
    class EngineScope;
    void settle() noexcept;
    void flushInvalidations();
    void takeOutcomes();
    void deliver(Outcome outcome);
    void restartTimer();
    void stopTimer();
    void onTimer();
    bool ensureFrame(int width, int height);
    void paint(HDC dc, const RECT* dirty);
    bool blendIntoDib(HDC dc, const refplayer::IRect& view);
    static LRESULT CALLBACK timerWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept;

    NPP npp_;
    Params params_;
    std::string fsCommandMethod_;  // kept alive: its address may serve as the identifier
    refplayer::Player player_;
    RequestTracker requests_;
    ScriptObject* object_ = nullptr;
    NPWindow window_{};
    bool haveWindow_ = false;

    // Frame: the player's picture, premultiplied, in a top-down DIB section.
    HDC frameDC_ = nullptr;
    HBITMAP frameBitmap_ = nullptr;
    HGDIOBJ frameOldBitmap_ = nullptr;
    uint32_t* frameBits_ = nullptr;
    int frameWidth_ = 0, frameHeight_ = 0;

    std::deque<std::function<void()>> queue_;
    std::vector<refplayer::IRect> dirty_;
    int engineDepth_ = 0;
    bool settling_ = false;
    int entries_ = 0;
    bool destroyed_ = false;

    HWND timerWindow_ = nullptr;
    UINT timerInterval_ = 0;
    bool manualClock_ = false;

    int externalDepth_ = 0;
    std::optional<std::string> returnValue_;  // SetReturnValue during an external call
};

// At library shutdown: stops every instance's timer and unregisters the
// timer windows' class.
void unregisterTimerClass();

// Frames of every instance advance only through stepFrames while this is set.
void setGlobalManualClock(bool manual);

}  // namespace refplugin
