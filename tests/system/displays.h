// SPDX-License-Identifier: MIT
// The displays of a multi-output layout as a test sees them: where RandR
// placed each lit CRTC (placements.h), drawing all over the screen, and
// whether each display shows its rectangle of it.
#pragma once

#include "placements.h"
#include "session.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qeltest {

// Fills and copies all over the screen, across the displays' borders.
void drawAcrossDisplays(const Session &session, uint32_t seed);

// Every lit CRTC shows its rectangle of the screen, turned as the display
// is (GoogleTest expectations; fatal when nothing is lit).
void expectEveryDisplayShowsTheScreen(const Session &session);

} // namespace qeltest
