/* SPDX-License-Identifier: MIT */
/* The EXA rendering hooks against the simulated GE: which requests the GE
 * takes, the operations fills and copies queue once clipped, the small
 * fills the CPU does, and CPU
 * access (uploads, downloads, fallbacks) that must see finished GE work
 * and stay inside the buffer. */
#include <setjmp.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <cmocka.h>

#include "test_exa_fixture.h"

static void
fill(PixmapPtr pixmap, int x, int y, int w, int h, uint32_t color)
{
    assert_true(qelPrepareSolid(pixmap, GXcopy, 0xFFFFFFFF, color));
    qelSolid(pixmap, x, y, x + w, y + h);
    qelDoneOp(pixmap);
}

static const qelGeOp *
lastOp(exaFixture *f)
{
    assert_true(f->priv->ge.opCount > 0);
    return &f->priv->ge.ops[f->priv->ge.opCount - 1];
}

static void
the_ge_takes_only_full_planemasks(void **state)
{
    exaFixture *f = *state;
    PixmapPtr a = exaPixmapCreate(f, 16, 16);
    PixmapPtr b = exaPixmapCreate(f, 16, 16);

    assert_true(qelPrepareSolid(a, GXcopy, 0x00FFFFFF, 1));
    assert_true(qelPrepareSolid(a, GXcopy, 0xFFFFFFFF, 1));
    assert_false(qelPrepareSolid(a, GXcopy, 0x00FFFF00, 1));
    assert_false(qelPrepareSolid(a, GXcopy, 0x00FFFFFE, 1));
    assert_false(qelPrepareSolid(a, GXcopy, 0, 1));
    assert_true(qelPrepareCopy(b, a, 1, 1, GXcopy, 0x00FFFFFF));
    assert_false(qelPrepareCopy(b, a, 1, 1, GXcopy, 0x007FFFFF));

    /* A 32-plane destination needs all 32 bits. */
    a->drawable.depth = 32;
    assert_true(qelPrepareSolid(a, GXcopy, 0xFFFFFFFF, 1));
    assert_false(qelPrepareSolid(a, GXcopy, 0x00FFFFFF, 1));
    assert_false(qelPrepareCopy(b, a, 1, 1, GXcopy, 0x7FFFFFFF));
    a->drawable.depth = 24;

    exaPixmapDestroy(f, a);
    exaPixmapDestroy(f, b);
}

static void
the_ge_takes_copy_and_xor_only(void **state)
{
    exaFixture *f = *state;
    PixmapPtr a = exaPixmapCreate(f, 16, 16);
    PixmapPtr b = exaPixmapCreate(f, 16, 16);
    static const struct { int alu; uint32_t solid, copy; } accepted[] = {
        { GXcopy, TX3120_GE_ROP_PATTERN, TX3120_GE_ROP_SOURCE },
        { GXxor, TX3120_GE_ROP_PATTERN_XOR_DST, TX3120_GE_ROP_SOURCE_XOR_DST },
    };

    for (size_t i = 0; i < sizeof(accepted) / sizeof(accepted[0]); i++) {
        assert_true(qelPrepareSolid(a, accepted[i].alu, ~0u, 7));
        assert_int_equal(f->priv->ge.prepRop, accepted[i].solid);
        assert_true(qelPrepareCopy(b, a, 0, 0, accepted[i].alu, ~0u));
        assert_int_equal(f->priv->ge.prepRop, accepted[i].copy);
    }
    for (int alu = GXclear; alu <= GXset; alu++) {
        if (alu == GXcopy || alu == GXxor)
            continue;
        assert_false(qelPrepareSolid(a, alu, ~0u, 7));
        assert_false(qelPrepareCopy(b, a, 0, 0, alu, ~0u));
    }
    exaPixmapDestroy(f, a);
    exaPixmapDestroy(f, b);
}

