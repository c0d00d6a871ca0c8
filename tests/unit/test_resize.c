/* SPDX-License-Identifier: MIT */
/* Screen resize on the simulated device: the screen's buffer is replaced
 * exactly once, lit CRTCs move to it (or, with TearFree, refill their own
 * buffers from it) before the old one goes, and a failed creation leaves
 * the old screen as it was with nothing new left behind. */
#include <setjmp.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <cmocka.h>
#include <xf86drm.h>

#include "fake_screen.h"

#include <micmap.h>
#include "ge/ge.h"
#include "kms_fixture.h"
#include "ge/reserve.h"
#include "tearfree/tearfree.h"

static const char *twoLitCrtcs =
    "[device]\nvblank = manual\n[crtc]\n[crtc]\n"
    "[connector]\ntype = eDP\nmodes = 1024x768@60\n"
    "[connector]\ntype = HDMI-A\nmodes = 1024x768@60\n";

/* Rows of 1000 pixels padded to 4096 bytes. */
static const char *paddedPitch =
    "[device]\nvblank = manual\npitch_align = 1024\n[crtc]\n"
    "[connector]\ntype = eDP\nmodes = 1024x768@60\n";

typedef struct resizeFixture {
    kmsFixture *kms;
    qelScreenPriv *priv;
    ScrnInfoPtr scrn;
    qelBo *oldShadow;
} resizeFixture;

/* A 1024x768 screen in the buffer arrangement ScreenInit makes, on its VT,
 * with an empty GE queue, every CRTC showing its top-left 640x480 (so that
 * a smaller screen still holds them, as RandR sees to). */
static resizeFixture *
screenOn(const char *description, Bool tearFree)
{
    resizeFixture *f = calloc(1, sizeof(*f));
    DisplayModeRec mode = kmsFixtureMode(640, 480);

    assert_non_null(f);
    f->kms = kmsFixtureCreate(description);
    f->priv = f->kms->priv;
    f->scrn = &f->kms->scrn;
    assert_true(qelGeQueueAlloc(&f->priv->ge));
    kmsFixtureAddScanouts(f->kms, 1024, 768, tearFree);
    f->scrn->virtualX = 1024;
    f->scrn->virtualY = 768;
    f->scrn->displayWidth = (int) (f->priv->shadow->pitch >> 2);
    f->scrn->vtSema = TRUE;
    for (int i = 0; i < f->kms->config.num_crtc; i++)
        assert_true(qelCrtcSetModeMajor(f->kms->crtcPtrs[i], &mode, RR_Rotate_0, 0, 0));
    f->oldShadow = f->priv->shadow;
    forgetMessages();
    return f;
}

static int
plainSetUp(void **state)
{
    *state = screenOn(twoLitCrtcs, FALSE);
    return 0;
}

static int
tearFreeSetUp(void **state)
{
    *state = screenOn(twoLitCrtcs, TRUE);
    return 0;
}

static int
paddedSetUp(void **state)
{
    *state = screenOn(paddedPitch, FALSE);
    return 0;
}

static int
fixtureTearDown(void **state)
{
    resizeFixture *f = *state;
    qelScreenPriv *priv = f->priv;

    /* Let the kernel finish any flip so that no buffer is still queued. */
    simCommandOk("vblank 2");
    kmsFixtureRemoveScanouts(f->kms);
    qelGeQueueFree(&priv->ge);
    kmsFixtureDestroy(f->kms);
    fakeReset();
    free(f);
    return 0;
}

/* One solid fill queued into the shadow, not yet submitted. */
static void
queueFill(qelScreenPriv *priv)
{
    qelBo *dst = priv->shadow;
    qelGeOp *op = qelGeReserve(&priv->ge, dst, NULL, 16 * 16);

    *op = (qelGeOp) {
        .type = TX3120_GE_OP_SOLID, .rop = TX3120_GE_ROP_PATTERN, .dst_handle = dst->handle,
        .dst_pitch = dst->pitch, .width = 16, .height = 16, .fill_color = 0xff0000,
    };
}

