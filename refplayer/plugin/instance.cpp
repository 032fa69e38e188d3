#include "instance.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "browser.h"
#include "call_log.h"
#include "composite.h"
#include "refplayer/script/eixml.h"
#include "scriptable.h"

#ifndef APIRGN
#define APIRGN 3  // GetRandomRgn: the clip region intersected with the meta region
#endif

namespace refplugin {
namespace {

constexpr int kMaxSide = 8192;
constexpr int64_t kMaxPixels = int64_t(32) << 20;
constexpr int32_t kWriteReadyBytes = 64 * 1024;
constexpr size_t kMaxDirtyRects = 16;
constexpr UINT_PTR kFrameTimer = 1;
const wchar_t kTimerClass[] = L"KorvelRefPlayerTimer";
bool timerClassRegistered = false;

std::vector<Instance*>& registry()
{
    static std::vector<Instance*> r;
    return r;
}

CallLog& log() { return CallLog::instance(); }

HINSTANCE thisModule()
{
    HMODULE m = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&thisModule), &m);
    return m;
}


refplayer::IRect intersect(const refplayer::IRect& a, const refplayer::IRect& b)
{
    return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
}

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

bool globalManualClock = false;

}  // namespace

void setGlobalManualClock(bool manual) { globalManualClock = manual; }

// ---- lifetime -------------------------------------------------------------

class Instance::EngineScope {
public:
    explicit EngineScope(Instance& i) : i_(i) { ++i_.engineDepth_; }
    ~EngineScope()
    {
        if (--i_.engineDepth_ == 0)
            i_.settle();
    }
    EngineScope(const EngineScope&) = delete;
    EngineScope& operator=(const EngineScope&) = delete;

private:
    Instance& i_;
};

Instance::Instance(NPP npp, Params params)
    : npp_(npp), params_(std::move(params)), fsCommandMethod_(params_.id + "_DoFSCommand"), player_(*this)
{
    registry().push_back(this);
    EngineScope scope(*this);
    player_.setTransparent(params_.transparent);
}

Instance::~Instance()
{
    auto& r = registry();
    r.erase(std::remove(r.begin(), r.end(), this), r.end());
    if (timerWindow_)
        DestroyWindow(timerWindow_);
    ensureFrame(0, 0);
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
    destroyed_ = true;
    queue_.clear();
    dirty_.clear();
    stopTimer();
    if (timerWindow_)
        SetWindowLongPtrW(timerWindow_, GWLP_USERDATA, 0);
    if (object_) {
        object_->instance = nullptr;
        NPObject* obj = &object_->header;
        object_ = nullptr;
        browser::releaseObject(obj);
    }
    if (npp_->pdata == this)
        npp_->pdata = nullptr;
}

// ---- running changes ---------------------------------------------------------

void Instance::run(std::function<void()> change)
{
    if (destroyed_)
        return;
    if (engineDepth_ > 0 || settling_) {
        queue_.push_back(std::move(change));
        return;
    }
    EngineScope scope(*this);
    change();
}

void Instance::settle() noexcept
{
    if (settling_)
        return;
    settling_ = true;
    while (!destroyed_ && !queue_.empty()) {
        auto change = std::move(queue_.front());
        queue_.pop_front();
        ++engineDepth_;
        try {
            change();
        } catch (...) {
            log().note("exception in a queued change");
        }
        --engineDepth_;
    }
    settling_ = false;
    try {
        flushInvalidations();
    } catch (...) {
        log().note("exception while asking for a repaint");
    }
}

void Instance::invalidate(const refplayer::IRect& viewRect)
{
    if (destroyed_)
        return;
    refplayer::IRect r = intersect(viewRect, {0, 0, frameWidth_, frameHeight_});
    if (r.empty())
        return;
    for (auto& d : dirty_)
        if (d.left <= r.left && d.top <= r.top && d.right >= r.right && d.bottom >= r.bottom)
            return;
    dirty_.push_back(r);
    if (dirty_.size() > kMaxDirtyRects) {
        refplayer::IRect all = dirty_.front();
        for (auto& d : dirty_)
            all = {std::min(all.left, d.left), std::min(all.top, d.top), std::max(all.right, d.right),
                   std::max(all.bottom, d.bottom)};
        dirty_.assign(1, all);
    }
    if (engineDepth_ == 0 && !settling_)
        flushInvalidations();
}