static void
pixmaps_without_a_buffer_are_refused(void **state)
{
    exaFixture *f = *state;
    PixmapPtr gpu = exaPixmapCreate(f, 16, 16);
    PixmapPtr system = exaSystemPixmapCreate(f, 16, 16);

    assert_false(qelPrepareSolid(system, GXcopy, ~0u, 1));
    assert_false(qelPrepareCopy(system, gpu, 0, 0, GXcopy, ~0u));
    assert_false(qelPrepareCopy(gpu, system, 0, 0, GXcopy, ~0u));
    assert_false(qelPixmapIsOffscreen(system));
    assert_true(qelPixmapIsOffscreen(gpu));
    exaPixmapDestroy(f, gpu);
    f->screen->DestroyPixmap(system);
}

static void
a_refused_prepare_keeps_the_prepared_fill(void **state)
{
    exaFixture *f = *state;
    PixmapPtr a = exaPixmapCreate(f, 64, 64);
    PixmapPtr b = exaPixmapCreate(f, 16, 16);

    assert_true(qelPrepareSolid(a, GXcopy, ~0u, 0x00112233));
    assert_false(qelPrepareSolid(b, GXand, ~0u, 0x00445566));
    assert_false(qelPrepareCopy(a, b, 0, 0, GXcopy, 0x0000FFFF));
    qelSolid(a, 1, 2, 41, 42);
    assert_int_equal(lastOp(f)->dst_handle, qelPixmapBo(a)->handle);
    assert_int_equal(lastOp(f)->fill_color, 0x00112233);
    assert_int_equal(lastOp(f)->rop, TX3120_GE_ROP_PATTERN);
    qelGeFlush(&f->priv->ge);
    expectRectIs(a, 1, 2, 40, 40, 0x00112233);
    exaPixmapDestroy(f, a);
    exaPixmapDestroy(f, b);
}

static void
fills_are_clipped_to_the_buffer(void **state)
{
    exaFixture *f = *state;
    PixmapPtr a = exaPixmapCreate(f, 128, 64);
    const qelGeOp *op;

    assert_true(qelPrepareSolid(a, GXcopy, ~0u, 0x00ABCDEF));
    qelSolid(a, 10, 0, 10, 5);
    qelSolid(a, 10, 0, 9, 5);
    qelSolid(a, 0, 7, 5, 7);
    qelSolid(a, 128, 0, 170, 5);
    assert_int_equal(f->priv->ge.opCount, 0);
    expectRectIs(a, 0, 0, 128, 8, 0);

    qelSolid(a, 80, 20, 200, 100);
    op = lastOp(f);
    assert_int_equal(f->priv->ge.opCount, 1);
    assert_int_equal(op->type, TX3120_GE_OP_SOLID);
    assert_int_equal(op->dst_pitch, qelPixmapBo(a)->pitch);
    assert_int_equal(op->dst_x, 80);
    assert_int_equal(op->dst_y, 20);
    assert_int_equal(op->width, 48);
    assert_int_equal(op->height, 44);
    assert_int_equal(op->src_handle, 0);
    assert_int_equal(op->src_pitch, 0);
    qelGeFlush(&f->priv->ge);
    assert_int_equal(simCounter("ge_rejected_ops"), 0);
    expectRectIs(a, 80, 20, 48, 44, 0x00ABCDEF);
    exaPixmapDestroy(f, a);
}

/* Small fills cost the CPU less than the queue: the CPU does them at once,
 * after any GE read of the buffer, but never ahead of a GE write to it. A
 * pixmap the CPU drew on last keeps larger fills too. */
