// SPDX-License-Identifier: MIT
// Serves the control protocol on a Unix stream socket.
#pragma once

#include <string>

namespace qelsim {

// Binds PATH (replacing a stale socket) and answers clients from a thread
// of the simulator. False when the socket cannot be set up.
bool serveControlSocket(const std::string &path);

} // namespace qelsim
