/* SPDX-License-Identifier: MIT */
#include "test_tearfree_screen.h"
#include "ge/reserve.h"

#include <poll.h>
#include <setjmp.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <cmocka.h>
#include <micmap.h>

#include "fake_screen.h"
#include "qelsim.h"
#include "tearfree/tearfree.h"

#define GE_LOG_SIZE (1 << 20)

static const char *manualPanel =
    "[device]\nvblank = manual\n[crtc]\n[connector]\ntype = eDP\n"
    "modes = 1024x768@60 800x600@60\n";

/* The base BlockHandler has no closure: it finds its fixture here. */
static tearFreeScreen *current;

void
tearFreeBaseBlockHandler(ScreenPtr screen, void *timeout)
{
    assert_non_null(current);
    assert_ptr_equal(screen, current->screen);
    current->baseCalls++;
    current->baseTimeout = timeout;
}

/* The screen's buffer as ScreenInit makes it: with a framebuffer only when
 * the CRTCs are to scan it out. */
static void
makeShadow(tearFreeScreen *t, Bool tearFree)
{
    qelScreenPriv *priv = t->priv;

    priv->shadow = qelBoCreateScanout(priv->fd, PANEL_WIDTH, PANEL_HEIGHT, !tearFree);
    assert_non_null(priv->shadow);
    priv->tearFree = tearFree;
    priv->ge.screenBo = priv->shadow;
    qelPresentSetScreenBuffer(priv->present, priv->shadow);
}

/* The fb layer's screen with its pixmap, which EXA placed in the shadow. */
static void
makeScreen(tearFreeScreen *t, ScreenBlockHandlerProcPtr handler)
{
    qelScreenPriv *priv = t->priv;

    t->kms->scrn.depth = 24;
    t->kms->scrn.bitsPerPixel = 32;
    t->screen = fakeScreenCreate(&t->kms->scrn);
    t->kms->scrn.pScreen = t->screen;
    assert_true(qelGeAttach(t->screen, &priv->ge));
    miClearVisualTypes();
    assert_true(miSetVisualTypes(24, miGetDefaultVisualMask(24), 8, TrueColor));
    assert_true(fbScreenInit(t->screen, NULL, PANEL_WIDTH, PANEL_HEIGHT, 96, 96,
                             (int) priv->shadow->pitch / 4, 32));
    assert_true(t->screen->CreateScreenResources(t->screen));
    t->pixmap = t->screen->GetScreenPixmap(t->screen);
    t->screen->BlockHandler = handler;
    if (!priv->ge.exa)
        return;
    if (!t->pixmapPriv)
        t->pixmapPriv = calloc(1, sizeof(*t->pixmapPriv));
    assert_non_null(t->pixmapPriv);
    t->pixmapPriv->bo = priv->shadow;
    t->pixmapPriv->pitch = priv->shadow->pitch;
    fakeExaSetPixmapPriv(t->pixmap, t->pixmapPriv);
    /* EXA hands header changes of a pixmap in driver storage to the
     * driver's hook. */
    t->screen->ModifyPixmapHeader = qelModifyPixmapHeader;
    assert_true(t->screen->ModifyPixmapHeader(t->pixmap, -1, -1, -1, -1, -1, NULL));
}

void
tearFreeScreenLight(tearFreeScreen *t)
{
    DisplayModeRec mode = kmsFixtureMode(PANEL_WIDTH, PANEL_HEIGHT);

    assert_true(qelCrtcSetModeMajor(t->kms->crtcPtrs[0], &mode, RR_Rotate_0, 0, 0));
}

void
tearFreeScreenStart(tearFreeScreen *t)
{
    qelTearFreeSetup(t->screen);
    tearFreeScreenLight(t);
    geLogClear();
}

qelFlipCrtc *
tearFreeCrtc(tearFreeScreen *t)
{
    return kmsFixtureFlipCrtc(t->kms, 0);
}

qelBo *
tearFreeFront(tearFreeScreen *t)
{
    return kmsFixtureFront(t->kms, 0);
}

qelBo *
tearFreeBack(tearFreeScreen *t)
{
    return kmsFixtureBack(t->kms, 0);
}

tearFreeScreen *
tearFreeScreenCreate(Bool accel, Bool tearFree)
{
    tearFreeScreen *t = calloc(1, sizeof(*t));

    assert_non_null(t);
    fakeReset();
    t->kms = kmsFixtureCreate(manualPanel);
    t->priv = t->kms->priv;
    t->priv->accel = accel;
    makeShadow(t, tearFree);
    if (accel) {
        t->priv->ge.exa = &t->exa;
        assert_true(qelGeQueueAlloc(&t->priv->ge));
    }
    t->kms->scrn.vtSema = TRUE;
    current = t;
    makeScreen(t, tearFreeBaseBlockHandler);
    simCommandOk("ge-log on");
    geLogClear();
    forgetMessages();
    return t;
}

void
tearFreeScreenRegenerate(tearFreeScreen *t, ScreenBlockHandlerProcPtr handler)
{
    fakeScreenFree(t->screen);
    t->baseCalls = 0;
    t->baseTimeout = NULL;
    makeScreen(t, handler);
}

