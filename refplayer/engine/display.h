// The display tree: instances of the movie's characters placed on the
// timelines of movie clips, and the timeline logic that builds each frame's
// display list from the movie's commands.
#pragma once

#include "../script/avm1_host.h"
#include "../script/avm1_value.h"
#include "device_font.h"
#include "geometry.h"
#include "swf_movie.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace refplayer::media {
class VideoDecoder;
}

namespace refplayer::engine {

class PlayerCore;
class MovieClip;

class DisplayObject : public std::enable_shared_from_this<DisplayObject> {
public:
    enum class Type : uint8_t { Shape, Clip, Button, Text, Video };

    DisplayObject(Type t, PlayerCore& core, std::shared_ptr<const MovieDef> movie, const Character* def);
    virtual ~DisplayObject();
    DisplayObject(const DisplayObject&) = delete;
    DisplayObject& operator=(const DisplayObject&) = delete;

    const Type type;
    PlayerCore& core;
    std::shared_ptr<const MovieDef> movie;  // owns `def`
    const Character* def = nullptr;         // null for a level's root clip
    uint64_t serial = 0;                    // unique per player, for change tracking

    // Placement on the parent's display list.
    DisplayObject* container = nullptr;     // the clip or button this lies in; null for a level
    int depth = 0;
    int placedFrame = -1;                   // the parent frame whose command created it
    Matrix matrix;
    ColorTransform colorTransform;
    uint16_t ratio = 0;
    uint16_t clipDepth = 0;                 // non-zero: a mask (drawn as nothing, see render.cpp)
    std::string name;
    bool visible = true;
    bool scriptMoved = false;               // script set a transform: the timeline leaves it alone
    bool removed = false;
    bool dynamic = false;                   // made by script: the timeline leaves it alone
    int nesting = 0;                        // containers (clips, buttons) between it and its level

    uint16_t characterId() const { return def ? def->id : 0; }
    // The movie clip whose timeline this lies on (a button's children answer
    // the button's clip).
    MovieClip* parentClip() const;
    // Concatenated transforms up to the level root (stage twips).
    Matrix stageMatrix() const;
    ColorTransform stageColorTransform() const;
    bool visibleOnStage() const;
};

class ShapeObject : public DisplayObject {
public:
    ShapeObject(PlayerCore& c, std::shared_ptr<const MovieDef> m, const ShapeDef* d) : DisplayObject(Type::Shape, c, std::move(m), d) {}
    const ShapeDef& shape() const { return static_cast<const ShapeDef&>(*def); }
};

// How one character of a text field is set, as its text format says.
struct CharStyle {
    bool bold = false, italic = false;
    bool kerning = false;  // the font's kerning pairs apply after this character
    DeviceFace face = DeviceFace::Sans;  // device text: the kind of face its font name asks for
    bool operator==(const CharStyle&) const = default;
};

// A text field: the definition's settings as script has changed them since,
// and its text.
class TextObject : public DisplayObject, public avm1::TextField {
public:
    TextObject(PlayerCore& c, std::shared_ptr<const MovieDef> m, const EditTextDef* d);
    ~TextObject() override;
    const EditTextDef& field() const { return settings_; }
    bool editable() const { return !settings_.readOnly; }
    // How the character at `index` of the shown text is drawn.
    struct Look {
        Rgba color;
        bool bold = false, underline = false;
    };
    Look lookAt(size_t index) const;
    // The face and kerning the character at `index` is set in.
    CharStyle styleAt(size_t index) const;
    // Whether typing may enter `byte` (restrict), and may add to the text (maxChars).
    bool accepts(uint8_t byte) const;
    // After the text or the settings changed: the size autoSize gives, and a
    // scroll position within the lines there are.
    void relayout();
    std::string text;     // bytes, as the variable holds them
    bool focused = false;
    bool bound = false;   // the variable has been linked (initial text given to it when unset)
    int scrollLine = 1;   // the first line shown, from 1
    uint64_t revision = 0;  // counts script's changes to what the field shows

