// SPDX-License-Identifier: MIT
// State changes of CRTCs shared by several ioctls.
#pragma once

#include "device.h"

namespace qelsim {

// Disables CRTC (no mode, no framebuffer, no connectors); an outstanding
// flip completes first.
void switchCrtcOff(Device &device, Crtc &crtc);

// Recomputes whether CRTC scans out: enabled and some connector of it has
// DPMS on. Its vblank counter stops and starts with it.
void updateCrtcActive(Device &device, Crtc &crtc);

// Removes a framebuffer as RMFB and file close do: CRTCs that show it (or
// are about to) are switched off first.
void removeFramebuffer(Device &device, uint32_t fbId);

// True when a WxH mode at X,Y does not fit in FB (drm_crtc_check_viewport).
inline bool viewportOutside(const Framebuffer &fb, uint32_t w, uint32_t h, uint32_t x, uint32_t y)
{
    return w > fb.width || h > fb.height || x > fb.width - w || y > fb.height - h;
}

} // namespace qelsim
