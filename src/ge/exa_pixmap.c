/* Pixmap storage for EXA: every driver pixmap is a mapped dumb buffer; the
 * first screen-sized one (the screen pixmap) is the screen's shadow. */
#include "ge/ge.h"

#include <stdlib.h>

#define QEL_MAX_SERIAL (1UL << 28)

qelBo *
qelPixmapBo(PixmapPtr pixmap)
{
    qelPixmapPriv *pixPriv = exaGetPixmapDriverPrivate(pixmap);

    return pixPriv ? pixPriv->bo : NULL;
}

Bool
qelPixmapIsOffscreen(PixmapPtr pixmap)
{
    return qelPixmapBo(pixmap) != NULL;
}

Bool
qelIsScreenBo(const qelScreenPriv *priv, const qelBo *bo)
{
    return bo == priv->shadow;
}

static Bool
qelPixmapFormatSupported(int width, int height, int depth, int bitsPerPixel)
{
    return depth == 24 && bitsPerPixel == 32 &&
        width >= 1 && width <= QEL_MAX_DIMENSION &&
        height >= 1 && height <= QEL_MAX_DIMENSION;
}

static qelBo *
qelCreatePixmapBo(qelScreenPriv *priv, int width, int height)
{
    qelBo *bo = qelBoCreate(priv->fd, width, height);

    if (bo && !qelBoGetMap(priv->fd, bo)) {
        qelBoDestroy(priv->fd, bo);
        return NULL;
    }
    return bo;
}

void *
qelCreatePixmap2(ScreenPtr screen, int width, int height, int depth, int usageHint,
                 int bitsPerPixel, int *newFbPitch)
{
    ScrnInfoPtr scrn = xf86ScreenToScrn(screen);
    qelScreenPriv *priv = qelScreenPrivFromScrn(scrn);
    qelPixmapPriv *pixPriv;

    (void) usageHint;

    if (!priv->accel || !qelPixmapFormatSupported(width, height, depth, bitsPerPixel))
        return NULL;
    pixPriv = calloc(1, sizeof(*pixPriv));
    if (!pixPriv)
        return NULL;

    if (!priv->screenBoClaimed && width == scrn->virtualX && height == scrn->virtualY) {
        pixPriv->bo = priv->shadow;
        priv->screenBoClaimed = TRUE;
        priv->screenPixmapPriv = pixPriv;
    } else {
        pixPriv->bo = qelCreatePixmapBo(priv, width, height);
        if (!pixPriv->bo) {
            free(pixPriv);
            return NULL;
        }
    }
    pixPriv->pitch = pixPriv->bo->pitch;
    *newFbPitch = pixPriv->pitch;
    return pixPriv;
}

void
qelDestroyPixmap(ScreenPtr screen, void *driverPriv)
{
    qelScreenPriv *priv = qelScreenPrivFromScreen(screen);
    qelPixmapPriv *pixPriv = driverPriv;

    if (!pixPriv)
        return;
    if (pixPriv->bo && !qelIsScreenBo(priv, pixPriv->bo)) {
        /* Queued operations may still name the buffer. */
        qelGeFlush(priv);
        qelBoDestroy(priv->fd, pixPriv->bo);
    }
    if (pixPriv == priv->screenPixmapPriv)
        priv->screenPixmapPriv = NULL;
    free(pixPriv);
}

Bool
qelModifyPixmapHeader(PixmapPtr pixmap, int width, int height, int depth,
                      int bitsPerPixel, int devKind, void *pixData)
{
    qelPixmapPriv *pixPriv = exaGetPixmapDriverPrivate(pixmap);

    /* The buffer decides stride and address, whatever the caller passes. */
    (void) devKind;
    (void) pixData;

    if (!pixPriv || !pixPriv->bo)
        return FALSE;

    if (width > 0)
        pixmap->drawable.width = width;
    if (height > 0)
        pixmap->drawable.height = height;
    if (depth > 0)
        pixmap->drawable.depth = depth;
    if (bitsPerPixel > 0)
        pixmap->drawable.bitsPerPixel = bitsPerPixel;

    if (++globalSerialNumber > QEL_MAX_SERIAL)
        globalSerialNumber = 1;
    pixmap->drawable.serialNumber = globalSerialNumber;

    pixmap->devKind = pixPriv->pitch;
    pixmap->devPrivate.ptr = pixPriv->bo->map;
    return TRUE;
}

void
qelGeNoteScreenPitch(ScrnInfoPtr scrn, const qelScreenPriv *priv, const qelBo *previous)
{
    Bool wide = priv->shadow->pitch > GE_MAX_PITCH;
    Bool wasWide = previous && previous->pitch > GE_MAX_PITCH;
    const char *what = priv->tearFree ? " and TearFree" : "";

    if (!priv->accel || wide == wasWide)
        return;
    if (wide)
        xf86DrvMsg(scrn->scrnIndex, X_WARNING,
                   "Screen %dx%d is wider than the GE can address (%u bytes a row): "
                   "acceleration of the screen%s off while it is this wide\n",
                   (int) priv->shadow->width, (int) priv->shadow->height, GE_MAX_PITCH, what);
    else
        xf86DrvMsg(scrn->scrnIndex, X_INFO, "Screen %dx%d: acceleration of the screen%s on again\n",
                   (int) priv->shadow->width, (int) priv->shadow->height, what);
}
