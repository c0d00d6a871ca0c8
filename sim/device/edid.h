// SPDX-License-Identifier: MIT
// A 128-byte EDID 1.4 block describing a simulated panel.
#pragma once

#include <drm_mode.h>

#include <cstdint>
#include <vector>

namespace qelsim {

// Block for a panel of MM_WIDTH x MM_HEIGHT millimetres whose preferred
// timing is PREFERRED (no detailed timing when null); SERIAL tells
// connectors apart.
std::vector<uint8_t> makeEdid(const drm_mode_modeinfo *preferred, uint32_t mmWidth,
                              uint32_t mmHeight, uint32_t serial);

} // namespace qelsim
