/* SPDX-License-Identifier: MIT */
/* Screen pre-initialisation on the simulated device: which device is
 * opened, the pixel format, the options, the mode list and the
 * sub-modules, and what each failure reports. */
#include <fcntl.h>
#include <setjmp.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <cmocka.h>

#include "screen_fixture.h"

#define TWO_NODES "[device]\nnodes = /dev/dri/card0 /dev/dri/card1\n" SIM_ONE_PANEL

static int
setUp(void **state)
{
    (void) state;
    fakeReset();
    simUse(SIM_ONE_PANEL);
    return 0;
}

static qelScreenPriv *
privOf(ScrnInfoPtr scrn)
{
    return scrn->driverPrivate;
}

static void
expectUsing(ScrnInfoPtr scrn, const char *path)
{
    char text[128];

    snprintf(text, sizeof(text), "Using DRM device %s (fd %d)\n", path, privOf(scrn)->fd);
    expectMessage(0, X_INFO, scrn->scrnIndex, text);
}

/* Runs PreInit on a new screen for the entity and checks which node it
 * opened, as its own descriptor. */
static void
expectOpens(int entity, const char *path)
{
    ScrnInfoPtr scrn = probeScreen(entity);
    qelScreenPriv *priv;

    assert_true(scrn->PreInit(scrn, 0));
    priv = privOf(scrn);
    assert_true(priv->fd >= 0);
    assert_true(priv->ownsFd);
    assert_string_equal(priv->devicePath, path);
    expectUsing(scrn, path);
    fakeMessagesClear();
}

/* ---- the choice of device ---- */

static void
server_managed_descriptor_is_used_and_never_closed(void **state)
{
    int serverFd = open("/dev/dri/card0", O_RDWR | O_CLOEXEC);
    ScrnInfoPtr scrn;
    qelScreenPriv *priv;

    (void) state;
    assert_true(serverFd >= 0);
    scrn = probeScreen(fakeEntityAddPlatform(deviceSectionWith("kmsdev", "/dev/dri/card1"),
                                             XF86_PDEV_SERVER_FD, "/dev/dri/card1", serverFd));
    assert_true(scrn->PreInit(scrn, 0));
    priv = privOf(scrn);
    assert_int_equal(priv->fd, serverFd);
    assert_false(priv->ownsFd);
    assert_null(priv->devicePath);
    expectUsing(scrn, "(server fd)");
    expectMessageCount(1);

    fakeScreenDelete(scrn);
    assert_true(fdIsOpen(serverFd));
    close(serverFd);
}

/* A server that could not open the device for us names it only in the
 * Device section; the device's own node path is not a fallback. */
static void
server_fd_flag_without_a_descriptor_opens_the_configured_node(void **state)
{
    (void) state;
    simUse(TWO_NODES);
    expectOpens(fakeEntityAddPlatform(NULL, XF86_PDEV_SERVER_FD, "/dev/dri/card1", -1),
                "/dev/dri/card0");
    expectOpens(fakeEntityAddPlatform(deviceSectionWith("kmsdev", "/dev/dri/card1"),
                                      XF86_PDEV_SERVER_FD, "/dev/dri/card0", -1),
                "/dev/dri/card1");
}

static void
platform_node_path_wins_over_the_device_section(void **state)
{
    (void) state;
    simUse(TWO_NODES);
    expectOpens(fakeEntityAddPlatform(deviceSectionWith("kmsdev", "/dev/dri/card0"), 0,
                                      "/dev/dri/card1", -1),
                "/dev/dri/card1");
}

static void
platform_device_without_a_path_uses_the_device_section(void **state)
{
    (void) state;
    simUse(TWO_NODES);
    expectOpens(fakeEntityAddPlatform(deviceSectionWith("kmsdev", "/dev/dri/card1"), 0, NULL,
                                      -1),
                "/dev/dri/card1");
    expectOpens(fakeEntityAddPlatform(deviceSectionWith("Accel", "off"), 0, NULL, -1),
                "/dev/dri/card0");
}

