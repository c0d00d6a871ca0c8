/* SPDX-License-Identifier: MIT */
/* Screen creation and teardown on the simulated device, driven the way the
 * server drives them: PreInit, ScreenInit, CreateScreenResources,
 * CloseScreen, and ScreenInit again for the next generation. What the
 * kernel holds is read back from the simulator's counters. */
#include <errno.h>
#include <fcntl.h>
#include <setjmp.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <cmocka.h>

#include "qelsim.h"
#include "screen_fixture.h"
#include "fake_screen.h"
#include "tearfree/present.h"

#include <xf86cmap.h>

/* ---- the simulator's view ---- */

static void
simAsk(const char *request, char *reply, size_t size)
{
    if (qelsim_command(request, reply, size) != 0)
        fail_msg("the simulator refused \"%s\": %s", request, reply);
}

/* The value of a counter of the simulator, or -1 when it lists none of
 * that name (counters of ioctls it has not seen yet are not listed). */
static long
simCounterOrMissing(const char *name)
{
    char reply[8192];
    char key[64];

    simAsk("counters", reply, sizeof(reply));
    snprintf(key, sizeof(key), "%s=", name);
    for (const char *found = strstr(reply, key); found; found = strstr(found + 1, key))
        if (found == reply || found[-1] == '\n')
            return strtol(found + strlen(key), NULL, 10);
    return -1;
}

static long
simCounterValue(const char *name)
{
    long value = simCounterOrMissing(name);

    if (value < 0)
        fail_msg("the simulator has no counter %s", name);
    return value;
}

static long
simIoctlCount(const char *name)
{
    char key[64];
    long value;

    snprintf(key, sizeof(key), "ioctl_%s", name);
    value = simCounterOrMissing(key);
    return value < 0 ? 0 : value;
}

static void
expectKernelBuffers(long buffers, long framebuffers)
{
    assert_int_equal(simCounterValue("live_dumb_buffers"), buffers);
    assert_int_equal(simCounterValue("live_framebuffers"), framebuffers);
}

static void
simMust(const char *request)
{
    if (!simRequest(request))
        fail_msg("the simulator refused \"%s\"", request);
}

/* ---- screens through the server's sequence ---- */

static int
setUp(void **state)
{
    (void) state;
    fakeScreenLayersReset();
    fakeReset();
    simUse(SIM_ONE_PANEL);
    return 0;
}

/* A ScreenInit that failed leaves its buffers to the server, which ends;
 * here they are released so that only real leaks remain. */
static void
releaseLeftoverBuffers(void)
{
    for (int i = 0; i < fakeScreenCount(); i++) {
        qelScreenPriv *priv = fakeScreenAt(i)->driverPrivate;

        if (!priv)
            continue;
        qelBoDestroy(priv->fd, priv->shadow);
        priv->shadow = NULL;
    }
}

static int
tearDown(void **state)
{
    (void) state;
    releaseLeftoverBuffers();
    fakeScreenLayersReset();
    fakeReset();
    return 0;
}

/* The server's initial configuration leaves each lit CRTC the screen's
 * first mode at the origin as its desired mode; the fake's stops short of
 * that. */
static void
desireFirstMode(ScrnInfoPtr scrn)
{
    xf86CrtcConfigPtr config = screenConfig(scrn);

    for (int i = 0; i < config->num_crtc; i++) {
        xf86CrtcPtr crtc = config->crtc[i];

        if (!crtc->enabled || crtc->desiredMode.HDisplay)
            continue;
        crtc->desiredMode = *scrn->modes;
        crtc->desiredRotation = RR_Rotate_0;
        crtc->desiredX = crtc->desiredY = 0;
    }
}

static ScrnInfoPtr
preInitOn(int entity)
{
    ScrnInfoPtr scrn = probeScreen(entity);

    assert_true(scrn->PreInit(scrn, 0));
    desireFirstMode(scrn);
    fakeMessagesClear();
    return scrn;
}

