// The driver base: render buffer, shared settings, hooks back into the host.
#include "kv_driver.h"

#include "kv_alpha.h"
#include "kv_boundary.h"

#include <algorithm>
#include <utility>
#include <vector>

const TClassInfo& TkvFlashDriver::StaticClass()
{
    static const TClassInfo info = TClassBuilder<TkvFlashDriver>(L"TkvFlashDriver").Build();
    return info;
}

const TkvFlashDriverClass& TkvFlashDriver::ClassRef()
{
    static const TkvDriverClassOf<TkvFlashDriver> ref(L"TkvFlashDriver");
    return ref;
}

TkvFlashDriver::TkvFlashDriver() : TComponent(nullptr) {}

TkvFlashDriver::~TkvFlashDriver()
{
    Control = nullptr;
    // A back-end has already released its own part in its destructor; this
    // releases the base's.
    TkvFlashDriver::FreeBuffer();
}

void TkvFlashDriver::Construct(int AWidth, int AHeight, std::uint32_t ABackground)
{
    ShowUpdateRects = false;
    DisableFlashCursor = false;
    DisableFlashMenu = true;
    // Background first, so the first CreateBuffer knows whether a secondary
    // buffer is needed. No hook is assigned yet, so no erase is asked for.
    Background = ABackground;
    Skin = L"ClearOverAll";
    Volume = 50;
    Resize(AWidth, AHeight);
}

void TkvFlashDriver::CreateBuffer()
{
    BITMAPINFOHEADER& h = BitmapInfo.bmiHeader;
    h = BITMAPINFOHEADER{};
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = Width > 0 ? Width : 1;
    h.biHeight = Height > 0 ? -Height : -1;  // top-down
    h.biPlanes = 1;
    h.biBitCount = 32;
    h.biCompression = BI_RGB;
    // The public fields name what the owners hold; only the owners release it.
    primary_ = kv::DibSection(BitmapInfo);
    BufferDC = primary_.dc();
    BufferBitmap = primary_.bitmap();
    Bits = primary_.bits();
    if ((Background >> 24) == 0) {
        white_ = kv::DibSection(BitmapInfo);
        WhiteDC = white_.dc();
        WhiteBitmap = white_.bitmap();
        WhiteBits = white_.bits();
    }
    if (OnEraseBackground.Assigned())
        OnEraseBackground(this, Rect(0, 0, Width, Height));
}

void TkvFlashDriver::FreeBuffer()
{
    // Each buffer is released on its own (the secondary one may exist when
    // the primary one could not be made), its DC's own bitmap selected back
    // first, then the DC, then the section.
    primary_.reset();
    white_.reset();
    BufferDC = nullptr;
    BufferBitmap = nullptr;
    WhiteDC = nullptr;
    WhiteBitmap = nullptr;
    Bits = nullptr;
    WhiteBits = nullptr;
}

void TkvFlashDriver::Resize(int AWidth, int AHeight)
{
    if (AWidth == Width && AHeight == Height)
        return;
    FreeBuffer();
    Width = AWidth > 0 ? AWidth : 1;
    Height = AHeight > 0 ? AHeight : 1;
    CreateBuffer();
    ResizeBuffer();
}

void TkvFlashDriver::SetBackground(std::uint32_t Value)
{
    if (Value == Background)
        return;
    const bool alphaChanged = (Value >> 24) != (Background >> 24);
    Background = Value;
    if (alphaChanged) {
        FreeBuffer();
        CreateBuffer();
    }
}

void TkvFlashDriver::DrawUpdateRect(const TRect& R)
{
    if (!ShowUpdateRects || !BufferDC)
        return;
    TCanvas canvas;
    canvas.SetHandle(BufferDC);
    canvas.Brush()->SetStyle(bsClear);
    canvas.Pen()->SetStyle(psSolid);
    canvas.Pen()->SetColor(clRed);
    canvas.Pen()->SetWidth(1);
    canvas.Rectangle(R);
    canvas.SetHandle(nullptr);
}

// ---------------------------------------------------------------------------
// The paint
// ---------------------------------------------------------------------------

namespace {

// A player that asks again from inside every paint is drawn this many times
// in one paint; what it asks after that waits for the next paint.
constexpr int kMaxPaintPasses = 4;

bool IsEmpty(const RECT& r)
{
    return r.left >= r.right || r.top >= r.bottom;
}

RECT Union(const RECT& a, const RECT& b)
{
    if (IsEmpty(a))
        return b;
    if (IsEmpty(b))
        return a;
    return RECT{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                std::max(a.bottom, b.bottom)};
}

// The part of r inside a w x h buffer.
RECT Inside(const RECT& r, int w, int h)
{
    return RECT{std::max<LONG>(r.left, 0), std::max<LONG>(r.top, 0), std::min<LONG>(r.right, w),
                std::min<LONG>(r.bottom, h)};
}

}  // namespace

