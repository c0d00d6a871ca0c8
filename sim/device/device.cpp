// SPDX-License-Identifier: MIT
#include "device.h"

#include "description_file.h"
#include "vblank_events.h"

#include <cstring>

namespace qelsim {

Device::Device(DeviceHooks &deviceHooks) : hooks(deviceHooks)
{
    description = loadDescriptionFromEnvironment();
    buildObjects();
    ge.start([this](const DrmFile &file, uint32_t handle) {
        std::lock_guard lock(mutex);
        return findBuffer(file, handle);
    });
    ge.engine().setHooks(&hooks.geHooks());
}

void Device::startClock()
{
    std::call_once(clockStarted_, [this] {
        ge.engine().setMode(description.threadedGe, description.geDelayUs);
        clock.start(
            [this](int64_t now) {
                std::lock_guard lock(mutex);
                return runDueVblanks(*this, now);
            },
            description.manualVblank);
    });
}

void Device::reset(const DeviceDescription &newDescription)
{
    ge.engine().setHung(false);
    ge.engine().idle();
    std::lock_guard lock(mutex);
    description = newDescription;
    files.clear();
    master = nullptr;
    otherClient.reset();
    framebuffers.clear();
    blobs.clear();
    hooks.deviceReset();
    pendingVblankEvents.clear();
    ticks = 0;
    idleDeadline = 0;
    lastActivityTick = 0;
    buildObjects();
    ge.engine().setMode(description.threadedGe, description.geDelayUs);
    ge.resetCounters();
    clock.setManual(description.manualVblank);
}

Crtc *Device::findCrtc(uint32_t id)
{
    for (auto &c : crtcs)
        if (c.id == id)
            return &c;
    return nullptr;
}

Connector *Device::findConnector(uint32_t id)
{
    for (auto &c : connectors)
        if (c.id == id)
            return &c;
    return nullptr;
}

Encoder *Device::findEncoder(uint32_t id)
{
    for (auto &e : encoders)
        if (e.id == id)
            return &e;
    return nullptr;
}

const Property *Device::findProperty(uint32_t id) const
{
    for (const auto &p : properties)
        if (p.id == id)
            return &p;
    return nullptr;
}

FramebufferRef Device::findFramebuffer(uint32_t id) const
{
    const auto it = framebuffers.find(id);
    return it == framebuffers.end() ? nullptr : it->second;
}

FileRef Device::findFile(int fd) const
{
    const auto it = files.find(fd);
    return it == files.end() ? nullptr : it->second;
}

BufferRef Device::findBuffer(const DrmFile &file, uint32_t handle) const
{
    const auto it = file.handles.find(handle);
    return it == file.handles.end() ? nullptr : it->second;
}

BufferRef Device::findBufferAnywhere(uint32_t handle) const
{
    for (const auto &[fd, file] : files)
        if (BufferRef b = findBuffer(*file, handle))
            return b;
    return nullptr;
}

bool Device::isMaster(const DrmFile &file) const
{
    return master == &file && !hooks.masterHeldElsewhere();
}

bool Device::isNodePath(const char *path, uint32_t &minor) const
{
    for (size_t i = 0; i < description.nodes.size(); ++i) {
        if (std::strcmp(description.nodes[i].c_str(), path) == 0) {
            minor = static_cast<uint32_t>(i);
            return true;
        }
    }
    return false;
}

} // namespace qelsim