/* PreInit on the panel with at most one Device option. */
static ScrnInfoPtr
preInitWith(const char *option, const char *value)
{
    return preInitOn(fakeEntityAddPlatform(deviceSectionWith(option, value), 0,
                                           "/dev/dri/card0", -1));
}

static qelScreenPriv *
privOf(ScrnInfoPtr scrn)
{
    return scrn->driverPrivate;
}

/* Every screen says which cursor it uses; the simulated panel's CRTC has a
 * cursor plane. The message is taken out of the log here, so that the
 * tests see only what they are about. */
static ScreenPtr
screenInit(ScrnInfoPtr scrn)
{
    ScreenPtr screen = fakeScreenCreate(scrn);

    assert_true(scrn->ScreenInit(screen, 0, NULL));
    assert_true(fakeMessageTake("Using the hardware cursor (64x64)\n"));
    return screen;
}

static ScreenPtr
startScreen(ScrnInfoPtr scrn)
{
    ScreenPtr screen = screenInit(scrn);

    assert_true(screen->CreateScreenResources(screen));
    return screen;
}

/* The end of a generation: CloseScreen, then the record goes. */
static Bool
closeScreen(ScreenPtr screen)
{
    Bool closed = screen->CloseScreen(screen);

    fakeScreenFree(screen);
    return closed;
}

static void
expectNoBuffers(qelScreenPriv *priv)
{
    assert_null(priv->shadow);
    assert_true(!priv->present || !priv->present->crtcs);
}

/* The buffer the screen's one CRTC shows with TearFree. */
static qelBo *
crtcFront(qelScreenPriv *priv)
{
    qelFlipPair *pair = &priv->present->crtcs[0].pair;

    assert_non_null(pair->scanout[0]);
    return pair->scanout[pair->frontIndex];
}

static long
simCrtcFb(void)
{
    char reply[4096];
    const char *fb;

    simAsk("crtcs", reply, sizeof(reply));
    fb = strstr(reply, " fb=");
    assert_non_null(fb);
    return strtol(fb + 4, NULL, 10);
}

/* The cursor plane's state in the simulator's "crtcs" line of the first
 * CRTC: none, hidden or WxH@X,Y. */
static void
expectSimCursor(const char *state)
{
    char reply[4096];
    char expected[64];

    simAsk("crtcs", reply, sizeof(reply));
    snprintf(expected, sizeof(expected), " cursor=%s\n", state);
    if (!strstr(reply, expected))
        fail_msg("expected%s in %s", expected, reply);
}

/* ---- without acceleration ---- */

static void
expectDriverVisualMasks(ScreenPtr screen, ScrnInfoPtr scrn)
{
    int decomposed = 0;

    for (int i = 0; i < screen->numVisuals; i++) {
        VisualPtr visual = &screen->visuals[i];

        if ((visual->class | DynamicClass) != DirectColor)
            continue;
        decomposed++;
        assert_int_equal(visual->redMask, scrn->mask.red);
        assert_int_equal(visual->greenMask, scrn->mask.green);
        assert_int_equal(visual->blueMask, scrn->mask.blue);
        assert_int_equal(visual->offsetRed, scrn->offset.red);
        assert_int_equal(visual->offsetGreen, scrn->offset.green);
        assert_int_equal(visual->offsetBlue, scrn->offset.blue);
    }
    assert_int_equal(decomposed, 2);
}

