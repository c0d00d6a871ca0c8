/* SPDX-License-Identifier: MIT */
/* The screen side of the fake server: a ScreenRec the tests build as the
 * server's AddScreen does, and the fb/mi layer under it (visuals, the
 * screen pixmap, the base screen procedures) with the xf86 helpers a
 * driver's ScreenInit calls. EXA, Damage, the main loop's descriptors and
 * RandR properties are fake_exa.c's, fake_damage.c's, fake_properties.c's.
 *
 * Every call is counted with fakeCall under the function's name, so
 * fakeCallCount and fakeFail (fake_server.h) work on these too. */
#ifndef QEL_FAKE_SCREEN_H
#define QEL_FAKE_SCREEN_H

#include "fake_server.h"

#include <stdint.h>

/* ---- screens ---- */

/* A screen record for the ScrnInfoRec as AddScreen hands it to ScreenInit:
 * numbered like it, with no procedures installed yet (fbScreenInit installs
 * the base ones). */
ScreenPtr fakeScreenCreate(ScrnInfoPtr scrn);
/* Frees the record, as the server does after CloseScreen at the end of a
 * generation (it does not call CloseScreen). */
void fakeScreenFree(ScreenPtr screen);

/* What fbScreenInit was given for the screen. */
typedef struct fakeFbScreenArgs {
    void *pixels;
    int width, height;
    int dpiX, dpiY;
    int displayWidth;
    int bitsPerPixel;
} fakeFbScreenArgs;
const fakeFbScreenArgs *fakeFbScreenInitArgs(ScreenPtr screen);

/* The base layer's procedures, the bottom of every wrapping chain. Each
 * counts its calls under its own name ("fakeBaseCloseScreen", ...); the
 * screen's ModifyPixmapHeader counts under "fakeModifyPixmapHeader". */
Bool fakeBaseCreateScreenResources(ScreenPtr screen);
Bool fakeBaseCloseScreen(ScreenPtr screen);
void fakeBaseBlockHandler(ScreenPtr screen, void *timeout);

/* Pixmaps the screens' CreatePixmap made and DestroyPixmap did not free. */
int fakePixmapCount(void);

/* ---- the xf86 helpers ScreenInit calls ---- */

/* The last arguments of xf86HandleColormaps, xf86DPMSInit and
 * xf86ShowUnusedOptions. */
typedef struct fakeScreenHelperArgs {
    int colormapMaxColors;
    int colormapSignificantBits;
    void *colormapLoadPalette;
    void *colormapSetOverscan;
    unsigned int colormapFlags;
    DPMSSetProcPtr dpmsSet;
    int dpmsFlags;
    int unusedOptionsScrnIndex;
    XF86OptionPtr unusedOptions;
} fakeScreenHelperArgs;
const fakeScreenHelperArgs *fakeScreenHelpers(void);

/* ---- reset ----
 *
 * Frees every screen record and pixmap, forgets the visual types and the
 * calls of the xf86 helpers, and sets serverGeneration back to 1. */
void fakeScreenLayersReset(void);

#endif
