// Premultiplied source-over of the player's frame onto a 32-bit target, the
// one formula every pixel the plug-in puts on a device context goes through,
// so a caller can predict each pixel exactly. Platform-free.
#pragma once

#include <cstdint>

namespace refplugin {

// round(v / 255) for v in [0, 255 * 255], exactly.
constexpr uint32_t div255(uint32_t v)
{
    v += 128;
    return (v + (v >> 8)) >> 8;
}

// Each channel (alpha too): out = src + round(dst * (255 - srcAlpha) / 255).
// Pixels are 0xAARRGGBB words, premultiplied.
constexpr uint32_t sourceOver(uint32_t src, uint32_t dst)
{
    uint32_t inv = 255 - (src >> 24);
    if (inv == 255)
        return dst;
    if (inv == 0)
        return src;
    uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        uint32_t s = (src >> shift) & 0xFF;
        uint32_t d = (dst >> shift) & 0xFF;
        uint32_t c = s + div255(d * inv);
        out |= (c > 255 ? 255 : c) << shift;  // only a non-premultiplied source can overflow
    }
    return out;
}

void sourceOverRow(uint32_t* dst, const uint32_t* src, int count);

}  // namespace refplugin
