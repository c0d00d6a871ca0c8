/* SPDX-License-Identifier: MIT */
/* The per-pass flip cycle on the simulated device, for the panel's CRTC:
 * which passes copy and flip, what the GE receives, what each buffer of the
 * CRTC's pair ends up holding, and the region bookkeeping between cycles. */
#include <setjmp.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <stdio.h>
#include <string.h>
#include <errno.h>

#include <cmocka.h>
#include <X11/extensions/dpmsconst.h>

#include "tearfree/tearfree.h"
#include "test_tearfree_screen.h"

#define MAX_OPS 64
#define SHADOW_COLOR 0x00123456u

static int
setUp(void **state)
{
    tearFreeScreen *t = tearFreeScreenCreate(TRUE, TRUE);

    tearFreeScreenStart(t);
    assert_ptr_equal(t->screen->BlockHandler, qelBlockHandler);
    boFill(t->priv->shadow, 0, 0, PANEL_WIDTH, PANEL_HEIGHT, SHADOW_COLOR);
    *state = t;
    return 0;
}

static int
tearDown(void **state)
{
    tearFreeScreenDestroy(*state);
    return 0;
}

static long
flipsRequested(void)
{
    return simCounter("flips_requested");
}

static int
opsSinceClear(geOp *ops, int *submits)
{
    return geLogRead(ops, MAX_OPS, submits);
}

/* ---- passes that only submit the queue ---- */

/* The Damage record a test took away from the driver. */
static DamagePtr heldDamage;

/* The damage kept for later: still in the Damage record, or owed to the
 * CRTC. */
static void
expectDamageKept(tearFreeScreen *t, const BoxRec *damaged)
{
    DamagePtr damage = t->priv->present->damage ? t->priv->present->damage : heldDamage;
    RegionRec kept;

    RegionNull(&kept);
    pixman_region_union(&kept, &kept, &tearFreeCrtc(t)->owedRegion);
    pixman_region_union(&kept, &kept, DamageRegion(damage));
    expectRegion(&kept, 1, damaged);
    RegionUninit(&kept);
}

/* A pass behind a closed gate: the wrapped handler runs, what EXA queued
 * reaches the GE, nothing is copied or flipped, and the damage stays for
 * the first pass after the gate opens, which presents it. */
static void
expectOnlyFlushUntil(tearFreeScreen *t, void (*open)(tearFreeScreen *))
{
    qelScreenPriv *priv = t->priv;
    geOp ops[MAX_OPS];
    int submits;
    long flips = flipsRequested();
    qelBo *front = tearFreeFront(t);
    BoxRec damaged = { 10, 20, 110, 70 };
    int baseCalls = t->baseCalls;

    queueShadowFill(t, 0, 0, 8, 8, 0x00ff0000);
    runPass(t);
    assert_int_equal(t->baseCalls, baseCalls + 1);
    assert_int_equal(priv->ge.opCount, 0);
    assert_int_equal(opsSinceClear(ops, &submits), 1);
    assert_int_equal(ops[0].word[OP_WORD_TYPE], TX3120_GE_OP_SOLID);
    assert_int_equal(flipsRequested(), flips);
    assert_ptr_equal(tearFreeFront(t), front);
    expectDamageKept(t, &damaged);

    open(t);
    geLogClear();
    runPass(t);
    assert_true(opsSinceClear(ops, &submits) >= 1);
    expectCopy(&ops[0], priv->shadow, tearFreeBack(t), 10, 20, 100, 50);
    assert_true(flipsRequested() > flips);
    assert_true(tearFreeCrtc(t)->flipPending);
}

static void
leaveVt(tearFreeScreen *t)
{
    t->kms->scrn.vtSema = FALSE;
}

static void
enterVt(tearFreeScreen *t)
{
    t->kms->scrn.vtSema = TRUE;
}

static void
vt_switched_away_keeps_damage(void **state)
{
    tearFreeScreen *t = *state;

    damageAdd(t, 10, 20, 100, 50);
    leaveVt(t);
    expectOnlyFlushUntil(t, enterVt);
}

