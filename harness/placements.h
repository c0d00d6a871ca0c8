// SPDX-License-Identifier: MIT
// Where RandR placed each lit CRTC of a running server's screen.
#pragma once

#include "session.h"

#include <string>
#include <vector>

namespace qeltest {

// A lit CRTC and the rectangle of the screen it shows.
struct Placement {
    int crtc = -1;
    std::string output;
    int x = 0, y = 0, width = 0, height = 0;
};

// The lit CRTCs as `xrandr --verbose` describes them ("NAME connected ...
// WxH+X+Y", or "disconnected" for an output whose display went while lit,
// followed by "CRTC: N").
std::vector<Placement> litDisplays(const Session &session);

} // namespace qeltest
