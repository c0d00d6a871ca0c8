// SPDX-License-Identifier: MIT
// Interposed stat family and access(): device nodes and VT nodes, and
// their descriptors, are character devices 226:N and 4:N whether or not
// the node exists on disk.
// Both the plain and the 64-bit names are defined here, so neither may be
// redirected to the other.
#undef _FILE_OFFSET_BITS
#undef _FORTIFY_SOURCE
#include "real_libc.h"
#include "simulated_calls.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The __xstat forms are what binaries built against glibc before 2.33 call.
extern "C" {
int __xstat(int ver, const char *path, struct stat *st);
int __lxstat(int ver, const char *path, struct stat *st);
int __fxstat(int ver, int fd, struct stat *st);
int __fxstatat(int ver, int dirfd, const char *path, struct stat *st, int flags);
int __xstat64(int ver, const char *path, struct stat64 *st);
int __lxstat64(int ver, const char *path, struct stat64 *st);
int __fxstat64(int ver, int fd, struct stat64 *st);
int __fxstatat64(int ver, int dirfd, const char *path, struct stat64 *st, int flags);
}

namespace {

template <typename Stat> bool statPath(const char *path, Stat *st)
{
    qelsim::NodeId node;
    if (!qelsim::nodeOfPath(path, node))
        return false;
    qelsim::fillNodeStat(st, node);
    return true;
}

template <typename Stat> bool statFd(int fd, Stat *st)
{
    qelsim::NodeId node;
    if (!qelsim::nodeOfFd(fd, node))
        return false;
    qelsim::fillNodeStat(st, node);
    return true;
}

// fstatat(fd, "", st, AT_EMPTY_PATH) is fstat(fd).
template <typename Stat> bool statAt(int dirfd, const char *path, Stat *st, int flags)
{
    if (path && path[0] == '\0' && (flags & AT_EMPTY_PATH))
        return statFd(dirfd, st);
    return path && path[0] == '/' && statPath(path, st);
}

} // namespace

#define QELSIM_STAT_PATH(name, Stat)                         \
    extern "C" int name(const char *path, Stat *st) noexcept \
    {                                                        \
        if (statPath(path, st))                              \
            return 0;                                        \
        QELSIM_NEXT(name);                                   \
        return fn(path, st);                                 \
    }

#define QELSIM_STAT_FD(name, Stat)                 \
    extern "C" int name(int fd, Stat *st) noexcept \
    {                                              \
        if (statFd(fd, st))                        \
            return 0;                              \
        QELSIM_NEXT(name);                         \
        return fn(fd, st);                         \
    }

#define QELSIM_STAT_AT(name, Stat)                                                 \
    extern "C" int name(int dirfd, const char *path, Stat *st, int flags) noexcept \
    {                                                                              \
        if (statAt(dirfd, path, st, flags))                                        \
            return 0;                                                              \
        QELSIM_NEXT(name);                                                         \
        return fn(dirfd, path, st, flags);                                         \
    }

#define QELSIM_XSTAT_PATH(name, Stat)                        \
    extern "C" int name(int ver, const char *path, Stat *st) \
    {                                                        \
        if (statPath(path, st))                              \
            return 0;                                        \
        QELSIM_NEXT(name);                                   \
        return fn(ver, path, st);                            \
    }

#define QELSIM_XSTAT_FD(name, Stat)                \
    extern "C" int name(int ver, int fd, Stat *st) \
    {                                              \
        if (statFd(fd, st))                        \
            return 0;                              \
        QELSIM_NEXT(name);                         \
        return fn(ver, fd, st);                    \
    }

#define QELSIM_XSTAT_AT(name, Stat)                                                \
    extern "C" int name(int ver, int dirfd, const char *path, Stat *st, int flags) \
    {                                                                              \
        if (statAt(dirfd, path, st, flags))                                        \
            return 0;                                                              \
        QELSIM_NEXT(name);                                                         \
        return fn(ver, dirfd, path, st, flags);                                    \
    }

QELSIM_STAT_PATH(stat, struct stat)
QELSIM_STAT_PATH(lstat, struct stat)
QELSIM_STAT_PATH(stat64, struct stat64)
QELSIM_STAT_PATH(lstat64, struct stat64)
QELSIM_STAT_FD(fstat, struct stat)
QELSIM_STAT_FD(fstat64, struct stat64)
QELSIM_STAT_AT(fstatat, struct stat)
QELSIM_STAT_AT(fstatat64, struct stat64)
QELSIM_XSTAT_PATH(__xstat, struct stat)
QELSIM_XSTAT_PATH(__lxstat, struct stat)
QELSIM_XSTAT_PATH(__xstat64, struct stat64)
QELSIM_XSTAT_PATH(__lxstat64, struct stat64)
QELSIM_XSTAT_FD(__fxstat, struct stat)
QELSIM_XSTAT_FD(__fxstat64, struct stat64)
QELSIM_XSTAT_AT(__fxstatat, struct stat)
QELSIM_XSTAT_AT(__fxstatat64, struct stat64)

extern "C" int statx(int dirfd, const char *path, int flags, unsigned mask,
                     struct statx *st) noexcept
{
    qelsim::NodeId node;
    const bool byFd = path[0] == '\0' && (flags & AT_EMPTY_PATH);
    if (byFd ? qelsim::nodeOfFd(dirfd, node) : (path[0] == '/' && qelsim::nodeOfPath(path, node))) {
        qelsim::fillNodeStatx(st, node);
        return 0;
    }
    QELSIM_NEXT(statx);
    return fn(dirfd, path, flags, mask, st);
}

extern "C" int access(const char *path, int mode) noexcept
{
    qelsim::NodeId node;
    if (qelsim::nodeOfPath(path, node))
        return 0;
    QELSIM_NEXT(access);
    return fn(path, mode);
}
