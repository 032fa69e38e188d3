#include "instance.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "browser.h"
#include "call_log.h"
#include "context_menu.h"
#include "refplayer/script/eixml.h"
#include "scriptable.h"

namespace refplugin {
namespace {

constexpr int kMaxSide = 8192;
constexpr int64_t kMaxPixels = int64_t(32) << 20;
constexpr int32_t kWriteReadyBytes = 64 * 1024;
// What a throttled instance still plays: frames a second.
constexpr double kThrottledRate = 4;
// With small writes: the most one NPP_Write takes.
constexpr int32_t kSmallPiece = 1500;

std::vector<Instance*>& registry()
{
    static std::vector<Instance*> r;
    return r;
}

CallLog& log() { return CallLog::instance(); }

bool setString(NPVariant* result, const std::string& text)
{
    char* copy = browser::copyString(text);
    if (!copy)
        return false;
    result->type = NPVariantType_String;
    result->value.stringValue.UTF8Characters = copy;
    result->value.stringValue.UTF8Length = static_cast<uint32_t>(text.size());
    return true;
}

void setBool(NPVariant* result, bool value)
{
    result->type = NPVariantType_Bool;
    result->value.boolValue = value;
}

void setInt(NPVariant* result, int32_t value)
{
    result->type = NPVariantType_Int32;
    result->value.intValue = value;
}

// Frame numbers travel as a scripting bridge's numbers do when so configured.
void setFrame(NPVariant* result, const std::string& method, int32_t frame)
{
    if (!config().framesAsDoubles) {
        setInt(result, frame);
        return;
    }
    result->type = NPVariantType_Double;
    result->value.doubleValue = frame;
    log().note(method + " answered as a double");
}

// FNV-1a of a body, for the log: a test compares it with the file's.
std::string checksum(const std::vector<uint8_t>& data)
{
    uint32_t h = 2166136261u;
    for (uint8_t b : data)
        h = (h ^ b) * 16777619u;
    char text[9];
    std::snprintf(text, sizeof text, "%08X", h);
    return text;
}

// SetVariable takes text; a host handing over a number or a truth value gets
// what the movie would see after converting it.
std::optional<std::string> valueText(const NPVariant& v)
{
    if (auto t = browser::variantText(v))
        return t;
    switch (v.type) {
    case NPVariantType_Bool: return std::string(v.value.boolValue ? "true" : "false");
    case NPVariantType_Int32: return std::to_string(v.value.intValue);
    case NPVariantType_Double: return refplayer::ei::formatNumber(v.value.doubleValue);
    case NPVariantType_Null: return std::string("null");
    default: return std::nullopt;
    }
}

}  // namespace

// ---- lifetime -------------------------------------------------------------

Instance::Instance(NPP npp, Params params)
    : npp_(npp), params_(std::move(params)), fsCommandMethod_(params_.id + "_DoFSCommand")
{
    registry().push_back(this);
    EngineScope scope(*this);
    player_.setTransparent(params_.transparent);
}

Instance::~Instance()
{
    auto& r = registry();
    r.erase(std::remove(r.begin(), r.end(), this), r.end());
    if (object_)
        object_->instance = nullptr;
}

Instance* Instance::from(NPP npp)
{
    if (!npp || !npp->pdata)
        return nullptr;
    auto candidate = static_cast<Instance*>(npp->pdata);
    auto& r = registry();
    // The browser owns pdata's storage; only trust it if it is one of ours.
    if (std::find(r.begin(), r.end(), candidate) == r.end() || candidate->destroyed_)
        return nullptr;
    return candidate;
}

int Instance::liveCount()
{
    auto& r = registry();
    return static_cast<int>(std::count_if(r.begin(), r.end(), [](Instance* i) { return !i->destroyed_; }));
}

std::vector<Instance*> Instance::all() { return registry(); }

Instance::Entry::Entry(Instance* i) : i_(i)
{
    if (i_)
        ++i_->entries_;
}

Instance::Entry::~Entry()
{
    if (i_ && --i_->entries_ == 0 && i_->destroyed_)
        delete i_;
}

void Instance::destroy()
{
    if (destroyed_)
        return;
    endSession();
    if (object_) {
        object_->instance = nullptr;
        NPObject* obj = &object_->header;
        object_ = nullptr;
        browser::releaseObject(obj);
    }
    if (npp_->pdata == this)
        npp_->pdata = nullptr;
}

// ---- repaints ----------------------------------------------------------------

void Instance::requestRepaint(const refplayer::IRect& r)
{
    NPRect nr{static_cast<uint16_t>(std::clamp(r.top, 0, 0xFFFF)), static_cast<uint16_t>(std::clamp(r.left, 0, 0xFFFF)),
              static_cast<uint16_t>(std::clamp(r.bottom, 0, 0xFFFF)), static_cast<uint16_t>(std::clamp(r.right, 0, 0xFFFF))};
    browser::invalidateRect(npp_, nr);
}

// ---- loading -------------------------------------------------------------------

void Instance::requestUrl(refplayer::RequestId id, refplayer::RequestKind kind, const std::string& url,
                          const std::string& target, const std::string& postData)
{
    if (destroyed_)
        return;
    uintptr_t cookie = requests_.open(id, url);
    // Only navigation names a window; everything the movie itself needs comes
    // back to the player as a stream.
    std::string window;
    if (kind == refplayer::RequestKind::Navigate)
        window = target.empty() ? "_self" : target;
    const char* windowArg = window.empty() ? nullptr : window.c_str();
    auto notifyData = reinterpret_cast<void*>(cookie);
    NPError err = postData.empty() ? browser::getURLNotify(npp_, url, windowArg, notifyData)
                                   : browser::postURLNotify(npp_, url, windowArg, postData, notifyData);
    if (destroyed_)
        return;
    if (err != NPERR_NO_ERROR) {
        log().note("request " + quoted(url) + " refused by the host: " + std::to_string(err));
        requests_.refuse(cookie, "refused by the host");
    } else if (config().requestTwice && !windowArg && postData.empty()) {
        // The real player often asks again for what it is already loading;
        // whatever answers the second request is dropped.
        uintptr_t again = requests_.open(id, url);
        secondRequests_.insert(again);
        log().note("asking for " + quoted(url) + " a second time");
        NPError err2 = browser::getURLNotify(npp_, url, nullptr, reinterpret_cast<void*>(again));
        if (destroyed_)
            return;
        if (err2 != NPERR_NO_ERROR)
            requests_.refuse(again, "refused by the host");
    }
    takeOutcomes();
}

void Instance::takeOutcomes()
{
    for (auto& o : requests_.takeOutcomes()) {
        auto shared = std::make_shared<Outcome>(std::move(o));
        run([this, shared] { deliver(std::move(*shared)); });
    }
}

void Instance::deliver(Outcome o)
{
    if (secondRequests_.erase(o.cookie)) {
        if (o.delivered)
            log().note("second answer for " + quoted(o.url) + " dropped: " + std::to_string(o.data.size()) +
                       " bytes, checksum " + checksum(o.data));
        else
            log().note("second request for " + quoted(o.url) + " failed: " + o.why);
        return;
    }
    if (o.cookie == 0) {
        // The embedding's own movie, streamed by the browser unasked.
        if (!o.delivered) {
            log().note("movie stream " + quoted(o.url) + " failed: " + o.why);
            return;
        }
        if (!player_.loadRootBytes(o.data, o.url))
            log().note("movie " + quoted(o.url) + " refused: " + player_.lastError());
        restartTimer();
        return;
    }
    if (!o.delivered) {
        log().note("request " + quoted(o.url) + " failed: " + o.why);
        player_.failUrl(o.requestId);
        return;
    }
    log().note("delivered " + quoted(o.url) + " (" + std::to_string(o.data.size()) + " bytes)");
    log().note("checksum of " + quoted(o.url) + " " + checksum(o.data));
    if (!player_.deliverUrl(o.requestId, o.data))
        log().note("data of " + quoted(o.url) + " refused: " + player_.lastError());
    restartTimer();  // a new root movie may bring a new frame rate
}

NPError Instance::newStream(NPMIMEType, NPStream* stream, uint16_t* stype)
{
    if (!stream)
        return NPERR_INVALID_PARAM;
    std::string why;
    auto s = requests_.openStream(reinterpret_cast<uintptr_t>(stream->notifyData), stream->url ? stream->url : "",
                                  stream->end, &why);
    if (!s) {
        log().note("stream " + quoted(stream->url) + " refused: " + why);
        return NPERR_GENERIC_ERROR;
    }
    stream->pdata = s;
    if (stype)
        *stype = NP_NORMAL;
    return NPERR_NO_ERROR;
}

int32_t Instance::writeReady(NPStream* stream)
{
    auto s = stream ? static_cast<RequestTracker::Stream*>(stream->pdata) : nullptr;
    if (!requests_.owns(s) || s->finished)
        return -1;
    if (!config().smallWrites)
        return kWriteReadyBytes;
    // Small, and never the same twice in a row.
    return 100 + static_cast<int32_t>(requests_.receivedBytes(s) % 1400);
}

int32_t Instance::write(NPStream* stream, int32_t offset, int32_t length, void* buffer)
{
    auto s = stream ? static_cast<RequestTracker::Stream*>(stream->pdata) : nullptr;
    if (config().smallWrites && length > 1 && buffer && requests_.owns(s) && !s->finished) {
        // Takes part of the piece: the host offers the rest again.
        const int32_t part = std::min(length - length / 3, kSmallPiece);
        log().note("took " + std::to_string(part) + " of " + std::to_string(length) + " bytes");
        length = part;
    }
    int32_t taken = requests_.write(s, offset, length, buffer);
    takeOutcomes();
    return taken;
}

NPError Instance::destroyStream(NPStream* stream, NPReason reason)
{
    if (!stream)
        return NPERR_INVALID_PARAM;
    auto s = static_cast<RequestTracker::Stream*>(stream->pdata);
    requests_.closeStream(s, reason);
    stream->pdata = nullptr;
    takeOutcomes();
    return NPERR_NO_ERROR;
}

void Instance::urlNotify(const char*, NPReason reason, void* notifyData)
{
    requests_.notify(reinterpret_cast<uintptr_t>(notifyData), reason);
    takeOutcomes();
}

// ---- time ------------------------------------------------------------------------

bool Instance::manualClockConfigured() const { return config().manualClock; }
int Instance::repaintInPaintConfigured() const { return config().repaintInPaint; }

void Instance::timerFired()
{
    Entry entry(this);
    tick();
}

bool Instance::holdFrame()
{
    if (!throttled_)
        return false;
    double rate = player_.frameRate();
    if (!(rate > 0) || !std::isfinite(rate))
        rate = 12;
    const int every = std::max(1, static_cast<int>(std::lround(rate / kThrottledRate)));
    if (++throttleTicks_ % every == 0)
        return false;
    log().note("frame held: throttled");
    return true;
}

// ---- drawing -----------------------------------------------------------------------

NPError Instance::setWindow(const NPWindow& window)
{
    if (window.width > uint32_t(kMaxSide) || window.height > uint32_t(kMaxSide) ||
        int64_t(window.width) * int64_t(window.height) > kMaxPixels) {
        log().note("window of " + std::to_string(window.width) + "x" + std::to_string(window.height) + " refused");
        return NPERR_INVALID_PARAM;
    }
    window_ = window;
    haveWindow_ = true;
    if (config().throttleHidden) {
        // A plug-in whose clip rectangle is empty is one the page does not
        // show: the player saves itself the work.
        const NPRect& c = window.clipRect;
        throttled_ = c.left >= c.right || c.top >= c.bottom;
        log().note(throttled_ ? std::string("clip rectangle empty: throttled, drawing nothing")
                              : "clip rectangle " + std::to_string(c.left) + "," + std::to_string(c.top) + "," +
                                    std::to_string(c.right) + "," + std::to_string(c.bottom) + ": full rate");
    } else {
        throttled_ = false;
    }
    int width = static_cast<int>(window.width), height = static_cast<int>(window.height);
    if (width != viewWidth() || height != viewHeight()) {
        // The frame and the engine's view change size together: a host that paints
        // while the engine is busy still gets the old, consistent pair.
        run([this, width, height] { resizeView(width, height); });
        if (destroyed_)
            return NPERR_NO_ERROR;
    }
    if (setWindowRepaintsLeft_ < 0)
        setWindowRepaintsLeft_ = config().repaintInSetWindow;
    if (setWindowRepaintsLeft_ > 0 && width > 0 && height > 0) {
        --setWindowRepaintsLeft_;
        log().note("repaint asked from inside NPP_SetWindow as configured");
        requestRepaint({0, 0, width, height});
    }
    return NPERR_NO_ERROR;
}

void Instance::openContextMenu(int x, int y)
{
    if (destroyed_ || menuOpen_)
        return;
    HWND owner = static_cast<HWND>(browser::netscapeWindow(npp_));
    if (destroyed_)
        return;
    MenuState state;
    {
        EngineScope scope(*this);
        state = {player_.hasMovie(), player_.isPlaying(), player_.loop()};
    }
    // Leaving the scope may have asked the host for repaints, which may end us.
    if (destroyed_)
        return;
    char where[64];
    std::snprintf(where, sizeof where, "%d,%d", x, y);
    log().note(std::string("context menu opened at ") + where + ", owned by " +
               (owner ? "the host's window" : "the player's own window"));
    menuOpen_ = true;
    DWORD error = 0;
    // The host's messages (its other plug-ins' timers and paints, even a
    // call that destroys this instance) run inside the menu's loop.
    const MenuCommand chosen = runContextMenu(owner, x, y, state, &error);
    menuOpen_ = false;
    log().note(std::string("context menu closed: ") + menuCommandName(chosen) +
               (error ? " (error " + std::to_string(error) + ")" : std::string()));
    if (destroyed_)
        return;
    switch (chosen) {
    case MenuCommand::Play: run([this] { player_.isPlaying() ? player_.stopPlay() : player_.play(); }); break;
    case MenuCommand::Loop: run([this] { player_.setLoop(!player_.loop()); }); break;
    case MenuCommand::Rewind: run([this] { player_.rewind(); }); break;
    case MenuCommand::Forward: run([this] { player_.forward(); }); break;
    case MenuCommand::Back: run([this] { player_.back(); }); break;
    case MenuCommand::About:
    case MenuCommand::None: break;
    }
}

std::string Instance::typedCharacter(uint8_t byte)
{
    char in[2];
    int count = 0;
    if (leadByte_) {
        in[0] = static_cast<char>(leadByte_);
        in[1] = static_cast<char>(byte);
        count = 2;
        leadByte_ = 0;
    } else if (IsDBCSLeadByte(byte)) {
        leadByte_ = byte;
        return {};
    } else {
        in[0] = static_cast<char>(byte);
        count = 1;
    }
    if (count == 1 && byte < 0x80)
        return std::string(1, static_cast<char>(byte));
    wchar_t wide[2];
    const int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, in, count, wide, 2);
    char utf8[8];
    const int m = n > 0 ? WideCharToMultiByte(CP_UTF8, 0, wide, n, utf8, sizeof utf8, nullptr, nullptr) : 0;
    if (m <= 0) {
        log().note("typed bytes not in code page " + std::to_string(GetACP()) + ": dropped");
        return {};
    }
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(wide[0]));
    log().note(std::string("typed ") + code + " read in code page " + std::to_string(GetACP()));
    return std::string(utf8, static_cast<size_t>(m));
}

