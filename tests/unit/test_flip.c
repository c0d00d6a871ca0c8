/* SPDX-License-Identifier: MIT */
/* Settling a pending page flip on the simulated device, whose vblank clock
 * the tests advance by hand. */
#include <poll.h>
#include <setjmp.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

#include <cmocka.h>
#include <xf86drm.h>
#include <xf86drmMode.h>

#include "kms_fixture.h"
#include "tearfree/tearfree.h"

static const char *manualVblank =
    "[device]\nvblank = manual\n[crtc]\n[connector]\ntype = eDP\nmodes = 1024x768@60\n";

/* The CRTC's pair exists, scanout[0] is shown, and a flip to scanout[1] has
 * been requested. */
static int
flipRequestedSetUp(void **state)
{
    kmsFixture *fixture = kmsFixtureCreate(manualVblank);
    DisplayModeRec mode = kmsFixtureMode(1024, 768);

    kmsFixtureAddScanouts(fixture, 1024, 768, TRUE);
    assert_true(qelCrtcSetModeMajor(fixture->crtcPtrs[0], &mode, RR_Rotate_0, 0, 0));
    kmsFixtureRequestFlip(fixture, 0);
    *state = fixture;
    return 0;
}

static qelFlipCrtc *
flipCrtc(kmsFixture *fixture)
{
    return kmsFixtureFlipCrtc(fixture, 0);
}

static void
settle(kmsFixture *fixture)
{
    qelPresentSettleCrtc(fixture->priv->present, flipCrtc(fixture)->crtcId);
}

static int
fixtureTearDown(void **state)
{
    kmsFixture *fixture = *state;

    /* Let the kernel finish the flip so that no buffer is still queued. */
    simCommandOk("vblank 2");
    kmsFixtureDestroy(fixture);
    return 0;
}

/* Hands the queued events to the driver; fails instead of blocking when the
 * kernel has queued none. */
static void
deliverEvents(qelScreenPriv *priv)
{
    struct pollfd pfd = { .fd = priv->fd, .events = POLLIN };

    assert_int_equal(poll(&pfd, 1, 5000), 1);
    qelDrmEventHandler(priv->fd, X_NOTIFY_READ, NULL);
}

static long
crtcQueries(void)
{
    return simIoctlCounter("GETCRTC");
}

static void
queued_event_is_taken_without_asking_the_kernel(void **state)
{
    kmsFixture *fixture = *state;
    long queries;

    simCommandOk("vblank 1");
    queries = crtcQueries();
    settle(fixture);
    assert_false(flipCrtc(fixture)->flipPending);
    assert_int_equal(flipCrtc(fixture)->pair.frontIndex, 1);
    assert_int_equal(crtcQueries(), queries);
}

/* The flip is still queued in the kernel, but the kernel's CRTC state names
 * its framebuffer from the moment it accepted the flip: resolution takes the
 * back buffer as the front, and the event that comes later changes nothing. */
static void
accepted_flip_counts_as_shown_before_its_vblank(void **state)
{
    kmsFixture *fixture = *state;
    qelScreenPriv *priv = fixture->priv;

    settle(fixture);
    assert_false(flipCrtc(fixture)->flipPending);
    assert_int_equal(flipCrtc(fixture)->pair.frontIndex, 1);

    simCommandOk("vblank 1");
    deliverEvents(priv);
    assert_false(flipCrtc(fixture)->flipPending);
    assert_int_equal(flipCrtc(fixture)->pair.frontIndex, 1);
}

/* A flip the driver believes pending while the CRTC names the front buffer
 * (another master set the CRTC meanwhile, or the flip never reached it):
 * the front stays. */
static void
crtc_naming_the_front_keeps_it(void **state)
{
    kmsFixture *fixture = *state;
    qelScreenPriv *priv = fixture->priv;

    simCommandOk("vblank 1");
    deliverEvents(priv);
    assert_int_equal(flipCrtc(fixture)->pair.frontIndex, 1);

    flipCrtc(fixture)->flipPending = TRUE;
    settle(fixture);
    assert_false(flipCrtc(fixture)->flipPending);
    assert_int_equal(flipCrtc(fixture)->pair.frontIndex, 1);
}

/* The CRTC already shows the back buffer but no event is readable: the
 * kernel's state decides. */
static void
flip_applied_without_event_moves_the_front(void **state)
{
    kmsFixture *fixture = *state;
    qelScreenPriv *priv = fixture->priv;
    drmModeModeInfo info;
    uint32_t connectorId = fixture->resources->connectors[0];

    simCommandOk("vblank 1");
    deliverEvents(priv);
    assert_int_equal(flipCrtc(fixture)->pair.frontIndex, 1);

    qelModeToDrm(&fixture->crtcs[0].mode, &info);
    flipCrtc(fixture)->flipPending = TRUE;
    assert_int_equal(drmModeSetCrtc(priv->fd, flipCrtc(fixture)->crtcId,
                                    flipCrtc(fixture)->pair.scanout[0]->fbId, 0, 0, &connectorId,
                                    1, &info), 0);
    settle(fixture);
    assert_false(flipCrtc(fixture)->flipPending);
    assert_int_equal(flipCrtc(fixture)->pair.frontIndex, 0);
}

static void
failed_crtc_query_keeps_the_front(void **state)
{
    kmsFixture *fixture = *state;
    qelFlipCrtc *c = flipCrtc(fixture);
    uint32_t crtcId = c->crtcId;
    long queries;

    c->crtcId = 0xdead;
    queries = crtcQueries();
    qelPresentSettleCrtc(fixture->priv->present, 0xdead);
    assert_int_equal(crtcQueries(), queries + 1);
    c->crtcId = crtcId;
    assert_false(flipCrtc(fixture)->flipPending);
    assert_int_equal(flipCrtc(fixture)->pair.frontIndex, 0);
}

static void
nothing_pending_asks_nothing(void **state)
{
    kmsFixture *fixture = *state;
    long queries = crtcQueries();

    flipCrtc(fixture)->flipPending = FALSE;
    settle(fixture);
    assert_int_equal(crtcQueries(), queries);
    assert_int_equal(flipCrtc(fixture)->pair.frontIndex, 0);
}

#define FLIP(test) cmocka_unit_test_setup_teardown(test, flipRequestedSetUp, fixtureTearDown)

int
main(void)
{
    const struct CMUnitTest tests[] = {
        FLIP(queued_event_is_taken_without_asking_the_kernel),
        FLIP(accepted_flip_counts_as_shown_before_its_vblank),
        FLIP(crtc_naming_the_front_keeps_it),
        FLIP(flip_applied_without_event_moves_the_front),
        FLIP(failed_crtc_query_keeps_the_front),
        FLIP(nothing_pending_asks_nothing),
    };

    return cmocka_run_group_tests(tests, NULL, NULL);
}
