// The engine behind refplayer::Player: levels, the action queue, loading,
// input, drawing and change tracking. Player forwards to it and keeps
// exceptions from leaving.
#pragma once

#include "display.h"
#include "net_stream.h"
#include "player.h"
#include "raster.h"
#include "scripting.h"
#include "swf_movie.h"
#include "video_playback.h"

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace refplayer::engine {

class PlayerCore : public avm1::Host {
public:
    explicit PlayerCore(PlayerHost& host, Limits limits = {});
    ~PlayerCore() override;

    PlayerHost& host;
    const Limits limits;
    Scripting& scripting() { return *scripting_; }

    // --- instances -------------------------------------------------------------------
    bool mayCreateInstance() const { return instances_ < limits.instances; }
    uint64_t instanceCreated() { ++instances_; return ++serials_; }
    void instanceDestroyed() { --instances_; }
    // Keeps a removed object alive until no script runs: the interpreter may be
    // inside a call on it.
    void release(std::shared_ptr<DisplayObject> object);
    TextObject* focusedField() const;
    // Moves the keyboard focus to `field` (nullptr: to no field), telling script.
    void moveFocus(TextObject* field);

    // --- actions ----------------------------------------------------------------------
    size_t queueMark() const { return queue_.size(); }
    // Queues an action block (or a method call when `method` is set) on `clip`, at
    // `at` (a mark taken earlier) or at the end.
    // `owner` is the movie whose bytes `actions` points into.
    void queueActions(MovieClip& clip, std::shared_ptr<const MovieDef> owner, std::span<const uint8_t> actions,
                      size_t at = SIZE_MAX);
    void queueMethod(MovieClip& clip, std::string method);
    // Queues the construction of a clip placed by the timeline as the class
    // registered for `linkage` (checked when it runs, after the #initclip
    // blocks before it), at `at` or at the end.
    void queueConstruct(MovieClip& clip, std::string linkage, size_t at = SIZE_MAX);
    void queueClipEvent(MovieClip& clip, uint32_t event, uint8_t key = 0);
    // Init actions run once per movie.
    bool firstRunOf(const uint8_t* actions) { return initDone_.insert(actions).second; }
    void runQueue();

    // --- loading ------------------------------------------------------------------------
    void loadRootUrl(const std::string& url);
    bool deliverUrl(RequestId id, std::span<const uint8_t> data);
    void failUrl(RequestId id);
    bool loadRootBytes(std::span<const uint8_t> data, const std::string& url);
    bool hasMovie() const { return root() != nullptr; }
    const std::string& lastError() const { return lastError_; }

    // --- view ---------------------------------------------------------------------------
    void setViewSize(int width, int height);
    void setTransparent(bool transparent);
    void render(Surface target, const IRect& clip);
    // Stage twips of level 0 to view pixels (show-all: aspect kept, centred).
    Matrix viewMatrix() const;
    int viewWidth() const { return viewW_; }
    int viewHeight() const { return viewH_; }
    const MovieDef* rootMovie() const;

    // --- time and input -------------------------------------------------------------------
    void tick();
    void mouseMove(int x, int y);
    void mouseDown(MouseButton button, int x, int y);
    void mouseUp(MouseButton button, int x, int y);
    void charInput(uint8_t byte);
    void keyDown(int virtualKey);
    void keyUp(int virtualKey);
    void mouseWheel(int delta);
    bool pointerHidden() const { return pointerHidden_; }
    // The mouse in stage twips (for _xmouse/_ymouse).
    Point mouseStage() const { return viewMatrix().inverted().apply(mouseView_); }
    // Whether the host has told of the mouse at all (before, it is nowhere).
    bool mouseSeen() const { return mouseSeen_; }
    // One frame tick of the root movie, in milliseconds.
    double frameMs() const;

    // --- NetStream ------------------------------------------------------------------------
    // Asked for once the call in progress has settled, as the media downloads are.
    void requestStream(uint32_t stream, uint32_t generation, const std::string& url);
    const NetStreamPlayback* stream(uint32_t id) const;
    // The timeline of clips script makes empty: one frame with nothing in it.
    const Timeline& emptyTimeline() const { return emptyTimeline_; }
    // The script object of a video object on the stage, made on first use.
    avm1::Object* videoScriptObject(VideoObject& video);

    // --- root timeline ---------------------------------------------------------------------
    MovieClip* root() const;
    void play();
    void stopPlay();
    void gotoRootFrame(int frame, bool play);
    void stepRoot(int delta);
    bool loop = true;
    void setVariable(const std::string& path, const std::string& value);
    std::optional<std::string> getVariable(const std::string& path);
    std::optional<std::string> callFunction(const std::string& invokeXml);

    // Runs after every outside call: text fields follow their variables, removed
    // objects go, and what changed on screen is invalidated.
    void settle();

    // --- avm1::Host ----------------------------------------------------------------------------
    avm1::Clip* level(int n) override;
    void trace(std::string_view text) override;
    double timerMs() override { return clockMs_; }
    void getUrl(const avm1::UrlRequest& request) override;
    void fsCommand(const std::string& command, const std::string& args) override;
    void loadMovie(const avm1::LoadTarget& target, const avm1::UrlRequest& request) override;
    void loadVariables(const avm1::LoadTarget& target, const avm1::UrlRequest& request) override;
    std::optional<std::string> externalCall(const std::string& name, const std::string& invokeXml) override;
    bool addCallback(const std::string& name) override;
    Size movieSize() override;
    Size viewSize() override { return {viewW_, viewH_}; }
    void stageLayout(std::string_view scaleMode, std::string_view align) override;
    void setMouseVisible(bool visible) override { pointerHidden_ = !visible; }
    avm1::TextField* focusedTextField() override { return focusedField(); }
    bool setFocus(avm1::TextField* field) override;
    std::string playerType() override { return host.playerType(); }
    uint32_t loadData(const avm1::UrlRequest& request) override;
    uint32_t loadClip(const avm1::LoadTarget& target, const avm1::UrlRequest& request) override;
    uint32_t openStream() override;
    void streamPlay(uint32_t id, const avm1::UrlRequest& request) override;
    void streamPause(uint32_t id, std::optional<bool> pause) override;
    void streamSeek(uint32_t id, double seconds) override;
    void streamBufferTime(uint32_t id, double seconds) override;
    void streamClose(uint32_t id) override;
    StreamState streamState(uint32_t id) override;
    void attachVideo(uint32_t video, uint32_t stream) override;

    std::map<int, std::shared_ptr<MovieClip>> levels;

private:
    struct Pending {
        RequestKind kind = RequestKind::Movie;
        bool root = false;      // loadRootUrl: replaces everything
        int level = -1;
        std::string clipPath;   // loadMovie/loadVariables into a clip
        std::string url;
        // A NetStream's file: the stream's id and the stream's generation
        // (a later play() makes this answer stale).
        uint32_t streamId = 0;
        uint32_t generation = 0;
        // A script object's data load (XML, LoadVars): the interpreter's id for it.
        uint32_t dataId = 0;
        // A MovieClipLoader's load: the interpreter's id for it.
        uint32_t clipLoadId = 0;
        // A later movie load into the same clip or level took this one's
        // place: its answer is dropped.
        bool superseded = false;
        bool observed() const { return dataId || clipLoadId; }
    };
    // Marks the movie loads still waiting for `level` (or, below 0, the clip
    // at `clipPath`) as superseded by a new one.
    void supersedeMovieLoads(int level, const std::string& clipPath);
    struct Queued {
        std::weak_ptr<DisplayObject> clip;
        std::shared_ptr<const MovieDef> movie;  // keeps `actions` alive
        std::span<const uint8_t> actions;
        std::string method;
        std::string construct;  // a registered class's linkage name
    };

    RequestId request(RequestKind kind, const std::string& url, const std::string& target, const std::string& post,
                      Pending pending);
    bool installRoot(std::shared_ptr<MovieDef> movie, const std::string& url);
    void installLevel(int n, std::shared_ptr<MovieDef> movie, const std::string& url);
    void unloadLevel(int n);
    MovieClip* clipByPath(const std::string& path);
    std::string baseUrl() const;
    std::string resolve(const std::string& url) const;
    void collectClips(std::vector<std::shared_ptr<MovieClip>>& out);
    void syncFieldsAndVideoObjects();
    void invalidateChanges();
    void invalidateAll();
    void setError(std::string error);

    // input helpers
    DisplayObject* mouseTargetAt(Point view);
    TextObject* fieldAt(Point view);
    MouseState mouseStateOf(DisplayObject& target) const;
    // Moves a button or handler clip to `to`, running what that transition triggers.
    void transition(DisplayObject& target, MouseState to);
    void updateHover();
    void keyPress(uint8_t swfKey);
    void editField(TextObject& field, uint8_t byte);
    void clipEvents(uint32_t event, uint8_t key = 0);

    std::unique_ptr<Scripting> scripting_;
    std::deque<Queued> queue_;
    std::unordered_set<const uint8_t*> initDone_;
    std::vector<std::shared_ptr<DisplayObject>> graveyard_;
    int running_ = 0;  // nesting of runQueue
    size_t instances_ = 0;
    uint64_t serials_ = 0;

    std::map<RequestId, Pending> pending_;
    // Answers that arrive while script runs wait until it has finished.
    struct Deferred {
        Pending pending;
        std::shared_ptr<MovieDef> movie;
        std::string variables;
        std::shared_ptr<const VideoStream> video;
        bool failed = false;  // a data or clip load that got no answer
        size_t bytes = 0;     // the answer's size
    };
    void applyMedia(Deferred& d);
    void issueMediaRequests();
    std::vector<Pending> mediaRequests_;
    // Hands the streams' status events to script, a few rounds at most: a
    // handler that seeks makes another.
    void deliverStreamEvents();
    const Timeline emptyTimeline_{std::vector<Frame>(1), {}};
    std::map<uint32_t, std::unique_ptr<NetStreamPlayback>> streams_;
    uint32_t nextStream_ = 1;
    std::map<uint32_t, std::weak_ptr<DisplayObject>> videos_;  // by script id
    uint32_t nextVideo_ = 1;
    std::vector<Deferred> deferred_;
    void apply(Deferred d);
    void failUrl(RequestId id, const Pending& pending);
    RequestId nextRequest_ = 1;
    std::string rootUrl_;
    std::string lastError_;

    int viewW_ = 0, viewH_ = 0;
    bool transparent_ = false;
    bool viewChanged_ = true;
    std::vector<uint32_t> frame_;  // scratch for render()
    struct DrawnItem {
        uint64_t serial;
        uint64_t key;
        IRect box;
        bool operator==(const DrawnItem& o) const
        {
            return serial == o.serial && key == o.key && box.left == o.box.left && box.top == o.box.top &&
                   box.right == o.box.right && box.bottom == o.box.bottom;
        }
    };
    std::vector<DrawnItem> drawn_;

    // Stage.scaleMode and Stage.align as the movie set them.
    enum class ScaleMode { ShowAll, ExactFit, NoBorder, NoScale };
    ScaleMode scaleMode_ = ScaleMode::ShowAll;
    std::string align_;
    bool pointerHidden_ = false;
    bool shiftDown_ = false;
    uint32_t nextData_ = 1;
    uint32_t nextClipLoad_ = 1;
    int requestingData_ = 0;  // a data or clip load is being asked for: its answer waits

    double clockMs_ = 0;
    Point mouseView_;
    bool mouseSeen_ = false;
    bool mousePressed_ = false;
    std::weak_ptr<DisplayObject> hover_;    // the button or handler clip under the mouse
    std::weak_ptr<DisplayObject> pressed_;  // the one the mouse went down on
    std::weak_ptr<DisplayObject> focus_;    // the focused text field

    friend struct DrawListBuilder;
};

}  // namespace refplayer::engine
