// SPDX-License-Identifier: MIT
// The flip log (the `fliplog` control request): one line per completed
// flip, the latest `limit` of them, with the pixels at the probe points
// (`flip-probes`) as each flip put its framebuffer on screen. Not guarded:
// its owner serialises the calls.
#pragma once

#include "objects.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace qelsim {

using FlipProbe = std::pair<uint32_t, uint32_t>; // (x, y) in the framebuffer

class FlipLog {
public:
    // A server that flips for hours must not grow the log without bound.
    static constexpr size_t limit = 4096;

    void setProbes(std::vector<FlipProbe> probes) { probes_ = std::move(probes); }
    void record(const Crtc &crtc, const Framebuffer &fb, uint64_t vblank);
    std::vector<std::string> lines() const { return {lines_.begin(), lines_.end()}; }
    void clear(); // the lines and the probes

private:
    std::string probedPixels(const Framebuffer &fb) const;

    std::deque<std::string> lines_;
    std::vector<FlipProbe> probes_;
};

} // namespace qelsim
