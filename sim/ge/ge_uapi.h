// SPDX-License-Identifier: MIT
// The GE ioctls' records under C++ names. The kernel driver's uAPI header
// (include/drm/tx3120_drm.h) is their only definition; this file names
// them for the engine and checks the layout it reads in place.
#pragma once

#include <drm/tx3120_drm.h>

#include <bit>
#include <cstddef>
#include <cstdint>

namespace qelsim::uapi {

using GeOp = drm_tx3120_ge_op;
using GeSubmitArgs = drm_tx3120_ge_submit;
using GeWaitArgs = drm_tx3120_ge_wait;

static_assert(std::endian::native == std::endian::little,
              "the records are read in place, which needs a little-endian host");

static_assert(sizeof(GeSubmitArgs) == 24);
static_assert(offsetof(GeSubmitArgs, ops) == 0);
static_assert(offsetof(GeSubmitArgs, count) == 8);
static_assert(offsetof(GeSubmitArgs, reserved0) == 12);
static_assert(offsetof(GeSubmitArgs, seqno) == 16);
static_assert(offsetof(GeSubmitArgs, reserved1) == 20);

static_assert(sizeof(GeWaitArgs) == 8);
static_assert(offsetof(GeWaitArgs, seqno) == 0);
static_assert(offsetof(GeWaitArgs, timeout_us) == 4);

static_assert(sizeof(GeOp) == 52);
static_assert(offsetof(GeOp, type) == 0);
static_assert(offsetof(GeOp, rop) == 4);
static_assert(offsetof(GeOp, dst_handle) == 8);
static_assert(offsetof(GeOp, dst_pitch) == 12);
static_assert(offsetof(GeOp, dst_x) == 16);
static_assert(offsetof(GeOp, dst_y) == 20);
static_assert(offsetof(GeOp, width) == 24);
static_assert(offsetof(GeOp, height) == 28);
static_assert(offsetof(GeOp, fill_color) == 32);
static_assert(offsetof(GeOp, src_handle) == 36);
static_assert(offsetof(GeOp, src_pitch) == 40);
static_assert(offsetof(GeOp, src_x) == 44);
static_assert(offsetof(GeOp, src_y) == 48);
static_assert(sizeof(GeOp) * TX3120_GE_MAX_OPS == 53248);

static_assert(DRM_IOCTL_TX3120_GE_SUBMIT == 0xC0186440UL);
static_assert(DRM_IOCTL_TX3120_GE_WAIT == 0x40086441UL);

} // namespace qelsim::uapi
