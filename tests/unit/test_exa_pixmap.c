/* Driver pixmap storage for EXA: which requests get a buffer, the screen
 * pixmap in the shadow, buffer ownership on destruction, and the header
 * EXA sees after ModifyPixmapHeader. */
#include <setjmp.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <cmocka.h>

#include "fake_screen.h"
#include "test_exa_fixture.h"

static qelPixmapPriv *
createPriv(exaFixture *f, int width, int height, int depth, int bpp, int *pitch)
{
    return qelCreatePixmap2(f->screen, width, height, depth, 0, bpp, pitch);
}

static void
unsupported_requests_stay_in_system_memory(void **state)
{
    exaFixture *f = *state;
    int pitch = -7;
    long created = simCounter("live_dumb_buffers");

    assert_null(createPriv(f, 2049, 10, 24, 32, &pitch));
    assert_null(createPriv(f, 10, 2049, 24, 32, &pitch));
    assert_null(createPriv(f, 0, 0, 24, 32, &pitch));
    assert_null(createPriv(f, 16, 0, 24, 32, &pitch));
    assert_null(createPriv(f, 16, 16, 8, 8, &pitch));
    assert_null(createPriv(f, 16, 16, 24, 16, &pitch));
    assert_null(createPriv(f, 16, 16, 32, 32, &pitch));
    assert_int_equal(pitch, -7);
    assert_int_equal(simCounter("live_dumb_buffers"), created);
    /* None of them claimed the screen's buffer either. */
    assert_false(f->priv->screenBoClaimed);

    f->priv->accel = FALSE;
    assert_null(createPriv(f, 16, 16, 24, 32, &pitch));
}

static void
the_largest_pixmap_gets_a_mapped_buffer(void **state)
{
    exaFixture *f = *state;
    int pitch = 0;
    qelPixmapPriv *pixPriv = createPriv(f, 2048, 1, 24, 32, &pitch);

    assert_non_null(pixPriv);
    assert_non_null(pixPriv->bo->map);
    assert_int_equal(pixPriv->bo->width, 2048);
    assert_int_equal(pixPriv->pitch, pixPriv->bo->pitch);
    assert_int_equal(pitch, (int) pixPriv->pitch);
    assert_true(pitch >= 2048 * 4);
    qelDestroyPixmap(f->screen, pixPriv);
}

static void
the_first_screen_sized_pixmap_renders_into_the_shadow(void **state)
{
    exaFixture *f = *state;
    int pitch = 0;
    qelPixmapPriv *screenPriv;
    qelPixmapPriv *second;
    long destroyed;

    /* Smaller pixmaps first do not take it. */
    second = createPriv(f, 16, 16, 24, 32, &pitch);
    assert_ptr_not_equal(second->bo, f->priv->shadow);
    qelDestroyPixmap(f->screen, second);

    screenPriv = createPriv(f, EXA_SCREEN_WIDTH, EXA_SCREEN_HEIGHT, 24, 32, &pitch);
    assert_ptr_equal(screenPriv->bo, f->priv->shadow);
    assert_int_equal(pitch, (int) f->priv->shadow->pitch);
    assert_true(f->priv->screenBoClaimed);

    second = createPriv(f, EXA_SCREEN_WIDTH, EXA_SCREEN_HEIGHT, 24, 32, &pitch);
    assert_non_null(second);
    assert_ptr_not_equal(second->bo, f->priv->shadow);
    assert_non_null(second->bo->map);
    qelDestroyPixmap(f->screen, second);

    /* The screen pixmap's record goes; the shadow is the screen's. */
    destroyed = simCounter("live_dumb_buffers");
    qelDestroyPixmap(f->screen, screenPriv);
    assert_int_equal(simCounter("live_dumb_buffers"), destroyed);
    assert_non_null(f->priv->shadow->map);
    assert_true(f->priv->screenBoClaimed);
    qelDestroyPixmap(f->screen, NULL);
}

