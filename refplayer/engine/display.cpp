#include "display.h"

#include "media/screen_video.h"
#include "player_core.h"
#include "render.h"
#include "video_playback.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <numbers>

namespace refplayer::engine {

// --- DisplayObject ---------------------------------------------------------------------

DisplayObject::DisplayObject(Type t, PlayerCore& c, std::shared_ptr<const MovieDef> m, const Character* d)
    : type(t), core(c), movie(std::move(m)), def(d)
{
    serial = core.instanceCreated();
}

DisplayObject::~DisplayObject()
{
    core.instanceDestroyed();
}

MovieClip* DisplayObject::parentClip() const
{
    for (DisplayObject* c = container; c; c = c->container)
        if (c->type == Type::Clip)
            return static_cast<MovieClip*>(c);
    return nullptr;
}

Matrix DisplayObject::stageMatrix() const
{
    Matrix m = matrix;
    for (const DisplayObject* c = container; c; c = c->container)
        m = c->matrix * m;
    return m;
}

ColorTransform DisplayObject::stageColorTransform() const
{
    ColorTransform t = colorTransform;
    for (const DisplayObject* c = container; c; c = c->container)
        t = c->colorTransform * t;
    return t;
}

bool DisplayObject::visibleOnStage() const
{
    for (const DisplayObject* o = this; o; o = o->container)
        if (!o->visible || o->removed)
            return false;
    return true;
}

TextObject::TextObject(PlayerCore& c, std::shared_ptr<const MovieDef> m, const EditTextDef* d)
    : DisplayObject(Type::Text, c, std::move(m), d)
{
    if (d->initialText)
        text = *d->initialText;
}

// --- video -------------------------------------------------------------------------------------

VideoObject::VideoObject(PlayerCore& c, std::shared_ptr<const MovieDef> m, const VideoDef* d)
    : DisplayObject(Type::Video, c, std::move(m), d)
{
}

VideoObject::~VideoObject() = default;

void VideoObject::update()
{
    if (stream) {
        // A stream's picture replaces the character's own frames.
        const NetStreamPlayback* s = core.stream(stream);
        if (!s) {
            stream = 0;
            picture.clear();
            pictureWidth = pictureHeight = 0;
            return;
        }
        if (s->pictureKey() == streamKey)
            return;
        streamKey = s->pictureKey();
        picture = s->picture().picture();
        pictureWidth = s->picture().width();
        pictureHeight = s->picture().height();
        streamPlaceholder = s->picture().placeholder();
        return;
    }
    constexpr uint8_t kScreenVideo = 3;
    const VideoDef& v = video();
    if (v.codec != kScreenVideo || v.frames.empty())
        return;
    int target = std::min<int>(ratio, static_cast<int>(v.frames.size()) - 1);
    if (target == decodedFrame)
        return;
    int from = decodedFrame + 1;
    if (!decoder_ || target < decodedFrame) {
        // Inter frames build on their predecessors: going back starts over.
        decoder_ = std::make_unique<media::ScreenVideoDecoder>();
        from = 0;
    }
    std::string error;
    for (int f = from; f <= target; ++f) {
        const auto& packet = v.frames[static_cast<size_t>(f)];
        if (packet.size() < 4)
            continue;
        // The picture size leads the packet (4-bit block size, 12-bit image
        // size, for width then height): refuse giants before decoding.
        size_t w = (static_cast<size_t>(packet[0] & 0x0F) << 8) | packet[1];
        size_t h = (static_cast<size_t>(packet[2] & 0x0F) << 8) | packet[3];
        if (w * h > core.limits.videoPixels)
            continue;
        decoder_->decode(packet, !decoder_->hasImage(), error);  // a bad frame keeps the last picture
    }
    decodedFrame = target;
    if (decoder_->hasImage()) {
        const media::VideoImage& image = decoder_->image();
        picture = image.pixels;
        pictureWidth = image.width;
        pictureHeight = image.height;
    }
}

// --- buttons -----------------------------------------------------------------------------

uint8_t ButtonObject::visualState() const
{
    switch (state_) {
    case State::OverUp: return buttonState::Over;
    case State::OverDown: return buttonState::Down;
    default: return buttonState::Up;
    }
}

void ButtonObject::setState(State state)
{
    state_ = state;
    uint8_t look = visualState();
    if (look == built_)
        return;
    built_ = look;
    for (auto& [d, child] : children)
        core.release(std::move(child));
    children.clear();
    std::vector<std::shared_ptr<DisplayObject>> newClips;
    for (const ButtonRecord& rec : button().records) {
        if (!(rec.states & look) || children.count(rec.depth))
            continue;
        auto child = createInstance(core, movie, rec.character, this, nesting + 1);
        if (!child)
            continue;
        child->depth = rec.depth;
        child->matrix = rec.matrix;
        child->colorTransform = rec.colorTransform;
        children.emplace(rec.depth, child);
        if (child->type == Type::Clip)
            newClips.push_back(child);
    }
    for (auto& c : newClips)
        static_cast<MovieClip&>(*c).enterFirstFrame();
}

// --- creation ------------------------------------------------------------------------------

std::shared_ptr<DisplayObject> createInstance(PlayerCore& core, const std::shared_ptr<const MovieDef>& movie,
                                              uint16_t character, DisplayObject* container, int nesting)
{
    const Character* c = movie->character(character);
    if (!c || !core.mayCreateInstance())
        return nullptr;
    // Sprites and buttons that contain themselves would nest without end.
    if ((c->kind == Character::Kind::Sprite || c->kind == Character::Kind::Button) &&
        nesting > core.limits.clipNesting)
        return nullptr;
    std::shared_ptr<DisplayObject> obj;
    switch (c->kind) {
    case Character::Kind::Shape:
        obj = std::make_shared<ShapeObject>(core, movie, static_cast<const ShapeDef*>(c));
        break;
    case Character::Kind::Sprite:
        obj = std::make_shared<MovieClip>(core, movie, c, static_cast<const SpriteDef*>(c)->timeline, nesting);
        break;
    case Character::Kind::Button: {
        auto b = std::make_shared<ButtonObject>(core, movie, static_cast<const ButtonDef*>(c));
        b->container = container;
        b->nesting = nesting;
        b->setState(ButtonObject::State::Idle);
        obj = b;
        break;
    }
    case Character::Kind::EditText:
        obj = std::make_shared<TextObject>(core, movie, static_cast<const EditTextDef*>(c));
        break;
    case Character::Kind::Video:
        obj = std::make_shared<VideoObject>(core, movie, static_cast<const VideoDef*>(c));
        break;
    }
    obj->container = container;
    obj->nesting = nesting;
    return obj;
}

// --- MovieClip -------------------------------------------------------------------------------

MovieClip::MovieClip(PlayerCore& c, std::shared_ptr<const MovieDef> m, const Character* d, const Timeline& timeline,
                     int nest)
    : DisplayObject(Type::Clip, c, m, d), content_(std::move(m)), timeline_(&timeline)
{
    nesting = nest;
    vars_ = core.scripting().newClipObject();
}

MovieClip::~MovieClip() = default;

int MovieClip::swfVersion() const
{
    return content_->version;
}

void MovieClip::enterFirstFrame()
{
    frame_ = -1;
    gotoFrameIndex(0);
}

void MovieClip::advance(bool loop)
{
    if (!playing || removed)
        return;
    int total = timeline_->frameCount();
    if (total <= 1)
        return;  // a single frame never re-enters itself
    int next = frame_ + 1;
    if (next >= total) {
        if (levelNumber == 0 && !loop) {
            playing = false;
            return;
        }
        next = 0;
    }
    gotoFrameIndex(next);
}

MovieClip::State MovieClip::liveState() const
{
    State s;
    for (const auto& [d, obj] : children) {
        if (obj->type == Type::Clip && static_cast<const MovieClip&>(*obj).dynamic)
            continue;
        Placement p;
        p.character = obj->characterId();
        p.placedFrame = obj->placedFrame;
        p.matrix = obj->matrix;
        p.colorTransform = obj->colorTransform;
        p.ratio = obj->ratio;
        p.clipDepth = obj->clipDepth;
        p.name = obj->name;
        s.emplace(d, std::move(p));
    }
    return s;
}

void MovieClip::applyCommands(State& state, int frame) const
{
    for (const DisplayCommand& command : timeline_->frames[static_cast<size_t>(frame)].commands) {
        if (const auto* remove = std::get_if<RemoveCommand>(&command)) {
            state.erase(remove->depth);
            continue;
        }
        const PlaceCommand& place = std::get<PlaceCommand>(command);
        auto it = state.find(place.depth);
        Placement* p = nullptr;
        if (place.character) {
            if (it != state.end() && !place.move)
                continue;  // the depth is taken: a plain place does not replace
            if (it == state.end()) {
                if (state.size() >= core.limits.depthsPerClip)
                    continue;
                it = state.emplace(place.depth, Placement{}).first;
            }
            p = &it->second;
            if (p->character != *place.character || !place.move) {
                p->character = *place.character;
                p->placedFrame = frame;
                p->created = &place;
            }
        } else {
            if (it == state.end() || !place.move)
                continue;
            p = &it->second;
        }
        if (place.matrix)
            p->matrix = *place.matrix;
        if (place.colorTransform)
            p->colorTransform = *place.colorTransform;
        if (place.ratio)
            p->ratio = *place.ratio;
        if (place.name)
            p->name = *place.name;
        if (place.clipDepth)
            p->clipDepth = *place.clipDepth;
        if (place.visible)
            p->visible = place.visible;
    }
}

std::shared_ptr<DisplayObject> MovieClip::instantiate(int depth, const Placement& p)
{
    auto obj = createInstance(core, movie, p.character, this, nesting + 1);
    if (!obj)
        return nullptr;
    obj->depth = depth;
    obj->placedFrame = p.placedFrame;
    obj->matrix = p.matrix;
    obj->colorTransform = p.colorTransform;
    obj->ratio = p.ratio;
    obj->clipDepth = p.clipDepth;
    obj->name = p.name;
    if (p.visible)
        obj->visible = *p.visible;
    if (obj->type == Type::Clip && p.created)
        static_cast<MovieClip&>(*obj).clipActions = p.created->clipActions;
    return obj;
}

void MovieClip::removeChild(DisplayList::iterator it)
{
    std::shared_ptr<DisplayObject> obj = std::move(it->second);
    children.erase(it);
    core.release(std::move(obj));
}

void MovieClip::reconcile(const State& target, size_t& constructAt)
{
    for (auto it = children.begin(); it != children.end();) {
        auto want = target.find(it->first);
        DisplayObject& obj = *it->second;
        if (obj.type == Type::Clip && static_cast<MovieClip&>(obj).dynamic) {
            ++it;  // made by script: the timeline does not own it
            continue;
        }
        if (want == target.end() || want->second.character != obj.characterId() ||
            want->second.placedFrame != obj.placedFrame) {
            removeChild(it++);
            continue;
        }
        const Placement& p = want->second;
        if (!obj.scriptMoved) {
            obj.matrix = p.matrix;
            obj.colorTransform = p.colorTransform;
        }
        obj.ratio = p.ratio;
        obj.clipDepth = p.clipDepth;
        obj.name = p.name;
        if (p.visible)
            obj.visible = *p.visible;
        ++it;
    }
    std::vector<MovieClip*> fresh;
    for (const auto& [d, p] : target) {
        if (children.count(d))
            continue;
        auto obj = instantiate(d, p);
        if (!obj)
            continue;
        children.emplace(d, obj);
        if (obj->type == Type::Clip)
            fresh.push_back(static_cast<MovieClip*>(obj.get()));
    }
    // New clips start once all of this frame's objects are in place, so their
    // first scripts can reach their siblings.
    for (MovieClip* clip : fresh) {
        if (clip->removed)
            continue;
        if (clip->def && clip->movie)
            if (const std::string* linkage = clip->movie->exportName(clip->def->id))
                core.queueConstruct(*clip, *linkage, constructAt++);
        for (const ClipAction& a : clip->clipActions)
            if (a.events & clipEvent::Load)
                core.queueActions(*clip, content_, a.actions);
        clip->enterFirstFrame();
    }
}

void MovieClip::gotoFrameIndex(int target)
{
    if (removed)
        return;
    target = std::clamp(target, 0, timeline_->frameCount() - 1);
    if (target == frame_)
        return;
    State state;
    int from;
    if (target > frame_) {
        state = liveState();
        from = frame_ + 1;
    } else {
        from = 0;  // backwards: rebuild from the first frame
    }
    for (int f = from; f <= target; ++f)
        applyCommands(state, f);
    frame_ = target;
    // The frame's #initclip blocks run first, once each and in file order:
    // they register the classes the frame's new clips are built as. Then the
    // constructors of those clips, then the frame's actions, and only then
    // the actions of the clips it creates.
    size_t mark = core.queueMark();
    const Frame& fr = timeline_->frames[static_cast<size_t>(target)];
    for (const InitAction& init : fr.initActions)
        if (core.firstRunOf(init.actions.data()))
            core.queueActions(*this, content_, init.actions, mark++);
    reconcile(state, mark);
    for (const auto& a : fr.actions)
        core.queueActions(*this, content_, a, mark++);
}

void MovieClip::replaceContent(std::shared_ptr<const MovieDef> m)
{
    for (auto it = children.begin(); it != children.end();)
        removeChild(it++);
    content_ = std::move(m);
    movie = content_;
    timeline_ = &content_->timeline;
    frame_ = -1;
    playing = true;
    vars_ = core.scripting().newClipObject();
    enterFirstFrame();
}

void MovieClip::gotoFrame(int frame, bool play)
{
    gotoFrameIndex(frame);
    playing = play;
}

void MovieClip::nextFrame()
{
    gotoFrameIndex(frame_ + 1);
    playing = false;
}

void MovieClip::prevFrame()
{
    gotoFrameIndex(frame_ - 1);
    playing = false;
}

void MovieClip::duplicate(std::string_view newName, int scriptDepth)
{
    MovieClip* owner = parentClip();
    if (!owner || !def || removed || scriptDepth < -16384 || scriptDepth > 1048575)
        return;
    // Script depths count from where the timeline's end: 0 is timeline depth 16384.
    const int newDepth = scriptDepth + 16384;
    auto it = owner->children.find(newDepth);
    if (it == owner->children.end() && owner->children.size() >= core.limits.depthsPerClip)
        return;
    auto copy = createInstance(core, movie, def->id, owner, nesting);
    if (!copy)
        return;
    copy->depth = newDepth;
    copy->matrix = matrix;
    copy->colorTransform = colorTransform;
    copy->visible = visible;
    copy->name = std::string(newName);
    auto& clip = static_cast<MovieClip&>(*copy);
    clip.dynamic = true;
    clip.clipActions = clipActions;
    if (it != owner->children.end())
        owner->removeChild(it);
    owner->children.emplace(newDepth, copy);
    for (const ClipAction& a : clip.clipActions)
        if (a.events & clipEvent::Load)
            core.queueActions(clip, movie, a.actions);
    clip.enterFirstFrame();
}

bool MovieClip::attachMovie(std::string_view linkage, std::string_view newName, int scriptDepth)
{
    // The player's one built-in symbol, the video player object, comes first;
    // any other linkage name is a symbol the movie exports.
    auto equalsIgnoreCase = [](std::string_view a, std::string_view b) {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
               });
    };
    if (!equalsIgnoreCase(linkage, "FLVPlayback"))
        return attachSymbol(linkage, newName, scriptDepth);
    if (removed || newName.empty())
        return false;
    if (scriptDepth < -16384 || scriptDepth > 1048575 || nesting + 1 > core.limits.clipNesting ||
        !core.mayCreateInstance())
        return false;
    const int newDepth = scriptDepth + 16384;
    auto it = children.find(newDepth);
    if (it == children.end() && children.size() >= core.limits.depthsPerClip)
        return false;
    // Its own timeline is one empty frame: everything it shows is its own.
    static const Timeline kEmpty = [] {
        Timeline t;
        t.frames.resize(1);
        return t;
    }();
    auto clip = std::make_shared<MovieClip>(core, content_, nullptr, kEmpty, nesting + 1);
    clip->container = this;
    clip->depth = newDepth;
    clip->DisplayObject::name = std::string(newName);
    clip->dynamic = true;
    clip->url = url;
    clip->playback = std::make_unique<VideoPlayback>(*clip);
    if (it != children.end())
        removeChild(it);
    children.emplace(newDepth, clip);
    core.scripting().makeVideoPlayer(*clip);
    clip->enterFirstFrame();
    return true;
}

