/* SPDX-License-Identifier: MIT */
/* The CRTC hooks on the simulated device: mode sets, DPMS and gamma. */
#include <errno.h>
#include <setjmp.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <cmocka.h>
#include <X11/extensions/dpmsconst.h>
#include <xf86drm.h>

#include "kms_fixture.h"

static const char *oneCrtc =
    "[device]\nvblank = manual\n[crtc]\ngamma_size = 256\n"
    "[connector]\ntype = eDP\nmodes = 1024x768@60 640x480@60\n";

static const char *twoCrtcs =
    "[device]\nvblank = manual\n[crtc]\n[crtc]\n"
    "[connector]\ntype = eDP\nmodes = 1024x768@60\n"
    "[connector]\ntype = HDMI-A\nmodes = 1024x768@60\n";

static int
oneCrtcSetUp(void **state)
{
    kmsFixture *fixture = kmsFixtureCreate(oneCrtc);

    kmsFixtureAddScanouts(fixture, 1024, 768, FALSE);
    *state = fixture;
    return 0;
}

static int
twoCrtcsSetUp(void **state)
{
    kmsFixture *fixture = kmsFixtureCreate(twoCrtcs);

    kmsFixtureAddScanouts(fixture, 1024, 768, FALSE);
    *state = fixture;
    return 0;
}

static int
tearFreeSetUp(void **state)
{
    kmsFixture *fixture = kmsFixtureCreate(twoCrtcs);

    kmsFixtureAddScanouts(fixture, 2048, 768, TRUE);
    *state = fixture;
    return 0;
}

static int
fixtureTearDown(void **state)
{
    kmsFixtureDestroy(*state);
    return 0;
}

static qelCrtcPriv *
crtcPriv(kmsFixture *fixture, int index)
{
    return fixture->crtcPtrs[index]->driver_private;
}

static void
expectCrtcShows(int index, uint32_t fbId, int x, int y, const char *size)
{
    char line[512];
    char expected[64];

    assert_int_equal(simCrtcField(index, "active"), 1);
    assert_int_equal(simCrtcField(index, "fb"), fbId);
    assert_int_equal(simCrtcField(index, "x"), x);
    assert_int_equal(simCrtcField(index, "y"), y);
    assert_true(simCrtcState(index, line, sizeof(line)));
    snprintf(expected, sizeof(expected), " mode=%s ", size);
    if (!strstr(line, expected))
        fail_msg("CRTC %d is not showing %s: %s", index, size, line);
}

/* ---- mode set ---- */

static void
mode_set_scans_out_the_front_buffer_and_records_the_mode(void **state)
{
    kmsFixture *fixture = *state;
    qelScreenPriv *priv = fixture->priv;
    xf86CrtcPtr crtc = fixture->crtcPtrs[0];
    DisplayModeRec mode = kmsFixtureMode(640, 480);
    char longName[] = "a-mode-name-of-forty-characters-exactly!";

    mode.name = longName;
    crtcPriv(fixture, 0)->dpmsOff = TRUE;
    assert_true(qelCrtcSetModeMajor(crtc, &mode, RR_Rotate_180, 16, 8));
    expectCrtcShows(0, priv->shadow->fbId, 16, 8, "640x480");
    assert_int_equal(crtc->mode.HDisplay, 640);
    assert_ptr_equal(crtc->mode.name, longName);
    assert_int_equal(crtc->rotation, RR_Rotate_180);
    assert_int_equal(crtc->x, 16);
    assert_int_equal(crtc->y, 8);
    assert_false(crtcPriv(fixture, 0)->dpmsOff);
    expectNoMessage();
}

/* DPMS on, AdjustFrame and resize hand the CRTC its own mode record. */
static void
mode_set_from_the_crtc_own_mode_keeps_it(void **state)
{
    kmsFixture *fixture = *state;
    xf86CrtcPtr crtc = fixture->crtcPtrs[0];
    DisplayModeRec mode = kmsFixtureMode(1024, 768);

    assert_true(qelCrtcSetModeMajor(crtc, &mode, RR_Rotate_0, 0, 0));
    assert_true(qelCrtcSetModeMajor(crtc, &crtc->mode, RR_Rotate_0, 0, 0));
    assert_memory_equal(&crtc->mode, &mode, sizeof(mode));
}

