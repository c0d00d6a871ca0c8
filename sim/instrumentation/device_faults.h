// SPDX-License-Identifier: MIT
// Faults armed on the device's calls (the `fault` control request): each
// fails the next so many matching calls as the kernel could. Not guarded:
// its owner serialises the calls.
#pragma once

#include <cstddef>
#include <map>

namespace qelsim {

enum class DeviceFault {
    flip,          // PAGE_FLIP: EINVAL
    setcrtc,       // SETCRTC: EINVAL
    getconnector,  // GETCONNECTOR: ENOENT
    createDumb,    // CREATE_DUMB: ENOMEM
    createDumbNth, // only the count-th next CREATE_DUMB fails
    master,        // count != 0: another process holds master until count 0
};

class DeviceFaults {
public:
    void arm(DeviceFault kind, unsigned count);
    void armFlipOnCrtc(size_t crtcIndex, unsigned count);

    // Each consumes one armed fault; true when the call must fail.
    bool takeFlip(size_t crtcIndex);
    bool takeSetCrtc();
    bool takeGetConnector();
    bool takeCreateDumb();

    bool masterHeldElsewhere() const { return masterHeldElsewhere_; }

private:
    unsigned flip_ = 0;
    std::map<size_t, unsigned> flipOnCrtc_; // by CRTC index
    unsigned setcrtc_ = 0;
    unsigned getconnector_ = 0;
    unsigned createDumb_ = 0;
    unsigned createDumbNth_ = 0; // 0: none; 1: the next creation fails
    bool masterHeldElsewhere_ = false;
};

} // namespace qelsim