bool MovieClip::attachSymbol(std::string_view linkage, std::string_view newName, int scriptDepth)
{
    // A symbol the clip's movie exports under that linkage name; the script
    // side makes it an instance of its registered class.
    const std::optional<uint16_t> id = content_->exportedSymbol(linkage);
    const Character* symbol = id ? content_->character(*id) : nullptr;
    if (removed || !symbol || symbol->kind != Character::Kind::Sprite || newName.empty())
        return false;
    if (scriptDepth < -16384 || scriptDepth > 1048575)
        return false;
    const int newDepth = scriptDepth + 16384;
    auto it = children.find(newDepth);
    if (it == children.end() && children.size() >= core.limits.depthsPerClip)
        return false;
    auto made = createInstance(core, content_, *id, this, nesting + 1);
    if (!made)
        return false;
    auto& clip = static_cast<MovieClip&>(*made);
    clip.depth = newDepth;
    clip.DisplayObject::name = std::string(newName);
    clip.dynamic = true;
    if (it != children.end())
        removeChild(it);
    children.emplace(newDepth, made);
    clip.enterFirstFrame();
    return true;
}

bool MovieClip::createEmpty(std::string_view newName, int scriptDepth)
{
    if (removed || newName.empty() || scriptDepth < -16384 || scriptDepth > 1048575)
        return false;
    const int newDepth = scriptDepth + 16384;
    auto it = children.find(newDepth);
    if (it == children.end() && children.size() >= core.limits.depthsPerClip)
        return false;
    if (nesting + 1 > core.limits.clipNesting || !core.mayCreateInstance())
        return false;
    // Its library is its parent's: attachMovie on it finds the same symbols.
    auto clip = std::make_shared<MovieClip>(core, content_, nullptr, core.emptyTimeline(), nesting + 1);
    clip->container = this;
    clip->depth = newDepth;
    clip->DisplayObject::name = std::string(newName);
    clip->dynamic = true;
    clip->url = url;
    if (it != children.end())
        removeChild(it);
    children.emplace(newDepth, clip);
    clip->enterFirstFrame();
    return true;
}

