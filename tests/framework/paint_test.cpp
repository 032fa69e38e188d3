// PaintTo into off-screen DCs, and the canvas's handling of GDI objects.
#include <gtest/gtest.h>

#include <memory>

#include "win_test_support.h"

namespace {

constexpr std::uint32_t kSentinel = 0x123456;

std::uint32_t Px(const TDibSection& d, int x, int y) { return d.Pixel(x, y) & 0xFFFFFF; }

struct DCState {
  POINT org;
  HGDIOBJ pen, brush, font, bitmap;
  int clipKind;
  RECT clipBox;
};

DCState StateOf(HDC dc, HRGN scratch) {
  DCState s{};
  GetWindowOrgEx(dc, &s.org);
  s.pen = GetCurrentObject(dc, OBJ_PEN);
  s.brush = GetCurrentObject(dc, OBJ_BRUSH);
  s.font = GetCurrentObject(dc, OBJ_FONT);
  s.bitmap = GetCurrentObject(dc, OBJ_BITMAP);
  s.clipKind = GetClipRgn(dc, scratch);
  GetRgnBox(scratch, &s.clipBox);
  return s;
}

class PaintTest : public ::testing::Test {
protected:
  void SetUp() override { RegisterWinTestClasses(); }
  void TearDown() override { Free(form); }

  // Form (red) with a yellow band painted by OnPaint across rows 20..24, a
  // blue block at (30,20)-(70,50) above it, a green panel at (100,40)-(160,90)
  // holding a white block at panel (10,10)-(30,30), and a hidden block.
  void Build() {
    form = NewForm(200, 150, clRed);
    form->OnPaint = TNotifyEvent([this](TObject*) {
      form->Canvas()->Brush()->SetColor(clYellow);
      form->Canvas()->FillRect(Rect(0, 20, 200, 25));
    });
    auto* block = new TBlock(form);
    block->SetBounds(30, 20, 40, 30);
    block->SetParent(form);
    panel = new TPanelish(form);
    panel->SetBounds(100, 40, 60, 50);
    panel->SetColor(clGreen);
    panel->SetParent(form);
    auto* inner = new TBlock(form);
    inner->FillColor = clWhite;
    inner->SetBounds(10, 10, 20, 20);
    inner->SetParent(panel);
    auto* hidden = new TBlock(form);
    hidden->FillColor = clBlack;
    hidden->SetBounds(0, 60, 200, 10);
    hidden->SetVisible(false);
    hidden->SetParent(form);
  }

  // PaintTo at (-20, -10) into a 120 x 80 bitmap clipped to (10,10)-(110,70):
  // bitmap (x, y) shows form (x + 20, y + 10).
  void CheckPaintTo() {
    TDibSection dib(120, 80);
    dib.Fill(kSentinel);
    THRgn clip(CreateRectRgn(10, 10, 110, 70));
    SelectClipRgn(dib.DC(), clip.Get());
    THRgn scratch(CreateRectRgn(0, 0, 0, 0));
    DCState before = StateOf(dib.DC(), scratch.Get());

    form->PaintTo(dib.DC(), -20, -10);
    GdiFlush();

    EXPECT_EQ(Px(dib, 5, 5), kSentinel);       // outside the clip region
    EXPECT_EQ(Px(dib, 115, 40), kSentinel);
    EXPECT_EQ(Px(dib, 50, 30), Rgb(clRed));    // form (70,40): background
    EXPECT_EQ(Px(dib, 70, 12), Rgb(clYellow)); // form (90,22): OnPaint's band
    EXPECT_EQ(Px(dib, 15, 12), Rgb(clBlue));   // form (35,22): the block covers the band
    EXPECT_EQ(Px(dib, 49, 39), Rgb(clBlue));   // form (69,49): its last pixel
    EXPECT_EQ(Px(dib, 85, 35), Rgb(clGreen));  // form (105,45): the panel
    EXPECT_EQ(Px(dib, 95, 45), Rgb(clWhite));  // form (115,55): the panel's child
    EXPECT_EQ(Px(dib, 30, 55), Rgb(clRed));    // form (50,65): the hidden block is not painted

    DCState after = StateOf(dib.DC(), scratch.Get());
    EXPECT_EQ(after.org.x, before.org.x);
    EXPECT_EQ(after.org.y, before.org.y);
    EXPECT_EQ(after.pen, before.pen);
    EXPECT_EQ(after.brush, before.brush);
    EXPECT_EQ(after.font, before.font);
    EXPECT_EQ(after.bitmap, before.bitmap);
    EXPECT_EQ(after.clipKind, 1);
    EXPECT_TRUE(EqualRect(&after.clipBox, &before.clipBox));
  }

