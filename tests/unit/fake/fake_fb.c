/* SPDX-License-Identifier: MIT */
/* The fb layer at the bottom of a screen: fbScreenInit makes the visuals
 * and installs the base screen procedures, which create the screen pixmap
 * over the pixels fb was given, modify pixmap headers the way mi does, and
 * free it all again at CloseScreen. */
#include "fake_screen_internal.h"

#include <stdlib.h>
#include <string.h>

#include <fb.h>

/* A pixmap of the base layer, with the system memory it owns. */
typedef struct fakePixmap {
    PixmapRec pixmap;
    void *ownedBits;
    struct fakePixmap *next;
} fakePixmap;

static fakePixmap *pixmaps;

static int
fakeBitsPerPixel(int depth)
{
    if (depth <= 1)
        return 1;
    if (depth <= 8)
        return 8;
    if (depth <= 16)
        return 16;
    return 32;
}

static PixmapPtr
fakeCreatePixmap(ScreenPtr screen, int width, int height, int depth, unsigned usageHint)
{
    fakePixmap *pixmap = XNFcallocarray(1, sizeof(*pixmap));
    int bpp = fakeBitsPerPixel(depth);

    pixmap->pixmap.drawable.type = DRAWABLE_PIXMAP;
    pixmap->pixmap.drawable.pScreen = screen;
    pixmap->pixmap.drawable.depth = depth;
    pixmap->pixmap.drawable.bitsPerPixel = bpp;
    pixmap->pixmap.drawable.width = width;
    pixmap->pixmap.drawable.height = height;
    pixmap->pixmap.drawable.serialNumber = NEXT_SERIAL_NUMBER;
    pixmap->pixmap.refcnt = 1;
    pixmap->pixmap.usage_hint = usageHint;
    pixmap->pixmap.devKind = ((width * bpp + 31) / 32) * 4;
    if (width > 0 && height > 0)
        pixmap->ownedBits = XNFcallocarray(height, pixmap->pixmap.devKind);
    pixmap->pixmap.devPrivate.ptr = pixmap->ownedBits;
    pixmap->next = pixmaps;
    pixmaps = pixmap;
    return &pixmap->pixmap;
}

PixmapPtr
fbCreatePixmap(ScreenPtr screen, int width, int height, int depth, unsigned usageHint)
{
    fakeCall("fbCreatePixmap");
    return fakeCreatePixmap(screen, width, height, depth, usageHint);
}

static void
fakePixmapFree(fakePixmap *pixmap)
{
    for (fakePixmap **link = &pixmaps; *link; link = &(*link)->next) {
        if (*link == pixmap) {
            *link = pixmap->next;
            break;
        }
    }
    free(pixmap->ownedBits);
    free(pixmap);
}

static Bool
fakeDestroyPixmap(PixmapPtr pixmap)
{
    if (--pixmap->refcnt > 0)
        return TRUE;
    /* Only the base layer makes pixmaps, and PixmapRec is their first
     * member. */
    fakePixmapFree((fakePixmap *) pixmap);
    return TRUE;
}

/* The dix's own release of a pixmap, whatever its reference count. */
void
FreePixmap(PixmapPtr pixmap)
{
    fakeCall("FreePixmap");
    fakePixmapFree((fakePixmap *) pixmap);
}

int
fakePixmapCount(void)
{
    int count = 0;

    for (fakePixmap *pixmap = pixmaps; pixmap; pixmap = pixmap->next)
        count++;
    return count;
}

void
fakePixmapsReset(void)
{
    while (pixmaps)
        fakePixmapFree(pixmaps);
}

/* mi's rules: a field given as 0 or less keeps its value, except that -1
 * for bitsPerPixel and devKind derives them from depth and width; pixel
 * data replaces the old only when given. */
static Bool
fakeModifyPixmapHeader(PixmapPtr pixmap, int width, int height, int depth, int bitsPerPixel,
                       int devKind, void *pixData)
{
    fakeCall("fakeModifyPixmapHeader");
    if (!pixmap)
        return FALSE;
    if (width > 0)
        pixmap->drawable.width = width;
    if (height > 0)
        pixmap->drawable.height = height;
    if (depth > 0)
        pixmap->drawable.depth = depth;
    if (bitsPerPixel > 0)
        pixmap->drawable.bitsPerPixel = bitsPerPixel;
    else if (bitsPerPixel == -1 && depth > 0)
        pixmap->drawable.bitsPerPixel = fakeBitsPerPixel(depth);
    if (devKind > 0)
        pixmap->devKind = devKind;
    else if (devKind == -1 && width > 0 && depth > 0)
        pixmap->devKind = ((width * pixmap->drawable.bitsPerPixel + 31) / 32) * 4;
    if (pixData)
        pixmap->devPrivate.ptr = pixData;
    pixmap->drawable.serialNumber = NEXT_SERIAL_NUMBER;
    return TRUE;
}

