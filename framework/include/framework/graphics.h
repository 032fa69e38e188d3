// Colours, GDI handle owners and the drawing objects: TPen, TBrush, TFont and
// TCanvas over a device context.
#pragma once

#include <windows.h>

#include <cstdint>
#include <utility>

#include "framework/classes.h"
#include "framework/types.h"

// ---------------------------------------------------------------------------
// Colours: 0x00BBGGRR, or a system colour (0x80000000 | COLOR_xxx).
// ---------------------------------------------------------------------------
using TColor = std::int32_t;

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;

constexpr TColor clSystemColor = static_cast<TColor>(0x80000000u);
constexpr TColor clScrollBar = clSystemColor | COLOR_SCROLLBAR;
constexpr TColor clBackground = clSystemColor | COLOR_BACKGROUND;
constexpr TColor clActiveCaption = clSystemColor | COLOR_ACTIVECAPTION;
constexpr TColor clInactiveCaption = clSystemColor | COLOR_INACTIVECAPTION;
constexpr TColor clMenu = clSystemColor | COLOR_MENU;
constexpr TColor clWindow = clSystemColor | COLOR_WINDOW;
constexpr TColor clWindowFrame = clSystemColor | COLOR_WINDOWFRAME;
constexpr TColor clMenuText = clSystemColor | COLOR_MENUTEXT;
constexpr TColor clWindowText = clSystemColor | COLOR_WINDOWTEXT;
constexpr TColor clCaptionText = clSystemColor | COLOR_CAPTIONTEXT;
constexpr TColor clActiveBorder = clSystemColor | COLOR_ACTIVEBORDER;
constexpr TColor clInactiveBorder = clSystemColor | COLOR_INACTIVEBORDER;
constexpr TColor clAppWorkSpace = clSystemColor | COLOR_APPWORKSPACE;
constexpr TColor clHighlight = clSystemColor | COLOR_HIGHLIGHT;
constexpr TColor clHighlightText = clSystemColor | COLOR_HIGHLIGHTTEXT;
constexpr TColor clBtnFace = clSystemColor | COLOR_BTNFACE;
constexpr TColor clBtnShadow = clSystemColor | COLOR_BTNSHADOW;
constexpr TColor clGrayText = clSystemColor | COLOR_GRAYTEXT;
constexpr TColor clBtnText = clSystemColor | COLOR_BTNTEXT;
constexpr TColor clInactiveCaptionText = clSystemColor | COLOR_INACTIVECAPTIONTEXT;
constexpr TColor clBtnHighlight = clSystemColor | COLOR_BTNHIGHLIGHT;
constexpr TColor cl3DDkShadow = clSystemColor | COLOR_3DDKSHADOW;
constexpr TColor cl3DLight = clSystemColor | COLOR_3DLIGHT;
constexpr TColor clInfoText = clSystemColor | COLOR_INFOTEXT;
constexpr TColor clInfoBk = clSystemColor | COLOR_INFOBK;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;

// A system colour becomes its current value; others pass unchanged.
COLORREF ColorToRGB(TColor color);
// "clWindow", "clRed"... for the named colours, else "$00BBGGRR".
WideString ColorToString(TColor color);
// Accepts the names above, "$hex" and decimal; EConvertError otherwise.
TColor StringToColor(std::wstring_view text);

// ---------------------------------------------------------------------------
// Owners of GDI handles.
// ---------------------------------------------------------------------------
// Any HGDIOBJ (HBITMAP, HPEN, HBRUSH, HFONT, HRGN): DeleteObject on release.
template <class H>
class TGdiObject {
public:
  TGdiObject() = default;
  explicit TGdiObject(H h) : h_(h) {}
  TGdiObject(TGdiObject&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
  TGdiObject& operator=(TGdiObject&& o) noexcept {
    if (this != &o) Reset(std::exchange(o.h_, nullptr));
    return *this;
  }
  TGdiObject(const TGdiObject&) = delete;
  TGdiObject& operator=(const TGdiObject&) = delete;
  ~TGdiObject() { Reset(); }
  H Get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }
  H Release() { return std::exchange(h_, nullptr); }
  void Reset(H h = nullptr) {
    if (h_) DeleteObject(h_);
    h_ = h;
  }

private:
  H h_ = nullptr;
};
using THBitmap = TGdiObject<HBITMAP>;
using THPen = TGdiObject<HPEN>;
using THBrush = TGdiObject<HBRUSH>;
using THFont = TGdiObject<HFONT>;
using THRgn = TGdiObject<HRGN>;