void TkvFlashDriver::PaintRect(const RECT& Rect, IkvDrawStep& Step)
{
    if (painting_) {
        // The player (or a handler of this paint) asks from inside the paint:
        // drawing now would run a second pass over the buffer in the middle
        // of this one. The running paint draws it before it reports.
        pendingPaint_ = Union(pendingPaint_, Rect);
        return;
    }
    TkvDriverBusy busy(this);
    struct Painting {
        bool& flag;
        explicit Painting(bool& f) : flag(f) { flag = true; }
        ~Painting() { flag = false; }
    };
    RECT painted{};
    bool first = true;
    {
        const Painting scope(painting_);
        // Left over from a paint that reached its pass limit.
        RECT area = Union(Rect, std::exchange(pendingPaint_, RECT{}));
        for (int pass = 0;; ++pass) {
            const RECT r = Inside(area, Width, Height);
            if (!PaintPass(r, Step, busy))
                return;
            painted = first ? r : Union(painted, r);
            first = false;
            if (IsEmpty(pendingPaint_) || pass + 1 == kMaxPaintPasses)
                break;
            area = std::exchange(pendingPaint_, RECT{});
        }
    }
    // Reported once, for everything drawn, with the update frame already in
    // the buffer the handler shows. A repaint asked for from inside the
    // handler is a paint of its own.
    const TRect rect(painted.left, painted.top, painted.right, painted.bottom);
    if (ShowUpdateRects && BufferDC)
        DrawUpdateRect(rect);
    // The handler may release the driver; nothing follows it here.
    if (OnPaint.Assigned())
        OnPaint(this, rect);
}

bool TkvFlashDriver::PaintPass(const RECT& R, IkvDrawStep& Step, const TkvDriverBusy& Busy)
{
    if (!BufferDC || !Step.CanDraw())
        return true;  // nothing to draw with: the buffer keeps what it has
    if (!WhiteBits) {
        // The erase hook runs application code: it may release the driver.
        if (OnEraseBackground.Assigned())
            OnEraseBackground(this, TRect(R.left, R.top, R.right, R.bottom));
        if (Busy.Released())
            return false;
        // The player may release the driver from inside its drawing.
        if (BufferDC && Step.CanDraw())
            Step.DrawInto(BufferDC, R);
        return !Busy.Released();
    }
    if (IsEmpty(R))
        return true;
    // Twice, over black and over white; the difference gives the alpha.
    FillLongwordRect(Bits, Width, Height, R.left, R.top, R.right, R.bottom, 0xFF000000u);
    // The player may release the driver, or change its buffer, while it draws.
    Step.DrawInto(BufferDC, R);
    if (Busy.Released() || !WhiteBits || !Step.CanDraw())
        return false;
    FillLongwordRect(WhiteBits, Width, Height, R.left, R.top, R.right, R.bottom, 0xFFFFFFFFu);
    Step.DrawInto(WhiteDC, R);
    if (Busy.Released() || !Bits || !WhiteBits)
        return false;
    GdiFlush();
    RecoverAlphaRect(static_cast<std::uint32_t*>(Bits), static_cast<const std::uint32_t*>(WhiteBits), Width, Height,
                     R.left, R.top, R.right, R.bottom);
    return true;
}

HWND TkvFlashDriver::GetParentHandle() const
{
    if (!Control)
        return nullptr;
    if (auto* win = dynamic_cast<TWinControl*>(Control)) {
        if (win->HandleAllocated())
            return win->Handle();
        return nullptr;
    }
    if (dynamic_cast<TGraphicControl*>(Control)) {
        TWinControl* parent = Control->Parent();
        if (parent && parent->HandleAllocated())
            return parent->Handle();
    }
    return nullptr;
}

TPoint TkvFlashDriver::GetParentOffset() const
{
    if (Control && dynamic_cast<TGraphicControl*>(Control))
        return TPoint(Control->Left(), Control->Top());
    return TPoint(0, 0);
}

void TkvFlashDriver::DoFSCommand(const WideString& command, const WideString& args)
{
    if (OnFSCommand.Assigned())
        OnFSCommand(this, command, args);
}

void TkvFlashDriver::DoFlashCall(const WideString& request)
{
    if (OnFlashCall.Assigned())
        OnFlashCall(this, request);
}

void TkvFlashDriver::SetPause(bool Value)
{
    Pause = Value;
    if (Value) {
        StopPlay();
        if (IsVideo)
            CallFunction(L"<invoke name=\"stopflv\" returntype=\"xml\"></invoke>");
    } else {
        Play();
        if (IsVideo)
            CallFunction(L"<invoke name=\"playflv\" returntype=\"xml\"></invoke>");
    }
}

void TkvFlashDriver::SetVolume(int Value)
{
    Volume = Value;
    if (IsVideo)
        SetVariable(L"flv.volume", IntToStr(Value));
}