/* A screen record with fb's screen pixmap over the current shadow. */
static ScreenPtr
attachScreen(resizeFixture *f)
{
    ScreenPtr screen;

    f->scrn->depth = 24;
    assert_true(miSetVisualTypes(24, TrueColorMask, 8, TrueColor));
    screen = fakeScreenCreate(f->scrn);
    assert_true(fbScreenInit(screen, f->priv->shadow->map, 1024, 768, 96, 96,
                             f->scrn->displayWidth, 32));
    assert_true(fakeBaseCreateScreenResources(screen));
    f->scrn->pScreen = screen;
    return screen;
}

static void
expectBufferOfSize(const qelBo *bo, int width, int height, Bool withFb)
{
    assert_non_null(bo);
    assert_non_null(bo->map);
    assert_int_equal(bo->width, width);
    assert_int_equal(bo->height, height);
    assert_true(bo->pitch >= (uint32_t) width * 4);
    if (withFb)
        assert_int_not_equal(bo->fbId, 0);
    else
        assert_int_equal(bo->fbId, 0);
}

static void
expectCrtcShows(int index, const qelBo *bo)
{
    char line[512];

    if (simCrtcState(index, line, sizeof(line)) && !strstr(line, "active=1"))
        print_message("expected fb %u: %s\n", bo->fbId, line);
    assert_int_equal(simCrtcField(index, "active"), 1);
    assert_int_equal(simCrtcField(index, "fb"), bo->fbId);
}

/* What CRTC index shows: its own front buffer with TearFree, else the
 * screen's buffer. */
static const qelBo *
shownBy(resizeFixture *f, int index)
{
    return f->priv->tearFree ? kmsFixtureFront(f->kms, index) : f->priv->shadow;
}

static void
expectOldScreenInPlace(resizeFixture *f, long liveBuffers, long liveFramebuffers)
{
    qelScreenPriv *priv = f->priv;

    assert_ptr_equal(priv->shadow, f->oldShadow);
    assert_int_equal(f->scrn->virtualX, 1024);
    assert_int_equal(f->scrn->virtualY, 768);
    assert_int_equal(f->scrn->displayWidth, f->oldShadow->pitch >> 2);
    assert_int_equal(simCounter("live_dumb_buffers"), liveBuffers);
    assert_int_equal(simCounter("live_framebuffers"), liveFramebuffers);
    expectCrtcShows(0, shownBy(f, 0));
    expectCrtcShows(1, shownBy(f, 1));
}

/* ---- resizing to the size the screen has ---- */

static void
same_size_touches_nothing(void **state)
{
    resizeFixture *f = *state;
    qelFlipCrtc *c = kmsFixtureFlipCrtc(f->kms, 0);
    long submits = simCounter("ge_submits");
    long modeSets = simCounter("setcrtc_calls");

    queueFill(f->priv);
    c->flipPending = TRUE;
    assert_true(qelCrtcResize(f->scrn, 1024, 768));

    assert_int_equal(f->priv->ge.opCount, 1);
    assert_int_equal(simCounter("ge_submits"), submits);
    assert_true(c->flipPending);
    assert_ptr_equal(f->priv->shadow, f->oldShadow);
    assert_int_equal(simCounter("setcrtc_calls"), modeSets);
    c->flipPending = FALSE;
    expectNoMessage();
}

/* ---- successful resizes ---- */

