/* SPDX-License-Identifier: MIT */
/* The mi layer's visual table and the software cursor and default colormap
 * entry points. One depth's visual classes are kept, as the driver sets
 * only one; fbScreenInit makes its visuals from them. */
#include "fake_screen_internal.h"

#include <micmap.h>
#include <mipointer.h>

static int visualDepth;
static int visualMask;
static int visualBitsPerRGB;
static int visualPreferred;

void
miClearVisualTypes(void)
{
    fakeCall("miClearVisualTypes");
    visualDepth = visualMask = visualBitsPerRGB = 0;
    visualPreferred = -1;
}

Bool
miSetVisualTypes(int depth, int visuals, int bitsPerRGB, int preferredVisual)
{
    if (fakeCall("miSetVisualTypes"))
        return FALSE;
    visualDepth = depth;
    visualMask = visuals;
    visualBitsPerRGB = bitsPerRGB;
    visualPreferred = preferredVisual;
    return TRUE;
}

/* As the server: the two decomposed classes above 10 bits of depth, all
 * six classes for the small depths. */
int
miGetDefaultVisualMask(int depth)
{
    if (depth > 10)
        return (1 << TrueColor) | (1 << DirectColor);
    if (depth == 1)
        return (1 << StaticGray) | (1 << GrayScale);
    return (1 << StaticGray) | (1 << GrayScale) | (1 << StaticColor) |
        (1 << PseudoColor) | (1 << TrueColor) | (1 << DirectColor);
}

Bool
miSetPixmapDepths(void)
{
    return !fakeCall("miSetPixmapDepths");
}

int
fakeMiVisualMask(int depth, int *bitsPerRGB, int *preferredClass)
{
    if (depth != visualDepth)
        return 0;
    *bitsPerRGB = visualBitsPerRGB;
    *preferredClass = visualPreferred;
    return visualMask;
}

Bool
miDCInitialize(ScreenPtr screen, miPointerScreenFuncPtr screenFuncs)
{
    (void) screen;
    (void) screenFuncs;
    return !fakeCall("miDCInitialize");
}

Bool
miCreateDefColormap(ScreenPtr screen)
{
    (void) screen;
    return !fakeCall("miCreateDefColormap");
}

void
fakeMiReset(void)
{
    visualDepth = visualMask = visualBitsPerRGB = 0;
    visualPreferred = -1;
}
