// SPDX-License-Identifier: MIT
// The simulated device: every kernel object, the open files and the vblank
// clock, behind one mutex. Ioctl handlers run with `mutex` held, except the
// GE calls, which the engine serialises itself. Test instrumentation
// attaches through `hooks`.
#pragma once

#include "description.h"
#include "device_hooks.h"
#include "ge_bridge.h"
#include "objects.h"
#include "vblank_clock.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace qelsim {

struct PropertyIds {
    uint32_t edid = 0, dpms = 0, nonDesktop = 0, planeType = 0;
};

class Device {
public:
    // The process-wide device, built from QELSIM_CONFIG on first use with
    // the process's instrumentation attached (process_device.cpp).
    static Device &instance();
    // The device if some call has already built it, else null: calls on
    // descriptors need not build a device that cannot own them.
    static Device *existing();

    // Throws the current state away and rebuilds it from DESCRIPTION.
    // Descriptors opened before stay open but are no longer device files.
    void reset(const DeviceDescription &description);

    // Starts the vblank clock thread and puts the GE in the described mode;
    // done when the first file opens (or a control request needs it), so
    // that processes which never open the device run no extra threads.
    // Call without the mutex held.
    void startClock();

    std::mutex mutex;
    std::condition_variable changed; // a vblank passed or a CRTC stopped counting

    DeviceDescription description;
    std::vector<Crtc> crtcs;
    std::vector<Encoder> encoders;
    std::vector<Connector> connectors;
    std::vector<Property> properties;
    PropertyIds propertyIds;
    std::map<uint32_t, std::vector<uint8_t>> blobs;
    std::map<uint32_t, FramebufferRef> framebuffers;

    std::map<int, FileRef> files; // by descriptor
    const DrmFile *master = nullptr;
    // The file of another process's client while the server's VT is away
    // (other_client.h); null otherwise.
    FileRef otherClient;

    DeviceHooks &hooks;
    GeBridge ge;
    VblankClock clock;

    // The steps of the vblank clock (a vblank of some CRTC, or the idle
    // beat while none counts): the time base of settling.
    uint64_t ticks = 0;
    int64_t idleDeadline = 0;
    uint64_t lastActivityTick = 0;
    std::vector<PendingVblankEvent> pendingVblankEvents;

    uint32_t nextObjectId =
        1; // while building: the next id; then the first id after the built objects
    // Ids below this one belong to objects that never go away (properties,
    // planes, CRTCs, encoders, connectors); blobs and framebuffers do.
    uint32_t firstReleasableId = 1;
    uint64_t nextMapOffset = 0;
    uint32_t nextMagic = 1;

    // The lowest object id not in use, as the kernel's idr hands them out.
    uint32_t freeObjectId() const
    {
        uint32_t id = firstReleasableId;
        while (blobs.count(id) || framebuffers.count(id))
            ++id;
        return id;
    }

    // Lookups by object id; null when there is none.
    Crtc *findCrtc(uint32_t id);
    Connector *findConnector(uint32_t id);
    Encoder *findEncoder(uint32_t id);
    const Property *findProperty(uint32_t id) const;
    FramebufferRef findFramebuffer(uint32_t id) const;
    FileRef findFile(int fd) const;
    BufferRef findBuffer(const DrmFile &file, uint32_t handle) const;
    BufferRef findBufferAnywhere(uint32_t handle) const; // any file's handle

    bool isMaster(const DrmFile &file) const;
    bool isNodePath(const char *path, uint32_t &minor) const;

    // Something a test may want to settle after happened now.
    void noteActivity() { lastActivityTick = ticks; }

private:
    explicit Device(DeviceHooks &hooks);
    void buildObjects();
    void buildProperties();
    void buildCrtcs();
    void buildConnectors();
    void buildEdids();

    std::once_flag clockStarted_;
};

} // namespace qelsim
