/* SPDX-License-Identifier: MIT */
// CPU time of a running X server, from /proc. The server's main thread
// (its tid is the pid) runs the driver; the simulated GE's worker thread in
// the same process is the hardware, so the two are read apart.
#pragma once

#include <sys/types.h>

namespace qelbench {

// Time on the CPU, in seconds, at nanosecond resolution.
double mainThreadCpuSeconds(pid_t pid);
double processCpuSeconds(pid_t pid);

} // namespace qelbench
