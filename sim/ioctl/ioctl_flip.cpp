// SPDX-License-Identifier: MIT
// PAGE_FLIP: the flip is queued and completes at the first vblank at which
// the GE work submitted before it has finished.
#include "ioctl_handlers.h"

#include "crtc_state.h"

namespace qelsim {
namespace {

int checkFlip(IoctlCall &call, const drm_mode_crtc_page_flip &r, Crtc *&crtc, FramebufferRef &fb)
{
    Device &d = call.device;
    if (r.flags & ~DRM_MODE_PAGE_FLIP_FLAGS)
        return -EINVAL;
    // Neither async flips nor flip targets are offered.
    if (r.flags & (DRM_MODE_PAGE_FLIP_ASYNC | DRM_MODE_PAGE_FLIP_TARGET))
        return -EINVAL;
    crtc = d.findCrtc(r.crtc_id);
    if (!crtc)
        return -ENOENT;
    if (!crtc->fb)
        return -EBUSY;
    fb = d.findFramebuffer(r.fb_id);
    if (!fb)
        return -ENOENT;
    if (viewportOutside(*fb, crtc->mode.hdisplay, crtc->mode.vdisplay, crtc->x, crtc->y))
        return -ENOSPC;
    if (fb->format != crtc->fb->format)
        return -EINVAL;
    if (crtc->flip)
        return -EBUSY;
    if (!crtc->active)
        return -EINVAL;
    if (d.hooks.failFlip(crtc->index))
        return -EINVAL;
    return 0;
}

} // namespace

int ioctlPageFlip(IoctlCall &call, void *arg)
{
    const auto *r = static_cast<drm_mode_crtc_page_flip *>(arg);
    Device &d = call.device;
    Crtc *crtc = nullptr;
    FramebufferRef fb;
    const int err = checkFlip(call, *r, crtc, fb);
    d.hooks.flipRequested(err == 0);
    if (err)
        return err;
    PendingFlip flip;
    flip.fb = std::move(fb);
    flip.userData = r->user_data;
    flip.event = r->flags & DRM_MODE_PAGE_FLIP_EVENT;
    flip.file = call.file;
    flip.geSeqno = d.ge.lastSubmittedSeqno();
    crtc->flip = std::move(flip);
    d.noteActivity();
    return 0;
}

int ioctlAtomic(IoctlCall &, void *)
{
    return -EOPNOTSUPP;
}

} // namespace qelsim
