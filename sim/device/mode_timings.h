// SPDX-License-Identifier: MIT
// Kernel mode records (drm_mode_modeinfo) with CVT timings.
#pragma once

#include "description.h"

#include <drm_mode.h>

#include <cstdint>

namespace qelsim {

// A CVT mode for REQUEST, typed as a driver mode; PREFERRED adds that flag.
drm_mode_modeinfo cvtMode(const ModeRequest &request, bool preferred);

// The time between two vblanks of a CRTC scanning out MODE, in nanoseconds,
// as the kernel's drm_calc_timestamping_constants() computes it; 0 for a
// mode without a clock.
int64_t frameDurationNs(const drm_mode_modeinfo &mode);

// Whether two modes have the same timings (drm_mode_equal(): names, types
// and the refresh field do not count).
bool sameTimings(const drm_mode_modeinfo &a, const drm_mode_modeinfo &b);

} // namespace qelsim
