// SPDX-License-Identifier: MIT
// Threads of the simulator block every signal, so that the host process's
// handlers (the X server's SIGIO, SIGALRM, SIGUSR1...) always run on its own
// threads, and mark themselves as simulator threads so that the libc calls
// they make never come back into the interposed entry points.
#pragma once

#include <functional>
#include <thread>

namespace qelsim {

std::thread startQuietThread(std::function<void()> body);

} // namespace qelsim