static void
plain_screen_gets_one_new_buffer_and_loses_the_old_once(void **state)
{
    resizeFixture *f = *state;
    qelScreenPriv *priv = f->priv;
    long destroys = simIoctlCounter("DESTROY_DUMB");
    long submits = simCounter("ge_submits");

    /* No screen record yet: only buffers and sizes change, and the CRTCs
     * are still set again. */
    assert_null(f->scrn->pScreen);
    queueFill(priv);
    assert_true(qelCrtcResize(f->scrn, 1280, 1024));

    /* The queued fill went to the kernel before its buffer went away. */
    assert_int_equal(priv->ge.opCount, 0);
    assert_int_equal(simCounter("ge_submits"), submits + 1);

    expectBufferOfSize(priv->shadow, 1280, 1024, TRUE);
    assert_ptr_not_equal(priv->shadow, f->oldShadow);
    assert_int_equal(f->scrn->virtualX, 1280);
    assert_int_equal(f->scrn->virtualY, 1024);
    assert_int_equal(f->scrn->displayWidth, priv->shadow->pitch >> 2);

    assert_int_equal(simIoctlCounter("DESTROY_DUMB"), destroys + 1);
    assert_int_equal(simCounter("live_dumb_buffers"), 1);
    assert_int_equal(simCounter("live_framebuffers"), 1);
    expectCrtcShows(0, priv->shadow);
    expectCrtcShows(1, priv->shadow);
    expectNoMessage();
}

/* The CRTCs keep their modes, so they keep their own buffers; what those
 * still owed of the old screen is forgotten, as they are filled from the
 * new one. */
static void
tearfree_screen_gets_a_new_shadow_and_refilled_crtc_buffers(void **state)
{
    resizeFixture *f = *state;
    qelScreenPriv *priv = f->priv;
    qelFlipCrtc *c = kmsFixtureFlipCrtc(f->kms, 0);
    qelBo *pair[2] = {c->pair.scanout[0], c->pair.scanout[1]};
    BoxRec a = {0, 0, 10, 10}, b = {100, 100, 120, 130};
    RegionRec second;
    long copies = simCounter("ge_pixels_copied");

    /* Pending damage of two rectangles, with storage of its own. */
    RegionInit(&second, &b, 1);
    RegionReset(&c->pendingRegion, &a);
    assert_true(RegionUnion(&c->pendingRegion, &c->pendingRegion, &second));
    RegionUninit(&second);
    assert_int_equal(RegionNumRects(&c->pendingRegion), 2);

    assert_true(qelCrtcResize(f->scrn, 800, 600));

    expectBufferOfSize(priv->shadow, 800, 600, FALSE);
    assert_ptr_not_equal(priv->shadow, f->oldShadow);
    assert_ptr_equal(c->pair.scanout[0], pair[0]);
    assert_ptr_equal(c->pair.scanout[1], pair[1]);
    assert_false(RegionNotEmpty(&c->pendingRegion));
    assert_ptr_equal(c->pendingRegion.data, &RegionEmptyData);
    /* Both buffers of both CRTCs, from the new shadow. */
    assert_int_equal(simCounter("ge_pixels_copied"), copies + 4 * 640 * 480);

    assert_int_equal(simCounter("live_dumb_buffers"), 5);
    assert_int_equal(simCounter("live_framebuffers"), 4);
    expectCrtcShows(0, kmsFixtureFront(f->kms, 0));
    expectCrtcShows(1, kmsFixtureFront(f->kms, 1));
    expectNoMessage();
}

static void
pending_flip_is_settled_before_the_buffers_change(void **state)
{
    resizeFixture *f = *state;
    qelBo *back = kmsFixtureBack(f->kms, 0);

    kmsFixtureRequestFlip(f->kms, 0);
    assert_true(qelCrtcResize(f->scrn, 800, 600));
    assert_false(kmsFixtureFlipCrtc(f->kms, 0)->flipPending);
    assert_ptr_equal(kmsFixtureFront(f->kms, 0), back);
    expectCrtcShows(0, back);
    assert_int_equal(simCounter("live_dumb_buffers"), 5);
    assert_int_equal(simCounter("live_framebuffers"), 4);
}

static void
disabled_crtc_is_not_set_again(void **state)
{
    resizeFixture *f = *state;
    long modeSets = simCounter("setcrtc_calls");

    f->kms->crtcs[1].enabled = FALSE;
    assert_true(qelCrtcResize(f->scrn, 800, 600));

    assert_int_equal(simCounter("setcrtc_calls"), modeSets + 1);
    expectCrtcShows(0, f->priv->shadow);
    assert_int_not_equal(simCrtcField(1, "fb"), f->priv->shadow->fbId);
}

