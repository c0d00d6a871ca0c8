// SPDX-License-Identifier: MIT
// Writes 8-bit RGB or RGBA images as PNG files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qelsim {

struct Image {
    uint32_t width = 0, height = 0;
    bool alpha = false;
    std::vector<uint8_t> bytes; // rows of RGB or RGBA, no padding
};

// An image of W x H pixels of 32-bit XRGB/ARGB read from PIXELS with PITCH.
Image imageFromPixels(const uint8_t *pixels, uint32_t pitch, uint32_t w, uint32_t h, bool alpha);
Image blackImage(uint32_t w, uint32_t h);

bool writePng(const std::string &path, const Image &image);

} // namespace qelsim