// A memory DC compatible with `compatible` (the screen for nullptr); DeleteDC on release.
class TMemoryDC {
public:
  explicit TMemoryDC(HDC compatible = nullptr) : dc_(CreateCompatibleDC(compatible)) {}
  TMemoryDC(const TMemoryDC&) = delete;
  TMemoryDC& operator=(const TMemoryDC&) = delete;
  ~TMemoryDC() {
    if (dc_) DeleteDC(dc_);
  }
  HDC Get() const { return dc_; }
  explicit operator bool() const { return dc_ != nullptr; }

private:
  HDC dc_;
};

// GetDC(wnd) / ReleaseDC.
class TWindowDC {
public:
  explicit TWindowDC(HWND wnd) : wnd_(wnd), dc_(GetDC(wnd)) {}
  TWindowDC(const TWindowDC&) = delete;
  TWindowDC& operator=(const TWindowDC&) = delete;
  ~TWindowDC() {
    if (dc_) ReleaseDC(wnd_, dc_);
  }
  HDC Get() const { return dc_; }
  explicit operator bool() const { return dc_ != nullptr; }

private:
  HWND wnd_;
  HDC dc_;
};

// Selects obj into dc; the previous object goes back on release. Declare it
// after the owner of obj so the selection is undone before obj is deleted.
class TSelectObject {
public:
  TSelectObject(HDC dc, HGDIOBJ obj) : dc_(dc), old_(SelectObject(dc, obj)) {}
  TSelectObject(const TSelectObject&) = delete;
  TSelectObject& operator=(const TSelectObject&) = delete;
  ~TSelectObject() {
    if (old_ && old_ != HGDI_ERROR) SelectObject(dc_, old_);
  }

private:
  HDC dc_;
  HGDIOBJ old_;
};

// SaveDC / RestoreDC.
class TSaveDC {
public:
  explicit TSaveDC(HDC dc) : dc_(dc), index_(SaveDC(dc)) {}
  TSaveDC(const TSaveDC&) = delete;
  TSaveDC& operator=(const TSaveDC&) = delete;
  ~TSaveDC() {
    if (index_) RestoreDC(dc_, index_);
  }

private:
  HDC dc_;
  int index_;
};

// A top-down 32-bit DIB section selected into its own memory DC, for
// off-screen drawing and for reading pixels back.
class TDibSection {
public:
  TDibSection(int width, int height);  // EOutOfResources when the system refuses
  TDibSection(const TDibSection&) = delete;
  TDibSection& operator=(const TDibSection&) = delete;
  HDC DC() const { return dc_.Get(); }
  HBITMAP Bitmap() const { return bitmap_.Get(); }
  int Width() const { return width_; }
  int Height() const { return height_; }
  std::uint32_t* Bits() const { return bits_; }
  // 0x00RRGGBB with the alpha byte as stored (GDI leaves it 0 mostly).
  std::uint32_t Pixel(int x, int y) const { return bits_[static_cast<std::size_t>(y) * width_ + x]; }
  void Fill(std::uint32_t value);

private:
  int width_, height_;
  std::uint32_t* bits_ = nullptr;
  THBitmap bitmap_;
  TMemoryDC dc_;
  HGDIOBJ oldBitmap_ = nullptr;

public:
  ~TDibSection();
};

// ---------------------------------------------------------------------------
// Drawing objects
// ---------------------------------------------------------------------------
class TGraphicsObject : public TPersistent {
  KV_CLASS(TGraphicsObject, TPersistent)
public:
  TNotifyEvent OnChange;

protected:
  friend class TCanvas;
  // Tells the canvas using the object to let go of the old handle, then
  // drops the handle so the next Handle() builds the new one.
  void Changed();
  virtual void FreeHandle() = 0;
  std::function<void()> canvasHook_;
};

enum TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };
const TEnumInfo& PenStyleInfo();

class TPen : public TGraphicsObject {
  KV_CLASS(TPen, TGraphicsObject)
public:
  TPen() = default;
  ~TPen() override;
  TColor Color() const { return color_; }
  void SetColor(TColor v);
  int Width() const { return width_; }
  void SetWidth(int v);
  TPenStyle Style() const { return style_; }
  void SetStyle(TPenStyle v);
  HPEN Handle();
  void Assign(TPersistent* Source) override;

protected:
  void FreeHandle() override { handle_.Reset(); }

private:
  TColor color_ = clBlack;
  int width_ = 1;
  TPenStyle style_ = psSolid;
  THPen handle_;
};

enum TBrushStyle { bsSolid, bsClear, bsHorizontal, bsVertical, bsFDiagonal, bsBDiagonal, bsCross, bsDiagCross };
const TEnumInfo& BrushStyleInfo();