/* A CRTC that cannot take the new buffer (the first of the two here; the
 * second takes it and is moved back): the resize fails and is undone, every CRTC shows the old screen again,
 * and the new buffer is gone. */
static void
expectRefusedModeSetRestoresTheOldScreen(resizeFixture *f, long buffers, long framebuffers)
{
    simCommandOk("fault setcrtc 1");
    assert_false(qelCrtcResize(f->scrn, 800, 600));

    assert_int_equal(fakeMessageCount(), 2);
    assert_non_null(strstr(fakeMessageAt(0)->text, "drmModeSetCrtc failed: "));
    assert_string_equal(fakeMessageAt(1)->text,
                        "Resize to 800x600 failed; the screen stays 1024x768\n");
    forgetMessages();
    expectOldScreenInPlace(f, buffers, framebuffers);
}

static void
refused_mode_set_restores_the_plain_screen(void **state)
{
    expectRefusedModeSetRestoresTheOldScreen(*state, 1, 1);
}

static void
refused_mode_set_restores_the_tearfree_screen(void **state)
{
    expectRefusedModeSetRestoresTheOldScreen(*state, 5, 4);
}

static void
padded_pitch_sets_the_display_width(void **state)
{
    resizeFixture *f = *state;

    assert_true(qelCrtcResize(f->scrn, 1000, 700));
    assert_int_equal(f->priv->shadow->pitch, 4096);
    assert_int_equal(f->scrn->displayWidth, 1024);
    assert_int_equal(f->scrn->virtualX, 1000);
}

/* ---- failures to create a new buffer ---- */

static void
failed_primary_buffer_keeps_the_plain_screen(void **state)
{
    resizeFixture *f = *state;
    long submits = simCounter("ge_submits");

    queueFill(f->priv);
    simCommandOk("fault create_dumb_nth 1");
    assert_false(qelCrtcResize(f->scrn, 800, 600));

    expectOldScreenInPlace(f, 1, 1);
    /* The queue was submitted all the same. */
    assert_int_equal(simCounter("ge_submits"), submits + 1);
    expectNoMessage();
}

static void
failed_shadow_keeps_the_tearfree_screen(void **state)
{
    resizeFixture *f = *state;
    long creations = simIoctlCounter("CREATE_DUMB");

    simCommandOk("fault create_dumb_nth 1");
    assert_false(qelCrtcResize(f->scrn, 800, 600));

    expectOldScreenInPlace(f, 5, 4);
    assert_int_equal(simIoctlCounter("CREATE_DUMB"), creations + 1);
    expectNoMessage();
}

/* ---- the screen pixmap ---- */

static void
screen_pixmap_without_exa_gets_the_new_mapping(void **state)
{
    resizeFixture *f = *state;
    PixmapPtr pixmap = attachScreen(f)->GetScreenPixmap(f->scrn->pScreen);

    assert_true(qelCrtcResize(f->scrn, 800, 600));
    assert_ptr_equal(pixmap->devPrivate.ptr, f->priv->shadow->map);
    assert_int_equal(pixmap->devKind, f->priv->shadow->pitch);
    assert_int_equal(pixmap->drawable.width, 800);
    assert_int_equal(pixmap->drawable.height, 600);
    assert_int_equal(pixmap->drawable.depth, 24);
    assert_int_equal(pixmap->drawable.bitsPerPixel, 32);
    expectCrtcShows(0, f->priv->shadow);
}

static ExaDriverRec exaRecord;

/* What the screen's ModifyPixmapHeader was last given. */
static struct {
    ModifyPixmapHeaderProcPtr wrapped;
    int calls, width, height, depth, bitsPerPixel, devKind;
    void *pixels;
} modified;

