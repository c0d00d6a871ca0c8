/* SPDX-License-Identifier: MIT */
/* The output hooks: mode validation, the kernel's modes as server modes,
 * detection, the mode list with its fallback, DPMS and destruction. */
#include <fcntl.h>
#include <limits.h>
#include <setjmp.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <cmocka.h>
#include <xf86drmMode.h>
#include <X11/extensions/dpmsconst.h>

#include "kms_fixture.h"
#include "screen_fixture.h"

/* The first output of a screen discovered on the described device. */
static xf86OutputPtr
firstOutput(const char *description)
{
    ScrnInfoPtr scrn;

    simUse(description);
    scrn = screenWithDevice("/dev/dri/card0");
    assert_true(preInitKms(scrn));
    assert_true(screenConfig(scrn)->num_output > 0);
    return screenConfig(scrn)->output[0];
}

static qelOutputPriv *
outputPrivOf(xf86OutputPtr output)
{
    return output->driver_private;
}

/* ---- validation ---- */

static void
modes_up_to_2048_square_are_valid(void **state)
{
    struct { int width, height, status; } cases[] = {
        { 2048, 2048, MODE_OK }, { 2049, 2048, MODE_BAD }, { 2048, 2049, MODE_BAD },
        { 1, 1, MODE_OK },       { INT_MAX, 1, MODE_BAD }, { 640, 480, MODE_OK },
    };

    (void) state;
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); i++) {
        DisplayModeRec mode = { .HDisplay = cases[i].width, .VDisplay = cases[i].height };

        assert_int_equal(qelOutputModeValid(NULL, &mode), cases[i].status);
    }
}

/* ---- the kernel's modes as server modes ---- */

static ScrnInfoRec conversionScreen = { .adjustFlags = 0 };

static drmModeModeInfo
kernelMode(void)
{
    drmModeModeInfo info = {
        .clock = 65000,
        .hdisplay = 1024, .hsync_start = 1048, .hsync_end = 1184, .htotal = 1344,
        .hskew = 3,
        .vdisplay = 768, .vsync_start = 771, .vsync_end = 777, .vtotal = 806,
        .vscan = 0,
        .vrefresh = 60,
        .flags = DRM_MODE_FLAG_NHSYNC | DRM_MODE_FLAG_NVSYNC,
        .type = DRM_MODE_TYPE_DRIVER | DRM_MODE_TYPE_PREFERRED,
        .name = "1024x768",
    };

    return info;
}

static void
freeMode(DisplayModePtr mode)
{
    free((void *) mode->name);
    free(mode);
}

static void
kernel_mode_keeps_its_timings_flags_and_name(void **state)
{
    drmModeModeInfo info = kernelMode();
    DisplayModePtr mode = qelModeFromDrm(&conversionScreen, &info);

    (void) state;
    assert_string_equal(mode->name, "1024x768");
    assert_int_equal(mode->type, M_T_DRIVER | M_T_PREFERRED);
    assert_int_equal(mode->Clock, 65000);
    assert_int_equal(mode->HDisplay, 1024);
    assert_int_equal(mode->HSyncStart, 1048);
    assert_int_equal(mode->HSyncEnd, 1184);
    assert_int_equal(mode->HTotal, 1344);
    assert_int_equal(mode->HSkew, 3);
    assert_int_equal(mode->VDisplay, 768);
    assert_int_equal(mode->VSyncStart, 771);
    assert_int_equal(mode->VSyncEnd, 777);
    assert_int_equal(mode->VTotal, 806);
    assert_int_equal(mode->Flags, V_NHSYNC | V_NVSYNC);
    assert_int_equal(mode->CrtcHDisplay, 1024);
    assert_int_equal(mode->CrtcVTotal, 806);
    assert_int_equal(mode->status, MODE_OK);
    assert_true(mode->VRefresh == 0.0f);
    assert_null(mode->next);
    assert_null(mode->prev);
    freeMode(mode);
}

