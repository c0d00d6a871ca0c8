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
    uint64_t vblanks = 0;
    uint64_t setcrtcCalls = 0;
    uint64_t cursorSets = 0;  // accepted cursor calls with DRM_MODE_CURSOR_BO
    uint64_t cursorMoves = 0; // accepted cursor calls with DRM_MODE_CURSOR_MOVE
    std::map<std::string, uint64_t> ioctls; // by ioctl name
};

// Faults armed through the control protocol; GE faults live in the GE engine.
struct Faults {
    unsigned flip = 0;
    std::map<size_t, unsigned> flipOnCrtc; // by CRTC index
    unsigned setcrtc = 0;
    unsigned getconnector = 0;
    unsigned createDumb = 0;
    unsigned createDumbNth = 0; // 0: none; 1: the next creation fails
    bool masterHeldElsewhere = false;
};

// Consumes one armed fault of a counter; true when the call must fail.
inline bool takeFault(unsigned &count)
{
    if (count == 0)
        return false;
    --count;
    return true;
}

} // namespace qelsim