// The base has no player: every movie operation answers nothing.
void TkvFlashDriver::MouseDown(TMouseButton, TShiftState, int, int) {}
void TkvFlashDriver::MouseMove(TShiftState, int, int) {}
void TkvFlashDriver::MouseUp(TMouseButton, TShiftState, int, int) {}
void TkvFlashDriver::MouseWheel(TShiftState, int, int, int, bool&) {}
void TkvFlashDriver::KeyDown(std::uint16_t&, TShiftState) {}
void TkvFlashDriver::KeyPress(wchar_t&, TShiftState) {}
void TkvFlashDriver::KeyUp(std::uint16_t&, TShiftState) {}
void TkvFlashDriver::LoadMovie(const WideString&) {}
void TkvFlashDriver::LoadMovieFromStream(TStream*) {}
WideString TkvFlashDriver::GetVariable(const WideString&) { return {}; }
void TkvFlashDriver::SetVariable(const WideString&, const WideString&) {}
WideString TkvFlashDriver::CallFunction(const WideString&) { return {}; }
void TkvFlashDriver::SetReturnValue(const WideString&) {}
void TkvFlashDriver::Play() {}
void TkvFlashDriver::StopPlay() {}
void TkvFlashDriver::Rewind() {}
void TkvFlashDriver::Forward() {}
void TkvFlashDriver::Back() {}
bool TkvFlashDriver::GetLoop() { return false; }
bool TkvFlashDriver::GetIsPlaying() { return false; }
int TkvFlashDriver::GetCurrentFrame() { return 0; }
int TkvFlashDriver::GetTotalFrames() { return 0; }
void TkvFlashDriver::SetLoop(bool) {}
void TkvFlashDriver::SetCurrentFrame(int) {}

// ---------------------------------------------------------------------------
// Lifetime across calls from the player
// ---------------------------------------------------------------------------
//
// A driver released while it is inside a call from or to its player is cut
// off from its host at once and destroyed later, from the message loop: when
// its last guard ends, the player may still be running its own code on the
// stack (a frame script that called out to us), and destroying its instance
// under it would pull the floor away. A message posted to a window of ours
// comes back only once every call on the stack has returned.

namespace {

constexpr UINT WM_KV_FREEDRIVERS = WM_APP + 0x4B56;

std::vector<TkvFlashDriver*>& ReleasedDrivers()
{
    static std::vector<TkvFlashDriver*> list;
    return list;
}

HWND g_releaseWindow = nullptr;

LRESULT CALLBACK ReleaseWindowProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) noexcept
{
    if (msg == WM_KV_FREEDRIVERS) {
        // A driver that fails in its destructor is traced; the others still go.
        kv::Entry("driver release window", [] { FreeReleasedDrivers(); });
        return 0;
    }
    return DefWindowProcW(wnd, msg, wp, lp);
}

HWND ReleaseWindow()
{
    if (g_releaseWindow)
        return g_releaseWindow;
    static const wchar_t kClass[] = L"KorvelDriverRelease";
    WNDCLASSW wc{};
    wc.lpfnWndProc = ReleaseWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClass;
    ::RegisterClassW(&wc);  // a second registration fails harmlessly
    g_releaseWindow = CreateWindowExW(0, kClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    return g_releaseWindow;
}

void ScheduleFree(TkvFlashDriver* d)
{
    // A released driver's player may still call it (and so guard it) until
    // it is gone: schedule it once.
    auto& list = ReleasedDrivers();
    if (std::find(list.begin(), list.end(), d) != list.end())
        return;
    list.push_back(d);
    HWND w = ReleaseWindow();
    if (!w || !PostMessageW(w, WM_KV_FREEDRIVERS, 0, 0)) {
        // No message loop to come back from: the guard's end is the best we have.
        FreeReleasedDrivers();
    }
}

}  // namespace

TkvDriverBusy::~TkvDriverBusy()
{
    if (--driver_->busy_ == 0 && driver_->freePending_)
        ScheduleFree(driver_);
}

void FreeReleasedDrivers()
{
    auto& list = ReleasedDrivers();
    // Destroying one driver may release another (its player calls out while
    // it shuts down); take them one at a time.
    for (size_t i = 0; i < list.size();) {
        TkvFlashDriver* d = list[i];
        if (d->busy_ > 0) {
            ++i;
            continue;
        }
        list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
        d->freePending_ = false;  // its destructor guards it too: that must not schedule it again
        Free(d);
        i = 0;
    }
}

void DestroyReleaseWindow()
{
    FreeReleasedDrivers();
    if (g_releaseWindow) {
        DestroyWindow(g_releaseWindow);
        g_releaseWindow = nullptr;
    }
}

void FreeFlashDriver(TkvFlashDriver*& Driver, bool OwnerGoing)
{
    TkvFlashDriver* d = Driver;
    Driver = nullptr;
    if (!d)
        return;
    if (d->busy_ > 0) {
        // Inside a call from the player: cut it off from its host now, free it
        // once the call has returned.
        d->freePending_ = true;
        d->ownerGone_ = d->ownerGone_ || OwnerGoing;
        d->Control = nullptr;
        d->OnPaint.Clear();
        d->OnEraseBackground.Clear();
        d->OnFSCommand.Clear();
        d->OnFlashCall.Clear();
        return;
    }
    Free(d);
}