static void
only_driver_and_preferred_types_carry_over(void **state)
{
    struct { uint32_t drm; int server; } cases[] = {
        { DRM_MODE_TYPE_USERDEF, 0 },
        { DRM_MODE_TYPE_DRIVER | DRM_MODE_TYPE_PREFERRED, M_T_DRIVER | M_T_PREFERRED },
        { DRM_MODE_TYPE_DRIVER | DRM_MODE_TYPE_USERDEF, M_T_DRIVER },
        { DRM_MODE_TYPE_PREFERRED | DRM_MODE_TYPE_BUILTIN, M_T_PREFERRED },
        { 0xffffffffu, M_T_DRIVER | M_T_PREFERRED },
    };

    (void) state;
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); i++) {
        drmModeModeInfo info = kernelMode();
        DisplayModePtr mode;

        info.type = cases[i].drm;
        mode = qelModeFromDrm(&conversionScreen, &info);
        assert_int_equal(mode->type, cases[i].server);
        freeMode(mode);
    }
}

/* The 16-bit timings are unsigned: the largest must not turn negative. */
static void
sixteen_bit_timings_are_zero_extended(void **state)
{
    drmModeModeInfo info = kernelMode();
    DisplayModePtr mode;

    (void) state;
    info.hdisplay = info.hsync_start = info.hsync_end = info.htotal = 0xffff;
    info.vdisplay = info.vsync_start = info.vsync_end = info.vtotal = 0xffff;
    info.hskew = 0xffff;
    info.vscan = 1;
    info.clock = 0xffffffffu;
    mode = qelModeFromDrm(&conversionScreen, &info);
    assert_int_equal(mode->HDisplay, 65535);
    assert_int_equal(mode->HSyncStart, 65535);
    assert_int_equal(mode->HSyncEnd, 65535);
    assert_int_equal(mode->HTotal, 65535);
    assert_int_equal(mode->HSkew, 65535);
    assert_int_equal(mode->VDisplay, 65535);
    assert_int_equal(mode->VSyncStart, 65535);
    assert_int_equal(mode->VSyncEnd, 65535);
    assert_int_equal(mode->VTotal, 65535);
    assert_int_equal(mode->VScan, 1);
    assert_int_equal((unsigned) mode->Clock, 0xffffffffu);
    freeMode(mode);

    info = kernelMode();
    info.vdisplay = 4, info.vsync_start = 5, info.vsync_end = 6, info.vtotal = 7;
    info.vscan = 0xffff;
    mode = qelModeFromDrm(&conversionScreen, &info);
    assert_int_equal(mode->VScan, 65535);
    assert_int_equal(mode->CrtcVTotal, 7 * 65535);
    freeMode(mode);
}

/* Every flag bit reaches the server unchanged, known to it or not. */
static void
flags_carry_over_bit_for_bit(void **state)
{
    uint32_t cases[] = { DRM_MODE_FLAG_NHSYNC | DRM_MODE_FLAG_NVSYNC,
                         DRM_MODE_FLAG_PHSYNC | DRM_MODE_FLAG_INTERLACE,
                         DRM_MODE_FLAG_DBLSCAN | DRM_MODE_FLAG_CSYNC, 0xffffffffu, 0 };

    (void) state;
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); i++) {
        drmModeModeInfo info = kernelMode();
        DisplayModePtr mode;

        info.flags = cases[i];
        mode = qelModeFromDrm(&conversionScreen, &info);
        assert_int_equal((uint32_t) mode->Flags, cases[i]);
        freeMode(mode);
    }
}

/* The kernel's name field need not end in a NUL; the copy must stop at
 * the end of the field. */
static void
name_filling_the_whole_field_is_copied_safely(void **state)
{
    drmModeModeInfo info[2];
    DisplayModePtr mode;

    (void) state;
    memset(info, 'x', sizeof(info));
    info[0] = kernelMode();
    memset(info[0].name, 'n', sizeof(info[0].name));
    mode = qelModeFromDrm(&conversionScreen, &info[0]);
    assert_int_equal(strlen(mode->name), sizeof(info[0].name));
    assert_int_equal(mode->name[0], 'n');
    freeMode(mode);

    info[0] = kernelMode();
    memset(info[0].name, 0, sizeof(info[0].name));
    mode = qelModeFromDrm(&conversionScreen, &info[0]);
    assert_string_equal(mode->name, "");
    freeMode(mode);
}

