/* SPDX-License-Identifier: MIT */
/* Discovery of CRTCs and outputs on simulated devices of several shapes:
 * objects in the kernel's order, output names and CRTC masks, the size
 * range, and the objects that cannot be made. */
#include <setjmp.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <cmocka.h>
#include <fcntl.h>
#include <unistd.h>
#include "qelsim.h"
#include <xf86drmMode.h>

#include "screen_fixture.h"

/* A device description with the CRTCs and connectors given, each connector
 * a connected panel of the given type. */
static char *
describeDevice(const char *device, int crtcs, const char *const *connectorTypes,
               int connectors)
{
    size_t size = 256 + (size_t) crtcs * 8 + (size_t) connectors * 128;
    char *text = calloc(1, size);
    size_t used;

    assert_non_null(text);
    used = (size_t) snprintf(text, size, "[device]\n%s\n", device ? device : "");
    for (int i = 0; i < crtcs; i++)
        used += (size_t) snprintf(text + used, size - used, "[crtc]\n");
    for (int i = 0; i < connectors; i++)
        used += (size_t) snprintf(text + used, size - used,
                                  "[connector]\ntype = %s\ntype_id = %d\nmodes = 640x480@60\n",
                                  connectorTypes[i], i + 1);
    return text;
}

static ScrnInfoPtr
discover(const char *description)
{
    ScrnInfoPtr scrn;

    simUse(description);
    scrn = screenWithDevice("/dev/dri/card0");
    assert_true(preInitKms(scrn));
    return scrn;
}

static drmModeResPtr
kernelResources(ScrnInfoPtr scrn)
{
    drmModeResPtr resources = drmModeGetResources(((qelScreenPriv *) scrn->driverPrivate)->fd);

    assert_non_null(resources);
    return resources;
}

/* ---- CRTCs ---- */

static void
expectCrtcsAndMask(int crtcCount, uint32_t mask)
{
    static const char *const types[] = { "eDP", "HDMI-A" };
    char *description = describeDevice(NULL, crtcCount, types, 2);
    ScrnInfoPtr scrn = discover(description);
    xf86CrtcConfigPtr config = screenConfig(scrn);
    drmModeResPtr resources = kernelResources(scrn);

    assert_int_equal(resources->count_crtcs, crtcCount);
    assert_int_equal(config->num_crtc, crtcCount);
    for (int i = 0; i < crtcCount; i++) {
        qelCrtcPriv *crtcPriv = config->crtc[i]->driver_private;

        assert_ptr_equal(config->crtc[i]->funcs->set_mode_major, qelCrtcSetModeMajor);
        assert_ptr_equal(crtcPriv->kms, &qelScreenPrivFromScrn(scrn)->kms);
        assert_int_equal(crtcPriv->crtcId, resources->crtcs[i]);
    }
    assert_int_equal(config->num_output, 2);
    for (int i = 0; i < config->num_output; i++)
        assert_int_equal(config->output[i]->possible_crtcs, mask);
    drmModeFreeResources(resources);
    free(description);
    fakeReset();
}

static void
every_output_may_use_every_crtc(void **state)
{
    (void) state;
    expectCrtcsAndMask(1, 0x1);
    expectCrtcsAndMask(3, 0x7);
    expectCrtcsAndMask(31, 0x7fffffff);
    expectCrtcsAndMask(32, 0xffffffff);
    expectCrtcsAndMask(33, 0xffffffff);
}

static void
device_without_crtcs_has_outputs_without_crtcs(void **state)
{
    static const char *const types[] = { "eDP" };
    char *description = describeDevice(NULL, 0, types, 1);
    ScrnInfoPtr scrn;
    drmModeResPtr resources;

    (void) state;
    simUse(description);
    scrn = screenWithDevice("/dev/dri/card0");
    resources = kernelResources(scrn);
    assert_int_equal(resources->count_crtcs, 0);
    drmModeFreeResources(resources);
    assert_true(preInitKms(scrn));
    assert_int_equal(screenConfig(scrn)->num_crtc, 0);
    assert_int_equal(screenConfig(scrn)->output[0]->possible_crtcs, 0);
    free(description);
}

/* A CRTC the server could not make an object for is skipped; the masks
 * still count every CRTC of the device. */
static void
crtc_the_server_cannot_make_is_skipped(void **state)
{
    static const char *const types[] = { "eDP" };
    char *description = describeDevice(NULL, 3, types, 1);
    ScrnInfoPtr scrn;
    xf86CrtcConfigPtr config;
    drmModeResPtr resources;

    (void) state;
    fakeFail("xf86CrtcCreate", 0, 1);
    scrn = discover(description);
    config = screenConfig(scrn);
    resources = kernelResources(scrn);
    assert_int_equal(config->num_crtc, 2);
    assert_int_equal(((qelCrtcPriv *) config->crtc[0]->driver_private)->crtcId,
                     resources->crtcs[1]);
    assert_int_equal(config->output[0]->possible_crtcs, 0x7);
    expectMessageCount(0);
    drmModeFreeResources(resources);
    free(description);
}