static void
tearFreeOn(tearFreeScreen *t)
{
    t->priv->present->tearFree = TRUE;
}

static void
tearfree_off_keeps_damage(void **state)
{
    tearFreeScreen *t = *state;

    damageAdd(t, 10, 20, 100, 50);
    t->priv->present->tearFree = FALSE;
    expectOnlyFlushUntil(t, tearFreeOn);
}

static void
damageBack(tearFreeScreen *t)
{
    t->priv->present->damage = heldDamage;
}

static void
no_damage_record_only_flushes(void **state)
{
    tearFreeScreen *t = *state;

    damageAdd(t, 10, 20, 100, 50);
    heldDamage = t->priv->present->damage;
    t->priv->present->damage = NULL;
    expectOnlyFlushUntil(t, damageBack);
}

static void
flipDone(tearFreeScreen *t)
{
    vblankAndEvents(t);
    assert_false(tearFreeCrtc(t)->flipPending);
}

/* Damage drawn while a flip is pending is presented, together with what
 * the new back buffer lacks, by one cycle after the completion event. */
static void
flip_pending_keeps_damage(void **state)
{
    tearFreeScreen *t = *state;
    qelScreenPriv *priv = t->priv;
    qelBo *oldFront = tearFreeFront(t);
    geOp ops[MAX_OPS];
    int submits;

    damageAdd(t, 300, 300, 10, 10);
    runPass(t);
    assert_true(tearFreeCrtc(t)->flipPending);
    geLogClear();

    damageAdd(t, 10, 20, 100, 50);
    expectOnlyFlushUntil(t, flipDone);
    /* The second cycle went to the old front, which lacked both. */
    assert_int_equal(opsSinceClear(ops, &submits), 2);
    assert_int_equal(submits, 1);
    expectCopy(&ops[0], priv->shadow, oldFront, 10, 20, 100, 50);
    expectCopy(&ops[1], priv->shadow, oldFront, 300, 300, 10, 10);
}

static void
dpmsOn(tearFreeScreen *t)
{
    qelCrtcDpms(t->kms->crtcPtrs[0], DPMSModeOn);
    assert_true(tearFreeCrtc(t)->lit);
}

static void
crtc_off_keeps_damage(void **state)
{
    tearFreeScreen *t = *state;

    qelCrtcDpms(t->kms->crtcPtrs[0], DPMSModeOff);
    assert_false(tearFreeCrtc(t)->lit);
    damageAdd(t, 10, 20, 100, 50);
    expectOnlyFlushUntil(t, dpmsOn);
}

/* A CRTC without a mode has no pair and needs no damage: nothing is copied
 * or flipped, and its first mode set fills its new pair with the screen. */
static void
crtc_without_a_mode_gets_the_screen_whole_when_lit(void **state)
{
    tearFreeScreen *t = *state;
    xf86CrtcPtr crtc = t->kms->crtcPtrs[0];
    geOp ops[MAX_OPS];
    int submits;
    long flips;

    crtc->enabled = FALSE;
    qelCrtcDpms(crtc, DPMSModeOff);
    assert_null(tearFreeCrtc(t)->pair.scanout[0]);
    geLogClear();
    flips = flipsRequested();
    boFill(t->priv->shadow, 10, 20, 100, 50, 0x00ff0000);
    damageAdd(t, 10, 20, 100, 50);
    runPass(t);
    assert_int_equal(opsSinceClear(ops, &submits), 0);
    assert_int_equal(flipsRequested(), flips);

    crtc->enabled = TRUE;
    tearFreeScreenLight(t);
    assert_int_equal(opsSinceClear(ops, &submits), 2);
    expectCopy(&ops[0], t->priv->shadow, tearFreeCrtc(t)->pair.scanout[0], 0, 0, PANEL_WIDTH,
               PANEL_HEIGHT);
    expectCopy(&ops[1], t->priv->shadow, tearFreeCrtc(t)->pair.scanout[1], 0, 0, PANEL_WIDTH,
               PANEL_HEIGHT);
    assert_int_equal(simCrtcField(0, "fb"), tearFreeFront(t)->fbId);
    assert_int_equal(boPixel(tearFreeFront(t), 10, 20), 0x00ff0000);
    assert_int_equal(boPixel(tearFreeBack(t), 200, 200), SHADOW_COLOR);
    runPass(t);
    assert_int_equal(flipsRequested(), flips);
}

