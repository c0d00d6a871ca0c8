// SPDX-License-Identifier: MIT
// The memory of dumb buffers: a memfd of whole pages that the simulator
// maps too, so that a client's mapping and the simulator share the pixels.
#pragma once

#include "device.h"

namespace qelsim {

// A zero-filled buffer of WIDTH x HEIGHT pixels of BPP bits with the
// device's pitch alignment, at the next map offset; null when memory is
// short. Call with the device mutex held.
BufferRef createBuffer(Device &device, uint32_t width, uint32_t height, uint32_t bpp);

} // namespace qelsim
