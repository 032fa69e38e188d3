#include "framework/graphics.h"

#include <cstring>

// ---------------------------------------------------------------------------
// Colours
// ---------------------------------------------------------------------------
COLORREF ColorToRGB(TColor color) {
  if (color < 0) return GetSysColor(color & 0xFF);
  return static_cast<COLORREF>(color) & 0x00FFFFFF;
}

namespace {
struct ColorName {
  TColor value;
  const wchar_t* name;
};
const ColorName kColorNames[] = {
    {clBlack, L"clBlack"},
    {clMaroon, L"clMaroon"},
    {clGreen, L"clGreen"},
    {clOlive, L"clOlive"},
    {clNavy, L"clNavy"},
    {clPurple, L"clPurple"},
    {clTeal, L"clTeal"},
    {clGray, L"clGray"},
    {clSilver, L"clSilver"},
    {clRed, L"clRed"},
    {clLime, L"clLime"},
    {clYellow, L"clYellow"},
    {clBlue, L"clBlue"},
    {clFuchsia, L"clFuchsia"},
    {clAqua, L"clAqua"},
    {clWhite, L"clWhite"},
    {clScrollBar, L"clScrollBar"},
    {clBackground, L"clBackground"},
    {clActiveCaption, L"clActiveCaption"},
    {clInactiveCaption, L"clInactiveCaption"},
    {clMenu, L"clMenu"},
    {clWindow, L"clWindow"},
    {clWindowFrame, L"clWindowFrame"},
    {clMenuText, L"clMenuText"},
    {clWindowText, L"clWindowText"},
    {clCaptionText, L"clCaptionText"},
    {clActiveBorder, L"clActiveBorder"},
    {clInactiveBorder, L"clInactiveBorder"},
    {clAppWorkSpace, L"clAppWorkSpace"},
    {clHighlight, L"clHighlight"},
    {clHighlightText, L"clHighlightText"},
    {clBtnFace, L"clBtnFace"},
    {clBtnShadow, L"clBtnShadow"},
    {clGrayText, L"clGrayText"},
    {clBtnText, L"clBtnText"},
    {clInactiveCaptionText, L"clInactiveCaptionText"},
    {clBtnHighlight, L"clBtnHighlight"},
    {cl3DDkShadow, L"cl3DDkShadow"},
    {cl3DLight, L"cl3DLight"},
    {clInfoText, L"clInfoText"},
    {clInfoBk, L"clInfoBk"},
    {clNone, L"clNone"},
    {clDefault, L"clDefault"},
};
}  // namespace

WideString ColorToString(TColor color) {
  for (const auto& c : kColorNames)
    if (c.value == color) return c.name;
  return L"$" + IntToHex(static_cast<std::uint32_t>(color), 8);
}

TColor StringToColor(std::wstring_view text) {
  for (const auto& c : kColorNames)
    if (SameText(c.name, text)) return c.value;
  return static_cast<TColor>(StrToInt(text));
}

// ---------------------------------------------------------------------------
// TDibSection
// ---------------------------------------------------------------------------
TDibSection::TDibSection(int width, int height) : width_(width), height_(height) {
  if (width <= 0 || height <= 0) throw EInvalidArgument(L"A bitmap needs a positive size");
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = -height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  bitmap_.Reset(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bitmap_ || !dc_) throw EOutOfResources(L"Cannot create a " + IntToStr(width) + L"x" + IntToStr(height) + L" bitmap");
  bits_ = static_cast<std::uint32_t*>(bits);
  oldBitmap_ = SelectObject(dc_.Get(), bitmap_.Get());
}

TDibSection::~TDibSection() {
  // Deselect before the DC and then the bitmap go (members are released in reverse order).
  if (oldBitmap_) SelectObject(dc_.Get(), oldBitmap_);
}

void TDibSection::Fill(std::uint32_t value) {
  GdiFlush();
  std::size_t n = static_cast<std::size_t>(width_) * height_;
  for (std::size_t i = 0; i < n; ++i) bits_[i] = value;
}

// ---------------------------------------------------------------------------
// Drawing objects
// ---------------------------------------------------------------------------
const TClassInfo& TGraphicsObject::StaticClass() {
  static const TClassInfo info = TClassBuilder<TGraphicsObject>(L"TGraphicsObject");
  return info;
}

void TGraphicsObject::Changed() {
  if (canvasHook_) canvasHook_();
  FreeHandle();
  OnChange(this);
}

