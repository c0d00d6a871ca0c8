// SPDX-License-Identifier: MIT
// Where test instrumentation attaches to the device model: the device asks
// whether an armed fault fails a call, and reports the events tests count
// and log.
// The device holds these hooks and no test bookkeeping of its own; the
// bookkeeping lives in sim/instrumentation.
#pragma once

#include "ge_hooks.h"
#include "objects.h"

#include <cstddef>
#include <cstdint>

namespace qelsim {

// Called with the device mutex held: an implementation guards its own state
// and never calls back into the device.
class DeviceHooks {
public:
    virtual ~DeviceHooks() = default;

    // Armed faults: true when this call must fail.
    virtual bool failFlip(size_t crtcIndex) = 0;
    virtual bool failSetCrtc() = 0;
    virtual bool failGetConnector() = 0;
    virtual bool failCreateDumb() = 0;
    // Another process holds DRM master: no file here is or becomes master.
    virtual bool masterHeldElsewhere() const = 0;

    // Calls as the device answered them.
    virtual void ioctlCalled(const char *name) = 0; // every call of a known ioctl
    virtual void flipRequested(bool accepted) = 0;
    virtual void setCrtcCalled() = 0;
    virtual void cursorCalled(bool setsImage, bool moves) = 0; // accepted calls only
    virtual void dumbCreated() = 0;                            // accepted CREATE_DUMB calls

    // A flip put FB on screen on CRTC at vblank VBLANK (after the GE work
    // it waited for).
    virtual void flipShown(const Crtc &crtc, const Framebuffer &fb, uint64_t vblank) = 0;

    // The device was rebuilt: whatever was armed or recorded is forgotten.
    virtual void deviceReset() = 0;

    // The hooks of the device's GE engine.
    virtual GeHooks &geHooks() = 0;
};

} // namespace qelsim
