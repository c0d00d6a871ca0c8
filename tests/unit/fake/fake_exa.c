/* SPDX-License-Identifier: MIT */
/* The EXA layer as the driver sees it: the driver record, its registration,
 * and the pixmap queries the acceleration hooks make. A pixmap's driver
 * private is whatever the test attached to it with fakeExaSetPixmapPriv. */
#include "fake_server.h"
#include "fake_internal.h"

#include <stdio.h>
#include <stdlib.h>

#include <exa.h>

#define FAKE_MAX_EXA_PIXMAPS 64

typedef struct fakeExaPixmap {
    PixmapPtr pixmap;
    void *driverPriv;
} fakeExaPixmap;

static fakeExaPixmap exaPixmaps[FAKE_MAX_EXA_PIXMAPS];
static int exaPixmapCount;

ExaDriverPtr
exaDriverAlloc(void)
{
    if (fakeCall("exaDriverAlloc"))
        return NULL;
    return XNFcallocarray(1, sizeof(ExaDriverRec));
}

Bool
exaDriverInit(ScreenPtr screen, ExaDriverPtr driver)
{
    (void) screen;
    (void) driver;
    return !fakeCall("exaDriverInit");
}

void
exaDriverFini(ScreenPtr screen)
{
    (void) screen;
    fakeCall("exaDriverFini");
}

void
exaMarkSync(ScreenPtr screen)
{
    (void) screen;
    fakeCall("exaMarkSync");
}

void
exaWaitSync(ScreenPtr screen)
{
    (void) screen;
    fakeCall("exaWaitSync");
}

void
exaMoveInPixmap(PixmapPtr pixmap)
{
    (void) pixmap;
    fakeCall("exaMoveInPixmap");
}

void
fakeExaSetPixmapPriv(PixmapPtr pixmap, void *driverPriv)
{
    for (int i = 0; i < exaPixmapCount; i++) {
        if (exaPixmaps[i].pixmap == pixmap) {
            exaPixmaps[i].driverPriv = driverPriv;
            return;
        }
    }
    if (exaPixmapCount == FAKE_MAX_EXA_PIXMAPS) {
        fprintf(stderr, "fake server: too many EXA pixmaps\n");
        abort();
    }
    exaPixmaps[exaPixmapCount++] = (fakeExaPixmap) { pixmap, driverPriv };
}

void *
exaGetPixmapDriverPrivate(PixmapPtr pixmap)
{
    for (int i = 0; i < exaPixmapCount; i++)
        if (exaPixmaps[i].pixmap == pixmap)
            return exaPixmaps[i].driverPriv;
    return NULL;
}

unsigned long
exaGetPixmapPitch(PixmapPtr pixmap)
{
    return (unsigned long) pixmap->devKind;
}

void
fakeExaReset(void)
{
    exaPixmapCount = 0;
}
