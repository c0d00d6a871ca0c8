/* SPDX-License-Identifier: MIT */
/* Render as the unit tests' screens have it: not at all. fbPictureInit
 * registers no picture screen here, so the driver finds none to hook; the
 * software renderer and the shared-memory registration exist only to be
 * linked, and count their calls. */
#include "fake_server.h"
#include "fake_internal.h"

#include <stdio.h>
#include <stdlib.h>

#include <fb.h>
#include <fbpict.h>
#include <picturestr.h>
#include <shmint.h>

DevPrivateKeyRec PictureScreenPrivateKeyRec;

void
ShmRegisterFbFuncs(ScreenPtr screen)
{
    (void) screen;
    fakeCall("ShmRegisterFbFuncs");
}

void
fbComposite(CARD8 op, PicturePtr src, PicturePtr mask, PicturePtr dst, INT16 xSrc, INT16 ySrc,
            INT16 xMask, INT16 yMask, INT16 xDst, INT16 yDst, CARD16 width, CARD16 height)
{
    (void) op, (void) src, (void) mask, (void) dst, (void) xSrc, (void) ySrc;
    (void) xMask, (void) yMask, (void) xDst, (void) yDst, (void) width, (void) height;
    fakeCall("fbComposite");
}

void
fbGlyphs(CARD8 op, PicturePtr src, PicturePtr dst, PictFormatPtr maskFormat, INT16 xSrc,
         INT16 ySrc, int nlist, GlyphListPtr list, GlyphPtr *glyphs)
{
    (void) op, (void) src, (void) dst, (void) maskFormat, (void) xSrc, (void) ySrc;
    (void) nlist, (void) list, (void) glyphs;
    fakeCall("fbGlyphs");
}

void
fbTrapezoids(CARD8 op, PicturePtr src, PicturePtr dst, PictFormatPtr maskFormat, INT16 xSrc,
             INT16 ySrc, int ntrap, xTrapezoid *traps)
{
    (void) op, (void) src, (void) dst, (void) maskFormat, (void) xSrc, (void) ySrc;
    (void) ntrap, (void) traps;
    fakeCall("fbTrapezoids");
}

void
fbTriangles(CARD8 op, PicturePtr src, PicturePtr dst, PictFormatPtr maskFormat, INT16 xSrc,
            INT16 ySrc, int ntri, xTriangle *tris)
{
    (void) op, (void) src, (void) dst, (void) maskFormat, (void) xSrc, (void) ySrc;
    (void) ntri, (void) tris;
    fakeCall("fbTriangles");
}

void
fbAddTraps(PicturePtr picture, INT16 xOff, INT16 yOff, int ntrap, xTrap *traps)
{
    (void) picture, (void) xOff, (void) yOff, (void) ntrap, (void) traps;
    fakeCall("fbAddTraps");
}

void
fbPolyFillRect(DrawablePtr drawable, GCPtr gc, int count, xRectangle *rects)
{
    (void) drawable, (void) gc, (void) count, (void) rects;
    fakeCall("fbPolyFillRect");
}

void
fbFillSpans(DrawablePtr drawable, GCPtr gc, int count, DDXPointPtr points, int *widths, int sorted)
{
    (void) drawable, (void) gc, (void) count, (void) points, (void) widths, (void) sorted;
    fakeCall("fbFillSpans");
}

RegionPtr
fbCopyArea(DrawablePtr src, DrawablePtr dst, GCPtr gc, int srcX, int srcY, int width, int height,
           int dstX, int dstY)
{
    (void) src, (void) dst, (void) gc, (void) srcX, (void) srcY, (void) width, (void) height;
    (void) dstX, (void) dstY;
    fakeCall("fbCopyArea");
    return NULL;
}

/* Screen keys get a slot of the block fakeScreenCreate gives every screen,
 * as the server lays them out; no GC is made here, so other keys need no
 * storage. */
Bool
dixRegisterPrivateKey(DevPrivateKey key, DevPrivateType type, unsigned size)
{
    static int screenKeys;

    if (fakeCall("dixRegisterPrivateKey"))
        return FALSE;
    if (type != PRIVATE_SCREEN || key->initialized)
        return TRUE;
    if (screenKeys == FAKE_SCREEN_PRIVATE_SLOTS || size != 0) {
        fprintf(stderr, "fake server: no room for a screen private of %u bytes\n", size);
        abort();
    }
    *key = (DevPrivateKeyRec) {
        .offset = (int) (screenKeys++ * sizeof(void *)),
        .initialized = TRUE,
        .type = type,
    };
    return TRUE;
}
