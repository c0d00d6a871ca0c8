/* SPDX-License-Identifier: MIT */
/* The mode hooks of the screen record and the conversion of server modes
 * into kernel modes: nothing here reaches the device. */
#include <setjmp.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <cmocka.h>

#include "driver/qel.h"
#include "kms/kms.h"

/* ---- mode conversion ---- */

static void
conversion_copies_user_timings_and_flags(void **state)
{
    char name[] = "1024x768";
    DisplayModeRec mode = {
        .name = name, .Clock = 65000, .HDisplay = 1024, .HSyncStart = 1048,
        .HSyncEnd = 1184, .HTotal = 1344, .HSkew = 3, .VDisplay = 768,
        .VSyncStart = 771, .VSyncEnd = 777, .VTotal = 806, .VScan = 2,
        .Flags = V_NHSYNC | V_NVSYNC | V_INTERLACE | V_DBLSCAN | V_CSYNC,
        .type = M_T_PREFERRED | M_T_DRIVER, .VRefresh = 60.0f,
        .CrtcHDisplay = 999, .CrtcVDisplay = 999,
    };
    drmModeModeInfo info;

    (void) state;
    memset(&info, 0xff, sizeof(info));
    qelModeToDrm(&mode, &info);
    assert_int_equal(info.clock, 65000);
    assert_int_equal(info.hdisplay, 1024);
    assert_int_equal(info.hsync_start, 1048);
    assert_int_equal(info.hsync_end, 1184);
    assert_int_equal(info.htotal, 1344);
    assert_int_equal(info.hskew, 3);
    assert_int_equal(info.vdisplay, 768);
    assert_int_equal(info.vsync_start, 771);
    assert_int_equal(info.vsync_end, 777);
    assert_int_equal(info.vtotal, 806);
    assert_int_equal(info.vscan, 2);
    assert_int_equal(info.flags, V_NHSYNC | V_NVSYNC | V_INTERLACE | V_DBLSCAN | V_CSYNC);
    assert_int_equal(info.vrefresh, 0);
    assert_int_equal(info.type, 0);
    assert_string_equal(info.name, "1024x768");
    for (size_t i = strlen(name); i < sizeof(info.name); i++)
        assert_int_equal(info.name[i], 0);
}

static void
conversion_keeps_the_low_16_bits(void **state)
{
    DisplayModeRec mode = {
        .HDisplay = 0x12345, .HSyncStart = 0x10001, .HSyncEnd = 0x1ffff, .HTotal = 0x20000,
        .HSkew = -1, .VDisplay = 0x10300, .VSyncStart = 0x30001, .VSyncEnd = 0x40002,
        .VTotal = 0x50003, .VScan = 0x10000, .Flags = (int) 0x80000001u,
    };
    drmModeModeInfo info;

    (void) state;
    qelModeToDrm(&mode, &info);
    assert_int_equal(info.hdisplay, 0x2345);
    assert_int_equal(info.hsync_start, 1);
    assert_int_equal(info.hsync_end, 0xffff);
    assert_int_equal(info.htotal, 0);
    assert_int_equal(info.hskew, 0xffff);
    assert_int_equal(info.vdisplay, 0x300);
    assert_int_equal(info.vsync_start, 1);
    assert_int_equal(info.vsync_end, 2);
    assert_int_equal(info.vtotal, 3);
    assert_int_equal(info.vscan, 0);
    assert_int_equal(info.flags, 0x80000001u);
}

static void
conversion_cuts_long_names_and_accepts_none(void **state)
{
    char longName[] = "0123456789abcdefghijklmnopqrstuvwxyzABCD"; /* 40 characters */
    DisplayModeRec mode = { .name = longName };
    drmModeModeInfo info;

    (void) state;
    qelModeToDrm(&mode, &info);
    assert_int_equal(strnlen(info.name, sizeof(info.name)), 31);
    assert_memory_equal(info.name, longName, 31);
    assert_int_equal(info.name[31], 0);

    mode.name = NULL;
    memset(&info, 0xff, sizeof(info));
    qelModeToDrm(&mode, &info);
    for (size_t i = 0; i < sizeof(info.name); i++)
        assert_int_equal(info.name[i], 0);
}

/* ---- ValidMode ---- */

static void
valid_mode_limits_both_directions_to_2048(void **state)
{
    struct { int w, h; ModeStatus expected; } cases[] = {
        { 2048, 2048, MODE_OK }, { 2049, 480, MODE_BAD }, { 640, 2049, MODE_BAD },
        { 1, 1, MODE_OK }, { 2049, 2049, MODE_BAD },
    };

    (void) state;
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); i++) {
        DisplayModeRec mode = { .HDisplay = cases[i].w, .VDisplay = cases[i].h,
                                .Clock = 1000000, .Flags = V_INTERLACE };

        assert_int_equal(qelValidMode(NULL, &mode, TRUE, 0x7f), cases[i].expected);
    }
}

/* ---- AdjustFrame and SwitchMode, over CRTCs whose mode set records its
 * arguments ---- */

typedef struct modeSetCall {
    xf86CrtcPtr crtc;
    DisplayModePtr mode;
    Rotation rotation;
    int x, y;
} modeSetCall;

