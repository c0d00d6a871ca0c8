/* SPDX-License-Identifier: MIT */
/* Pixmaps over buffers that their callers keep: the screen pixmap over the
 * screen's buffer, a CRTC's rotation shadow over its dumb buffer. With
 * acceleration the pixmap's record names the buffer, so that the GE draws
 * on it and CPU access waits for the GE as for any driver pixmap; without,
 * software draws on the buffer's mapping. */
#include "ge/ge.h"

#include <stdlib.h>

static qelPixmapPriv *
qelBorrowerPriv(const qelGe *ge, PixmapPtr pixmap)
{
    return ge && ge->exa ? exaGetPixmapDriverPrivate(pixmap) : NULL;
}

/* EXA's hook takes stride and address from the driver's record, fb's from
 * the call. */
Bool
qelPixmapBorrowBo(qelGe *ge, PixmapPtr pixmap, qelBo *bo)
{
    ScreenPtr screen = pixmap->drawable.pScreen;
    qelPixmapPriv *pixPriv = qelBorrowerPriv(ge, pixmap);
    void *pixels = bo->map;

    if (pixPriv) {
        pixPriv->bo = bo;
        pixPriv->pitch = bo->pitch;
        pixels = NULL;
    }
    return screen->ModifyPixmapHeader(pixmap, bo->width, bo->height, -1, -1, (int) bo->pitch,
                                      pixels);
}

Bool
qelBorrowedPixmapCreate(qelBorrowedPixmap *borrowed, ScreenPtr screen, qelGe *ge, qelBo *bo)
{
    borrowed->pixmap = screen->CreatePixmap(screen, 0, 0, screen->rootDepth, 0);
    if (!borrowed->pixmap)
        return FALSE;
    borrowed->pixPriv = qelBorrowerPriv(ge, borrowed->pixmap);
    if (qelPixmapBorrowBo(ge, borrowed->pixmap, bo))
        return TRUE;
    qelBorrowedPixmapDestroy(borrowed, ge);
    return FALSE;
}

/* The buffer stays its keeper's; queued operations may still name it. */
static void
qelBorrowedPixmapReturnBo(qelBorrowedPixmap *borrowed, qelGe *ge)
{
    if (!borrowed->pixPriv)
        return;
    qelGeFlush(ge);
    borrowed->pixPriv->bo = NULL;
}

void
qelBorrowedPixmapDestroy(qelBorrowedPixmap *borrowed, qelGe *ge)
{
    if (!borrowed->pixmap)
        return;
    qelBorrowedPixmapReturnBo(borrowed, ge);
    borrowed->pixmap->drawable.pScreen->DestroyPixmap(borrowed->pixmap);
    borrowed->pixmap = NULL;
    borrowed->pixPriv = NULL;
}

/* The server has already let go of the screen's private records when it
 * calls CloseScreen, EXA's pixmap records among them, and EXA cannot
 * destroy a pixmap without them: the driver's record is freed here and the
 * pixmap as fb frees the screen pixmap. */
void
qelBorrowedPixmapFreeAtClose(qelBorrowedPixmap *borrowed, qelGe *ge)
{
    if (!borrowed->pixmap)
        return;
    if (borrowed->pixPriv) {
        qelBorrowedPixmapReturnBo(borrowed, ge);
        free(borrowed->pixPriv);
    }
    FreePixmap(borrowed->pixmap);
    borrowed->pixmap = NULL;
    borrowed->pixPriv = NULL;
}
