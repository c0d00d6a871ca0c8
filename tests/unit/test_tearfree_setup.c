/* SPDX-License-Identifier: MIT */
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
    t->priv->ge.ops = queued;
    t->priv->ge.opCount = 1;
    qelTearFreeTeardown(t->screen);
    assert_int_equal(t->priv->ge.opCount, 1);
    t->priv->ge.ops = NULL;
    t->priv->ge.opCount = 0;
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
    assert_int_equal(t->priv->ge.opCount, 0);
    assert_int_equal(submitsSinceClear(), 1);

    queueShadowFill(t, 0, 0, 4, 4, 2);
    qelTearFreeTeardown(t->screen);
    assert_int_equal(submitsSinceClear(), 2);
    expectUnwrapped(t);
    assert_int_equal(fakeCallCount("SetNotifyFd"), 0);
    expectNoMessage();
}

/* The Damage record and the CRTCs' records are armed; at close the CRTCs'
 * pairs go with them, and only the screen's buffer is left. The flips'
 * events come through the descriptor's one reader, which the screen (not
 * TearFree) watches. */
static void
tearfree_arms_and_disarms_both(void **state)
{
    tearFreeScreen *t = *state;
    qelScreenPriv *priv = t->priv;
    qelBo *back;

    tearFreeScreenStart(t);
    expectWrapped(t);
    assert_non_null(priv->present->damage);
    assert_int_equal(fakeCallCount("DamageRegister"), 1);
    assert_ptr_equal(tearFreeCrtc(t)->pendingRegion.data, &RegionEmptyData);
    assert_int_equal(fakeCallCount("SetNotifyFd"), 0);
    expectNoMessage();

    /* The reader is what completes a flip. */
    back = tearFreeBack(t);
    damageAdd(t, 0, 0, 16, 16);
    runPass(t);
    assert_true(tearFreeCrtc(t)->flipPending);
    simCommandOk("vblank 1");
    qelDrmEventHandler(priv->fd, X_NOTIFY_READ, &priv->kms);
    assert_false(tearFreeCrtc(t)->flipPending);
    assert_ptr_equal(tearFreeFront(t), back);

    qelTearFreeTeardown(t->screen);
    expectUnwrapped(t);
    assert_null(priv->present->damage);
    assert_null(priv->present->crtcs);
    assert_int_equal(fakeCallCount("DamageDestroy"), 1);
    assert_int_equal(simCounter("live_dumb_buffers"), 1);
    expectNoMessage();
}

/* ---- setup refused by the server ---- */

/* The screen pixmap keeps rendering into its buffer, which the CRTC now
 * scans out itself: what was drawn is on screen, and no buffer is added
 * but the framebuffer. */