/* ---- outputs ---- */

static void
outputs_follow_the_kernel_order_with_their_names(void **state)
{
    static const char *const types[] = { "HDMI-A", "eDP", "DSI", "99" };
    static const char *const names[] = { "HDMI-A-1", "eDP-2", "DSI-3", "Output-4" };
    char *description = describeDevice(NULL, 1, types, 4);
    ScrnInfoPtr scrn = discover(description);
    xf86CrtcConfigPtr config = screenConfig(scrn);
    drmModeResPtr resources = kernelResources(scrn);

    (void) state;
    assert_int_equal(config->num_output, 4);
    for (int i = 0; i < 4; i++) {
        xf86OutputPtr output = config->output[i];
        qelOutputPriv *outputPriv = output->driver_private;

        assert_string_equal(output->name, names[i]);
        assert_ptr_equal(output->funcs->detect, qelOutputDetect);
        assert_ptr_equal(outputPriv->kms, &qelScreenPrivFromScrn(scrn)->kms);
        assert_int_equal(outputPriv->connectorId, resources->connectors[i]);
        assert_non_null(outputPriv->connector);
        assert_int_equal(outputPriv->connector->connector_id, outputPriv->connectorId);
        assert_string_equal(outputPriv->backlightPath, "");
        assert_int_equal(outputPriv->maxBrightness, 0);
        assert_int_equal(output->possible_clones, 0);
        assert_false(output->interlaceAllowed);
        assert_false(output->doubleScanAllowed);
    }
    expectMessageCount(0);
    drmModeFreeResources(resources);
    free(description);
}

static void
unnamed_connector_type_is_an_output(void **state)
{
    ScrnInfoPtr scrn;

    (void) state;
    scrn = discover("[crtc]\n[connector]\ntype = 4242\ntype_id = 2\nmodes = 640x480@60\n");
    assert_int_equal(screenConfig(scrn)->num_output, 1);
    assert_string_equal(screenConfig(scrn)->output[0]->name, "Output-2");
}

/* The connector record goes back to libdrm when the server makes no
 * output of it (the leak checker sees it otherwise). */
static void
output_the_server_cannot_make_is_skipped(void **state)
{
    static const char *const types[] = { "eDP", "HDMI-A", "DSI" };
    char *description = describeDevice(NULL, 1, types, 3);
    ScrnInfoPtr scrn;

    (void) state;
    fakeFail("xf86OutputCreate", 1, 1);
    scrn = discover(description);
    assert_int_equal(screenConfig(scrn)->num_output, 2);
    assert_string_equal(screenConfig(scrn)->output[0]->name, "eDP-1");
    assert_string_equal(screenConfig(scrn)->output[1]->name, "DSI-3");
    expectMessageCount(0);
    free(description);
}

static void
connector_that_cannot_be_fetched_is_skipped(void **state)
{
    static const char *const types[] = { "eDP", "HDMI-A" };
    char *description = describeDevice(NULL, 1, types, 2);
    ScrnInfoPtr scrn;

    (void) state;
    simUse(description);
    free(description);
    scrn = screenWithDevice("/dev/dri/card0");
    assert_true(simRequest("fault getconnector 1"));
    assert_true(preInitKms(scrn));
    assert_int_equal(screenConfig(scrn)->num_output, 1);
    assert_string_equal(screenConfig(scrn)->output[0]->name, "HDMI-A-2");
    expectMessageCount(0);
}

static void
device_without_connectors_has_no_outputs_and_no_modes(void **state)
{
    ScrnInfoPtr scrn;

    (void) state;
    scrn = discover("[crtc]\n");
    assert_int_equal(screenConfig(scrn)->num_output, 0);
    assert_int_equal(screenConfig(scrn)->num_crtc, 1);
    assert_null(scrn->modes);
    expectMessageCount(0);
}

/* ---- the size range ---- */

static void
expectSizeRange(const char *maxSize, int maxWidth, int maxHeight)
{
    char device[64];
    static const char *const types[] = { "eDP" };
    char *description;
    xf86CrtcConfigPtr config;

    snprintf(device, sizeof(device), "min_size = 320x200\nmax_size = %s", maxSize);
    description = describeDevice(device, 1, types, 1);
    config = screenConfig(discover(description));
    assert_int_equal(config->minWidth, 8);
    assert_int_equal(config->minHeight, 8);
    assert_int_equal(config->maxWidth, maxWidth);
    assert_int_equal(config->maxHeight, maxHeight);
    free(description);
    fakeReset();
}

