/* SPDX-License-Identifier: MIT */
/* GC requests taken to software past the acceleration layer, with CPU
 * access to their pixmaps prepared as for a Render request:
 * - fills and copies that only touch pixmaps in system memory, where the
 *   CPU draws them anyway, and spans of few pixels in all (the outlines of
 *   small polygons and arcs), which the CPU would draw too: fb does them
 *   as it does without acceleration, without the acceleration layer's
 *   region work for every request or span;
 * - fills the acceleration layer gets wrong. EXA turns the rectangles of
 *   PolyFillRect into a region in the drawable's own coordinates, whose
 *   16-bit boxes clamp a far edge at 32767 before the drawable's origin is
 *   added: the background of a window reaching far to the left of the
 *   screen, painted in window coordinates, would stop short. fb adds the
 *   origin first.
 * Every other request and GC procedure passes through untouched. */
#include "ge/render.h"

#include <fb.h>
#include <gcstruct.h>

typedef struct qelGCPriv {
    /* The procedures of the layer below, and its operations with ours for
     * PolyFillRect (NULL until the GC is first validated). */
    const GCFuncs *funcs;
    const GCOps *wrappedOps;
    GCOps ops;
} qelGCPriv;

/* The server's key for the GC record; keys are process-wide objects in
 * its private API, registered anew each generation. */
static DevPrivateKeyRec qelGCPrivKeyRec;

static qelGCPriv *
qelGetGCPriv(GCPtr gc)
{
    return dixLookupPrivate(&gc->devPrivates, &qelGCPrivKeyRec);
}

static void qelPolyFillRect(DrawablePtr drawable, GCPtr gc, int count, xRectangle *rects);
static RegionPtr qelCopyArea(DrawablePtr src, DrawablePtr dst, GCPtr gc, int srcX, int srcY,
                             int width, int height, int dstX, int dstY);
static void qelFillSpans(DrawablePtr drawable, GCPtr gc, int count, DDXPointPtr points,
                         int *widths, int sorted);

/* The layer below runs with its own procedures in place. Our operations
 * are taken out only when they are the ones in place: while the layer
 * below draws in software it has swapped its own software operations in,
 * and a GC change made then (double dashes change the foreground between
 * dashes) must find the operations as that layer left them, or its swap
 * back would install its accelerated operations as its software ones and
 * the two would call each other without end. */
static qelGCPriv *
qelGCUnwrap(GCPtr gc, Bool *opsWereOurs)
{
    qelGCPriv *gcPriv = qelGetGCPriv(gc);

    gc->funcs = gcPriv->funcs;
    *opsWereOurs = gcPriv->wrappedOps && gc->ops == &gcPriv->ops;
    if (*opsWereOurs)
        gc->ops = gcPriv->wrappedOps;
    return gcPriv;
}

static const GCFuncs qelGCFuncs;

/* The operations the layer below has in place now, with ours for
 * PolyFillRect. */
static void
qelGCWrapOps(GCPtr gc, qelGCPriv *gcPriv)
{
    gcPriv->wrappedOps = gc->ops;
    gcPriv->ops = *gc->ops;
    gcPriv->ops.PolyFillRect = qelPolyFillRect;
    gcPriv->ops.CopyArea = qelCopyArea;
    gcPriv->ops.FillSpans = qelFillSpans;
    gc->ops = &gcPriv->ops;
}

static void
qelGCWrap(GCPtr gc, qelGCPriv *gcPriv, Bool withOps)
{
    gcPriv->funcs = gc->funcs;
    gc->funcs = &qelGCFuncs;
    if (withOps)
        qelGCWrapOps(gc, gcPriv);
}

/* The first validation puts our operations in place. */
static void
qelValidateGC(GCPtr gc, unsigned long changes, DrawablePtr drawable)
{
    Bool opsWereOurs;
    qelGCPriv *gcPriv = qelGCUnwrap(gc, &opsWereOurs);

    gc->funcs->ValidateGC(gc, changes, drawable);
    qelGCWrap(gc, gcPriv, opsWereOurs || !gcPriv->wrappedOps);
}

static void
qelChangeGC(GCPtr gc, unsigned long mask)
{
    Bool opsWereOurs;
    qelGCPriv *gcPriv = qelGCUnwrap(gc, &opsWereOurs);

    gc->funcs->ChangeGC(gc, mask);
    qelGCWrap(gc, gcPriv, opsWereOurs);
}

