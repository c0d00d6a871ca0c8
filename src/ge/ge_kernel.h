/* The GE's kernel interface: two driver-private ioctls and the operation
 * record the kernel reads. These are wire formats shared with the kernel. */
#ifndef QEL_GE_KERNEL_H
#define QEL_GE_KERNEL_H

#include <assert.h>
#include <stddef.h>
#include <stdint.h>

#define GE_OP_SOLID 1u
#define GE_OP_COPY 2u

#define GE_ROP_SOLID_COPY 0xF0u
#define GE_ROP_SOLID_XOR 0x5Au
#define GE_ROP_COPY_COPY 0xCCu
#define GE_ROP_COPY_XOR 0x66u

#define GE_MAX_OPS 1024u
/* The largest pitch, in bytes, that the GE addresses: 2048 pixels. */
#define GE_MAX_PITCH 8192u
#define GE_WAIT_TIMEOUT 1000000u

typedef struct qelGeOp {
    uint32_t type;
    uint32_t rop;
    uint32_t dstHandle;
    uint32_t dstPitch;
    uint32_t dstX;
    uint32_t dstY;
    uint32_t width;
    uint32_t height;
    uint32_t fillColor;
    uint32_t srcHandle;
    uint32_t srcPitch;
    uint32_t srcX;
    uint32_t srcY;
} qelGeOp;

typedef struct qelGeSubmitArgs {
    uint64_t ops;
    uint32_t count;
    uint32_t reserved0;
    uint32_t seqno;
    uint32_t reserved1;
} qelGeSubmitArgs;

typedef struct qelGeWaitArgs {
    uint32_t seqno;
    uint32_t timeout;
} qelGeWaitArgs;

/* DRM_IOWR(DRM_COMMAND_BASE + 0, 24) and DRM_IOW(DRM_COMMAND_BASE + 1, 8). */
#define GE_SUBMIT 0xC0186440u
#define GE_WAIT 0x40086441u

static_assert(sizeof(qelGeOp) == 52, "qelGeOp is 13 words");
static_assert(offsetof(qelGeOp, fillColor) == 32, "qelGeOp layout");
static_assert(offsetof(qelGeOp, srcY) == 48, "qelGeOp layout");
static_assert(sizeof(qelGeSubmitArgs) == 24, "submit args are 24 bytes");
static_assert(offsetof(qelGeSubmitArgs, count) == 8, "submit args layout");
static_assert(offsetof(qelGeSubmitArgs, seqno) == 16, "submit args layout");
static_assert(sizeof(qelGeWaitArgs) == 8, "wait args are 8 bytes");

#endif
