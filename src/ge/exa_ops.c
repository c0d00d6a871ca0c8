/* SPDX-License-Identifier: MIT */
/* EXA solid fills and copies, and the driver's own plain copies (TearFree's
 * per-CRTC buffers, contents kept across a resize). Each rectangle runs
 * where placement.c says: queued as a GE operation between buffers, or done
 * by the CPU at once on the pixels where they are. */
#include "ge/reserve.h"

/* The GE has no planemask: only requests that write every plane of the
 * destination's depth can run on it, and the CPU does them as it does. */
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
 * pixmap is drawn by the CPU. */
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

static qelPixmapPriv *
qelPriv(PixmapPtr pixmap)
{
    return exaGetPixmapDriverPrivate(pixmap);
}

/* Pixels the GE's codes can run on, by the GE or the CPU: 32 bits each,
 * held by the driver. */
static Bool
qelRasterable(PixmapPtr pixmap)
{
    qelPixmapPriv *pixPriv = qelPriv(pixmap);

    return pixPriv && pixmap->drawable.bitsPerPixel == 32 && qelPixmapPixels(pixPriv);
}

Bool
qelPrepareSolid(PixmapPtr pixmap, int alu, Pixel planemask, Pixel fg)
{
    qelGe *ge = qelPixmapGe(pixmap);
    uint32_t rop;

    if (ge->givenUp || !qelRasterable(pixmap) ||
        !qelPlanemaskCoversDepth(planemask, pixmap->drawable.depth) ||
        !qelRopFromAlu(alu, TX3120_GE_ROP_PATTERN, TX3120_GE_ROP_PATTERN_XOR_DST, &rop))
        return FALSE;
    if (qelPriv(pixmap)->bo && !qelGeAddressable(qelPriv(pixmap)->bo))
        return FALSE;

    ge->prepDst = pixmap;
    ge->prepRop = rop;
    ge->prepFg = fg;
    return TRUE;
}

static void
qelGeQueueFill(qelGe *ge, qelPixmapPriv *pixPriv, int x, int y, int w, int h)
{
    qelBo *dst = pixPriv->bo;
    /* Every word is named: a partial initialiser costs a memset call per
     * operation on some targets. */
    qelGeOp *op = qelGeReserve(ge, dst, NULL, (uint32_t) (w * h));

    *op = (qelGeOp) {
        .type = TX3120_GE_OP_SOLID,
        .rop = ge->prepRop,
        .dst_handle = dst->handle,
        .dst_pitch = pixPriv->pitch,
        .dst_x = x,
        .dst_y = y,
        .width = w,
        .height = h,
        .fill_color = ge->prepFg,
        .src_handle = 0,
        .src_pitch = 0,
        .src_x = 0,
        .src_y = 0,
    };
    pixPriv->cpuOwned = FALSE;
}

void
qelSolid(PixmapPtr pixmap, int x1, int y1, int x2, int y2)
{
    qelGe *ge = qelPixmapGe(pixmap);
    qelPixmapPriv *pixPriv = qelPriv(pixmap);
    int w = x2 - x1;
    int h = y2 - y1;

    if (!qelClipToSize(pixmap->drawable.width, pixmap->drawable.height, x1, y1, &w, &h))
        return;
    if (!qelFillIsCpus(ge, pixPriv, w, h)) {
        qelGeQueueFill(ge, pixPriv, x1, y1, w, h);
        return;
    }
    /* The GE is done with the pixels (qelFillIsCpus saw to it). A plain
     * fill replaces what it covers; an xor reads it first. */
    if (ge->prepRop == TX3120_GE_ROP_PATTERN)
        qelPixelsOverwritten(pixPriv, x1, y1, w, h);
    else
        qelPixelsClearStale(pixPriv);
    pixPriv->cpuOwned = TRUE;
    qelCpuFillRect(qelPixmapPixels(pixPriv), pixPriv->pitch, ge->prepRop, ge->prepFg, x1, y1, w,
                   h);
}

