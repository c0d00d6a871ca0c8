// SPDX-License-Identifier: MIT
#include "other_client.h"

#include "buffer_memory.h"
#include "crtc_state.h"
#include "vblank_events.h"

#include <algorithm>
#include <drm_fourcc.h>

namespace qelsim {
namespace {

// One framebuffer as large as the largest lit mode, as a console keeps one
// for all its displays; null when nothing is lit or memory is short.
FramebufferRef blackFramebuffer(Device &d, DrmFile &file)
{
    uint32_t width = 0, height = 0;
    for (const Crtc &c : d.crtcs) {
        if (!c.enabled)
            continue;
        width = std::max<uint32_t>(width, c.mode.hdisplay);
        height = std::max<uint32_t>(height, c.mode.vdisplay);
    }
    if (!width || !height)
        return nullptr;
    BufferRef buffer = createBuffer(d, width, height, 32);
    if (!buffer)
        return nullptr;
    auto fb = std::make_shared<Framebuffer>();
    fb->id = d.freeObjectId();
    fb->width = width;
    fb->height = height;
    fb->pitch = buffer->pitch;
    fb->format = DRM_FORMAT_XRGB8888;
    fb->buffer = buffer;
    file.handles[file.freeHandle()] = std::move(buffer);
    file.framebuffers.push_back(fb->id);
    d.framebuffers[fb->id] = fb;
    return fb;
}

void showBlack(Device &d, Crtc &crtc, const FramebufferRef &fb)
{
    completeFlipNow(d, crtc);
    crtc.fb = fb;
    crtc.x = crtc.y = 0;
    for (uint32_t id : crtc.connectors)
        if (Connector *c = d.findConnector(id))
            c->dpms = DRM_MODE_DPMS_ON;
    updateCrtcActive(d, crtc);
}

} // namespace

TakeOver otherClientTakesOver(Device &d)
{
    if (d.hooks.masterHeldElsewhere())
        return TakeOver::heldElsewhere;
    if (d.master)
        return TakeOver::keptByServer;
    d.otherClient = std::make_shared<DrmFile>();
    d.otherClient->wasMaster = d.otherClient->authenticated = true;
    d.master = d.otherClient.get();
    const FramebufferRef fb = blackFramebuffer(d, *d.otherClient);
    for (Crtc &crtc : d.crtcs) {
        crtc.cursor.buffer.reset();
        if (crtc.enabled && fb)
            showBlack(d, crtc, fb);
    }
    d.noteActivity();
    return TakeOver::taken;
}

void otherClientLeaves(Device &d)
{
    if (!d.otherClient)
        return;
    for (uint32_t fbId : d.otherClient->framebuffers)
        removeFramebuffer(d, fbId);
    if (d.master == d.otherClient.get())
        d.master = nullptr;
    d.otherClient.reset();
}

} // namespace qelsim
