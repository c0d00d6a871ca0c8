/* SPDX-License-Identifier: MIT */
/* CPU access to driver pixmaps: uploads, downloads and software fallbacks
 * wait for the unfinished GE work on the buffer concerned that the access
 * conflicts with, and no other. */
#include "ge/ge.h"

#include <string.h>

/* EXA hands the rectangle through unchecked; a rectangle that does not lie
 * inside the buffer would read or write past its mapping. Driver pixmaps
 * are all 32 bits per pixel, so the buffer's width in pixels bounds x + w. */
static Bool
qelRectInsideBo(const qelBo *bo, int x, int y, int w, int h)
{
    return x >= 0 && y >= 0 && w >= 0 && h >= 0 &&
        (int64_t) x + w <= bo->width && (int64_t) y + h <= bo->height;
}

static qelPixmapPriv *
qelMappedPixmapPriv(PixmapPtr pixmap)
{
    qelPixmapPriv *pixPriv = exaGetPixmapDriverPrivate(pixmap);

    if (!pixPriv || !pixPriv->bo || !pixPriv->bo->map)
        return NULL;
    return pixPriv;
}

Bool
qelUploadToScreen(PixmapPtr dst, int x, int y, int w, int h, char *src, int srcPitch)
{
    qelPixmapPriv *pixPriv = qelMappedPixmapPriv(dst);
    int bytesPerPixel = dst->drawable.bitsPerPixel / 8;
    char *row;

    if (!pixPriv || !qelRectInsideBo(pixPriv->bo, x, y, w, h))
        return FALSE;
    qelGeSyncCpu(qelGeFromScreen(dst->drawable.pScreen), pixPriv->bo, QEL_CPU_WRITE);

    row = (char *) pixPriv->bo->map + (size_t) y * pixPriv->pitch + (size_t) x * bytesPerPixel;
    for (int i = 0; i < h; i++) {
        memcpy(row, src, (size_t) w * bytesPerPixel);
        row += pixPriv->pitch;
        src += srcPitch;
    }
    return TRUE;
}

Bool
qelDownloadFromScreen(PixmapPtr src, int x, int y, int w, int h, char *dst, int dstPitch)
{
    qelPixmapPriv *pixPriv = qelMappedPixmapPriv(src);
    int bytesPerPixel = src->drawable.bitsPerPixel / 8;
    const char *row;

    if (!pixPriv || !qelRectInsideBo(pixPriv->bo, x, y, w, h))
        return FALSE;
    qelGeSyncCpu(qelGeFromScreen(src->drawable.pScreen), pixPriv->bo, QEL_CPU_READ);

    row = (const char *) pixPriv->bo->map + (size_t) y * pixPriv->pitch +
        (size_t) x * bytesPerPixel;
    for (int i = 0; i < h; i++) {
        memcpy(dst, row, (size_t) w * bytesPerPixel);
        row += pixPriv->pitch;
        dst += dstPitch;
    }
    return TRUE;
}

/* EXA's destination indices are read and written; the others only read. */
static qelCpuAccess
qelAccessOfIndex(int index)
{
    return index == EXA_PREPARE_DEST || index == EXA_PREPARE_AUX_DEST ? QEL_CPU_WRITE
                                                                        : QEL_CPU_READ;
}

Bool
qelPrepareAccess(PixmapPtr pixmap, int index)
{
    qelGe *ge = qelGeFromScreen(pixmap->drawable.pScreen);
    qelBo *bo = qelPixmapBo(pixmap);
    void *map;

    if (!bo)
        return TRUE;
    map = qelBoGetMap(ge->fd, bo);
    if (!map)
        return FALSE;
    qelGeSyncCpu(ge, bo, qelAccessOfIndex(index));
    pixmap->devPrivate.ptr = map;
    return TRUE;
}

void
qelFinishAccess(PixmapPtr pixmap, int index)
{
    (void) index;

    if (qelPixmapBo(pixmap))
        pixmap->devPrivate.ptr = NULL;
}