/* With TearFree, a CRTC whose own buffers cannot be allocated shows the
 * screen's buffer at its position instead, said once; its next mode set
 * tries again. */
static void
mode_set_without_buffers_of_its_own_shows_the_screen(void **state)
{
    kmsFixture *fixture = *state;
    qelScreenPriv *priv = fixture->priv;
    xf86CrtcPtr crtc = fixture->crtcPtrs[1];
    DisplayModeRec mode = kmsFixtureMode(640, 480);
    long buffers = simCounter("live_dumb_buffers");
    char text[160];

    simCommandOk("fault create_dumb_nth 2");
    assert_true(qelCrtcSetModeMajor(crtc, &mode, RR_Rotate_0, 1024, 8));
    expectCrtcShows(1, priv->shadow->fbId, 1024, 8, "640x480");
    assert_int_equal(simCounter("live_dumb_buffers"), buffers);
    snprintf(text, sizeof(text),
             "TearFree: no 640x480 scanout buffers for CRTC %u; it shows the screen without "
             "tear-freedom\n", kmsFixtureCrtcId(fixture, 1));
    expectOneMessage(X_WARNING, 0, text);
    assert_true(qelCrtcSetModeMajor(crtc, &mode, RR_Rotate_0, 1024, 8));
    expectNoMessage();

    assert_true(qelCrtcSetModeMajor(crtc, &mode, RR_Rotate_0, 1024, 0));
    expectCrtcShows(1, kmsFixtureFront(fixture, 1)->fbId, 0, 0, "640x480");
    assert_int_equal(simCounter("live_dumb_buffers"), buffers + 2);
    expectNoMessage();
}

static void
mode_set_refused_by_the_kernel_changes_nothing(void **state)
{
    kmsFixture *fixture = *state;
    qelScreenPriv *priv = fixture->priv;
    xf86CrtcPtr crtc = fixture->crtcPtrs[0];
    DisplayModeRec first = kmsFixtureMode(1024, 768);
    DisplayModeRec second = kmsFixtureMode(640, 480);

    assert_true(qelCrtcSetModeMajor(crtc, &first, RR_Rotate_0, 0, 0));
    crtcPriv(fixture, 0)->dpmsOff = TRUE;
    simCommandOk("fault setcrtc 1");
    assert_false(qelCrtcSetModeMajor(crtc, &second, RR_Rotate_90, 5, 5));
    expectOneFailure(X_ERROR, 0, "drmModeSetCrtc failed: ");
    assert_int_equal(crtc->mode.HDisplay, 1024);
    assert_int_equal(crtc->rotation, RR_Rotate_0);
    assert_int_equal(crtc->x, 0);
    assert_true(crtcPriv(fixture, 0)->dpmsOff);
    expectCrtcShows(0, priv->shadow->fbId, 0, 0, "1024x768");
}

/* The mode reaches the kernel with no connector, which refuses it as a
 * kernel does; a set that lights nothing leaves the DPMS state alone. */
static void
mode_set_without_outputs_passes_the_mode_alone(void **state)
{
    kmsFixture *fixture = *state;
    xf86CrtcPtr crtc = fixture->crtcPtrs[0];
    DisplayModeRec mode = kmsFixtureMode(640, 480);
    long calls = simCounter("setcrtc_calls");

    fixture->outputs[0].crtc = NULL;
    crtcPriv(fixture, 0)->dpmsOff = TRUE;
    assert_false(qelCrtcSetModeMajor(crtc, &mode, RR_Rotate_0, 0, 0));
    expectOneFailure(X_ERROR, 0, "drmModeSetCrtc failed: ");
    assert_int_equal(simCounter("setcrtc_calls"), calls + 1);
    assert_true(crtcPriv(fixture, 0)->dpmsOff);
    assert_int_equal(crtc->mode.HDisplay, 0);
}

/* Every output the server put on the CRTC is driven, in the server's order;
 * outputs on other CRTCs are not. */