class TBrush : public TGraphicsObject {
  KV_CLASS(TBrush, TGraphicsObject)
public:
  TBrush() = default;
  ~TBrush() override;
  TColor Color() const { return color_; }
  void SetColor(TColor v);  // also makes a clear brush solid
  TBrushStyle Style() const { return style_; }
  void SetStyle(TBrushStyle v);
  HBRUSH Handle();  // the stock null brush for bsClear
  void Assign(TPersistent* Source) override;

protected:
  void FreeHandle() override { handle_.Reset(); }

private:
  TColor color_ = clWhite;
  TBrushStyle style_ = bsSolid;
  THBrush handle_;
};

enum TFontStyle { fsBold, fsItalic, fsUnderline, fsStrikeOut };
using TFontStyles = TSet<TFontStyle>;
const TEnumInfo& FontStyleInfo();

class TFont : public TGraphicsObject {
  KV_CLASS(TFont, TGraphicsObject)
public:
  TFont() = default;
  ~TFont() override;
  const WideString& Name() const { return name_; }
  void SetName(const WideString& v);
  // Height in pixels (negative: character height, as LOGFONT).
  int Height() const { return height_; }
  void SetHeight(int v);
  TColor Color() const { return color_; }
  void SetColor(TColor v);  // the text colour; the handle does not change
  TFontStyles Style() const { return style_; }
  void SetStyle(TFontStyles v);
  HFONT Handle();
  void Assign(TPersistent* Source) override;

protected:
  void FreeHandle() override { handle_.Reset(); }

private:
  WideString name_ = L"Tahoma";
  int height_ = -11;
  TColor color_ = clWindowText;
  TFontStyles style_;
  THFont handle_;
};

// Draws on a device context with its Pen, Brush and Font. The handle is
// attached with SetHandle (or created on demand by a descendant); objects
// the canvas selects are deselected again, restoring the DC's originals,
// when the handle is detached or the canvas is destroyed.
class TCanvas : public TPersistent {
  KV_CLASS(TCanvas, TPersistent)
public:
  TCanvas();
  ~TCanvas() override;

  // The attached DC; without one, CreateHandle (EInvalidOperation
  // "Canvas does not allow drawing" in the base).
  HDC Handle();
  // Attaches dc (nullptr detaches). The canvas does not own it.
  void SetHandle(HDC dc);
  bool HandleAllocated() const { return dc_ != nullptr; }

  TPen* Pen() { return &pen_; }
  TBrush* Brush() { return &brush_; }
  TFont* Font() { return &font_; }
  DWORD CopyMode() const { return copyMode_; }
  void SetCopyMode(DWORD rop) { copyMode_ = rop; }
  TPoint PenPos();
  void SetPenPos(TPoint p) { MoveTo(p.x, p.y); }

  // Outline with the pen, inside with the brush (nothing with bsClear).
  void Rectangle(int X1, int Y1, int X2, int Y2);
  void Rectangle(const TRect& R) { Rectangle(R.left, R.top, R.right, R.bottom); }
  void Ellipse(int X1, int Y1, int X2, int Y2);
  // The brush only.
  void FillRect(const TRect& R);
  // A one-pixel frame in the brush's colour.
  void FrameRect(const TRect& R);
  void MoveTo(int X, int Y);
  void LineTo(int X, int Y);
  // Text in the font's colour; the background is the brush's unless it is bsClear.
  void TextOut(int X, int Y, const WideString& Text);
  TSize TextExtent(const WideString& Text);
  int TextWidth(const WideString& Text) { return TextExtent(Text).cx; }
  int TextHeight(const WideString& Text) { return TextExtent(Text).cy; }
  // StretchBlt with CopyMode.
  void CopyRect(const TRect& Dest, TCanvas* Source, const TRect& SourceRect);
  // BitBlt of w x h from a DC at (sx, sy) to (x, y) with CopyMode.
  void Draw(int X, int Y, HDC Source, int SX, int SY, int W, int H);
  TColor Pixel(int X, int Y);
  void SetPixel(int X, int Y, TColor Color);
  TRect ClipRect();

protected:
  virtual void CreateHandle();
  // Lets go of the DC (restoring the originals); descendants release what they acquired.
  virtual void FreeHandle();
  void DeselectHandles();

private:
  void RequirePen();
  void RequireBrush();
  void RequireFont();
  void ObjectChanged(int which);

  HDC dc_ = nullptr;
  HGDIOBJ oldPen_ = nullptr, oldBrush_ = nullptr, oldFont_ = nullptr;
  HPEN selPen_ = nullptr;
  HBRUSH selBrush_ = nullptr;
  HFONT selFont_ = nullptr;
  TPen pen_;
  TBrush brush_;
  TFont font_;
  DWORD copyMode_ = SRCCOPY;
};