const TEnumInfo& PenStyleInfo() {
  static const TEnumInfo info{
      L"TPenStyle", {L"psSolid", L"psDash", L"psDot", L"psDashDot", L"psDashDotDot", L"psClear", L"psInsideFrame"}, 0};
  return info;
}

const TClassInfo& TPen::StaticClass() {
  static const TClassInfo info = TClassBuilder<TPen>(L"TPen")
                                     .Color(L"Color", &TPen::Color, &TPen::SetColor)
                                     .Default(clBlack)
                                     .Enum(L"Style", PenStyleInfo(), &TPen::Style, &TPen::SetStyle)
                                     .Default(psSolid)
                                     .Integer(L"Width", &TPen::Width, &TPen::SetWidth)
                                     .Default(1);
  return info;
}

TPen::~TPen() { canvasHook_ = nullptr; }

void TPen::SetColor(TColor v) {
  if (v == color_) return;
  color_ = v;
  Changed();
}

void TPen::SetWidth(int v) {
  if (v < 0) v = 0;
  if (v == width_) return;
  width_ = v;
  Changed();
}

void TPen::SetStyle(TPenStyle v) {
  if (v == style_) return;
  style_ = v;
  Changed();
}

HPEN TPen::Handle() {
  if (!handle_) {
    static const int styles[] = {PS_SOLID, PS_DASH, PS_DOT, PS_DASHDOT, PS_DASHDOTDOT, PS_NULL, PS_INSIDEFRAME};
    handle_.Reset(CreatePen(styles[style_], width_, ColorToRGB(color_)));
    if (!handle_) throw EOutOfResources(L"Cannot create a pen");
  }
  return handle_.Get();
}

void TPen::Assign(TPersistent* Source) {
  if (auto* p = dynamic_cast<TPen*>(Source)) {
    color_ = p->color_;
    width_ = p->width_;
    style_ = p->style_;
    Changed();
    return;
  }
  TPersistent::Assign(Source);
}

const TEnumInfo& BrushStyleInfo() {
  static const TEnumInfo info{L"TBrushStyle",
                              {L"bsSolid", L"bsClear", L"bsHorizontal", L"bsVertical", L"bsFDiagonal", L"bsBDiagonal",
                               L"bsCross", L"bsDiagCross"},
                              0};
  return info;
}

const TClassInfo& TBrush::StaticClass() {
  static const TClassInfo info = TClassBuilder<TBrush>(L"TBrush")
                                     .Color(L"Color", &TBrush::Color, &TBrush::SetColor)
                                     .Default(clWhite)
                                     .Enum(L"Style", BrushStyleInfo(), &TBrush::Style, &TBrush::SetStyle)
                                     .Default(bsSolid);
  return info;
}

TBrush::~TBrush() { canvasHook_ = nullptr; }

void TBrush::SetColor(TColor v) {
  if (v == color_ && style_ != bsClear) return;
  color_ = v;
  if (style_ == bsClear) style_ = bsSolid;
  Changed();
}

void TBrush::SetStyle(TBrushStyle v) {
  if (v == style_) return;
  style_ = v;
  Changed();
}

HBRUSH TBrush::Handle() {
  if (style_ == bsClear) return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
  if (!handle_) {
    if (style_ == bsSolid) {
      handle_.Reset(CreateSolidBrush(ColorToRGB(color_)));
    } else {
      static const int hatches[] = {0, 0, HS_HORIZONTAL, HS_VERTICAL, HS_FDIAGONAL, HS_BDIAGONAL, HS_CROSS, HS_DIAGCROSS};
      handle_.Reset(CreateHatchBrush(hatches[style_], ColorToRGB(color_)));
    }
    if (!handle_) throw EOutOfResources(L"Cannot create a brush");
  }
  return handle_.Get();
}

void TBrush::Assign(TPersistent* Source) {
  if (auto* b = dynamic_cast<TBrush*>(Source)) {
    color_ = b->color_;
    style_ = b->style_;
    Changed();
    return;
  }
  TPersistent::Assign(Source);
}

const TEnumInfo& FontStyleInfo() {
  static const TEnumInfo info{L"TFontStyle", {L"fsBold", L"fsItalic", L"fsUnderline", L"fsStrikeOut"}, 0};
  return info;
}

