/* The per-pass flip cycle on the simulated device: which passes copy and
 * flip, what the GE receives, what each buffer ends up holding, and the
 * region bookkeeping between cycles. */
#include <setjmp.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

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

    qelTearFreeSetup(t->screen);
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
    int front = priv->frontIndex;
    BoxRec damaged = { 10, 20, 110, 70 };
    int baseCalls = t->baseCalls;

    queueShadowFill(t, 0, 0, 8, 8, 0x00ff0000);
    runPass(t);
    assert_int_equal(t->baseCalls, baseCalls + 1);
    assert_int_equal(priv->opCount, 0);
    assert_int_equal(opsSinceClear(ops, &submits), 1);
    assert_int_equal(ops[0].word[OP_WORD_TYPE], GE_OP_SOLID);
    assert_int_equal(flipsRequested(), flips);
    assert_int_equal(priv->frontIndex, front);
    if (priv->damage)
        expectRegion(DamageRegion(priv->damage), 1, &damaged);

    open(t);
    geLogClear();
    runPass(t);
    assert_true(opsSinceClear(ops, &submits) >= 1);
    expectCopy(&ops[0], priv->shadow, priv->scanout[priv->frontIndex ^ 1], 10, 20, 100, 50);
    assert_true(flipsRequested() > flips);
    assert_true(priv->flipPending);
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
    t->priv->tearFree = TRUE;
}

static void
tearfree_off_keeps_damage(void **state)
{
    tearFreeScreen *t = *state;

    damageAdd(t, 10, 20, 100, 50);
    t->priv->tearFree = FALSE;
    expectOnlyFlushUntil(t, tearFreeOn);
}

static DamagePtr heldDamage;

static void
damageBack(tearFreeScreen *t)
{
    t->priv->damage = heldDamage;
}

static void
no_damage_record_only_flushes(void **state)
{
    tearFreeScreen *t = *state;

    damageAdd(t, 10, 20, 100, 50);
    heldDamage = t->priv->damage;
    t->priv->damage = NULL;
    expectOnlyFlushUntil(t, damageBack);
}

static void
flipDone(tearFreeScreen *t)
{
    vblankAndEvents(t);
    assert_false(t->priv->flipPending);
}

/* Damage drawn while a flip is pending is presented, together with what
 * the new back buffer lacks, by one cycle after the completion event. */
static void
flip_pending_keeps_damage(void **state)
{
    tearFreeScreen *t = *state;
    qelScreenPriv *priv = t->priv;
    geOp ops[MAX_OPS];
    int submits;

    damageAdd(t, 300, 300, 10, 10);
    runPass(t);
    assert_true(priv->flipPending);
    geLogClear();

    damageAdd(t, 10, 20, 100, 50);
    expectOnlyFlushUntil(t, flipDone);
    /* The second cycle went to the old front, which lacked both. */
    assert_int_equal(opsSinceClear(ops, &submits), 2);
    assert_int_equal(submits, 1);
    expectCopy(&ops[0], priv->shadow, priv->scanout[0], 10, 20, 100, 50);
    expectCopy(&ops[1], priv->shadow, priv->scanout[0], 300, 300, 10, 10);
}

static void
dpmsOn(tearFreeScreen *t)
{
    qelCrtcDpms(t->kms->crtcPtrs[0], DPMSModeOn);
    assert_false(t->priv->crtcOff);
}

static void
crtc_off_keeps_damage(void **state)
{
    tearFreeScreen *t = *state;

    qelCrtcDpms(t->kms->crtcPtrs[0], DPMSModeOff);
    assert_true(t->priv->crtcOff);
    damageAdd(t, 10, 20, 100, 50);
    expectOnlyFlushUntil(t, dpmsOn);
}

static void
modeSet(tearFreeScreen *t)
{
    t->priv->modeHeight = PANEL_HEIGHT;
}

static void
no_mode_yet_keeps_damage(void **state)
{
    tearFreeScreen *t = *state;

    t->priv->modeHeight = 0;
    damageAdd(t, 10, 20, 100, 50);
    expectOnlyFlushUntil(t, modeSet);
}