static void
accel_off_renders_straight_into_the_scanout_buffer(void **state)
{
    ScrnInfoPtr scrn = preInitWith("Accel", "off");
    qelScreenPriv *priv = privOf(scrn);
    const fakeFbScreenArgs *fb;
    ScreenPtr screen;

    (void) state;
    assert_true(priv->tearFree);
    screen = screenInit(scrn);
    fb = fakeFbScreenInitArgs(screen);

    assert_false(priv->tearFree);
    assert_non_null(priv->shadow);
    assert_int_not_equal(priv->shadow->fbId, 0);
    expectKernelBuffers(1, 1);

    assert_ptr_equal(fb->pixels, priv->shadow->map);
    assert_int_equal(scrn->displayWidth, priv->shadow->pitch / 4);
    assert_int_equal(fb->displayWidth, scrn->displayWidth);
    assert_int_equal(fb->width, 1024);
    assert_int_equal(fb->height, 768);
    assert_int_equal(fb->bitsPerPixel, 32);
    expectDriverVisualMasks(screen, scrn);

    assert_null(priv->ge.exa);
    assert_int_equal(fakeCallCount("exaDriverInit"), 0);
    assert_true(scrn->vtSema);
    assert_ptr_equal(screen->CloseScreen, qelCloseScreen);
    assert_ptr_equal(screen->CreateScreenResources, qelCreateScreenResources);
    expectMessageCount(0);

    assert_true(screen->CreateScreenResources(screen));
    assert_ptr_equal(screen->CreateScreenResources, qelCreateScreenResources);
    assert_ptr_equal(screen->GetScreenPixmap(screen)->devPrivate.ptr, priv->shadow->map);
    assert_int_equal(simCrtcFb(), priv->shadow->fbId);
    /* Nothing of TearFree or the GE is armed; the descriptor is watched
     * all the same, for the vblank events of Present. */
    assert_ptr_equal(screen->BlockHandler, fakeBaseBlockHandler);
    assert_int_equal(fakeCallCount("DamageCreate"), 0);
    assert_int_equal(fakeCallCount("exaMoveInPixmap"), 0);
    assert_non_null(fakeNotifyFdFind(priv->fd));
    assert_ptr_equal(fakeNotifyFdFind(priv->fd)->notify, qelDrmEventHandler);
    assert_int_equal(fakeCallCount("present_screen_init"), 1);
    expectMessageCount(0);

    assert_true(closeScreen(screen));
    assert_null(fakeNotifyFdFind(priv->fd));
    assert_int_equal(fakeCallCount("fakeBaseCloseScreen"), 1);
    expectNoBuffers(priv);
    expectKernelBuffers(0, 0);
    assert_false(scrn->vtSema);
}

/* The helpers after fb get the colormap and DPMS set-up the driver asks
 * for; the unused options are reported in the first generation. */
static void
screen_init_hands_the_server_its_colormap_and_dpms_setup(void **state)
{
    ScrnInfoPtr scrn = preInitWith("Accel", "off");
    const fakeScreenHelperArgs *helpers = fakeScreenHelpers();

    (void) state;
    closeScreen(screenInit(scrn));

    assert_int_equal(helpers->colormapMaxColors, 256);
    assert_int_equal(helpers->colormapSignificantBits, 8);
    assert_null(helpers->colormapLoadPalette);
    assert_null(helpers->colormapSetOverscan);
    assert_int_equal(helpers->colormapFlags, CMAP_PALETTED_TRUECOLOR | CMAP_RELOAD_ON_MODE_SWITCH);
    assert_ptr_equal(helpers->dpmsSet, xf86DPMSSet);
    assert_int_equal(helpers->dpmsFlags, 0);
    assert_int_equal(fakeCallCount("miDCInitialize"), 1);
    assert_int_equal(fakeCallCount("xf86ShowUnusedOptions"), 1);
    assert_int_equal(helpers->unusedOptionsScrnIndex, scrn->scrnIndex);
    assert_ptr_equal(helpers->unusedOptions, scrn->options);
}

/* ---- with acceleration ---- */

/* The screen renders into a buffer nobody scans out; the CRTC's own pair
 * comes with its first mode set. */
static void
accel_and_tearfree_render_off_screen_and_give_the_crtc_a_pair(void **state)
{
    ScrnInfoPtr scrn = preInitWith(NULL, NULL);
    qelScreenPriv *priv = privOf(scrn);
    ScreenPtr screen;

    (void) state;
    screen = screenInit(scrn);

    assert_true(priv->tearFree);
    assert_non_null(priv->shadow);
    assert_int_equal(priv->shadow->fbId, 0);
    expectKernelBuffers(1, 0);
    assert_null(fakeFbScreenInitArgs(screen)->pixels);
    assert_non_null(priv->ge.exa);
    expectMessageCount(0);

    assert_true(screen->CreateScreenResources(screen));
    expectKernelBuffers(3, 2);
    assert_int_equal(simCrtcFb(), crtcFront(priv)->fbId);
    assert_ptr_equal(screen->BlockHandler, qelBlockHandler);
    expectMessageCount(0);

    assert_true(closeScreen(screen));
    expectNoBuffers(priv);
    assert_null(priv->ge.exa);
    assert_null(priv->ge.ops);
    expectKernelBuffers(0, 0);
}