const TClassInfo& TFont::StaticClass() {
  static const TClassInfo info = TClassBuilder<TFont>(L"TFont")
                                     .Color(L"Color", &TFont::Color, &TFont::SetColor)
                                     .Default(clWindowText)
                                     .Integer(L"Height", &TFont::Height, &TFont::SetHeight)
                                     .Default(-11)
                                     .WideStr(L"Name", &TFont::Name, &TFont::SetName)
                                     .Default(L"Tahoma")
                                     .Set(L"Style", FontStyleInfo(), &TFont::Style, &TFont::SetStyle)
                                     .Default(TFontStyles{});
  return info;
}

TFont::~TFont() { canvasHook_ = nullptr; }

void TFont::SetName(const WideString& v) {
  if (v == name_) return;
  name_ = v;
  Changed();
}

void TFont::SetHeight(int v) {
  if (v == height_) return;
  height_ = v;
  Changed();
}

void TFont::SetColor(TColor v) {
  if (v == color_) return;
  color_ = v;
  OnChange(this);
}

void TFont::SetStyle(TFontStyles v) {
  if (v == style_) return;
  style_ = v;
  Changed();
}

HFONT TFont::Handle() {
  if (!handle_) {
    LOGFONTW lf{};
    lf.lfHeight = height_;
    lf.lfWeight = style_.Contains(fsBold) ? FW_BOLD : FW_NORMAL;
    lf.lfItalic = style_.Contains(fsItalic);
    lf.lfUnderline = style_.Contains(fsUnderline);
    lf.lfStrikeOut = style_.Contains(fsStrikeOut);
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfQuality = DEFAULT_QUALITY;
    wcsncpy(lf.lfFaceName, name_.c_str(), LF_FACESIZE - 1);
    handle_.Reset(CreateFontIndirectW(&lf));
    if (!handle_) throw EOutOfResources(L"Cannot create a font");
  }
  return handle_.Get();
}

void TFont::Assign(TPersistent* Source) {
  if (auto* f = dynamic_cast<TFont*>(Source)) {
    name_ = f->name_;
    height_ = f->height_;
    color_ = f->color_;
    style_ = f->style_;
    Changed();
    return;
  }
  TPersistent::Assign(Source);
}

// ---------------------------------------------------------------------------
// TCanvas
// ---------------------------------------------------------------------------
const TClassInfo& TCanvas::StaticClass() {
  static const TClassInfo info = TClassBuilder<TCanvas>(L"TCanvas");
  return info;
}

TCanvas::TCanvas() {
  pen_.canvasHook_ = [this] { ObjectChanged(0); };
  brush_.canvasHook_ = [this] { ObjectChanged(1); };
  font_.canvasHook_ = [this] { ObjectChanged(2); };
}

TCanvas::~TCanvas() {
  // The hooks point at this canvas; the objects outlive nothing of it, but
  // their destructors must not call back into a half-destroyed canvas.
  pen_.canvasHook_ = nullptr;
  brush_.canvasHook_ = nullptr;
  font_.canvasHook_ = nullptr;
  TCanvas::FreeHandle();
}

HDC TCanvas::Handle() {
  if (!dc_) CreateHandle();
  if (!dc_) throw EInvalidOperation(L"Canvas does not allow drawing");
  return dc_;
}

void TCanvas::SetHandle(HDC dc) {
  if (dc == dc_) return;
  DeselectHandles();
  dc_ = dc;
}

void TCanvas::CreateHandle() {}

void TCanvas::FreeHandle() {
  DeselectHandles();
  dc_ = nullptr;
}

void TCanvas::DeselectHandles() {
  if (dc_) {
    if (oldPen_) SelectObject(dc_, oldPen_);
    if (oldBrush_) SelectObject(dc_, oldBrush_);
    if (oldFont_) SelectObject(dc_, oldFont_);
  }
  oldPen_ = oldBrush_ = oldFont_ = nullptr;
  selPen_ = nullptr;
  selBrush_ = nullptr;
  selFont_ = nullptr;
}

void TCanvas::ObjectChanged(int which) {
  // The object is about to delete its handle: put the DC's original back first.
  if (!dc_) return;
  if (which == 0 && oldPen_) {
    SelectObject(dc_, oldPen_);
    oldPen_ = nullptr;
    selPen_ = nullptr;
  } else if (which == 1 && oldBrush_) {
    SelectObject(dc_, oldBrush_);
    oldBrush_ = nullptr;
    selBrush_ = nullptr;
  } else if (which == 2 && oldFont_) {
    SelectObject(dc_, oldFont_);
    oldFont_ = nullptr;
    selFont_ = nullptr;
  }
}

