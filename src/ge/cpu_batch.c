/* SPDX-License-Identifier: MIT */
/* The GE's raster operations on the CPU, for fills and copies the CPU does
 * itself and for batches the GE could not take: the same raster codes,
 * copies within one surface as if each source row were read before its
 * destination row is written (rows bottom-up when the destination lies
 * below), and for batches nothing outside either buffer. */
#include "ge/ge.h"

#include <string.h>
#include <wchar.h>

/* The GE addresses rows of at most this many pixels. */
#define QEL_CPU_ROW_PIXELS (TX3120_GE_MAX_PITCH / 4)

/* The rectangle lies inside the buffer's mapping at that pitch; the queue
 * clipped it already, this keeps the CPU from ever writing past a mapping
 * whatever the operation says. */
static Bool
qelCpuRectInside(const qelBo *bo, uint32_t pitch, uint32_t x, uint32_t y, uint32_t w,
                 uint32_t h)
{
    if (!bo || !bo->map || w == 0 || h == 0 || w > QEL_CPU_ROW_PIXELS)
        return FALSE;
    if (pitch % 4 != 0 || pitch > TX3120_GE_MAX_PITCH || (uint64_t) x + w > pitch / 4)
        return FALSE;
    return ((uint64_t) y + h - 1) * pitch + ((uint64_t) x + w) * 4 <= bo->size;
}

_Static_assert(sizeof(wchar_t) == sizeof(uint32_t), "wmemset stores 32-bit pixels");

static uint32_t *
qelCpuRow(void *base, uint32_t pitch, int x, int y)
{
    return (uint32_t *) ((uint8_t *) base + (size_t) y * pitch) + x;
}

/* What the GE's 0xF0 and 0x5A codes do, on the CPU; the C library's
 * wmemset is its fastest store of a 32-bit value. */
void
qelCpuFillRect(void *base, uint32_t pitch, uint32_t rop, uint32_t fg, int x, int y, int w, int h)
{
    uint32_t *row = qelCpuRow(base, pitch, x, y);

    for (int j = 0; j < h; j++, row = (uint32_t *) ((char *) row + pitch)) {
        if (rop == TX3120_GE_ROP_PATTERN) {
            wmemset((wchar_t *) row, (wchar_t) fg, (size_t) w);
            continue;
        }
        for (int i = 0; i < w; i++)
            row[i] ^= fg;
    }
}

static void
qelCpuCopyRow(uint32_t *to, const uint32_t *from, uint32_t width, uint32_t rop)
{
    uint32_t taken[QEL_CPU_ROW_PIXELS];

    if (rop == TX3120_GE_ROP_SOURCE) {
        memmove(to, from, (size_t) width * 4);
        return;
    }
    /* The source row is read whole before the destination row changes. */
    if (from < to + width && to < from + width) {
        memcpy(taken, from, (size_t) width * 4);
        from = taken;
    }
    for (uint32_t i = 0; i < width; i++)
        to[i] ^= from[i];
}

void
qelCpuCopyRect(void *dst, uint32_t dstPitch, int dstX, int dstY, void *src, uint32_t srcPitch,
               int srcX, int srcY, int w, int h, uint32_t rop)
{
    Bool bottomUp = dst == src && dstY > srcY;

    if (w > QEL_CPU_ROW_PIXELS)
        return;
    for (int i = 0; i < h; i++) {
        int row = bottomUp ? h - 1 - i : i;

        qelCpuCopyRow(qelCpuRow(dst, dstPitch, dstX, dstY + row),
                      qelCpuRow(src, srcPitch, srcX, srcY + row), (uint32_t) w, rop);
    }
}

static void
qelCpuRunOp(const qelBo *dst, const qelBo *src, const qelGeOp *op)
{
    if (!qelCpuRectInside(dst, op->dst_pitch, op->dst_x, op->dst_y, op->width, op->height))
        return;
    if (op->type == TX3120_GE_OP_SOLID &&
        (op->rop == TX3120_GE_ROP_PATTERN || op->rop == TX3120_GE_ROP_PATTERN_XOR_DST))
        qelCpuFillRect(dst->map, op->dst_pitch, op->rop, op->fill_color, (int) op->dst_x,
                       (int) op->dst_y, (int) op->width, (int) op->height);
    else if (op->type == TX3120_GE_OP_COPY &&
             (op->rop == TX3120_GE_ROP_SOURCE || op->rop == TX3120_GE_ROP_SOURCE_XOR_DST) &&
             qelCpuRectInside(src, op->src_pitch, op->src_x, op->src_y, op->width, op->height))
        qelCpuCopyRect(dst->map, op->dst_pitch, (int) op->dst_x, (int) op->dst_y, src->map,
                       op->src_pitch, (int) op->src_x, (int) op->src_y, (int) op->width,
                       (int) op->height, op->rop);
}

void
qelCpuRunOps(const qelBo *dst, const qelBo *src, const qelGeOp *ops, uint32_t count)
{
    for (uint32_t i = 0; i < count; i++)
        qelCpuRunOp(dst, src, &ops[i]);
}

void
qelGeRunBatchOnCpu(qelGe *ge)
{
    qelCpuRunOps(ge->batchDst, ge->batchSrc, ge->ops, ge->opCount);
}
