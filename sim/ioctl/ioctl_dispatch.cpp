// SPDX-License-Identifier: MIT
#include "ioctl_dispatch.h"

#include "ioctl_table.h"

#include <drm/tx3120_drm.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <string>

namespace qelsim {
namespace {

// Larger than any argument record the device knows.
constexpr size_t maxArgSize = 256;

int failWith(int negativeErrno)
{
    errno = -negativeErrno;
    return -1;
}

// The kernel copies in only what both the caller and its own definition
// say is input, zero-fills the rest, and copies out likewise.
int runWithKernelCopy(IoctlCall &call, const IoctlEntry &entry, unsigned long cmd, void *arg)
{
    std::array<unsigned char, maxArgSize> kernel{};
    const size_t userSize = _IOC_SIZE(cmd);
    const size_t inSize = (cmd & entry.cmd & IOC_IN) ? userSize : 0;
    const size_t outSize = (cmd & entry.cmd & IOC_OUT) ? userSize : 0;
    const size_t kernelSize = _IOC_SIZE(entry.cmd);
    if ((inSize || outSize) && !arg)
        return -EFAULT;
    const size_t copyIn = std::min(inSize, kernelSize), copyOut = std::min(outSize, kernelSize);
    if (copyIn)
        std::memcpy(kernel.data(), arg, copyIn);
    const int result = entry.handler(call, kernel.data());
    if (copyOut)
        std::memcpy(arg, kernel.data(), copyOut);
    return result;
}

int runGe(Device &device, const FileRef &file, const IoctlEntry &entry,
          std::unique_lock<std::mutex> &lock, void *arg)
{
    lock.unlock();
    if (entry.cmd == DRM_IOCTL_TX3120_GE_SUBMIT)
        return device.ge.submit(*file, arg);
    return device.ge.wait(arg);
}

int dispatchLocked(Device &device, const FileRef &file, unsigned long cmd, void *arg,
                   std::unique_lock<std::mutex> &lock)
{
    const IoctlEntry *entry = findIoctl(_IOC_NR(cmd));
    if (!entry)
        return -EINVAL;
    device.hooks.ioctlCalled(entry->name);
    if ((entry->flags & masterOnly) && !device.isMaster(*file))
        return -EACCES;
    if (entry->flags & geIoctl)
        return runGe(device, file, *entry, lock, arg);
    IoctlCall call{device, file, lock};
    return runWithKernelCopy(call, *entry, cmd, arg);
}

} // namespace

bool dispatchIoctl(int fd, unsigned long request, void *arg, int &result)
{
    Device &device = Device::instance();
    std::unique_lock lock(device.mutex);
    const FileRef file = device.findFile(fd);
    // Generic descriptor ioctls (FIONBIO, FIOCLEX, TCGETS...) are answered
    // by the socket, as the VFS answers them before a driver sees them.
    if (!file || _IOC_TYPE(request) != DRM_IOCTL_BASE)
        return false;
    const int r = dispatchLocked(device, file, request, arg, lock);
    result = r < 0 ? failWith(r) : r;
    return true;
}

} // namespace qelsim
