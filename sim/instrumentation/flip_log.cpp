// SPDX-License-Identifier: MIT
#include "flip_log.h"

#include <cstdio>
#include <cstring>

namespace qelsim {

void FlipLog::record(const Crtc &crtc, const Framebuffer &fb, uint64_t vblank)
{
    if (lines_.size() == limit)
        lines_.pop_front();
    lines_.push_back("flip crtc=" + std::to_string(crtc.id) + " fb=" + std::to_string(fb.id) +
                     " vblank=" + std::to_string(vblank) + probedPixels(fb));
}

void FlipLog::clear()
{
    lines_.clear();
    probes_.clear();
}

// " probes=RRGGBB,..." with the pixels at the probe points of the
// framebuffer as it goes on screen; nothing without probes.
std::string FlipLog::probedPixels(const Framebuffer &fb) const
{
    if (probes_.empty())
        return "";
    std::string text = " probes=";
    for (const auto &[x, y] : probes_) {
        uint32_t pixel = 0;
        if (x < fb.width && y < fb.height && fb.buffer && fb.buffer->pixels)
            std::memcpy(&pixel, fb.buffer->pixels + size_t(y) * fb.pitch + size_t(x) * 4, 4);
        char hex[8];
        std::snprintf(hex, sizeof hex, "%06x", pixel & 0xffffffu);
        text += (text.back() == '=' ? "" : ",") + std::string(hex);
    }
    return text;
}

} // namespace qelsim
