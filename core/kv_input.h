// Input as the player reads it: the shift state as a Windows key-state word,
// and a point packed into a message parameter. Both back-ends send the player
// window messages built from these.
#pragma once

#include <windows.h>

#include <cstdint>

#include "framework/types.h"

namespace kv {

// Ctrl, Shift and the left and right buttons as MK_* flags. The control also
// reads Alt (0x20); the plug-in gets no flag for it. The middle button and
// double-click never contribute.
inline std::uint32_t KeyStateFlags(TShiftState Shift, bool WithAlt)
{
    std::uint32_t f = 0;
    if (Shift.Contains(ssCtrl))
        f |= MK_CONTROL;
    if (Shift.Contains(ssShift))
        f |= MK_SHIFT;
    if (WithAlt && Shift.Contains(ssAlt))
        f |= 0x0020;
    if (Shift.Contains(ssLeft))
        f |= MK_LBUTTON;
    if (Shift.Contains(ssRight))
        f |= MK_RBUTTON;
    return f;
}

// MAKELONG(Low, High) of two values cut to 16 bits each: coordinates left of
// or above the origin keep their two's-complement low word, as in a mouse
// message.
inline std::uint32_t PackWords(int Low, int High)
{
    return static_cast<std::uint32_t>(static_cast<std::uint16_t>(Low)) |
           (static_cast<std::uint32_t>(static_cast<std::uint16_t>(High)) << 16);
}

// A typed UTF-16 unit as the bytes an 8-bit window receives for it, in the
// system code page: one byte, or two for a lead-byte character. A unit the
// code page cannot encode gives its replacement byte; a lone surrogate gives
// none. Answers the number of bytes written.
inline int AnsiBytesOf(wchar_t Unit, char (&Bytes)[8])
{
    const int n = WideCharToMultiByte(CP_ACP, 0, &Unit, 1, Bytes, sizeof Bytes, nullptr, nullptr);
    return n > 0 ? n : 0;
}

}  // namespace kv
