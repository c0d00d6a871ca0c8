/* SPDX-License-Identifier: MIT */
/* Driver pixmap storage for EXA: every pixmap starts in system memory and
 * those the GE can address may move into a buffer, the screen pixmap in
 * the shadow, buffers kept for reuse on destruction, and the header EXA
 * sees after ModifyPixmapHeader. */
#include <setjmp.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <cmocka.h>

#include "fake_screen.h"
#include "test_exa_fixture.h"

static qelPixmapPriv *
createPriv(exaFixture *f, int width, int height, int depth, int bpp, int *pitch)
{
    return qelCreatePixmap2(f->screen, width, height, depth, 0, bpp, pitch);
}

static Bool
allZero(const void *bits, size_t size)
{
    const unsigned char *p = bits;

    for (size_t i = 0; i < size; i++)
        if (p[i])
            return FALSE;
    return TRUE;
}

static void
pixmaps_the_ge_cannot_address_get_zeroed_system_memory(void **state)
{
    exaFixture *f = *state;
    static const struct { int width, height, depth, bpp, pitch; } cases[] = {
        { 2049, 10, 24, 32, 2049 * 4 }, { 10, 2049, 24, 32, 40 }, { 16, 16, 8, 8, 16 },
        { 17, 3, 16, 16, 36 }, { 16, 16, 32, 32, 64 }, { 33, 2, 1, 1, 8 },
    };
    long buffers = simCounter("live_dumb_buffers");

    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); i++) {
        int pitch = -7;
        qelPixmapPriv *pixPriv = createPriv(f, cases[i].width, cases[i].height, cases[i].depth,
                                            cases[i].bpp, &pitch);

        assert_non_null(pixPriv);
        assert_null(pixPriv->bo);
        assert_false(pixPriv->movable);
        assert_true(pixPriv->ownsBits);
        assert_int_equal(pitch, cases[i].pitch);
        assert_int_equal(pixPriv->pitch, cases[i].pitch);
        assert_true(allZero(pixPriv->bits, (size_t) cases[i].pitch * cases[i].height));
        qelDestroyPixmap(f->screen, pixPriv);
    }
    assert_int_equal(simCounter("live_dumb_buffers"), buffers);
    /* None of them claimed the screen's buffer either. */
    assert_false(f->priv->ge.screenBoClaimed);
}

static void
a_pixmap_of_no_size_has_no_pixels_yet(void **state)
{
    exaFixture *f = *state;
    int pitch = -7;
    qelPixmapPriv *pixPriv = createPriv(f, 0, 0, 24, 32, &pitch);

    assert_non_null(pixPriv);
    assert_null(pixPriv->bo);
    assert_null(pixPriv->bits);
    assert_int_equal(pitch, 0);
    qelDestroyPixmap(f->screen, pixPriv);
}

/* The largest pixmap the GE addresses starts in zeroed system memory too,
 * and moves into a mapped buffer with its pixels. */
static void
the_largest_pixmap_moves_into_a_buffer_with_its_pixels(void **state)
{
    exaFixture *f = *state;
    PixmapPtr pixmap = exaMovablePixmapCreate(f, 2048, 2);
    qelPixmapPriv *pixPriv = exaGetPixmapDriverPrivate(pixmap);

    assert_null(pixPriv->bo);
    assert_true(pixPriv->movable);
    assert_true(qelPixmapIsOffscreen(pixmap));
    assert_int_equal(pixmap->devKind, 2048 * 4);
    assert_true(allZero(pixPriv->bits, 2048 * 4 * 2));
    ((uint32_t *) pixPriv->bits)[2048 + 2047] = 0x00C0FFEE;

    assert_true(qelPixmapMoveToBuffer(&f->priv->ge, pixmap, TRUE));
    assert_non_null(pixPriv->bo->map);
    assert_null(pixPriv->bits);
    assert_false(pixPriv->movable);
    assert_true(qelPixmapIsOffscreen(pixmap));
    assert_int_equal(pixPriv->pitch, pixPriv->bo->pitch);
    assert_int_equal(pixmap->devKind, (int) pixPriv->bo->pitch);
    assert_int_equal(exaPixel(pixmap, 2047, 1), 0x00C0FFEE);
    assert_int_equal(f->priv->ge.movesToBuffer, 1);
    assert_false(qelPixmapMoveToBuffer(&f->priv->ge, pixmap, TRUE));
    exaPixmapDestroy(f, pixmap);
}

