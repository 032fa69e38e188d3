#include "engine_session.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "call_log.h"
#include "composite.h"
#include "int_conv.h"

#ifndef APIRGN
#define APIRGN 3  // GetRandomRgn: the clip region intersected with the meta region
#endif

namespace refhost {
namespace {

constexpr int kMaxSide = 8192;
constexpr int64_t kMaxPixels = int64_t(32) << 20;
constexpr size_t kMaxDirtyRects = 16;
constexpr UINT_PTR kFrameTimer = 1;
const wchar_t kTimerClass[] = L"KorvelRefPlayerTimer";
bool timerClassRegistered = false;
bool globalManualClock = false;

std::vector<EngineSession*>& registry()
{
    static std::vector<EngineSession*> r;
    return r;
}

refplayer::IRect intersect(const refplayer::IRect& a, const refplayer::IRect& b)
{
    return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
}

// Whether a DIB section's rows are stored bottom-up. GetObject reports the
// height as positive whichever way the section was created, so look: make the
// first stored pixel differ from the last row's first pixel, read the top row
// back through GDI, and put the pixel back.
bool rowOrderOf(HBITMAP bmp, const DIBSECTION& ds, bool& bottomUp)
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

}  // namespace

HINSTANCE thisModule()
{
    HMODULE m = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&thisModule), &m);
    return m;
}

// ---- lifetime ----------------------------------------------------------------

EngineSession::EngineSession() : player_(*this) { registry().push_back(this); }

EngineSession::~EngineSession()
{
    auto& r = registry();
    r.erase(std::remove(r.begin(), r.end(), this), r.end());
    if (timerWindow_)
        DestroyWindow(timerWindow_);
    ensureFrame(0, 0);
}

std::vector<EngineSession*> EngineSession::all() { return registry(); }

void EngineSession::setGlobalManualClock(bool manual) { globalManualClock = manual; }

void EngineSession::endSession()
{
    if (destroyed_)
        return;
    destroyed_ = true;
    queue_.clear();
    dirty_.clear();
    stopTimer();
    if (timerWindow_)
        SetWindowLongPtrW(timerWindow_, GWLP_USERDATA, 0);
}

void EngineSession::note(const std::string& line) { refplugin::CallLog::instance().note(line); }

void EngineSession::trace(const std::string& text) { note("trace " + refplugin::quoted(text)); }

// ---- running changes -----------------------------------------------------------

void EngineSession::run(std::function<void()> change)
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

void EngineSession::tick()
{
    if (destroyed_ || holdFrame())
        return;
    run([this] { player_.tick(); });
}

void EngineSession::settle() noexcept
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
            note("exception in a queued change");
        }
        --engineDepth_;
    }
    settling_ = false;
    try {
        flushInvalidations();
    } catch (...) {
        note("exception while asking for a repaint");
    }
}

void EngineSession::invalidate(const refplayer::IRect& viewRect)
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

void EngineSession::flushInvalidations()
{
    if (destroyed_ || dirty_.empty())
        return;
    // The host may paint, and so call back in, from inside each request.
    std::vector<refplayer::IRect> rects;
    rects.swap(dirty_);
    for (auto& r : rects) {
        if (destroyed_)
            return;
        requestRepaint(r);
    }
}

// ---- time ------------------------------------------------------------------------

