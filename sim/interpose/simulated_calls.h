// SPDX-License-Identifier: MIT
// The parts of the interposed libc calls that concern the simulated nodes:
// the device's and the VTs'. Each returns false (or does nothing) for
// anything else, and the interposer then forwards the call unchanged.
#pragma once

#include "node_stat.h"

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

namespace qelsim {

// An open of a device node or a VT node; /dev/vc/N, where old systems
// kept the VTs, fails with ENOENT, as it does on today's.
bool simulateOpen(const char *path, int flags, int &fd);
bool nodeOfPath(const char *path, NodeId &node);
bool nodeOfFd(int fd, NodeId &node);
// The ioctls of VT descriptors (the device's go to dispatchIoctl()).
bool simulateConsoleIoctl(int fd, unsigned long request, void *arg, int &result);
void noteClose(int fd);
// NEWFD is now a copy of OLDFD, made by dup, dup2, dup3 or fcntl.
void noteDup(int oldFd, int newFd);
// OFFSET is 64-bit whatever off_t is where the call was interposed.
bool simulateMmap(void *addr, size_t len, int prot, int flags, int fd, int64_t offset,
                  void *&result);
// Whether FD is a terminal: its ioctls must reach the kernel even when
// umockdev's preload would answer them.
bool isTerminal(int fd);

} // namespace qelsim
