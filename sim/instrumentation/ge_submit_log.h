// SPDX-License-Identifier: MIT
// One human-readable line per received GE_SUBMIT, showing the record and
// the op words exactly as the caller sent them, for wire-format tests.
#pragma once

#include "ge_uapi.h"

#include <string>
#include <vector>

namespace qelsim {

// `ops` is empty when the array was not read (count out of range or the
// address unreadable); `opsRead` tells the two apart from an empty array.
std::string formatSubmitLine(const uapi::GeSubmitArgs &args, const std::vector<uapi::GeOp> &ops,
                             bool opsRead);

} // namespace qelsim