void EngineSession::restartTimer()
{
    if (destroyed_ || manualClock_ || globalManualClock || manualClockConfigured() || !player_.hasMovie()) {
        stopTimer();
        return;
    }
    double rate = player_.frameRate();
    if (!(rate > 0) || !std::isfinite(rate))
        rate = 12;
    const UINT interval = refplayer::num::roundClamp<UINT>(1000.0 / rate, 1, 60000);
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

void EngineSession::stopTimer()
{
    if (timerWindow_ && timerInterval_)
        KillTimer(timerWindow_, kFrameTimer);
    timerInterval_ = 0;
}

LRESULT CALLBACK EngineSession::timerWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept
{
    if (msg != WM_TIMER || wp != kFrameTimer)
        return DefWindowProcW(hwnd, msg, wp, lp);
    try {
        auto s = reinterpret_cast<EngineSession*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (s && !s->destroyed_)
            s->timerFired();
    } catch (...) {
        refplugin::CallLog::instance().note("exception in a frame tick");
    }
    return 0;
}

void EngineSession::stopForShutdown()
{
    manualClock_ = true;
    stopTimer();
    if (timerWindow_) {
        DestroyWindow(timerWindow_);
        timerWindow_ = nullptr;
    }
}

void EngineSession::unregisterTimerClass()
{
    for (EngineSession* s : registry())
        s->stopForShutdown();
    if (timerClassRegistered) {
        UnregisterClassW(kTimerClass, thisModule());
        timerClassRegistered = false;
    }
}

int EngineSession::stepFrames(int frames)
{
    manualClock_ = true;
    stopTimer();
    frames = std::clamp(frames, 0, 100000);
    for (int n = 0; n < frames && !destroyed_; ++n)
        tick();
    return frames;
}

// ---- drawing -----------------------------------------------------------------------

bool EngineSession::resizeView(int width, int height)
{
    if (width < 0 || height < 0 || width > kMaxSide || height > kMaxSide || int64_t(width) * height > kMaxPixels) {
        note("view of " + std::to_string(width) + "x" + std::to_string(height) + " refused");
        return false;
    }
    if (width == frameWidth_ && height == frameHeight_)
        return true;
    if (!ensureFrame(width, height)) {
        note("no memory for a " + std::to_string(width) + "x" + std::to_string(height) + " frame");
        return false;
    }
    player_.setViewSize(width, height);
    invalidate({0, 0, width, height});
    return true;
}

bool EngineSession::ensureFrame(int width, int height)
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

void EngineSession::paint(HDC dc, int originX, int originY, const RECT* dirty, std::optional<uint32_t> underlay)
{
    if (!dc || !frameBits_)
        return;
    RECT d = dirty ? *dirty : RECT{originX, originY, originX + frameWidth_, originY + frameHeight_};
    refplayer::IRect view = intersect({d.left - originX, d.top - originY, d.right - originX, d.bottom - originY},
                                      {0, 0, frameWidth_, frameHeight_});
    if (view.empty())
        return;
    GdiFlush();
    uint32_t base = underlay ? *underlay : 0u;
    for (int y = view.top; y < view.bottom; ++y)
        std::fill_n(frameBits_ + size_t(y) * frameWidth_ + view.left, view.right - view.left, base);
    player_.render(refplayer::Surface{frameBits_, frameWidth_, frameHeight_, frameWidth_ * 4}, view);
    if (!blendIntoDib(dc, originX, originY, view)) {
        BLENDFUNCTION bf{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        int w = view.right - view.left, h = view.bottom - view.top;
        if (!AlphaBlend(dc, originX + view.left, originY + view.top, w, h, frameDC_, view.left, view.top, w, h, bf))
            note("AlphaBlend failed");
    }
    if (repaintsInPaintLeft_ < 0)
        repaintsInPaintLeft_ = repaintInPaintConfigured();
    if (repaintsInPaintLeft_ > 0 && !destroyed_) {
        --repaintsInPaintLeft_;
        note("repaint asked from inside a paint as configured");
        requestRepaint({0, 0, frameWidth_, frameHeight_});
    }
}

// Blends the frame straight into the bits of a DIB section selected into the
// target, so the result is exactly the documented source-over, honouring the
// DC's clip region and its window and viewport origins. Anything this does
// not understand (another depth, a scaling map mode, a world transform) is
// left to AlphaBlend.
bool EngineSession::blendIntoDib(HDC dc, int originX, int originY, const refplayer::IRect& view)
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
    // view -> logical (player origin) -> device
    int dx = originX - windowOrg.x + viewportOrg.x;
    int dy = originY - windowOrg.y + viewportOrg.y;
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
            refplugin::sourceOverRow(row + left, src, right - left);
        }
    }
    return true;
}

}  // namespace refhost
