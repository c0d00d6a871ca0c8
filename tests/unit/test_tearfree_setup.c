/* Arming and disarming TearFree at screen start and close, in each of the
 * screen's arrangements, when the server refuses a part of it, and across a
 * server regeneration. */
#include <poll.h>
#include <setjmp.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <cmocka.h>

#include "tearfree/tearfree.h"
#include "test_tearfree_screen.h"

#define MAX_OPS 64
#define DRAWN_COLOR 0x00abcdefu
#define SETUP_FAILED "TearFree setup failed; running without it\n"

static int
tearDown(void **state)
{
    tearFreeScreenDestroy(*state);
    return 0;
}

static int
withoutAccel(void **state)
{
    *state = tearFreeScreenCreate(FALSE, FALSE);
    return 0;
}

static int
accelOnly(void **state)
{
    *state = tearFreeScreenCreate(TRUE, FALSE);
    return 0;
}

static int
tearFreeBuffers(void **state)
{
    *state = tearFreeScreenCreate(TRUE, TRUE);
    return 0;
}

static void
expectUnwrapped(tearFreeScreen *t)
{
    assert_ptr_equal(t->screen->BlockHandler, tearFreeBaseBlockHandler);
    assert_null(t->priv->savedBlockHandler);
}

static void
expectWrapped(tearFreeScreen *t)
{
    assert_ptr_equal(t->screen->BlockHandler, qelBlockHandler);
    assert_ptr_equal(t->priv->savedBlockHandler, tearFreeBaseBlockHandler);
}

static int
submitsSinceClear(void)
{
    geOp ops[MAX_OPS];
    int submits;

    geLogRead(ops, MAX_OPS, &submits);
    return submits;
}

/* ---- the three arrangements ---- */

static void
without_accel_nothing_is_armed(void **state)
{
    tearFreeScreen *t = *state;
    qelGeOp queued[1];

    qelTearFreeSetup(t->screen);
    expectUnwrapped(t);
    assert_int_equal(fakeCallCount("DamageCreate"), 0);
    assert_null(fakeNotifyFdFind(t->priv->fd));

    /* Not even the queue is touched at close. */
    t->priv->ops = queued;
    t->priv->opCount = 1;
    qelTearFreeTeardown(t->screen);
    assert_int_equal(t->priv->opCount, 1);
    t->priv->ops = NULL;
    t->priv->opCount = 0;
    expectUnwrapped(t);
    expectNoMessage();
}

static void
accel_without_tearfree_only_wraps(void **state)
{
    tearFreeScreen *t = *state;

    qelTearFreeSetup(t->screen);
    expectWrapped(t);
    assert_int_equal(fakeCallCount("DamageCreate"), 0);
    assert_null(fakeNotifyFdFind(t->priv->fd));

    /* Each pass submits what EXA queued. */
    queueShadowFill(t, 0, 0, 4, 4, 1);
    runPass(t);
    assert_int_equal(t->baseCalls, 1);
    assert_int_equal(t->priv->opCount, 0);
    assert_int_equal(submitsSinceClear(), 1);

    queueShadowFill(t, 0, 0, 4, 4, 2);
    qelTearFreeTeardown(t->screen);
    assert_int_equal(submitsSinceClear(), 2);
    expectUnwrapped(t);
    assert_int_equal(fakeCallCount("SetNotifyFd"), 0);
    expectNoMessage();
}

static void
tearfree_arms_and_disarms_all_three(void **state)
{
    tearFreeScreen *t = *state;
    qelScreenPriv *priv = t->priv;
    const fakeNotifyFd *watch;

    qelTearFreeSetup(t->screen);
    expectWrapped(t);
    assert_non_null(priv->damage);
    assert_int_equal(fakeCallCount("DamageRegister"), 1);
    assert_ptr_equal(priv->pendingRegion.data, &RegionEmptyData);
    watch = fakeNotifyFdFind(priv->fd);
    assert_non_null(watch);
    assert_ptr_equal(watch->notify, qelDrmEventHandler);
    assert_int_equal(watch->mask, X_NOTIFY_READ);
    assert_ptr_equal(watch->data, priv);
    expectNoMessage();

    /* The watch is what completes a flip. */
    damageAdd(t, 0, 0, 16, 16);
    runPass(t);
    assert_true(priv->flipPending);
    simCommandOk("vblank 1");
    watch->notify(priv->fd, X_NOTIFY_READ, watch->data);
    assert_false(priv->flipPending);
    assert_int_equal(priv->frontIndex, 1);

    qelTearFreeTeardown(t->screen);
    expectUnwrapped(t);
    assert_null(priv->damage);
    assert_int_equal(fakeCallCount("DamageDestroy"), 1);
    assert_null(fakeNotifyFdFind(priv->fd));
    assert_null(priv->pendingRegion.data);
    expectNoMessage();
}