void Instance::flushInvalidations()
{
    if (destroyed_ || dirty_.empty())
        return;
    // The browser may paint, and so call back in, from inside each request.
    std::vector<refplayer::IRect> rects;
    rects.swap(dirty_);
    for (auto& r : rects) {
        if (destroyed_)
            return;
        NPRect nr{static_cast<uint16_t>(std::clamp(r.top, 0, 0xFFFF)), static_cast<uint16_t>(std::clamp(r.left, 0, 0xFFFF)),
                  static_cast<uint16_t>(std::clamp(r.bottom, 0, 0xFFFF)),
                  static_cast<uint16_t>(std::clamp(r.right, 0, 0xFFFF))};
        browser::invalidateRect(npp_, nr);
    }
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
    return requests_.owns(s) && !s->finished ? kWriteReadyBytes : -1;
}

int32_t Instance::write(NPStream* stream, int32_t offset, int32_t length, void* buffer)
{
    auto s = stream ? static_cast<RequestTracker::Stream*>(stream->pdata) : nullptr;
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

void Instance::restartTimer()
{
    if (destroyed_ || manualClock_ || globalManualClock || config().manualClock || !player_.hasMovie()) {
        stopTimer();
        return;
    }
    double rate = player_.frameRate();
    if (!(rate > 0) || !std::isfinite(rate))
        rate = 12;
    UINT interval = static_cast<UINT>(std::clamp(std::lround(1000.0 / rate), 1L, 60000L));
    if (!timerClassRegistered) {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = timerWindowProc;
        wc.hInstance = thisModule();
        wc.lpszClassName = kTimerClass;
        if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
            return;
        timerClassRegistered = true;
    }
    if (!timerWindow_) {
        timerWindow_ = CreateWindowExW(0, kTimerClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, thisModule(), nullptr);
        if (!timerWindow_)
            return;
        SetWindowLongPtrW(timerWindow_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    if (timerInterval_ != interval) {
        SetTimer(timerWindow_, kFrameTimer, interval, nullptr);
        timerInterval_ = interval;
    }
}

void Instance::stopTimer()
{
    if (timerWindow_ && timerInterval_)
        KillTimer(timerWindow_, kFrameTimer);
    timerInterval_ = 0;
}

void Instance::onTimer()
{
    run([this] { player_.tick(); });
}

LRESULT CALLBACK Instance::timerWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept
{
    if (msg != WM_TIMER || wp != kFrameTimer)
        return DefWindowProcW(hwnd, msg, wp, lp);
    try {
        auto i = reinterpret_cast<Instance*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (i && !i->destroyed_) {
            Entry entry(i);
            i->onTimer();
        }
    } catch (...) {
        log().note("exception in a frame tick");
    }
    return 0;
}

void Instance::stopForShutdown()
{
    manualClock_ = true;
    stopTimer();
    if (timerWindow_) {
        DestroyWindow(timerWindow_);
        timerWindow_ = nullptr;
    }
}

void unregisterTimerClass()
{
    for (Instance* i : registry())
        i->stopForShutdown();
    if (timerClassRegistered) {
        UnregisterClassW(kTimerClass, thisModule());
        timerClassRegistered = false;
    }
}

int Instance::stepFrames(int frames)
{
    manualClock_ = true;
    stopTimer();
    frames = std::clamp(frames, 0, 100000);
    for (int n = 0; n < frames && !destroyed_; ++n)
        run([this] { player_.tick(); });
    return frames;
}

// ---- drawing -----------------------------------------------------------------------

bool Instance::ensureFrame(int width, int height)
{
    if (frameDC_) {
        SelectObject(frameDC_, frameOldBitmap_);
        DeleteDC(frameDC_);
        frameDC_ = nullptr;
    }
    if (frameBitmap_) {
        DeleteObject(frameBitmap_);
        frameBitmap_ = nullptr;
    }
    frameBits_ = nullptr;
    frameWidth_ = frameHeight_ = 0;
    if (width <= 0 || height <= 0)
        return true;
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;  // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bmp || !bits)
        return false;
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc) {
        DeleteObject(bmp);
        return false;
    }
    frameBitmap_ = bmp;
    frameDC_ = dc;
    frameOldBitmap_ = SelectObject(dc, bmp);
    frameBits_ = static_cast<uint32_t*>(bits);
    frameWidth_ = width;
    frameHeight_ = height;
    std::memset(frameBits_, 0, size_t(width) * size_t(height) * 4);
    return true;
}

NPError Instance::setWindow(const NPWindow& window)
{
    if (window.width > uint32_t(kMaxSide) || window.height > uint32_t(kMaxSide) ||
        int64_t(window.width) * int64_t(window.height) > kMaxPixels) {
        log().note("window of " + std::to_string(window.width) + "x" + std::to_string(window.height) + " refused");
        return NPERR_INVALID_PARAM;
    }
    window_ = window;
    haveWindow_ = true;
    int width = static_cast<int>(window.width), height = static_cast<int>(window.height);
    if (width == frameWidth_ && height == frameHeight_)
        return NPERR_NO_ERROR;
    // The frame and the engine's view change size together: a host that paints
    // while the engine is busy still gets the old, consistent pair.
    run([this, width, height] {
        if (width == frameWidth_ && height == frameHeight_)
            return;
        if (!ensureFrame(width, height)) {
            log().note("no memory for a " + std::to_string(width) + "x" + std::to_string(height) + " frame");
            return;
        }
        player_.setViewSize(width, height);
        invalidate({0, 0, width, height});
    });
    return NPERR_NO_ERROR;
}

void Instance::paint(HDC dc, const RECT* dirty)
{
    if (!dc || !frameBits_)
        return;
    RECT d = dirty ? *dirty
                   : RECT{window_.x, window_.y, window_.x + frameWidth_, window_.y + frameHeight_};
    refplayer::IRect view = intersect({d.left - window_.x, d.top - window_.y, d.right - window_.x, d.bottom - window_.y},
                                      {0, 0, frameWidth_, frameHeight_});
    if (view.empty())
        return;
    GdiFlush();
    for (int y = view.top; y < view.bottom; ++y)
        std::memset(frameBits_ + size_t(y) * frameWidth_ + view.left, 0, size_t(view.right - view.left) * 4);
    player_.render(refplayer::Surface{frameBits_, frameWidth_, frameHeight_, frameWidth_ * 4}, view);
    if (blendIntoDib(dc, view))
        return;
    BLENDFUNCTION bf{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    int w = view.right - view.left, h = view.bottom - view.top;
    if (!AlphaBlend(dc, window_.x + view.left, window_.y + view.top, w, h, frameDC_, view.left, view.top, w, h, bf))
        log().note("AlphaBlend failed");
}

// Whether a DIB section's rows are stored bottom-up. GetObject reports the
// height as positive whichever way the section was created, so look: make the
// first stored pixel differ from the last row's first pixel, read the top row
// back through GDI, and put the pixel back.
static bool rowOrderOf(HBITMAP bmp, const DIBSECTION& ds, bool& bottomUp)
{
    int height = ds.dsBm.bmHeight, stride = ds.dsBm.bmWidthBytes;
    bottomUp = false;
    if (height <= 1)
        return true;
    auto first = static_cast<uint32_t*>(ds.dsBm.bmBits);
    auto lastRow = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(ds.dsBm.bmBits) + ptrdiff_t(height - 1) * stride);
    std::vector<uint8_t> top(static_cast<size_t>(stride));
    uint32_t saved = *first;
    *first = *lastRow ^ 0xFFu;
    LONG read = GetBitmapBits(bmp, stride, top.data());
    uint32_t seen = 0;
    std::memcpy(&seen, top.data(), 4);
    bool ok = read == stride && (seen == *first || seen == *lastRow);
    bottomUp = seen == *lastRow;
    *first = saved;
    return ok;
}

// Blends the frame straight into the bits of a DIB section selected into the
// target, so the result is exactly the documented source-over, honouring the
// DC's clip region and its window and viewport origins. Anything this does
// not understand (another depth, a scaling map mode, a world transform) is
// left to AlphaBlend.
bool Instance::blendIntoDib(HDC dc, const refplayer::IRect& view)
{
    auto bmp = static_cast<HBITMAP>(GetCurrentObject(dc, OBJ_BITMAP));
    DIBSECTION ds{};
    if (!bmp || GetObjectW(bmp, sizeof ds, &ds) != int(sizeof ds) || !ds.dsBm.bmBits || ds.dsBm.bmBitsPixel != 32)
        return false;
    if (ds.dsBmih.biCompression == BI_BITFIELDS) {
        if (ds.dsBitfields[0] != 0xFF0000 || ds.dsBitfields[1] != 0xFF00 || ds.dsBitfields[2] != 0xFF)
            return false;
    } else if (ds.dsBmih.biCompression != BI_RGB) {
        return false;
    }
    if (GetMapMode(dc) != MM_TEXT)
        return false;
    if (GetGraphicsMode(dc) == GM_ADVANCED) {
        XFORM xf{};
        if (!GetWorldTransform(dc, &xf) || xf.eM11 != 1 || xf.eM12 != 0 || xf.eM21 != 0 || xf.eM22 != 1 ||
            xf.eDx != 0 || xf.eDy != 0)
            return false;
    }
    POINT windowOrg{}, viewportOrg{};
    GetWindowOrgEx(dc, &windowOrg);
    GetViewportOrgEx(dc, &viewportOrg);
    // view -> logical (plug-in origin) -> device
    int dx = window_.x - windowOrg.x + viewportOrg.x;
    int dy = window_.y - windowOrg.y + viewportOrg.y;
    int bw = ds.dsBm.bmWidth, bh = ds.dsBm.bmHeight;
    int stride = ds.dsBm.bmWidthBytes;
    bool bottomUp = false;
    if (!rowOrderOf(bmp, ds, bottomUp))
        return false;
    RECT target{std::max(view.left + dx, 0), std::max(view.top + dy, 0), std::min(view.right + dx, bw),
                std::min(view.bottom + dy, bh)};
    if (target.left >= target.right || target.top >= target.bottom)
        return true;

    std::vector<RECT> rects;
    HRGN clip = CreateRectRgn(0, 0, 0, 0);
    if (!clip)
        return false;
    int hasClip = GetRandomRgn(dc, clip, APIRGN);
    if (hasClip < 0) {
        DeleteObject(clip);
        return false;
    }
    if (hasClip == 0) {
        rects.push_back(target);
    } else {
        HRGN box = CreateRectRgnIndirect(&target);
        CombineRgn(clip, clip, box, RGN_AND);
        DeleteObject(box);
        DWORD size = GetRegionData(clip, 0, nullptr);
        std::vector<uint8_t> data(size);
        if (size && GetRegionData(clip, size, reinterpret_cast<RGNDATA*>(data.data())) == size) {
            auto rd = reinterpret_cast<RGNDATA*>(data.data());
            auto first = reinterpret_cast<RECT*>(rd->Buffer);
            rects.assign(first, first + rd->rdh.nCount);
        }
    }
    DeleteObject(clip);

    auto bits = static_cast<uint8_t*>(ds.dsBm.bmBits);
    for (const RECT& r : rects) {
        int left = std::max<int>(r.left, target.left), right = std::min<int>(r.right, target.right);
        int top = std::max<int>(r.top, target.top), bottom = std::min<int>(r.bottom, target.bottom);
        for (int y = top; y < bottom && left < right; ++y) {
            auto row = reinterpret_cast<uint32_t*>(bits + ptrdiff_t(bottomUp ? bh - 1 - y : y) * stride);
            const uint32_t* src = frameBits_ + size_t(y - dy) * frameWidth_ + (left - dx);
            sourceOverRow(row + left, src, right - left);
        }
    }
    return true;
}

int16_t Instance::handleEvent(const NPEvent& event)
{
    auto x = [&] { return static_cast<int16_t>(LOWORD(event.lParam)) - window_.x; };
    auto y = [&] { return static_cast<int16_t>(HIWORD(event.lParam)) - window_.y; };
    switch (event.event) {
    case WM_PAINT: {
        HDC dc = reinterpret_cast<HDC>(event.wParam);
        if (!dc && window_.type == NPWindowTypeDrawable)
            dc = static_cast<HDC>(window_.window);
        paint(dc, reinterpret_cast<const RECT*>(event.lParam));
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
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
        // The right button belongs to the player's context menu, not the movie.
        return 1;
    case WM_CHAR: {
        auto byte = static_cast<uint8_t>(event.wParam);
        run([this, byte] { player_.charInput(byte); });
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
        setInt(result, player_.currentFrame());
        return true;
    }
    if (name == "TCurrentFrame") {
        auto target = browser::variantText(arg(0));
        if (!target || !(target->empty() || *target == "/" || *target == "_root" || *target == "_level0"))
            return refuse("only the root timeline is known");
        setInt(result, player_.currentFrame());
        return true;
    }
    if (name == "TotalFrames") {
        setInt(result, player_.totalFrames());
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

void Instance::trace(const std::string& text) { log().note("trace " + quoted(text)); }

}  // namespace refplugin
