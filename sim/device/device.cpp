#include "device.h"

#include "description_file.h"
#include "reentry_guard.h"
#include "vblank_events.h"

#include <atomic>
#include <pthread.h>
#include <cstring>

namespace qelsim {

namespace {

std::atomic<Device *> built{nullptr};

// A child of fork() has only the forking thread: had the clock or control
// thread held the mutex at that moment, the child's close() and dup2()
// before exec would wait for it forever. So nobody holds it across fork.
void lockForFork()
{
    built.load()->mutex.lock();
}

void unlockAfterFork()
{
    built.load()->mutex.unlock();
}

} // namespace

Device &Device::instance()
{
    // Never destroyed: the clock and GE threads may still be running while
    // the process exits.
    static Device *device = [] {
        ReentryGuard inside;
        Device *d = new Device();
        built = d;
        pthread_atfork(lockForFork, unlockAfterFork, unlockAfterFork);
        return d;
    }();
    return *device;
}

Device *Device::existing()
{
    return built.load();
}

Device::Device()
{
    description = loadDescriptionFromEnvironment();
    buildObjects();
    clock_gettime(CLOCK_MONOTONIC, &lastVblankTime);
    ge.start([this](const DrmFile &file, uint32_t handle) {
        std::lock_guard lock(mutex);
        return findBuffer(file, handle);
    });
}

void Device::startClock()
{
    std::call_once(clockStarted_, [this] {
        ge.engine().setMode(description.threadedGe, description.geDelayUs);
        clock.start([this] {
            std::lock_guard lock(mutex);
            advanceVblank(*this);
        }, description.manualVblank);
    });
}

void Device::reset(const DeviceDescription &newDescription)
{
    ge.engine().idle();
    std::lock_guard lock(mutex);
    description = newDescription;
    files.clear();
    master = nullptr;
    framebuffers.clear();
    blobs.clear();
    counters = {};
    faults = {};
    pendingVblankEvents.clear();
    flipLog.clear();
    flipProbes.clear();
    vblankCount = 0;
    clock_gettime(CLOCK_MONOTONIC, &lastVblankTime);
    lastActivityVblank = 0;
    buildObjects();
    GeEngine &engine = ge.engine();
    engine.setMode(description.threadedGe, description.geDelayUs);
    engine.failSubmits(0, 0);
    engine.failWaits(0);
    engine.setLogging(false);
    engine.clearLog();
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
    return master == &file && !faults.masterHeldElsewhere;
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