/* kmsdev is read from the Device section alone: the same option in the
 * Screen section does not choose the device. */
static void
other_bus_uses_kmsdev_or_the_default_node(void **state)
{
    (void) state;
    simUse(TWO_NODES);
    expectOpens(fakeEntityAddOther(deviceSectionWith("kmsdev", "/dev/dri/card1")),
                "/dev/dri/card1");
    expectOpens(fakeEntityAddOther(NULL), "/dev/dri/card0");
    fakeConfigSetScreenOptions(fakeOptionAdd(NULL, "kmsdev", "/dev/dri/card1"));
    expectOpens(fakeEntityAddOther(deviceSectionWith(NULL, NULL)), "/dev/dri/card0");
}

static void
missing_node_fails_with_the_reason(void **state)
{
    ScrnInfoPtr scrn =
        probeScreen(fakeEntityAddOther(deviceSectionWith("kmsdev", "/dev/dri/card7")));

    (void) state;
    assert_false(scrn->PreInit(scrn, 0));
    expectMessage(0, X_ERROR, scrn->scrnIndex,
                  "Failed to open DRM device /dev/dri/card7: No such file or directory\n");
    expectMessageCount(1);
    assert_int_equal(privOf(scrn)->fd, -1);
    assert_null(privOf(scrn)->devicePath);
}

/* ---- screens PreInit does not take ---- */

static void
two_entities_or_a_detect_probe_are_refused_silently(void **state)
{
    ScrnInfoPtr twoEntities = probeScreen(fakeEntityAddPlatform(NULL, 0, "/dev/dri/card0", -1));
    ScrnInfoPtr detect = probeScreen(fakeEntityAddPlatform(NULL, 0, "/dev/dri/card0", -1));

    (void) state;
    xf86AddEntityToScreen(twoEntities, fakeEntityAddOther(NULL));
    assert_false(twoEntities->PreInit(twoEntities, 0));
    assert_false(detect->PreInit(detect, PROBE_DETECT));
    assert_null(twoEntities->driverPrivate);
    assert_null(detect->driverPrivate);
    assert_int_equal(fakeCallCount("xf86GetEntityInfo"), 0);
    expectMessageCount(0);
}

/* ---- the private record ---- */

static void
record_the_screen_already_has_is_reused(void **state)
{
    ScrnInfoPtr scrn = probeScreen(fakeEntityAddPlatform(NULL, 0, "/dev/dri/card0", -1));
    qelScreenPriv *priv = qelScreenPrivCreate(scrn);

    (void) state;
    assert_true(scrn->PreInit(scrn, 0));
    assert_ptr_equal(scrn->driverPrivate, priv);
    assert_true(priv->fd >= 0);
}

/* ---- pixel format, options and sub-modules ---- */

static ScrnInfoPtr
preInitScreen(GDevPtr device, Bool expected)
{
    ScrnInfoPtr scrn = probeScreen(fakeEntityAddPlatform(device, 0, "/dev/dri/card0", -1));

    assert_int_equal(scrn->PreInit(scrn, 0), expected);
    return scrn;
}

