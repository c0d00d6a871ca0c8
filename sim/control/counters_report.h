// SPDX-License-Identifier: MIT
// The counters as key=value lines, for the `counters` request and the
// QELSIM_STATS file.
#pragma once

#include "device.h"

#include <string>
#include <vector>

namespace qelsim {

// Takes the device mutex itself.
std::vector<std::string> counterLines(Device &device);

} // namespace qelsim
