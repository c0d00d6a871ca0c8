/* SPDX-License-Identifier: MIT */
/* VT switching on the simulated device: DRM master and the restored modes. */
#include <setjmp.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

#include <cmocka.h>
#include <xf86drm.h>
#include <xf86drmMode.h>

#include "kms_fixture.h"

static const char *panel =
    "[device]\nvblank = manual\n[crtc]\n[connector]\ntype = eDP\nmodes = 1024x768@60\n";

/* A running screen: its one CRTC enabled with a desired mode at an offset. */
static int
runningScreenSetUp(void **state)
{
    kmsFixture *fixture = kmsFixtureCreate(panel);
    xf86CrtcPtr crtc = fixture->crtcPtrs[0];

    kmsFixtureAddScanouts(fixture, 1024, 768, FALSE);
    crtc->desiredMode = kmsFixtureMode(800, 600);
    crtc->desiredRotation = RR_Rotate_0;
    crtc->desiredX = 24;
    crtc->desiredY = 12;
    fixture->scrn.vtSema = TRUE;
    *state = fixture;
    return 0;
}

static int
fixtureTearDown(void **state)
{
    simCommandOk("fault master 0");
    kmsFixtureDestroy(*state);
    return 0;
}

static void
enter_vt_takes_master_and_restores_the_modes(void **state)
{
    kmsFixture *fixture = *state;
    ScrnInfoPtr scrn = &fixture->scrn;

    qelLeaveVT(scrn);
    assert_false(scrn->vtSema);
    assert_true(qelEnterVT(scrn));
    assert_true(scrn->vtSema);
    assert_int_equal(simCrtcField(0, "active"), 1);
    assert_int_equal(simCrtcField(0, "fb"), fixture->priv->shadow->fbId);
    assert_int_equal(simCrtcField(0, "x"), 24);
    assert_int_equal(simCrtcField(0, "y"), 12);
    assert_int_equal(fixture->crtcs[0].mode.HDisplay, 800);
    expectNoMessage();
}

/* Another process holds master: no mode may be set behind its back, yet
 * the server owns the VT again. */
static void
enter_vt_without_master_fails_and_sets_no_mode(void **state)
{
    kmsFixture *fixture = *state;
    ScrnInfoPtr scrn = &fixture->scrn;
    long calls;

    qelLeaveVT(scrn);
    simCommandOk("fault master 1");
    calls = simCounter("setcrtc_calls");
    assert_false(qelEnterVT(scrn));
    assert_true(scrn->vtSema);
    assert_int_equal(simCounter("setcrtc_calls"), calls);
    expectOneFailure(X_ERROR, 0, "drmSetMaster failed: ");
}

/* A descriptor handed over by the server is never used for master calls. */
static void
server_managed_descriptor_makes_no_master_call(void **state)
{
    kmsFixture *fixture = *state;
    ScrnInfoPtr scrn = &fixture->scrn;
    long setMaster = simIoctlCounter("SET_MASTER");
    long dropMaster = simIoctlCounter("DROP_MASTER");

    fixture->priv->kms.ownsFd = FALSE;
    qelLeaveVT(scrn);
    assert_true(qelEnterVT(scrn));
    assert_int_equal(simIoctlCounter("SET_MASTER"), setMaster);
    assert_int_equal(simIoctlCounter("DROP_MASTER"), dropMaster);
    expectNoMessage();

    /* Whatever setting the modes gives is the answer. */
    simCommandOk("fault setcrtc 1");
    assert_false(qelEnterVT(scrn));
    forgetMessages();
}

static void
enter_vt_passes_on_a_failed_mode_set(void **state)
{
    kmsFixture *fixture = *state;
    ScrnInfoPtr scrn = &fixture->scrn;

    qelLeaveVT(scrn);
    simCommandOk("fault setcrtc 1");
    assert_false(qelEnterVT(scrn));
    assert_true(scrn->vtSema);
    forgetMessages();
}

/* LeaveVT settles the flip before it gives up master; it leaves the CRTC
 * lit and the buffers alone. */
static void
leave_vt_settles_a_pending_flip(void **state)
{
    kmsFixture *fixture = *state;
    ScrnInfoPtr scrn = &fixture->scrn;
    qelScreenPriv *priv = fixture->priv;
    qelFlipCrtc *c;
    qelBo *back;
    qelBo *pair[2];

    kmsFixtureRemoveScanouts(fixture);
    kmsFixtureAddScanouts(fixture, 1024, 768, TRUE);
    assert_true(qelEnterVT(scrn));
    c = kmsFixtureFlipCrtc(fixture, 0);
    pair[0] = c->pair.scanout[0];
    pair[1] = c->pair.scanout[1];
    back = kmsFixtureBack(fixture, 0);
    kmsFixtureRequestFlip(fixture, 0);
    simCommandOk("vblank 1");

    qelLeaveVT(scrn);
    assert_false(c->flipPending);
    assert_ptr_equal(kmsFixtureFront(fixture, 0), back);
    assert_false(scrn->vtSema);
    assert_ptr_equal(c->pair.scanout[0], pair[0]);
    assert_ptr_equal(c->pair.scanout[1], pair[1]);
    assert_int_equal(simCrtcField(0, "active"), 1);
    assert_int_not_equal(drmModeSetCrtc(priv->fd, c->crtcId, 0, 0, 0, NULL, 0, NULL), 0);

    assert_true(qelEnterVT(scrn));
    assert_int_equal(simCrtcField(0, "fb"), back->fbId);
}

#define VT(test) cmocka_unit_test_setup_teardown(test, runningScreenSetUp, fixtureTearDown)

int
main(void)
{
    const struct CMUnitTest tests[] = {
        VT(enter_vt_takes_master_and_restores_the_modes),
        VT(enter_vt_without_master_fails_and_sets_no_mode),
        VT(server_managed_descriptor_makes_no_master_call),
        VT(enter_vt_passes_on_a_failed_mode_set),
        VT(leave_vt_settles_a_pending_flip),
    };

    return cmocka_run_group_tests(tests, NULL, NULL);
}
