#include "player_core.h"

#include "render.h"
#include "url_text.h"

#include <algorithm>
#include <cctype>

namespace refplayer::engine {

namespace {

// Keeps a counter raised for the length of a scope, exceptions included.
struct Raise {
    explicit Raise(int& v) : value(v) { ++value; }
    ~Raise() { --value; }
    int& value;
};

std::string lowerAscii(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Windows virtual-key codes to the key codes of button and clip key events.
uint8_t swfKeyOf(int virtualKey)
{
    switch (virtualKey) {
    case 0x25: return 1;   // left
    case 0x27: return 2;   // right
    case 0x24: return 3;   // home
    case 0x23: return 4;   // end
    case 0x2D: return 5;   // insert
    case 0x2E: return 6;   // delete
    case 0x08: return 8;   // backspace
    case 0x0D: return 13;  // enter
    case 0x26: return 14;  // up
    case 0x28: return 15;  // down
    case 0x21: return 16;  // page up
    case 0x22: return 17;  // page down
    case 0x09: return 18;  // tab
    case 0x1B: return 19;  // escape
    default: return 0;
    }
}

constexpr int kShiftKey = 0x10;

// The character a key gives on a US keyboard (what Key.getAscii answers while
// it is down), 0 for keys that give none. The character typed after it, when
// the host sends one, replaces this.
int asciiOfKey(int virtualKey, bool shift)
{
    if (virtualKey >= 'A' && virtualKey <= 'Z')
        return shift ? virtualKey : virtualKey + 32;
    if (virtualKey >= '0' && virtualKey <= '9')
        return shift ? ")!@#$%^&*("[virtualKey - '0'] : virtualKey;
    if (virtualKey >= 0x60 && virtualKey <= 0x69)  // the number pad's digits
        return '0' + (virtualKey - 0x60);
    static constexpr struct {
        int key;
        char plain, shifted;
    } kKeys[] = {
        {0x20, ' ', ' '}, {0x6A, '*', '*'}, {0x6B, '+', '+'}, {0x6D, '-', '-'}, {0x6E, '.', '.'}, {0x6F, '/', '/'},
        {0xBA, ';', ':'}, {0xBB, '=', '+'}, {0xBC, ',', '<'}, {0xBD, '-', '_'}, {0xBE, '.', '>'}, {0xBF, '/', '?'},
        {0xC0, '`', '~'}, {0xDB, '[', '{'}, {0xDC, '\\', '|'}, {0xDD, ']', '}'}, {0xDE, '\'', '"'},
    };
    for (const auto& k : kKeys)
        if (k.key == virtualKey)
            return shift ? k.shifted : k.plain;
    switch (virtualKey) {
    case 0x08: return 8;    // backspace
    case 0x09: return 9;    // tab
    case 0x0D: return 13;   // enter
    case 0x1B: return 27;   // escape
    case 0x2E: return 127;  // delete
    default: return 0;
    }
}

}  // namespace

PlayerCore::PlayerCore(PlayerHost& h, Limits l) : host(h), limits(l), scripting_(Scripting::create(*this)) {}

PlayerCore::~PlayerCore()
{
    // Objects report their end to this core: let them go while it is whole.
    queue_.clear();
    deferred_.clear();
    levels.clear();
    graveyard_.clear();
}

// --- instances and the action queue ----------------------------------------------------------

void PlayerCore::release(std::shared_ptr<DisplayObject> object)
{
    if (!object)
        return;
    // Everything inside goes with it.
    std::vector<DisplayObject*> stack{object.get()};
    while (!stack.empty()) {
        DisplayObject* o = stack.back();
        stack.pop_back();
        o->removed = true;
        if (o->type == DisplayObject::Type::Clip)
            for (auto& [d, c] : static_cast<MovieClip*>(o)->children)
                stack.push_back(c.get());
        else if (o->type == DisplayObject::Type::Button)
            for (auto& [d, c] : static_cast<ButtonObject*>(o)->children)
                stack.push_back(c.get());
    }
    graveyard_.push_back(std::move(object));
}

TextObject* PlayerCore::focusedField() const
{
    auto f = focus_.lock();
    if (!f || !f->visibleOnStage())
        return nullptr;
    return static_cast<TextObject*>(f.get());
}

void PlayerCore::queueActions(MovieClip& clip, std::shared_ptr<const MovieDef> owner, std::span<const uint8_t> actions,
                              size_t at)
{
    if (actions.empty())
        return;
    Queued q{clip.weak_from_this(), std::move(owner), actions, {}, {}};
    if (at >= queue_.size())
        queue_.push_back(std::move(q));
    else
        queue_.insert(queue_.begin() + static_cast<ptrdiff_t>(at), std::move(q));
}

void PlayerCore::queueMethod(MovieClip& clip, std::string method)
{
    queue_.push_back(Queued{clip.weak_from_this(), nullptr, {}, std::move(method), {}});
}

void PlayerCore::queueConstruct(MovieClip& clip, std::string linkage, size_t at)
{
    Queued q{clip.weak_from_this(), nullptr, {}, {}, std::move(linkage)};
    if (at >= queue_.size())
        queue_.push_back(std::move(q));
    else
        queue_.insert(queue_.begin() + static_cast<ptrdiff_t>(at), std::move(q));
}

void PlayerCore::queueClipEvent(MovieClip& clip, uint32_t event, uint8_t key)
{
    for (const ClipAction& a : clip.clipActions)
        if ((a.events & event) && (event != clipEvent::KeyPress || a.keyCode == key))
            queueActions(clip, clip.movie, a.actions);
}

void PlayerCore::runQueue()
{
    if (running_)
        return;  // the outermost run takes whatever gets queued meanwhile
    {
        Raise guard(running_);
        size_t count = 0;
        const uint64_t actionsBefore = scripting_->actionsRun();
        while (!queue_.empty()) {
            if (++count > limits.actionsPerTick) {
                queue_.clear();
                setError("scripts queued more than " + std::to_string(limits.actionsPerTick) +
                         " action blocks in one go; the rest were dropped");
                break;
            }
            // Each block has its own action budget; blocks that keep queueing
            // one another share this one, so a tick always ends.
            if (scripting_->actionsRun() - actionsBefore > limits.scriptActionsPerTick) {
                queue_.clear();
                setError("scripts ran more than " + std::to_string(limits.scriptActionsPerTick) +
                         " actions in one go; the rest were dropped");
                break;
            }
            Queued q = std::move(queue_.front());
            queue_.pop_front();
            auto obj = q.clip.lock();
            if (!obj || obj->removed || obj->type != DisplayObject::Type::Clip)
                continue;
            auto& clip = static_cast<MovieClip&>(*obj);
            if (!q.method.empty()) {
                scripting_->callMethod(clip, q.method);
                continue;
            }
            if (!q.construct.empty()) {
                if (std::string err = scripting_->constructClip(clip, q.construct); !err.empty())
                    setError("script: " + err);
                continue;
            }
            std::string err = scripting_->run(clip, q.actions);
            if (!err.empty())
                setError("script: " + err);
        }
    }
    // Answers that came in while script ran take effect now, each with its own
    // frame scripts.
    while (!deferred_.empty() && !running_) {
        Deferred d = std::move(deferred_.front());
        deferred_.erase(deferred_.begin());
        apply(std::move(d));
    }
}

// --- loading -------------------------------------------------------------------------------------

RequestId PlayerCore::request(RequestKind kind, const std::string& url, const std::string& target,
                              const std::string& post, Pending pending)
{
    RequestId id = nextRequest_++;
    if (nextRequest_ == 0)
        nextRequest_ = 1;
    if (kind != RequestKind::Navigate)
        pending_[id] = std::move(pending);
    // The host may answer from inside this call.
    host.requestUrl(id, kind, url, target, post);
    return id;
}

void PlayerCore::loadRootUrl(const std::string& url)
{
    Pending p;
    p.kind = RequestKind::Movie;
    p.root = true;
    p.level = 0;
    p.url = url;
    request(RequestKind::Movie, url, "", "", std::move(p));
}

bool PlayerCore::deliverUrl(RequestId id, std::span<const uint8_t> data)
{
    auto it = pending_.find(id);
    if (it == pending_.end()) {
        setError("no request " + std::to_string(id) + " is waiting for data");
        return false;
    }
    Pending p = std::move(it->second);
    pending_.erase(it);
    if (p.superseded) {
        // The clip or level loads another movie now: this answer lands nowhere,
        // and a loader that asked for it hears that it failed.
        if (p.clipLoadId)
            failUrl(id, p);
        return true;
    }
    Deferred d;
    d.pending = std::move(p);
    if (d.pending.kind == RequestKind::Movie) {
        LoadResult r = parseMovie(data, limits);
        if (!r.movie) {
            setError(r.error);
            if (d.pending.clipLoadId)
                failUrl(id, d.pending);
            return false;
        }
        d.movie = std::move(r.movie);
        d.bytes = data.size();
        if (d.pending.clipLoadId && requestingData_) {
            deferred_.push_back(std::move(d));
            return true;
        }
    } else if (d.pending.kind == RequestKind::Variables) {
        d.variables.assign(data.begin(), data.end());
        if (d.pending.dataId && requestingData_) {
            // Answered from inside the request: the script that asked is still
            // running and hears of it afterwards, as of any other answer.
            deferred_.push_back(std::move(d));
            return true;
        }
    } else if (d.pending.kind == RequestKind::Media) {
        std::string error;
        d.bytes = data.size();
        d.video = parseVideoStream(data, limits, error);
        if (!d.video) {
            setError(error);
            failUrl(id, d.pending);
            return false;
        }
    } else {
        return false;
    }
    if (running_) {
        deferred_.push_back(std::move(d));
        return true;
    }
    apply(std::move(d));
    return true;
}

void PlayerCore::apply(Deferred d)
{
    const Pending& p = d.pending;
    bool clipLoadFailed = false;
    if (p.dataId) {
        scripting_->dataArrived(p.dataId, d.failed ? std::nullopt : std::optional<std::string_view>(d.variables));
    } else if (p.clipLoadId && (d.failed || (p.level < 0 && !clipByPath(p.clipPath)))) {
        // No answer, or the clip it was for has gone.
        clipLoadFailed = true;
        scripting_->clipLoaded(p.clipLoadId, Scripting::ClipLoad::Failed, 0);
    } else if (p.kind == RequestKind::Media) {
        applyMedia(d);
    } else if (d.movie) {
        if (p.root || p.level == 0) {
            installRoot(d.movie, p.url);
        } else if (p.level > 0) {
            if (p.clipLoadId)
                scripting_->clipLoaded(p.clipLoadId, Scripting::ClipLoad::Arrived, static_cast<double>(d.bytes));
            installLevel(p.level, d.movie, p.url);
        } else if (MovieClip* clip = clipByPath(p.clipPath)) {
            if (p.clipLoadId)
                scripting_->clipLoaded(p.clipLoadId, Scripting::ClipLoad::Arrived, static_cast<double>(d.bytes));
            // The listeners may have moved things: look again.
            if ((clip = clipByPath(p.clipPath))) {
                clip->url = p.url;
                clip->replaceContent(d.movie);
            }
        }
    } else {
        MovieClip* clip = p.level >= 0 ? (levels.count(p.level) ? levels[p.level].get() : nullptr) : clipByPath(p.clipPath);
        if (clip)
            for (const auto& [name, value] : parseUrlEncoded(d.variables))
                scripting_->setClipVariable(*clip, name, value);
    }
    runQueue();
    // The new movie's first frame has run.
    if (p.clipLoadId && d.movie && !clipLoadFailed && !(p.root || p.level == 0)) {
        scripting_->clipLoaded(p.clipLoadId, Scripting::ClipLoad::Initialized, static_cast<double>(d.bytes));
        runQueue();
    }
    settle();
}

void PlayerCore::failUrl(RequestId id)
{
    auto it = pending_.find(id);
    if (it == pending_.end())
        return;
    Pending p = std::move(it->second);
    pending_.erase(it);
    failUrl(id, p);
}

void PlayerCore::failUrl(RequestId, const Pending& p)
{
    if (p.observed()) {
        Deferred d;
        d.pending = p;
        d.failed = true;
        if (running_ || requestingData_)
            deferred_.push_back(std::move(d));
        else
            apply(std::move(d));
        return;
    }
    if (p.kind != RequestKind::Media)
        return;
    if (auto it = streams_.find(p.streamId); it != streams_.end()) {
        it->second->failed(p.generation);
        settle();
    }
}

void PlayerCore::applyMedia(Deferred& d)
{
    const Pending& p = d.pending;
    if (auto it = streams_.find(p.streamId); it != streams_.end())
        it->second->take(p.generation, std::move(d.video), d.bytes);
}

void PlayerCore::issueMediaRequests()
{
    // One at a time: the host may answer inside the request, and that answer
    // settles again (and may ask for more).
    while (!mediaRequests_.empty()) {
        Pending p = std::move(mediaRequests_.front());
        mediaRequests_.erase(mediaRequests_.begin());
        if (!streams_.count(p.streamId))
            continue;  // closed meanwhile
        std::string url = p.url;
        request(RequestKind::Media, url, "", "", std::move(p));
    }
}

// --- NetStream ---------------------------------------------------------------------------------

void PlayerCore::requestStream(uint32_t stream, uint32_t generation, const std::string& url)
{
    Pending p;
    p.kind = RequestKind::Media;
    p.url = url;
    p.streamId = stream;
    p.generation = generation;
    mediaRequests_.push_back(std::move(p));
}

const NetStreamPlayback* PlayerCore::stream(uint32_t id) const
{
    auto it = streams_.find(id);
    return it == streams_.end() ? nullptr : it->second.get();
}

uint32_t PlayerCore::openStream()
{
    if (streams_.size() >= limits.streams || nextStream_ == UINT32_MAX)
        return 0;
    const uint32_t id = nextStream_++;
    streams_[id] = std::make_unique<NetStreamPlayback>(*this, id);
    return id;
}

void PlayerCore::streamPlay(uint32_t id, const avm1::UrlRequest& request)
{
    if (auto it = streams_.find(id); it != streams_.end())
        it->second->play(request.url.empty() ? std::string() : resolve(request.url));
}

void PlayerCore::streamPause(uint32_t id, std::optional<bool> pause)
{
    if (auto it = streams_.find(id); it != streams_.end())
        it->second->pause(pause);
}

void PlayerCore::streamSeek(uint32_t id, double seconds)
{
    if (auto it = streams_.find(id); it != streams_.end())
        it->second->seek(seconds);
}

void PlayerCore::streamBufferTime(uint32_t id, double seconds)
{
    if (auto it = streams_.find(id); it != streams_.end())
        it->second->setBufferTime(seconds);
}

void PlayerCore::streamClose(uint32_t id)
{
    if (auto it = streams_.find(id); it != streams_.end())
        it->second->close();
}

avm1::Host::StreamState PlayerCore::streamState(uint32_t id)
{
    auto it = streams_.find(id);
    return it == streams_.end() ? StreamState{} : it->second->state();
}

avm1::Object* PlayerCore::videoScriptObject(VideoObject& video)
{
    if (!video.script) {
        if (nextVideo_ == UINT32_MAX)
            return nullptr;
        video.scriptId = nextVideo_++;
        video.script = scripting_->newVideoObject(video.scriptId);
        videos_[video.scriptId] = video.weak_from_this();
    }
    return video.script.get();
}

void PlayerCore::attachVideo(uint32_t video, uint32_t stream)
{
    auto it = videos_.find(video);
    if (it == videos_.end())
        return;
    auto obj = it->second.lock();
    if (!obj || obj->removed || obj->type != DisplayObject::Type::Video) {
        videos_.erase(it);
        return;
    }
    auto& v = static_cast<VideoObject&>(*obj);
    v.stream = streams_.count(stream) ? stream : 0;
    v.streamKey = 0;
    v.streamPlaceholder = false;
    v.picture.clear();
    v.pictureWidth = v.pictureHeight = 0;
    v.decodedFrame = -1;
}

void PlayerCore::deliverStreamEvents()
{
    for (int round = 0; round < 4; ++round) {
        bool any = false;
        // By id, looked up again each time: a handler may close or open streams.
        std::vector<uint32_t> ids;
        for (const auto& [id, s] : streams_)
            if (s->hasEvents())
                ids.push_back(id);
        for (uint32_t id : ids) {
            auto it = streams_.find(id);
            if (it == streams_.end())
                continue;
            for (NetStreamPlayback::Event& e : it->second->takeEvents()) {
                any = true;
                if (e.code.empty())
                    scripting_->streamMetaData(id, e.metadata);
                else
                    scripting_->streamStatus(id, e.code, e.level);
                runQueue();
            }
        }
        if (!any)
            return;
    }
}

double PlayerCore::frameMs() const
{
    const MovieDef* movie = rootMovie();
    return movie ? 1000.0 / movie->frameRate : 1000.0 / 12;
}

bool PlayerCore::loadRootBytes(std::span<const uint8_t> data, const std::string& url)
{
    LoadResult r = parseMovie(data, limits);
    if (!r.movie) {
        setError(r.error);
        return false;
    }
    Deferred d;
    d.pending.root = true;
    d.pending.level = 0;
    d.pending.url = url;
    d.movie = std::move(r.movie);
    if (running_)
        deferred_.push_back(std::move(d));
    else
        apply(std::move(d));
    return true;
}

bool PlayerCore::installRoot(std::shared_ptr<MovieDef> movie, const std::string& url)
{
    for (auto& [n, level] : levels)
        release(std::move(level));
    levels.clear();
    queue_.clear();
    mediaRequests_.clear();
    initDone_.clear();
    hover_.reset();
    pressed_.reset();
    focus_.reset();
    rootUrl_ = url;
    lastError_.clear();
    // A new root movie starts a fresh interpreter: no variables or callbacks
    // of the old movie survive. Clips of the old one may still hold references
    // into the old heap; those stay valid until they go.
    scripting_ = Scripting::create(*this);
    scaleMode_ = ScaleMode::ShowAll;
    align_.clear();
    pointerHidden_ = false;
    // Data loads belong to the old interpreter's objects: their answers go nowhere.
    std::erase_if(pending_, [](const auto& entry) { return entry.second.observed(); });
    std::erase_if(deferred_, [](const Deferred& d) { return d.pending.observed(); });
    // So do the streams, and the files they asked for.
    streams_.clear();
    videos_.clear();
    std::erase_if(pending_, [](const auto& entry) { return entry.second.streamId != 0; });
    std::erase_if(deferred_, [](const Deferred& d) { return d.pending.streamId != 0; });
    clockMs_ = 0;
    installLevel(0, std::move(movie), url);
    viewChanged_ = true;
    return true;
}

void PlayerCore::installLevel(int n, std::shared_ptr<MovieDef> movie, const std::string& url)
{
    if (auto it = levels.find(n); it != levels.end()) {
        release(std::move(it->second));
        levels.erase(it);
    }
    auto clip = std::make_shared<MovieClip>(*this, movie, nullptr, movie->timeline, 0);
    clip->levelNumber = n;
    clip->url = url;
    levels[n] = clip;
    if (n == 0)
        for (const auto& [name, value] : parseUrlEncoded(urlQuery(url)))
            scripting_->setClipVariable(*clip, name, value);
    clip->enterFirstFrame();
}

void PlayerCore::unloadLevel(int n)
{
    if (n == 0) {
        for (auto& [k, level] : levels)
            release(std::move(level));
        levels.clear();
        queue_.clear();
        viewChanged_ = true;
        return;
    }
    if (auto it = levels.find(n); it != levels.end()) {
        release(std::move(it->second));
        levels.erase(it);
    }
}

MovieClip* PlayerCore::clipByPath(const std::string& path)
{
    // "_level0.a.b"
    size_t dot = path.find('.');
    std::string head = lowerAscii(path.substr(0, dot));
    if (head.rfind("_level", 0) != 0)
        return nullptr;
    int n = 0;
    for (char c : head.substr(6)) {
        if (!std::isdigit(static_cast<unsigned char>(c)) || n > 100000)
            return nullptr;
        n = n * 10 + (c - '0');
    }
    auto it = levels.find(n);
    if (it == levels.end())
        return nullptr;
    MovieClip* clip = it->second.get();
    while (clip && dot != std::string::npos) {
        size_t next = path.find('.', dot + 1);
        std::string name = path.substr(dot + 1, next == std::string::npos ? std::string::npos : next - dot - 1);
        clip = static_cast<MovieClip*>(clip->childByName(name, false));
        dot = next;
    }
    return clip;
}

std::string PlayerCore::resolve(const std::string& url) const
{
    return resolveUrl(rootUrl_, url);
}

const MovieDef* PlayerCore::rootMovie() const
{
    MovieClip* r = root();
    return r ? r->contentMovie().get() : nullptr;
}

MovieClip* PlayerCore::root() const
{
    auto it = levels.find(0);
    return it == levels.end() ? nullptr : it->second.get();
}

void PlayerCore::setError(std::string error)
{
    if (!error.empty())
        lastError_ = std::move(error);
}

// --- view and drawing ------------------------------------------------------------------------------

void PlayerCore::setViewSize(int width, int height)
{
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == viewW_ && height == viewH_)
        return;
    viewW_ = width;
    viewH_ = height;
    viewChanged_ = true;
    if (hasMovie()) {
        scripting_->stageResized();
        runQueue();
    }
    settle();
}

void PlayerCore::setTransparent(bool transparent)
{
    if (transparent == transparent_)
        return;
    transparent_ = transparent;
    viewChanged_ = true;
    settle();
}

Matrix PlayerCore::viewMatrix() const
{
    const MovieDef* m = rootMovie();
    if (!m)
        return Matrix{1 / 20.0, 0, 0, 1 / 20.0, 0, 0};
    double sw = (m->stage.xMax - m->stage.xMin) / 20.0, sh = (m->stage.yMax - m->stage.yMin) / 20.0;
    double sx = 1, sy = 1;
    double ox = 0, oy = 0;
    if (sw > 0 && sh > 0 && viewW_ > 0 && viewH_ > 0) {
        switch (scaleMode_) {
        case ScaleMode::ShowAll: sx = sy = std::min(viewW_ / sw, viewH_ / sh); break;
        case ScaleMode::NoBorder: sx = sy = std::max(viewW_ / sw, viewH_ / sh); break;
        case ScaleMode::ExactFit: sx = viewW_ / sw; sy = viewH_ / sh; break;
        case ScaleMode::NoScale: break;
        }
        // The stage sits where Stage.align puts it, centred on an axis it does
        // not name; whole-pixel offsets keep stage-aligned edges crisp.
        const double spareX = viewW_ - sw * sx, spareY = viewH_ - sh * sy;
        const bool left = align_.find('L') != std::string::npos, right = align_.find('R') != std::string::npos;
        const bool top = align_.find('T') != std::string::npos, bottom = align_.find('B') != std::string::npos;
        ox = left ? 0 : right ? spareX : std::round(spareX / 2);
        oy = top ? 0 : bottom ? spareY : std::round(spareY / 2);
    }
    return Matrix{sx / 20, 0, 0, sy / 20, ox - m->stage.xMin / 20.0 * sx, oy - m->stage.yMin / 20.0 * sy};
}

void PlayerCore::render(Surface target, const IRect& clipIn)
{
    if (!target.pixels || target.width <= 0 || target.height <= 0 || target.stride < target.width * 4)
        return;
    const MovieDef* movie = rootMovie();
    if (!movie)
        return;
    IRect clip = intersect(clipIn, IRect{0, 0, std::min(viewW_, target.width), std::min(viewH_, target.height)});
    if (clip.empty())
        return;
    const int w = clip.right - clip.left, h = clip.bottom - clip.top;
    frame_.assign(static_cast<size_t>(w) * h, transparent_ ? 0u : premultiply(movie->background));
    Canvas canvas{frame_.data(), w, clip};
    visitStage(*this, [&](const Visit& v) { drawObject(v, canvas, clip); });
    for (int y = clip.top; y < clip.bottom; ++y)
        compositeSpan(&target.at(clip.left, y), canvas.row(y) + clip.left, w);
}

void PlayerCore::invalidateAll()
{
    if (viewW_ > 0 && viewH_ > 0)
        host.invalidate(IRect{0, 0, viewW_, viewH_});
}

void PlayerCore::invalidateChanges()
{
    std::vector<DrawnItem> now;
    visitStage(*this, [&](const Visit& v) {
        IRect box = deviceBox(v);
        if (!box.empty())
            now.push_back(DrawnItem{v.object->serial, contentKey(v), box});
    });
    if (viewChanged_) {
        drawn_ = std::move(now);
        viewChanged_ = false;
        invalidateAll();
        return;
    }
    // Whatever differs between the common head and tail of the two paint
    // orders changed: the old places need repainting, and the new ones.
    size_t head = 0;
    while (head < drawn_.size() && head < now.size() && drawn_[head] == now[head])
        ++head;
    size_t tail = 0;
    while (tail < drawn_.size() - head && tail < now.size() - head &&
           drawn_[drawn_.size() - 1 - tail] == now[now.size() - 1 - tail])
        ++tail;
    IRect dirty;
    auto add = [&](const IRect& r) {
        if (r.empty())
            return;
        if (dirty.empty()) {
            dirty = r;
            return;
        }
        dirty = IRect{std::min(dirty.left, r.left), std::min(dirty.top, r.top), std::max(dirty.right, r.right),
                      std::max(dirty.bottom, r.bottom)};
    };
    for (size_t i = head; i < drawn_.size() - tail; ++i)
        add(drawn_[i].box);
    for (size_t i = head; i < now.size() - tail; ++i)
        add(now[i].box);
    drawn_ = std::move(now);
    dirty = intersect(dirty, IRect{0, 0, viewW_, viewH_});
    // The host may paint from inside this call: the state above is final by now.
    if (!dirty.empty())
        host.invalidate(dirty);
}

void PlayerCore::syncFieldsAndVideoObjects()
{
    std::vector<TextObject*> fields;
    visitStage(*this, [&](const Visit& v) {
        if (v.object->type == DisplayObject::Type::Text && !static_cast<TextObject*>(v.object)->field().variable.empty())
            fields.push_back(static_cast<TextObject*>(v.object));
        else if (v.object->type == DisplayObject::Type::Video)
            static_cast<VideoObject*>(v.object)->update();
    });
    for (TextObject* f : fields) {
        MovieClip* clip = f->parentClip();
        if (!clip)
            continue;
        const std::string& var = f->field().variable;
        std::optional<std::string> value = scripting_->getClipVariable(*clip, var);
        if (!f->bound) {
            f->bound = true;
            // An unset variable takes the field's initial text.
            if ((!value || value->empty() || *value == "undefined") && f->field().initialText) {
                scripting_->setClipVariable(*clip, var, f->text);
                continue;
            }
        }
        if (value && *value != f->text) {
            f->text = *value;
            f->relayout();
        } else if (!value && !f->text.empty()) {
            f->text.clear();
            f->relayout();
        }
    }
}

void PlayerCore::settle()
{
    if (running_)
        return;  // the outermost call settles
    deliverStreamEvents();
    graveyard_.clear();
    syncFieldsAndVideoObjects();
    graveyard_.clear();
    invalidateChanges();
    issueMediaRequests();
}

// --- time -------------------------------------------------------------------------------------

void PlayerCore::collectClips(std::vector<std::shared_ptr<MovieClip>>& out)
{
    std::vector<DisplayObject*> stack;
    for (auto it = levels.rbegin(); it != levels.rend(); ++it)
        if (it->second)
            stack.push_back(it->second.get());
    // Pre-order: a parent before its children, children in depth order.
    while (!stack.empty()) {
        DisplayObject* o = stack.back();
        stack.pop_back();
        const DisplayList* kids = nullptr;
        if (o->type == DisplayObject::Type::Clip) {
            out.push_back(std::static_pointer_cast<MovieClip>(o->shared_from_this()));
            kids = &static_cast<MovieClip*>(o)->children;
        } else if (o->type == DisplayObject::Type::Button) {
            kids = &static_cast<ButtonObject*>(o)->children;
        }
        if (kids)
            for (auto it = kids->rbegin(); it != kids->rend(); ++it)
                stack.push_back(it->second.get());
    }
}

void PlayerCore::tick()
{
    const MovieDef* movie = rootMovie();
    if (!movie)
        return;
    const double tickMs = 1000.0 / movie->frameRate;
    clockMs_ += tickMs;
    std::vector<std::shared_ptr<MovieClip>> clips;
    collectClips(clips);
    // Enter-frame handlers run before the frames they lead into.
    for (auto& c : clips) {
        if (c->removed)
            continue;
        queueClipEvent(*c, clipEvent::EnterFrame);
        queueMethod(*c, "onEnterFrame");
    }
    for (auto& c : clips)
        if (!c->removed)
            c->advance(loop);
    // Video plays on the player's clock: one tick, one frame's worth of time.
    for (auto& [id, stream] : streams_)
        stream->advance(tickMs);
    runQueue();
    // Timers fire between frames, on the clock getTimer reads; what they
    // queue (a goto's frame scripts, say) runs before the frame is shown.
    for (const std::string& err : scripting_->runTimers(clockMs_))
        setError("script: " + err);
    scripting_->frameEnded();
    runQueue();
    settle();
}

// --- root timeline and variables ---------------------------------------------------------------------

void PlayerCore::play()
{
    if (MovieClip* r = root())
        r->playing = true;
}

void PlayerCore::stopPlay()
{
    if (MovieClip* r = root())
        r->playing = false;
}

void PlayerCore::gotoRootFrame(int frame, bool play)
{
    MovieClip* r = root();
    if (!r)
        return;
    r->gotoFrameIndex(std::clamp(frame, 0, r->totalFrames() - 1));
    r->playing = play;
    runQueue();
    settle();
}

void PlayerCore::stepRoot(int delta)
{
    if (MovieClip* r = root())
        gotoRootFrame(r->currentFrame() + delta, false);
}

void PlayerCore::setVariable(const std::string& path, const std::string& value)
{
    if (!hasMovie())
        return;
    scripting_->setVariable(path, value);
    runQueue();
    settle();
}

std::optional<std::string> PlayerCore::getVariable(const std::string& path)
{
    if (!hasMovie())
        return std::nullopt;
    return scripting_->getVariable(path);
}

std::optional<std::string> PlayerCore::callFunction(const std::string& invokeXml)
{
    if (!hasMovie())
        return std::nullopt;
    auto result = scripting_->callExternalCallback(invokeXml);
    runQueue();
    settle();
    return result;
}

// --- input ----------------------------------------------------------------------------------------------

DisplayObject* PlayerCore::mouseTargetAt(Point view)
{
    // Buttons, and clips that script gave mouse handlers, in paint order.
    std::vector<Visit> candidates;
    visitStage(*this, [&](const Visit& v) {
        if (v.object->type == DisplayObject::Type::Button || v.object->type == DisplayObject::Type::Clip)
            candidates.push_back(v);
    });
    static constexpr const char* kHandlers[] = {"onPress", "onRelease", "onReleaseOutside", "onRollOver", "onRollOut"};
    for (auto it = candidates.rbegin(); it != candidates.rend(); ++it) {
        DisplayObject& obj = *it->object;
        if (obj.removed)
            continue;  // a handler lookup below may have run script that removed it
        if (it->mask && !it->mask->covers(view))
            continue;
        Point local = it->world.inverted().apply(view);
        if (obj.type == DisplayObject::Type::Button) {
            if (hitsButton(static_cast<ButtonObject&>(obj), local))
                return &obj;
            continue;
        }
        auto& clip = static_cast<MovieClip&>(obj);
        if (!hitsObject(clip, local))
            continue;
        for (const char* handler : kHandlers)
            if (scripting_->hasMethod(clip, handler))
                return &obj;
    }
    return nullptr;
}

TextObject* PlayerCore::fieldAt(Point view)
{
    std::vector<Visit> fields;
    visitStage(*this, [&](const Visit& v) {
        if (v.object->type == DisplayObject::Type::Text)
            fields.push_back(v);
    });
    for (auto it = fields.rbegin(); it != fields.rend(); ++it) {
        auto* f = static_cast<TextObject*>(it->object);
        if (it->mask && !it->mask->covers(view))
            continue;
        if (f->field().bounds.contains(it->world.inverted().apply(view)))
            return f;
    }
    return nullptr;
}

MouseState PlayerCore::mouseStateOf(DisplayObject& target) const
{
    return target.type == DisplayObject::Type::Button ? static_cast<ButtonObject&>(target).state()
                                                      : static_cast<MovieClip&>(target).mouseState;
}

void PlayerCore::transition(DisplayObject& target, MouseState to)
{
    MouseState from = mouseStateOf(target);
    using S = MouseState;
    uint16_t condition = 0;
    const char* handler = nullptr;
    if (from == S::Idle && to == S::OverUp) {
        condition = buttonCond::IdleToOverUp;
        handler = "onRollOver";
    } else if (from == S::OverUp && to == S::Idle) {
        condition = buttonCond::OverUpToIdle;
        handler = "onRollOut";
    } else if (from == S::OverUp && to == S::OverDown) {
        condition = buttonCond::OverUpToOverDown;
        handler = "onPress";
    } else if (from == S::OverDown && to == S::OverUp) {
        condition = buttonCond::OverDownToOverUp;
        handler = "onRelease";
    } else if (from == S::OverDown && to == S::OutDown) {
        condition = buttonCond::OverDownToOutDown;
        handler = "onDragOut";
    } else if (from == S::OutDown && to == S::OverDown) {
        condition = buttonCond::OutDownToOverDown;
        handler = "onDragOver";
    } else if (from == S::OutDown && to == S::Idle) {
        condition = buttonCond::OutDownToIdle;
        handler = "onReleaseOutside";
    } else if (from == S::OverDown && to == S::Idle) {
        condition = buttonCond::OverDownToIdle;
    }
    if (target.type == DisplayObject::Type::Button) {
        auto& button = static_cast<ButtonObject&>(target);
        button.setState(to);
        MovieClip* owner = button.parentClip();
        if (!owner || !condition)
            return;
        for (const ButtonAction& a : button.button().actions)
            if (a.conditions & condition)
                queueActions(*owner, button.movie, a.actions);
        return;
    }
    auto& clip = static_cast<MovieClip&>(target);
    clip.mouseState = to;
    if (handler)
        queueMethod(clip, handler);
}

void PlayerCore::updateHover()
{
    DisplayObject* top = mouseTargetAt(mouseView_);
    if (mousePressed_) {
        auto down = pressed_.lock();
        if (!down || down->removed)
            return;
        bool over = top == down.get();
        MouseState state = mouseStateOf(*down);
        if (over && state == MouseState::OutDown)
            transition(*down, MouseState::OverDown);
        else if (!over && state == MouseState::OverDown)
            transition(*down, MouseState::OutDown);
        return;
    }
    auto hovered = hover_.lock();
    if (hovered && hovered->removed)
        hovered.reset();
    if (hovered.get() == top)
        return;
    if (hovered)
        transition(*hovered, MouseState::Idle);
    if (top)
        transition(*top, MouseState::OverUp);
    hover_ = top ? top->weak_from_this() : std::weak_ptr<DisplayObject>();
}

void PlayerCore::clipEvents(uint32_t event, uint8_t key)
{
    std::vector<std::shared_ptr<MovieClip>> clips;
    collectClips(clips);
    for (auto& c : clips)
        queueClipEvent(*c, event, key);
}

void PlayerCore::mouseMove(int x, int y)
{
    mouseView_ = Point{static_cast<double>(x), static_cast<double>(y)};
    mouseSeen_ = true;
    if (!hasMovie())
        return;
    updateHover();
    scripting_->pointerEvent(Scripting::Pointer::Move, 0);
    clipEvents(clipEvent::MouseMove);
    runQueue();
    settle();
}

void PlayerCore::mouseWheel(int delta)
{
    if (!hasMovie())
        return;
    // Mouse listeners hear notches, as the player counts them.
    scripting_->pointerEvent(Scripting::Pointer::Wheel, delta / 120 ? delta / 120 : (delta > 0) - (delta < 0));
    runQueue();
    settle();
}

void PlayerCore::mouseDown(MouseButton button, int x, int y)
{
    mouseView_ = Point{static_cast<double>(x), static_cast<double>(y)};
    mouseSeen_ = true;
    if (!hasMovie())
        return;
    if (button != MouseButton::Left || mousePressed_) {
        // Only the left button presses; the others still move the pointer.
        updateHover();
        runQueue();
        settle();
        return;
    }
    updateHover();
    mousePressed_ = true;
    auto hovered = hover_.lock();
    if (hovered && !hovered->removed && mouseStateOf(*hovered) == MouseState::OverUp) {
        transition(*hovered, MouseState::OverDown);
        pressed_ = hovered;
    } else {
        TextObject* field = fieldAt(mouseView_);
        if (field && !field->editable())
            field = nullptr;
        moveFocus(field);
    }
    scripting_->pointerEvent(Scripting::Pointer::Down, 0);
    clipEvents(clipEvent::MouseDown);
    runQueue();
    settle();
}

void PlayerCore::mouseUp(MouseButton button, int x, int y)
{
    mouseView_ = Point{static_cast<double>(x), static_cast<double>(y)};
    mouseSeen_ = true;
    if (!hasMovie())
        return;
    if (button != MouseButton::Left || !mousePressed_) {
        updateHover();
        runQueue();
        settle();
        return;
    }
    updateHover();  // drag out or back in before the release counts
    mousePressed_ = false;
    auto down = pressed_.lock();
    pressed_.reset();
    if (down && !down->removed) {
        if (mouseStateOf(*down) == MouseState::OverDown) {
            transition(*down, MouseState::OverUp);
        } else {
            transition(*down, MouseState::Idle);
            if (hover_.lock() == down)
                hover_.reset();
        }
    }
    updateHover();
    scripting_->pointerEvent(Scripting::Pointer::Up, 0);
    clipEvents(clipEvent::MouseUp);
    runQueue();
    settle();
}

void PlayerCore::keyPress(uint8_t key)
{
    std::vector<ButtonObject*> buttons;
    visitStage(*this, [&](const Visit& v) {
        if (v.object->type == DisplayObject::Type::Button)
            buttons.push_back(static_cast<ButtonObject*>(v.object));
    });
    for (ButtonObject* b : buttons) {
        MovieClip* owner = b->parentClip();
        if (!owner)
            continue;
        for (const ButtonAction& a : b->button().actions)
            if (a.keyCode() == key)
                queueActions(*owner, b->movie, a.actions);
    }
    clipEvents(clipEvent::KeyPress, key);
}

void PlayerCore::editField(TextObject& field, uint8_t byte)
{
    const EditTextDef& def = field.field();
    if (byte == 0x08) {
        // Bytes are all the field knows of its text: one goes per backspace.
        if (!field.text.empty())
            field.text.pop_back();
    } else if (byte == 0x0D) {
        if (!def.multiline)
            return;
        field.text += '\r';
    } else if (byte < 0x20 || byte == 0x7F) {
        return;
    } else {
        if (!field.accepts(byte))
            return;
        field.text += static_cast<char>(byte);
    }
    field.relayout();
    // The caret follows what was typed.
    field.setSelection(SIZE_MAX, SIZE_MAX);
    // The handlers below may remove the field: keep it until they are done.
    auto keep = field.shared_from_this();
    if (!def.variable.empty())
        if (MovieClip* clip = field.parentClip())
            scripting_->setClipVariable(*clip, def.variable, field.text);
    if (!field.removed)
        scripting_->textFieldChanged(field);
}

void PlayerCore::moveFocus(TextObject* field)
{
    TextObject* old = focusedField();
    if (old == field)
        return;
    if (old)
        old->focused = false;
    focus_.reset();
    if (field) {
        field->focused = true;
        focus_ = field->weak_from_this();
        // A field taking the focus has its caret after its text.
        field->setSelection(SIZE_MAX, SIZE_MAX);
    }
    // Either field may go while the handlers run.
    std::shared_ptr<DisplayObject> keepOld = old ? old->shared_from_this() : nullptr;
    std::shared_ptr<DisplayObject> keepNew = field ? field->shared_from_this() : nullptr;
    scripting_->focusChanged(old, field);
}

void PlayerCore::charInput(uint8_t byte)
{
    if (!hasMovie())
        return;
    scripting_->keyChar(byte);
    if (TextObject* field = focusedField())
        editField(*field, byte);
    else if (byte >= 32 && byte < 127)
        keyPress(byte);
    runQueue();
    settle();
}

void PlayerCore::keyDown(int virtualKey)
{
    if (!hasMovie())
        return;
    if (virtualKey == kShiftKey)
        shiftDown_ = true;
    scripting_->keyEvent(true, virtualKey, asciiOfKey(virtualKey, shiftDown_));
    clipEvents(clipEvent::KeyDown);
    // With a field focused the keys edit it (through charInput) instead.
    if (uint8_t key = swfKeyOf(virtualKey); key && !focusedField())
        keyPress(key);
    runQueue();
    settle();
}

void PlayerCore::keyUp(int virtualKey)
{
    if (!hasMovie())
        return;
    if (virtualKey == kShiftKey)
        shiftDown_ = false;
    scripting_->keyEvent(false, virtualKey, asciiOfKey(virtualKey, shiftDown_));
    clipEvents(clipEvent::KeyUp);
    runQueue();
    settle();
}

// --- avm1::Host ---------------------------------------------------------------------------------------

avm1::Clip* PlayerCore::level(int n)
{
    auto it = levels.find(n);
    return it == levels.end() ? nullptr : it->second.get();
}

void PlayerCore::trace(std::string_view text)
{
    host.trace(std::string(text));
}

void PlayerCore::getUrl(const avm1::UrlRequest& r)
{
    request(RequestKind::Navigate, resolve(r.url), r.window, r.postData, Pending{});
}

void PlayerCore::fsCommand(const std::string& command, const std::string& args)
{
    host.fsCommand(command, args);
}

void PlayerCore::loadMovie(const avm1::LoadTarget& target, const avm1::UrlRequest& r)
{
    if (r.url.empty()) {
        if (target.level >= 0) {
            unloadLevel(target.level);
        } else if (target.clip) {
            auto* clip = static_cast<MovieClip*>(target.clip);
            for (auto& [d, child] : clip->children)
                release(std::move(child));
            clip->children.clear();
            clip->playing = false;
        }
        return;
    }
    supersedeMovieLoads(target.level, target.path);
    Pending p;
    p.kind = RequestKind::Movie;
    p.level = target.level;
    p.clipPath = target.path;
    p.url = resolve(r.url);
    std::string url = p.url;
    request(RequestKind::Movie, url, "", r.postData, std::move(p));
}

void PlayerCore::supersedeMovieLoads(int level, const std::string& clipPath)
{
    for (auto& [id, p] : pending_) {
        if (p.kind != RequestKind::Movie || p.root)
            continue;
        if (level >= 0 ? p.level == level : (p.level < 0 && p.clipPath == clipPath))
            p.superseded = true;
    }
}

uint32_t PlayerCore::loadClip(const avm1::LoadTarget& target, const avm1::UrlRequest& r)
{
    if (r.url.empty()) {
        loadMovie(target, r);
        return 0;
    }
    const uint32_t id = nextClipLoad_++;
    if (nextClipLoad_ == 0)
        nextClipLoad_ = 1;
    supersedeMovieLoads(target.level, target.path);
    Pending p;
    p.kind = RequestKind::Movie;
    p.level = target.level;
    p.clipPath = target.path;
    p.clipLoadId = id;
    p.url = resolve(r.url);
    std::string url = p.url;
    Raise guard(requestingData_);
    request(RequestKind::Movie, url, "", r.postData, std::move(p));
    return id;
}

void PlayerCore::loadVariables(const avm1::LoadTarget& target, const avm1::UrlRequest& r)
{
    Pending p;
    p.kind = RequestKind::Variables;
    p.level = target.level;
    p.clipPath = target.path;
    p.url = resolve(r.url);
    std::string url = p.url;
    request(RequestKind::Variables, url, "", r.postData, std::move(p));
}

std::optional<std::string> PlayerCore::externalCall(const std::string& name, const std::string& invokeXml)
{
    return host.externalCall(name, invokeXml);
}

bool PlayerCore::addCallback(const std::string&)
{
    return true;
}

bool PlayerCore::setFocus(avm1::TextField* field)
{
    // Every text field the interpreter sees is one of the engine's.
    auto* text = static_cast<TextObject*>(field);
    if (text && (!text->alive() || !text->visibleOnStage()))
        return false;
    moveFocus(text);
    return true;
}

avm1::Host::Size PlayerCore::movieSize()
{
    const MovieDef* m = rootMovie();
    if (!m)
        return {0, 0};
    return {static_cast<int>(std::lround((m->stage.xMax - m->stage.xMin) / 20.0)),
            static_cast<int>(std::lround((m->stage.yMax - m->stage.yMin) / 20.0))};
}

void PlayerCore::stageLayout(std::string_view scaleMode, std::string_view align)
{
    scaleMode_ = scaleMode == "noScale"    ? ScaleMode::NoScale
                 : scaleMode == "exactFit" ? ScaleMode::ExactFit
                 : scaleMode == "noBorder" ? ScaleMode::NoBorder
                                           : ScaleMode::ShowAll;
    align_ = std::string(align);
    // Everything moves: settle() redraws the whole view.
    viewChanged_ = true;
}

uint32_t PlayerCore::loadData(const avm1::UrlRequest& r)
{
    const uint32_t id = nextData_++;
    if (nextData_ == 0)
        nextData_ = 1;
    Pending p;
    p.kind = RequestKind::Variables;
    p.dataId = id;
    p.url = resolve(r.url);
    std::string url = p.url;
    Raise guard(requestingData_);
    request(RequestKind::Variables, url, "", r.postData, std::move(p));
    return id;
}

}  // namespace refplayer::engine
