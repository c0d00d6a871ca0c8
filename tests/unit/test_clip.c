/* SPDX-License-Identifier: MIT */
/* Clipping of rectangles to the bounds of a buffer. */
#include <limits.h>
#include <setjmp.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

#include <cmocka.h>

#include "bo/bo.h"

static void
clip_rejects_origins_outside_the_buffer(void **state)
{
    qelBo bo = { .width = 100, .height = 50 };
    struct { int x, y; } origins[] = { { -1, 0 }, { 0, -1 }, { 100, 0 }, { 0, 50 },
                                       { INT_MIN, 0 }, { 0, INT_MAX } };

    (void) state;
    for (size_t i = 0; i < sizeof(origins) / sizeof(origins[0]); i++) {
        int w = 500, h = 700;

        assert_false(qelClipRect(&bo, origins[i].x, origins[i].y, &w, &h));
        assert_int_equal(w, 500);
        assert_int_equal(h, 700);
    }
}

static void
clip_trims_the_far_edges(void **state)
{
    qelBo bo = { .width = 100, .height = 50 };
    int w = 10, h = 60;

    (void) state;
    assert_true(qelClipRect(&bo, 98, 0, &w, &h));
    assert_int_equal(w, 2);
    assert_int_equal(h, 50);

    w = 60, h = 30;
    assert_true(qelClipRect(&bo, 40, 20, &w, &h));
    assert_int_equal(w, 60);
    assert_int_equal(h, 30);

    w = 1, h = 1;
    assert_true(qelClipRect(&bo, 99, 49, &w, &h));
    assert_int_equal(w, 1);
    assert_int_equal(h, 1);
}

static void
clip_rejects_empty_and_negative_sizes(void **state)
{
    qelBo bo = { .width = 100, .height = 50 };
    int sizes[][2] = { { 0, 10 }, { 10, 0 }, { -5, 10 }, { 10, -5 }, { INT_MIN, INT_MIN } };

    (void) state;
    for (size_t i = 0; i < sizeof(sizes) / sizeof(sizes[0]); i++) {
        int w = sizes[i][0], h = sizes[i][1];

        assert_false(qelClipRect(&bo, 5, 5, &w, &h));
    }
}

/* x + w beyond INT_MAX must clip to the buffer instead of wrapping round to
 * a value that passes the bounds test and lets the GE write out of bounds. */
static void
clip_does_not_wrap_past_int_max(void **state)
{
    qelBo bo = { .width = 100, .height = 50 };
    int w = INT_MAX, h = INT_MAX;

    (void) state;
    assert_true(qelClipRect(&bo, 10, 20, &w, &h));
    assert_int_equal(w, 90);
    assert_int_equal(h, 30);

    w = INT_MAX - 5, h = 1;
    assert_true(qelClipRect(&bo, 99, 0, &w, &h));
    assert_int_equal(w, 1);
}

int
main(void)
{
    const struct CMUnitTest tests[] = {
        cmocka_unit_test(clip_rejects_origins_outside_the_buffer),
        cmocka_unit_test(clip_trims_the_far_edges),
        cmocka_unit_test(clip_rejects_empty_and_negative_sizes),
        cmocka_unit_test(clip_does_not_wrap_past_int_max),
    };

    return cmocka_run_group_tests(tests, NULL, NULL);
}
