// SPDX-License-Identifier: MIT
// What happens at a vblank: due page flips complete, due vblank events are
// delivered, and the events become readable on the files that asked.
#pragma once

#include "device.h"

namespace qelsim {

// Advances the vblank counter by one. Call with the device mutex held.
void advanceVblank(Device &device);

// Completes CRTC's outstanding flip now (the CRTC is being switched off,
// and a kernel does not leave a flip hanging then).
void completeFlipNow(Device &device, Crtc &crtc);

// The CRTC stops scanning out: its pending vblank and sequence events are
// delivered now, with the current count although their target has not come,
// and blocked vblank waits wake up, as drm_crtc_vblank_off() does.
void endVblankEventsOf(Device &device, const Crtc &crtc);

// Queues a vblank or sequence event for FILE, delivered when vblank TARGET
// has passed (at once when it already has).
void queueVblankEvent(Device &device, const FileRef &file, const PendingVblankEvent &event);

} // namespace qelsim
