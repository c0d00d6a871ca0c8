/* SPDX-License-Identifier: MIT */
/* The screen's Render entry points. The GE fills and copies; everything
 * else Render asks for (glyphs, trapezoids, triangles, blending) is
 * software's. The acceleration layer would draw such a request through its
 * per-operation fallback, which prepares CPU access, computes regions and
 * allocates for every glyph or shape, and composites trapezoids and
 * triangles only inside their bounds even for operators that must reach
 * the whole destination. Here a request that the GE cannot take goes to
 * fb, the same renderer as without acceleration, in one pass, with the CPU
 * access to its pixmaps prepared once. */
#include "ge/render.h"

#include <shmint.h>

#include <fb.h>
#include <fbpict.h>

static qelBo *
qelPictureBo(PicturePtr picture)
{
    DrawablePtr drawable = picture->pDrawable;

    if (!drawable)
        return NULL;
    if (drawable->type == DRAWABLE_WINDOW)
        return qelPixmapBo(drawable->pScreen->GetWindowPixmap((WindowPtr) drawable));
    return qelPixmapBo((PixmapPtr) drawable);
}

/* What the acceleration layer hands to the GE: an opaque copy between
 * buffers of one format, or a solid fill of a buffer, with nothing to
 * blend or transform. */
static Bool
qelCompositeSuitsGe(CARD8 op, PicturePtr src, PicturePtr mask, PicturePtr dst)
{
    if (mask || src->alphaMap || dst->alphaMap || !qelPictureBo(dst))
        return FALSE;
    if (op != PictOpSrc && !(op == PictOpOver && !PICT_FORMAT_A(src->format)))
        return FALSE;
    if (!src->pDrawable)
        return src->pSourcePict->type == SourcePictTypeSolidFill;
    return !src->transform && src->format == dst->format && qelPictureBo(src);
}

static qelGe *
qelPictureGe(PicturePtr picture)
{
    return qelGeFromScreen(picture->pDrawable->pScreen);
}

static void
qelOpenAccess(qelRenderAccess *access, PicturePtr dst, PicturePtr src, PicturePtr mask)
{
    qelRenderAccessBegin(access, qelPictureGe(dst));
    qelRenderAccessPicture(access, dst, QEL_CPU_WRITE);
    qelRenderAccessPicture(access, src, QEL_CPU_READ);
    qelRenderAccessPicture(access, mask, QEL_CPU_READ);
}

void
qelComposite(CARD8 op, PicturePtr src, PicturePtr mask, PicturePtr dst, INT16 xSrc,
             INT16 ySrc, INT16 xMask, INT16 yMask, INT16 xDst, INT16 yDst, CARD16 width,
             CARD16 height)
{
    qelRenderAccess access;

    if (qelCompositeSuitsGe(op, src, mask, dst)) {
        qelPictureGe(dst)->exaComposite(op, src, mask, dst, xSrc, ySrc, xMask, yMask, xDst,
                                          yDst, width, height);
        return;
    }
    qelOpenAccess(&access, dst, src, mask);
    fbComposite(op, src, mask, dst, xSrc, ySrc, xMask, yMask, xDst, yDst, width, height);
    qelRenderAccessEnd(&access);
}

/* Glyph pictures are software pixmaps (qelCreatePixmap), readable as they
 * are: only the source and the destination need access. */
void
qelGlyphs(CARD8 op, PicturePtr src, PicturePtr dst, PictFormatPtr maskFormat, INT16 xSrc,
          INT16 ySrc, int nlist, GlyphListPtr list, GlyphPtr *glyphs)
{
    qelRenderAccess access;

    qelOpenAccess(&access, dst, src, NULL);
    fbGlyphs(op, src, dst, maskFormat, xSrc, ySrc, nlist, list, glyphs);
    qelRenderAccessEnd(&access);
}

void
qelTrapezoids(CARD8 op, PicturePtr src, PicturePtr dst, PictFormatPtr maskFormat, INT16 xSrc,
              INT16 ySrc, int ntrap, xTrapezoid *traps)
{
    qelRenderAccess access;

    qelOpenAccess(&access, dst, src, NULL);
    fbTrapezoids(op, src, dst, maskFormat, xSrc, ySrc, ntrap, traps);
    qelRenderAccessEnd(&access);
}

void
qelTriangles(CARD8 op, PicturePtr src, PicturePtr dst, PictFormatPtr maskFormat, INT16 xSrc,
             INT16 ySrc, int ntri, xTriangle *tris)
{
    qelRenderAccess access;

    qelOpenAccess(&access, dst, src, NULL);
    fbTriangles(op, src, dst, maskFormat, xSrc, ySrc, ntri, tris);
    qelRenderAccessEnd(&access);
}

void
qelAddTraps(PicturePtr picture, INT16 xOff, INT16 yOff, int ntrap, xTrap *traps)
{
    qelRenderAccess access;

    qelOpenAccess(&access, picture, NULL, NULL);
    fbAddTraps(picture, xOff, yOff, ntrap, traps);
    qelRenderAccessEnd(&access);
}

/* Only Render draws glyph pictures, and only through the entry points
 * above: made by fb directly, they keep their pixels in view and never
 * reach the acceleration layer, so that a glyph costs nothing per
 * request. */
PixmapPtr
qelCreatePixmap(ScreenPtr screen, int width, int height, int depth, unsigned usage)
{
    if (usage == CREATE_PIXMAP_USAGE_GLYPH_PICTURE)
        return fbCreatePixmap(screen, width, height, depth, usage);
    return qelGeFromScreen(screen)->exaCreatePixmap(screen, width, height, depth, usage);
}

/* Put on top of the acceleration layer's procedures once EXA is up. EXA's
 * CloseScreen restores the procedures it found, fb's, which also takes
 * these off again. */
void
qelInstallRenderHooks(ScreenPtr screen, qelGe *ge)
{
    PictureScreenPtr ps = GetPictureScreenIfSet(screen);

    ge->exaCreatePixmap = screen->CreatePixmap;
    screen->CreatePixmap = qelCreatePixmap;
    if (qelRegisterGCPrivate()) {
        ge->exaCreateGC = screen->CreateGC;
        screen->CreateGC = qelCreateGC;
    }
    if (ps) {
        ge->exaComposite = ps->Composite;
        ps->Composite = qelComposite;
        ps->Glyphs = qelGlyphs;
        ps->Trapezoids = qelTrapezoids;
        ps->Triangles = qelTriangles;
        ps->AddTraps = qelAddTraps;
    }
    /* EXA refuses shared-memory pixmaps; they live in the client's memory,
     * where fb makes them and software draws on them. */
    ShmRegisterFbFuncs(screen);
}
