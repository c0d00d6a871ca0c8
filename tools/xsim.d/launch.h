// SPDX-License-Identifier: MIT
// Turns xsim's options into a test bed and brings the server up.
#pragma once

#include "options.h"
#include "session.h"

namespace xsim {

qeltest::Testbed testbedFor(const Options &options);
// Arms the faults asked for; throws qeltest::SimError when one is refused.
void armFaults(const qeltest::Session &session, const Options &options);
// The simulator requests to send while COMMAND runs, at their times.
std::vector<TimedRequest> timedRequests(const qeltest::Session &session, const Options &options);
// Runs COMMAND on the terminal with DISPLAY set; returns a shell-style
// exit code (128 + signal when killed).
int runCommandOnDisplay(const qeltest::Session &session, const std::vector<std::string> &command);

} // namespace xsim
