// SPDX-License-Identifier: MIT
// The checks the kernel makes before it wraps a buffer as a framebuffer,
// shared by ADDFB/ADDFB2 and the cursor ioctls (which wrap the cursor's
// buffer in a framebuffer of their own).
#pragma once

#include "ioctl_call.h"

namespace qelsim {

// framebuffer_check() and the GEM helper's size check for one plane of
// 32-bit pixels: 0 with the calling file's buffer of R's handle in BUFFER,
// or a negative errno.
int checkFramebuffer(IoctlCall &call, const drm_mode_fb_cmd2 &r, BufferRef &buffer);

} // namespace qelsim
