/* SPDX-License-Identifier: MIT */
/* The CRTCs' vblank clocks on the simulated device: MSC waits complete at
 * their MSC, and the MSC never goes back, through a dark CRTC (the fake
 * clock), a VT switch with another master at work, and abort. */
#include <setjmp.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cmocka.h>
#include <X11/extensions/dpmsconst.h>
#include <xf86drm.h>
#include <xf86drmMode.h>

#include "kms_fixture.h"

#include <present.h>

static const char *panel =
    "[device]\nvblank = manual\n[crtc]\n[connector]\ntype = eDP\nmodes = 1024x768@60\n";

static int
litPanelSetUp(void **state)
{
    kmsFixture *fixture = kmsFixtureCreate(panel);
    xf86CrtcPtr crtc = fixture->crtcPtrs[0];

    kmsFixtureAddScanouts(fixture, 1024, 768, FALSE);
    fixture->priv->kms.vblank.notify = present_event_notify;
    fixture->priv->kms.vblank.fakeIntervalUs = 1000000;
    crtc->desiredMode = kmsFixtureMode(1024, 768);
    crtc->desiredRotation = RR_Rotate_0;
    assert_true(qelCrtcSetModeMajor(crtc, &crtc->desiredMode, RR_Rotate_0, 0, 0));
    fixture->scrn.vtSema = TRUE;
    *state = fixture;
    return 0;
}

static int
fixtureTearDown(void **state)
{
    kmsFixture *fixture = *state;

    qelVblankFree(&fixture->priv->kms);
    kmsFixtureDestroy(fixture);
    fakeReset();
    return 0;
}

static xf86CrtcPtr
panelCrtc(kmsFixture *fixture)
{
    return fixture->crtcPtrs[0];
}

static uint64_t
mscNow(kmsFixture *fixture)
{
    uint64_t ust, msc;

    qelVblankNow(panelCrtc(fixture), &ust, &msc);
    return msc;
}

/* Vblanks of the simulator, then the main loop's read of the events, as
 * it reads: when the descriptor is readable. */
static void
vblanksAndRead(kmsFixture *fixture, int count)
{
    struct pollfd pfd = { .fd = fixture->priv->fd, .events = POLLIN };
    char request[32];

    snprintf(request, sizeof(request), "vblank %d", count);
    simCommandOk(request);
    if (poll(&pfd, 1, 0) == 1)
        qelDrmEventHandler(fixture->priv->fd, X_NOTIFY_READ, &fixture->priv->kms);
}

static void
expectNotified(int index, uint64_t tag, uint64_t msc)
{
    const fakePresentNotify *n = fakePresentNotifyAt(index);

    assert_non_null(n);
    assert_int_equal(n->eventId, tag);
    assert_int_equal(n->msc, msc);
}

/* The MSC is the kernel's count; a wait completes at its MSC with the UST
 * of that vblank, one already passed at once. */
static void
waits_complete_at_their_msc(void **state)
{
    kmsFixture *fixture = *state;
    uint64_t start = mscNow(fixture), ust, msc;

    assert_int_equal(start, simCrtcField(0, "vblank"));
    assert_true(qelVblankQueue(panelCrtc(fixture), start + 2, 7));
    assert_true(qelVblankQueue(panelCrtc(fixture), start, 8));
    vblanksAndRead(fixture, 0);
    assert_int_equal(fakePresentNotifyCount(), 1);
    expectNotified(0, 8, start);

    vblanksAndRead(fixture, 1);
    assert_int_equal(fakePresentNotifyCount(), 1);
    vblanksAndRead(fixture, 1);
    assert_int_equal(fakePresentNotifyCount(), 2);
    expectNotified(1, 7, start + 2);
    qelVblankNow(panelCrtc(fixture), &ust, &msc);
    assert_int_equal(msc, start + 2);
    assert_int_equal(fakePresentNotifyAt(1)->ust, ust);
    assert_int_equal(fakeTimersArmed(), 0);
}

/* Dark, the panel counts on the fake clock once a second from its last
 * MSC; a wait the kernel ended early is timed by it, not delivered early.
 * Lit again, the MSC goes on past every count given out, and a wait still
 * pending returns to the kernel. */