static void
mode_set_drives_every_output_of_the_crtc(void **state)
{
    kmsFixture *fixture = *state;
    DisplayModeRec mode = kmsFixtureMode(1024, 768);
    char line[512];
    char expected[64];

    fixture->outputs[1].crtc = fixture->crtcPtrs[0];
    assert_true(qelCrtcSetModeMajor(fixture->crtcPtrs[0], &mode, RR_Rotate_0, 0, 0));
    assert_true(simCrtcState(0, line, sizeof(line)));
    snprintf(expected, sizeof(expected), " connectors=%u,%u ",
             fixture->resources->connectors[0], fixture->resources->connectors[1]);
    if (!strstr(line, expected))
        fail_msg("expected%sin: %s", expected, line);
    assert_int_equal(simCrtcField(1, "active"), 0);
}

/* With TearFree a completed flip whose event is still queued is taken in
 * first, so the mode set shows the buffer that is really in front. */
static void
mode_set_settles_a_pending_flip_first(void **state)
{
    kmsFixture *fixture = *state;
    xf86CrtcPtr crtc = fixture->crtcPtrs[0];
    DisplayModeRec mode = kmsFixtureMode(1024, 768);
    qelBo *back;

    assert_true(qelCrtcSetModeMajor(crtc, &mode, RR_Rotate_0, 0, 0));
    back = kmsFixtureBack(fixture, 0);
    kmsFixtureRequestFlip(fixture, 0);
    simCommandOk("vblank 1");

    assert_true(qelCrtcSetModeMajor(crtc, &mode, RR_Rotate_0, 0, 0));
    assert_false(kmsFixtureFlipCrtc(fixture, 0)->flipPending);
    assert_ptr_equal(kmsFixtureFront(fixture, 0), back);
    expectCrtcShows(0, back->fbId, 0, 0, "1024x768");
}

/* ---- DPMS, one CRTC ---- */

static void
dpms_switches_off_once_and_relights_the_stored_mode(void **state)
{
    kmsFixture *fixture = *state;
    qelScreenPriv *priv = fixture->priv;
    xf86CrtcPtr crtc = fixture->crtcPtrs[0];
    DisplayModeRec mode = kmsFixtureMode(640, 480);
    long calls;

    assert_true(qelCrtcSetModeMajor(crtc, &mode, RR_Rotate_90, 32, 16));

    calls = simCounter("setcrtc_calls");
    qelCrtcDpms(crtc, DPMSModeOn);
    assert_int_equal(simCounter("setcrtc_calls"), calls);

    qelCrtcDpms(crtc, DPMSModeStandby);
    assert_true(crtcPriv(fixture, 0)->dpmsOff);
    assert_int_equal(simCrtcField(0, "active"), 0);
    calls = simCounter("setcrtc_calls");
    qelCrtcDpms(crtc, DPMSModeSuspend);
    qelCrtcDpms(crtc, DPMSModeOff);
    assert_int_equal(simCounter("setcrtc_calls"), calls);

    qelCrtcDpms(crtc, DPMSModeOn);
    assert_false(crtcPriv(fixture, 0)->dpmsOff);
    expectCrtcShows(0, priv->shadow->fbId, 32, 16, "640x480");
    assert_int_equal(crtc->rotation, RR_Rotate_90);
    expectNoMessage();
    qelCrtcDpms(NULL, DPMSModeOff);
}

static void
dpms_off_refused_is_tried_again(void **state)
{
    kmsFixture *fixture = *state;
    xf86CrtcPtr crtc = fixture->crtcPtrs[0];
    DisplayModeRec mode = kmsFixtureMode(1024, 768);

    assert_true(qelCrtcSetModeMajor(crtc, &mode, RR_Rotate_0, 0, 0));
    simCommandOk("fault setcrtc 1");
    qelCrtcDpms(crtc, DPMSModeOff);
    assert_false(crtcPriv(fixture, 0)->dpmsOff);
    assert_int_equal(simCrtcField(0, "active"), 1);
    expectNoMessage();

    qelCrtcDpms(crtc, DPMSModeOff);
    assert_true(crtcPriv(fixture, 0)->dpmsOff);
    assert_int_equal(simCrtcField(0, "active"), 0);
}

