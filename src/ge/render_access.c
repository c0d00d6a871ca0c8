/* SPDX-License-Identifier: MIT */
/* CPU access to the pixmaps of one Render request, prepared once for the
 * whole request: each buffer waits for the GE as its access needs, and
 * every pixmap the driver holds shows its pixels to the software renderer
 * until the request is done. */
#include "ge/render.h"

static PixmapPtr
qelDrawablePixmap(DrawablePtr drawable)
{
    if (drawable->type == DRAWABLE_WINDOW)
        return drawable->pScreen->GetWindowPixmap((WindowPtr) drawable);
    return (PixmapPtr) drawable;
}

void
qelRenderAccessBegin(qelRenderAccess *access, qelGe *ge)
{
    access->ge = ge;
    access->count = 0;
    ge->renderAccessDepth++;
}

/* A pixmap whose address is already shown (the same pixmap earlier in the
 * request, or one a caller has prepared) is left as it is; a pixmap without
 * a driver private is not EXA's and always shows its pixels. */
static void
qelRenderAccessPixmap(qelRenderAccess *access, PixmapPtr pixmap, qelCpuAccess cpu)
{
    qelPixmapPriv *pixPriv = exaGetPixmapDriverPrivate(pixmap);
    void *pixels;

    if (!pixPriv)
        return;
    pixels = qelPixmapCpuView(access->ge, pixPriv, cpu);
    if (pixmap->devPrivate.ptr || access->count == QEL_RENDER_ACCESS_MAX)
        return;
    pixmap->devPrivate.ptr = pixels;
    pixPriv->views++;
    access->shown[access->count++] = pixmap;
}

void
qelRenderAccessDrawable(qelRenderAccess *access, DrawablePtr drawable, qelCpuAccess cpu)
{
    qelRenderAccessPixmap(access, qelDrawablePixmap(drawable), cpu);
}

void
qelRenderAccessGC(qelRenderAccess *access, GCPtr gc)
{
    if (gc->fillStyle == FillTiled && !gc->tileIsPixel)
        qelRenderAccessDrawable(access, &gc->tile.pixmap->drawable, QEL_CPU_READ);
    if (gc->stipple)
        qelRenderAccessDrawable(access, &gc->stipple->drawable, QEL_CPU_READ);
}

void
qelRenderAccessPicture(qelRenderAccess *access, PicturePtr picture, qelCpuAccess cpu)
{
    if (!picture)
        return;
    if (picture->pDrawable)
        qelRenderAccessPixmap(access, qelDrawablePixmap(picture->pDrawable), cpu);
    if (picture->alphaMap && picture->alphaMap->pDrawable)
        qelRenderAccessPixmap(access, qelDrawablePixmap(picture->alphaMap->pDrawable), cpu);
}

void
qelRenderAccessEnd(qelRenderAccess *access)
{
    for (int i = 0; i < access->count; i++) {
        qelPixmapPriv *pixPriv = exaGetPixmapDriverPrivate(access->shown[i]);

        access->shown[i]->devPrivate.ptr = NULL;
        pixPriv->views--;
    }
    access->count = 0;
    access->ge->renderAccessDepth--;
}