    // --- avm1::TextField ------------------------------------------------------------
    avm1::Object* scriptObject() override;
    bool alive() const override { return !removed; }
    avm1::Clip* parent() override;
    std::string name() const override { return DisplayObject::name; }
    avm1::TextFieldSettings settings() const override;
    avm1::TextFieldMetrics metrics() const override;
    std::string contents(bool markup) const override;
    int scroll() const override { return scrollLine; }
    size_t selectionBegin() const override { return std::min(selBegin_, shownLength()); }
    size_t selectionEnd() const override { return std::min(selEnd_, shownLength()); }
    void setSelection(size_t begin, size_t end) override;
    avm1::PropertyValue getProperty(avm1::ClipProperty property) const override;
    void setSettings(const avm1::TextFieldSettings& settings) override;
    void setContents(std::string_view text, bool markup) override;
    void setScroll(int line) override;
    avm1::TextFormatValues textFormat(size_t begin, size_t end) const override;
    void setTextFormat(size_t begin, size_t end, const avm1::TextFormatValues& format) override;
    avm1::TextFormatValues newTextFormat() const override { return newFormat_; }
    void setNewTextFormat(const avm1::TextFormatValues& format) override;
    void setProperty(avm1::ClipProperty property, const avm1::PropertyValue& value) override;
    void setName(std::string_view name) override { DisplayObject::name = std::string(name); }
    void remove() override;

private:
    friend class MovieClip;  // createTextField sets a new field's box
    // Gives the bound variable the field's text.
    void storeVariable();

    // Formats over the shown text: runs in order, each up to `end`.
    struct FormatRun {
        size_t end = 0;
        avm1::TextFormatValues format;
    };
    size_t shownLength() const { return runs_.empty() ? 0 : runs_.back().end; }
    // The run holding offset `index`, or null past the last.
    const FormatRun* runAt(size_t index) const;
    // Splits the run holding offset `at` so that a run ends there.
    void splitRunsAt(size_t at);
    // Brings the runs to the shown text's length, and the field-wide layout
    // (size, alignment, margins, leading) to the first character's format.
    void applyFormats();

    EditTextDef settings_;
    std::vector<FormatRun> runs_;
    avm1::TextFormatValues newFormat_;
    // Typing always adds at the end; the selection is kept for script to read.
    size_t selBegin_ = 0, selEnd_ = 0;
    std::string autoSize_ = "none";
    std::optional<std::string> restrict_;
    avm1::ObjectRef object_;
};

// Whether `restrict` (a TextField.restrict pattern: characters, ranges "a-z",
// "^" switching to characters refused, "\\" escaping the next) lets `c` in.
bool restrictAllows(std::string_view restrict, char32_t c);

class VideoObject : public DisplayObject {
public:
    VideoObject(PlayerCore& c, std::shared_ptr<const MovieDef> m, const VideoDef* d);
    ~VideoObject() override;
    const VideoDef& video() const { return static_cast<const VideoDef&>(*def); }
    // Decodes up to the frame the placement's ratio names (Screen Video and
    // Sorenson Spark; other codecs keep the placeholder).
    void update();
    // The last decoded picture (0xFFRRGGBB rows), for frame `decodedFrame`.
    std::vector<uint32_t> picture;
    int pictureWidth = 0, pictureHeight = 0;
    int decodedFrame = -1;
    // Video.attachVideo: the stream shown instead of the character's own
    // frames (0: none), and the stream picture's key when last copied.
    uint32_t stream = 0;
    uint64_t streamKey = 0;
    bool streamPlaceholder = false;  // the stream's frames cannot be decoded
    // Script's view of the object, made when script first names it.
    uint32_t scriptId = 0;
    avm1::ObjectRef script;

private:
    std::unique_ptr<media::VideoDecoder> decoder_;
};

using DisplayList = std::map<int, std::shared_ptr<DisplayObject>>;

// Where the mouse stands with respect to something that reacts to it (a
// button, or a clip with onPress/onRelease/... handlers).
enum class MouseState : uint8_t { Idle, OverUp, OverDown, OutDown };

class ButtonObject : public DisplayObject {
public:
    using State = MouseState;
    ButtonObject(PlayerCore& c, std::shared_ptr<const MovieDef> m, const ButtonDef* d) : DisplayObject(Type::Button, c, std::move(m), d) {}
    const ButtonDef& button() const { return static_cast<const ButtonDef&>(*def); }
    // Moves to `state`, rebuilding the shown characters when the look changes.
    void setState(State state);
    State state() const { return state_; }
    uint8_t visualState() const;  // buttonState bit shown for the current state
    DisplayList children;

private:
    State state_ = State::Idle;
    uint8_t built_ = 0;
};

// A sprite instance or a level's root timeline: a display list, a frame
// counter, a play/stop state and script variables.
class MovieClip : public DisplayObject, public avm1::Clip {
public:
    MovieClip(PlayerCore& c, std::shared_ptr<const MovieDef> m, const Character* d, const Timeline& timeline,
              int nesting);
    ~MovieClip() override;