void
tearFreeScreenDestroy(tearFreeScreen *t)
{
    qelScreenPriv *priv = t->priv;

    if (t->screen->BlockHandler == qelBlockHandler)
        qelTearFreeTeardown(t->screen);
    /* Nothing may stay queued in the kernel on a buffer about to go. */
    simCommandOk("vblank 2");
    kmsFixtureRemoveScanouts(t->kms);
    qelGeQueueFree(&priv->ge);
    free(t->pixmapPriv);
    simCommandOk("ge-log off");
    simCommandOk("ge-log clear");
    fakeReset();
    kmsFixtureDestroy(t->kms);
    current = NULL;
    free(t);
}

void
damageAdd(tearFreeScreen *t, int x, int y, int w, int h)
{
    RegionPtr region = fakeDamageRegionOf(t->priv->present->damage);

    assert_true(pixman_region_union_rect(region, region, x, y, (unsigned) w, (unsigned) h));
}

void
runPass(tearFreeScreen *t)
{
    t->screen->BlockHandler(t->screen, &t->baseTimeout);
}

void
vblankAndEvents(tearFreeScreen *t)
{
    struct pollfd pfd = { .fd = t->priv->fd, .events = POLLIN };

    simCommandOk("vblank 1");
    assert_int_equal(poll(&pfd, 1, 5000), 1);
    qelDrmEventHandler(t->priv->fd, X_NOTIFY_READ, NULL);
}

void
queueShadowFill(tearFreeScreen *t, int x, int y, int w, int h, uint32_t color)
{
    qelBo *dst = t->priv->shadow;
    qelGeOp *op = qelGeReserve(&t->priv->ge, dst, NULL, (uint32_t) (w * h));

    *op = (qelGeOp) {
        .type = TX3120_GE_OP_SOLID, .rop = TX3120_GE_ROP_PATTERN, .dst_handle = dst->handle,
        .dst_pitch = dst->pitch, .dst_x = x, .dst_y = y, .width = w, .height = h,
        .fill_color = color,
    };
}

/* ---- the GE's submit log ---- */

static int
parseOps(const char *line, geOp *ops, int count, int max)
{
    for (const char *at = strchr(line, '['); at; at = strchr(at, '[')) {
        geOp op;
        char *end;

        at++;
        for (int w = 0; w < 13; w++) {
            op.word[w] = (uint32_t) strtoul(at, &end, 10);
            at = end + 1;
        }
        assert_true(count < max);
        ops[count++] = op;
    }
    return count;
}

int
geLogRead(geOp *ops, int max, int *submits)
{
    char *reply = calloc(1, GE_LOG_SIZE);
    int count = 0;

    assert_non_null(reply);
    assert_int_equal(qelsim_command("ge-log", reply, GE_LOG_SIZE), 0);
    *submits = 0;
    for (char *line = strtok(reply, "\n"); line; line = strtok(NULL, "\n")) {
        if (strncmp(line, "submit ", 7) != 0)
            continue;
        (*submits)++;
        count = parseOps(line, ops, count, max);
    }
    free(reply);
    return count;
}

void
geLogClear(void)
{
    simCommandOk("ge-log clear");
}

void
expectCopyTo(const geOp *op, const qelBo *src, int srcX, int srcY, const qelBo *dst, int x,
             int y, int w, int h)
{
    assert_int_equal(op->word[OP_WORD_TYPE], TX3120_GE_OP_COPY);
    assert_int_equal(op->word[OP_WORD_SRC], src->handle);
    assert_int_equal(op->word[OP_WORD_SRC_X], srcX);
    assert_int_equal(op->word[OP_WORD_SRC_Y], srcY);
    assert_int_equal(op->word[OP_WORD_DST], dst->handle);
    assert_int_equal(op->word[OP_WORD_X], x);
    assert_int_equal(op->word[OP_WORD_Y], y);
    assert_int_equal(op->word[OP_WORD_W], w);
    assert_int_equal(op->word[OP_WORD_H], h);
}

void
expectCopy(const geOp *op, const qelBo *src, const qelBo *dst, int x, int y, int w, int h)
{
    expectCopyTo(op, src, x, y, dst, x, y, w, h);
}

uint32_t
boPixel(const qelBo *bo, int x, int y)
{
    return *(const uint32_t *) ((const char *) bo->map + (size_t) y * bo->pitch + x * 4);
}

void
boFill(qelBo *bo, int x, int y, int w, int h, uint32_t color)
{
    for (int row = y; row < y + h; row++)
        for (int col = x; col < x + w; col++)
            *(uint32_t *) ((char *) bo->map + (size_t) row * bo->pitch + col * 4) = color;
}

void
expectRegion(RegionPtr region, int count, const BoxRec *boxes)
{
    int n = 0;
    BoxPtr rects = pixman_region_rectangles(region, &n);

    assert_int_equal(n, count);
    for (int i = 0; i < n; i++) {
        assert_int_equal(rects[i].x1, boxes[i].x1);
        assert_int_equal(rects[i].y1, boxes[i].y1);
        assert_int_equal(rects[i].x2, boxes[i].x2);
        assert_int_equal(rects[i].y2, boxes[i].y2);
    }
}