static void
scanout_allocation_failure_fails_the_screen(void **state)
{
    ScrnInfoPtr scrn = preInitWith(NULL, NULL);
    ScreenPtr screen = fakeScreenCreate(scrn);

    (void) state;
    simMust("fault create_dumb 1");
    assert_false(scrn->ScreenInit(screen, 0, NULL));

    expectMessageCount(1);
    expectMessage(0, X_ERROR, scrn->scrnIndex, "Failed to allocate scanout buffer\n");
    assert_null(privOf(scrn)->shadow);
    assert_int_equal(fakeCallCount("fbScreenInit"), 0);
    expectKernelBuffers(0, 0);
}

/* Without the watch on the descriptor no flip or vblank event would ever
 * be read: the screen does not come up. */
static void
refused_descriptor_watch_fails_the_screen(void **state)
{
    ScrnInfoPtr scrn = preInitWith(NULL, NULL);
    ScreenPtr screen = fakeScreenCreate(scrn);

    (void) state;
    fakeFail("SetNotifyFd", 0, 1);
    assert_false(scrn->ScreenInit(screen, 0, NULL));
    assert_int_equal(fakeCallCount("fbScreenInit"), 0);
}

/* Present refusing the driver's hooks leaves the screen on the server's
 * own timing. */
static void
refused_present_hooks_are_a_warning(void **state)
{
    ScrnInfoPtr scrn = preInitWith(NULL, NULL);
    ScreenPtr screen;

    (void) state;
    fakeFail("present_screen_init", 0, 1);
    screen = screenInit(scrn);
    expectMessageCount(1);
    expectMessage(0, X_WARNING, scrn->scrnIndex,
                  "Present: the server refused the driver's vblank timing; it uses its own\n");
    assert_true(closeScreen(screen));
}

/* Creation 2 is the first buffer of the CRTC's pair, creation 3 the
 * second: either way the CRTC shows the screen's buffer itself. */
static void
expectCrtcShowsTheScreenWhenCreationFails(int creation)
{
    ScrnInfoPtr scrn = preInitWith(NULL, NULL);
    qelScreenPriv *priv = privOf(scrn);
    char fault[64];
    ScreenPtr screen;

    snprintf(fault, sizeof(fault), "fault create_dumb_nth %d", creation);
    simMust(fault);
    screen = screenInit(scrn);
    assert_true(screen->CreateScreenResources(screen));

    expectMessageCount(1);
    assert_int_equal(fakeMessageAt(0)->level, X_WARNING);
    assert_non_null(strstr(fakeMessageAt(0)->text, "no 1024x768 scanout buffers for CRTC"));
    assert_true(priv->tearFree);
    assert_int_equal(simCrtcFb(), priv->shadow->fbId);
    expectKernelBuffers(1, 1);
    assert_true(closeScreen(screen));
    expectKernelBuffers(0, 0);
}

static void
first_pair_buffer_failing_shows_the_screen_without_tearfree(void **state)
{
    (void) state;
    expectCrtcShowsTheScreenWhenCreationFails(2);
}

static void
second_pair_buffer_failing_shows_the_screen_without_tearfree(void **state)
{
    (void) state;
    expectCrtcShowsTheScreenWhenCreationFails(3);
}

/* ---- DRM master ---- */

