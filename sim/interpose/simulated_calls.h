// SPDX-License-Identifier: MIT
// The parts of the interposed libc calls that concern device nodes. Each
// returns false (or does nothing) for anything else, and the interposer
// then forwards the call unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

namespace qelsim {

bool simulateOpen(const char *path, int flags, int &fd);
bool nodeMinorOfPath(const char *path, uint32_t &minor);
bool nodeMinorOfFd(int fd, uint32_t &minor);
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