static void
small_fills_are_the_cpus_unless_the_ge_writes_the_buffer(void **state)
{
    exaFixture *f = *state;
    PixmapPtr a = exaPixmapCreate(f, 64, 64);
    PixmapPtr b = exaPixmapCreate(f, 64, 64);
    long waits;

    simCommandOk("ge-mode thread 20000");
    fill(a, 0, 0, 32, 32, 0x00010203);
    assert_int_equal(f->priv->ge.opCount, 0);
    expectRectIs(a, 0, 0, 32, 32, 0x00010203);
    assert_true(qelPrepareSolid(a, GXxor, ~0u, 0x00FF00FF));
    qelSolid(a, 0, 0, 2, 1);
    assert_int_equal(exaPixel(a, 1, 0), 0x00FE02FC);
    assert_int_equal(exaPixel(a, 2, 0), 0x00010203);
    fill(a, 0, 0, 64, 64, 0x00999999);
    assert_int_equal(f->priv->ge.opCount, 0);
    expectRectIs(a, 0, 0, 64, 64, 0x00999999);

    /* Behind a queued GE fill, and behind a submitted one, the fill queues. */
    ((qelPixmapPriv *) exaGetPixmapDriverPrivate(a))->cpuOwned = FALSE;
    fill(a, 0, 0, 64, 64, 0x00AAAAAA);
    fill(a, 0, 0, 4, 4, 0x00BBBBBB);
    assert_int_equal(f->priv->ge.opCount, 2);
    qelGeFlush(&f->priv->ge);
    fill(a, 4, 4, 4, 4, 0x00CCCCCC);
    assert_int_equal(f->priv->ge.opCount, 1);
    qelGeWaitBo(&f->priv->ge, qelPixmapBo(a));
    expectRectIs(a, 0, 0, 4, 4, 0x00BBBBBB);
    expectRectIs(a, 4, 4, 4, 4, 0x00CCCCCC);
    expectRectIs(a, 8, 8, 56, 56, 0x00AAAAAA);

    /* A buffer the GE only reads is written once the read is done. */
    assert_true(qelPrepareCopy(a, b, 1, 1, GXcopy, ~0u));
    qelCopy(b, 0, 0, 0, 0, 64, 64);
    qelGeFlush(&f->priv->ge);
    waits = simIoctlCounter("GE_WAIT");
    fill(a, 0, 0, 8, 8, 0x00DDDDDD);
    assert_int_equal(simIoctlCounter("GE_WAIT"), waits + 1);
    assert_int_equal(f->priv->ge.opCount, 0);
    qelGeWaitBo(&f->priv->ge, qelPixmapBo(b));
    expectRectIs(b, 0, 0, 4, 4, 0x00BBBBBB);
    expectRectIs(a, 0, 0, 8, 8, 0x00DDDDDD);
    exaPixmapDestroy(f, a);
    exaPixmapDestroy(f, b);
}

static void
copies_are_clipped_for_source_and_destination(void **state)
{
    exaFixture *f = *state;
    PixmapPtr src = exaPixmapCreate(f, 32, 32);
    PixmapPtr dst = exaPixmapCreate(f, 128, 128);
    const qelGeOp *op;

    fill(dst, 0, 0, 128, 128, 0);
    fill(src, 0, 0, 32, 32, 0x00C0FFEE);

    assert_true(qelPrepareCopy(src, dst, 1, 1, GXcopy, ~0u));
    /* Past the source's bottom: both rectangles lose the same rows. */
    qelCopy(dst, 4, 28, 50, 60, 8, 10);
    op = lastOp(f);
    assert_int_equal(op->type, TX3120_GE_OP_COPY);
    assert_int_equal(op->src_handle, qelPixmapBo(src)->handle);
    assert_int_equal(op->src_pitch, qelPixmapBo(src)->pitch);
    assert_int_equal(op->dst_handle, qelPixmapBo(dst)->handle);
    assert_int_equal(op->src_x, 4);
    assert_int_equal(op->src_y, 28);
    assert_int_equal(op->dst_x, 50);
    assert_int_equal(op->dst_y, 60);
    assert_int_equal(op->width, 8);
    assert_int_equal(op->height, 4);
    assert_int_equal(op->fill_color, 0);

    /* Past the destination's right edge: the source loses the columns too. */
    qelCopy(dst, 0, 0, 124, 0, 10, 3);
    op = lastOp(f);
    assert_int_equal(op->width, 4);
    assert_int_equal(op->height, 3);

    {
        int queued = f->priv->ge.opCount;

        qelCopy(dst, 32, 0, 0, 0, 4, 4);
        qelCopy(dst, 0, 0, 128, 0, 4, 4);
        qelCopy(dst, -2, 0, 0, 0, 4, 4);
        qelCopy(dst, 0, 0, 0, 0, 0, 4);
        assert_int_equal(f->priv->ge.opCount, queued);
    }

    qelGeFlush(&f->priv->ge);
    assert_int_equal(simCounter("ge_rejected_ops"), 0);
    expectRectIs(dst, 50, 60, 8, 4, 0x00C0FFEE);
    expectRectIs(dst, 50, 64, 8, 6, 0);
    expectRectIs(dst, 124, 0, 4, 3, 0x00C0FFEE);
    exaPixmapDestroy(f, src);
    exaPixmapDestroy(f, dst);
}

