// SPDX-License-Identifier: MIT
// Where the device description comes from in a preloaded process.
#pragma once

#include "description.h"

namespace qelsim {

// The description in the file QELSIM_CONFIG names, or the default one when
// it is unset. A file that cannot be read or parsed is reported on stderr
// and the process exits: a test must not run on a device it did not ask for.
DeviceDescription loadDescriptionFromEnvironment();

} // namespace qelsim