std::optional<int> MovieClip::highestDepth() const
{
    for (auto it = children.rbegin(); it != children.rend(); ++it)
        if (!it->second->removed)
            return it->first - 16384;
    return std::nullopt;
}

void MovieClip::remove()
{
    // Only what script made can script take away.
    MovieClip* owner = parentClip();
    if (!dynamic || !owner || removed)
        return;
    auto it = owner->children.find(depth);
    if (it != owner->children.end() && it->second.get() == this)
        owner->removeChild(it);
}

avm1::Clip* MovieClip::parent()
{
    return parentClip();
}

namespace {

bool sameName(const std::string& n, std::string_view want, bool caseSensitive)
{
    if (n.size() != want.size())
        return false;
    if (caseSensitive)
        return n == want;
    for (size_t i = 0; i < n.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(n[i])) != std::tolower(static_cast<unsigned char>(want[i])))
            return false;
    return true;
}

}  // namespace

avm1::Object* MovieClip::videoByName(std::string_view want, bool caseSensitive)
{
    for (auto& [d, obj] : children)
        if (obj->type == Type::Video && !obj->removed && !obj->name.empty() && sameName(obj->name, want, caseSensitive))
            return core.videoScriptObject(static_cast<VideoObject&>(*obj));
    return nullptr;
}

