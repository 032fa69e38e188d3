// The driver base's paint, as both back-ends use it, with a draw step that
// stands in for a player: it writes known pixels into whichever buffer it is
// given and may ask for a repaint, or release the driver, from inside.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "core_test_support.h"
#include "kv_boundary.h"

namespace {

TkvFlashDriver* NewDriver(int w, int h, std::uint32_t bg)
{
    return TFakeAppDriver::ClassRef().Create(w, h, bg);
}

// A player drawing half-transparent red: premultiplied over black it leaves
// 0xFF800000, over white 0xFFFF7F7F.
struct FakePlayer {
    TkvFlashDriver* d;
    std::vector<RECT> drawn;
    std::vector<bool> overWhite;
    std::function<void()> inside;  // runs inside each drawing
    bool there = true;

    void Draw(HDC dc, const RECT& clip)
    {
        drawn.push_back(clip);
        const bool white = dc == d->WhiteDC;
        overWhite.push_back(white);
        auto* px = static_cast<std::uint32_t*>(white ? d->WhiteBits : d->Bits);
        for (int y = clip.top; y < clip.bottom; ++y)
            for (int x = clip.left; x < clip.right; ++x)
                px[y * d->Width + x] = white ? 0xFFFF7F7Fu : 0xFF800000u;
        if (inside)
            inside();
    }
    void Paint(const RECT& r)
    {
        d->PaintRect(r, [this] { return there; }, [this](HDC dc, const RECT& clip) { Draw(dc, clip); });
    }
};

bool Same(const RECT& a, const RECT& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::uint32_t At(TkvFlashDriver* d, int x, int y)
{
    return static_cast<std::uint32_t*>(d->Bits)[y * d->Width + x];
}

TEST(DriverPaint, TransparentPaintDrawsOverBlackAndWhiteInsideTheBufferAndReportsOnce)
{
    TkvFlashDriver* d = NewDriver(20, 10, 0x00000000u);
    ASSERT_NE(d->WhiteBits, nullptr);
    FakePlayer player{d};
    std::vector<TRect> reports;
    d->OnPaint = TkvPaintEvent([&](TObject*, const TRect& r) { reports.push_back(r); });

    // Reaching past every edge: cut to the buffer on all four sides.
    player.Paint(RECT{-5, -3, 8, 40});
    ASSERT_EQ(player.drawn.size(), 2u);
    EXPECT_TRUE(Same(player.drawn[0], RECT{0, 0, 8, 10}));
    EXPECT_FALSE(player.overWhite[0]);
    EXPECT_TRUE(player.overWhite[1]);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], TRect(0, 0, 8, 10));
    EXPECT_EQ(At(d, 3, 3), 0x80800000u) << "alpha recovered from the two drawings";
    EXPECT_EQ(At(d, 12, 3), 0u) << "outside the rectangle nothing changed";

    // An empty rectangle draws nothing and is still reported.
    player.drawn.clear();
    player.Paint(RECT{30, 0, 40, 10});
    EXPECT_TRUE(player.drawn.empty());
    EXPECT_EQ(reports.size(), 2u);
    TkvFlashDriver* p = d;
    FreeFlashDriver(p);
}

TEST(DriverPaint, ARepaintAskedForDuringAPaintIsDrawnInAnotherPassBeforeTheOneReport)
{
    TkvFlashDriver* d = NewDriver(20, 10, 0x00000000u);
    FakePlayer player{d};
    std::vector<TRect> reports;
    d->OnPaint = TkvPaintEvent([&](TObject*, const TRect& r) { reports.push_back(r); });

    // Once, from inside the first drawing: no drawing happens inside it.
    int asked = 0;
    player.inside = [&] {
        EXPECT_TRUE(d->IsPainting());
        if (asked++ == 0) {
            const size_t before = player.drawn.size();
            player.Paint(RECT{12, 2, 16, 6});
            EXPECT_EQ(player.drawn.size(), before) << "a paint inside the paint";
        }
    };
    player.Paint(RECT{0, 0, 4, 4});
    ASSERT_EQ(player.drawn.size(), 4u);
    EXPECT_TRUE(Same(player.drawn[0], RECT{0, 0, 4, 4}));
    EXPECT_TRUE(Same(player.drawn[1], RECT{0, 0, 4, 4}));
    EXPECT_TRUE(Same(player.drawn[2], RECT{12, 2, 16, 6}));
    EXPECT_TRUE(Same(player.drawn[3], RECT{12, 2, 16, 6}));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], TRect(0, 0, 16, 6)) << "the union of both passes";
    EXPECT_EQ(At(d, 14, 4), 0x80800000u);
    EXPECT_FALSE(d->IsPainting());

    // From inside every drawing: a bounded number of passes, and what was
    // asked last is drawn by the next paint.
    player.drawn.clear();
    reports.clear();
    player.inside = [&] { player.Paint(RECT{18, 8, 20, 10}); };
    player.Paint(RECT{0, 0, 2, 2});
    EXPECT_EQ(player.drawn.size(), 8u) << "four passes over black and white";
    EXPECT_EQ(reports.size(), 1u);
    player.inside = nullptr;
    player.drawn.clear();
    player.Paint(RECT{0, 0, 2, 2});
    ASSERT_EQ(player.drawn.size(), 2u);
    EXPECT_TRUE(Same(player.drawn[0], RECT{0, 0, 20, 10})) << "the leftover request joins the next paint";

    // A repaint asked for by the report's handler is a paint of its own.
    int reported = 0;
    d->OnPaint = TkvPaintEvent([&](TObject*, const TRect&) {
        if (reported++ == 0)
            player.Paint(RECT{5, 5, 6, 6});
    });
    player.Paint(RECT{0, 0, 1, 1});
    EXPECT_EQ(reported, 2);
    TkvFlashDriver* p = d;
    FreeFlashDriver(p);
}

