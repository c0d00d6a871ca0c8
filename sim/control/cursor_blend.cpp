// SPDX-License-Identifier: MIT
#include "cursor_blend.h"

#include <algorithm>
#include <cstring>

namespace qelsim {
namespace {

// dst * (255 - alpha) / 255 rounded to the nearest, as pixman computes it.
uint32_t scaled(uint32_t dst, uint32_t alpha)
{
    const uint32_t t = dst * (255 - alpha) + 0x80;
    return (t + (t >> 8)) >> 8;
}

void blendPixel(uint8_t *rgb, uint32_t argb)
{
    const uint32_t alpha = argb >> 24;
    for (int channel = 0; channel < 3; ++channel) {
        const uint32_t src = (argb >> (16 - 8 * channel)) & 0xff;
        rgb[channel] =
            static_cast<uint8_t>(std::min<uint32_t>(255, src + scaled(rgb[channel], alpha)));
    }
}

} // namespace

void blendCursor(Image &image, const CursorPlane &plane)
{
    if (!plane.buffer || image.alpha)
        return;
    const int64_t left = std::max<int64_t>(0, plane.x);
    const int64_t top = std::max<int64_t>(0, plane.y);
    const int64_t right = std::min<int64_t>(image.width, int64_t{plane.x} + plane.width);
    const int64_t bottom = std::min<int64_t>(image.height, int64_t{plane.y} + plane.height);
    const size_t pitch = size_t{plane.width} * 4;
    for (int64_t y = top; y < bottom; ++y) {
        const uint8_t *row = plane.buffer->pixels + static_cast<size_t>(y - plane.y) * pitch;
        uint8_t *out = image.bytes.data() + (static_cast<size_t>(y) * image.width) * 3;
        for (int64_t x = left; x < right; ++x) {
            uint32_t argb;
            std::memcpy(&argb, row + static_cast<size_t>(x - plane.x) * 4, 4);
            blendPixel(out + static_cast<size_t>(x) * 3, argb);
        }
    }
}

} // namespace qelsim
