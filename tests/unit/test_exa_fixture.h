/* SPDX-License-Identifier: MIT */
/* A 1024x768 screen on the simulated device with EXA's view of it: pixmaps
 * made the way EXA makes driver pixmaps (CreatePixmap2, then the driver
 * private attached, then ModifyPixmapHeader). */
#ifndef QEL_TEST_EXA_FIXTURE_H
#define QEL_TEST_EXA_FIXTURE_H

#include "ge/ge.h"
#include "kms_fixture.h"

#define EXA_SCREEN_WIDTH 1024
#define EXA_SCREEN_HEIGHT 768

typedef struct exaFixture {
    kmsFixture *kms;
    qelScreenPriv *priv;
    ScrnInfoPtr scrn;
    ScreenPtr screen;
} exaFixture;

int exaFixtureSetUp(void **state);
int exaFixtureTearDown(void **state);

/* A depth-24 pixmap in system memory, as every pixmap starts, and one
 * moved into a buffer of its own that the GE drew on last. */
PixmapPtr exaMovablePixmapCreate(exaFixture *f, int width, int height);
PixmapPtr exaPixmapCreate(exaFixture *f, int width, int height);
/* A pixmap EXA keeps in system memory: no driver private. */
PixmapPtr exaSystemPixmapCreate(exaFixture *f, int width, int height);
void exaPixmapDestroy(exaFixture *f, PixmapPtr pixmap);

uint32_t exaPixel(PixmapPtr pixmap, int x, int y);
/* Every pixel of the rectangle has the value. */
void expectRectIs(PixmapPtr pixmap, int x, int y, int w, int h, uint32_t value);

#endif