/* ---- setup refused by the server ---- */

/* What the screen had drawn survives in the buffer on screen, which the
 * screen pixmap now renders into; the TearFree-only buffers are gone. */
static void
expectRunningWithoutTearFree(tearFreeScreen *t, long buffersBefore, long fbsBefore)
{
    qelScreenPriv *priv = t->priv;

    expectOneMessage(X_WARNING, 0, SETUP_FAILED);
    assert_false(priv->tearFree);
    assert_null(priv->damage);
    assert_null(fakeNotifyFdFind(priv->fd));
    expectWrapped(t);

    assert_ptr_equal(priv->shadow, priv->scanout[0]);
    assert_null(priv->scanout[1]);
    assert_int_equal(priv->frontIndex, 0);
    assert_ptr_equal(t->pixmapPriv->bo, priv->scanout[0]);
    assert_int_equal(t->pixmapPriv->pitch, priv->scanout[0]->pitch);
    assert_ptr_equal(t->pixmap->devPrivate.ptr, priv->scanout[0]->map);
    assert_int_equal(t->pixmap->devKind, priv->scanout[0]->pitch);
    assert_int_equal(boPixel(priv->scanout[0], 0, 0), DRAWN_COLOR);
    assert_int_equal(boPixel(priv->scanout[0], PANEL_WIDTH - 1, PANEL_HEIGHT - 1),
                     DRAWN_COLOR);
    assert_int_equal(simCrtcField(0, "fb"), priv->scanout[0]->fbId);
    assert_int_equal(simCounter("live_dumb_buffers"), buffersBefore - 2);
    assert_int_equal(simCounter("live_framebuffers"), fbsBefore - 1);

    /* From now on a pass only submits the queue. */
    geLogClear();
    queueShadowFill(t, 0, 0, 4, 4, 3);
    runPass(t);
    assert_int_equal(submitsSinceClear(), 1);
    assert_int_equal(simCounter("flips_requested"), 0);

    qelTearFreeTeardown(t->screen);
    expectUnwrapped(t);
    expectNoMessage();
}

static void
failedSetup(tearFreeScreen *t, const char *refusedCall)
{
    long buffers = simCounter("live_dumb_buffers");
    long fbs = simCounter("live_framebuffers");

    boFill(t->priv->shadow, 0, 0, PANEL_WIDTH, PANEL_HEIGHT, DRAWN_COLOR);
    fakeFail(refusedCall, 0, 1);
    qelTearFreeSetup(t->screen);
    expectRunningWithoutTearFree(t, buffers, fbs);
}

static void
refused_damage_record_drops_tearfree(void **state)
{
    tearFreeScreen *t = *state;

    failedSetup(t, "DamageCreate");
    assert_int_equal(fakeCallCount("DamageRegister"), 0);
}

static void
refused_descriptor_watch_drops_tearfree(void **state)
{
    tearFreeScreen *t = *state;

    failedSetup(t, "SetNotifyFd");
    assert_int_equal(fakeCallCount("DamageCreate"), 1);
    assert_int_equal(fakeCallCount("DamageRegister"), 1);
    assert_int_equal(fakeCallCount("DamageDestroy"), 1);
}

/* ---- teardown ---- */

static void
startFlip(tearFreeScreen *t)
{
    qelTearFreeSetup(t->screen);
    damageAdd(t, 8, 8, 32, 32);
    runPass(t);
    assert_true(t->priv->flipPending);
}

static void
teardown_takes_a_queued_flip_event(void **state)
{
    tearFreeScreen *t = *state;
    long queries = simIoctlCounter("GETCRTC");

    startFlip(t);
    simCommandOk("vblank 1");
    qelTearFreeTeardown(t->screen);
    assert_false(t->priv->flipPending);
    assert_int_equal(t->priv->frontIndex, 1);
    assert_int_equal(simIoctlCounter("GETCRTC"), queries);
    assert_null(fakeNotifyFdFind(t->priv->fd));
}

/* Before its vblank the kernel already names the flip's buffer on the
 * CRTC: teardown asks it and takes that buffer as the front. */
static void
teardown_settles_a_flip_before_its_vblank(void **state)
{
    tearFreeScreen *t = *state;
    long queries = simIoctlCounter("GETCRTC");

    startFlip(t);
    qelTearFreeTeardown(t->screen);
    assert_false(t->priv->flipPending);
    assert_int_equal(t->priv->frontIndex, 1);
    assert_int_equal(simIoctlCounter("GETCRTC"), queries + 1);
    assert_null(t->priv->damage);
}

