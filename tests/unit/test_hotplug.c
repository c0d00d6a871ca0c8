/* SPDX-License-Identifier: MIT */
/* Output hotplug on the simulated device: what a change the kernel
 * announces does to the outputs, with the VT present and away, and a
 * screen that cannot have the watch on the device's uevents. */
#include <setjmp.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <cmocka.h>

#include "kms_fixture.h"
#include "screen_fixture.h"
#include "fake_screen.h"

/* A panel on the first CRTC and an HDMI connector with nothing plugged in. */
#define SIM_PANEL_AND_EMPTY_HDMI                                                          \
    "[crtc]\n[crtc]\n[connector]\ntype = eDP\ntype_id = 1\nmodes = 1024x768@60\n"          \
    "[connector]\ntype = HDMI-A\ntype_id = 1\nstatus = disconnected\n"                   \
    "modes = 1280x1024@60 1024x768@60\n"

static int
setUp(void **state)
{
    (void) state;
    fakeReset();
    simUse(SIM_PANEL_AND_EMPTY_HDMI);
    return 0;
}

static int
tearDown(void **state)
{
    (void) state;
    fakeReset();
    return 0;
}

/* The outputs discovered at PreInit, on a screen the server runs. */
static ScrnInfoPtr
runningScreen(void)
{
    ScrnInfoPtr scrn = screenWithDevice("/dev/dri/card0");

    assert_true(preInitKms(scrn));
    scrn->pScreen = fakeScreenCreate(scrn);
    scrn->vtSema = TRUE;
    fakeMessagesClear();
    return scrn;
}

static void
a_change_is_detected_at_once_and_logged(void **state)
{
    ScrnInfoPtr scrn = runningScreen();
    xf86OutputPtr hdmi = screenConfig(scrn)->output[1];
    xf86CrtcPtr panelCrtc = screenConfig(scrn)->output[0]->crtc;

    (void) state;
    simCommandOk("connector 1 connected");
    qelHotplugRedetect(scrn);
    assert_int_equal(fakeCallCount("RRGetInfo"), 1);
    assert_int_equal(hdmi->status, XF86OutputStatusConnected);
    assert_non_null(hdmi->probed_modes);
    assert_int_equal(hdmi->probed_modes->HDisplay, 1280);
    expectMessage(0, X_INFO, scrn->scrnIndex, "Hotplug: output HDMI-A-1 connected\n");
    expectMessageCount(1);

    /* The panel's display goes; its output keeps its CRTC. */
    simCommandOk("connector 0 disconnected");
    qelHotplugRedetect(scrn);
    assert_int_equal(screenConfig(scrn)->output[0]->status, XF86OutputStatusDisconnected);
    assert_ptr_equal(screenConfig(scrn)->output[0]->crtc, panelCrtc);
    expectMessage(1, X_INFO, scrn->scrnIndex, "Hotplug: output eDP-1 disconnected\n");
    expectMessageCount(2);
}

/* Another session owns the displays while the VT is away: nothing is
 * asked of the device then. When the VT comes back, the server's RandR
 * layer probes every output, and the change is there. */
static void
a_change_while_the_vt_is_away_is_seen_at_enter_vt(void **state)
{
    ScrnInfoPtr scrn = runningScreen();
    xf86OutputPtr hdmi = screenConfig(scrn)->output[1];
    long calls;

    (void) state;
    scrn->vtSema = FALSE;
    simCommandOk("connector 1 connected");
    calls = simIoctlCounter("MODE_GETCONNECTOR");
    qelHotplugRedetect(scrn);
    assert_int_equal(fakeCallCount("RRGetInfo"), 0);
    assert_int_equal(simIoctlCounter("MODE_GETCONNECTOR"), calls);
    assert_int_equal(hdmi->status, XF86OutputStatusDisconnected);

    scrn->vtSema = TRUE;
    RRGetInfo(scrn->pScreen, TRUE);
    assert_int_equal(hdmi->status, XF86OutputStatusConnected);
    assert_int_equal(hdmi->probed_modes->HDisplay, 1280);
}

/* Without the watch the screen works as it would without hotplug, and
 * says so; nothing of the udev monitor is left behind. */
static void
a_screen_without_the_watch_says_hotplug_is_off(void **state)
{
    ScrnInfoPtr scrn = runningScreen();

    (void) state;
    fakeFail("xf86AddGeneralHandler", 0, 1);
    assert_null(qelHotplugStart(scrn, qelScreenPrivFromScrn(scrn)->fd));
    expectMessage(0, X_WARNING, scrn->scrnIndex,
                  "Output hotplug is off: no udev monitor of the device's uevents (the main "
                  "loop refused its descriptor); outputs are detected again only when a "
                  "client asks\n");
    expectMessageCount(1);
    qelHotplugStop(NULL);

    qelHotplugStop(qelHotplugStart(scrn, qelScreenPrivFromScrn(scrn)->fd));
    expectMessageCount(1);
}

#define HOTPLUG(test) cmocka_unit_test_setup_teardown(test, setUp, tearDown)

int
main(void)
{
    const struct CMUnitTest tests[] = {
        HOTPLUG(a_change_is_detected_at_once_and_logged),
        HOTPLUG(a_change_while_the_vt_is_away_is_seen_at_enter_vt),
        HOTPLUG(a_screen_without_the_watch_says_hotplug_is_off),
    };

    return cmocka_run_group_tests(tests, NULL, NULL);
}