static void
dpms_on_refused_is_tried_again(void **state)
{
    kmsFixture *fixture = *state;
    qelScreenPriv *priv = fixture->priv;
    xf86CrtcPtr crtc = fixture->crtcPtrs[0];
    DisplayModeRec mode = kmsFixtureMode(1024, 768);

    assert_true(qelCrtcSetModeMajor(crtc, &mode, RR_Rotate_0, 0, 0));
    qelCrtcDpms(crtc, DPMSModeOff);
    simCommandOk("fault setcrtc 1");
    qelCrtcDpms(crtc, DPMSModeOn);
    assert_true(crtcPriv(fixture, 0)->dpmsOff);
    assert_int_equal(fakeMessageCount(), 1);
    forgetMessages();

    qelCrtcDpms(crtc, DPMSModeOn);
    assert_false(crtcPriv(fixture, 0)->dpmsOff);
    expectCrtcShows(0, priv->shadow->fbId, 0, 0, "1024x768");
}

/* A RandR mode set while the screen is DPMS-off lights the CRTC; the next
 * DPMS on has nothing left to do. */
static void
mode_set_while_off_lights_the_crtc(void **state)
{
    kmsFixture *fixture = *state;
    xf86CrtcPtr crtc = fixture->crtcPtrs[0];
    DisplayModeRec mode = kmsFixtureMode(1024, 768);
    long calls;

    assert_true(qelCrtcSetModeMajor(crtc, &mode, RR_Rotate_0, 0, 0));
    qelCrtcDpms(crtc, DPMSModeOff);
    assert_true(qelCrtcSetModeMajor(crtc, &mode, RR_Rotate_0, 0, 0));
    assert_false(crtcPriv(fixture, 0)->dpmsOff);
    calls = simCounter("setcrtc_calls");
    qelCrtcDpms(crtc, DPMSModeOn);
    assert_int_equal(simCounter("setcrtc_calls"), calls);
    qelCrtcDpms(crtc, DPMSModeOff);
    assert_int_equal(simCrtcField(0, "active"), 0);
}

/* ---- DPMS, two CRTCs ---- */

/* The server's DPMS handler calls every lit CRTC in turn: each must go off
 * and come back, not only the first. */
static void
dpms_switches_every_lit_crtc(void **state)
{
    kmsFixture *fixture = *state;
    qelScreenPriv *priv = fixture->priv;
    DisplayModeRec mode = kmsFixtureMode(1024, 768);

    assert_int_equal(fixture->config.num_crtc, 2);
    assert_true(qelCrtcSetModeMajor(fixture->crtcPtrs[0], &mode, RR_Rotate_0, 0, 0));
    assert_true(qelCrtcSetModeMajor(fixture->crtcPtrs[1], &mode, RR_Rotate_0, 0, 0));

    for (int i = 0; i < 2; i++) {
        qelCrtcDpms(fixture->crtcPtrs[i], DPMSModeOff);
        qelCrtcDpms(fixture->crtcPtrs[i], DPMSModeOff);
    }
    assert_int_equal(simCrtcField(0, "active"), 0);
    assert_int_equal(simCrtcField(1, "active"), 0);

    for (int i = 0; i < 2; i++)
        qelCrtcDpms(fixture->crtcPtrs[i], DPMSModeOn);
    expectCrtcShows(0, priv->shadow->fbId, 0, 0, "1024x768");
    expectCrtcShows(1, priv->shadow->fbId, 0, 0, "1024x768");
}

/* Each CRTC is switched by itself. With TearFree one that is DPMS-off keeps
 * its own buffers for when it comes back, while the other goes on
 * presenting; one the server no longer uses (disabled) gives them up. */