  TForm* form = nullptr;
  TPanelish* panel = nullptr;
};

TEST_F(PaintTest, PaintToDrawsTheTreeAtAnOffsetInsideTheClipRegion) {
  Build();
  // Before any window exists...
  CheckPaintTo();
  EXPECT_FALSE(form->HandleAllocated());
  // ...and with the form and the panel on the screen.
  form->Show();
  Pump();
  ASSERT_TRUE(panel->HandleAllocated());
  CheckPaintTo();
}

TEST_F(PaintTest, PaintToOfAChildPaintsOnlyItsOwnArea) {
  Build();
  form->Show();
  TDibSection dib(80, 80);
  dib.Fill(kSentinel);
  panel->PaintTo(dib.DC(), 5, 5);
  GdiFlush();
  EXPECT_EQ(Px(dib, 4, 4), kSentinel);
  EXPECT_EQ(Px(dib, 5, 5), Rgb(clGreen));
  EXPECT_EQ(Px(dib, 20, 20), Rgb(clWhite));
  EXPECT_EQ(Px(dib, 64, 54), Rgb(clGreen));
  EXPECT_EQ(Px(dib, 65, 54), kSentinel);
  EXPECT_EQ(Px(dib, 64, 55), kSentinel);
}

// Sees through to its parent: inside its own paint it has the parent paint
// what lies under it into a bitmap of its own, which paints this control
// again, nested in the first paint. Then it fills its top half in blue.
class TSeeThrough : public TGraphicControl {
public:
  explicit TSeeThrough(TComponent* AOwner) : TGraphicControl(AOwner) {}
  std::unique_ptr<TDibSection> Under;
  int NestedPaints = 0;
  void Paint() override {
    if (Under && Canvas()->HandleAllocated() && Canvas()->Handle() == Under->DC()) {
      ++NestedPaints;
      return;
    }
    Under = std::make_unique<TDibSection>(Width(), Height());
    Parent()->PaintTo(Under->DC(), -Left(), -Top());
    Canvas()->Brush()->SetColor(clBlue);
    Canvas()->FillRect(Rect(0, 0, Width(), Height() / 2));
  }
};

TEST_F(PaintTest, APaintNestedInTheControlsOwnPaintLeavesTheOuterPaintItsDC) {
  form = NewForm(200, 150, clRed);
  auto* see = new TSeeThrough(form);
  see->SetBounds(30, 20, 40, 30);
  see->SetParent(form);
  form->Show();
  Pump();
  ASSERT_GE(see->NestedPaints, 1) << "the form's own paint went through the nested one";
  auto shot = CaptureClient(form);
  EXPECT_EQ(Px(*shot, 31, 21), Rgb(clBlue));
  EXPECT_EQ(Px(*shot, 31, 45), Rgb(clRed));

  // The screen shows the blue half already: only the copy can tell where
  // the outer paint drew after the nested one.
  TDibSection dib(200, 150);
  dib.Fill(kSentinel);
  const int nested = see->NestedPaints;
  form->PaintTo(dib.DC(), 0, 0);
  GdiFlush();
  EXPECT_EQ(see->NestedPaints, nested + 1);
  EXPECT_EQ(Px(dib, 31, 21), Rgb(clBlue)) << "the fill after the nested paint went elsewhere";
  EXPECT_EQ(Px(dib, 69, 34), Rgb(clBlue));
  EXPECT_EQ(Px(dib, 31, 45), Rgb(clRed));
  EXPECT_EQ(Px(*see->Under, 5, 5), Rgb(clRed)) << "the copy under the control shows the parent";
  EXPECT_FALSE(see->Canvas()->HandleAllocated());
}

TEST(Canvas, ObjectsChangedWhileSelectedAreSwappedAndTheDCIsRestored) {
  TDibSection dib(40, 40);
  dib.Fill(0xFFFFFF);
  HGDIOBJ originalPen = GetCurrentObject(dib.DC(), OBJ_PEN);
  HGDIOBJ originalBrush = GetCurrentObject(dib.DC(), OBJ_BRUSH);
  {
    TCanvas canvas;
    canvas.SetHandle(dib.DC());
    canvas.Pen()->SetColor(clRed);
    canvas.Brush()->SetStyle(bsClear);
    canvas.Rectangle(0, 0, 20, 20);  // a red frame, nothing inside
    canvas.Pen()->SetColor(clBlue);  // recreated while selected
    canvas.MoveTo(0, 30);
    canvas.LineTo(40, 30);
    canvas.Brush()->SetColor(clLime);  // a colour makes the brush solid again
    canvas.FillRect(Rect(30, 0, 40, 10));
    EXPECT_NE(GetCurrentObject(dib.DC(), OBJ_PEN), originalPen);
    canvas.SetHandle(nullptr);
    EXPECT_EQ(GetCurrentObject(dib.DC(), OBJ_PEN), originalPen);
    EXPECT_EQ(GetCurrentObject(dib.DC(), OBJ_BRUSH), originalBrush);
    EXPECT_THROW(canvas.Handle(), EInvalidOperation);
  }
  GdiFlush();
  EXPECT_EQ(dib.Pixel(0, 10) & 0xFFFFFF, Rgb(clRed));
  EXPECT_EQ(dib.Pixel(10, 10) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(dib.Pixel(20, 30) & 0xFFFFFF, Rgb(clBlue));
  EXPECT_EQ(dib.Pixel(35, 5) & 0xFFFFFF, Rgb(clLime));
}

}  // namespace
