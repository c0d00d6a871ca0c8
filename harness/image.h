// SPDX-License-Identifier: MIT
// An RGB picture as the panel or the X server shows it, one 0x00RRGGBB word
// per pixel, and the formats the harness meets: PNG (the simulator's
// captures, artifacts) and XWD (xwd -root).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qeltest {

struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels; // row-major, 0x00RRGGBB

    uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

struct PixelDifference {
    int x = 0, y = 0;
    uint32_t expected = 0, actual = 0;
    size_t count = 0; // pixels that differ in all
    std::string describe() const;
};

// The width x height rectangle of image at (x, y); parts outside the image
// are black, as a display shows what lies past the screen.
Image crop(const Image &image, int x, int y, int width, int height);

// The first differing pixel and how many differ; nullopt when equal. Sizes
// that differ are reported as a difference at (-1, -1).
std::optional<PixelDifference> compareImages(const Image &expected, const Image &actual);

Image readPng(const std::string &path);
void writePng(const Image &image, const std::string &path);

// Decodes xwd's output for a 24/32-bit TrueColor ZPixmap window dump.
Image decodeXwd(const std::string &data);

} // namespace qeltest