/* A pixmap made the way EXA makes the screen's: without pixels, then given
 * the screen's size without any. */
static PixmapPtr
screenSizedHeader(exaFixture *f, qelPixmapPriv **pixPriv)
{
    PixmapPtr pixmap = f->screen->CreatePixmap(f->screen, 0, 0, 24, 0);
    int pitch = 0;

    *pixPriv = createPriv(f, 0, 0, 24, 32, &pitch);
    fakeExaSetPixmapPriv(pixmap, *pixPriv);
    assert_true(qelModifyPixmapHeader(pixmap, EXA_SCREEN_WIDTH, EXA_SCREEN_HEIGHT, 24, 32, 0,
                                      NULL));
    return pixmap;
}

static void
the_screen_pixmap_renders_into_the_shadow(void **state)
{
    exaFixture *f = *state;
    int pitch = 0;
    qelPixmapPriv *screenPriv;
    qelPixmapPriv *second;
    PixmapPtr screenPixmap;
    PixmapPtr header;
    long destroyed;

    /* A pixmap made at the screen's size has pixels of its own. */
    second = createPriv(f, EXA_SCREEN_WIDTH, EXA_SCREEN_HEIGHT, 24, 32, &pitch);
    assert_null(second->bo);
    assert_non_null(second->bits);
    qelDestroyPixmap(f->screen, second);
    assert_false(f->priv->ge.screenBoClaimed);

    screenPixmap = screenSizedHeader(f, &screenPriv);
    assert_ptr_equal(screenPriv->bo, f->priv->shadow);
    assert_int_equal(screenPixmap->devKind, (int) f->priv->shadow->pitch);
    assert_ptr_equal(screenPixmap->devPrivate.ptr, f->priv->shadow->map);
    assert_true(f->priv->ge.screenBoClaimed);

    /* Only once. */
    header = screenSizedHeader(f, &second);
    assert_null(second->bo);
    exaPixmapDestroy(f, header);

    /* The screen pixmap's record goes; the shadow is the screen's. */
    destroyed = simCounter("live_dumb_buffers");
    exaPixmapDestroy(f, screenPixmap);
    assert_int_equal(simCounter("live_dumb_buffers"), destroyed);
    assert_non_null(f->priv->shadow->map);
    assert_null(f->priv->ge.screenPixmapPriv);
    qelDestroyPixmap(f->screen, NULL);
}

/* The work queued on a pixmap goes out when it is destroyed, and its
 * buffer is kept for the next pixmap of its size class, whatever its exact
 * size. */
static void
destroying_a_pixmap_sends_the_work_that_names_it(void **state)
{
    exaFixture *f = *state;
    PixmapPtr pixmap = exaPixmapCreate(f, 64, 64);
    long live = simCounter("live_dumb_buffers");
    uint32_t handle = qelPixmapBo(pixmap)->handle;

    assert_true(qelPrepareSolid(pixmap, GXcopy, ~0u, 0x123456));
    qelSolid(pixmap, 0, 0, 64, 64);
    exaPixmapDestroy(f, pixmap);
    assert_int_equal(f->priv->ge.opCount, 0);
    assert_int_equal(simCounter("ge_ops"), 1);
    assert_int_equal(simCounter("ge_rejected_ops"), 0);
    assert_int_equal(simCounter("live_dumb_buffers"), live);

    pixmap = exaPixmapCreate(f, 60, 61);
    assert_int_equal(qelPixmapBo(pixmap)->handle, handle);
    assert_int_equal(simCounter("live_dumb_buffers"), live);
    exaPixmapDestroy(f, pixmap);
}

