/* SPDX-License-Identifier: MIT */
/* Pixmap storage for EXA: the driver holds the pixels of every pixmap EXA
 * makes. The screen pixmap lives in the screen's buffer; every other one
 * in system memory the driver allocates, from which a pixmap the GE could
 * address moves into a buffer when the GE's work on it pays (placement.c),
 * or in memory its creator gives (scratch headers, shared-memory pixmaps),
 * which software draws on. */
#include "ge/ge.h"

#include <stdlib.h>

#define QEL_MAX_SERIAL (1UL << 28)

qelBo *
qelPixmapBo(PixmapPtr pixmap)
{
    qelPixmapPriv *pixPriv = exaGetPixmapDriverPrivate(pixmap);

    return pixPriv ? pixPriv->bo : NULL;
}

void *
qelPixmapPixels(const qelPixmapPriv *pixPriv)
{
    return pixPriv->bo ? pixPriv->bo->map : pixPriv->bits;
}

/* Every pixmap in a buffer or in the driver's own memory: EXA then brings
 * its fills and copies to the driver, which decides where they run, and
 * lets the CPU at the pixels only through the driver's PrepareAccess,
 * which zeroes what a stale block still held. */
Bool
qelPixmapIsOffscreen(PixmapPtr pixmap)
{
    qelPixmapPriv *pixPriv = exaGetPixmapDriverPrivate(pixmap);

    return pixPriv && (pixPriv->bo || pixPriv->ownsBits);
}

Bool
qelIsScreenBo(const qelGe *ge, const qelBo *bo)
{
    return bo == ge->screenBo;
}

static Bool
qelGeCanAddress(int width, int height, int depth, int bitsPerPixel)
{
    return depth == 24 && bitsPerPixel == 32 &&
        width >= 1 && width <= QEL_MAX_DIMENSION &&
        height >= 1 && height <= QEL_MAX_DIMENSION;
}

/* A pixmap of no size gets its pixels later, from ModifyPixmapHeader. */
static Bool
qelAllocPixels(qelGe *ge, qelPixmapPriv *pixPriv, int width, int height, int depth,
               int bitsPerPixel)
{
    if (width <= 0 || height <= 0)
        return TRUE;
    if (!qelPixelsAlloc(ge, pixPriv, width, height, bitsPerPixel))
        return FALSE;
    pixPriv->movable = !ge->givenUp && qelGeCanAddress(width, height, depth, bitsPerPixel);
    pixPriv->cpuOwned = TRUE;
    return TRUE;
}

void *
qelCreatePixmap2(ScreenPtr screen, int width, int height, int depth, int usageHint,
                 int bitsPerPixel, int *newFbPitch)
{
    qelGe *ge = qelGeFromScreen(screen);
    qelPixmapPriv *pixPriv;

    /* EXA calls this only while acceleration runs. */
    (void) usageHint;

    pixPriv = calloc(1, sizeof(*pixPriv));
    if (!pixPriv)
        return NULL;
    if (!qelAllocPixels(ge, pixPriv, width, height, depth, bitsPerPixel)) {
        free(pixPriv);
        return NULL;
    }
    *newFbPitch = (int) pixPriv->pitch;
    return pixPriv;
}

/* Lets go of the pixels the record holds; the screen's buffers stay. */
static void
qelReleasePixels(qelGe *ge, qelPixmapPriv *pixPriv)
{
    if (pixPriv->bo && !qelIsScreenBo(ge, pixPriv->bo))
        qelPixmapReleaseBuffer(ge, pixPriv);
    if (pixPriv->ownsBits)
        qelPixelsFree(ge, pixPriv);
    pixPriv->bo = NULL;
    pixPriv->bits = NULL;
    pixPriv->ownsBits = FALSE;
    pixPriv->size = 0;
    pixPriv->movable = FALSE;
}

void
qelDestroyPixmap(ScreenPtr screen, void *driverPriv)
{
    qelGe *ge = qelGeFromScreen(screen);
    qelPixmapPriv *pixPriv = driverPriv;

    if (!pixPriv)
        return;
    qelReleasePixels(ge, pixPriv);
    if (pixPriv == ge->screenPixmapPriv)
        ge->screenPixmapPriv = NULL;
    free(pixPriv);
}

/* The screen pixmap is made without pixels and then given the screen's
 * size without any: it renders into the shadow. */
static Bool
qelClaimsScreenBo(const qelGe *ge, const qelPixmapPriv *pixPriv, PixmapPtr pixmap)
{
    return !ge->screenBoClaimed && !pixPriv->bo && !pixPriv->bits &&
        pixmap->drawable.width == ge->screenBo->width &&
        pixmap->drawable.height == ge->screenBo->height;
}

static void
qelTakePixels(qelGe *ge, qelPixmapPriv *pixPriv, PixmapPtr pixmap, int devKind,
              void *pixData)
{
    if (pixData) {
        /* The creator's memory, e.g. a client's shared memory: software
         * draws on it in place. */
        qelReleasePixels(ge, pixPriv);
        pixPriv->bits = pixData;
        pixPriv->pitch = devKind > 0 ? (uint32_t) devKind
                                     : qelSystemPitch(pixmap->drawable.width,
                                                      pixmap->drawable.bitsPerPixel);
    } else if (qelClaimsScreenBo(ge, pixPriv, pixmap)) {
        pixPriv->bo = ge->screenBo;
        pixPriv->pitch = ge->screenBo->pitch;
        ge->screenBoClaimed = TRUE;
        ge->screenPixmapPriv = pixPriv;
    } else if (pixPriv->bo) {
        /* Resize may have moved the record to another buffer. */
        pixPriv->pitch = pixPriv->bo->pitch;
    }
}

