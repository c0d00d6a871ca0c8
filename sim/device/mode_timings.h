// SPDX-License-Identifier: MIT
// Kernel mode records (drm_mode_modeinfo) with CVT timings.
#pragma once

#include "description.h"

#include <drm_mode.h>

namespace qelsim {

// A CVT mode for REQUEST, typed as a driver mode; PREFERRED adds that flag.
drm_mode_modeinfo cvtMode(const ModeRequest &request, bool preferred);

} // namespace qelsim