static void
screen_buffer_is_never_freed_with_a_pixmap(void **state)
{
    exaFixture *f = *state;
    qelPixmapPriv *pixPriv = calloc(1, sizeof(*pixPriv));
    long destroyed = simCounter("live_dumb_buffers");

    /* Resize may repoint any record at a screen buffer. */
    assert_non_null(pixPriv);
    pixPriv->bo = f->priv->shadow;
    qelDestroyPixmap(f->screen, pixPriv);
    assert_int_equal(simCounter("live_dumb_buffers"), destroyed);
    assert_non_null(f->priv->shadow->map);
}

static void
modify_header_takes_stride_and_address_from_the_storage(void **state)
{
    exaFixture *f = *state;
    PixmapPtr pixmap = exaPixmapCreate(f, 40, 30);
    const qelBo *bo = qelPixmapBo(pixmap);
    long buffers = simCounter("live_dumb_buffers");
    uint32_t elsewhere[8 * 4];

    globalSerialNumber = 500;
    assert_true(qelModifyPixmapHeader(pixmap, -1, -1, -1, -1, 4, NULL));
    assert_int_equal(pixmap->drawable.width, 40);
    assert_int_equal(pixmap->drawable.height, 30);
    assert_int_equal(pixmap->drawable.depth, 24);
    assert_int_equal(pixmap->drawable.bitsPerPixel, 32);
    assert_int_equal(pixmap->devKind, (int) bo->pitch);
    assert_ptr_equal(pixmap->devPrivate.ptr, bo->map);
    assert_int_equal(pixmap->drawable.serialNumber, 501);
    assert_int_equal(globalSerialNumber, 501);

    /* Sizes the caller gives are taken as they are; one the buffer cannot
     * hold gets pixels that can, instead of rows past its end. */
    assert_true(qelModifyPixmapHeader(pixmap, 20, 10, 0, 0, 0, NULL));
    assert_int_equal(pixmap->drawable.width, 20);
    assert_int_equal(pixmap->drawable.height, 10);
    assert_int_equal(pixmap->drawable.depth, 24);
    assert_ptr_equal(qelPixmapBo(pixmap), bo);
    assert_true(qelModifyPixmapHeader(pixmap, 300, 400, 0, 0, 0, NULL));
    assert_null(qelPixmapBo(pixmap));
    assert_true(qelPixmapIsOffscreen(pixmap));
    assert_int_equal(pixmap->devKind, 300 * 4);
    assert_int_equal(simCounter("live_dumb_buffers"), buffers);

    /* Pixels the caller gives replace the driver's, with their stride. */
    assert_true(qelModifyPixmapHeader(pixmap, 8, 4, 24, 32, 32, elsewhere));
    assert_null(qelPixmapBo(pixmap));
    assert_false(qelPixmapIsOffscreen(pixmap));
    assert_int_equal(simCounter("live_dumb_buffers"), buffers);
    assert_int_equal(pixmap->devKind, 32);
    assert_ptr_equal(pixmap->devPrivate.ptr, elsewhere);

    /* The serial number wraps where the server's does. */
    globalSerialNumber = 0x10000000 - 1;
    assert_true(qelModifyPixmapHeader(pixmap, -1, -1, -1, -1, -1, NULL));
    assert_int_equal(pixmap->drawable.serialNumber, 0x10000000);
    assert_true(qelModifyPixmapHeader(pixmap, -1, -1, -1, -1, -1, NULL));
    assert_int_equal(pixmap->drawable.serialNumber, 1);
    assert_int_equal(globalSerialNumber, 1);
    assert_ptr_equal(pixmap->devPrivate.ptr, elsewhere);
    exaPixmapDestroy(f, pixmap);
}

/* Memory a released pixmap leaves in the cache still holds its pixels: the
 * next pixmap made in it shows none of them, whether a fill overwrote part
 * of it first or not. */
