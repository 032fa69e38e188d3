// What the AVM1 interpreter needs from the player around it: the movie clips
// (timelines, properties, instance names) and the outside world (URLs,
// fscommand, trace, the clock, ExternalInterface).
//
// The engine implements Clip for each of its movie clips and Host once per
// player; the interpreter (avm1_vm.h) drives them. Everything is platform-free.
//
// Lifetime rules, relied on by both sides:
// - The interpreter never keeps a Clip* beyond the call into the host that may
//   change the display list. Script values that denote clips hold the clip's
//   target path and are resolved again at every use, so a removed clip simply
//   reads as undefined.
// - The "navigation" calls (Host::level, Clip::parent, Clip::childByName,
//   Clip::name, Clip::level, Clip::variables, Clip::getProperty, frame
//   queries) must not change the display list or run script.
// - The "command" calls (goto, play, stop, setProperty, load*, getUrl,
//   externalCall ...) may do anything, including re-entering the interpreter.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace refplayer::avm1 {

class Object;

// Clip properties by the index that GetProperty/SetProperty carry.
enum class ClipProperty : int {
    X = 0, Y = 1, XScale = 2, YScale = 3, CurrentFrame = 4, TotalFrames = 5, Alpha = 6, Visible = 7,
    Width = 8, Height = 9, Rotation = 10, Target = 11, FramesLoaded = 12, Name = 13, DropTarget = 14,
    Url = 15, HighQuality = 16, FocusRect = 17, SoundBufTime = 18, Quality = 19, XMouse = 20, YMouse = 21,
};
inline constexpr int kClipPropertyCount = 22;

// "_x" -> X and so on. Property names are matched without regard to case, as
// the player does for every SWF version.
std::optional<ClipProperty> clipPropertyByName(std::string_view name);
std::string_view clipPropertyName(ClipProperty property);

// A property as the clip answers it: a number (_x, _alpha, _rotation ...), a
// flag (_visible) or a text (_url, _droptarget). monostate: "not supported",
// which scripts read as undefined.
using PropertyValue = std::variant<std::monostate, double, bool, std::string>;

enum class HttpMethod { None, Get, Post };

// A URL the movie wants, with the variables of the sending clip already
// encoded: appended to `url` after '?' for GET, in `postData` for POST.
struct UrlRequest {
    std::string url;
    std::string window;     // getURL's window target ("_blank", "_self", a frame name ...)
    HttpMethod method = HttpMethod::None;
    std::string postData;
};

// Where loadMovie/loadVariables put their result: a level (`level` >= 0,
// which may be empty until the load arrives) or an existing clip (`clip`,
// valid only during the call; `path` is its dot target path, "_level0.a").
struct LoadTarget {
    int level = -1;
    class Clip* clip = nullptr;
    std::string path;
};

// A clip's colour transform as Color objects read and write it: multipliers
// in percent, offsets added to each 0-255 channel.
struct ClipColor {
    double ra = 100, rb = 0, ga = 100, gb = 0, ba = 100, bb = 0, aa = 100, ab = 0;
};

// A text field's settings as scripts read and write them. Colours are 0xRRGGBB.
struct TextFieldSettings {
    bool html = false, wordWrap = false, multiline = false, password = false, selectable = true,
         input = false, border = false, background = false;
    uint32_t textColor = 0x000000, borderColor = 0x000000, backgroundColor = 0xFFFFFF;
    std::string autoSize = "none";        // "none", "left", "center" or "right"
    std::optional<std::string> restrict;  // what typing may enter; nullopt: anything
    int maxChars = 0;                     // what typing may fill; 0: no limit
    std::string variable;                 // the bound variable; "" when none
};

// A text format as TextFormat objects carry it: every member may be unset
// (null to scripts). Sizes and margins in pixels, colour 0xRRGGBB, align one of
// "left", "right", "center", "justify".
struct TextFormatValues {
    std::optional<std::string> font, url, target, align;
    std::optional<double> size, leftMargin, rightMargin, indent, blockIndent, leading, letterSpacing;
    std::optional<uint32_t> color;
    std::optional<bool> bold, italic, underline, bullet, kerning;
    bool operator==(const TextFormatValues&) const = default;
};

