// SPDX-License-Identifier: MIT
// Entry of every ioctl on a device descriptor, as the kernel's drm_ioctl():
// decodes the number, checks master-only calls, copies the argument in and
// out, and counts the call.
#pragma once

namespace qelsim {

// False when FD is not a device descriptor or REQUEST is no DRM ioctl
// (the call then belongs to libc).
// Otherwise RESULT is the ioctl's return value, errno set on failure.
bool dispatchIoctl(int fd, unsigned long request, void *arg, int &result);

} // namespace qelsim