static void
dpms_off_keeps_a_crtc_buffers_and_disabling_releases_them(void **state)
{
    kmsFixture *fixture = *state;
    xf86CrtcPtr panel = fixture->crtcPtrs[0];
    xf86CrtcPtr monitor = fixture->crtcPtrs[1];
    DisplayModeRec mode = kmsFixtureMode(1024, 768);
    long buffers;

    assert_true(qelCrtcSetModeMajor(panel, &mode, RR_Rotate_0, 0, 0));
    assert_true(qelCrtcSetModeMajor(monitor, &mode, RR_Rotate_0, 1024, 0));
    buffers = simCounter("live_dumb_buffers");

    qelCrtcDpms(monitor, DPMSModeOff);
    assert_int_equal(simCrtcField(0, "active"), 1);
    assert_int_equal(simCrtcField(1, "active"), 0);
    assert_true(kmsFixtureFlipCrtc(fixture, 0)->lit);
    assert_false(kmsFixtureFlipCrtc(fixture, 1)->lit);
    assert_int_equal(simCounter("live_dumb_buffers"), buffers);

    monitor->enabled = FALSE;
    qelCrtcDpms(monitor, DPMSModeOff);
    assert_int_equal(simCounter("live_dumb_buffers"), buffers - 2);

    monitor->enabled = TRUE;
    qelCrtcDpms(monitor, DPMSModeOn);
    expectCrtcShows(1, kmsFixtureFront(fixture, 1)->fbId, 0, 0, "1024x768");
    assert_true(kmsFixtureFlipCrtc(fixture, 1)->lit);
    assert_int_equal(simCounter("live_dumb_buffers"), buffers);
}

/* ---- gamma ---- */

static void
gamma_ramp_reaches_the_kernel_unchanged(void **state)
{
    kmsFixture *fixture = *state;
    CARD16 red[256], green[256], blue[256];
    uint16_t readRed[256], readGreen[256], readBlue[256];

    for (int i = 0; i < 256; i++) {
        red[i] = (CARD16) (i * 257);
        green[i] = (CARD16) (65535 - i * 257);
        blue[i] = (CARD16) (i * 13);
    }
    qelCrtcGammaSet(fixture->crtcPtrs[0], red, green, blue, 256);
    assert_int_equal(drmModeCrtcGetGamma(fixture->priv->fd, kmsFixtureCrtcId(fixture, 0), 256,
                                         readRed, readGreen, readBlue), 0);
    assert_memory_equal(readRed, red, sizeof(red));
    assert_memory_equal(readGreen, green, sizeof(green));
    assert_memory_equal(readBlue, blue, sizeof(blue));

    /* A ramp of the wrong size is refused by the kernel, silently. */
    qelCrtcGammaSet(fixture->crtcPtrs[0], red, green, blue, 7);
    expectNoMessage();
}

#define ONE(test) cmocka_unit_test_setup_teardown(test, oneCrtcSetUp, fixtureTearDown)
#define TWO(test) cmocka_unit_test_setup_teardown(test, twoCrtcsSetUp, fixtureTearDown)
#define TEARFREE(test) cmocka_unit_test_setup_teardown(test, tearFreeSetUp, fixtureTearDown)

int
main(void)
{
    const struct CMUnitTest tests[] = {
        ONE(mode_set_scans_out_the_front_buffer_and_records_the_mode),
        ONE(mode_set_from_the_crtc_own_mode_keeps_it),
        TEARFREE(mode_set_without_buffers_of_its_own_shows_the_screen),
        ONE(mode_set_refused_by_the_kernel_changes_nothing),
        ONE(mode_set_without_outputs_passes_the_mode_alone),
        TEARFREE(mode_set_settles_a_pending_flip_first),
        ONE(dpms_switches_off_once_and_relights_the_stored_mode),
        ONE(dpms_off_refused_is_tried_again),
        ONE(dpms_on_refused_is_tried_again),
        ONE(mode_set_while_off_lights_the_crtc),
        TWO(mode_set_drives_every_output_of_the_crtc),
        TWO(dpms_switches_every_lit_crtc),
        TEARFREE(dpms_off_keeps_a_crtc_buffers_and_disabling_releases_them),
        ONE(gamma_ramp_reaches_the_kernel_unchanged),
    };

    return cmocka_run_group_tests(tests, NULL, NULL);
}