static void
an_upload_lands_after_the_queued_fills(void **state)
{
    exaFixture *f = *state;
    PixmapPtr a = exaPixmapCreate(f, 64, 64);
    uint32_t rows[2][8];
    long waits;

    for (int i = 0; i < 8; i++) {
        rows[0][i] = 0x00010101u * (uint32_t) i;
        rows[1][i] = 0x00FF0000u + (uint32_t) i;
    }
    simCommandOk("ge-mode thread 20000");
    fill(a, 0, 0, 64, 64, 0x00777777);
    waits = simIoctlCounter("GE_WAIT");

    assert_true(qelUploadToScreen(a, 5, 6, 8, 2, (char *) rows, sizeof(rows[0])));
    assert_int_equal(f->priv->ge.opCount, 0);
    assert_int_equal(simIoctlCounter("GE_WAIT"), waits + 1);
    /* Whatever the slow GE still had to do is done: the rows stay. */
    simCommandOk("ge-idle");
    for (int i = 0; i < 8; i++) {
        assert_int_equal(exaPixel(a, 5 + i, 6), rows[0][i]);
        assert_int_equal(exaPixel(a, 5 + i, 7), rows[1][i]);
    }
    expectRectIs(a, 4, 6, 1, 2, 0x00777777);
    expectRectIs(a, 13, 6, 1, 2, 0x00777777);
    expectRectIs(a, 5, 8, 8, 1, 0x00777777);
    exaPixmapDestroy(f, a);
}

static void
a_download_sees_the_queued_fills(void **state)
{
    exaFixture *f = *state;
    PixmapPtr a = exaPixmapCreate(f, 64, 64);
    PixmapPtr idle = exaPixmapCreate(f, 8, 8);
    uint32_t out[3][4];
    long waits;

    simCommandOk("ge-mode thread 20000");
    fill(a, 0, 0, 64, 64, 0x00123456);
    fill(a, 2, 2, 2, 2, 0x00FEDCBA);
    assert_true(qelDownloadFromScreen(a, 1, 1, 4, 3, (char *) out, sizeof(out[0])));
    for (int y = 0; y < 3; y++)
        for (int x = 0; x < 4; x++)
            assert_int_equal(out[y][x], (x >= 1 && x <= 2 && y >= 1) ? 0x00FEDCBA
                                                                    : 0x00123456);

    /* A buffer the GE never touched is read without a wait. */
    waits = simIoctlCounter("GE_WAIT");
    assert_true(qelDownloadFromScreen(idle, 0, 0, 4, 3, (char *) out, sizeof(out[0])));
    assert_int_equal(simIoctlCounter("GE_WAIT"), waits);
    exaPixmapDestroy(f, a);
    exaPixmapDestroy(f, idle);
}

