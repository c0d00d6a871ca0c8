// SPDX-License-Identifier: MIT
#include "vblank_events.h"

#include <sys/socket.h>

namespace qelsim {
namespace {

// The client reads events from its end of the socketpair; a client that
// stopped reading loses events rather than stalling the clock.
void sendEvent(const DrmFile &file, const void *event, size_t size)
{
    (void)send(file.eventFd, event, size, MSG_NOSIGNAL | MSG_DONTWAIT);
}

void sendFlipComplete(const Device &device, const DrmFile &file, const Crtc &crtc,
                      uint64_t userData)
{
    drm_event_vblank e{};
    e.base.type = DRM_EVENT_FLIP_COMPLETE;
    e.base.length = sizeof e;
    e.user_data = userData;
    e.tv_sec = static_cast<uint32_t>(device.lastVblankTime.tv_sec);
    e.tv_usec = static_cast<uint32_t>(device.lastVblankTime.tv_nsec / 1000);
    e.sequence = static_cast<uint32_t>(device.vblankCount);
    e.crtc_id = crtc.id;
    sendEvent(file, &e, sizeof e);
}

void sendVblankEvent(const Device &device, const DrmFile &file, const PendingVblankEvent &p)
{
    if (p.sequenceEvent) {
        drm_event_crtc_sequence e{};
        e.base.type = DRM_EVENT_CRTC_SEQUENCE;
        e.base.length = sizeof e;
        e.user_data = p.userData;
        e.time_ns = device.lastVblankTime.tv_sec * 1'000'000'000ll + device.lastVblankTime.tv_nsec;
        e.sequence = device.vblankCount;
        sendEvent(file, &e, sizeof e);
        return;
    }
    drm_event_vblank e{};
    e.base.type = DRM_EVENT_VBLANK;
    e.base.length = sizeof e;
    e.user_data = p.userData;
    e.tv_sec = static_cast<uint32_t>(device.lastVblankTime.tv_sec);
    e.tv_usec = static_cast<uint32_t>(device.lastVblankTime.tv_nsec / 1000);
    e.sequence = static_cast<uint32_t>(device.vblankCount);
    e.crtc_id = device.crtcs[p.crtcIndex].id;
    sendEvent(file, &e, sizeof e);
}

void finishFlip(Device &device, Crtc &crtc)
{
    PendingFlip flip = std::move(*crtc.flip);
    crtc.flip.reset();
    crtc.fb = flip.fb;
    device.hooks.flipShown(crtc, *flip.fb, device.vblankCount);
    device.noteActivity();
    if (!flip.event)
        return;
    if (FileRef file = flip.file.lock())
        sendFlipComplete(device, *file, crtc, flip.userData);
}

// A flip waits for the GE work submitted before it (implicit fencing).
void completeDueFlips(Device &device)
{
    for (auto &crtc : device.crtcs)
        if (crtc.flip && device.ge.completed(crtc.flip->geSeqno))
            finishFlip(device, crtc);
}

void deliverDueVblankEvents(Device &device)
{
    auto &pending = device.pendingVblankEvents;
    for (auto it = pending.begin(); it != pending.end();) {
        if (it->target > device.vblankCount) {
            ++it;
            continue;
        }
        if (FileRef file = it->file.lock())
            sendVblankEvent(device, *file, *it);
        it = pending.erase(it);
    }
}

} // namespace

void advanceVblank(Device &device)
{
    ++device.vblankCount;
    clock_gettime(CLOCK_MONOTONIC, &device.lastVblankTime);
    if (device.ge.takeActivity())
        device.noteActivity();
    completeDueFlips(device);
    deliverDueVblankEvents(device);
    device.changed.notify_all();
}

void completeFlipNow(Device &device, Crtc &crtc)
{
    if (crtc.flip)
        finishFlip(device, crtc);
}

void endVblankEventsOf(Device &device, const Crtc &crtc)
{
    auto &pending = device.pendingVblankEvents;
    for (auto it = pending.begin(); it != pending.end();) {
        if (it->crtcIndex != crtc.index) {
            ++it;
            continue;
        }
        if (FileRef file = it->file.lock())
            sendVblankEvent(device, *file, *it);
        it = pending.erase(it);
    }
    device.changed.notify_all();
}

void queueVblankEvent(Device &device, const FileRef &file, const PendingVblankEvent &event)
{
    if (event.target <= device.vblankCount) {
        sendVblankEvent(device, *file, event);
        return;
    }
    device.pendingVblankEvents.push_back(event);
}

} // namespace qelsim