static void
size_range_defaults_when_the_device_reports_none(void **state)
{
    (void) state;
    expectSizeRange("0x0", 2048, 2048);
    expectSizeRange("4096x4096", 4096, 4096);
    expectSizeRange("1920x0", 1920, 2048);
}

/* ---- the initial configuration ---- */

static void
initial_configuration_takes_the_first_connected_output(void **state)
{
    ScrnInfoPtr scrn;

    (void) state;
    scrn = discover("[crtc]\n[connector]\ntype = HDMI-A\nstatus = disconnected\n"
                    "[connector]\ntype = eDP\nmodes = 1280x800@60 1024x768@60\n");
    assert_int_equal(fakeModeListLength(scrn->modes), 2);
    assert_int_equal(scrn->modes->HDisplay, 1280);
    assert_int_equal(screenConfig(scrn)->output[0]->status, XF86OutputStatusDisconnected);
    assert_int_equal(screenConfig(scrn)->output[1]->status, XF86OutputStatusConnected);
}

static void
unreadable_resources_fail_with_the_reason(void **state)
{
    ScrnInfoPtr scrn = screenWithDevice("/dev/null");

    (void) state;
    assert_false(preInitKms(scrn));
    expectMessage(0, X_ERROR, scrn->scrnIndex,
                  "drmModeGetResources failed: Inappropriate ioctl for device\n");
    expectMessageCount(1);
    assert_non_null(screenConfig(scrn));
    assert_int_equal(screenConfig(scrn)->num_crtc, 0);
    assert_int_equal(screenConfig(scrn)->num_output, 0);
}

/* ---- what the simulator can do ---- */

/* Whether the simulator makes a device with no CRTC, or no connector, of a
 * description that lists none. */
static Bool
simDescribesEmptyLists(const char *description, Bool crtcs)
{
    int fd;
    drmModeResPtr resources;
    Bool none;

    if (qelsim_configure(description) != 0)
        return FALSE;
    fd = open("/dev/dri/card0", O_RDWR | O_CLOEXEC);
    resources = fd >= 0 ? drmModeGetResources(fd) : NULL;
    none = resources && (crtcs ? resources->count_crtcs : resources->count_connectors) == 0;
    drmModeFreeResources(resources);
    if (fd >= 0)
        close(fd);
    return none;
}

static Bool
simRefusesConnectors(void)
{
    Bool supported = simRequest("fault getconnector 0");

    qelsim_configure(NULL);
    return supported;
}

int
main(void)
{
#define CASE(name) cmocka_unit_test_setup_teardown(name, resetFakeServer, resetFakeServer)
    const struct CMUnitTest always[] = {
        CASE(every_output_may_use_every_crtc),
        CASE(crtc_the_server_cannot_make_is_skipped),
        CASE(outputs_follow_the_kernel_order_with_their_names),
        CASE(unnamed_connector_type_is_an_output),
        CASE(output_the_server_cannot_make_is_skipped),
        CASE(size_range_defaults_when_the_device_reports_none),
        CASE(initial_configuration_takes_the_first_connected_output),
        CASE(unreadable_resources_fail_with_the_reason),
    };
    const struct CMUnitTest withoutCrtcs = CASE(device_without_crtcs_has_outputs_without_crtcs);
    const struct CMUnitTest withoutConnectors =
        CASE(device_without_connectors_has_no_outputs_and_no_modes);
    const struct CMUnitTest refusedConnector = CASE(connector_that_cannot_be_fetched_is_skipped);
    struct CMUnitTest tests[sizeof(always) / sizeof(always[0]) + 3];
    size_t count = sizeof(always) / sizeof(always[0]);

    memcpy(tests, always, sizeof(always));
    /* Cases that need a simulator feature run once the simulator has it. */
    if (simDescribesEmptyLists("[connector]\n", TRUE))
        tests[count++] = withoutCrtcs;
    else
        printf("# not run: %s: the simulator cannot describe a device without CRTCs\n",
               withoutCrtcs.name);
    if (simDescribesEmptyLists("[crtc]\n", FALSE))
        tests[count++] = withoutConnectors;
    else
        printf("# not run: %s: the simulator cannot describe a device without connectors\n",
               withoutConnectors.name);
    if (simRefusesConnectors())
        tests[count++] = refusedConnector;
    else
        printf("# not run: %s: the simulator has no fault getconnector\n",
               refusedConnector.name);
    fflush(stdout);
    return _cmocka_run_group_tests("discovery", tests, count, NULL, NULL);
}
