// SPDX-License-Identifier: MIT
#include "crtc_state.h"

#include "vblank_events.h"

#include <algorithm>

namespace qelsim {

void switchCrtcOff(Device &device, Crtc &crtc)
{
    stopVblanks(device, crtc);
    for (uint32_t id : crtc.connectors) {
        if (Connector *c = device.findConnector(id)) {
            c->crtcId = 0;
            if (Encoder *e = device.findEncoder(c->encoderId))
                e->crtcId = 0;
        }
    }
    crtc.connectors.clear();
    crtc.enabled = false;
    crtc.active = false;
    crtc.fb.reset();
    crtc.mode = {};
    crtc.x = crtc.y = 0;
    device.noteActivity();
}

void updateCrtcActive(Device &device, Crtc &crtc)
{
    const bool wasActive = crtc.active;
    crtc.active = crtc.enabled &&
                  std::any_of(crtc.connectors.begin(), crtc.connectors.end(), [&](uint32_t id) {
                      const Connector *c = device.findConnector(id);
                      return c && c->dpms == DRM_MODE_DPMS_ON;
                  });
    if (wasActive && !crtc.active)
        stopVblanks(device, crtc);
    if (!wasActive && crtc.active)
        startVblanks(device, crtc);
    if (wasActive != crtc.active)
        device.noteActivity();
}

void removeFramebuffer(Device &device, uint32_t fbId)
{
    for (auto &crtc : device.crtcs) {
        // Removing the framebuffer that a pending flip replaces leaves the
        // CRTC on: it still shows that one (the CRTC holds a reference)
        // until the flip completes.
        const FramebufferRef &committed = committedFramebuffer(crtc);
        if (committed && committed->id == fbId)
            switchCrtcOff(device, crtc);
    }
    device.framebuffers.erase(fbId);
}

} // namespace qelsim
