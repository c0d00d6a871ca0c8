// SPDX-License-Identifier: MIT
// Open files of the device: a descriptor of a device node is one end of a
// socketpair, so the client's poll() and read() see the events the
// simulator writes to the other end.
#pragma once

#include "device.h"

namespace qelsim {

// Opens a file on node MINOR with open(2) FLAGS; the descriptor, or -1 with
// errno set. Call with the device mutex held.
int openDeviceFile(Device &device, uint32_t minor, int flags);

// FD is being closed; when it was the file's last descriptor the file is
// released as the kernel does (its framebuffers removed, master dropped).
void forgetDeviceFd(Device &device, int fd);

// NEWFD now refers to the same file as OLDFD.
void shareDeviceFile(Device &device, int oldFd, int newFd);

} // namespace qelsim