// A text field's laid-out text, in pixels and lines.
struct TextFieldMetrics {
    double textWidth = 0, textHeight = 0;
    int lines = 1;         // lines of text after wrapping
    int visibleLines = 1;  // lines the field's height shows at once
};

// A text field (placed by the timeline or made by createTextField) as scripts
// see it. The interpreter reaches fields only through Clip::textFieldByName
// and Clip::createTextField and keeps no TextField* between calls: script
// values hold the field's script object, which the engine unlinks
// (Vm::unlinkTextField) when the field goes.
class TextField {
public:
    virtual ~TextField() = default;

    // --- navigation (must not change the display list) -----------------------
    // The object scripts use for the field: made on first use, the same for
    // the field's whole life.
    virtual Object* scriptObject() = 0;
    virtual bool alive() const = 0;  // false once taken off the stage
    virtual Clip* parent() = 0;
    virtual std::string name() const = 0;
    virtual TextFieldSettings settings() const = 0;
    virtual TextFieldMetrics metrics() const = 0;
    // The text as held (with `markup` and an HTML field: the markup), or as
    // shown (tags taken out, paragraph ends as "\r").
    virtual std::string contents(bool markup) const = 0;
    virtual int scroll() const = 0;  // the first line shown, from 1
    // The selection as byte offsets into the shown text (begin == end: the caret).
    virtual size_t selectionBegin() const = 0;
    virtual size_t selectionEnd() const = 0;
    // X, Y, XScale, YScale, Alpha, Visible, Width, Height, Rotation, XMouse, YMouse.
    virtual PropertyValue getProperty(ClipProperty property) const = 0;

    // --- commands (may change the display list) --------------------------------
    virtual void setSettings(const TextFieldSettings& settings) = 0;
    // New text: markup when `markup` and the field is an HTML field; plain text
    // otherwise (an HTML field then holds it escaped).
    virtual void setContents(std::string_view text, bool markup) = 0;
    virtual void setScroll(int line) = 0;  // clamped to the lines there are
    virtual void setSelection(size_t begin, size_t end) = 0;  // clamped to the text
    // Formats over the shown text, by byte offset: what the characters in
    // [begin, end) share (members that differ are unset), and setting the
    // members `format` gives on them. The new text format is what text
    // set or typed from now on takes.
    virtual TextFormatValues textFormat(size_t begin, size_t end) const = 0;
    virtual void setTextFormat(size_t begin, size_t end, const TextFormatValues& format) = 0;
    virtual TextFormatValues newTextFormat() const = 0;
    virtual void setNewTextFormat(const TextFormatValues& format) = 0;
    virtual void setProperty(ClipProperty property, const PropertyValue& value) = 0;
    virtual void setName(std::string_view name) = 0;
    // removeTextField: only fields script made go; others ignore it.
    virtual void remove() = 0;
};

// One movie clip (a level's root timeline or a sprite instance).
// Frames are 0-based here; scripts see them 1-based and the interpreter
// converts.
class Clip {
public:
    virtual ~Clip() = default;

    // --- navigation (must not change the display list) -----------------------
    // The clip's variables and script-visible members: an object the engine
    // obtained from Vm::newClipObject and keeps (pinned) for the clip's life.
    virtual Object* variables() = 0;
    virtual Clip* parent() = 0;                     // nullptr for a level's root
    // The child instance named `name` (the first in depth order when several
    // share it). Names compare without regard to case when !caseSensitive
    // (movies before SWF 7).
    virtual Clip* childByName(std::string_view name, bool caseSensitive) = 0;
    virtual std::string name() const = 0;           // instance name; "" for a level's root
    virtual int level() const = 0;                  // the level number of a root clip (parent()==nullptr)
    // The SWF version of the movie this clip belongs to; decides conversion
    // and case rules for its scripts.
    virtual int swfVersion() const = 0;

    virtual int currentFrame() const = 0;           // 0-based
    virtual int totalFrames() const = 0;
    virtual std::optional<int> frameOfLabel(std::string_view label) const = 0;  // 0-based
    // The video object (a placed video character) named `name` on this clip's
    // display list: the script object the engine keeps for it (made by
    // Vm::newVideoObject), or nullptr.
    virtual Object* videoByName(std::string_view /*name*/, bool /*caseSensitive*/) { return nullptr; }