    // --- timeline -------------------------------------------------------------------
    // Builds frame 0 and queues its actions (a new clip, a freshly loaded movie).
    void enterFirstFrame();
    // One tick: the next frame when playing; at the end a clip loops, a level
    // root loops only when `loop` is set, and stops otherwise.
    void advance(bool loop);
    // Goes to `frame` (clamped): forwards by applying the commands in between,
    // backwards by rebuilding from frame 0; keeps instances that stay, queues the
    // target frame's actions.
    void gotoFrameIndex(int frame);
    // loadMovie into this clip: the clip plays `movie`'s root timeline from now on.
    void replaceContent(std::shared_ptr<const MovieDef> movie);
    const Timeline& timeline() const { return *timeline_; }
    const std::shared_ptr<const MovieDef>& contentMovie() const { return content_; }
    int frame() const { return frame_; }
    bool playing = true;
    int levelNumber = -1;  // for level roots
    MouseState mouseState = MouseState::Idle;  // when script gave it mouse handlers
    std::string url;       // of the movie this clip plays, for _url
    DisplayList children;
    std::vector<ClipAction> clipActions;

    // --- avm1::Clip -------------------------------------------------------------------
    avm1::Object* variables() override { return vars_.get(); }
    avm1::Clip* parent() override;
    avm1::Clip* childByName(std::string_view name, bool caseSensitive) override;
    std::string name() const override { return DisplayObject::name; }
    int level() const override { return levelNumber; }
    int swfVersion() const override;
    int currentFrame() const override { return frame_ < 0 ? 0 : frame_; }
    int totalFrames() const override { return timeline_->frameCount(); }
    std::optional<int> frameOfLabel(std::string_view label) const override { return timeline_->frameOfLabel(label); }
    avm1::Object* videoByName(std::string_view name, bool caseSensitive) override;
    avm1::PropertyValue getProperty(avm1::ClipProperty property) const override;
    void setProperty(avm1::ClipProperty property, const avm1::PropertyValue& value) override;
    void gotoFrame(int frame, bool play) override;
    void play() override { playing = true; }
    void stop() override { playing = false; }
    void nextFrame() override;
    void prevFrame() override;
    void duplicate(std::string_view newName, int depth) override;
    void remove() override;
    bool attachMovie(std::string_view linkage, std::string_view newName, int depth) override;
    bool attachSymbol(std::string_view linkage, std::string_view newName, int depth);
    bool createEmpty(std::string_view newName, int depth) override;
    std::optional<int> highestDepth() const override;
    avm1::ClipColor clipColor() const override;
    void setClipColor(const avm1::ClipColor& color) override;
    avm1::TextField* textFieldByName(std::string_view name, bool caseSensitive) override;
    avm1::TextField* createTextField(std::string_view name, int depth, double x, double y, double width,
                                     double height) override;
    // Takes `child` (one of this clip's) off the display list.
    void removeChildObject(DisplayObject& child);

private:
    struct Placement {
        uint16_t character = 0;
        int placedFrame = -1;
        Matrix matrix;
        ColorTransform colorTransform;
        uint16_t ratio = 0;
        uint16_t clipDepth = 0;
        std::string name;
        std::optional<bool> visible;
        const PlaceCommand* created = nullptr;  // for the clip actions of a new instance
    };
    using State = std::map<int, Placement>;

    State liveState() const;
    void applyCommands(State& state, int frame) const;
    // Brings the display list to `target`. Clips it creates that are
    // exported symbols get their class construction queued at `constructAt`
    // (advanced past each), ahead of the frame's own actions.
    void reconcile(const State& target, size_t& constructAt);
    std::shared_ptr<DisplayObject> instantiate(int depth, const Placement& p);
    void removeChild(DisplayList::iterator it);

    std::shared_ptr<const MovieDef> content_;  // the movie whose timeline plays (differs from `movie` after loadMovie)
    const Timeline* timeline_;
    int frame_ = -1;
    avm1::ObjectRef vars_;
};

// Creates the instance of a character for a display list (nullptr when the
// character is unknown, or a cap forbids it). Sprites are returned without
// their first frame built: the caller enters it once the clip is in place.
std::shared_ptr<DisplayObject> createInstance(PlayerCore& core, const std::shared_ptr<const MovieDef>& movie,
                                              uint16_t character, DisplayObject* container, int nesting);

}  // namespace refplayer::engine
