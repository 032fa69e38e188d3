// The reference player's engine: the face that the plug-in library and the
// ActiveX control drive. Platform-free (no <windows.h>): everything the engine
// needs from the outside world comes through PlayerHost.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace refplayer {

struct IRect {
    int left = 0, top = 0, right = 0, bottom = 0;  // right/bottom exclusive
    bool empty() const { return right <= left || bottom <= top; }
};

// A premultiplied 32-bit surface, 0xAARRGGBB words (bytes B, G, R, A in memory),
// top-down rows of `stride` bytes.
struct Surface {
    uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;  // bytes
    uint32_t& at(int x, int y) { return *reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(pixels) + static_cast<ptrdiff_t>(y) * stride + static_cast<ptrdiff_t>(x) * 4); }
};

enum class MouseButton { Left, Right, Middle };

// Identifies one URL request made by the movie; the host answers it with
// Player::deliverUrl or Player::failUrl (once, possibly much later).
using RequestId = uint32_t;

// What a URL request is for.
enum class RequestKind {
    Movie,          // the movie given to Player::loadRootUrl, or loadMovie into a level or clip
    Variables,      // loadVariables: url-encoded name=value pairs
    Media,          // a video (FLV) or a skin movie for a video player object
    Navigate,       // getURL with a window target: the host may ignore it
};

// The outside world of one player instance. Calls may arrive from inside any
// Player call (re-entrantly); the host must tolerate that.
class PlayerHost {
public:
    virtual ~PlayerHost() = default;
    // The movie needs `url` (already resolved against the movie's own URL when relative).
    virtual void requestUrl(RequestId id, RequestKind kind, const std::string& url, const std::string& target,
                            const std::string& postData) = 0;
    // fscommand(command, args) from script, and getURL("FSCommand:...").
    virtual void fsCommand(const std::string& command, const std::string& args) = 0;
    // flash.external.ExternalInterface.call: `functionName` with arguments already encoded
    // as an ExternalInterface XML <invoke> request; answers the result as ExternalInterface XML
    // (e.g. "<string>x</string>"), or nullopt when the container has no answer.
    virtual std::optional<std::string> externalCall(const std::string& functionName,
                                                    const std::string& invokeXml) = 0;
    // Part of the stage (in view/device pixels) changed and must be redrawn.
    virtual void invalidate(const IRect& viewRect) = 0;
    // trace(...) output.
    virtual void trace(const std::string& /*text*/) {}
    // What the movie is told it runs in (System.capabilities.playerType):
    // "PlugIn", "ActiveX", "StandAlone" or "External".
    virtual std::string playerType() const { return "StandAlone"; }
};

// One player instance: one root movie (plus levels), its timelines and script.
class Player {
public:
    explicit Player(PlayerHost& host);
    ~Player();
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    // --- loading -------------------------------------------------------------
    // Asks the host for `url` as the root movie (level 0); replaces what plays.
    void loadRootUrl(const std::string& url);
    // The answer to a request (the whole body). Returns false when the data was
    // refused (not a SWF, not an FLV for a video, truncated, hostile); the
    // request then counts as failed.
    bool deliverUrl(RequestId id, std::span<const uint8_t> data);
    void failUrl(RequestId id);
    // Loads a movie given directly as bytes into level 0 (no request).
    bool loadRootBytes(std::span<const uint8_t> data, const std::string& url);
    bool hasMovie() const;
    std::string lastError() const;

    // --- the view ------------------------------------------------------------
    // The device area the stage is shown in; the stage is scaled to fit
    // (aspect kept, centred), as the player's default scale mode does.
    void setViewSize(int width, int height);
    void setTransparent(bool transparent);  // window mode "transparent": no stage background
    // Draws `clip` of the view into `target` (premultiplied source-over onto
    // what is there). `target` covers the whole view; only pixels inside clip change.
    void render(Surface target, const IRect& clip);
    // Stage facts of the root movie.
    int swfVersion() const;
    double frameRate() const;       // frames per second
    int stageWidthPx() const;       // stage size in pixels (twips / 20)
    int stageHeightPx() const;
    uint32_t backgroundColor() const;  // 0xFFRRGGBB

    // --- time ----------------------------------------------------------------
    // Runs one frame tick: advances playing timelines, runs frame scripts,
    // processes queued actions and invalidates what changed.
    void tick();

    // --- input (view coordinates) ----------------------------------------------
    void mouseMove(int x, int y);
    void mouseDown(MouseButton button, int x, int y);
    void mouseUp(MouseButton button, int x, int y);
    // A character byte (as WM_CHAR delivers it to an ANSI window) for the focused text field.
    void charInput(uint8_t byte);
    void keyDown(int virtualKey);
    void keyUp(int virtualKey);
    // The wheel turned by `delta` (WHEEL_DELTA units of 120 per notch, positive away from the user).
    void mouseWheel(int delta);
    // Whether the movie hid the pointer (Mouse.hide) over the view.
    bool pointerHidden() const;

    // --- host control of the root timeline (frames are 0-based here) ----------
    void play();
    void stopPlay();
    void rewind();         // to frame 0 and stop
    void forward();        // next frame, stop
    void back();           // previous frame, stop
    bool isPlaying() const;
    bool loop() const;
    void setLoop(bool loop);
    int currentFrame() const;   // 0-based
    int totalFrames() const;
    void gotoFrame(int frame);  // 0-based, stops there
    // Variables by path ("name", "_root.a.b", "/clip:var", "_level0.name").
    void setVariable(const std::string& path, const std::string& value);
    std::optional<std::string> getVariable(const std::string& path) const;
    // An ExternalInterface <invoke name="..."> request to a callback registered with
    // ExternalInterface.addCallback; answers ExternalInterface XML ("<undefined/>" when
    // the callback returns nothing, nullopt when no such callback exists).
    std::optional<std::string> callFunction(const std::string& invokeXml);
    // Frees the script objects nothing reaches any more now, instead of when the
    // collector's threshold is next crossed (does nothing while script runs).
    void collectGarbage();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace refplayer