    // Geometry, colour and host facts: X, Y, XScale, YScale, Alpha, Visible,
    // Width, Height, Rotation, DropTarget, Url, XMouse, YMouse. The interpreter
    // itself answers CurrentFrame, TotalFrames, FramesLoaded, Target and Name
    // and the player-wide ones (HighQuality, FocusRect, SoundBufTime, Quality).
    virtual PropertyValue getProperty(ClipProperty property) const = 0;

    // --- commands (may change anything, may re-enter the interpreter) --------
    // Numbers arrive finite (NaN assignments are dropped by the interpreter),
    // Visible as bool, Name as text.
    virtual void setProperty(ClipProperty property, const PropertyValue& value) = 0;
    virtual void gotoFrame(int frame, bool play) = 0;   // clamped by the clip to its frames
    virtual void play() = 0;
    virtual void stop() = 0;
    virtual void nextFrame() = 0;                       // and stop
    virtual void prevFrame() = 0;                       // and stop
    // The Call action: runs the actions of `frame` now (through Vm::run),
    // without moving the playhead.
    virtual void callFrame(int /*frame*/) {}
    // duplicateMovieClip / removeMovieClip. The reference player may ignore them.
    virtual void duplicate(std::string_view /*newName*/, int /*depth*/) {}
    virtual void remove() {}
    // attachMovie: a new child clip of the symbol exported (or built into the
    // player) as `linkage`, named `newName`, at script depth `depth`. Answers
    // whether a clip was made; the interpreter then finds it by name.
    virtual bool attachMovie(std::string_view /*linkage*/, std::string_view /*newName*/, int /*depth*/) {
        return false;
    }
    // createEmptyMovieClip: a new child clip with one empty frame, named
    // `newName`, at script depth `depth`. Answers whether a clip was made.
    virtual bool createEmpty(std::string_view /*newName*/, int /*depth*/) { return false; }
    // The highest script depth a child occupies (nullopt when none does), for
    // getNextHighestDepth.
    virtual std::optional<int> highestDepth() const { return std::nullopt; }
    // The clip's own colour transform (Color.getTransform / setTransform).
    // Setting it may redraw but runs no script.
    virtual ClipColor clipColor() const { return {}; }
    virtual void setClipColor(const ClipColor& /*color*/) {}
    // The child text field named `name` (navigation: must not change the
    // display list), and createTextField: a new field at script depth `depth`,
    // `x`, `y`, `width` by `height` pixels, replacing what lay at that depth.
    // nullptr when the clip has no text fields or none was made.
    virtual TextField* textFieldByName(std::string_view /*name*/, bool /*caseSensitive*/) { return nullptr; }
    virtual TextField* createTextField(std::string_view /*name*/, int /*depth*/, double /*x*/, double /*y*/,
                                       double /*width*/, double /*height*/) {
        return nullptr;
    }
};

// The player around the interpreter.
class Host {
public:
    virtual ~Host() = default;

    // The root clip of level `n`, or nullptr when the level is empty.
    virtual Clip* level(int n) = 0;

    // trace(...) output, already converted to text.
    virtual void trace(std::string_view text) = 0;
    // getTimer(): milliseconds since the player started. Timers made by
    // setInterval and setTimeout are due on this clock too.
    virtual double timerMs() = 0;
    // Date: the wall clock, in milliseconds since 1970-01-01 00:00 UTC, and
    // the local time zone's offset from UTC at the UTC time `utcMs` (in
    // milliseconds, daylight saving included; east of Greenwich positive).
    // The defaults ask the C library.
    virtual double wallClockMs();
    virtual double localOffsetMs(double utcMs);

    // getURL with a window target. "FSCommand:" URLs never arrive here; they
    // become fsCommand(command, args), the text after the prefix and the target.
    virtual void getUrl(const UrlRequest& request) = 0;
    virtual void fsCommand(const std::string& command, const std::string& args) = 0;
    // loadMovie (an empty url unloads the target) and loadVariables.
    virtual void loadMovie(const LoadTarget& target, const UrlRequest& request) = 0;
    virtual void loadVariables(const LoadTarget& target, const UrlRequest& request) = 0;

