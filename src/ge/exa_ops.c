/* SPDX-License-Identifier: MIT */
/* EXA solid fills and copies, and the driver's own plain copies (TearFree's
 * per-CRTC buffers, contents kept across a resize), queued as GE
 * operations; a small fill into a buffer the GE is not writing is done by
 * the CPU at once. */
#include "ge/reserve.h"

/* Up to this many pixels a fill costs the CPU less than queuing it costs:
 * spans of arcs and polygons, small rectangles. Larger ones are the GE's,
 * which frees the CPU. */
#define QEL_CPU_FILL_MAX_PIXELS 1024

/* The GE has no planemask: only requests that write every plane of the
 * destination's depth can run on it. */
static Bool
qelPlanemaskCoversDepth(Pixel planemask, int depth)
{
    uint32_t mask = depth >= 32 ? 0xFFFFFFFFu : (1u << depth) - 1;

    return ((uint32_t) planemask & mask) == mask;
}

/* The GE runs GXcopy and GXxor; every other alu falls back to software. */
static Bool
qelRopFromAlu(int alu, uint32_t copyRop, uint32_t xorRop, uint32_t *rop)
{
    if (alu == GXcopy)
        *rop = copyRop;
    else if (alu == GXxor)
        *rop = xorRop;
    else
        return FALSE;
    return TRUE;
}

/* A screen wider than 2048 pixels has a pitch the GE cannot address: its
 * pixmap is drawn in software. */
static Bool
qelGeAddressable(const qelBo *bo)
{
    return bo && bo->pitch <= TX3120_GE_MAX_PITCH;
}

static qelGe *
qelPixmapGe(PixmapPtr pixmap)
{
    return qelGeFromScreen(pixmap->drawable.pScreen);
}

Bool
qelPrepareSolid(PixmapPtr pixmap, int alu, Pixel planemask, Pixel fg)
{
    qelGe *ge = qelPixmapGe(pixmap);
    qelBo *bo = qelPixmapBo(pixmap);
    uint32_t rop;

    if (ge->givenUp || !qelGeAddressable(bo) ||
        !qelPlanemaskCoversDepth(planemask, pixmap->drawable.depth) ||
        !qelRopFromAlu(alu, TX3120_GE_ROP_PATTERN, TX3120_GE_ROP_PATTERN_XOR_DST, &rop))
        return FALSE;

    ge->prepDst = bo;
    ge->prepRop = rop;
    ge->prepFg = fg;
    ge->prepDstPitch = exaGetPixmapPitch(pixmap);
    return TRUE;
}

void
qelSolid(PixmapPtr pixmap, int x1, int y1, int x2, int y2)
{
    qelGe *ge = qelPixmapGe(pixmap);
    qelBo *dst = ge->prepDst;
    int w = x2 - x1;
    int h = y2 - y1;
    qelGeOp *op;

    if (!qelClipRect(dst, x1, y1, &w, &h))
        return;
    if (w * h <= QEL_CPU_FILL_MAX_PIXELS && dst->map && qelGeCpuMayWriteNow(ge, dst)) {
        qelCpuFillRect(dst, ge->prepDstPitch, ge->prepRop, ge->prepFg, x1, y1, w, h);
        return;
    }

    /* Every word is named: a partial initialiser costs a memset call per
     * operation on some targets. */
    op = qelGeReserve(ge, dst, NULL, (uint32_t) (w * h));
    *op = (qelGeOp) {
        .type = TX3120_GE_OP_SOLID,
        .rop = ge->prepRop,
        .dst_handle = dst->handle,
        .dst_pitch = ge->prepDstPitch,
        .dst_x = x1,
        .dst_y = y1,
        .width = w,
        .height = h,
        .fill_color = ge->prepFg,
        .src_handle = 0,
        .src_pitch = 0,
        .src_x = 0,
        .src_y = 0,
    };
}

Bool
qelPrepareCopy(PixmapPtr src, PixmapPtr dst, int dx, int dy, int alu, Pixel planemask)
{
    qelGe *ge = qelPixmapGe(dst);
    qelBo *srcBo = qelPixmapBo(src);
    qelBo *dstBo = qelPixmapBo(dst);
    uint32_t rop;

    /* The kernel side handles overlapping copies; no direction is sent. */
    (void) dx;
    (void) dy;

    if (ge->givenUp || !qelGeAddressable(srcBo) || !qelGeAddressable(dstBo) ||
        !qelPlanemaskCoversDepth(planemask, dst->drawable.depth) ||
        !qelRopFromAlu(alu, TX3120_GE_ROP_SOURCE, TX3120_GE_ROP_SOURCE_XOR_DST, &rop))
        return FALSE;

    ge->prepSrc = srcBo;
    ge->prepSrcPitch = exaGetPixmapPitch(src);
    ge->prepDst = dstBo;
    ge->prepRop = rop;
    ge->prepDstPitch = exaGetPixmapPitch(dst);
    return TRUE;
}

/* Queues a copy of the w x h rectangle at (srcX, srcY) of src to (dstX,
 * dstY) of dst, clipped to both buffers; the pitches are the ones the
 * pixmaps are drawn with. */
static void
qelGeQueueCopy(qelGe *ge, qelBo *src, uint32_t srcPitch, int srcX, int srcY, qelBo *dst,
               uint32_t dstPitch, int dstX, int dstY, int w, int h, uint32_t rop)
{
    qelGeOp *op;

    if (!qelClipRect(dst, dstX, dstY, &w, &h) || !qelClipRect(src, srcX, srcY, &w, &h))
        return;

    op = qelGeReserve(ge, dst, src, (uint32_t) (w * h));
    *op = (qelGeOp) {
        .type = TX3120_GE_OP_COPY,
        .rop = rop,
        .dst_handle = dst->handle,
        .dst_pitch = dstPitch,
        .dst_x = dstX,
        .dst_y = dstY,
        .width = w,
        .height = h,
        .fill_color = 0,
        .src_handle = src->handle,
        .src_pitch = srcPitch,
        .src_x = srcX,
        .src_y = srcY,
    };
}

void
qelCopy(PixmapPtr dst, int srcX, int srcY, int dstX, int dstY, int width, int height)
{
    qelGe *ge = qelPixmapGe(dst);

    qelGeQueueCopy(ge, ge->prepSrc, ge->prepSrcPitch, srcX, srcY, ge->prepDst,
                   ge->prepDstPitch, dstX, dstY, width, height, ge->prepRop);
}

/* Queued operations go out at the next flush point, except while a Render
 * request has its pixmaps open to the CPU: an operation the request set
 * off on the way (the cursor taken down when its damage or its source
 * reaches the cursor) comes before the CPU's drawing that follows, so it
 * must be finished before that drawing goes on. */
void
qelDoneOp(PixmapPtr pixmap)
{
    qelGe *ge = qelPixmapGe(pixmap);

    if (ge->renderAccessDepth > 0)
        qelGeSyncCpu(ge, ge->prepDst, QEL_CPU_WRITE);
}

void
qelGeCopyRect(qelGe *ge, qelBo *src, int srcX, int srcY, qelBo *dst, int dstX,
              int dstY, int w, int h)
{
    qelGeQueueCopy(ge, src, src->pitch, srcX, srcY, dst, dst->pitch, dstX, dstY, w, h,
                   TX3120_GE_ROP_SOURCE);
}
