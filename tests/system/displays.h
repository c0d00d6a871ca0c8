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

// Fills and copies all over the screen, across the displays' borders.
void drawAcrossDisplays(const Session &session, uint32_t seed);

// Every lit CRTC shows its rectangle of the screen (GoogleTest
// expectations; fatal when nothing is lit).
void expectEveryDisplayShowsTheScreen(const Session &session);

} // namespace qeltest
