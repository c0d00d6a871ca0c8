// SPDX-License-Identifier: MIT
// What xsim leaves in its output folder.
#pragma once

#include "session.h"

#include <string>

namespace xsim {

// panel.png once the simulator has been quiet for a few vblanks.
void writePanel(const qeltest::Session &session, const std::string &outDir);
// Xorg.log and sim-stats from a stopped server's run directory.
void writeServerRecords(const std::string &runDir, const std::string &outDir);

} // namespace xsim