int16_t Instance::handleEvent(const NPEvent& event)
{
    auto x = [&] { return static_cast<int16_t>(LOWORD(event.lParam)) - window_.x; };
    auto y = [&] { return static_cast<int16_t>(HIWORD(event.lParam)) - window_.y; };
    switch (event.event) {
    case WM_PAINT: {
        if (throttled_) {
            log().note("paint skipped: throttled");
            return 1;
        }
        HDC dc = reinterpret_cast<HDC>(event.wParam);
        if (!dc && window_.type == NPWindowTypeDrawable)
            dc = static_cast<HDC>(window_.window);
        paint(dc, window_.x, window_.y, reinterpret_cast<const RECT*>(event.lParam));
        return 1;
    }
    case WM_MOUSEMOVE: {
        int px = x(), py = y();
        run([this, px, py] { player_.mouseMove(px, py); });
        return 1;
    }
    case WM_LBUTTONDOWN: {
        int px = x(), py = y();
        run([this, px, py] { player_.mouseDown(refplayer::MouseButton::Left, px, py); });
        return 1;
    }
    case WM_LBUTTONUP: {
        int px = x(), py = y();
        run([this, px, py] { player_.mouseUp(refplayer::MouseButton::Left, px, py); });
        return 1;
    }
    case WM_MOUSEWHEEL: {
        int delta = GET_WHEEL_DELTA_WPARAM(event.wParam);
        run([this, delta] { player_.mouseWheel(delta); });
        return 1;
    }
    case WM_RBUTTONDOWN:
        // The right button belongs to the player's context menu, not the
        // movie; the host gives the press in screen coordinates.
        if (config().contextMenu)
            openContextMenu(static_cast<int16_t>(LOWORD(event.lParam)), static_cast<int16_t>(HIWORD(event.lParam)));
        return 1;
    case WM_RBUTTONUP:
        return 1;
    case WM_CHAR: {
        auto byte = static_cast<uint8_t>(event.wParam);
        if (!config().decodeTypedText) {
            run([this, byte] { player_.charInput(byte); });
            return 1;
        }
        // The movie's text is Unicode: the byte is read as the system's code
        // page says, a lead byte waiting for its trail.
        for (char c : typedCharacter(byte)) {
            auto b = static_cast<uint8_t>(c);
            run([this, b] { player_.charInput(b); });
        }
        return 1;
    }
    case WM_KEYDOWN:
    case WM_KEYUP: {
        int key = static_cast<int>(event.wParam & 0xFFFF);
        bool down = event.event == WM_KEYDOWN;
        run([this, key, down] { down ? player_.keyDown(key) : player_.keyUp(key); });
        return 1;
    }
    default:
        return 0;
    }
}

