// One running engine as a host-facing player sees it: the engine, the frame
// it is rendered into (premultiplied, in a top-down DIB section), the changes
// waiting to run, the parts of the view waiting to be repainted and the frame
// timer. The plug-in instance and the ActiveX control derive from it and add
// only the conversation with their own kind of host.
//
// A host may call back into the player from inside any call the player makes
// (a minimal host delivers a whole download inside the request, and paints
// inside the repaint request), and may tear the player down from inside such a
// callback. So work that changes the movie runs one piece at a time: what
// arrives while the engine is busy is queued and run when the engine call in
// progress returns, in arrival order, and repaints are requested only then.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "refplayer/engine/player.h"

namespace refhost {

class EngineSession : public refplayer::PlayerHost {
public:
    EngineSession();
    ~EngineSession() override;
    EngineSession(const EngineSession&) = delete;
    EngineSession& operator=(const EngineSession&) = delete;

    // Stops the timer for good and runs n frame ticks now; answers n (clamped).
    int stepFrames(int frames);
    // Frees the movie's unreachable script objects now (leak checks measure
    // after it, so garbage waiting for the collector does not count).
    void collectGarbage() { player_.collectGarbage(); }
    bool destroyed() const { return destroyed_; }
    // The module is being unloaded under a live session: no timer may fire
    // into code that is about to go away.
    void stopForShutdown();

    // Every live session of this module.
    static std::vector<EngineSession*> all();
    // At module shutdown: stops every session's timer and unregisters the
    // timer windows' class.
    static void unregisterTimerClass();
    // Frames of every session advance only through stepFrames while this is set.
    static void setGlobalManualClock(bool manual);

protected:
    // ---- what the derived host supplies ----
    // Ask the host to repaint this part of the view (view pixels, inside the frame).
    virtual void requestRepaint(const refplayer::IRect& viewRect) = 0;
    // Whether the settings keep frames on the manual clock.
    virtual bool manualClockConfigured() const { return false; }
    // How many paints, from the first, ask for a repaint of the whole view
    // from inside themselves (a habit of the real player's).
    virtual int repaintInPaintConfigured() const { return 0; }
    // Whether this tick is to pass without a frame (a player that slows
    // itself down skips ticks).
    virtual bool holdFrame() { return false; }
    // A WM_TIMER tick arrived; keeps the object alive around run().
    virtual void timerFired() { tick(); }
    // Host-specific note lines (trace output and failures) go to the call log.
    void note(const std::string& line);

    // Runs a change to the movie now, or after the engine call in progress.
    void run(std::function<void()> change);
    // Marks an engine call in progress; leaving the outermost one runs the
    // queued changes and asks for the repaints they caused.
    class EngineScope {
    public:
        explicit EngineScope(EngineSession& s) : s_(s) { ++s_.engineDepth_; }
        ~EngineScope()
        {
            if (--s_.engineDepth_ == 0)
                s_.settle();
        }
        EngineScope(const EngineScope&) = delete;
        EngineScope& operator=(const EngineScope&) = delete;

    private:
        EngineSession& s_;
    };
    // One frame tick, through the queue, unless holdFrame() says to skip it.
    void tick();

    // Ends the session: nothing queued runs, the timer stops, no repaint is
    // asked for. The object itself stays until its owner frees it.
    void endSession();

    // The view: the frame is (re)made at this size and the engine told; false
    // when the size is refused (too large) or there is no memory for it.
    bool resizeView(int width, int height);
    int viewWidth() const { return frameWidth_; }
    int viewHeight() const { return frameHeight_; }

    // Renders the part of the view that `dirty` (device context coordinates,
    // null: all of it) covers and composites it onto `dc`, whose logical
    // origin the view's top-left corner sits at (originX, originY). Where the
    // DC has a 32-bit DIB section selected, the frame is blended into its bits
    // exactly (premultiplied source-over), honouring the DC's clip region;
    // otherwise AlphaBlend. `underlay`, when set, is put under the movie
    // first (an opaque colour 0xFFRRGGBB replacing the stage background).
    void paint(HDC dc, int originX, int originY, const RECT* dirty, std::optional<uint32_t> underlay = std::nullopt);

    void restartTimer();
    void stopTimer();

    // PlayerHost
    void invalidate(const refplayer::IRect& viewRect) override;
    void trace(const std::string& text) override;

    refplayer::Player player_;
    bool destroyed_ = false;
    bool manualClock_ = false;

    // While the host handles an external call, SetReturnValue lands here.
    int externalDepth_ = 0;
    std::optional<std::string> returnValue_;

private:
    void settle() noexcept;
    void flushInvalidations();
    bool ensureFrame(int width, int height);
    bool blendIntoDib(HDC dc, int originX, int originY, const refplayer::IRect& view);
    static LRESULT CALLBACK timerWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept;

    HDC frameDC_ = nullptr;
    HBITMAP frameBitmap_ = nullptr;
    HGDIOBJ frameOldBitmap_ = nullptr;
    uint32_t* frameBits_ = nullptr;
    int frameWidth_ = 0, frameHeight_ = 0;

    std::deque<std::function<void()>> queue_;
    std::vector<refplayer::IRect> dirty_;
    int engineDepth_ = 0;
    bool settling_ = false;
    int repaintsInPaintLeft_ = -1;  // -1: not read from the settings yet

    HWND timerWindow_ = nullptr;
    UINT timerInterval_ = 0;
};

// The module (DLL) this code is linked into.
HINSTANCE thisModule();

}  // namespace refhost