/* ---- detection ---- */

static void
only_a_disconnected_connector_is_reported_disconnected(void **state)
{
    xf86OutputPtr output;

    (void) state;
    output = firstOutput("[crtc]\n[connector]\nstatus = connected\n"
                         "[connector]\nstatus = disconnected\n"
                         "[connector]\nstatus = unknown\n");
    xf86CrtcConfigPtr config = screenConfig(output->scrn);

    assert_int_equal(qelOutputDetect(config->output[0]), XF86OutputStatusConnected);
    assert_int_equal(qelOutputDetect(config->output[1]), XF86OutputStatusDisconnected);
    assert_int_equal(qelOutputDetect(config->output[2]), XF86OutputStatusConnected);
}

/* A descriptor that is no DRM device makes every fetch fail. */
static int
breakDevice(xf86OutputPtr output)
{
    qelKms *kms = outputPrivOf(output)->kms;
    int deviceFd = kms->fd;

    kms->fd = open("/dev/null", O_RDWR | O_CLOEXEC);
    assert_true(kms->fd >= 0);
    return deviceFd;
}

static void
repairDevice(xf86OutputPtr output, int deviceFd)
{
    qelKms *kms = outputPrivOf(output)->kms;

    close(kms->fd);
    kms->fd = deviceFd;
}

/* A failed fetch keeps the output and what was known of it: its state (a
 * disconnected output stays disconnected) and the earlier mode list. */
static void
failed_detection_keeps_the_last_connector(void **state)
{
    xf86OutputPtr output;
    drmModeConnectorPtr before;
    DisplayModePtr modes;
    int deviceFd;

    (void) state;
    output = firstOutput("[crtc]\n[connector]\nstatus = disconnected\nmodes = 800x600@60\n");
    assert_int_equal(qelOutputDetect(output), XF86OutputStatusDisconnected);
    before = outputPrivOf(output)->connector;

    deviceFd = breakDevice(output);
    assert_int_equal(qelOutputDetect(output), XF86OutputStatusDisconnected);
    assert_ptr_equal(outputPrivOf(output)->connector, before);
    modes = qelOutputGetModes(output);
    repairDevice(output, deviceFd);

    assert_int_equal(fakeModeListLength(modes), 1);
    assert_int_equal(modes->HDisplay, 800);
    fakeModeListFree(modes);
}

/* ---- the mode list ---- */

static void
modes_come_in_the_kernels_order_with_the_panel_size(void **state)
{
    xf86OutputPtr output;
    DisplayModePtr modes;
    int widths[] = { 1280, 1024, 640 };
    int i = 0;

    (void) state;
    output = firstOutput("[crtc]\n[connector]\nmm = 217x136\n"
                         "modes = 1280x800@60 1024x768@60 640x480@60\n");
    output->mm_width = output->mm_height = 0;
    modes = qelOutputGetModes(output);
    assert_int_equal(fakeModeListLength(modes), 3);
    for (DisplayModePtr mode = modes; mode; mode = mode->next, i++) {
        assert_int_equal(mode->HDisplay, widths[i]);
        assert_int_equal(mode->CrtcHDisplay, widths[i]);
    }
    assert_true(modes->type & M_T_PREFERRED);
    assert_int_equal(output->mm_width, 217);
    assert_int_equal(output->mm_height, 136);
    fakeModeListFree(modes);
}

/* The server's CVT generator leaves the mode unnamed; RandR needs a name
 * to publish it. */
