// Wire formats of the GE ioctls as the kernel driver defines them: the
// records user space hands to GE_SUBMIT and GE_WAIT, and the operation
// record of a batch. All fields are little-endian 32-bit words (the ops
// address is 64-bit), with no padding.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <linux/ioctl.h>

namespace qelsim::uapi {

constexpr uint32_t kGeOpSolid = 1;
constexpr uint32_t kGeOpCopy = 2;

// Ternary raster codes: truth tables over P = 0xF0, S = 0xCC, D = 0xAA.
constexpr uint32_t kRopPattern = 0xF0;        // D = P
constexpr uint32_t kRopPatternXorDst = 0x5A;  // D = P ^ D
constexpr uint32_t kRopSource = 0xCC;         // D = S
constexpr uint32_t kRopSourceXorDst = 0x66;   // D = S ^ D

constexpr uint32_t kGeMaxOpsPerBatch = 1024;

struct GeSubmitArgs {
    uint64_t ops;  // user address of the first GeOp
    uint32_t count;
    uint32_t reserved0;
    uint32_t seqno;  // out: the batch's seqno
    uint32_t reserved1;
};

struct GeWaitArgs {
    uint32_t seqno;  // 0: wait until a submit can be taken again
    uint32_t timeoutUs;
};

struct GeOp {
    uint32_t type;
    uint32_t rop;
    uint32_t dstHandle;
    uint32_t dstPitch;
    uint32_t dstX;
    uint32_t dstY;
    uint32_t width;
    uint32_t height;
    uint32_t fillColor;  // solid fills only
    uint32_t srcHandle;  // copies only, from here on
    uint32_t srcPitch;
    uint32_t srcX;
    uint32_t srcY;
};

constexpr unsigned kGeOpWords = sizeof(GeOp) / sizeof(uint32_t);

constexpr unsigned long kDrmCommandBase = 0x40;
constexpr unsigned long kGeSubmitIoctl = _IOWR('d', kDrmCommandBase + 0, GeSubmitArgs);
constexpr unsigned long kGeWaitIoctl = _IOW('d', kDrmCommandBase + 1, GeWaitArgs);

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
static_assert(offsetof(GeWaitArgs, timeoutUs) == 4);

static_assert(sizeof(GeOp) == 52);
static_assert(kGeOpWords == 13);
static_assert(offsetof(GeOp, type) == 0);
static_assert(offsetof(GeOp, rop) == 4);
static_assert(offsetof(GeOp, dstHandle) == 8);
static_assert(offsetof(GeOp, dstPitch) == 12);
static_assert(offsetof(GeOp, dstX) == 16);
static_assert(offsetof(GeOp, dstY) == 20);
static_assert(offsetof(GeOp, width) == 24);
static_assert(offsetof(GeOp, height) == 28);
static_assert(offsetof(GeOp, fillColor) == 32);
static_assert(offsetof(GeOp, srcHandle) == 36);
static_assert(offsetof(GeOp, srcPitch) == 40);
static_assert(offsetof(GeOp, srcX) == 44);
static_assert(offsetof(GeOp, srcY) == 48);
static_assert(sizeof(GeOp) * kGeMaxOpsPerBatch == 53248);

static_assert(kGeSubmitIoctl == 0xC0186440UL);
static_assert(kGeWaitIoctl == 0x40086441UL);

}  // namespace qelsim::uapi