static PixmapPtr
fakeGetScreenPixmap(ScreenPtr screen)
{
    return screen->devPrivate;
}

Bool
fakeBaseCreateScreenResources(ScreenPtr screen)
{
    const fakeFbScreenArgs *fb = fakeScreenFbArgs(screen);
    int bpp = fakeBitsPerPixel(screen->rootDepth);
    PixmapPtr pixmap;

    if (fakeCall("fakeBaseCreateScreenResources"))
        return FALSE;
    pixmap = screen->CreatePixmap(screen, 0, 0, screen->rootDepth, 0);
    if (!screen->ModifyPixmapHeader(pixmap, screen->width, screen->height, screen->rootDepth,
                                    bpp, fb->displayWidth * bpp / 8, fb->pixels))
        return FALSE;
    screen->devPrivate = pixmap;
    return TRUE;
}

Bool
fakeBaseCloseScreen(ScreenPtr screen)
{
    Bool fail = fakeCall("fakeBaseCloseScreen");

    if (screen->devPrivate)
        screen->DestroyPixmap(screen->devPrivate);
    screen->devPrivate = NULL;
    free(screen->visuals);
    screen->visuals = NULL;
    screen->numVisuals = 0;
    return !fail;
}

void
fakeBaseBlockHandler(ScreenPtr screen, void *timeout)
{
    (void) screen;
    (void) timeout;
    fakeCall("fakeBaseBlockHandler");
}

/* fb lays the colours of its decomposed visuals out on its own (here: blue
 * in the high byte); a driver corrects them to what PreInit negotiated. */
static void
fakeFbVisual(VisualPtr visual, int class, int depth, int bitsPerRGB)
{
    visual->class = class;
    visual->nplanes = depth;
    visual->bitsPerRGBValue = bitsPerRGB;
    visual->ColormapEntries = 1 << bitsPerRGB;
    if ((class | DynamicClass) != DirectColor)
        return;
    visual->redMask = 0x0000ff;
    visual->greenMask = 0x00ff00;
    visual->blueMask = 0xff0000;
    visual->offsetRed = 0;
    visual->offsetGreen = 8;
    visual->offsetBlue = 16;
}

static Bool
fakeFbMakeVisuals(ScreenPtr screen, int depth)
{
    int bitsPerRGB, preferred;
    int mask = fakeMiVisualMask(depth, &bitsPerRGB, &preferred);

    screen->visuals = XNFcallocarray(6, sizeof(VisualRec));
    screen->numVisuals = 0;
    for (int class = StaticGray; class <= DirectColor; class++) {
        VisualPtr visual;

        if (!(mask & (1 << class)))
            continue;
        visual = &screen->visuals[screen->numVisuals++];
        visual->vid = 32 + screen->numVisuals;
        fakeFbVisual(visual, class, depth, bitsPerRGB);
        if (class == preferred || screen->numVisuals == 1)
            screen->rootVisual = visual->vid;
    }
    return screen->numVisuals > 0;
}

static void
fakeFbInstallProcedures(ScreenPtr screen)
{
    screen->CreateScreenResources = fakeBaseCreateScreenResources;
    screen->CloseScreen = fakeBaseCloseScreen;
    screen->BlockHandler = fakeBaseBlockHandler;
    screen->GetScreenPixmap = fakeGetScreenPixmap;
    screen->CreatePixmap = fakeCreatePixmap;
    screen->DestroyPixmap = fakeDestroyPixmap;
    screen->ModifyPixmapHeader = fakeModifyPixmapHeader;
}

Bool
fbScreenInit(ScreenPtr screen, void *pbits, int xsize, int ysize, int dpix, int dpiy,
             int width, int bpp)
{
    fakeFbScreenArgs *args = fakeScreenFbArgs(screen);
    ScrnInfoPtr scrn = xf86ScreenToScrn(screen);

    if (fakeCall("fbScreenInit"))
        return FALSE;
    *args = (fakeFbScreenArgs) { pbits, xsize, ysize, dpix, dpiy, width, bpp };
    screen->width = xsize;
    screen->height = ysize;
    screen->mmWidth = dpix > 0 ? (xsize * 254 + dpix * 5) / (dpix * 10) : 0;
    screen->mmHeight = dpiy > 0 ? (ysize * 254 + dpiy * 5) / (dpiy * 10) : 0;
    screen->rootDepth = scrn->depth;
    if (!fakeFbMakeVisuals(screen, scrn->depth))
        return FALSE;
    fakeFbInstallProcedures(screen);
    return TRUE;
}

Bool
fbPictureInit(ScreenPtr screen, PictFormatPtr formats, int nformats)
{
    (void) screen;
    (void) formats;
    (void) nformats;
    return !fakeCall("fbPictureInit");
}