    // ExternalInterface. `invokeXml` is the request
    // <invoke name="NAME" returntype="xml"><arguments>...</arguments></invoke>;
    // the answer is one ExternalInterface XML value ("<string>x</string>"), or
    // nullopt when the container gives none (the call then yields null).
    virtual bool externalAvailable() { return true; }
    virtual std::optional<std::string> externalCall(const std::string& /*name*/,
                                                    const std::string& /*invokeXml*/) {
        return std::nullopt;
    }
    // ExternalInterface.addCallback(name, ...): the interpreter keeps the
    // function; the host learns the name so that it can offer it to its
    // container. Answers whether the container can call it.
    virtual bool addCallback(const std::string& /*name*/) { return externalAvailable(); }

    // --- the stage and the pointer, as Stage, Mouse and System report them ------
    struct Size {
        int width = 0;
        int height = 0;
    };
    // The root movie's stage in pixels, and the area the player shows it in.
    virtual Size movieSize() { return {550, 400}; }
    virtual Size viewSize() { return movieSize(); }
    // The screen System.capabilities reports.
    virtual Size screenSize() { return {1024, 768}; }
    // Stage.scaleMode ("showAll", "exactFit", "noBorder", "noScale") and
    // Stage.align (letters of "TBLR", canonical order) changed: the host lays
    // the stage out in its view accordingly.
    virtual void stageLayout(std::string_view /*scaleMode*/, std::string_view /*align*/) {}
    // Mouse.hide / Mouse.show.
    virtual void setMouseVisible(bool /*visible*/) {}
    // The keyboard focus as Selection reports and moves it: the focused text
    // field (nullptr when none), and moving it to `field` (nullptr: to none).
    // setFocus answers whether the focus went there; it tells the
    // interpreter (Vm::focusChanged) when it moved.
    virtual TextField* focusedTextField() { return nullptr; }
    virtual bool setFocus(TextField* /*field*/) { return false; }
    // "PlugIn", "ActiveX", "StandAlone" or "External" (System.capabilities.playerType).
    virtual std::string playerType() { return "StandAlone"; }

    // --- data loads (XML.load, LoadVars.load and their sendAndLoad) --------------
    // Asks for `request`'s body as text. Answers an id (never 0) that the host
    // later hands to Vm::dataArrived with the body, or without one when the
    // load failed; 0 when the host refuses at once (the load then fails too).
    virtual uint32_t loadData(const UrlRequest& /*request*/) { return 0; }
    // MovieClipLoader.loadClip: loadMovie whose outcome the host reports
    // through Vm::clipLoaded with the id answered (never 0); 0 when the host
    // cannot report it (the load is made all the same, unobserved).
    virtual uint32_t loadClip(const LoadTarget& target, const UrlRequest& request) {
        loadMovie(target, request);
        return 0;
    }

    // --- progressive video streams (NetStream) -------------------------------------
    // What a stream reports to NetStream's members: the playhead in seconds and
    // the bytes of the file in hand and expected.
    struct StreamState {
        double time = 0;
        double bytesLoaded = 0;
        double bytesTotal = 0;
        double bufferLength = 0;
    };
    // A new stream, idle until played. Answers its id (never 0), or 0 when the
    // host plays no video (the NetStream then stays silent). The host reports
    // what happens to it through Vm::streamStatus and Vm::streamMetaData.
    virtual uint32_t openStream() { return 0; }
    // play(url): fetches the file and plays it from its start, replacing what
    // the stream played before.
    virtual void streamPlay(uint32_t /*id*/, const UrlRequest& /*request*/) {}
    // pause(): toggles when `pause` is empty, else pauses (true) or resumes.
    virtual void streamPause(uint32_t /*id*/, std::optional<bool> /*pause*/) {}
    virtual void streamSeek(uint32_t /*id*/, double /*seconds*/) {}
    virtual void streamBufferTime(uint32_t /*id*/, double /*seconds*/) {}
    // close(): stops and forgets the file; the stream may be played again.
    virtual void streamClose(uint32_t /*id*/) {}
    virtual StreamState streamState(uint32_t /*id*/) { return {}; }
    // Video.attachVideo: the video object `video` (Clip::videoByName's id) shows
    // stream `stream` from now on (0: nothing).
    virtual void attachVideo(uint32_t /*video*/, uint32_t /*stream*/) {}
};

}  // namespace refplayer::avm1