static void
default_screen_is_depth_24_accelerated_with_modes(void **state)
{
    ScrnInfoPtr scrn = preInitScreen(NULL, TRUE);
    qelScreenPriv *priv = privOf(scrn);
    const fakeDepthBppCall *depth = fakeLastDepthBppCall();

    (void) state;
    assert_int_equal(depth->depth, 24);
    assert_int_equal(depth->bpp, 24);
    assert_int_equal(depth->fbbpp, 32);
    assert_int_equal(depth->flags, Support32bppFb | SupportConvert24to32 | PreferConvert24to32);
    assert_int_equal(scrn->depth, 24);
    assert_int_equal(scrn->bitsPerPixel, 32);
    assert_ptr_equal(scrn->monitor, scrn->confScreen->monitor);
    assert_true(scrn->progClock);
    assert_int_equal(scrn->rgbBits, 8);
    assert_non_null(scrn->modes);
    assert_ptr_equal(scrn->currentMode, scrn->modes);
    assert_int_equal(scrn->modes->HDisplay, 1024);
    assert_int_equal(scrn->modes->VDisplay, 768);
    assert_true(priv->accel);
    assert_true(priv->tearFree);
    assert_ptr_equal(priv->entity->device, NULL);
    assert_int_equal(priv->entity->index, scrn->entityList[0]);
    assert_int_equal(fakeCallCount("xf86LoadSubModule:fb"), 1);
    assert_int_equal(fakeCallCount("xf86LoadSubModule:exa"), 1);
    assert_int_equal(fakeCallCount("xf86SetDpi"), 1);
    expectMessageCount(1);
}

static void
depth_16_is_refused(void **state)
{
    ScrnInfoPtr scrn;

    (void) state;
    fakeConfigSetDepth(16);
    scrn = preInitScreen(NULL, FALSE);
    expectMessage(1, X_ERROR, scrn->scrnIndex, "Only depth 24 is supported (requested 16)\n");
    expectMessageCount(2);
    assert_int_equal(fakeCallCount("xf86CollectOptions"), 0);
}

/* The options are processed on a copy; the driver's table stays as built,
 * or a second screen would inherit the first one's settings. */
static void
options_are_read_from_a_private_copy(void **state)
{
    ScrnInfoPtr first;

    (void) state;
    first = preInitScreen(deviceSectionWith("Accel", "off"), TRUE);
    fakeConfigSetScreenOptions(fakeOptionAdd(NULL, "TearFree", "false"));
    ScrnInfoPtr second = preInitScreen(NULL, TRUE);

    assert_false(privOf(first)->accel);
    assert_true(privOf(first)->tearFree);
    assert_true(privOf(second)->accel);
    assert_false(privOf(second)->tearFree);
    assert_ptr_not_equal(privOf(first)->options, qelOptions);
    assert_ptr_not_equal(privOf(first)->options, privOf(second)->options);
    for (int i = 0; i < QEL_OPTION_COUNT; i++)
        assert_false(qelOptions[i].found);
}

static void
accel_off_loads_no_exa_and_says_nothing(void **state)
{
    ScrnInfoPtr scrn = preInitScreen(deviceSectionWith("Accel", "false"), TRUE);

    (void) state;
    assert_false(privOf(scrn)->accel);
    assert_true(privOf(scrn)->tearFree);
    assert_int_equal(fakeCallCount("xf86LoadSubModule:fb"), 1);
    assert_int_equal(fakeCallCount("xf86LoadSubModule:exa"), 0);
    expectMessageCount(1);
}

static void
missing_exa_turns_acceleration_off(void **state)
{
    ScrnInfoPtr scrn;

    (void) state;
    fakeFail("xf86LoadSubModule:exa", 0, -1);
    scrn = preInitScreen(NULL, TRUE);
    assert_false(privOf(scrn)->accel);
    assert_true(privOf(scrn)->tearFree);
    expectMessage(1, X_WARNING, scrn->scrnIndex,
                  "Could not load EXA module; disabling acceleration\n");
    expectMessageCount(2);
}

/* The server reports these failures itself; the driver adds nothing. */
static void
server_helpers_that_fail_stop_pre_init_quietly(void **state)
{
    const char *helpers[] = { "xf86SetDepthBpp", "xf86SetWeight", "xf86SetDefaultVisual",
                              "xf86SetGamma", "xf86LoadSubModule:fb" };

    (void) state;
    for (size_t i = 0; i < sizeof(helpers) / sizeof(helpers[0]); i++) {
        fakeFail(helpers[i], 0, 1);
        preInitScreen(NULL, FALSE);
        expectMessageCount(1);
        fakeReset();
    }
}