static void
a_reused_block_shows_nothing_of_the_pixmap_before(void **state)
{
    exaFixture *f = *state;
    PixmapPtr old = exaMovablePixmapCreate(f, 200, 100);
    void *bits;
    PixmapPtr fresh;

    assert_true(qelPrepareAccess(old, EXA_PREPARE_DEST));
    bits = old->devPrivate.ptr;
    memset(bits, 0xAB, 200 * 4 * 100);
    qelFinishAccess(old, EXA_PREPARE_DEST);
    exaPixmapDestroy(f, old);

    fresh = exaMovablePixmapCreate(f, 200, 100);
    assert_ptr_equal(((qelPixmapPriv *) exaGetPixmapDriverPrivate(fresh))->bits, bits);
    assert_true(qelPrepareSolid(fresh, GXcopy, ~0u, 0x00123456));
    qelSolid(fresh, 0, 0, 100, 100);
    assert_true(qelPrepareAccess(fresh, EXA_PREPARE_SRC));
    expectRectIs(fresh, 0, 0, 100, 100, 0x00123456);
    expectRectIs(fresh, 100, 0, 100, 100, 0);
    qelFinishAccess(fresh, EXA_PREPARE_SRC);
    exaPixmapDestroy(f, fresh);

    fresh = exaMovablePixmapCreate(f, 190, 95);
    assert_true(qelPixmapMoveToBuffer(&f->priv->ge, fresh, TRUE));
    expectRectIs(fresh, 0, 0, 190, 95, 0);
    exaPixmapDestroy(f, fresh);
}

static void
modify_header_leaves_pixmaps_without_a_record_to_exa(void **state)
{
    exaFixture *f = *state;
    PixmapPtr pixmap = exaSystemPixmapCreate(f, 8, 8);
    void *bits = pixmap->devPrivate.ptr;
    unsigned long serial = pixmap->drawable.serialNumber;

    assert_false(qelModifyPixmapHeader(pixmap, 4, 4, 24, 32, 16, NULL));
    assert_int_equal(pixmap->drawable.width, 8);
    assert_int_equal(pixmap->drawable.serialNumber, serial);
    assert_ptr_equal(pixmap->devPrivate.ptr, bits);
    assert_false(qelPixmapIsOffscreen(pixmap));
    f->screen->DestroyPixmap(pixmap);
}

int
main(void)
{
    const struct CMUnitTest tests[] = {
        cmocka_unit_test_setup_teardown(pixmaps_the_ge_cannot_address_get_zeroed_system_memory,
                                        exaFixtureSetUp, exaFixtureTearDown),
        cmocka_unit_test_setup_teardown(a_pixmap_of_no_size_has_no_pixels_yet,
                                        exaFixtureSetUp, exaFixtureTearDown),
        cmocka_unit_test_setup_teardown(the_largest_pixmap_moves_into_a_buffer_with_its_pixels,
                                        exaFixtureSetUp, exaFixtureTearDown),
        cmocka_unit_test_setup_teardown(the_screen_pixmap_renders_into_the_shadow,
                                        exaFixtureSetUp, exaFixtureTearDown),
        cmocka_unit_test_setup_teardown(destroying_a_pixmap_sends_the_work_that_names_it,
                                        exaFixtureSetUp, exaFixtureTearDown),
        cmocka_unit_test_setup_teardown(screen_buffer_is_never_freed_with_a_pixmap,
                                        exaFixtureSetUp, exaFixtureTearDown),
        cmocka_unit_test_setup_teardown(modify_header_takes_stride_and_address_from_the_storage,
                                        exaFixtureSetUp, exaFixtureTearDown),
        cmocka_unit_test_setup_teardown(a_reused_block_shows_nothing_of_the_pixmap_before,
                                        exaFixtureSetUp, exaFixtureTearDown),
        cmocka_unit_test_setup_teardown(modify_header_leaves_pixmaps_without_a_record_to_exa,
                                        exaFixtureSetUp, exaFixtureTearDown),
    };

    return cmocka_run_group_tests(tests, NULL, NULL);
}
