/* SPDX-License-Identifier: MIT */
/* CPU access to driver pixmaps: uploads, downloads and software fallbacks
 * see the pixels where they are, in system memory or in a buffer, and
 * wait for the unfinished GE work on that buffer that the access
 * conflicts with, and no other. */
#include "ge/ge.h"

#include <string.h>

/* EXA hands the rectangle through unchecked; a rectangle that does not lie
 * inside the pixmap would read or write past its pixels. Driver pixmaps
 * are all 32 bits per pixel where these hooks are called. */
static Bool
qelRectInsidePixmap(PixmapPtr pixmap, int x, int y, int w, int h)
{
    return x >= 0 && y >= 0 && w >= 0 && h >= 0 && (int64_t) x + w <= pixmap->drawable.width &&
        (int64_t) y + h <= pixmap->drawable.height;
}

static qelPixmapPriv *
qelPixelsPriv(PixmapPtr pixmap)
{
    qelPixmapPriv *pixPriv = exaGetPixmapDriverPrivate(pixmap);

    if (!pixPriv || !qelPixmapPixels(pixPriv) || pixmap->drawable.bitsPerPixel != 32)
        return NULL;
    return pixPriv;
}

Bool
qelUploadToScreen(PixmapPtr dst, int x, int y, int w, int h, char *src, int srcPitch)
{
    qelPixmapPriv *pixPriv = qelPixelsPriv(dst);
    char *row;

    if (!pixPriv || !qelRectInsidePixmap(dst, x, y, w, h))
        return FALSE;
    row = qelPixmapCpuOverwrite(qelGeFromScreen(dst->drawable.pScreen), pixPriv, x, y, w, h);
    row += (size_t) y * pixPriv->pitch + (size_t) x * 4;
    for (int i = 0; i < h; i++) {
        memcpy(row, src, (size_t) w * 4);
        row += pixPriv->pitch;
        src += srcPitch;
    }
    return TRUE;
}

Bool
qelDownloadFromScreen(PixmapPtr src, int x, int y, int w, int h, char *dst, int dstPitch)
{
    qelPixmapPriv *pixPriv = qelPixelsPriv(src);
    const char *row;

    if (!pixPriv || !qelRectInsidePixmap(src, x, y, w, h))
        return FALSE;
    row = qelPixmapCpuView(qelGeFromScreen(src->drawable.pScreen), pixPriv, QEL_CPU_READ);
    row += (size_t) y * pixPriv->pitch + (size_t) x * 4;
    for (int i = 0; i < h; i++) {
        memcpy(dst, row, (size_t) w * 4);
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

/* EXA asks once per pixmap whatever the indices, so the first access
 * decides; a pixmap read and written in one request is prepared as the
 * destination first. */
Bool
qelPrepareAccess(PixmapPtr pixmap, int index)
{
    qelGe *ge = qelGeFromScreen(pixmap->drawable.pScreen);
    qelPixmapPriv *pixPriv = exaGetPixmapDriverPrivate(pixmap);

    if (!pixPriv || !qelPixmapPixels(pixPriv))
        return TRUE;
    pixmap->devPrivate.ptr = qelPixmapCpuView(ge, pixPriv, qelAccessOfIndex(index));
    pixPriv->views++;
    return TRUE;
}

void
qelFinishAccess(PixmapPtr pixmap, int index)
{
    qelPixmapPriv *pixPriv = exaGetPixmapDriverPrivate(pixmap);

    (void) index;
    if (!pixPriv || !qelPixmapPixels(pixPriv))
        return;
    pixmap->devPrivate.ptr = NULL;
    if (pixPriv->views > 0)
        pixPriv->views--;
}
