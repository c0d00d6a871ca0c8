// SPDX-License-Identifier: MIT
// Interposed open family, close and the descriptor duplicators: a device
// node opens as a simulated device file, and the simulator follows its
// descriptors as they are copied and closed.
// Both the plain and the 64-bit names are defined here, so neither may be
// redirected to the other.
#undef _FILE_OFFSET_BITS
#undef _FORTIFY_SOURCE
#include "real_libc.h"
#include "simulated_calls.h"

#include <cstdarg>
#include <fcntl.h>
#include <unistd.h>

extern "C" {
int __open_2(const char *path, int flags);
int __open64_2(const char *path, int flags);
int __openat_2(int dirfd, const char *path, int flags);
int __openat64_2(int dirfd, const char *path, int flags);
int fcntl64(int fd, int cmd, ...);
}

namespace {

bool needsMode(int flags)
{
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE;
}

// openat() with a relative path never names a device node: the nodes are
// configured as absolute paths.
bool simulateOpenAt(int dirfd, const char *path, int flags, int &fd)
{
    (void)dirfd;
    return path && path[0] == '/' && qelsim::simulateOpen(path, flags, fd);
}

bool isDup(int cmd)
{
    return cmd == F_DUPFD || cmd == F_DUPFD_CLOEXEC;
}

} // namespace

#define QELSIM_MODE_ARG(flags)                       \
    mode_t mode = 0;                                 \
    if (needsMode(flags)) {                          \
        va_list ap;                                  \
        va_start(ap, flags);                         \
        mode = static_cast<mode_t>(va_arg(ap, int)); \
        va_end(ap);                                  \
    }

extern "C" int open(const char *path, int flags, ...)
{
    QELSIM_MODE_ARG(flags);
    int fd;
    if (qelsim::simulateOpen(path, flags, fd))
        return fd;
    QELSIM_NEXT(open);
    return fn(path, flags, mode);
}

extern "C" int open64(const char *path, int flags, ...)
{
    QELSIM_MODE_ARG(flags);
    int fd;
    if (qelsim::simulateOpen(path, flags, fd))
        return fd;
    QELSIM_NEXT(open64);
    return fn(path, flags, mode);
}

extern "C" int __open_2(const char *path, int flags)
{
    int fd;
    if (qelsim::simulateOpen(path, flags, fd))
        return fd;
    QELSIM_NEXT(__open_2);
    return fn(path, flags);
}

extern "C" int __open64_2(const char *path, int flags)
{
    int fd;
    if (qelsim::simulateOpen(path, flags, fd))
        return fd;
    QELSIM_NEXT(__open64_2);
    return fn(path, flags);
}

extern "C" int openat(int dirfd, const char *path, int flags, ...)
{
    QELSIM_MODE_ARG(flags);
    int fd;
    if (simulateOpenAt(dirfd, path, flags, fd))
        return fd;
    QELSIM_NEXT(openat);
    return fn(dirfd, path, flags, mode);
}

extern "C" int openat64(int dirfd, const char *path, int flags, ...)
{
    QELSIM_MODE_ARG(flags);
    int fd;
    if (simulateOpenAt(dirfd, path, flags, fd))
        return fd;
    QELSIM_NEXT(openat64);
    return fn(dirfd, path, flags, mode);
}

extern "C" int __openat_2(int dirfd, const char *path, int flags)
{
    int fd;
    if (simulateOpenAt(dirfd, path, flags, fd))
        return fd;
    QELSIM_NEXT(__openat_2);
    return fn(dirfd, path, flags);
}

extern "C" int __openat64_2(int dirfd, const char *path, int flags)
{
    int fd;
    if (simulateOpenAt(dirfd, path, flags, fd))
        return fd;
    QELSIM_NEXT(__openat64_2);
    return fn(dirfd, path, flags);
}

extern "C" int close(int fd)
{
    qelsim::noteClose(fd);
    QELSIM_NEXT(close);
    return fn(fd);
}

extern "C" int dup(int fd) noexcept
{
    QELSIM_NEXT(dup);
    const int copy = fn(fd);
    qelsim::noteDup(fd, copy);
    return copy;
}

extern "C" int dup2(int fd, int fd2) noexcept
{
    QELSIM_NEXT(dup2);
    const int copy = fn(fd, fd2);
    if (fd != fd2)
        qelsim::noteDup(fd, copy);
    return copy;
}

extern "C" int dup3(int fd, int fd2, int flags) noexcept
{
    QELSIM_NEXT(dup3);
    const int copy = fn(fd, fd2, flags);
    qelsim::noteDup(fd, copy);
    return copy;
}

extern "C" int fcntl(int fd, int cmd, ...)
{
    va_list ap;
    va_start(ap, cmd);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    QELSIM_NEXT(fcntl);
    const int result = fn(fd, cmd, arg);
    if (isDup(cmd))
        qelsim::noteDup(fd, result);
    return result;
}

extern "C" int fcntl64(int fd, int cmd, ...)
{
    va_list ap;
    va_start(ap, cmd);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    QELSIM_NEXT(fcntl64);
    const int result = fn(fd, cmd, arg);
    if (isDup(cmd))
        qelsim::noteDup(fd, result);
    return result;
}