/* What the back buffer lacks is no reason for a cycle by itself. */
static void
empty_damage_starts_no_cycle(void **state)
{
    tearFreeScreen *t = *state;
    qelScreenPriv *priv = t->priv;
    BoxRec owed = { 5, 5, 15, 15 };
    geOp ops[MAX_OPS];
    int submits;
    long flips;

    damageAdd(t, 5, 5, 10, 10);
    runPass(t);
    vblankAndEvents(t);
    expectRegion(&priv->pendingRegion, 1, &owed);
    geLogClear();
    flips = flipsRequested();

    runPass(t);
    assert_int_equal(opsSinceClear(ops, &submits), 0);
    assert_int_equal(flipsRequested(), flips);
    expectRegion(&priv->pendingRegion, 1, &owed);
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
    BoxRec damaged = { 40, 30, 140, 90 };
    geOp ops[MAX_OPS];
    int submits;
    long flips = flipsRequested();

    queueShadowFill(t, 40, 30, 100, 60, 0x0000ff00);
    damageAdd(t, 40, 30, 100, 60);
    runPass(t);

    assert_int_equal(opsSinceClear(ops, &submits), 2);
    assert_int_equal(submits, 2);
    assert_int_equal(ops[0].word[OP_WORD_TYPE], GE_OP_SOLID);
    expectCopy(&ops[1], priv->shadow, priv->scanout[1], 40, 30, 100, 60);
    assert_int_equal(flipsRequested(), flips + 1);
    assert_true(priv->flipPending);
    assert_int_equal(priv->frontIndex, 0);
    expectRegion(&priv->pendingRegion, 1, &damaged);
    assert_false(RegionNotEmpty(DamageRegion(priv->damage)));

    assert_int_equal(boPixel(priv->scanout[1], 40, 30), 0x0000ff00);
    assert_int_equal(boPixel(priv->scanout[1], 139, 89), 0x0000ff00);
    assert_int_equal(boPixel(priv->scanout[1], 140, 89), 0);
    assert_int_equal(boPixel(priv->scanout[0], 40, 30), 0);

    vblankAndEvents(t);
    assert_false(priv->flipPending);
    assert_int_equal(priv->frontIndex, 1);
    assert_int_equal(simCrtcField(0, "fb"), priv->scanout[1]->fbId);
}

/* Several rectangles share one batch, and the next cycle sends the old
 * front what it missed together with the new damage. */
static void
second_cycle_adds_what_the_old_front_missed(void **state)
{
    tearFreeScreen *t = *state;
    qelScreenPriv *priv = t->priv;
    BoxRec second = { 0, 700, 50, 710 };
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
    expectCopy(&ops[0], priv->shadow, priv->scanout[0], 0, 0, 10, 10);
    expectCopy(&ops[1], priv->shadow, priv->scanout[0], 500, 400, 20, 20);
    expectCopy(&ops[2], priv->shadow, priv->scanout[0], 0, 700, 50, 10);
    expectRegion(&priv->pendingRegion, 1, &second);
    vblankAndEvents(t);
    assert_int_equal(priv->frontIndex, 0);
    assert_int_equal(boPixel(priv->scanout[0], 505, 405), SHADOW_COLOR);
    assert_int_equal(boPixel(priv->scanout[1], 505, 405), SHADOW_COLOR);
}

static void
setMode(tearFreeScreen *t, int width, int height)
{
    DisplayModeRec mode = kmsFixtureMode(width, height);

    assert_true(qelCrtcSetModeMajor(t->kms->crtcPtrs[0], &mode, RR_Rotate_0, 0, 0));
}

/* Only the visible part is copied; the back buffer is owed the damage as
 * drawn, unclipped. Damage wholly outside copies nothing but still flips. */
static void
damage_outside_the_mode_is_not_copied(void **state)
{
    tearFreeScreen *t = *state;
    qelScreenPriv *priv = t->priv;
    BoxRec across = { 780, 0, 830, 10 };
    BoxRec outside = { 900, 650, 950, 700 };
    geOp ops[MAX_OPS];
    int submits;
    long flips;

    setMode(t, 800, 600);
    damageAdd(t, 780, 0, 50, 10);
    runPass(t);
    assert_int_equal(opsSinceClear(ops, &submits), 1);
    expectCopy(&ops[0], priv->shadow, priv->scanout[1], 780, 0, 20, 10);
    expectRegion(&priv->pendingRegion, 1, &across);
    vblankAndEvents(t);
    geLogClear();

    /* The part of the last damage that the mode hides is owed but never
     * copied either. */
    flips = flipsRequested();
    damageAdd(t, 900, 650, 50, 50);
    runPass(t);
    assert_int_equal(opsSinceClear(ops, &submits), 1);
    expectCopy(&ops[0], priv->shadow, priv->scanout[0], 780, 0, 20, 10);
    geLogClear();
    vblankAndEvents(t);

    damageAdd(t, 900, 650, 50, 50);
    runPass(t);
    assert_int_equal(opsSinceClear(ops, &submits), 0);
    assert_int_equal(flipsRequested(), flips + 2);
    assert_true(priv->flipPending);
    expectRegion(&priv->pendingRegion, 1, &outside);
}

/* A refused flip: the damage goes into the buffer on screen in the same
 * pass, the back buffer is owed it, and the next damage tries a flip again
 * with everything the back buffer lacks. */