/* What the back buffer lacks is no reason for a cycle by itself. */
static void
empty_damage_starts_no_cycle(void **state)
{
    tearFreeScreen *t = *state;
    BoxRec owed = { 5, 5, 15, 15 };
    geOp ops[MAX_OPS];
    int submits;
    long flips;

    damageAdd(t, 5, 5, 10, 10);
    runPass(t);
    vblankAndEvents(t);
    expectRegion(&tearFreeCrtc(t)->pendingRegion, 1, &owed);
    geLogClear();
    flips = flipsRequested();

    runPass(t);
    assert_int_equal(opsSinceClear(ops, &submits), 0);
    assert_int_equal(flipsRequested(), flips);
    expectRegion(&tearFreeCrtc(t)->pendingRegion, 1, &owed);
}

/* ---- the cycle ---- */

/* One damaged rectangle: the fill EXA queued goes out first, then exactly
 * one copy of the rectangle into the back buffer, then the flip, which
 * shows the shadow's pixels once the vblank comes. */
static void
one_rectangle_is_one_copy_then_a_flip(void **state)
{
    tearFreeScreen *t = *state;
    qelScreenPriv *priv = t->priv;
    qelFlipCrtc *c = tearFreeCrtc(t);
    qelBo *front = tearFreeFront(t);
    qelBo *back = tearFreeBack(t);
    BoxRec damaged = { 40, 30, 140, 90 };
    geOp ops[MAX_OPS];
    int submits;
    long flips = flipsRequested();
    long waits;

    queueShadowFill(t, 40, 30, 100, 60, 0x0000ff00);
    damageAdd(t, 40, 30, 100, 60);
    runPass(t);

    assert_int_equal(opsSinceClear(ops, &submits), 2);
    assert_int_equal(submits, 2);
    assert_int_equal(ops[0].word[OP_WORD_TYPE], TX3120_GE_OP_SOLID);
    expectCopy(&ops[1], priv->shadow, back, 40, 30, 100, 60);
    assert_int_equal(flipsRequested(), flips + 1);
    assert_true(c->flipPending);
    assert_ptr_equal(tearFreeFront(t), front);
    expectRegion(&c->pendingRegion, 1, &damaged);
    assert_false(RegionNotEmpty(DamageRegion(priv->present->damage)));

    assert_int_equal(boPixel(back, 40, 30), 0x0000ff00);
    assert_int_equal(boPixel(back, 139, 89), 0x0000ff00);
    assert_int_equal(boPixel(back, 140, 89), 0);
    assert_int_equal(boPixel(front, 40, 30), 0);

    vblankAndEvents(t);
    assert_false(c->flipPending);
    assert_ptr_equal(tearFreeFront(t), back);
    assert_int_equal(simCrtcField(0, "fb"), back->fbId);

    /* The flip was shown after the copies it waited for: software may
     * write the shadow again without waiting for the GE. */
    waits = simIoctlCounter("GE_WAIT");
    qelGeWaitBo(&priv->ge, priv->shadow);
    assert_int_equal(simIoctlCounter("GE_WAIT"), waits);
}

/* Several rectangles share one batch, and the next cycle sends the old
 * front what it missed together with the new damage. */
