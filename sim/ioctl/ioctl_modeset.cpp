// SPDX-License-Identifier: MIT
// Mode setting: SETCRTC and gamma.
#include "ioctl_handlers.h"

#include "crtc_state.h"
#include "mode_timings.h"
#include "vblank_events.h"

#include <algorithm>
#include <climits>
#include <vector>

namespace qelsim {
namespace {

// drm_mode_convert_umode() and drm_mode_validate_basic().
int checkMode(const drm_mode_modeinfo &m)
{
    if (m.clock > INT_MAX || m.vrefresh > INT_MAX)
        return -ERANGE;
    if (m.clock == 0)
        return -EINVAL;
    if (m.hdisplay == 0 || m.hsync_start < m.hdisplay || m.hsync_end < m.hsync_start ||
        m.htotal < m.hsync_end)
        return -EINVAL;
    if (m.vdisplay == 0 || m.vsync_start < m.vdisplay || m.vsync_end < m.vsync_start ||
        m.vtotal < m.vsync_end)
        return -EINVAL;
    return 0;
}

int resolveFramebuffer(Device &d, const Crtc &crtc, uint32_t fbId, FramebufferRef &fb)
{
    if (fbId == UINT32_MAX) {
        fb = committedFramebuffer(crtc);
        return fb ? 0 : -EINVAL;
    }
    fb = d.findFramebuffer(fbId);
    return fb ? 0 : -ENOENT;
}

int resolveConnectors(Device &d, const drm_mode_crtc &r, std::vector<uint32_t> &ids)
{
    if (r.count_connectors > d.connectors.size())
        return -EINVAL;
    ids.resize(r.count_connectors);
    if (copyFromUser(ids.data(), r.set_connectors_ptr, ids.size()))
        return -EFAULT;
    for (uint32_t id : ids)
        if (!d.findConnector(id))
            return -ENOENT;
    return 0;
}

// Connectors move to CRTC; a CRTC left without any is switched off, as the
// kernel's set_config helper does.
void takeConnectors(Device &d, Crtc &crtc, const std::vector<uint32_t> &ids)
{
    for (uint32_t id : crtc.connectors)
        if (Connector *c = d.findConnector(id))
            c->crtcId = 0;
    for (auto &other : d.crtcs) {
        if (other.id == crtc.id)
            continue;
        std::erase_if(other.connectors, [&](uint32_t id) {
            return std::find(ids.begin(), ids.end(), id) != ids.end();
        });
        if (other.enabled && other.connectors.empty())
            switchCrtcOff(d, other);
    }
    for (auto &e : d.encoders)
        if (e.crtcId == crtc.id)
            e.crtcId = 0;
    crtc.connectors = ids;
    for (uint32_t id : ids) {
        Connector *c = d.findConnector(id);
        c->crtcId = crtc.id;
        c->dpms = DRM_MODE_DPMS_ON;
        d.findEncoder(c->encoderId)->crtcId = crtc.id;
    }
}

// A new mode or new connectors take the CRTC through off and on again (its
// vblanks stop and start); a new framebuffer or position alone does not.
bool needsModeset(const Crtc &crtc, const drm_mode_crtc &r, const std::vector<uint32_t> &ids)
{
    std::vector<uint32_t> before = crtc.connectors, after = ids;
    std::sort(before.begin(), before.end());
    std::sort(after.begin(), after.end());
    return !sameTimings(crtc.mode, r.mode) || before != after;
}

void applyMode(Device &d, Crtc &crtc, const drm_mode_crtc &r, FramebufferRef fb,
               const std::vector<uint32_t> &connectorIds)
{
    completeFlipNow(d, crtc);
    if (crtc.active && needsModeset(crtc, r, connectorIds)) {
        stopVblanks(d, crtc);
        crtc.active = false;
    }
    takeConnectors(d, crtc, connectorIds);
    crtc.enabled = true;
    crtc.mode = r.mode;
    crtc.fb = std::move(fb);
    crtc.x = r.x;
    crtc.y = r.y;
    updateCrtcActive(d, crtc);
    d.noteActivity();
}

} // namespace

int ioctlSetCrtc(IoctlCall &call, void *arg)
{
    auto *r = static_cast<drm_mode_crtc *>(arg);
    Device &d = call.device;
    d.hooks.setCrtcCalled();
    Crtc *crtc = d.findCrtc(r->crtc_id);
    if (!crtc)
        return -ENOENT;
    if ((r->x & 0xffff0000u) || (r->y & 0xffff0000u))
        return -ERANGE;
    if (d.hooks.failSetCrtc())
        return -EINVAL;
    FramebufferRef fb;
    if (r->mode_valid) {
        if (int err = resolveFramebuffer(d, *crtc, r->fb_id, fb))
            return err;
        if (int err = checkMode(r->mode))
            return err;
        if (viewportOutside(*fb, r->mode.hdisplay, r->mode.vdisplay, r->x, r->y))
            return -ENOSPC;
    }
    if (r->count_connectors == 0 && r->mode_valid)
        return -EINVAL;
    if (r->count_connectors > 0 && (!r->mode_valid || !fb))
        return -EINVAL;
    std::vector<uint32_t> connectorIds;
    if (int err = resolveConnectors(d, *r, connectorIds))
        return err;
    if (!r->mode_valid)
        switchCrtcOff(d, *crtc);
    else
        applyMode(d, *crtc, *r, fb, connectorIds);
    return 0;
}

int ioctlGetGamma(IoctlCall &call, void *arg)
{
    auto *r = static_cast<drm_mode_crtc_lut *>(arg);
    const Crtc *c = call.device.findCrtc(r->crtc_id);
    if (!c)
        return -ENOENT;
    if (r->gamma_size != c->gammaSize)
        return -EINVAL;
    if (copyToUser(r->red, c->red.data(), c->gammaSize) ||
        copyToUser(r->green, c->green.data(), c->gammaSize) ||
        copyToUser(r->blue, c->blue.data(), c->gammaSize))
        return -EFAULT;
    return 0;
}

int ioctlSetGamma(IoctlCall &call, void *arg)
{
    auto *r = static_cast<drm_mode_crtc_lut *>(arg);
    Crtc *c = call.device.findCrtc(r->crtc_id);
    if (!c)
        return -ENOENT;
    if (c->gammaSize == 0)
        return -ENOSYS;
    if (r->gamma_size != c->gammaSize)
        return -EINVAL;
    if (copyFromUser(c->red.data(), r->red, c->gammaSize) ||
        copyFromUser(c->green.data(), r->green, c->gammaSize) ||
        copyFromUser(c->blue.data(), r->blue, c->gammaSize))
        return -EFAULT;
    return 0;
}

} // namespace qelsim
