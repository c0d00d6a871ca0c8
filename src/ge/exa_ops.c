/* EXA solid fills and copies, queued as GE operations; a small fill into
 * a buffer the GE is not writing is done by the CPU at once. */
#include "ge/ge.h"

#include <wchar.h>

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
    return bo && bo->pitch <= GE_MAX_PITCH;
}

static qelScreenPriv *
qelPixmapScreenPriv(PixmapPtr pixmap)
{
    return qelScreenPrivFromScreen(pixmap->drawable.pScreen);
}

Bool
qelPrepareSolid(PixmapPtr pixmap, int alu, Pixel planemask, Pixel fg)
{
    qelScreenPriv *priv = qelPixmapScreenPriv(pixmap);
    qelBo *bo = qelPixmapBo(pixmap);
    uint32_t rop;

    if (priv->geGivenUp || !qelGeAddressable(bo) ||
        !qelPlanemaskCoversDepth(planemask, pixmap->drawable.depth) ||
        !qelRopFromAlu(alu, GE_ROP_SOLID_COPY, GE_ROP_SOLID_XOR, &rop))
        return FALSE;

    priv->prepDst = bo;
    priv->prepRop = rop;
    priv->prepFg = fg;
    priv->prepDstPitch = exaGetPixmapPitch(pixmap);
    return TRUE;
}

_Static_assert(sizeof(wchar_t) == sizeof(uint32_t), "wmemset stores 32-bit pixels");

/* What the GE's 0xF0 and 0x5A codes do, on the CPU; the C library's
 * wmemset is its fastest store of a 32-bit value. */
static void
qelCpuFill(qelBo *dst, uint32_t pitch, uint32_t rop, uint32_t fg, int x, int y, int w, int h)
{
    uint32_t *row = (uint32_t *) ((char *) dst->map + (size_t) y * pitch) + x;

    for (int j = 0; j < h; j++, row = (uint32_t *) ((char *) row + pitch)) {
        if (rop == GE_ROP_SOLID_COPY) {
            wmemset((wchar_t *) row, (wchar_t) fg, (size_t) w);
            continue;
        }
        for (int i = 0; i < w; i++)
            row[i] ^= fg;
    }
}

void
qelSolid(PixmapPtr pixmap, int x1, int y1, int x2, int y2)
{
    qelScreenPriv *priv = qelPixmapScreenPriv(pixmap);
    qelBo *dst = priv->prepDst;
    int w = x2 - x1;
    int h = y2 - y1;
    qelGeOp *op;

    if (!qelClipRect(dst, x1, y1, &w, &h))
        return;
    if (w * h <= QEL_CPU_FILL_MAX_PIXELS && dst->map && qelGeCpuMayWriteNow(priv, dst)) {
        qelCpuFill(dst, priv->prepDstPitch, priv->prepRop, priv->prepFg, x1, y1, w, h);
        return;
    }

    /* Every word is named: a partial initialiser costs a memset call per
     * operation on some targets. */
    op = qelGeReserve(priv, dst, NULL);
    *op = (qelGeOp) {
        .type = GE_OP_SOLID,
        .rop = priv->prepRop,
        .dstHandle = dst->handle,
        .dstPitch = priv->prepDstPitch,
        .dstX = x1,
        .dstY = y1,
        .width = w,
        .height = h,
        .fillColor = priv->prepFg,
        .srcHandle = 0,
        .srcPitch = 0,
        .srcX = 0,
        .srcY = 0,
    };
}

Bool
qelPrepareCopy(PixmapPtr src, PixmapPtr dst, int dx, int dy, int alu, Pixel planemask)
{
    qelScreenPriv *priv = qelPixmapScreenPriv(dst);
    qelBo *srcBo = qelPixmapBo(src);
    qelBo *dstBo = qelPixmapBo(dst);
    uint32_t rop;

    /* The kernel side handles overlapping copies; no direction is sent. */
    (void) dx;
    (void) dy;

    if (priv->geGivenUp || !qelGeAddressable(srcBo) || !qelGeAddressable(dstBo) ||
        !qelPlanemaskCoversDepth(planemask, dst->drawable.depth) ||
        !qelRopFromAlu(alu, GE_ROP_COPY_COPY, GE_ROP_COPY_XOR, &rop))
        return FALSE;

    priv->prepSrc = srcBo;
    priv->prepSrcPitch = exaGetPixmapPitch(src);
    priv->prepDst = dstBo;
    priv->prepRop = rop;
    priv->prepDstPitch = exaGetPixmapPitch(dst);
    return TRUE;
}

void
qelCopy(PixmapPtr dst, int srcX, int srcY, int dstX, int dstY, int width, int height)
{
    qelScreenPriv *priv = qelPixmapScreenPriv(dst);
    int w = width;
    int h = height;
    qelGeOp *op;

    if (!qelClipRect(priv->prepDst, dstX, dstY, &w, &h) ||
        !qelClipRect(priv->prepSrc, srcX, srcY, &w, &h))
        return;

    op = qelGeReserve(priv, priv->prepDst, priv->prepSrc);
    *op = (qelGeOp) {
        .type = GE_OP_COPY,
        .rop = priv->prepRop,
        .dstHandle = priv->prepDst->handle,
        .dstPitch = priv->prepDstPitch,
        .dstX = dstX,
        .dstY = dstY,
        .width = w,
        .height = h,
        .fillColor = 0,
        .srcHandle = priv->prepSrc->handle,
        .srcPitch = priv->prepSrcPitch,
        .srcX = srcX,
        .srcY = srcY,
    };
}

/* Queued operations go out at the next flush point, except while a Render
 * request has its pixmaps open to the CPU: an operation the request set
 * off on the way (the cursor taken down when its damage or its source
 * reaches the cursor) comes before the CPU's drawing that follows, so it
 * must be finished before that drawing goes on. */
void
qelDoneOp(PixmapPtr pixmap)
{
    qelScreenPriv *priv = qelPixmapScreenPriv(pixmap);

    if (priv->renderAccessDepth > 0)
        qelGeSyncCpu(priv, priv->prepDst, QEL_CPU_WRITE);
}