static void
refused_master_is_a_warning_and_the_screen_comes_up(void **state)
{
    ScrnInfoPtr scrn = preInitWith("Accel", "off");
    char expected[128];
    ScreenPtr screen;

    (void) state;
    simMust("fault master 1");
    screen = screenInit(scrn);

    snprintf(expected, sizeof(expected), "drmSetMaster failed: %s\n", strerror(EBUSY));
    expectMessageCount(1);
    expectMessage(0, X_WARNING, scrn->scrnIndex, expected);
    assert_true(scrn->vtSema);

    /* Without master the kernel refuses the mode (the CRTC says why); the
     * screen still runs. */
    assert_true(screen->CreateScreenResources(screen));
    expectMessageCount(3);
    assert_int_equal(strncmp(fakeMessageAt(1)->text, "drmModeSetCrtc failed: ", 23), 0);
    expectMessage(2, X_WARNING, scrn->scrnIndex, "Failed to set the initial mode\n");
    assert_true(closeScreen(screen));
    expectKernelBuffers(0, 0);
}

static void
server_managed_descriptor_gets_no_master_calls(void **state)
{
    int serverFd = open("/dev/dri/card0", O_RDWR | O_CLOEXEC);
    ScrnInfoPtr scrn;
    ScreenPtr screen;
    long setMaster, dropMaster;

    (void) state;
    assert_true(serverFd >= 0);
    scrn = preInitOn(fakeEntityAddPlatform(NULL, XF86_PDEV_SERVER_FD, "/dev/dri/card0",
                                           serverFd));
    assert_false(privOf(scrn)->ownsFd);
    setMaster = simIoctlCount("SET_MASTER");
    dropMaster = simIoctlCount("DROP_MASTER");

    screen = startScreen(scrn);
    assert_true(closeScreen(screen));

    assert_int_equal(simIoctlCount("SET_MASTER"), setMaster);
    assert_int_equal(simIoctlCount("DROP_MASTER"), dropMaster);
    expectMessageCount(0);
    expectKernelBuffers(0, 0);
    fakeReset();
    assert_true(fdIsOpen(serverFd));
    close(serverFd);
}

/* ---- the wrapped procedures ---- */

static void
wrapped_procedures_pass_their_results_on(void **state)
{
    ScrnInfoPtr scrn = preInitWith("Accel", "off");
    ScreenPtr screen = screenInit(scrn);
    qelScreenPriv *priv = privOf(scrn);

    (void) state;
    fakeFail("fakeBaseCreateScreenResources", 0, 1);
    assert_false(screen->CreateScreenResources(screen));
    assert_ptr_equal(screen->CreateScreenResources, qelCreateScreenResources);
    assert_true(screen->CreateScreenResources(screen));

    /* A failing close below still ends the driver's generation. */
    fakeFail("fakeBaseCloseScreen", 0, 1);
    assert_false(closeScreen(screen));
    expectNoBuffers(priv);
    expectKernelBuffers(0, 0);
}

/* ---- the hardware cursor ---- */

/* The cursor's image lives in a buffer of the CRTC's; CloseScreen takes
 * the cursor off the display while the driver is still master, and the
 * buffer and the server's cursor record go with the screen. */
static void
cursor_buffers_go_with_the_screen_after_the_cursor_is_hidden(void **state)
{
    ScrnInfoPtr scrn = preInitWith(NULL, NULL);
    ScreenPtr screen = startScreen(scrn);
    xf86CrtcPtr crtc = XF86_CRTC_CONFIG_PTR(scrn)->crtc[0];
    CARD32 *image = calloc(64 * 64, sizeof(*image));

    (void) state;
    assert_non_null(image);
    assert_int_equal(fakeCallCount("xf86_cursors_init"), 1);
    image[0] = 0xff00ff00;
    assert_true(crtc->funcs->load_cursor_argb_check(crtc, image));
    assert_true(crtc->funcs->show_cursor_check(crtc));
    crtc->cursor_shown = TRUE;
    crtc->funcs->set_cursor_position(crtc, 10, -20);
    expectSimCursor("64x64@10,-20");
    expectKernelBuffers(4, 2);
    free(image);

    assert_true(closeScreen(screen));
    expectSimCursor("hidden");
    assert_int_equal(fakeCallCount("xf86_cursors_fini"), 1);
    assert_null(XF86_CRTC_CONFIG_PTR(scrn)->cursor_info);
    expectKernelBuffers(0, 0);
    expectMessageCount(0);
}