static void
destroying_a_pixmap_sends_the_work_that_names_it(void **state)
{
    exaFixture *f = *state;
    PixmapPtr pixmap = exaPixmapCreate(f, 32, 32);
    long live = simCounter("live_dumb_buffers");

    assert_true(qelPrepareSolid(pixmap, GXcopy, ~0u, 0x123456));
    qelSolid(pixmap, 0, 0, 32, 32);
    exaPixmapDestroy(f, pixmap);
    assert_int_equal(f->priv->opCount, 0);
    assert_int_equal(simCounter("ge_ops"), 1);
    assert_int_equal(simCounter("ge_rejected_ops"), 0);
    assert_int_equal(simCounter("live_dumb_buffers"), live - 1);
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
modify_header_takes_stride_and_address_from_the_buffer(void **state)
{
    exaFixture *f = *state;
    PixmapPtr pixmap = exaPixmapCreate(f, 40, 30);
    const qelBo *bo = qelPixmapBo(pixmap);
    char elsewhere[16];
    unsigned long serial;

    globalSerialNumber = 500;
    assert_true(qelModifyPixmapHeader(pixmap, -1, -1, -1, -1, 4, elsewhere));
    assert_int_equal(pixmap->drawable.width, 40);
    assert_int_equal(pixmap->drawable.height, 30);
    assert_int_equal(pixmap->drawable.depth, 24);
    assert_int_equal(pixmap->drawable.bitsPerPixel, 32);
    assert_int_equal(pixmap->devKind, (int) bo->pitch);
    assert_ptr_equal(pixmap->devPrivate.ptr, bo->map);
    assert_int_equal(pixmap->drawable.serialNumber, 501);
    assert_int_equal(globalSerialNumber, 501);

    /* Sizes the caller gives are taken as they are. */
    assert_true(qelModifyPixmapHeader(pixmap, 20, 10, 0, 0, 0, NULL));
    assert_int_equal(pixmap->drawable.width, 20);
    assert_int_equal(pixmap->drawable.height, 10);
    assert_int_equal(pixmap->drawable.depth, 24);

    /* The serial number wraps where the server's does. */
    globalSerialNumber = 0x10000000 - 1;
    assert_true(qelModifyPixmapHeader(pixmap, -1, -1, -1, -1, -1, NULL));
    assert_int_equal(pixmap->drawable.serialNumber, 0x10000000);
    assert_true(qelModifyPixmapHeader(pixmap, -1, -1, -1, -1, -1, NULL));
    serial = pixmap->drawable.serialNumber;
    assert_int_equal(serial, 1);
    assert_int_equal(globalSerialNumber, 1);
    exaPixmapDestroy(f, pixmap);
}

static void
modify_header_leaves_system_pixmaps_to_exa(void **state)
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
        cmocka_unit_test_setup_teardown(unsupported_requests_stay_in_system_memory,
                                        exaFixtureSetUp, exaFixtureTearDown),
        cmocka_unit_test_setup_teardown(the_largest_pixmap_gets_a_mapped_buffer,
                                        exaFixtureSetUp, exaFixtureTearDown),
        cmocka_unit_test_setup_teardown(the_first_screen_sized_pixmap_renders_into_the_shadow,
                                        exaFixtureSetUp, exaFixtureTearDown),
        cmocka_unit_test_setup_teardown(destroying_a_pixmap_sends_the_work_that_names_it,
                                        exaFixtureSetUp, exaFixtureTearDown),
        cmocka_unit_test_setup_teardown(screen_buffer_is_never_freed_with_a_pixmap,
                                        exaFixtureSetUp, exaFixtureTearDown),
        cmocka_unit_test_setup_teardown(modify_header_takes_stride_and_address_from_the_buffer,
                                        exaFixtureSetUp, exaFixtureTearDown),
        cmocka_unit_test_setup_teardown(modify_header_leaves_system_pixmaps_to_exa,
                                        exaFixtureSetUp, exaFixtureTearDown),
    };

    return cmocka_run_group_tests(tests, NULL, NULL);
}