void TCanvas::RequirePen() {
  HDC dc = Handle();
  HPEN h = pen_.Handle();
  if (selPen_ == h) return;
  HGDIOBJ old = SelectObject(dc, h);
  if (!oldPen_) oldPen_ = old;
  selPen_ = h;
}

void TCanvas::RequireBrush() {
  HDC dc = Handle();
  HBRUSH h = brush_.Handle();
  if (selBrush_ == h) return;
  HGDIOBJ old = SelectObject(dc, h);
  if (!oldBrush_) oldBrush_ = old;
  selBrush_ = h;
}

void TCanvas::RequireFont() {
  HDC dc = Handle();
  HFONT h = font_.Handle();
  if (selFont_ == h) return;
  HGDIOBJ old = SelectObject(dc, h);
  if (!oldFont_) oldFont_ = old;
  selFont_ = h;
}

TPoint TCanvas::PenPos() {
  POINT p{};
  GetCurrentPositionEx(Handle(), &p);
  return TPoint(p);
}

void TCanvas::Rectangle(int X1, int Y1, int X2, int Y2) {
  RequirePen();
  RequireBrush();
  ::Rectangle(dc_, X1, Y1, X2, Y2);
}

void TCanvas::Ellipse(int X1, int Y1, int X2, int Y2) {
  RequirePen();
  RequireBrush();
  ::Ellipse(dc_, X1, Y1, X2, Y2);
}

void TCanvas::FillRect(const TRect& R) {
  HDC dc = Handle();
  if (brush_.Style() == bsClear) return;
  ::FillRect(dc, &R, brush_.Handle());
}

void TCanvas::FrameRect(const TRect& R) {
  HDC dc = Handle();
  if (brush_.Style() == bsClear) return;
  ::FrameRect(dc, &R, brush_.Handle());
}

void TCanvas::MoveTo(int X, int Y) { MoveToEx(Handle(), X, Y, nullptr); }

void TCanvas::LineTo(int X, int Y) {
  RequirePen();
  ::LineTo(dc_, X, Y);
}

void TCanvas::TextOut(int X, int Y, const WideString& Text) {
  RequireFont();
  COLORREF oldColor = SetTextColor(dc_, ColorToRGB(font_.Color()));
  int oldMode;
  COLORREF oldBk = GetBkColor(dc_);
  if (brush_.Style() == bsClear) {
    oldMode = SetBkMode(dc_, TRANSPARENT);
  } else {
    oldMode = SetBkMode(dc_, OPAQUE);
    SetBkColor(dc_, ColorToRGB(brush_.Color()));
  }
  ExtTextOutW(dc_, X, Y, 0, nullptr, Text.c_str(), static_cast<UINT>(Text.size()), nullptr);
  SetBkColor(dc_, oldBk);
  SetBkMode(dc_, oldMode);
  SetTextColor(dc_, oldColor);
}

TSize TCanvas::TextExtent(const WideString& Text) {
  RequireFont();
  SIZE s{};
  GetTextExtentPoint32W(dc_, Text.c_str(), static_cast<int>(Text.size()), &s);
  return TSize(s.cx, s.cy);
}

void TCanvas::CopyRect(const TRect& Dest, TCanvas* Source, const TRect& SourceRect) {
  if (!Source) throw EInvalidArgument(L"CopyRect needs a source canvas");
  StretchBlt(Handle(), Dest.left, Dest.top, Dest.Width(), Dest.Height(), Source->Handle(), SourceRect.left,
             SourceRect.top, SourceRect.Width(), SourceRect.Height(), copyMode_);
}

void TCanvas::Draw(int X, int Y, HDC Source, int SX, int SY, int W, int H) {
  BitBlt(Handle(), X, Y, W, H, Source, SX, SY, copyMode_);
}

TColor TCanvas::Pixel(int X, int Y) { return static_cast<TColor>(GetPixel(Handle(), X, Y)); }

void TCanvas::SetPixel(int X, int Y, TColor Color) { ::SetPixel(Handle(), X, Y, ColorToRGB(Color)); }

TRect TCanvas::ClipRect() {
  RECT r{};
  GetClipBox(Handle(), &r);
  return TRect(r);
}
