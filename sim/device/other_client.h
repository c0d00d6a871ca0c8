// SPDX-License-Identifier: MIT
// Another DRM client of the device, in another process: the session on the
// VT the console shows while the server's VT is in the background (a text
// console, another display server). It exists from the moment the server
// releases its VT until the server's VT comes back.
#pragma once

#include "device.h"

namespace qelsim {

enum class TakeOver {
    taken,         // the other client is master and shows black
    keptByServer,  // a file of this process is still master: EBUSY
    heldElsewhere, // the `master` fault: a third process holds it
};

// The other client opens the device and becomes master, then lights every
// CRTC that was lit with its own black framebuffer in the same mode and
// connectors, with the cursor planes off, as a console's mode set does. An
// outstanding flip of the server completes first. Without master it
// changes nothing. Call with the device mutex held.
TakeOver otherClientTakesOver(Device &device);

// The other client closes the device: its framebuffer goes (the CRTCs that
// show it are switched off) and master is free again. Call with the device
// mutex held.
void otherClientLeaves(Device &device);

} // namespace qelsim
