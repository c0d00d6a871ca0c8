/* SPDX-License-Identifier: MIT */
/* The TX3120 kernel driver's private interface to its 2D engine (the GE):
 * two ioctls and the operation record a batch is made of. These are wire
 * formats: every field is a little-endian 32-bit word (the ops address is
 * 64-bit) and no record has padding. */
#ifndef TX3120_DRM_H
#define TX3120_DRM_H

#include <drm.h>

#if defined(__cplusplus)
extern "C" {
#endif

#define DRM_TX3120_GE_SUBMIT 0x00
#define DRM_TX3120_GE_WAIT 0x01

/* Operation types. */
#define TX3120_GE_OP_SOLID 1
#define TX3120_GE_OP_COPY 2

/* Ternary raster codes, truth tables over P = 0xF0, S = 0xCC, D = 0xAA. */
#define TX3120_GE_ROP_PATTERN 0xF0        /* D = P */
#define TX3120_GE_ROP_PATTERN_XOR_DST 0x5A /* D = P ^ D */
#define TX3120_GE_ROP_SOURCE 0xCC         /* D = S */
#define TX3120_GE_ROP_SOURCE_XOR_DST 0x66 /* D = S ^ D */

/* The most operations one GE_SUBMIT takes. */
#define TX3120_GE_MAX_OPS 1024
/* The largest pitch, in bytes, the GE addresses: 2048 pixels of 32 bits. */
#define TX3120_GE_MAX_PITCH 8192

/* One operation: a solid fill of a rectangle of dst, or a copy into it
 * from src. Coordinates are in pixels of 32 bits, pitches in bytes. */
struct drm_tx3120_ge_op {
	__u32 type;
	__u32 rop;
	__u32 dst_handle;
	__u32 dst_pitch;
	__u32 dst_x;
	__u32 dst_y;
	__u32 width;
	__u32 height;
	__u32 fill_color; /* solid fills only */
	__u32 src_handle; /* copies only, from here on */
	__u32 src_pitch;
	__u32 src_x;
	__u32 src_y;
};

/* Queues count operations read from the user address ops; the batch's
 * sequence number comes back in seqno. EAGAIN: the queue is full. */
struct drm_tx3120_ge_submit {
	__u64 ops;
	__u32 count;
	__u32 reserved0;
	__u32 seqno; /* out */
	__u32 reserved1;
};

/* Waits up to timeout_us for the batch seqno to complete; seqno 0 waits
 * until a submit can be taken again. ETIMEDOUT: it did not. */
struct drm_tx3120_ge_wait {
	__u32 seqno;
	__u32 timeout_us;
};

#define DRM_IOCTL_TX3120_GE_SUBMIT \
	DRM_IOWR(DRM_COMMAND_BASE + DRM_TX3120_GE_SUBMIT, struct drm_tx3120_ge_submit)
#define DRM_IOCTL_TX3120_GE_WAIT \
	DRM_IOW(DRM_COMMAND_BASE + DRM_TX3120_GE_WAIT, struct drm_tx3120_ge_wait)

#if defined(__cplusplus)
}
#endif

#endif
