// Geometry and input types of the Windows side: TRect and TPoint (laid out
// as RECT and POINT, so they pass straight to Win32), shift states, mouse
// buttons, cursors.
#pragma once

#include <windows.h>

#include <cstdint>

#include "framework/typinfo.h"

struct TPoint : POINT {
  constexpr TPoint() : POINT{0, 0} {}
  constexpr TPoint(LONG ax, LONG ay) : POINT{ax, ay} {}
  constexpr TPoint(const POINT& p) : POINT(p) {}
  constexpr bool operator==(const TPoint& o) const { return x == o.x && y == o.y; }
};

struct TSize : SIZE {
  constexpr TSize() : SIZE{0, 0} {}
  constexpr TSize(LONG w, LONG h) : SIZE{w, h} {}
  constexpr bool operator==(const TSize& o) const { return cx == o.cx && cy == o.cy; }
};

struct TRect : RECT {
  constexpr TRect() : RECT{0, 0, 0, 0} {}
  constexpr TRect(LONG l, LONG t, LONG r, LONG b) : RECT{l, t, r, b} {}
  constexpr TRect(const RECT& r) : RECT(r) {}
  constexpr LONG Width() const { return right - left; }
  constexpr LONG Height() const { return bottom - top; }
  constexpr TPoint TopLeft() const { return TPoint(left, top); }
  constexpr TPoint BottomRight() const { return TPoint(right, bottom); }
  constexpr bool IsEmpty() const { return right <= left || bottom <= top; }
  // Half-open: the right and bottom edges are outside.
  constexpr bool Contains(const POINT& p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
  constexpr void Offset(LONG dx, LONG dy) {
    left += dx;
    right += dx;
    top += dy;
    bottom += dy;
  }
  constexpr bool operator==(const TRect& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
};
static_assert(sizeof(TRect) == sizeof(RECT) && sizeof(TPoint) == sizeof(POINT));

constexpr TRect Rect(LONG left, LONG top, LONG right, LONG bottom) { return TRect(left, top, right, bottom); }
constexpr TRect Bounds(LONG left, LONG top, LONG width, LONG height) {
  return TRect(left, top, left + width, top + height);
}
constexpr TPoint Point(LONG x, LONG y) { return TPoint(x, y); }
// The common part of a and b; false (and an empty dest) when they do not meet.
bool IntersectRect(TRect& dest, const TRect& a, const TRect& b);

enum TMouseButton { mbLeft, mbRight, mbMiddle };

enum TShiftStateItem { ssShift, ssAlt, ssCtrl, ssLeft, ssRight, ssMiddle, ssDouble };
using TShiftState = TSet<TShiftStateItem>;
const TEnumInfo& ShiftStateItemInfo();

// From the MK_* flags of a mouse message's wParam.
TShiftState KeysToShiftState(WPARAM keys);
// From a key message's lParam (bit 29: Alt) and the current Shift/Ctrl state.
TShiftState KeyDataToShiftState(LPARAM keyData);
// From the current keyboard and mouse button state.
TShiftState GetShiftState();

using TCursor = std::int16_t;
constexpr TCursor crDefault = 0;
constexpr TCursor crNone = -1;
constexpr TCursor crArrow = -2;
constexpr TCursor crCross = -3;
constexpr TCursor crIBeam = -4;
constexpr TCursor crSizeNESW = -6;
constexpr TCursor crSizeNS = -7;
constexpr TCursor crSizeNWSE = -8;
constexpr TCursor crSizeWE = -9;
constexpr TCursor crUpArrow = -10;
constexpr TCursor crHourGlass = -11;
constexpr TCursor crDrag = -12;
constexpr TCursor crNoDrop = -13;
constexpr TCursor crHSplit = -14;
constexpr TCursor crVSplit = -15;
constexpr TCursor crNo = -18;
constexpr TCursor crAppStart = -19;
constexpr TCursor crHelp = -20;
constexpr TCursor crHandPoint = -21;
constexpr TCursor crSizeAll = -22;
// The system cursor for a TCursor value (nullptr for crNone).
HCURSOR CursorHandle(TCursor cursor);
