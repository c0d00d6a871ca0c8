/* SPDX-License-Identifier: MIT */
/* Where a pixmap's pixels live, and where an operation on them runs. A
 * pixmap starts in system memory, which the CPU draws on at full speed
 * and which costs the kernel nothing; it moves into a GE buffer when the
 * GE's work on it pays: a copy of some size to or from a pixmap that is in
 * a buffer already (the screen above all), which the GE then does while
 * the CPU goes on. Software drawing stays in system memory, and a pixmap
 * the CPU drew on last keeps small fills and copies on the CPU, so that
 * the CPU and the GE do not take turns on it operation by operation,
 * each waiting for the other. */
#include "ge/reserve.h"

#include <string.h>

/* Up to this many pixels a fill costs the CPU less than queuing it and
 * later waiting for it: spans of arcs and polygons, small rectangles. */
#define QEL_CPU_FILL_MAX_PIXELS 1024
/* A pixmap the CPU drew on last keeps fills up to this size: the GE would
 * take little off the CPU, and the CPU's next drawing would wait for it. */
#define QEL_CPU_OWNED_FILL_MAX_PIXELS 65536
/* Copies from or to buffers of this many pixels in all move a pixmap in
 * system memory into a buffer: from then on the GE does such copies. A
 * large one moves it at once; a small tile, copied over and over, soon. */
#define QEL_COPY_MOVES_PIXELS 4096u

void *
qelPixmapCpuView(qelGe *ge, qelPixmapPriv *pixPriv, qelCpuAccess access)
{
    if (pixPriv->bo)
        qelGeSyncCpu(ge, pixPriv->bo, access);
    qelPixelsClearStale(pixPriv);
    if (access == QEL_CPU_WRITE)
        pixPriv->cpuOwned = TRUE;
    return qelPixmapPixels(pixPriv);
}

void *
qelPixmapCpuOverwrite(qelGe *ge, qelPixmapPriv *pixPriv, int x, int y, int w, int h)
{
    if (pixPriv->bo)
        qelGeSyncCpu(ge, pixPriv->bo, QEL_CPU_WRITE);
    qelPixelsOverwritten(pixPriv, x, y, w, h);
    pixPriv->cpuOwned = TRUE;
    return qelPixmapPixels(pixPriv);
}

Bool
qelFillIsCpus(qelGe *ge, const qelPixmapPriv *pixPriv, int w, int h)
{
    int64_t pixels = (int64_t) w * h;
    qelBo *bo = pixPriv->bo;

    if (!bo)
        return TRUE;
    if (!bo->map)
        return FALSE;
    if (pixels > QEL_CPU_FILL_MAX_PIXELS &&
        !(pixPriv->cpuOwned && pixels <= QEL_CPU_OWNED_FILL_MAX_PIXELS))
        return FALSE;
    return qelGeCpuMayWriteNow(ge, bo);
}

Bool
qelCopyMovesToBuffer(qelPixmapPriv *sys, int w, int h)
{
    uint32_t pixels = (uint32_t) w * (uint32_t) h;

    if (sys->copiedWithBuffers < QEL_COPY_MOVES_PIXELS)
        sys->copiedWithBuffers += pixels < QEL_COPY_MOVES_PIXELS ? pixels : QEL_COPY_MOVES_PIXELS;
    return sys->movable && sys->views == 0 && sys->copiedWithBuffers >= QEL_COPY_MOVES_PIXELS;
}

static void
qelCopyRows(void *to, uint32_t toPitch, const void *from, uint32_t fromPitch, size_t rowBytes,
            int rows)
{
    for (int y = 0; y < rows; y++)
        memcpy((char *) to + (size_t) y * toPitch, (const char *) from + (size_t) y * fromPitch,
               rowBytes);
}

Bool
qelPixmapMoveToBuffer(qelGe *ge, PixmapPtr pixmap, Bool keepContents)
{
    qelPixmapPriv *pixPriv = exaGetPixmapDriverPrivate(pixmap);
    int width = pixmap->drawable.width;
    int height = pixmap->drawable.height;
    qelBo *bo;

    if (!pixPriv->movable || pixPriv->views > 0 || !ge->boCache)
        return FALSE;
    bo = qelBoCacheTake(ge->boCache, width, height, ge->completed);
    if (!bo)
        return FALSE;
    /* A buffer from the cache may still be read or written by the GE for
     * the pixmap it held before. */
    qelGeSyncCpu(ge, bo, QEL_CPU_WRITE);
    if (keepContents) {
        qelPixelsClearStale(pixPriv);
        qelCopyRows(bo->map, bo->pitch, pixPriv->bits, pixPriv->pitch, (size_t) width * 4,
                    height);
    }
    qelPixelsFree(ge, pixPriv);
    pixPriv->movable = FALSE;
    pixPriv->bo = bo;
    pixPriv->pitch = bo->pitch;
    pixmap->devKind = (int) bo->pitch;
    ge->movesToBuffer++;
    ge->bytesMovedToBuffer += (uint64_t) width * height * 4;
    return TRUE;
}

void
qelPixmapReleaseBuffer(qelGe *ge, qelPixmapPriv *pixPriv)
{
    qelGeForgetBo(ge, pixPriv->bo);
    if (ge->boCache)
        qelBoCacheGive(ge->boCache, pixPriv->bo);
    else
        qelBoDestroy(ge->fd, pixPriv->bo);
    pixPriv->bo = NULL;
}

void
qelGeTrimCaches(qelGe *ge)
{
    if (ge->boCache)
        qelBoCacheTrim(ge->boCache);
    if (ge->memCache)
        qelMemCacheTrim(ge->memCache);
}