// ---- values for the browser ------------------------------------------------------------

NPError Instance::getValue(NPPVariable variable, void* value)
{
    switch (variable) {
    case NPPVpluginWindowBool:
        *static_cast<NPBool*>(value) = false;
        return NPERR_NO_ERROR;
    case NPPVpluginTransparentBool:
        *static_cast<NPBool*>(value) = params_.transparent;
        return NPERR_NO_ERROR;
    case NPPVpluginNeedsXEmbed:
        *static_cast<NPBool*>(value) = false;
        return NPERR_NO_ERROR;
    case NPPVpluginScriptableNPObject: {
        NPObject* obj = scriptObject();
        *static_cast<NPObject**>(value) = obj;
        return obj ? NPERR_NO_ERROR : NPERR_GENERIC_ERROR;
    }
    default:
        return NPERR_INVALID_PARAM;
    }
}

NPObject* Instance::scriptObject()
{
    if (!object_) {
        NPObject* obj = browser::createObject(npp_, scriptObjectClass());
        if (destroyed_)
            return nullptr;
        auto s = reinterpret_cast<ScriptObject*>(obj);
        // Only an object made by our own allocate operation will do.
        if (!obj || s->magic != kScriptObjectMagic) {
            log().note("the host did not create the scriptable object");
            return nullptr;
        }
        if (!obj->_class)
            obj->_class = scriptObjectClass();
        s->instance = this;
        object_ = s;
    }
    return browser::retainObject(&object_->header);
}

