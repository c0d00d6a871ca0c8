// SPDX-License-Identifier: MIT
// Where RandR placed each lit CRTC of a running server's screen, and how
// it turned it.
#pragma once

#include "image.h"
#include "session.h"

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

} // namespace qeltest