typedef struct hookScreen {
    ScrnInfoRec scrn;
    DevUnion privates[8];
    xf86CrtcConfigRec config;
    xf86CrtcRec crtcs[2];
    xf86CrtcPtr crtcPtrs[2];
    xf86OutputRec outputs[2];
    xf86OutputPtr outputPtrs[2];
    xf86CrtcFuncsRec funcs;
    modeSetCall calls[4];
    int callCount;
    Bool modeSetResult;
} hookScreen;

static hookScreen *currentScreen;

static Bool
recordModeSet(xf86CrtcPtr crtc, DisplayModePtr mode, Rotation rotation, int x, int y)
{
    hookScreen *screen = currentScreen;

    if (screen->callCount < 4)
        screen->calls[screen->callCount] = (modeSetCall) { crtc, mode, rotation, x, y };
    screen->callCount++;
    return screen->modeSetResult;
}

/* Two enabled CRTCs, each with one output; output 1 is the compatibility
 * output. Both CRTCs sit at an offset and with a rotation. */
static int
hookScreenSetUp(void **state)
{
    hookScreen *screen = test_calloc(1, sizeof(*screen));

    if (xf86CrtcConfigPrivateIndex < 0)
        xf86CrtcConfigPrivateIndex = 0;
    screen->scrn.privates = screen->privates;
    screen->privates[xf86CrtcConfigPrivateIndex].ptr = &screen->config;
    screen->funcs.set_mode_major = recordModeSet;
    screen->modeSetResult = TRUE;
    screen->config.num_crtc = 2;
    screen->config.num_output = 2;
    screen->config.crtc = screen->crtcPtrs;
    screen->config.output = screen->outputPtrs;
    screen->config.compat_output = 1;
    for (int i = 0; i < 2; i++) {
        screen->crtcs[i] = (xf86CrtcRec) {
            .scrn = &screen->scrn, .funcs = &screen->funcs, .enabled = TRUE,
            .rotation = RR_Rotate_90, .x = 7 + i, .y = 9 + i,
        };
        screen->crtcs[i].mode.HDisplay = 640 + i;
        screen->crtcPtrs[i] = &screen->crtcs[i];
        screen->outputs[i] = (xf86OutputRec) { .scrn = &screen->scrn, .crtc = &screen->crtcs[i] };
        screen->outputPtrs[i] = &screen->outputs[i];
    }
    currentScreen = screen;
    *state = screen;
    return 0;
}

static int
hookScreenTearDown(void **state)
{
    test_free(*state);
    currentScreen = NULL;
    return 0;
}

static void
adjust_frame_moves_only_the_compat_output_crtc(void **state)
{
    hookScreen *screen = *state;

    qelAdjustFrame(&screen->scrn, 100, 50);
    assert_int_equal(screen->callCount, 1);
    assert_ptr_equal(screen->calls[0].crtc, &screen->crtcs[1]);
    assert_ptr_equal(screen->calls[0].mode, &screen->crtcs[1].mode);
    assert_int_equal(screen->calls[0].rotation, RR_Rotate_90);
    assert_int_equal(screen->calls[0].x, 100);
    assert_int_equal(screen->calls[0].y, 50);

    /* A refused mode set is not the frame's business. */
    screen->modeSetResult = FALSE;
    qelAdjustFrame(&screen->scrn, 1, 2);
    assert_int_equal(screen->callCount, 2);
}

static void
adjust_frame_without_a_lit_compat_crtc_does_nothing(void **state)
{
    hookScreen *screen = *state;

    screen->config.compat_output = -1;
    qelAdjustFrame(&screen->scrn, 10, 10);

    screen->config.compat_output = 0;
    screen->crtcs[0].enabled = FALSE;
    qelAdjustFrame(&screen->scrn, 10, 10);

    screen->outputs[0].crtc = NULL;
    qelAdjustFrame(&screen->scrn, 10, 10);
    assert_int_equal(screen->callCount, 0);
}

static void
switch_mode_always_asks_for_no_rotation(void **state)
{
    hookScreen *screen = *state;
    DisplayModeRec mode = { .HDisplay = 800, .VDisplay = 600 };

    assert_true(qelSwitchMode(&screen->scrn, &mode));
    assert_true(screen->callCount > 0);
    for (int i = 0; i < screen->callCount && i < 4; i++) {
        assert_int_equal(screen->calls[i].rotation, RR_Rotate_0);
        assert_int_equal(screen->calls[i].mode->HDisplay, 800);
    }

    screen->modeSetResult = FALSE;
    assert_false(qelSwitchMode(&screen->scrn, &mode));
}

int
main(void)
{
    const struct CMUnitTest tests[] = {
        cmocka_unit_test(conversion_copies_user_timings_and_flags),
        cmocka_unit_test(conversion_keeps_the_low_16_bits),
        cmocka_unit_test(conversion_cuts_long_names_and_accepts_none),
        cmocka_unit_test(valid_mode_limits_both_directions_to_2048),
        cmocka_unit_test_setup_teardown(adjust_frame_moves_only_the_compat_output_crtc,
                                        hookScreenSetUp, hookScreenTearDown),
        cmocka_unit_test_setup_teardown(adjust_frame_without_a_lit_compat_crtc_does_nothing,
                                        hookScreenSetUp, hookScreenTearDown),
        cmocka_unit_test_setup_teardown(switch_mode_always_asks_for_no_rotation,
                                        hookScreenSetUp, hookScreenTearDown),
    };

    return cmocka_run_group_tests(tests, NULL, NULL);
}