static void
transfers_outside_the_buffer_are_refused(void **state)
{
    exaFixture *f = *state;
    PixmapPtr a = exaPixmapCreate(f, 16, 8);
    PixmapPtr system = exaSystemPixmapCreate(f, 16, 8);
    static const int rects[][4] = {
        { -1, 0, 2, 2 }, { 0, -1, 2, 2 }, { 15, 0, 2, 1 }, { 0, 7, 1, 2 },
        { 0, 0, 17, 1 }, { 0, 0, 1, 9 }, { 0, 0, -1, 1 }, { 0, 0, 1, -1 },
        { 0x7FFFFFFF, 0, 1, 1 }, { 0, 0x7FFFFFFF, 1, 1 },
    };
    uint32_t data[16 * 9];

    fill(a, 0, 0, 16, 8, 0x00ABABAB);
    qelGeFlush(&f->priv->ge);
    memset(data, 0x5C, sizeof(data));
    for (size_t i = 0; i < sizeof(rects) / sizeof(rects[0]); i++) {
        const int *r = rects[i];

        assert_false(qelUploadToScreen(a, r[0], r[1], r[2], r[3], (char *) data, 64));
        assert_false(qelDownloadFromScreen(a, r[0], r[1], r[2], r[3], (char *) data, 64));
    }
    expectRectIs(a, 0, 0, 16, 8, 0x00ABABAB);
    for (size_t i = 0; i < sizeof(data) / sizeof(data[0]); i++)
        assert_int_equal(data[i], 0x5C5C5C5C);

    /* The whole buffer is fine, and so is nothing at all. */
    assert_true(qelDownloadFromScreen(a, 0, 0, 16, 8, (char *) data, 64));
    assert_true(qelUploadToScreen(a, 16, 8, 0, 0, (char *) data, 64));
    assert_false(qelUploadToScreen(system, 0, 0, 1, 1, (char *) data, 64));
    assert_false(qelDownloadFromScreen(system, 0, 0, 1, 1, (char *) data, 64));
    exaPixmapDestroy(f, a);
    f->screen->DestroyPixmap(system);
}

static void
software_access_waits_and_keeps_the_mapping(void **state)
{
    exaFixture *f = *state;
    PixmapPtr a = exaPixmapCreate(f, 32, 32);
    PixmapPtr system = exaSystemPixmapCreate(f, 4, 4);
    void *bits = system->devPrivate.ptr;
    const qelBo *bo = qelPixmapBo(a);
    void *map = bo->map;

    simCommandOk("ge-mode thread 20000");
    fill(a, 0, 0, 32, 32, 0x00345678);
    a->devPrivate.ptr = NULL;
    assert_true(qelPrepareAccess(a, EXA_PREPARE_DEST));
    assert_ptr_equal(a->devPrivate.ptr, map);
    assert_int_equal(((uint32_t *) a->devPrivate.ptr)[31], 0x00345678);
    expectRectIs(a, 0, 31, 32, 1, 0x00345678);
    qelFinishAccess(a, EXA_PREPARE_DEST);
    assert_null(a->devPrivate.ptr);
    assert_ptr_equal(bo->map, map);

    /* EXA's own pixmaps keep their own bits. */
    assert_true(qelPrepareAccess(system, EXA_PREPARE_SRC));
    assert_ptr_equal(system->devPrivate.ptr, bits);
    qelFinishAccess(system, EXA_PREPARE_SRC);
    assert_ptr_equal(system->devPrivate.ptr, bits);

    exaPixmapDestroy(f, a);
    f->screen->DestroyPixmap(system);
}

#define EXA_TEST(name) \
    cmocka_unit_test_setup_teardown(name, exaFixtureSetUp, exaFixtureTearDown)

int
main(void)
{
    const struct CMUnitTest tests[] = {
        EXA_TEST(the_ge_takes_only_full_planemasks),
        EXA_TEST(the_ge_takes_copy_and_xor_only),
        EXA_TEST(pixmaps_without_a_buffer_are_refused),
        EXA_TEST(a_refused_prepare_keeps_the_prepared_fill),
        EXA_TEST(fills_are_clipped_to_the_buffer),
        EXA_TEST(small_fills_are_the_cpus_unless_the_ge_writes_the_buffer),
        EXA_TEST(copies_are_clipped_for_source_and_destination),
        EXA_TEST(an_upload_lands_after_the_queued_fills),
        EXA_TEST(a_download_sees_the_queued_fills),
        EXA_TEST(transfers_outside_the_buffer_are_refused),
        EXA_TEST(software_access_waits_and_keeps_the_mapping),
    };

    return cmocka_run_group_tests(tests, NULL, NULL);
}
