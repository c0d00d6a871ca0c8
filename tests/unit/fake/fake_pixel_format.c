/* SPDX-License-Identifier: MIT */
/* The server's helpers that fix a screen's pixel format, gamma and DPI. The
 * depth comes from the configuration when it names one, as in the server. */
#include "fake_server.h"
#include "fake_internal.h"

#include <micmap.h>

static fakeDepthBppCall lastDepthBppCall;

const fakeDepthBppCall *
fakeLastDepthBppCall(void)
{
    return &lastDepthBppCall;
}

static int
fakeFramebufferBpp(int depth, int flags)
{
    if (depth == 24)
        return flags & Support32bppFb ? 32 : 24;
    if (depth > 8)
        return depth <= 16 ? 16 : 32;
    return 8;
}

Bool
xf86SetDepthBpp(ScrnInfoPtr scrn, int depth, int bpp, int fbbpp, int flags)
{
    int chosen = fakeConfigDepth() ? fakeConfigDepth() : depth;

    lastDepthBppCall = (fakeDepthBppCall) { depth, bpp, fbbpp, flags };
    if (fakeCall("xf86SetDepthBpp"))
        return FALSE;
    scrn->depth = chosen;
    scrn->bitsPerPixel = fakeFramebufferBpp(chosen, flags);
    return TRUE;
}

void
xf86PrintDepthBpp(ScrnInfoPtr scrn)
{
    (void) scrn;
    fakeCall("xf86PrintDepthBpp");
}

Bool
xf86SetWeight(ScrnInfoPtr scrn, rgb weight, rgb mask)
{
    int bits;

    if (fakeCall("xf86SetWeight"))
        return FALSE;
    if (weight.red || weight.green || weight.blue) {
        scrn->weight = weight;
    } else {
        bits = scrn->depth >= 24 ? 8 : scrn->depth / 3;
        scrn->weight = (rgb) { bits, bits, bits };
    }
    if (mask.red || mask.green || mask.blue) {
        scrn->mask = mask;
    } else {
        scrn->offset = (rgb) { scrn->weight.blue + scrn->weight.green, scrn->weight.blue, 0 };
        scrn->mask.red = ((1u << scrn->weight.red) - 1) << scrn->offset.red;
        scrn->mask.green = ((1u << scrn->weight.green) - 1) << scrn->offset.green;
        scrn->mask.blue = ((1u << scrn->weight.blue) - 1) << scrn->offset.blue;
    }
    return TRUE;
}

Bool
xf86SetDefaultVisual(ScrnInfoPtr scrn, int visual)
{
    if (fakeCall("xf86SetDefaultVisual"))
        return FALSE;
    scrn->defaultVisual = visual >= 0 ? visual : TrueColor;
    return TRUE;
}

Bool
xf86SetGamma(ScrnInfoPtr scrn, Gamma newGamma)
{
    if (fakeCall("xf86SetGamma"))
        return FALSE;
    if (newGamma.red == 0.0f && newGamma.green == 0.0f && newGamma.blue == 0.0f)
        newGamma = (Gamma) { 1.0f, 1.0f, 1.0f };
    scrn->gamma = newGamma;
    return TRUE;
}

void
xf86SetDpi(ScrnInfoPtr scrn, int x, int y)
{
    fakeCall("xf86SetDpi");
    scrn->xDpi = x > 0 ? x : 96;
    scrn->yDpi = y > 0 ? y : 96;
}