static void
expectRunningWithoutTearFree(tearFreeScreen *t, long buffersBefore, long fbsBefore)
{
    qelScreenPriv *priv = t->priv;

    expectOneMessage(X_WARNING, 0, SETUP_FAILED);
    assert_false(priv->tearFree);
    assert_null(priv->present->damage);
    assert_null(priv->present->crtcs);
    assert_null(fakeNotifyFdFind(priv->fd));
    expectWrapped(t);

    tearFreeScreenLight(t);
    assert_ptr_equal(t->pixmapPriv->bo, priv->shadow);
    assert_int_equal(simCrtcField(0, "fb"), priv->shadow->fbId);
    assert_int_equal(boPixel(priv->shadow, PANEL_WIDTH - 1, PANEL_HEIGHT - 1), DRAWN_COLOR);
    assert_int_equal(simCounter("live_dumb_buffers"), buffersBefore);
    assert_int_equal(simCounter("live_framebuffers"), fbsBefore + 1);

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

/* ---- teardown ---- */

static void
startFlip(tearFreeScreen *t)
{
    tearFreeScreenStart(t);
    damageAdd(t, 8, 8, 32, 32);
    runPass(t);
    assert_true(tearFreeCrtc(t)->flipPending);
}

/* The flip is settled at close, from its event when one is queued, else
 * from the kernel's CRTC state (which names the flip's buffer as soon as
 * it accepted it); no event is read later for a record that is gone. */
static void
teardown_settles_a_pending_flip(void **state)
{
    tearFreeScreen *t = *state;
    long queries = simIoctlCounter("GETCRTC");

    startFlip(t);
    simCommandOk("vblank 1");
    qelTearFreeTeardown(t->screen);
    assert_int_equal(simIoctlCounter("GETCRTC"), queries);
    assert_null(fakeNotifyFdFind(t->priv->fd));

    tearFreeScreenRegenerate(t, tearFreeBaseBlockHandler);
    startFlip(t);
    qelTearFreeTeardown(t->screen);
    assert_int_equal(simIoctlCounter("GETCRTC"), queries + 1);
    assert_null(t->priv->present->damage);
    assert_null(t->priv->present->crtcs);
}

static void
damage_destroyed_by_the_server_is_not_destroyed_again(void **state)
{
    tearFreeScreen *t = *state;

    tearFreeScreenStart(t);
    DamageDestroy(t->priv->present->damage);
    assert_null(t->priv->present->damage);

    runPass(t);
    assert_int_equal(t->baseCalls, 1);
    qelTearFreeTeardown(t->screen);
    assert_int_equal(fakeCallCount("DamageDestroy"), 1);
    expectUnwrapped(t);
}

/* Regions with rectangle lists of their own are freed once at close (the
 * sanitizer sees leaks and double frees); the next generation starts over
 * from the shared empty region. */
static void
region_storage_is_freed_once(void **state)
{
    tearFreeScreen *t = *state;

    tearFreeScreenStart(t);
    damageAdd(t, 0, 0, 10, 10);
    damageAdd(t, 100, 100, 10, 10);
    damageAdd(t, 300, 500, 10, 10);
    runPass(t);
    damageAdd(t, 0, 300, 10, 10);
    damageAdd(t, 200, 700, 10, 10);
    runPass(t);
    assert_true(tearFreeCrtc(t)->pendingRegion.data->size > 0);
    assert_true(tearFreeCrtc(t)->owedRegion.data->size > 0);
    qelTearFreeTeardown(t->screen);

    tearFreeScreenRegenerate(t, tearFreeBaseBlockHandler);
    tearFreeScreenStart(t);
    assert_ptr_equal(tearFreeCrtc(t)->pendingRegion.data, &RegionEmptyData);
    qelTearFreeTeardown(t->screen);
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
 * generation's flip, read by nobody until now, cannot complete the new
 * generation's flip. */
static void
regeneration_wraps_the_new_screen(void **state)
{
    tearFreeScreen *t = *state;
    qelScreenPriv *priv = t->priv;
    struct pollfd pfd = { .fd = priv->fd, .events = POLLIN };
    qelBo *back;

    startFlip(t);
    qelTearFreeTeardown(t->screen);
    simCommandOk("vblank 1");

    nextGenerationCalls = 0;
    tearFreeScreenRegenerate(t, nextGenerationHandler);
    tearFreeScreenStart(t);
    assert_ptr_equal(t->screen->BlockHandler, qelBlockHandler);
    assert_ptr_equal(priv->savedBlockHandler, nextGenerationHandler);
    assert_non_null(priv->present->damage);

    back = tearFreeBack(t);
    damageAdd(t, 0, 0, 4, 4);
    runPass(t);
    assert_int_equal(nextGenerationCalls, 1);
    assert_true(tearFreeCrtc(t)->flipPending);
    assert_int_equal(poll(&pfd, 1, 0), 1);
    qelDrmEventHandler(priv->fd, X_NOTIFY_READ, NULL);
    assert_true(tearFreeCrtc(t)->flipPending);

    vblankAndEvents(t);
    assert_false(tearFreeCrtc(t)->flipPending);
    assert_ptr_equal(tearFreeFront(t), back);
    assert_int_equal(simCrtcField(0, "fb"), back->fbId);
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
        ON(tearfree_arms_and_disarms_both, tearFreeBuffers),
        ON(refused_damage_record_drops_tearfree, tearFreeBuffers),
        ON(teardown_settles_a_pending_flip, tearFreeBuffers),
        ON(damage_destroyed_by_the_server_is_not_destroyed_again, tearFreeBuffers),
        ON(region_storage_is_freed_once, tearFreeBuffers),
        ON(regeneration_wraps_the_new_screen, tearFreeBuffers),
        ON(failed_setup_holds_after_regeneration, tearFreeBuffers),
    };

    return cmocka_run_group_tests(tests, NULL, NULL);
}