static void
refused_flip_draws_into_the_front(void **state)
{
    tearFreeScreen *t = *state;
    qelScreenPriv *priv = t->priv;
    BoxRec owed[] = { { 0, 0, 10, 10 }, { 200, 100, 230, 110 } };
    geOp ops[MAX_OPS];
    int submits;

    damageAdd(t, 0, 0, 10, 10);
    runPass(t);
    vblankAndEvents(t);
    assert_int_equal(priv->frontIndex, 1);
    geLogClear();

    simCommandOk("fault flip 1");
    damageAdd(t, 200, 100, 30, 10);
    runPass(t);
    assert_int_equal(opsSinceClear(ops, &submits), 3);
    assert_int_equal(submits, 2);
    expectCopy(&ops[0], priv->shadow, priv->scanout[0], 0, 0, 10, 10);
    expectCopy(&ops[1], priv->shadow, priv->scanout[0], 200, 100, 30, 10);
    expectCopy(&ops[2], priv->shadow, priv->scanout[1], 200, 100, 30, 10);
    assert_false(priv->flipPending);
    assert_int_equal(priv->frontIndex, 1);
    expectRegion(&priv->pendingRegion, 2, owed);
    assert_false(RegionNotEmpty(DamageRegion(priv->damage)));
    assert_int_equal(boPixel(priv->scanout[1], 210, 105), SHADOW_COLOR);
    assert_int_equal(simCrtcField(0, "fb"), priv->scanout[1]->fbId);
    geLogClear();

    damageAdd(t, 600, 0, 5, 10);
    runPass(t);
    assert_int_equal(opsSinceClear(ops, &submits), 3);
    expectCopy(&ops[0], priv->shadow, priv->scanout[0], 0, 0, 10, 10);
    expectCopy(&ops[1], priv->shadow, priv->scanout[0], 600, 0, 5, 10);
    expectCopy(&ops[2], priv->shadow, priv->scanout[0], 200, 100, 30, 10);
    assert_true(priv->flipPending);
}

/* Region boxes hold 16 bits: a mode size beyond them keeps its low 16
 * bits in the visible box. */
static void
huge_mode_size_is_cut_to_16_bits(void **state)
{
    tearFreeScreen *t = *state;
    qelScreenPriv *priv = t->priv;
    geOp ops[MAX_OPS];
    int submits;

    priv->modeWidth = 65536 + 100;
    priv->modeHeight = 65536 + 50;
    damageAdd(t, 60, 10, 200, 100);
    runPass(t);
    assert_int_equal(opsSinceClear(ops, &submits), 1);
    expectCopy(&ops[0], priv->shadow, priv->scanout[1], 60, 10, 40, 40);
    vblankAndEvents(t);
    geLogClear();

    /* 40000 is negative in 16 bits: nothing is visible. */
    priv->modeWidth = 40000;
    priv->modeHeight = PANEL_HEIGHT;
    damageAdd(t, 0, 0, 10, 10);
    runPass(t);
    assert_int_equal(opsSinceClear(ops, &submits), 0);
    assert_true(priv->flipPending);
}

/* Asserts that the CRTC shows the buffer the driver calls the front, and
 * that it carries the colour drawn at (70, 70). */
static void
assertFrontShownWithPixel(qelScreenPriv *priv, uint32_t colour)
{
    uint32_t shownFb = (uint32_t) simCrtcField(0, "fb");
    const qelBo *front = priv->scanout[priv->frontIndex];

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
    DisplayModeRec mode = kmsFixtureMode(PANEL_WIDTH, PANEL_HEIGHT);

    boFill(priv->shadow, 64, 64, 16, 16, 0x00ff00ff);
    damageAdd(t, 64, 64, 16, 16);
    runPass(t);
    assert_true(priv->flipPending);

    qelResolvePendingFlip(priv);
    t->kms->scrn.vtSema = FALSE;
    assert_int_equal(priv->frontIndex, 1);
    simCommandOk("vblank 1");
    qelDrmEventHandler(priv->fd, X_NOTIFY_READ, NULL);

    t->kms->scrn.vtSema = TRUE;
    assert_true(qelCrtcSetModeMajor(t->kms->crtcPtrs[0], &mode, RR_Rotate_0, 0, 0));
    runPass(t);
    if (priv->flipPending)
        vblankAndEvents(t);
    assertFrontShownWithPixel(priv, 0x00ff00ff);
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
    uint32_t flipCrtcId = priv->flipCrtcId;

    boFill(priv->shadow, 64, 64, 16, 16, 0x00ff00ff);
    damageAdd(t, 64, 64, 16, 16);
    runPass(t);
    assert_true(priv->flipPending);

    priv->flipCrtcId = 0xdead;
    qelResolvePendingFlip(priv);
    priv->flipCrtcId = flipCrtcId;
    assert_int_equal(priv->frontIndex, 0);
    simCommandOk("vblank 1");
    qelDrmEventHandler(priv->fd, X_NOTIFY_READ, NULL);
    assert_int_equal(priv->frontIndex, 0);

    runPass(t);
    assert_true(priv->flipPending);
    vblankAndEvents(t);
    assertFrontShownWithPixel(priv, 0x00ff00ff);
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
        CYCLE(no_mode_yet_keeps_damage),
        CYCLE(empty_damage_starts_no_cycle),
        CYCLE(one_rectangle_is_one_copy_then_a_flip),
        CYCLE(second_cycle_adds_what_the_old_front_missed),
        CYCLE(damage_outside_the_mode_is_not_copied),
        CYCLE(refused_flip_draws_into_the_front),
        CYCLE(huge_mode_size_is_cut_to_16_bits),
        CYCLE(last_frame_is_shown_after_a_vt_switch_with_a_flip_pending),
        CYCLE(unshown_last_frame_is_presented_again),
        CYCLE(handler_chain_is_kept),
    };

    return cmocka_run_group_tests(tests, NULL, NULL);
}