static void
damage_destroyed_by_the_server_is_not_destroyed_again(void **state)
{
    tearFreeScreen *t = *state;

    qelTearFreeSetup(t->screen);
    DamageDestroy(t->priv->damage);
    assert_null(t->priv->damage);

    runPass(t);
    assert_int_equal(t->baseCalls, 1);
    qelTearFreeTeardown(t->screen);
    assert_int_equal(fakeCallCount("DamageDestroy"), 1);
    expectUnwrapped(t);
}

/* A pendingRegion with a rectangle list of its own has it freed once at
 * close (the sanitizer sees leaks and double frees); the shared empty data
 * is never freed. */
static void
pending_region_storage_is_freed_once(void **state)
{
    tearFreeScreen *t = *state;
    qelScreenPriv *priv = t->priv;

    qelTearFreeSetup(t->screen);
    damageAdd(t, 0, 0, 10, 10);
    damageAdd(t, 100, 100, 10, 10);
    damageAdd(t, 300, 500, 10, 10);
    runPass(t);
    vblankAndEvents(t);
    assert_non_null(priv->pendingRegion.data);
    assert_true(priv->pendingRegion.data->size > 0);
    qelTearFreeTeardown(t->screen);
    assert_null(priv->pendingRegion.data);

    /* The next generation starts over from the shared empty region. */
    tearFreeScreenRegenerate(t, tearFreeBaseBlockHandler);
    qelTearFreeSetup(t->screen);
    assert_ptr_equal(priv->pendingRegion.data, &RegionEmptyData);
    qelTearFreeTeardown(t->screen);
    assert_null(priv->pendingRegion.data);
}

static int nextGenerationCalls;

static void
nextGenerationHandler(ScreenPtr screen, void *timeout)
{
    (void) screen;
    (void) timeout;
    nextGenerationCalls++;
}

/* The next generation's screen is wrapped afresh, and an event of the last
 * generation's flip, read by nobody, cannot complete the new one's. */
static void
regeneration_wraps_the_new_screen(void **state)
{
    tearFreeScreen *t = *state;
    qelScreenPriv *priv = t->priv;
    struct pollfd pfd = { .fd = priv->fd, .events = POLLIN };

    startFlip(t);
    qelTearFreeTeardown(t->screen);
    simCommandOk("vblank 1");

    nextGenerationCalls = 0;
    tearFreeScreenRegenerate(t, nextGenerationHandler);
    qelTearFreeSetup(t->screen);
    assert_ptr_equal(t->screen->BlockHandler, qelBlockHandler);
    assert_ptr_equal(priv->savedBlockHandler, nextGenerationHandler);
    assert_non_null(priv->damage);
    assert_non_null(fakeNotifyFdFind(priv->fd));
    assert_int_equal(poll(&pfd, 1, 0), 0);

    damageAdd(t, 0, 0, 4, 4);
    runPass(t);
    assert_int_equal(nextGenerationCalls, 1);
    assert_true(priv->flipPending);
    vblankAndEvents(t);
    assert_false(priv->flipPending);
    assert_int_equal(priv->frontIndex, 0);
    assert_int_equal(simCrtcField(0, "fb"), priv->scanout[0]->fbId);
}

/* Only PreInit turns TearFree on: a failed setup holds for the next
 * generation too. */
static void
failed_setup_holds_after_regeneration(void **state)
{
    tearFreeScreen *t = *state;

    fakeFail("DamageCreate", 0, 1);
    qelTearFreeSetup(t->screen);
    qelTearFreeTeardown(t->screen);
    forgetMessages();

    tearFreeScreenRegenerate(t, tearFreeBaseBlockHandler);
    qelTearFreeSetup(t->screen);
    expectWrapped(t);
    assert_int_equal(fakeCallCount("DamageCreate"), 1);
    assert_null(fakeNotifyFdFind(t->priv->fd));
    expectNoMessage();
}

#define ON(test, setUp) cmocka_unit_test_setup_teardown(test, setUp, tearDown)

int
main(void)
{
    const struct CMUnitTest tests[] = {
        ON(without_accel_nothing_is_armed, withoutAccel),
        ON(accel_without_tearfree_only_wraps, accelOnly),
        ON(tearfree_arms_and_disarms_all_three, tearFreeBuffers),
        ON(refused_damage_record_drops_tearfree, tearFreeBuffers),
        ON(refused_descriptor_watch_drops_tearfree, tearFreeBuffers),
        ON(teardown_takes_a_queued_flip_event, tearFreeBuffers),
        ON(teardown_settles_a_flip_before_its_vblank, tearFreeBuffers),
        ON(damage_destroyed_by_the_server_is_not_destroyed_again, tearFreeBuffers),
        ON(pending_region_storage_is_freed_once, tearFreeBuffers),
        ON(regeneration_wraps_the_new_screen, tearFreeBuffers),
        ON(failed_setup_holds_after_regeneration, tearFreeBuffers),
    };

    return cmocka_run_group_tests(tests, NULL, NULL);
}
