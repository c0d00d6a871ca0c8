/* SPDX-License-Identifier: MIT */
/* The system-memory pixels of the driver's pixmaps. They come from the
 * cache of released blocks, which may hand out memory that still holds an
 * earlier pixmap's pixels, perhaps another client's. Those stale parts are
 * kept as a region and zeroed before anyone can see them: before the first
 * CPU view that may read, before a move into a buffer. What a fill or an
 * upload overwrites first is never zeroed at all: applications often make
 * a large pixmap, draw a little of it and drop it, and zeroing all of it
 * was most of what such drawing cost. */
#include "ge/ge.h"

#include <string.h>

/* Rows padded to 32 bits, as fb lays out the pixmaps it allocates. */
uint32_t
qelSystemPitch(int width, int bitsPerPixel)
{
    return (uint32_t) (((uint64_t) width * (uint64_t) bitsPerPixel + 31) / 32 * 4);
}

/* A size the address space cannot hold (32767 x 32767 at 32 bits per pixel
 * on a 32-bit board) is refused rather than wrapped. */
Bool
qelPixelsAlloc(qelGe *ge, qelPixmapPriv *pixPriv, int width, int height, int bitsPerPixel)
{
    uint32_t pitch = qelSystemPitch(width, bitsPerPixel);
    uint64_t size = (uint64_t) pitch * (uint64_t) height;
    Bool zeroed;

    if (size > SIZE_MAX)
        return FALSE;
    pixPriv->bits = qelMemCacheTake(ge->memCache, (size_t) size, &zeroed);
    if (!pixPriv->bits)
        return FALSE;
    pixPriv->ownsBits = TRUE;
    pixPriv->pitch = pitch;
    pixPriv->size = (size_t) size;
    pixPriv->hasStale = FALSE;
    if (zeroed)
        return TRUE;
    /* Only 32-bit pixels are overwritten in place by the driver's own
     * fills and copies; any other kind is zeroed at once. */
    if (bitsPerPixel != 32) {
        memset(pixPriv->bits, 0, (size_t) size);
        return TRUE;
    }
    {
        BoxRec all = {0, 0, (short) width, (short) height};

        RegionInit(&pixPriv->stale, &all, 1);
        pixPriv->hasStale = TRUE;
    }
    return TRUE;
}

static void
qelPixelsForgetStale(qelPixmapPriv *pixPriv)
{
    if (!pixPriv->hasStale)
        return;
    RegionUninit(&pixPriv->stale);
    pixPriv->hasStale = FALSE;
}

void
qelPixelsFree(qelGe *ge, qelPixmapPriv *pixPriv)
{
    qelPixelsForgetStale(pixPriv);
    qelMemCacheGive(ge->memCache, pixPriv->bits, pixPriv->size);
    pixPriv->bits = NULL;
    pixPriv->ownsBits = FALSE;
    pixPriv->size = 0;
}

void
qelPixelsClearStale(qelPixmapPriv *pixPriv)
{
    const BoxRec *box;
    int n;

    if (!pixPriv->hasStale)
        return;
    box = RegionRects(&pixPriv->stale);
    n = RegionNumRects(&pixPriv->stale);
    for (int i = 0; i < n; i++, box++)
        for (int y = box->y1; y < box->y2; y++)
            memset((char *) pixPriv->bits + (size_t) y * pixPriv->pitch + (size_t) box->x1 * 4,
                   0, (size_t) (box->x2 - box->x1) * 4);
    qelPixelsForgetStale(pixPriv);
}

void
qelPixelsOverwritten(qelPixmapPriv *pixPriv, int x, int y, int w, int h)
{
    BoxRec box = {(short) x, (short) y, (short) (x + w), (short) (y + h)};
    RegionRec written;

    if (!pixPriv->hasStale)
        return;
    RegionInit(&written, &box, 1);
    RegionSubtract(&pixPriv->stale, &pixPriv->stale, &written);
    RegionUninit(&written);
    if (!RegionNotEmpty(&pixPriv->stale))
        qelPixelsForgetStale(pixPriv);
}
