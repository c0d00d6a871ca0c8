// SPDX-License-Identifier: MIT
#include "simulated_calls.h"

#include "console.h"
#include "device.h"
#include "device_files.h"
#include "real_libc.h"
#include "reentry_guard.h"

#include <cerrno>
#include <cstring>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace qelsim {
namespace {

constexpr unsigned ttyAuxMajor = 5;

BufferRef bufferAtOffset(const DrmFile &file, uint64_t offset, uint64_t len)
{
    for (const auto &[handle, buffer] : file.handles) {
        const uint64_t end = buffer->mapOffset + buffer->mapSize;
        if (offset >= buffer->mapOffset && offset < end && len <= end - offset)
            return buffer;
    }
    return nullptr;
}

} // namespace

bool simulateOpen(const char *path, int flags, int &fd)
{
    if (ReentryGuard::active() || !path)
        return false;
    ReentryGuard inside;
    unsigned vt;
    if (Console::isNodePath(path, vt)) {
        fd = Console::instance().open(vt, flags);
        return true;
    }
    if (std::strncmp(path, "/dev/vc/", 8) == 0) {
        errno = ENOENT;
        fd = -1;
        return true;
    }
    Device &device = Device::instance();
    {
        std::lock_guard lock(device.mutex);
        uint32_t minor;
        if (!device.isNodePath(path, minor))
            return false;
        fd = openDeviceFile(device, minor, flags);
    }
    device.startClock();
    return true;
}

bool nodeOfPath(const char *path, NodeId &node)
{
    if (ReentryGuard::active() || !path)
        return false;
    ReentryGuard inside;
    if (Console::isNodePath(path, node.minor)) {
        node.major = ttyMajor;
        return true;
    }
    Device &device = Device::instance();
    std::lock_guard lock(device.mutex);
    node.major = drmMajor;
    return device.isNodePath(path, node.minor);
}

bool nodeOfFd(int fd, NodeId &node)
{
    if (ReentryGuard::active())
        return false;
    ReentryGuard inside;
    if (Console *console = Console::existing(); console && console->minorOfFd(fd, node.minor)) {
        node.major = ttyMajor;
        return true;
    }
    Device *device = Device::existing();
    if (!device)
        return false;
    std::lock_guard lock(device->mutex);
    const FileRef file = device->findFile(fd);
    if (file)
        node = NodeId{drmMajor, file->minor};
    return file != nullptr;
}

bool simulateConsoleIoctl(int fd, unsigned long request, void *arg, int &result)
{
    Console *console = Console::existing();
    if (ReentryGuard::active() || !console)
        return false;
    ReentryGuard inside;
    return console->ioctl(fd, request, arg, result);
}

void noteClose(int fd)
{
    if (ReentryGuard::active())
        return;
    ReentryGuard inside;
    if (Console *console = Console::existing())
        console->forget(fd);
    Device *device = Device::existing();
    if (!device)
        return;
    std::lock_guard lock(device->mutex);
    forgetDeviceFd(*device, fd);
}

void noteDup(int oldFd, int newFd)
{
    if (ReentryGuard::active() || newFd < 0)
        return;
    ReentryGuard inside;
    if (Console *console = Console::existing())
        console->share(oldFd, newFd);
    Device *device = Device::existing();
    if (!device)
        return;
    std::lock_guard lock(device->mutex);
    if (device->findFile(oldFd))
        shareDeviceFile(*device, oldFd, newFd);
    else
        forgetDeviceFd(*device, newFd);
}

bool simulateMmap(void *addr, size_t len, int prot, int flags, int fd, int64_t offset,
                  void *&result)
{
    Device *device = Device::existing();
    if (ReentryGuard::active() || !device)
        return false;
    ReentryGuard inside;
    std::lock_guard lock(device->mutex);
    const FileRef file = device->findFile(fd);
    if (!file)
        return false;
    const BufferRef buffer = bufferAtOffset(*file, static_cast<uint64_t>(offset), len);
    if (!buffer) {
        errno = EINVAL;
        result = MAP_FAILED;
        return true;
    }
    QELSIM_NEXT(mmap64); // see allocateMemory() in ioctl_dumb.cpp
    result = fn(addr, len, prot, flags, buffer->memfd,
                static_cast<off_t>(static_cast<uint64_t>(offset) - buffer->mapOffset));
    return true;
}

bool isTerminal(int fd)
{
    struct stat st;
    if (syscall(SYS_fstat, fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const unsigned major = ::major(st.st_rdev);
    return major == ttyMajor || major == ttyAuxMajor;
}

} // namespace qelsim