static void
qelCopyGC(GCPtr src, unsigned long mask, GCPtr dst)
{
    Bool opsWereOurs;
    qelGCPriv *gcPriv = qelGCUnwrap(dst, &opsWereOurs);

    dst->funcs->CopyGC(src, mask, dst);
    qelGCWrap(dst, gcPriv, opsWereOurs);
}

static void
qelDestroyGC(GCPtr gc)
{
    Bool opsWereOurs;

    qelGCUnwrap(gc, &opsWereOurs)->wrappedOps = NULL;
    gc->funcs->DestroyGC(gc);
}

static void
qelChangeClip(GCPtr gc, int type, void *value, int count)
{
    Bool opsWereOurs;
    qelGCPriv *gcPriv = qelGCUnwrap(gc, &opsWereOurs);

    gc->funcs->ChangeClip(gc, type, value, count);
    qelGCWrap(gc, gcPriv, opsWereOurs);
}

static void
qelDestroyClip(GCPtr gc)
{
    Bool opsWereOurs;
    qelGCPriv *gcPriv = qelGCUnwrap(gc, &opsWereOurs);

    gc->funcs->DestroyClip(gc);
    qelGCWrap(gc, gcPriv, opsWereOurs);
}

static void
qelCopyClip(GCPtr dst, GCPtr src)
{
    Bool opsWereOurs;
    qelGCPriv *gcPriv = qelGCUnwrap(dst, &opsWereOurs);

    dst->funcs->CopyClip(dst, src);
    qelGCWrap(dst, gcPriv, opsWereOurs);
}

static const GCFuncs qelGCFuncs = {
    .ValidateGC = qelValidateGC,
    .ChangeGC = qelChangeGC,
    .CopyGC = qelCopyGC,
    .DestroyGC = qelDestroyGC,
    .ChangeClip = qelChangeClip,
    .DestroyClip = qelDestroyClip,
    .CopyClip = qelCopyClip,
};

/* Some rectangle's far edge lies beyond what a 16-bit box holds in the
 * drawable's coordinates. */
static Bool
qelRectsPast16Bits(int count, const xRectangle *rects)
{
    for (int i = 0; i < count; i++)
        if ((int) rects[i].x + rects[i].width > MAXSHORT ||
            (int) rects[i].y + rects[i].height > MAXSHORT)
            return TRUE;
    return FALSE;
}

static void
qelSoftwarePolyFillRect(DrawablePtr drawable, GCPtr gc, int count, xRectangle *rects)
{
    qelRenderAccess access;

    qelRenderAccessBegin(&access, qelGeFromScreen(drawable->pScreen));
    qelRenderAccessDrawable(&access, drawable, QEL_CPU_WRITE);
    qelRenderAccessGC(&access, gc);
    fbPolyFillRect(drawable, gc, count, rects);
    qelRenderAccessEnd(&access);
}

static PixmapPtr
qelDrawablePixmapOf(DrawablePtr drawable)
{
    if (drawable->type == DRAWABLE_WINDOW)
        return drawable->pScreen->GetWindowPixmap((WindowPtr) drawable);
    return (PixmapPtr) drawable;
}

/* The drawable's pixels are the driver's and in system memory, where no
 * GE work can touch them; without stale parts when fresh is asked for
 * (the driver's own fills overwrite those without zeroing them first). */
static Bool
qelInSystemMemory(DrawablePtr drawable, Bool fresh)
{
    qelPixmapPriv *pixPriv = exaGetPixmapDriverPrivate(qelDrawablePixmapOf(drawable));

    return pixPriv && !pixPriv->bo && qelPixmapPixels(pixPriv) && !(fresh && pixPriv->hasStale);
}

static void
qelPolyFillRect(DrawablePtr drawable, GCPtr gc, int count, xRectangle *rects)
{
    qelGCPriv *gcPriv = qelGetGCPriv(gc);

    if (qelRectsPast16Bits(count, rects) || qelInSystemMemory(drawable, TRUE)) {
        qelSoftwarePolyFillRect(drawable, gc, count, rects);
        return;
    }
    gc->ops = gcPriv->wrappedOps;
    gc->ops->PolyFillRect(drawable, gc, count, rects);
    qelGCWrapOps(gc, gcPriv);
}

/* A plain copy from another pixmap without a clip replaces every pixel of
 * the destination rectangle that both pixmaps hold: what is stale there
 * need not be zeroed first. (From the pixmap itself the copy could read
 * what is stale.) */
