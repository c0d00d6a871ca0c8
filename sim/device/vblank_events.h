// SPDX-License-Identifier: MIT
// What happens at a CRTC's vblank: its due page flip completes, its due
// vblank events are delivered, and the events become readable on the files
// that asked. Each CRTC counts on its own (see VblankCounter); the device's
// `ticks`, for settling and the counters, follow the vblanks of the first
// CRTC that counts (a 60 Hz beat while none does), or the manual clock's
// steps. Call everything here with the device mutex held.
#pragma once

#include "device.h"

#include <cstddef>
#include <optional>

namespace qelsim {

// The CRTC starts scanning out: its counter steps once and counts on at
// the frame duration of its mode (drm_crtc_vblank_on()).
void startVblanks(Device &device, Crtc &crtc);

// The CRTC stops scanning out: its outstanding flip completes, its pending
// vblank and sequence events are delivered now with the count reached
// although their target has not come, blocked vblank waits wake up, and the
// counter stands still (drm_crtc_vblank_off()).
void stopVblanks(Device &device, Crtc &crtc);

// The running clock's tick at NOW: every counting CRTC whose vblank is due
// advances by the frames that have passed (one vblank's work however many,
// as a late vblank interrupt does). Returns the next deadline.
int64_t runDueVblanks(Device &device, int64_t now);

// The manual clock's step: one vblank, one frame after the last, of the
// CRTC of that index or of every counting CRTC; one tick of the device.
void stepVblank(Device &device, std::optional<size_t> crtcIndex);

// The clock runs by itself again: the next vblank of every counting CRTC
// comes one frame from now.
void resumeVblankClock(Device &device);

// Completes CRTC's outstanding flip now (the CRTC is being switched off,
// and a kernel does not leave a flip hanging then).
void completeFlipNow(Device &device, Crtc &crtc);

// Queues a vblank or sequence event for FILE, delivered when its CRTC's
// vblank TARGET has passed (at once when it already has).
void queueVblankEvent(Device &device, const FileRef &file, const PendingVblankEvent &event);

} // namespace qelsim
