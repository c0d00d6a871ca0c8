// SPDX-License-Identifier: MIT
// Interposed ioctl and mmap: device descriptors are answered by the
// simulated device, VT descriptors by the simulated console, terminals by
// the kernel itself, the rest by whatever comes next (libc, or umockdev's
// preload).
// Both the plain and the 64-bit names are defined here, so neither may be
// redirected to the other.
#undef _FILE_OFFSET_BITS
#undef _FORTIFY_SOURCE
#include "device.h"
#include "ioctl_dispatch.h"
#include "real_libc.h"
#include "reentry_guard.h"
#include "simulated_calls.h"

#include <cstdarg>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

int deviceIoctl(int fd, unsigned long request, void *arg, bool &handled)
{
    handled = false;
    if (qelsim::ReentryGuard::active() || !qelsim::Device::existing())
        return 0;
    qelsim::ReentryGuard inside;
    int result = 0;
    handled = qelsim::dispatchIoctl(fd, request, arg, result);
    return result;
}

} // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept
{
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    int console;
    if (qelsim::simulateConsoleIoctl(fd, request, arg, console))
        return console;
    bool handled;
    const int result = deviceIoctl(fd, request, arg, handled);
    if (handled)
        return result;
    if (qelsim::isTerminal(fd))
        return static_cast<int>(syscall(SYS_ioctl, fd, request, arg));
    QELSIM_NEXT(ioctl);
    return fn(fd, request, arg);
}

extern "C" void *mmap(void *addr, size_t len, int prot, int flags, int fd, off_t offset) noexcept
{
    void *result;
    if (fd >= 0 && qelsim::simulateMmap(addr, len, prot, flags, fd, offset, result))
        return result;
    QELSIM_NEXT(mmap);
    return fn(addr, len, prot, flags, fd, offset);
}

extern "C" void *mmap64(void *addr, size_t len, int prot, int flags, int fd,
                        off64_t offset) noexcept
{
    void *result;
    if (fd >= 0 && qelsim::simulateMmap(addr, len, prot, flags, fd, offset, result))
        return result;
    QELSIM_NEXT(mmap64);
    return fn(addr, len, prot, flags, fd, offset);
}

// Mappings of device buffers are ordinary shared mappings of their memfd:
// unmapping them needs nothing from the simulator.
extern "C" int munmap(void *addr, size_t len) noexcept
{
    QELSIM_NEXT(munmap);
    return fn(addr, len);
}
