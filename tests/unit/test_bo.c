/* SPDX-License-Identifier: MIT */
/* Dumb buffers on the simulated device. */
#include <errno.h>
#include <fcntl.h>
#include <setjmp.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cmocka.h>

#include "bo/bo.h"
#include "kms_fixture.h"
#include "qelsim.h"

/* A device whose dumb pitch pads rows of odd widths. */
static const char *paddedDevice =
    "[device]\npitch_align = 64\n[crtc]\n[connector]\ntype = eDP\nmodes = 1024x768@60\n";

static int
openDevice(void)
{
    int fd;

    assert_int_equal(qelsim_configure(paddedDevice), 0);
    fd = open("/dev/dri/card0", O_RDWR | O_CLOEXEC);
    assert_true(fd >= 0);
    return fd;
}

static Bool
isMapped(void *address, size_t length)
{
    unsigned char vec[4];

    return mincore(address, length < 4096 ? length : 4096, vec) == 0 || errno != ENOMEM;
}

static void
create_keeps_what_the_kernel_returned(void **state)
{
    int fd = openDevice();
    qelBo *bo = qelBoCreate(fd, 10, 7);

    (void) state;
    assert_non_null(bo);
    assert_int_not_equal(bo->handle, 0);
    assert_int_equal(bo->pitch, 64);
    assert_true(bo->size >= (uint64_t) bo->pitch * 7);
    assert_int_equal(bo->width, 10);
    assert_int_equal(bo->height, 7);
    assert_int_equal(bo->fbId, 0);
    assert_null(bo->map);
    assert_int_equal(bo->geWrite.serial, 0);
    assert_int_equal(simCounter("live_dumb_buffers"), 1);
    qelBoDestroy(fd, bo);
    close(fd);
}

static void
create_refused_by_the_kernel_leaves_nothing(void **state)
{
    int fd = openDevice();

    (void) state;
    simCommandOk("fault create_dumb 1");
    assert_null(qelBoCreate(fd, 64, 64));
    simCommandOk("fault create_dumb 1");
    assert_null(qelBoCreateScanout(fd, 64, 64, TRUE));
    assert_int_equal(simCounter("live_dumb_buffers"), 0);
    assert_int_equal(simCounter("live_framebuffers"), 0);
    close(fd);
}

static void
map_and_framebuffer_are_made_once(void **state)
{
    int fd = openDevice();
    qelBo *bo = qelBoCreate(fd, 32, 32);
    void *map;
    uint32_t fbId;
    long mapCalls, addFbCalls;

    (void) state;
    map = qelBoGetMap(fd, bo);
    assert_non_null(map);
    assert_ptr_equal(bo->map, map);
    mapCalls = simIoctlCounter("MAP_DUMB");
    assert_true(mapCalls > 0);
    assert_ptr_equal(qelBoGetMap(fd, bo), map);
    assert_int_equal(simIoctlCounter("MAP_DUMB"), mapCalls);

    assert_true(qelBoAddFb(fd, bo));
    fbId = bo->fbId;
    assert_int_not_equal(fbId, 0);
    addFbCalls = simIoctlCounter("ADDFB");
    assert_true(addFbCalls > 0);
    assert_true(qelBoAddFb(fd, bo));
    assert_int_equal(bo->fbId, fbId);
    assert_int_equal(simIoctlCounter("ADDFB"), addFbCalls);
    assert_int_equal(simCounter("live_framebuffers"), 1);
    qelBoDestroy(fd, bo);
    close(fd);
}

/* Rows of a padded pitch are cleared as a whole: the bytes past width * 4
 * are read by the GE and by the display too. The first buffer leaves dirty
 * memory behind in case the device recycles it. */
static void
scanout_is_black_including_row_padding(void **state)
{
    int fd = openDevice();
    qelBo *dirty = qelBoCreate(fd, 10, 9);
    qelBo *bo;
    const unsigned char *bytes;

    (void) state;
    memset(qelBoMap(fd, dirty), 0xa5, (size_t) dirty->size);
    qelBoDestroy(fd, dirty);

    bo = qelBoCreateScanout(fd, 10, 9, TRUE);
    assert_non_null(bo);
    assert_int_equal(bo->pitch, 64);
    assert_non_null(bo->map);
    assert_int_not_equal(bo->fbId, 0);
    bytes = bo->map;
    for (uint64_t i = 0; i < bo->size; i++)
        if (bytes[i] != 0)
            fail_msg("byte %llu of the scanout buffer is 0x%02x", (unsigned long long) i,
                     bytes[i]);
    qelBoDestroy(fd, bo);
    close(fd);
}

static void
shadow_has_no_framebuffer(void **state)
{
    int fd = openDevice();
    qelBo *bo = qelBoCreateScanout(fd, 16, 16, FALSE);

    (void) state;
    assert_non_null(bo);
    assert_non_null(bo->map);
    assert_int_equal(bo->fbId, 0);
    assert_int_equal(simCounter("live_framebuffers"), 0);
    qelBoDestroy(fd, bo);
    close(fd);
}