avm1::Clip* MovieClip::childByName(std::string_view want, bool caseSensitive)
{
    auto same = [&](const std::string& n) {
        if (n.size() != want.size())
            return false;
        if (caseSensitive)
            return n == want;
        for (size_t i = 0; i < n.size(); ++i)
            if (std::tolower(static_cast<unsigned char>(n[i])) != std::tolower(static_cast<unsigned char>(want[i])))
                return false;
        return true;
    };
    for (auto& [d, obj] : children)
        if (obj->type == Type::Clip && !obj->removed && same(obj->name))
            return static_cast<MovieClip*>(obj.get());
    return nullptr;
}

namespace {

double xScale(const Matrix& m) { return std::sqrt(m.a * m.a + m.b * m.b); }
double yScale(const Matrix& m) { return std::sqrt(m.c * m.c + m.d * m.d); }
double rotationDegrees(const Matrix& m) { return std::atan2(m.b, m.a) * 180 / std::numbers::pi; }

}  // namespace

avm1::PropertyValue MovieClip::getProperty(avm1::ClipProperty property) const
{
    using P = avm1::ClipProperty;
    switch (property) {
    case P::X: return matrix.tx / 20.0;
    case P::Y: return matrix.ty / 20.0;
    case P::XScale: return xScale(matrix) * 100;
    case P::YScale: return yScale(matrix) * 100;
    case P::Rotation: return rotationDegrees(matrix);
    case P::Alpha: return colorTransform.ma * 100;
    case P::Visible: return visible;
    case P::Width:
    case P::Height: {
        Box b = localBounds(*this).transformed(matrix);
        if (b.empty())
            return 0.0;
        return property == P::Width ? (b.xMax - b.xMin) / 20.0 : (b.yMax - b.yMin) / 20.0;
    }
    case P::DropTarget: return std::string();
    case P::Url: return url;
    case P::XMouse:
    case P::YMouse: {
        Point p = stageMatrix().inverted().apply(core.mouseStage());
        return (property == P::XMouse ? p.x : p.y) / 20.0;
    }
    default: return std::monostate{};
    }
}

