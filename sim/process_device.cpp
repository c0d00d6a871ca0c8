// SPDX-License-Identifier: MIT
// The process's device, with the process's test instrumentation attached:
// the one place where the device model and the instrumentation meet.
#include "device.h"
#include "instrumentation.h"
#include "reentry_guard.h"

#include <atomic>
#include <pthread.h>

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
        Device *d = new Device(Instrumentation::instance());
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

} // namespace qelsim
