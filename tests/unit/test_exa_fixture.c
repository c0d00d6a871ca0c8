/* SPDX-License-Identifier: MIT */
#include "test_exa_fixture.h"

#include <setjmp.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <cmocka.h>

#include "fake_screen.h"
#include "micmap.h"
#include "qelsim.h"

int
exaFixtureSetUp(void **state)
{
    exaFixture *f = calloc(1, sizeof(*f));

    assert_non_null(f);
    f->kms = kmsFixtureCreate(NULL);
    f->priv = f->kms->priv;
    f->scrn = &f->kms->scrn;
    kmsFixtureAddScanouts(f->kms, EXA_SCREEN_WIDTH, EXA_SCREEN_HEIGHT, FALSE);
    f->priv->accel = TRUE;
    assert_true(qelGeQueueAlloc(&f->priv->ge));
    f->priv->ge.boCache = qelBoCacheCreate(f->priv->fd, 24u << 20, 60000);
    assert_non_null(f->priv->ge.boCache);
    f->priv->ge.memCache = qelMemCacheCreate(24u << 20, 60000);
    assert_non_null(f->priv->ge.memCache);
    f->scrn->depth = 24;
    f->scrn->virtualX = EXA_SCREEN_WIDTH;
    f->scrn->virtualY = EXA_SCREEN_HEIGHT;
    f->scrn->displayWidth = (int) (f->priv->shadow->pitch >> 2);
    f->screen = fakeScreenCreate(f->scrn);
    assert_true(qelGeAttach(f->screen, &f->priv->ge));
    assert_true(miSetVisualTypes(24, TrueColorMask, 8, TrueColor));
    assert_true(fbScreenInit(f->screen, f->priv->shadow->map, EXA_SCREEN_WIDTH,
                             EXA_SCREEN_HEIGHT, 96, 96, f->scrn->displayWidth, 32));
    f->scrn->pScreen = f->screen;
    forgetMessages();
    *state = f;
    return 0;
}

int
exaFixtureTearDown(void **state)
{
    exaFixture *f = *state;

    /* No hook of the EXA layer logs. */
    expectNoMessage();
    simCommandOk("ge-mode sync");
    qelBoCacheDestroy(f->priv->ge.boCache);
    f->priv->ge.boCache = NULL;
    qelMemCacheDestroy(f->priv->ge.memCache);
    f->priv->ge.memCache = NULL;
    qelGeQueueFree(&f->priv->ge);
    kmsFixtureDestroy(f->kms);
    fakeReset();
    free(f);
    return 0;
}

PixmapPtr
exaMovablePixmapCreate(exaFixture *f, int width, int height)
{
    PixmapPtr pixmap = f->screen->CreatePixmap(f->screen, 0, 0, 24, 0);
    int pitch = 0;
    void *driverPriv = qelCreatePixmap2(f->screen, width, height, 24, 0, 32, &pitch);

    assert_non_null(driverPriv);
    fakeExaSetPixmapPriv(pixmap, driverPriv);
    assert_true(qelModifyPixmapHeader(pixmap, width, height, 24, 32, pitch, NULL));
    return pixmap;
}

PixmapPtr
exaPixmapCreate(exaFixture *f, int width, int height)
{
    PixmapPtr pixmap = exaMovablePixmapCreate(f, width, height);

    assert_true(qelPixmapMoveToBuffer(&f->priv->ge, pixmap, TRUE));
    /* As after the GE's last drawing on it. */
    ((qelPixmapPriv *) exaGetPixmapDriverPrivate(pixmap))->cpuOwned = FALSE;
    return pixmap;
}

PixmapPtr
exaSystemPixmapCreate(exaFixture *f, int width, int height)
{
    return f->screen->CreatePixmap(f->screen, width, height, 24, 0);
}

void
exaPixmapDestroy(exaFixture *f, PixmapPtr pixmap)
{
    qelDestroyPixmap(f->screen, exaGetPixmapDriverPrivate(pixmap));
    fakeExaSetPixmapPriv(pixmap, NULL);
    f->screen->DestroyPixmap(pixmap);
}

uint32_t
exaPixel(PixmapPtr pixmap, int x, int y)
{
    const qelPixmapPriv *pixPriv = exaGetPixmapDriverPrivate(pixmap);

    return *(const uint32_t *) ((const char *) qelPixmapPixels(pixPriv) +
                                (size_t) y * pixPriv->pitch + (size_t) x * 4);
}

void
expectRectIs(PixmapPtr pixmap, int x, int y, int w, int h, uint32_t value)
{
    for (int j = y; j < y + h; j++)
        for (int i = x; i < x + w; i++)
            if (exaPixel(pixmap, i, j) != value)
                fail_msg("pixel (%d,%d) is 0x%08x, not 0x%08x", i, j, exaPixel(pixmap, i, j),
                         value);
}