// ---- the scriptable object's methods -------------------------------------------------

bool Instance::hasMethod(const std::string& name) const
{
    static const char* const methods[] = {"LoadMovie", "Play",        "StopPlay",      "Rewind",       "Forward",
                                          "Back",      "GetLoop",     "IsPlaying",     "CurrentFrame", "TCurrentFrame",
                                          "TotalFrames", "GotoFrame", "SetVariable",   "GetVariable",  "CallFunction",
                                          "SetReturnValue", "FlashVersion", "PercentLoaded"};
    return std::any_of(std::begin(methods), std::end(methods), [&](const char* m) { return name == m; });
}

bool Instance::invokeMethod(const std::string& name, const NPVariant* args, uint32_t count, NPVariant* result)
{
    {
        std::string line = "invoke " + name + " args=[";
        for (uint32_t i = 0; i < count; ++i)
            line += (i ? "," : "") + browser::describe(args[i]);
        log().received(line + "]");
    }
    if (auto f = config().failure(name); f && *f != 0) {
        log().note(name + " fails as configured");
        return false;
    }
    if (config().nullOut(name)) {
        log().note(name + " answers success without a result as configured");
        return true;
    }
    auto arg = [&](uint32_t i) -> const NPVariant& {
        static const NPVariant none{NPVariantType_Void, {}};
        return i < count ? args[i] : none;
    };
    auto refuse = [&](const char* why) {
        log().note(name + " refused: " + why);
        return false;
    };

    if (name == "Play" || name == "StopPlay" || name == "Rewind" || name == "Forward" || name == "Back") {
        run([this, name] {
            if (name == "Play")
                player_.play();
            else if (name == "StopPlay")
                player_.stopPlay();
            else if (name == "Rewind")
                player_.rewind();
            else if (name == "Forward")
                player_.forward();
            else
                player_.back();
        });
        return true;
    }
    if (name == "LoadMovie") {
        auto layer = browser::variantInt(arg(0));
        auto url = browser::variantText(arg(1));
        if (!layer || !url)
            return refuse("expects a layer number and a URL");
        if (*layer != 0)
            return refuse("only layer 0 can be loaded from the host");
        run([this, u = *url] { player_.loadRootUrl(u); });
        return true;
    }
    if (name == "GotoFrame") {
        auto frame = browser::variantInt(arg(0));
        if (!frame)
            return refuse("expects a frame number");
        run([this, f = *frame] { player_.gotoFrame(f); });
        return true;
    }
    if (name == "SetVariable") {
        auto var = browser::variantText(arg(0));
        auto value = valueText(arg(1));
        if (!var || !value)
            return refuse("expects a name and a value");
        run([this, n = *var, v = *value] { player_.setVariable(n, v); });
        return true;
    }
    if (name == "SetReturnValue") {
        auto value = browser::variantText(arg(0));
        if (!value)
            return refuse("expects text");
        if (externalDepth_ > 0)
            returnValue_ = *value;
        return true;
    }

    // Questions: answered now, even from inside a callback.
    EngineScope scope(*this);
    if (name == "GetVariable") {
        auto var = browser::variantText(arg(0));
        if (!var)
            return refuse("expects a name");
        auto value = player_.getVariable(*var);
        if (!value) {
            result->type = NPVariantType_Null;
            return true;
        }
        return setString(result, *value);
    }
    if (name == "CallFunction") {
        auto request = browser::variantText(arg(0));
        if (!request)
            return refuse("expects a request");
        auto answer = player_.callFunction(*request);
        if (!answer)
            return refuse("no such callback");
        return setString(result, *answer);
    }
    if (name == "IsPlaying") {
        setBool(result, player_.isPlaying());
        return true;
    }
    if (name == "GetLoop") {
        setBool(result, player_.loop());
        return true;
    }
    if (name == "CurrentFrame") {
        setFrame(result, name, player_.currentFrame());
        return true;
    }
    if (name == "TCurrentFrame") {
        auto target = browser::variantText(arg(0));
        if (!target || !(target->empty() || *target == "/" || *target == "_root" || *target == "_level0"))
            return refuse("only the root timeline is known");
        setFrame(result, name, player_.currentFrame());
        return true;
    }
    if (name == "TotalFrames") {
        setFrame(result, name, player_.totalFrames());
        return true;
    }
    if (name == "PercentLoaded") {
        setInt(result, player_.hasMovie() ? 100 : 0);
        return true;
    }
    if (name == "FlashVersion") {
        setInt(result, (config().versionMajor() << 16) | (config().versionMinor() & 0xFFFF));
        return true;
    }
    return refuse("unknown method");
}