static void
panel_without_modes_gets_one_800x480_mode(void **state)
{
    xf86OutputPtr output;
    DisplayModePtr modes;

    (void) state;
    output = firstOutput("[crtc]\n[connector]\nstatus = unknown\nmm = 95x54\nmodes =\n");
    modes = qelOutputGetModes(output);
    assert_int_equal(fakeModeListLength(modes), 1);
    assert_int_equal(modes->HDisplay, 800);
    assert_int_equal(modes->VDisplay, 480);
    assert_int_equal(modes->type, M_T_DRIVER | M_T_PREFERRED);
    assert_non_null(modes->name);
    assert_string_equal(modes->name, "800x480");
    assert_true(modes->Clock > 0);
    /* 60 Hz by its timings, within a CVT rounding. */
    assert_in_range(modes->Clock * 1000LL / ((long long) modes->HTotal * modes->VTotal), 59, 60);
    assert_int_equal(output->mm_width, 95);
    assert_int_equal(output->mm_height, 54);
    fakeModeListFree(modes);
}

static void
no_fallback_when_the_mode_cannot_be_made(void **state)
{
    xf86OutputPtr output;

    (void) state;
    output = firstOutput("[crtc]\n[connector]\nmodes =\n");
    fakeFail("xf86CVTMode", 0, 1);
    assert_null(qelOutputGetModes(output));
}

/* With no connector record the mode list fetches one; when that fails too
 * the output has no modes, and no fallback either. */
static void
missing_connector_is_fetched_for_the_mode_list(void **state)
{
    xf86OutputPtr output;
    DisplayModePtr modes;
    int deviceFd;

    (void) state;
    output = firstOutput("[crtc]\n[connector]\nmodes = 1024x768@60\n");
    drmModeFreeConnector(outputPrivOf(output)->connector);
    outputPrivOf(output)->connector = NULL;

    deviceFd = breakDevice(output);
    assert_null(qelOutputGetModes(output));
    assert_null(outputPrivOf(output)->connector);
    repairDevice(output, deviceFd);

    modes = qelOutputGetModes(output);
    assert_non_null(outputPrivOf(output)->connector);
    assert_int_equal(fakeModeListLength(modes), 1);
    assert_int_equal(modes->HDisplay, 1024);
    fakeModeListFree(modes);
}

/* ---- DPMS and destruction ---- */

static void
dpms_of_an_output_without_crtc_does_nothing(void **state)
{
    xf86OutputPtr output;
    long modeSets;

    (void) state;
    output = firstOutput("[crtc]\n[connector]\nstatus = disconnected\n"
                         "[connector]\nstatus = disconnected\n");
    assert_null(output->crtc);
    modeSets = simCounter("setcrtc_calls");
    qelOutputDpms(output, DPMSModeOff);
    qelOutputDpms(output, DPMSModeOn);
    assert_int_equal(simCounter("setcrtc_calls"), modeSets);
}

static void
destroy_releases_the_private_record(void **state)
{
    xf86OutputPtr output;

    (void) state;
    output = firstOutput(SIM_ONE_PANEL);
    qelOutputDestroy(output);
    assert_null(output->driver_private);
    qelOutputDestroy(output);
    assert_null(output->driver_private);
}

int
main(void)
{
#define CASE(name) cmocka_unit_test_setup_teardown(name, resetFakeServer, resetFakeServer)
    const struct CMUnitTest tests[] = {
        CASE(modes_up_to_2048_square_are_valid),
        CASE(kernel_mode_keeps_its_timings_flags_and_name),
        CASE(only_driver_and_preferred_types_carry_over),
        CASE(sixteen_bit_timings_are_zero_extended),
        CASE(flags_carry_over_bit_for_bit),
        CASE(name_filling_the_whole_field_is_copied_safely),
        CASE(only_a_disconnected_connector_is_reported_disconnected),
        CASE(failed_detection_keeps_the_last_connector),
        CASE(modes_come_in_the_kernels_order_with_the_panel_size),
        CASE(panel_without_modes_gets_one_800x480_mode),
        CASE(no_fallback_when_the_mode_cannot_be_made),
        CASE(missing_connector_is_fetched_for_the_mode_list),
        CASE(dpms_of_an_output_without_crtc_does_nothing),
        CASE(destroy_releases_the_private_record),
    };

    return cmocka_run_group_tests(tests, NULL, NULL);
}