Bool
qelPrepareCopy(PixmapPtr src, PixmapPtr dst, int dx, int dy, int alu, Pixel planemask)
{
    qelGe *ge = qelPixmapGe(dst);
    uint32_t rop;

    /* The kernel side and the CPU handle overlapping copies; no direction
     * is sent. */
    (void) dx;
    (void) dy;

    if (ge->givenUp || !qelRasterable(src) || !qelRasterable(dst) ||
        !qelPlanemaskCoversDepth(planemask, dst->drawable.depth) ||
        !qelRopFromAlu(alu, TX3120_GE_ROP_SOURCE, TX3120_GE_ROP_SOURCE_XOR_DST, &rop))
        return FALSE;

    ge->prepSrc = src;
    ge->prepDst = dst;
    ge->prepRop = rop;
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

/* A copy between a pixmap in system memory and one in a buffer, large
 * enough to pay, moves the first into a buffer; both are then the GE's. */
static void
qelPlaceForCopy(qelGe *ge, PixmapPtr src, PixmapPtr dst, int w, int h)
{
    qelPixmapPriv *srcPriv = qelPriv(src);
    qelPixmapPriv *dstPriv = qelPriv(dst);

    if (!srcPriv->bo && dstPriv->bo && qelCopyMovesToBuffer(srcPriv, w, h))
        qelPixmapMoveToBuffer(ge, src, TRUE);
    else if (!dstPriv->bo && srcPriv->bo && qelCopyMovesToBuffer(dstPriv, w, h))
        qelPixmapMoveToBuffer(ge, dst, TRUE);
}

/* The source is viewed first: when it is the destination too, the write
 * view that follows waits as the writer. */
static void
qelCpuCopy(qelGe *ge, PixmapPtr src, int srcX, int srcY, PixmapPtr dst, int dstX, int dstY,
           int w, int h)
{
    qelPixmapPriv *srcPriv = qelPriv(src);
    qelPixmapPriv *dstPriv = qelPriv(dst);
    void *from = qelPixmapCpuView(ge, srcPriv, QEL_CPU_READ);
    void *to = ge->prepRop == TX3120_GE_ROP_SOURCE
        ? qelPixmapCpuOverwrite(ge, dstPriv, dstX, dstY, w, h)
        : qelPixmapCpuView(ge, dstPriv, QEL_CPU_WRITE);

    qelCpuCopyRect(to, dstPriv->pitch, dstX, dstY, from, srcPriv->pitch, srcX, srcY, w, h,
                   ge->prepRop);
}

void
qelCopy(PixmapPtr dst, int srcX, int srcY, int dstX, int dstY, int width, int height)
{
    qelGe *ge = qelPixmapGe(dst);
    PixmapPtr src = ge->prepSrc;
    qelPixmapPriv *srcPriv = qelPriv(src);
    qelPixmapPriv *dstPriv = qelPriv(dst);

    if (!qelClipToSize(dst->drawable.width, dst->drawable.height, dstX, dstY, &width, &height) ||
        !qelClipToSize(src->drawable.width, src->drawable.height, srcX, srcY, &width, &height))
        return;
    qelPlaceForCopy(ge, src, dst, width, height);
    if (qelGeAddressable(srcPriv->bo) && qelGeAddressable(dstPriv->bo)) {
        qelGeQueueCopy(ge, srcPriv->bo, srcPriv->pitch, srcX, srcY, dstPriv->bo, dstPriv->pitch,
                       dstX, dstY, width, height, ge->prepRop);
        dstPriv->cpuOwned = FALSE;
        return;
    }
    qelCpuCopy(ge, src, srcX, srcY, dst, dstX, dstY, width, height);
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
    qelPixmapPriv *pixPriv = qelPriv(pixmap);

    if (ge->renderAccessDepth > 0 && pixPriv->bo)
        qelGeSyncCpu(ge, pixPriv->bo, QEL_CPU_WRITE);
}

void
qelGeCopyRect(qelGe *ge, qelBo *src, int srcX, int srcY, qelBo *dst, int dstX,
              int dstY, int w, int h)
{
    qelGeQueueCopy(ge, src, src->pitch, srcX, srcY, dst, dst->pitch, dstX, dstY, w, h,
                   TX3120_GE_ROP_SOURCE);
}