static void
second_cycle_adds_what_the_old_front_missed(void **state)
{
    tearFreeScreen *t = *state;
    qelScreenPriv *priv = t->priv;
    qelFlipCrtc *c = tearFreeCrtc(t);
    qelBo *first = tearFreeFront(t);
    qelBo *second = tearFreeBack(t);
    BoxRec drawn = { 0, 700, 50, 710 };
    geOp ops[MAX_OPS];
    int submits;

    damageAdd(t, 0, 0, 10, 10);
    damageAdd(t, 500, 400, 20, 20);
    runPass(t);
    assert_int_equal(opsSinceClear(ops, &submits), 2);
    assert_int_equal(submits, 1);
    vblankAndEvents(t);
    geLogClear();

    damageAdd(t, 0, 700, 50, 10);
    runPass(t);
    assert_int_equal(opsSinceClear(ops, &submits), 3);
    assert_int_equal(submits, 1);
    expectCopy(&ops[0], priv->shadow, first, 0, 0, 10, 10);
    expectCopy(&ops[1], priv->shadow, first, 500, 400, 20, 20);
    expectCopy(&ops[2], priv->shadow, first, 0, 700, 50, 10);
    expectRegion(&c->pendingRegion, 1, &drawn);
    vblankAndEvents(t);
    assert_ptr_equal(tearFreeFront(t), first);
    assert_int_equal(boPixel(first, 505, 405), SHADOW_COLOR);
    assert_int_equal(boPixel(second, 505, 405), SHADOW_COLOR);
}

static void
setMode(tearFreeScreen *t, int width, int height, int x, int y)
{
    DisplayModeRec mode = kmsFixtureMode(width, height);

    assert_true(qelCrtcSetModeMajor(t->kms->crtcPtrs[0], &mode, RR_Rotate_0, x, y));
    geLogClear();
}

/* Only the part inside the CRTC's rectangle is copied and owed; damage
 * wholly outside it copies nothing and flips nothing. */
static void
damage_outside_the_mode_is_not_copied(void **state)
{
    tearFreeScreen *t = *state;
    qelScreenPriv *priv = t->priv;
    qelFlipCrtc *c = tearFreeCrtc(t);
    BoxRec across = { 780, 0, 800, 10 };
    geOp ops[MAX_OPS];
    int submits;
    long flips;

    setMode(t, 800, 600, 0, 0);
    damageAdd(t, 780, 0, 50, 10);
    runPass(t);
    assert_int_equal(opsSinceClear(ops, &submits), 1);
    expectCopy(&ops[0], priv->shadow, tearFreeBack(t), 780, 0, 20, 10);
    expectRegion(&c->pendingRegion, 1, &across);
    vblankAndEvents(t);
    geLogClear();

    flips = flipsRequested();
    damageAdd(t, 900, 650, 50, 50);
    runPass(t);
    assert_int_equal(opsSinceClear(ops, &submits), 0);
    assert_int_equal(flipsRequested(), flips);
    assert_false(c->flipPending);
    expectRegion(&c->pendingRegion, 1, &across);
}

/* A refused flip: the damage goes into the buffer on screen in the same
 * pass, the back buffer is owed it, and the next damage tries a flip again
 * with everything the back buffer lacks. */
