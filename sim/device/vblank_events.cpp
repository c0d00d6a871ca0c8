// SPDX-License-Identifier: MIT
#include "vblank_events.h"

#include "mode_timings.h"

#include <algorithm>
#include <climits>
#include <sys/socket.h>

namespace qelsim {
namespace {

// With no CRTC counting, the device's ticks go on at this pace.
constexpr int64_t idleBeatNs = 1'000'000'000 / 60;

// The client reads events from its end of the socketpair; a client that
// stopped reading loses events rather than stalling the clock.
void sendEvent(const DrmFile &file, const void *event, size_t size)
{
    (void)send(file.eventFd, event, size, MSG_NOSIGNAL | MSG_DONTWAIT);
}

// A drm_event_vblank as send_vblank_event() fills it: the CRTC's count and
// the time of its last vblank.
void sendCountedEvent(const DrmFile &file, uint32_t type, const Crtc &crtc, uint64_t userData)
{
    drm_event_vblank e{};
    e.base.type = type;
    e.base.length = sizeof e;
    e.user_data = userData;
    e.tv_sec = static_cast<uint32_t>(crtc.vblank.lastNs / 1'000'000'000);
    e.tv_usec = static_cast<uint32_t>(crtc.vblank.lastNs % 1'000'000'000 / 1000);
    e.sequence = static_cast<uint32_t>(crtc.vblank.count);
    e.crtc_id = crtc.id;
    sendEvent(file, &e, sizeof e);
}

void sendVblankEvent(const Device &device, const DrmFile &file, const PendingVblankEvent &p)
{
    const Crtc &crtc = device.crtcs[p.crtcIndex];
    if (!p.sequenceEvent) {
        sendCountedEvent(file, DRM_EVENT_VBLANK, crtc, p.userData);
        return;
    }
    drm_event_crtc_sequence e{};
    e.base.type = DRM_EVENT_CRTC_SEQUENCE;
    e.base.length = sizeof e;
    e.user_data = p.userData;
    e.time_ns = crtc.vblank.lastNs;
    e.sequence = crtc.vblank.count;
    sendEvent(file, &e, sizeof e);
}

void finishFlip(Device &device, Crtc &crtc)
{
    PendingFlip flip = std::move(*crtc.flip);
    crtc.flip.reset();
    crtc.fb = flip.fb;
    device.hooks.flipShown(crtc, *flip.fb, crtc.vblank.count);
    device.noteActivity();
    if (!flip.event)
        return;
    if (FileRef file = flip.file.lock())
        sendCountedEvent(*file, DRM_EVENT_FLIP_COMPLETE, crtc, flip.userData);
}

// The CRTC's events whose target has come (every one when ALL).
void deliverVblankEvents(Device &device, const Crtc &crtc, bool all)
{
    auto &pending = device.pendingVblankEvents;
    for (auto it = pending.begin(); it != pending.end();) {
        if (it->crtcIndex != crtc.index || (!all && it->target > crtc.vblank.count)) {
            ++it;
            continue;
        }
        if (FileRef file = it->file.lock())
            sendVblankEvent(device, *file, *it);
        it = pending.erase(it);
    }
}

// A flip waits for the GE work submitted before it (implicit fencing).
void runVblankWork(Device &device, Crtc &crtc)
{
    if (crtc.flip && device.ge.completed(crtc.flip->geSeqno))
        finishFlip(device, crtc);
    deliverVblankEvents(device, crtc, false);
}

// One step of the device's clock: GE work done since the last counts as
// activity for settling.
void tick(Device &device)
{
    ++device.ticks;
    if (device.ge.takeActivity())
        device.noteActivity();
}

// STEPS vblanks of the counter, the last of them at IDEAL (or one frame
// after the last one stamped, should the manual clock have run ahead).
void advance(VblankCounter &v, uint64_t steps, int64_t ideal)
{
    v.count += steps;
    v.lastNs = std::max(ideal, v.lastNs + static_cast<int64_t>(steps) * v.frameNs);
}

} // namespace

void startVblanks(Device &device, Crtc &crtc)
{
    VblankCounter &v = crtc.vblank;
    const int64_t now = monotonicNs();
    v.count += 1;
    v.lastNs = std::max(now, v.lastNs + 1);
    v.frameNs = std::max<int64_t>(1, frameDurationNs(crtc.mode));
    v.nextDeadline = now + v.frameNs;
    device.clock.reschedule(v.nextDeadline);
}

void stopVblanks(Device &device, Crtc &crtc)
{
    completeFlipNow(device, crtc);
    deliverVblankEvents(device, crtc, true);
    crtc.vblank.frameNs = 0;
    device.changed.notify_all();
}

int64_t runDueVblanks(Device &device, int64_t now)
{
    std::vector<Crtc *> due;
    const Crtc *reference = nullptr; // the first CRTC that counts sets the ticks' pace
    int64_t next = INT64_MAX;
    for (Crtc &crtc : device.crtcs) {
        const VblankCounter &v = crtc.vblank;
        if (!v.counting())
            continue;
        if (!reference)
            reference = &crtc;
        if (v.nextDeadline <= now)
            due.push_back(&crtc);
        else
            next = std::min(next, v.nextDeadline);
    }
    const bool idle = !reference;
    if (due.empty() && !idle)
        return next; // woken early: no vblank has come yet
    if (idle && device.idleDeadline > now)
        return device.idleDeadline;
    if (idle || due.front() == reference)
        tick(device);
    for (Crtc *crtc : due) {
        VblankCounter &v = crtc->vblank;
        const int64_t late = (now - v.nextDeadline) / v.frameNs;
        advance(v, static_cast<uint64_t>(late) + 1, v.nextDeadline + late * v.frameNs);
        v.nextDeadline += (late + 1) * v.frameNs;
        next = std::min(next, v.nextDeadline);
        runVblankWork(device, *crtc);
    }
    device.idleDeadline = now + idleBeatNs;
    device.changed.notify_all();
    return idle ? device.idleDeadline : next;
}

void stepVblank(Device &device, std::optional<size_t> crtcIndex)
{
    tick(device);
    for (Crtc &crtc : device.crtcs) {
        VblankCounter &v = crtc.vblank;
        if (!v.counting() || (crtcIndex && *crtcIndex != crtc.index))
            continue;
        advance(v, 1, v.lastNs + v.frameNs);
        runVblankWork(device, crtc);
    }
    device.changed.notify_all();
}

void resumeVblankClock(Device &device)
{
    const int64_t now = monotonicNs();
    for (Crtc &crtc : device.crtcs)
        if (crtc.vblank.counting())
            crtc.vblank.nextDeadline = now + crtc.vblank.frameNs;
}

void completeFlipNow(Device &device, Crtc &crtc)
{
    if (crtc.flip)
        finishFlip(device, crtc);
}

void queueVblankEvent(Device &device, const FileRef &file, const PendingVblankEvent &event)
{
    if (event.target <= device.crtcs[event.crtcIndex].vblank.count) {
        sendVblankEvent(device, *file, event);
        return;
    }
    device.pendingVblankEvents.push_back(event);
}

} // namespace qelsim