static void
a_dark_crtc_keeps_counting_on_the_fake_clock(void **state)
{
    kmsFixture *fixture = *state;
    uint64_t start = mscNow(fixture), dark;

    assert_true(qelVblankQueue(panelCrtc(fixture), start + 2, 1));
    assert_true(qelVblankQueue(panelCrtc(fixture), start + 9, 2));
    qelCrtcDpms(panelCrtc(fixture), DPMSModeOff);
    vblanksAndRead(fixture, 0);
    assert_int_equal(fakePresentNotifyCount(), 0);

    fakeTimeAdvance(1999999);
    assert_int_equal(mscNow(fixture), start + 1);
    assert_int_equal(fakePresentNotifyCount(), 0);
    fakeTimeAdvance(1);
    qelVblankDeliverDue(&fixture->priv->kms);
    assert_int_equal(fakePresentNotifyCount(), 1);
    expectNotified(0, 1, start + 2);
    fakeTimeAdvance(1000000);
    dark = mscNow(fixture);
    assert_int_equal(dark, start + 3);

    qelCrtcDpms(panelCrtc(fixture), DPMSModeOn);
    assert_int_equal(mscNow(fixture), dark + 1);
    vblanksAndRead(fixture, 4);
    assert_int_equal(fakePresentNotifyCount(), 1);
    vblanksAndRead(fixture, 1);
    assert_int_equal(fakePresentNotifyCount(), 2);
    expectNotified(1, 2, start + 9);
    assert_int_equal(fakeTimersArmed(), 0);
}

/* While the VT is away another master switches the panel off and on again
 * behind the driver's back; back on the VT the MSC has not gone back and a
 * wait queued before the switch completes at its MSC. */
static void
a_vt_switch_keeps_the_msc_going_on(void **state)
{
    kmsFixture *fixture = *state;
    ScrnInfoPtr scrn = &fixture->scrn;
    uint64_t before = mscNow(fixture), away;
    drmModeCrtcPtr shown = drmModeGetCrtc(fixture->priv->fd, kmsFixtureCrtcId(fixture, 0));
    uint32_t connector = ((qelOutputPriv *) fixture->outputs[0].driver_private)->connectorId;
    int other;

    assert_non_null(shown);
    assert_true(qelVblankQueue(panelCrtc(fixture), before + 5, 3));
    qelLeaveVT(scrn);
    other = open("/dev/dri/card0", O_RDWR | O_CLOEXEC);
    assert_true(other >= 0);
    assert_int_equal(drmSetMaster(other), 0);
    assert_int_equal(drmModeSetCrtc(other, shown->crtc_id, 0, 0, 0, NULL, 0, NULL), 0);
    vblanksAndRead(fixture, 0);
    fakeTimeAdvance(3000000);
    away = mscNow(fixture);
    assert_true(away > before);
    assert_int_equal(drmModeSetCrtc(other, shown->crtc_id, shown->buffer_id, 0, 0, &connector, 1,
                                    &shown->mode),
                     0);
    assert_int_equal(drmDropMaster(other), 0);

    assert_true(qelEnterVT(scrn));
    assert_true(mscNow(fixture) > away);
    assert_int_equal(fakePresentNotifyCount(), 0);
    vblanksAndRead(fixture, 5);
    assert_int_equal(fakePresentNotifyCount(), 1);
    expectNotified(0, 3, before + 5);
    close(other);
    drmModeFreeCrtc(shown);
}

/* A wait given up, or given up with the rest at CloseScreen, is never
 * delivered; its kernel event, when it comes, is let go. */
static void
given_up_waits_are_never_delivered(void **state)
{
    kmsFixture *fixture = *state;
    uint64_t start = mscNow(fixture);

    assert_true(qelVblankQueue(panelCrtc(fixture), start + 1, 4));
    assert_true(qelVblankQueue(panelCrtc(fixture), start + 1, 5));
    qelVblankAbort(&fixture->priv->kms, 4);
    vblanksAndRead(fixture, 1);
    assert_int_equal(fakePresentNotifyCount(), 1);
    expectNotified(0, 5, start + 1);

    assert_true(qelVblankQueue(panelCrtc(fixture), start + 2, 6));
    qelCrtcDpms(panelCrtc(fixture), DPMSModeOff);
    vblanksAndRead(fixture, 0);
    assert_true(qelVblankQueue(panelCrtc(fixture), start + 3, 7));
    qelVblankAbortAll(&fixture->priv->kms);
    fakeTimeAdvance(10000000);
    qelCrtcDpms(panelCrtc(fixture), DPMSModeOn);
    vblanksAndRead(fixture, 3);
    assert_int_equal(fakePresentNotifyCount(), 1);
    assert_int_equal(fakeTimersArmed(), 0);
}

int
main(void)
{
    const struct CMUnitTest tests[] = {
        cmocka_unit_test_setup_teardown(waits_complete_at_their_msc, litPanelSetUp,
                                        fixtureTearDown),
        cmocka_unit_test_setup_teardown(a_dark_crtc_keeps_counting_on_the_fake_clock,
                                        litPanelSetUp, fixtureTearDown),
        cmocka_unit_test_setup_teardown(a_vt_switch_keeps_the_msc_going_on, litPanelSetUp,
                                        fixtureTearDown),
        cmocka_unit_test_setup_teardown(given_up_waits_are_never_delivered, litPanelSetUp,
                                        fixtureTearDown),
    };

    return cmocka_run_group_tests(tests, NULL, NULL);
}