static void
refused_flip_draws_into_the_front(void **state)
{
    tearFreeScreen *t = *state;
    qelScreenPriv *priv = t->priv;
    qelFlipCrtc *c = tearFreeCrtc(t);
    qelBo *first = tearFreeFront(t);
    qelBo *second = tearFreeBack(t);
    BoxRec owed[] = { { 0, 0, 10, 10 }, { 200, 100, 230, 110 } };
    geOp ops[MAX_OPS];
    int submits;
    char text[200];

    damageAdd(t, 0, 0, 10, 10);
    runPass(t);
    vblankAndEvents(t);
    assert_ptr_equal(tearFreeFront(t), second);
    geLogClear();

    simCommandOk("fault flip 2");
    damageAdd(t, 200, 100, 30, 10);
    runPass(t);
    snprintf(text, sizeof(text),
             "TearFree: the kernel refuses page flips on CRTC %u: %s; its updates are shown "
             "without tear-freedom\n", c->crtcId, strerror(EINVAL));
    expectOneMessage(X_WARNING, 0, text);
    assert_int_equal(opsSinceClear(ops, &submits), 3);
    assert_int_equal(submits, 2);
    expectCopy(&ops[0], priv->shadow, first, 0, 0, 10, 10);
    expectCopy(&ops[1], priv->shadow, first, 200, 100, 30, 10);
    expectCopy(&ops[2], priv->shadow, second, 200, 100, 30, 10);
    assert_false(c->flipPending);
    assert_ptr_equal(tearFreeFront(t), second);
    expectRegion(&c->pendingRegion, 2, owed);
    assert_false(RegionNotEmpty(DamageRegion(priv->present->damage)));
    assert_int_equal(boPixel(second, 210, 105), SHADOW_COLOR);
    assert_int_equal(simCrtcField(0, "fb"), second->fbId);
    geLogClear();

    /* Refused again: nothing new to say. */
    damageAdd(t, 700, 0, 5, 10);
    runPass(t);
    expectNoMessage();
    geLogClear();

    damageAdd(t, 600, 0, 5, 10);
    runPass(t);
    assert_int_equal(opsSinceClear(ops, &submits), 4);
    expectCopy(&ops[0], priv->shadow, first, 0, 0, 10, 10);
    expectCopy(&ops[1], priv->shadow, first, 600, 0, 5, 10);
    expectCopy(&ops[2], priv->shadow, first, 700, 0, 5, 10);
    expectCopy(&ops[3], priv->shadow, first, 200, 100, 30, 10);
    assert_true(c->flipPending);
    snprintf(text, sizeof(text), "TearFree: page flips on CRTC %u work again\n", c->crtcId);
    expectOneMessage(X_INFO, 0, text);
}

/* A CRTC showing the screen from (200, 100) on: its pair holds that
 * rectangle, damage is copied from the screen's place to the pair's, and
 * moving the CRTC fills the pair anew from the new place. */
static void
crtc_at_an_offset_copies_its_rectangle(void **state)
{
    tearFreeScreen *t = *state;
    qelScreenPriv *priv = t->priv;
    geOp ops[MAX_OPS];
    int submits;

    boFill(priv->shadow, 200, 100, 1, 1, 0x00aa5500);
    setMode(t, 640, 480, 200, 100);
    assert_int_equal(boPixel(tearFreeFront(t), 0, 0), 0x00aa5500);
    assert_int_equal(boPixel(tearFreeBack(t), 0, 0), 0x00aa5500);

    damageAdd(t, 150, 90, 100, 50);
    runPass(t);
    assert_int_equal(opsSinceClear(ops, &submits), 1);
    expectCopyTo(&ops[0], priv->shadow, 200, 100, tearFreeBack(t), 0, 0, 50, 40);
    vblankAndEvents(t);
    geLogClear();

    boFill(priv->shadow, 300, 100, 1, 1, 0x0000aa55);
    setMode(t, 640, 480, 300, 100);
    assert_int_equal(boPixel(tearFreeFront(t), 0, 0), 0x0000aa55);
    assert_int_equal(boPixel(tearFreeBack(t), 0, 0), 0x0000aa55);
    assert_int_equal(simCrtcField(0, "x"), 0);
}

/* Asserts that the CRTC shows the buffer the driver calls the front, and
 * that it carries the colour drawn at (70, 70). */
static void
assertFrontShownWithPixel(tearFreeScreen *t, uint32_t colour)
{
    uint32_t shownFb = (uint32_t) simCrtcField(0, "fb");
    const qelBo *front = tearFreeFront(t);

    assert_int_equal(front->fbId, shownFb);
    assert_int_equal(boPixel(front, 70, 70), colour);
}

/* The VT goes away while the kernel still holds the flip: the kernel's CRTC
 * state already names the flip's buffer, so resolution takes it as the
 * front; after the return the mode set shows it, with the last frame. */
static void
last_frame_is_shown_after_a_vt_switch_with_a_flip_pending(void **state)
{
    tearFreeScreen *t = *state;
    qelScreenPriv *priv = t->priv;
    qelFlipCrtc *c = tearFreeCrtc(t);
    qelBo *back = tearFreeBack(t);

    boFill(priv->shadow, 64, 64, 16, 16, 0x00ff00ff);
    damageAdd(t, 64, 64, 16, 16);
    runPass(t);
    assert_true(c->flipPending);

    qelPresentSettleAll(priv->present);
    t->kms->scrn.vtSema = FALSE;
    assert_ptr_equal(tearFreeFront(t), back);
    simCommandOk("vblank 1");
    qelDrmEventHandler(priv->fd, X_NOTIFY_READ, NULL);

    t->kms->scrn.vtSema = TRUE;
    tearFreeScreenLight(t);
    runPass(t);
    if (c->flipPending)
        vblankAndEvents(t);
    assertFrontShownWithPixel(t, 0x00ff00ff);
}