bool Instance::getProperty(const std::string& name, NPVariant* result)
{
    log().received("get " + name);
    if (name != "Loop")
        return false;
    EngineScope scope(*this);
    setBool(result, player_.loop());
    return true;
}

bool Instance::setProperty(const std::string& name, const NPVariant& value)
{
    log().received("set " + name + " = " + browser::describe(value));
    if (auto f = config().failure(name); f && *f != 0) {
        log().note("set " + name + " fails as configured");
        return false;
    }
    auto on = browser::variantBool(value);
    if (name != "Loop" || !on)
        return false;
    run([this, v = *on] { player_.setLoop(v); });
    return true;
}

// ---- calls from the movie to the page ------------------------------------------------

void Instance::fsCommand(const std::string& command, const std::string& args)
{
    if (destroyed_)
        return;
    NPObject* window = browser::windowObject(npp_);
    if (!window) {
        log().note("fscommand " + quoted(command) + " dropped: no window object");
        return;
    }
    NPVariant argv[2];
    argv[0].type = NPVariantType_String;
    argv[0].value.stringValue = {command.c_str(), static_cast<uint32_t>(command.size())};
    argv[1].type = NPVariantType_String;
    argv[1].value.stringValue = {args.c_str(), static_cast<uint32_t>(args.size())};
    NPVariant result;
    result.type = NPVariantType_Void;
    browser::invoke(npp_, window, fsCommandMethod_.c_str(), argv, 2, &result);
    browser::releaseVariantValue(&result);
    browser::releaseObject(window);
}