static void
destroy_releases_framebuffer_mapping_and_handle(void **state)
{
    int fd = openDevice();
    qelBo *bo = qelBoCreateScanout(fd, 64, 64, TRUE);
    void *map = bo->map;
    size_t size = (size_t) bo->size;

    (void) state;
    assert_true(isMapped(map, size));
    qelBoDestroy(fd, bo);
    assert_false(isMapped(map, size));
    assert_int_equal(simCounter("live_dumb_buffers"), 0);
    assert_int_equal(simCounter("live_framebuffers"), 0);
    close(fd);
}

static void
destroy_of_a_bare_buffer_touches_only_the_handle(void **state)
{
    int fd = openDevice();
    qelBo *bo = qelBoCreate(fd, 8, 8);
    long rmFbCalls = simIoctlCounter("RMFB");

    (void) state;
    qelBoDestroy(fd, bo);
    qelBoDestroy(fd, NULL);
    assert_int_equal(simIoctlCounter("RMFB"), rmFbCalls);
    assert_int_equal(simCounter("live_dumb_buffers"), 0);
    close(fd);
}

/* Released buffers serve later requests of their size class, the one the
 * GE is done with first; what the cache keeps stays within its bytes, and
 * a buffer with a framebuffer is never kept. */
static void
the_cache_reuses_within_its_bounds(void **state)
{
    int fd = openDevice();
    qelBoCache *cache = qelBoCacheCreate(fd, 3 * 64 * 64 * 4, 60000);
    qelBo *a = qelBoCacheTake(cache, 60, 50, 0);
    qelBo *b = qelBoCacheTake(cache, 64, 64, 0);
    qelBo *fb = qelBoCreateScanout(fd, 64, 64, TRUE);
    qelBo *bos[4];

    (void) state;
    assert_int_equal(a->width, qelBoSizeClass(60));
    assert_int_equal(a->height, qelBoSizeClass(50));
    assert_non_null(a->map);
    b->geRead.serial = 7; /* the GE still reads b */
    qelBoCacheGive(cache, a);
    qelBoCacheGive(cache, b);
    qelBoCacheGive(cache, fb);
    assert_ptr_equal(qelBoCacheTake(cache, 63, 61, 6), a);
    assert_ptr_equal(qelBoCacheTake(cache, 64, 64, 6), b);
    assert_int_equal(simCounter("live_dumb_buffers"), 2);

    for (int i = 0; i < 4; i++)
        bos[i] = qelBoCacheTake(cache, 64, 64, 0);
    for (int i = 0; i < 4; i++)
        qelBoCacheGive(cache, bos[i]);
    assert_int_equal(qelBoCacheGetStats(cache).buffers, 3);
    assert_true(qelBoCacheGetStats(cache).bytes <= 3 * 64 * 64 * 4);
    qelBoDestroy(fd, a);
    qelBoDestroy(fd, b);
    qelBoCacheDestroy(cache);
    assert_int_equal(simCounter("live_dumb_buffers"), 0);
    close(fd);
}

/* A buffer the kernel cannot make empties the cache, and is tried again;
 * buffers past their age go at the next trim. */
static void
a_failed_creation_empties_the_cache_and_retries(void **state)
{
    int fd = openDevice();
    qelBoCache *cache = qelBoCacheCreate(fd, 1u << 24, 60000);
    qelBoCache *young = qelBoCacheCreate(fd, 1u << 24, 0);
    qelBo *bo;

    (void) state;
    qelBoCacheGive(cache, qelBoCacheTake(cache, 32, 32, 0));
    simCommandOk("fault create_dumb 1");
    bo = qelBoCacheTake(cache, 500, 500, 0);
    assert_non_null(bo);
    assert_int_equal(qelBoCacheGetStats(cache).buffers, 0);
    assert_int_equal(simCounter("live_dumb_buffers"), 1);
    qelBoCacheGive(young, bo);
    qelBoCacheTrim(young);
    assert_int_equal(simCounter("live_dumb_buffers"), 0);

    simCommandOk("fault create_dumb 1");
    assert_null(qelBoCacheTake(cache, 8, 8, 0));
    qelBoCacheDestroy(cache);
    qelBoCacheDestroy(young);
    close(fd);
}

int
main(void)
{
    const struct CMUnitTest tests[] = {
        cmocka_unit_test(create_keeps_what_the_kernel_returned),
        cmocka_unit_test(create_refused_by_the_kernel_leaves_nothing),
        cmocka_unit_test(map_and_framebuffer_are_made_once),
        cmocka_unit_test(scanout_is_black_including_row_padding),
        cmocka_unit_test(shadow_has_no_framebuffer),
        cmocka_unit_test(destroy_releases_framebuffer_mapping_and_handle),
        cmocka_unit_test(destroy_of_a_bare_buffer_touches_only_the_handle),
        cmocka_unit_test(the_cache_reuses_within_its_bounds),
        cmocka_unit_test(a_failed_creation_empties_the_cache_and_retries),
    };

    return cmocka_run_group_tests(tests, NULL, NULL);
}