void MovieClip::setProperty(avm1::ClipProperty property, const avm1::PropertyValue& value)
{
    using P = avm1::ClipProperty;
    if (property == P::Name) {
        if (const auto* s = std::get_if<std::string>(&value))
            DisplayObject::name = *s;
        return;
    }
    if (property == P::Visible) {
        if (const auto* b = std::get_if<bool>(&value))
            visible = *b;
        return;
    }
    const double* n = std::get_if<double>(&value);
    if (!n || !std::isfinite(*n))
        return;
    double v = *n;
    switch (property) {
    case P::X: matrix.tx = v * 20; break;
    case P::Y: matrix.ty = v * 20; break;
    case P::XScale:
    case P::YScale:
    case P::Rotation: {
        double sx = xScale(matrix), sy = yScale(matrix);
        double rot = std::atan2(matrix.b, matrix.a);
        double skew = std::atan2(-matrix.c, matrix.d) - rot;  // keeps a skew as it is
        if (property == P::XScale)
            sx = v / 100;
        else if (property == P::YScale)
            sy = v / 100;
        else
            rot = v * std::numbers::pi / 180;
        matrix.a = sx * std::cos(rot);
        matrix.b = sx * std::sin(rot);
        matrix.c = -sy * std::sin(rot + skew);
        matrix.d = sy * std::cos(rot + skew);
        break;
    }
    case P::Alpha: colorTransform.ma = v / 100; break;
    case P::Width:
    case P::Height: {
        Box b = localBounds(*this).transformed(matrix);
        double size = property == P::Width ? b.xMax - b.xMin : b.yMax - b.yMin;
        if (b.empty() || size <= 0)
            return;
        double f = v * 20 / size;
        if (property == P::Width) {
            matrix.a *= f;
            matrix.b *= f;
        } else {
            matrix.c *= f;
            matrix.d *= f;
        }
        break;
    }
    default: return;
    }
    scriptMoved = true;
}

avm1::ClipColor MovieClip::clipColor() const
{
    const ColorTransform& t = colorTransform;
    return {t.mr * 100, t.ar, t.mg * 100, t.ag, t.mb * 100, t.ab, t.ma * 100, t.aa};
}

void MovieClip::setClipColor(const avm1::ClipColor& c)
{
    colorTransform = ColorTransform{c.ra / 100, c.ga / 100, c.ba / 100, c.aa / 100, c.rb, c.gb, c.bb, c.ab};
    // From now on the timeline leaves this clip's placement to script.
    scriptMoved = true;
}

}  // namespace refplayer::engine