static void
qelCopyOverwrites(DrawablePtr src, DrawablePtr dst, GCPtr gc, int srcX, int srcY, int width,
                  int height, int dstX, int dstY)
{
    qelPixmapPriv *dstPriv = exaGetPixmapDriverPrivate((PixmapPtr) dst);
    uint32_t planes = dst->depth >= 32 ? 0xFFFFFFFFu : (1u << dst->depth) - 1;
    int x1, y1, x2, y2;

    if (!dstPriv->hasStale || src == dst || src->type != DRAWABLE_PIXMAP ||
        dst->type != DRAWABLE_PIXMAP ||
        gc->alu != GXcopy || gc->clientClip || ((uint32_t) gc->planemask & planes) != planes)
        return;
    x1 = max(max(dstX, 0), dstX - srcX);
    y1 = max(max(dstY, 0), dstY - srcY);
    x2 = min(min(dstX + width, dst->width), dstX - srcX + src->width);
    y2 = min(min(dstY + height, dst->height), dstY - srcY + src->height);
    if (x1 < x2 && y1 < y2)
        qelPixelsOverwritten(dstPriv, x1, y1, x2 - x1, y2 - y1);
}

static RegionPtr
qelSoftwareCopyArea(DrawablePtr src, DrawablePtr dst, GCPtr gc, int srcX, int srcY, int width,
                    int height, int dstX, int dstY)
{
    qelRenderAccess access;
    RegionPtr exposed;

    qelCopyOverwrites(src, dst, gc, srcX, srcY, width, height, dstX, dstY);
    qelRenderAccessBegin(&access, qelGeFromScreen(dst->pScreen));
    qelRenderAccessDrawable(&access, dst, QEL_CPU_WRITE);
    qelRenderAccessDrawable(&access, src, QEL_CPU_READ);
    exposed = fbCopyArea(src, dst, gc, srcX, srcY, width, height, dstX, dstY);
    qelRenderAccessEnd(&access);
    return exposed;
}

static RegionPtr
qelCopyArea(DrawablePtr src, DrawablePtr dst, GCPtr gc, int srcX, int srcY, int width,
            int height, int dstX, int dstY)
{
    qelGCPriv *gcPriv = qelGetGCPriv(gc);
    RegionPtr exposed;

    if (src->bitsPerPixel == dst->bitsPerPixel && qelInSystemMemory(dst, FALSE) &&
        qelInSystemMemory(src, FALSE))
        return qelSoftwareCopyArea(src, dst, gc, srcX, srcY, width, height, dstX, dstY);
    gc->ops = gcPriv->wrappedOps;
    exposed = gc->ops->CopyArea(src, dst, gc, srcX, srcY, width, height, dstX, dstY);
    qelGCWrapOps(gc, gcPriv);
    return exposed;
}

/* Spans up to this many pixels in all are the CPU's. */
#define QEL_CPU_SPANS_MAX_PIXELS 4096

static Bool
qelSpansAreSmall(int count, const int *widths)
{
    int64_t pixels = 0;

    for (int i = 0; i < count && pixels <= QEL_CPU_SPANS_MAX_PIXELS; i++)
        pixels += widths[i];
    return pixels <= QEL_CPU_SPANS_MAX_PIXELS;
}

static void
qelFillSpans(DrawablePtr drawable, GCPtr gc, int count, DDXPointPtr points, int *widths,
             int sorted)
{
    qelGCPriv *gcPriv = qelGetGCPriv(gc);
    qelRenderAccess access;

    if (qelSpansAreSmall(count, widths) || qelInSystemMemory(drawable, FALSE)) {
        qelRenderAccessBegin(&access, qelGeFromScreen(drawable->pScreen));
        qelRenderAccessDrawable(&access, drawable, QEL_CPU_WRITE);
        qelRenderAccessGC(&access, gc);
        fbFillSpans(drawable, gc, count, points, widths, sorted);
        qelRenderAccessEnd(&access);
        return;
    }
    gc->ops = gcPriv->wrappedOps;
    gc->ops->FillSpans(drawable, gc, count, points, widths, sorted);
    qelGCWrapOps(gc, gcPriv);
}

Bool
qelCreateGC(GCPtr gc)
{
    qelGe *ge = qelGeFromScreen(gc->pScreen);
    qelGCPriv *gcPriv = qelGetGCPriv(gc);

    if (!ge->exaCreateGC(gc))
        return FALSE;
    gcPriv->wrappedOps = NULL;
    qelGCWrap(gc, gcPriv, FALSE);
    return TRUE;
}

Bool
qelRegisterGCPrivate(void)
{
    return dixRegisterPrivateKey(&qelGCPrivKeyRec, PRIVATE_GC, sizeof(qelGCPriv));
}