/* ---- modes ---- */

static void
no_usable_output_fails_with_no_valid_modes(void **state)
{
    ScrnInfoPtr scrn;

    (void) state;
    simUse("[crtc]\n[connector]\nstatus = disconnected\n");
    scrn = preInitScreen(NULL, FALSE);
    expectMessage(1, X_ERROR, scrn->scrnIndex, "No valid modes found\n");
    expectMessageCount(2);
    assert_int_equal(fakeCallCount("xf86LoadSubModule"), 0);
}

/* A device that is no KMS device fails discovery, which reports it; the
 * empty mode list is then not reported on top. */
static void
failing_discovery_is_not_reported_as_no_modes(void **state)
{
    ScrnInfoPtr scrn = probeScreen(fakeEntityAddOther(deviceSectionWith("kmsdev", "/dev/null")));
    const fakeMessage *message;

    (void) state;
    assert_false(scrn->PreInit(scrn, 0));
    expectMessageCount(2);
    message = fakeMessageAt(1);
    assert_int_equal(message->level, X_ERROR);
    assert_non_null(strstr(message->text, "drmModeGetResources failed: "));
    assert_int_equal(fakeMessageFind("No valid modes found\n"), -1);
}

static void
panel_without_modes_gets_the_fallback_mode(void **state)
{
    ScrnInfoPtr scrn;

    (void) state;
    simUse("[crtc]\n[connector]\ntype = DSI\nstatus = unknown\nmodes =\n");
    scrn = preInitScreen(NULL, TRUE);
    assert_int_equal(fakeModeListLength(scrn->modes), 1);
    assert_int_equal(scrn->modes->HDisplay, 800);
    assert_int_equal(scrn->modes->VDisplay, 480);
    assert_int_equal(scrn->modes->type, M_T_DRIVER | M_T_PREFERRED);
}

/* ---- failure and release ---- */

/* What a failed PreInit set up stays until the server deletes the screen,
 * and FreeScreen then releases it all. */
static void
failed_pre_init_leaves_the_device_to_free_screen(void **state)
{
    ScrnInfoPtr scrn;
    int fd;

    (void) state;
    fakeConfigSetDepth(16);
    scrn = preInitScreen(NULL, FALSE);
    fd = privOf(scrn)->fd;
    assert_true(fdIsOpen(fd));
    fakeScreenDelete(scrn);
    assert_false(fdIsOpen(fd));
}

int
main(void)
{
#define CASE(name) cmocka_unit_test_setup_teardown(name, setUp, resetFakeServer)
    const struct CMUnitTest tests[] = {
        CASE(server_managed_descriptor_is_used_and_never_closed),
        CASE(server_fd_flag_without_a_descriptor_opens_the_configured_node),
        CASE(platform_node_path_wins_over_the_device_section),
        CASE(platform_device_without_a_path_uses_the_device_section),
        CASE(other_bus_uses_kmsdev_or_the_default_node),
        CASE(missing_node_fails_with_the_reason),
        CASE(two_entities_or_a_detect_probe_are_refused_silently),
        CASE(record_the_screen_already_has_is_reused),
        CASE(default_screen_is_depth_24_accelerated_with_modes),
        CASE(depth_16_is_refused),
        CASE(options_are_read_from_a_private_copy),
        CASE(accel_off_loads_no_exa_and_says_nothing),
        CASE(missing_exa_turns_acceleration_off),
        CASE(server_helpers_that_fail_stop_pre_init_quietly),
        CASE(no_usable_output_fails_with_no_valid_modes),
        CASE(failing_discovery_is_not_reported_as_no_modes),
        CASE(panel_without_modes_gets_the_fallback_mode),
        CASE(failed_pre_init_leaves_the_device_to_free_screen),
    };

    return cmocka_run_group_tests(tests, NULL, NULL);
}