/* A value of 0 or less keeps the field as it was. */
static void
qelSetHeaderFields(PixmapPtr pixmap, int width, int height, int depth, int bitsPerPixel)
{
    if (width > 0)
        pixmap->drawable.width = width;
    if (height > 0)
        pixmap->drawable.height = height;
    if (depth > 0)
        pixmap->drawable.depth = depth;
    if (bitsPerPixel > 0)
        pixmap->drawable.bitsPerPixel = bitsPerPixel;
}

/* The driver's storage holds a width x height pixmap of that many bits per
 * pixel: its rows fit the pitch and there are enough of them. Pixels a
 * creator gave are the creator's to size. */
static Bool
qelStorageFits(const qelPixmapPriv *pixPriv, int width, int height, int bitsPerPixel)
{
    uint64_t bytes;

    if (pixPriv->bo)
        bytes = pixPriv->bo->size;
    else if (pixPriv->ownsBits)
        bytes = pixPriv->size;
    else
        return TRUE;
    return (uint64_t) width * (uint64_t) bitsPerPixel <= (uint64_t) pixPriv->pitch * 8 &&
        (uint64_t) height * pixPriv->pitch <= bytes;
}

/* A header that would not fit the pixmap's storage gets storage that fits
 * (contents are not kept, as a new size gives them no meaning): software
 * must never draw past a mapping. Refusing would not do, since EXA then
 * has the screen's own hook apply the header all the same. The screen's
 * buffer changes only with the screen, through resize. */
static Bool
qelFitStorage(qelGe *ge, qelPixmapPriv *pixPriv, PixmapPtr pixmap, int width,
              int height, int depth, int bitsPerPixel)
{
    DrawablePtr drawable = &pixmap->drawable;
    int newWidth = width > 0 ? width : drawable->width;
    int newHeight = height > 0 ? height : drawable->height;
    int newBpp = bitsPerPixel > 0 ? bitsPerPixel : drawable->bitsPerPixel;

    if (qelStorageFits(pixPriv, newWidth, newHeight, newBpp))
        return TRUE;
    if (pixPriv->bo && qelIsScreenBo(ge, pixPriv->bo))
        return FALSE;
    qelReleasePixels(ge, pixPriv);
    return qelAllocPixels(ge, pixPriv, newWidth, newHeight, depth > 0 ? depth : drawable->depth,
                          newBpp);
}

Bool
qelModifyPixmapHeader(PixmapPtr pixmap, int width, int height, int depth,
                      int bitsPerPixel, int devKind, void *pixData)
{
    qelPixmapPriv *pixPriv = exaGetPixmapDriverPrivate(pixmap);
    qelGe *ge = qelGeFromScreen(pixmap->drawable.pScreen);

    if (!pixPriv)
        return FALSE;
    if (!pixData && !qelFitStorage(ge, pixPriv, pixmap, width, height, depth, bitsPerPixel))
        return FALSE;

    qelSetHeaderFields(pixmap, width, height, depth, bitsPerPixel);
    if (pixPriv->ownsBits)
        pixPriv->movable = !ge->givenUp &&
            qelGeCanAddress(pixmap->drawable.width, pixmap->drawable.height,
                            pixmap->drawable.depth, pixmap->drawable.bitsPerPixel);
    /* The storage decides stride and address, except where the caller
     * gives the pixels. */
    qelTakePixels(ge, pixPriv, pixmap, devKind, pixData);

    if (++globalSerialNumber > QEL_MAX_SERIAL)
        globalSerialNumber = 1;
    pixmap->drawable.serialNumber = globalSerialNumber;

    pixmap->devKind = (int) pixPriv->pitch;
    /* EXA hides the address again at once; it keeps it for the software
     * access of pixmaps without a buffer. */
    pixmap->devPrivate.ptr = qelPixmapPixels(pixPriv);
    return TRUE;
}

void
qelGeNoteScreenPitch(const qelGe *ge, const qelBo *previous, Bool tearFree)
{
    Bool wide = ge->screenBo->pitch > TX3120_GE_MAX_PITCH;
    Bool wasWide = previous && previous->pitch > TX3120_GE_MAX_PITCH;
    const char *what = tearFree ? " and TearFree" : "";

    if (wide == wasWide)
        return;
    if (wide)
        xf86DrvMsg(ge->scrnIndex, X_WARNING,
                   "Screen %dx%d is wider than the GE can address (%u bytes a row): "
                   "acceleration of the screen%s off while it is this wide\n",
                   (int) ge->screenBo->width, (int) ge->screenBo->height, TX3120_GE_MAX_PITCH, what);
    else
        xf86DrvMsg(ge->scrnIndex, X_INFO, "Screen %dx%d: acceleration of the screen%s on again\n",
                   (int) ge->screenBo->width, (int) ge->screenBo->height, what);
}
