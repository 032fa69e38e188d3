// Pixel routines of the player core. Platform-free: a pixel is one 32-bit word
// 0xAARRGGBB (bytes blue, green, red, alpha in memory).
#pragma once

#include <cstdint>

// Copies Count 32-bit words from Source to Dest; overlapping ranges behave as a
// memory move. Count of 0 or less copies nothing.
void MoveLongword(const void* Source, void* Dest, int Count);

// Stores Value into Count consecutive 32-bit words. Count of 0 or less stores nothing.
void FillLongword(void* Dest, int Count, uint32_t Value);

// Fills the rectangle [X1, X2) x [Y1, Y2) of a W x H top-down 32-bit buffer with
// Value. The right and bottom edges are clipped to the buffer; so are the left
// and top ones, so a rectangle reaching outside the buffer never writes outside it.
void FillLongwordRect(void* Dest, int W, int H, int X1, int Y1, int X2, int Y2, uint32_t Value);

// A framework colour 0x00BBGGRR (system colours already resolved) as an opaque
// pixel value 0xFFRRGGBB.
constexpr uint32_t ColorToARGB(uint32_t Color)
{
    return 0xFF000000u | ((Color & 0xFFu) << 16) | (Color & 0xFF00u) | ((Color >> 16) & 0xFFu);
}