/* Resolution could not learn the CRTC's state (the query failed) and kept
 * the front, which never got the last frame: the next pass presents it
 * although nothing new was drawn, and the flip's late event changes
 * nothing. */
static void
unshown_last_frame_is_presented_again(void **state)
{
    tearFreeScreen *t = *state;
    qelScreenPriv *priv = t->priv;
    qelFlipCrtc *c = tearFreeCrtc(t);
    uint32_t crtcId = c->crtcId;
    qelBo *front = tearFreeFront(t);

    boFill(priv->shadow, 64, 64, 16, 16, 0x00ff00ff);
    damageAdd(t, 64, 64, 16, 16);
    runPass(t);
    assert_true(c->flipPending);

    c->crtcId = 0xdead;
    qelPresentSettleCrtc(priv->present, 0xdead);
    c->crtcId = crtcId;
    assert_ptr_equal(tearFreeFront(t), front);
    simCommandOk("vblank 1");
    qelDrmEventHandler(priv->fd, X_NOTIFY_READ, NULL);
    assert_ptr_equal(tearFreeFront(t), front);

    runPass(t);
    assert_true(c->flipPending);
    vblankAndEvents(t);
    assertFrontShownWithPixel(t, 0x00ff00ff);
}

/* ---- the BlockHandler chain ---- */

static void
laterLayerHandler(ScreenPtr screen, void *timeout)
{
    (void) screen;
    (void) timeout;
}

static void
wrappingHandler(ScreenPtr screen, void *timeout)
{
    tearFreeBaseBlockHandler(screen, timeout);
    /* A layer below wraps again while it runs. */
    screen->BlockHandler = laterLayerHandler;
}

static void
handler_chain_is_kept(void **state)
{
    tearFreeScreen *t = *state;
    qelScreenPriv *priv = t->priv;

    runPass(t);
    assert_int_equal(t->baseCalls, 1);
    assert_ptr_equal(t->baseTimeout, &t->baseTimeout);
    assert_ptr_equal(t->screen->BlockHandler, qelBlockHandler);

    priv->savedBlockHandler = wrappingHandler;
    runPass(t);
    assert_int_equal(t->baseCalls, 2);
    assert_ptr_equal(t->screen->BlockHandler, qelBlockHandler);
    assert_ptr_equal(priv->savedBlockHandler, laterLayerHandler);
}

#define CYCLE(test) cmocka_unit_test_setup_teardown(test, setUp, tearDown)

int
main(void)
{
    const struct CMUnitTest tests[] = {
        CYCLE(vt_switched_away_keeps_damage),
        CYCLE(tearfree_off_keeps_damage),
        CYCLE(no_damage_record_only_flushes),
        CYCLE(flip_pending_keeps_damage),
        CYCLE(crtc_off_keeps_damage),
        CYCLE(crtc_without_a_mode_gets_the_screen_whole_when_lit),
        CYCLE(empty_damage_starts_no_cycle),
        CYCLE(one_rectangle_is_one_copy_then_a_flip),
        CYCLE(second_cycle_adds_what_the_old_front_missed),
        CYCLE(damage_outside_the_mode_is_not_copied),
        CYCLE(refused_flip_draws_into_the_front),
        CYCLE(crtc_at_an_offset_copies_its_rectangle),
        CYCLE(last_frame_is_shown_after_a_vt_switch_with_a_flip_pending),
        CYCLE(unshown_last_frame_is_presented_again),
        CYCLE(handler_chain_is_kept),
    };

    return cmocka_run_group_tests(tests, NULL, NULL);
}
