// SPDX-License-Identifier: MIT
// What the simulator counts for tests (the `counters` control request).
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace qelsim {

struct Counters {
    uint64_t flipsRequested = 0;
    uint64_t flipsCompleted = 0;
    std::map<size_t, uint64_t> flipsCompletedByCrtc; // by CRTC index
    uint64_t flipsRejected = 0;
    uint64_t setcrtcCalls = 0;
    uint64_t cursorSets = 0;                // accepted cursor calls with DRM_MODE_CURSOR_BO
    uint64_t cursorMoves = 0;               // accepted cursor calls with DRM_MODE_CURSOR_MOVE
    uint64_t dumbCreated = 0;               // dumb buffers made
    std::map<std::string, uint64_t> ioctls; // by ioctl name
};

} // namespace qelsim