std::optional<std::string> Instance::externalCall(const std::string& functionName, const std::string& invokeXml)
{
    if (destroyed_)
        return std::nullopt;
    auto request = refplayer::ei::decodeInvoke(invokeXml);
    if (!request) {
        log().note("external call refused: " + request.error);
        return std::nullopt;
    }
    std::string script =
        refplayer::ei::evaluateScript(functionName.empty() ? request.value->name : functionName, request.value->arguments);
    NPObject* window = browser::windowObject(npp_);
    if (!window) {
        log().note("external call dropped: no window object");
        return std::nullopt;
    }
    NPVariant result;
    result.type = NPVariantType_Void;
    if (externalDepth_++ == 0)
        returnValue_.reset();
    bool ok = browser::evaluate(npp_, window, script, &result);
    --externalDepth_;
    std::optional<std::string> answer;
    if (ok)
        answer = browser::variantText(result);
    // A container that answers through SetReturnValue instead of the script's value.
    if ((!answer || answer->empty()) && returnValue_)
        answer = returnValue_;
    if (externalDepth_ == 0)
        returnValue_.reset();
    browser::releaseVariantValue(&result);
    browser::releaseObject(window);
    log().note("external call answered " + (answer ? quoted(*answer) : std::string("nothing")));
    return answer;
}

}  // namespace refplugin