static Bool
recordModifyPixmapHeader(PixmapPtr pixmap, int width, int height, int depth,
                         int bitsPerPixel, int devKind, void *pixels)
{
    modified.calls++;
    modified.width = width;
    modified.height = height;
    modified.depth = depth;
    modified.bitsPerPixel = bitsPerPixel;
    modified.devKind = devKind;
    modified.pixels = pixels;
    return modified.wrapped(pixmap, width, height, depth, bitsPerPixel, devKind, pixels);
}

static PixmapPtr
screenPixmapUnderExa(resizeFixture *f, qelPixmapPriv *pixPriv)
{
    ScreenPtr screen = attachScreen(f);
    PixmapPtr pixmap = screen->GetScreenPixmap(screen);

    f->priv->ge.exa = &exaRecord;
    if (pixPriv)
        fakeExaSetPixmapPriv(pixmap, pixPriv);
    memset(&modified, 0, sizeof(modified));
    modified.wrapped = screen->ModifyPixmapHeader;
    screen->ModifyPixmapHeader = recordModifyPixmapHeader;
    return pixmap;
}

static void
screen_pixmap_with_exa_private_is_handed_the_new_shadow(void **state)
{
    resizeFixture *f = *state;
    qelPixmapPriv pixPriv = {.bo = f->priv->shadow, .pitch = f->priv->shadow->pitch};

    screenPixmapUnderExa(f, &pixPriv);
    assert_true(qelCrtcResize(f->scrn, 800, 600));
    f->priv->ge.exa = NULL;

    assert_ptr_equal(pixPriv.bo, f->priv->shadow);
    assert_int_equal(pixPriv.pitch, f->priv->shadow->pitch);
    /* The EXA hook takes address and stride from the private. */
    assert_int_equal(modified.calls, 1);
    assert_null(modified.pixels);
    assert_int_equal(modified.devKind, f->priv->shadow->pitch);
    assert_int_equal(modified.width, 800);
    assert_int_equal(modified.height, 600);
    assert_int_equal(modified.depth, -1);
    assert_int_equal(modified.bitsPerPixel, -1);
}

static void
screen_pixmap_with_exa_but_no_private_gets_the_new_mapping(void **state)
{
    resizeFixture *f = *state;
    PixmapPtr pixmap = screenPixmapUnderExa(f, NULL);

    assert_true(qelCrtcResize(f->scrn, 800, 600));
    f->priv->ge.exa = NULL;

    assert_int_equal(modified.calls, 1);
    assert_ptr_equal(modified.pixels, f->priv->shadow->map);
    assert_ptr_equal(pixmap->devPrivate.ptr, f->priv->shadow->map);
    assert_int_equal(pixmap->devKind, f->priv->shadow->pitch);
}

#define PLAIN(test) cmocka_unit_test_setup_teardown(test, plainSetUp, fixtureTearDown)
#define TEARFREE(test) cmocka_unit_test_setup_teardown(test, tearFreeSetUp, fixtureTearDown)
#define PADDED(test) cmocka_unit_test_setup_teardown(test, paddedSetUp, fixtureTearDown)

int
main(void)
{
    const struct CMUnitTest tests[] = {
        TEARFREE(same_size_touches_nothing),
        PLAIN(plain_screen_gets_one_new_buffer_and_loses_the_old_once),
        TEARFREE(tearfree_screen_gets_a_new_shadow_and_refilled_crtc_buffers),
        TEARFREE(pending_flip_is_settled_before_the_buffers_change),
        PLAIN(disabled_crtc_is_not_set_again),
        PLAIN(refused_mode_set_restores_the_plain_screen),
        TEARFREE(refused_mode_set_restores_the_tearfree_screen),
        PADDED(padded_pitch_sets_the_display_width),
        PLAIN(failed_primary_buffer_keeps_the_plain_screen),
        TEARFREE(failed_shadow_keeps_the_tearfree_screen),
        PLAIN(screen_pixmap_without_exa_gets_the_new_mapping),
        TEARFREE(screen_pixmap_with_exa_private_is_handed_the_new_shadow),
        TEARFREE(screen_pixmap_with_exa_but_no_private_gets_the_new_mapping),
    };

    return cmocka_run_group_tests(tests, NULL, NULL);
}
