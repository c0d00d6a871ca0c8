// SPDX-License-Identifier: MIT
// The control protocol of README.md: one request line in, reply lines out,
// the last one `ok` or `error <text>`.
#pragma once

#include <string>

namespace qelsim {

// The whole reply to REQUEST, each line ending in '\n'.
std::string runControlRequest(const std::string &request);

} // namespace qelsim
