// SPDX-License-Identifier: MIT
// The displays of a multi-output layout as a test sees them: where RandR
// placed each lit CRTC, drawing all over the screen, and whether each
// display shows its rectangle of it.
#pragma once

#include "session.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qeltest {

// A display's rotation and reflection, in xrandr's words.
struct Orientation {
    std::string rotate = "normal"; // normal, left, inverted or right
    bool reflectX = false, reflectY = false;
    // The arguments of xrandr --output that set it.
    std::vector<std::string> xrandrArgs() const;
    std::string name() const;
};

// What a display turned so shows of its rectangle of the screen (part):
// each of its pixels is the pixel of part that the server's CRTC transform
// maps it to (rotation first, then reflection in the screen's axes).
Image turnedFor(const Image &part, const Orientation &orientation);

// A lit CRTC, the rectangle of the screen it shows and how it is turned.
struct Placement {
    int crtc = -1;
    std::string output;
    int x = 0, y = 0, width = 0, height = 0;
    Orientation orientation;
};

// The lit CRTCs as `xrandr --verbose` describes them ("NAME connected ...
// WxH+X+Y (MODE) ROTATION [REFLECTION]", or "disconnected" for an output
// whose display went while lit, followed by "CRTC: N").
std::vector<Placement> litDisplays(const Session &session);

// Fills and copies all over the screen, across the displays' borders.
void drawAcrossDisplays(const Session &session, uint32_t seed);

// Every lit CRTC shows its rectangle of the screen, turned as the display
// is (GoogleTest expectations; fatal when nothing is lit).
void expectEveryDisplayShowsTheScreen(const Session &session);

} // namespace qeltest