TEST(DriverPaint, OpaquePaintErasesThenDrawsAndShowsTheUpdateFrameBeforeItReports)
{
    TkvFlashDriver* d = NewDriver(20, 10, 0xFF000000u);
    ASSERT_EQ(d->WhiteBits, nullptr);
    FakePlayer player{d};
    std::vector<std::string> order;
    d->OnEraseBackground = TkvEraseBackgroundEvent([&](TObject*, const TRect&) { order.push_back("erase"); });
    player.inside = [&] { order.push_back("draw"); };
    d->ShowUpdateRects = true;
    std::uint32_t corner = 0;
    d->OnPaint = TkvPaintEvent([&](TObject*, const TRect&) {
        order.push_back("report");
        GdiFlush();
        corner = At(d, 2, 2) & 0xFFFFFFu;
    });
    player.Paint(RECT{2, 2, 8, 8});
    EXPECT_EQ(order, (std::vector<std::string>{"erase", "draw", "report"}));
    EXPECT_EQ(corner, 0xFF0000u) << "the handler sees the red frame";

    // No player to draw with: the buffer keeps what it has, the report comes.
    order.clear();
    player.there = false;
    player.Paint(RECT{2, 2, 8, 8});
    EXPECT_EQ(order, (std::vector<std::string>{"report"}));
    TkvFlashDriver* p = d;
    FreeFlashDriver(p);
}

TEST(DriverPaint, ADriverReleasedDuringThePaintStopsItWithoutAReport)
{
    TkvFlashDriver* d = NewDriver(20, 10, 0x00000000u);
    TkvFlashDriver* holder = d;
    FakePlayer player{d};
    int reports = 0;
    d->OnPaint = TkvPaintEvent([&](TObject*, const TRect&) { ++reports; });
    const int destroyed = TFakeAppDriver::Destroyed;
    player.inside = [&] { FreeFlashDriver(holder); };
    player.Paint(RECT{0, 0, 4, 4});
    EXPECT_EQ(player.drawn.size(), 1u) << "no drawing over white after the release";
    EXPECT_EQ(reports, 0);
    EXPECT_EQ(TFakeAppDriver::Destroyed, destroyed) << "freed once the paint has returned, not inside it";
    FreeReleasedDrivers();
    EXPECT_EQ(TFakeAppDriver::Destroyed, destroyed + 1);
}

// The edges' guards answer each entry's documented value for what its body
// raised.
TEST(Boundary, GuardsAnswerTheEntrysFailureValue)
{
    EXPECT_EQ(kv::Entry("test", 7, [] { return 3; }), 3);
    EXPECT_EQ(kv::Entry("test", 7, []() -> int { throw std::runtime_error("x"); }), 7);
    bool ran = false;
    kv::Entry("test", [&] {
        ran = true;
        throw EOleError(L"nothing answers");
    });
    EXPECT_TRUE(ran);
    EXPECT_EQ(kv::ComEntry("test", [] { return S_FALSE; }), S_FALSE);
    EXPECT_EQ(kv::ComEntry("test", []() -> HRESULT { throw EOleSysError(L"refused", E_ACCESSDENIED); }),
              E_ACCESSDENIED);
    EXPECT_EQ(kv::ComEntry("test", []() -> HRESULT { throw std::bad_alloc(); }), E_OUTOFMEMORY);
    EXPECT_EQ(kv::ComEntry("test", []() -> HRESULT { throw Exception(L"other"); }), E_FAIL);
    EXPECT_EQ(kv::ComEntry("test", []() -> HRESULT { throw Exception(L"other"); }, E_NOTIMPL), E_NOTIMPL);
    // An OLE error that carries a success code still answers a failure.
    EXPECT_EQ(kv::ComEntry("test", []() -> HRESULT { throw EOleSysError(L"odd", S_OK); }), E_FAIL);
}

}  // namespace
