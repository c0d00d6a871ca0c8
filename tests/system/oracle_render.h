// SPDX-License-Identifier: MIT
// Render requests for the acceleration oracle, one family at a time:
// anti-aliased text through glyph sets, trapezoids and triangles of every
// operator onto destinations of four formats, and composites through masks.
// Each family draws the same requests on any server and returns what a
// client reads back afterwards, as the server's raw image bytes.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct xcb_connection_t;

namespace qeltest {

// What GetImage returned for a drawable of that depth.
struct Readback {
    int depth = 0;
    std::vector<uint8_t> bytes;
};

// Readbacks by name (e.g. "triangles/a8/op 5").
using Readbacks = std::map<std::string, Readback>;

enum class RenderFamily { AntialiasedText, Trapezoids, Triangles, MaskedComposites };

const char *familyName(RenderFamily family);

// Draws the family on the root window (whose every pixel it sets first)
// and on pixmaps of its own, then reads them all back.
Readbacks drawRenderFamily(xcb_connection_t *connection, uint32_t root, RenderFamily family);

// The first difference between two sets of readbacks, or "" when none. The
// top byte of a depth-24 pixel's 32 bits is padding, not part of the pixel:
// it is not compared.
std::string firstDifference(const Readbacks &expected, const Readbacks &actual);

} // namespace qeltest
