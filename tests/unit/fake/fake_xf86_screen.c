/* SPDX-License-Identifier: MIT */
/* The xf86 helpers a driver's ScreenInit calls after fb is set up: pixel
 * values, backing store, the cursor, colormaps, DPMS and the report of
 * unused options. They record their arguments; xf86DPMSSet is the CRTC
 * layer's, modelled on the server's order of outputs and CRTCs. */
#include "fake_screen_internal.h"

#include <string.h>

#include <X11/extensions/dpmsconst.h>
#include <mipointer.h>
#include <xf86cmap.h>

static fakeScreenHelperArgs helpers;

/* The server answers with the screen's pointer procedures; only their
 * address matters to a driver. */
static miPointerScreenFuncRec pointerScreenFuncs;

void
xf86SetBlackWhitePixels(ScreenPtr screen)
{
    fakeCall("xf86SetBlackWhitePixels");
    screen->whitePixel = 1;
    screen->blackPixel = 0;
}

void
xf86SetBackingStore(ScreenPtr screen)
{
    (void) screen;
    fakeCall("xf86SetBackingStore");
}

void
xf86SetSilkenMouse(ScreenPtr screen)
{
    (void) screen;
    fakeCall("xf86SetSilkenMouse");
}

void *
xf86GetPointerScreenFuncs(void)
{
    fakeCall("xf86GetPointerScreenFuncs");
    return &pointerScreenFuncs;
}

Bool
xf86HandleColormaps(ScreenPtr screen, int maxCol, int sigRGBbits, xf86LoadPaletteProc *loadPalette,
                    xf86SetOverscanProc *setOverscan, unsigned int flags)
{
    (void) screen;
    if (fakeCall("xf86HandleColormaps"))
        return FALSE;
    helpers.colormapMaxColors = maxCol;
    helpers.colormapSignificantBits = sigRGBbits;
    helpers.colormapLoadPalette = (void *) loadPalette;
    helpers.colormapSetOverscan = (void *) setOverscan;
    helpers.colormapFlags = flags;
    return TRUE;
}

Bool
xf86DPMSInit(ScreenPtr screen, DPMSSetProcPtr set, int flags)
{
    (void) screen;
    if (fakeCall("xf86DPMSInit"))
        return FALSE;
    helpers.dpmsSet = set;
    helpers.dpmsFlags = flags;
    return TRUE;
}

static void
fakeOutputsDpms(xf86CrtcConfigPtr config, int mode)
{
    for (int i = 0; i < config->num_output; i++) {
        xf86OutputPtr output = config->output[i];

        if (output->crtc)
            output->funcs->dpms(output, mode);
    }
}

/* Outputs go dark before their CRTCs and light after them. */
void
xf86DPMSSet(ScrnInfoPtr scrn, int mode, int flags)
{
    xf86CrtcConfigPtr config = XF86_CRTC_CONFIG_PTR(scrn);

    (void) flags;
    fakeCall("xf86DPMSSet");
    if (!scrn->vtSema)
        return;
    if (mode == DPMSModeOff)
        fakeOutputsDpms(config, mode);
    for (int i = 0; i < config->num_crtc; i++)
        if (config->crtc[i]->enabled)
            config->crtc[i]->funcs->dpms(config->crtc[i], mode);
    if (mode != DPMSModeOff)
        fakeOutputsDpms(config, mode);
}

void
xf86ShowUnusedOptions(int scrnIndex, XF86OptionPtr options)
{
    fakeCall("xf86ShowUnusedOptions");
    helpers.unusedOptionsScrnIndex = scrnIndex;
    helpers.unusedOptions = options;
}

const fakeScreenHelperArgs *
fakeScreenHelpers(void)
{
    return &helpers;
}

void
fakeScreenHelpersReset(void)
{
    memset(&helpers, 0, sizeof(helpers));
}
