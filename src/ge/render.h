/* SPDX-License-Identifier: MIT */
/* The screen's Render entry points as the driver takes them over from the
 * acceleration layer, and the CPU access they prepare once per request. */
#ifndef QEL_RENDER_H
#define QEL_RENDER_H

#include "ge/ge.h"

#include <picturestr.h>

/* Destination, source and mask, each with an alpha map. */
#define QEL_RENDER_ACCESS_MAX 6

typedef struct qelRenderAccess {
    qelGe *ge;
    PixmapPtr shown[QEL_RENDER_ACCESS_MAX];
    int count;
} qelRenderAccess;

/* Opens the access for one request; the destination is added first, so
 * that a pixmap that is also read waits as the writer. */
void qelRenderAccessBegin(qelRenderAccess *access, qelGe *ge);
void qelRenderAccessPicture(qelRenderAccess *access, PicturePtr picture, qelCpuAccess cpu);
void qelRenderAccessDrawable(qelRenderAccess *access, DrawablePtr drawable, qelCpuAccess cpu);
/* The GC's tile or stipple, which fb reads. */
void qelRenderAccessGC(qelRenderAccess *access, GCPtr gc);
void qelRenderAccessEnd(qelRenderAccess *access);

void qelComposite(CARD8 op, PicturePtr src, PicturePtr mask, PicturePtr dst, INT16 xSrc,
                  INT16 ySrc, INT16 xMask, INT16 yMask, INT16 xDst, INT16 yDst, CARD16 width,
                  CARD16 height);
void qelGlyphs(CARD8 op, PicturePtr src, PicturePtr dst, PictFormatPtr maskFormat, INT16 xSrc,
               INT16 ySrc, int nlist, GlyphListPtr list, GlyphPtr *glyphs);
void qelTrapezoids(CARD8 op, PicturePtr src, PicturePtr dst, PictFormatPtr maskFormat,
                   INT16 xSrc, INT16 ySrc, int ntrap, xTrapezoid *traps);
void qelTriangles(CARD8 op, PicturePtr src, PicturePtr dst, PictFormatPtr maskFormat,
                  INT16 xSrc, INT16 ySrc, int ntri, xTriangle *tris);
void qelAddTraps(PicturePtr picture, INT16 xOff, INT16 yOff, int ntrap, xTrap *traps);

/* The screen's CreateGC above EXA's: fills whose rectangles EXA would cut
 * at 16 bits go to software. The GC record's key is registered once per
 * generation first. */
Bool qelRegisterGCPrivate(void);
Bool qelCreateGC(GCPtr gc);

/* The screen's CreatePixmap above EXA's: glyph pictures stay out of EXA. */
PixmapPtr qelCreatePixmap(ScreenPtr screen, int width, int height, int depth, unsigned usage);

#endif
