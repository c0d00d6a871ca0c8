// SPDX-License-Identifier: MIT
// WAIT_VBLANK and the CRTC sequence ioctls, as Linux 6.1's drm_vblank.c
// answers them. Each CRTC has its own counter; a CRTC that is not scanning
// out has no vblanks to wait for (its vblank reference cannot be taken).
#include "ioctl_handlers.h"

#include "vblank_events.h"

#include <chrono>

namespace qelsim {
namespace {

constexpr auto blockingWaitLimit = std::chrono::seconds(3);

// drm_wait_vblank_ioctl() selects the CRTC by index from the type word.
int crtcIndexOf(const drm_wait_vblank_request &req, size_t crtcCount, size_t &index)
{
    const unsigned high = (req.type & _DRM_VBLANK_HIGH_CRTC_MASK) >> _DRM_VBLANK_HIGH_CRTC_SHIFT;
    index = high ? high : ((req.type & _DRM_VBLANK_SECONDARY) ? 1 : 0);
    return index < crtcCount ? 0 : -EINVAL;
}

void clearTypeBits(drm_wait_vblank_request &req, unsigned bits)
{
    req.type = static_cast<drm_vblank_seq_type>(req.type & ~bits);
}

// Widens a 32-bit sequence near the 64-bit counter NOW.
uint64_t widen(uint32_t sequence, uint64_t now)
{
    return now + static_cast<int32_t>(sequence - static_cast<uint32_t>(now));
}

int64_t timeNs(const Crtc &crtc)
{
    return crtc.vblank.lastNs;
}

void fillReply(const Crtc &crtc, drm_wait_vblank_reply &reply)
{
    reply.sequence = static_cast<uint32_t>(crtc.vblank.count);
    reply.tval_sec = static_cast<long>(timeNs(crtc) / 1'000'000'000);
    reply.tval_usec = static_cast<long>(timeNs(crtc) % 1'000'000'000 / 1000);
}

// As the kernel's wait: until the target has passed or the CRTC's vblanks
// stop; EBUSY after three seconds.
int waitUntil(IoctlCall &call, const Crtc &crtc, uint64_t target)
{
    Device &d = call.device;
    const bool reached = d.changed.wait_for(call.lock, blockingWaitLimit, [&] {
        return crtc.vblank.count >= target || !crtc.vblank.counting();
    });
    return reached ? 0 : -EBUSY;
}

int resolveTarget(drm_wait_vblank_request &req, uint64_t now, uint64_t &target)
{
    const unsigned type = req.type & _DRM_VBLANK_TYPES_MASK;
    if (type == _DRM_VBLANK_RELATIVE) {
        target = now + req.sequence;
        req.sequence = static_cast<unsigned>(target);
        clearTypeBits(req, _DRM_VBLANK_RELATIVE);
    } else if (type == _DRM_VBLANK_ABSOLUTE) {
        target = widen(req.sequence, now);
    } else {
        return -EINVAL;
    }
    if ((req.type & _DRM_VBLANK_NEXTONMISS) && target <= now) {
        target = now + 1;
        clearTypeBits(req, _DRM_VBLANK_NEXTONMISS);
        req.sequence = static_cast<unsigned>(target);
    }
    return 0;
}

} // namespace

int ioctlWaitVblank(IoctlCall &call, void *arg)
{
    auto *w = static_cast<drm_wait_vblank *>(arg);
    Device &d = call.device;
    const unsigned allowed =
        _DRM_VBLANK_TYPES_MASK | _DRM_VBLANK_FLAGS_MASK | _DRM_VBLANK_HIGH_CRTC_MASK;
    if ((w->request.type & _DRM_VBLANK_SIGNAL) || (w->request.type & ~allowed))
        return -EINVAL;
    size_t index;
    if (crtcIndexOf(w->request, d.crtcs.size(), index))
        return -EINVAL;
    const Crtc &crtc = d.crtcs[index];
    if (!crtc.vblank.counting())
        return -EINVAL;
    const uint64_t now = crtc.vblank.count;
    uint64_t target;
    if (int err = resolveTarget(w->request, now, target))
        return err;
    if (w->request.type & _DRM_VBLANK_EVENT) {
        const uint64_t userData = w->request.signal;
        queueVblankEvent(d, call.file, {call.file, index, target, userData, false});
        // drm_queue_vblank_event(): the count reached when the target has.
        w->reply.sequence = static_cast<unsigned>(target <= now ? now : target);
        return 0;
    }
    const int err = target == now ? 0 : waitUntil(call, crtc, target);
    fillReply(crtc, w->reply);
    return err;
}

int ioctlGetSequence(IoctlCall &call, void *arg)
{
    auto *s = static_cast<drm_crtc_get_sequence *>(arg);
    const Crtc *crtc = call.device.findCrtc(s->crtc_id);
    if (!crtc)
        return -ENOENT;
    if (!crtc->vblank.counting())
        return -EINVAL;
    s->active = crtc->enabled;
    s->sequence = crtc->vblank.count;
    s->sequence_ns = timeNs(*crtc);
    return 0;
}

int ioctlQueueSequence(IoctlCall &call, void *arg)
{
    auto *q = static_cast<drm_crtc_queue_sequence *>(arg);
    Device &d = call.device;
    const Crtc *crtc = d.findCrtc(q->crtc_id);
    if (!crtc)
        return -ENOENT;
    if (q->flags & ~(DRM_CRTC_SEQUENCE_RELATIVE | DRM_CRTC_SEQUENCE_NEXT_ON_MISS))
        return -EINVAL;
    if (!crtc->vblank.counting())
        return -EINVAL;
    const uint64_t now = crtc->vblank.count;
    uint64_t target = q->sequence;
    if (q->flags & DRM_CRTC_SEQUENCE_RELATIVE)
        target += now;
    if ((q->flags & DRM_CRTC_SEQUENCE_NEXT_ON_MISS) && target <= now)
        target = now + 1;
    queueVblankEvent(d, call.file, {call.file, crtc->index, target, q->user_data, true});
    q->sequence = target <= now ? now : target;
    return 0;
}

} // namespace qelsim