/* ---- server generations ---- */

static void
second_generation_starts_afresh_on_the_same_record(void **state)
{
    ScrnInfoPtr scrn = preInitWith(NULL, NULL);
    qelScreenPriv *priv = privOf(scrn);
    ScreenPtr screen = startScreen(scrn);
    qelBo *firstShadow = priv->shadow;
    int pitch = 0;
    void *screenPixmapPriv;

    (void) state;
    /* EXA makes the screen pixmap without pixels and gives it the
     * screen's size: it takes the shadow. */
    screenPixmapPriv = priv->ge.exa->CreatePixmap2(screen, 0, 0, 24, 0, 32, &pitch);
    assert_non_null(screenPixmapPriv);
    fakeExaSetPixmapPriv(screen->GetScreenPixmap(screen), screenPixmapPriv);
    assert_true(priv->ge.exa->ModifyPixmapHeader(screen->GetScreenPixmap(screen), scrn->virtualX,
                                              scrn->virtualY, 24, 32, 0, NULL));
    assert_true(priv->ge.screenBoClaimed);
    fakeExaSetPixmapPriv(screen->GetScreenPixmap(screen), NULL);
    priv->ge.exa->DestroyPixmap(screen, screenPixmapPriv);
    assert_ptr_equal(priv->shadow, firstShadow);
    assert_true(closeScreen(screen));
    expectKernelBuffers(0, 0);

    serverGeneration = 2;
    screen = startScreen(scrn);
    assert_false(priv->ge.screenBoClaimed);
    assert_true(priv->tearFree);
    assert_non_null(priv->shadow);
    expectKernelBuffers(3, 2);
    assert_int_equal(fakeCallCount("xf86ShowUnusedOptions"), 1);
    assert_true(closeScreen(screen));
    expectKernelBuffers(0, 0);
    expectMessageCount(0);
}

int
main(void)
{
    const struct CMUnitTest tests[] = {
        cmocka_unit_test_setup_teardown(accel_off_renders_straight_into_the_scanout_buffer,
                                        setUp, tearDown),
        cmocka_unit_test_setup_teardown(screen_init_hands_the_server_its_colormap_and_dpms_setup,
                                        setUp, tearDown),
        cmocka_unit_test_setup_teardown(
            accel_and_tearfree_render_off_screen_and_give_the_crtc_a_pair, setUp, tearDown),
        cmocka_unit_test_setup_teardown(refused_descriptor_watch_fails_the_screen, setUp,
                                        tearDown),
        cmocka_unit_test_setup_teardown(refused_present_hooks_are_a_warning, setUp, tearDown),
        cmocka_unit_test_setup_teardown(scanout_allocation_failure_fails_the_screen, setUp,
                                        tearDown),
        cmocka_unit_test_setup_teardown(
            first_pair_buffer_failing_shows_the_screen_without_tearfree, setUp, tearDown),
        cmocka_unit_test_setup_teardown(
            second_pair_buffer_failing_shows_the_screen_without_tearfree, setUp, tearDown),
        cmocka_unit_test_setup_teardown(refused_master_is_a_warning_and_the_screen_comes_up,
                                        setUp, tearDown),
        cmocka_unit_test_setup_teardown(server_managed_descriptor_gets_no_master_calls, setUp,
                                        tearDown),
        cmocka_unit_test_setup_teardown(wrapped_procedures_pass_their_results_on, setUp,
                                        tearDown),
        cmocka_unit_test_setup_teardown(
            cursor_buffers_go_with_the_screen_after_the_cursor_is_hidden, setUp, tearDown),
        cmocka_unit_test_setup_teardown(second_generation_starts_afresh_on_the_same_record,
                                        setUp, tearDown),
    };

    return cmocka_run_group_tests(tests, NULL, NULL);
}
