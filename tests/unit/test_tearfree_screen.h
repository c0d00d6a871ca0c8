/* SPDX-License-Identifier: MIT */
/* An accelerated screen on the simulated panel, built far enough for the
 * TearFree code: a fake ScreenRec over the fb layer whose screen pixmap
 * lives in the driver's shadow buffer, a GE queue, and a vblank clock that
 * only the test advances. Start arms TearFree and lights the panel, which
 * then shows its own pair. */
#ifndef QEL_TEST_TEARFREE_SCREEN_H
#define QEL_TEST_TEARFREE_SCREEN_H

#include "ge/ge.h"
#include "kms_fixture.h"
#include "tearfree/present.h"

#define PANEL_WIDTH 1024
#define PANEL_HEIGHT 768

typedef struct tearFreeScreen {
    kmsFixture *kms;
    qelScreenPriv *priv;
    ScreenPtr screen;
    PixmapPtr pixmap;
    qelPixmapPriv *pixmapPriv;
    ExaDriverRec exa;
    /* What the base BlockHandler below the driver's saw. */
    int baseCalls;
    void *baseTimeout;
} tearFreeScreen;

/* tearFree chooses the buffer arrangement (a shadow that the CRTC's own
 * pair mirrors, or a shadow the CRTC scans out); accel FALSE leaves EXA
 * off. Nothing of TearFree is set up yet and the panel is dark. */
tearFreeScreen *tearFreeScreenCreate(Bool accel, Bool tearFree);
/* Sets the panel's mode on its CRTC. */
void tearFreeScreenLight(tearFreeScreen *t);
/* qelTearFreeSetup, then the panel's mode; the GE log starts empty. */
void tearFreeScreenStart(tearFreeScreen *t);
/* The panel CRTC's presentation record and the buffers of its pair. */
qelFlipCrtc *tearFreeCrtc(tearFreeScreen *t);
qelBo *tearFreeFront(tearFreeScreen *t);
qelBo *tearFreeBack(tearFreeScreen *t);
/* Tears TearFree down when it is still armed and releases everything. */
void tearFreeScreenDestroy(tearFreeScreen *t);

/* The screen as the next server generation makes it: a new ScreenRec over
 * the same driver state, with `handler` as the base BlockHandler; the panel
 * is lit again by Start. */
void tearFreeScreenRegenerate(tearFreeScreen *t, ScreenBlockHandlerProcPtr handler);

/* The base BlockHandler the fixture installs; counts its calls in the
 * fixture of the screen it is called for. */
void tearFreeBaseBlockHandler(ScreenPtr screen, void *timeout);

/* Adds a rectangle to the damage the driver collects. */
void damageAdd(tearFreeScreen *t, int x, int y, int w, int h);
/* One main-loop pass: the screen's BlockHandler. */
void runPass(tearFreeScreen *t);
/* Advances the vblank clock and hands the queued events to the driver. */
void vblankAndEvents(tearFreeScreen *t);
/* Queues a solid fill of the shadow, as EXA would during a pass. */
void queueShadowFill(tearFreeScreen *t, int x, int y, int w, int h, uint32_t color);

/* ---- what the GE received ---- */

typedef struct geOp {
    uint32_t word[13];
} geOp;

#define OP_WORD_TYPE 0
#define OP_WORD_DST 2
#define OP_WORD_X 4
#define OP_WORD_Y 5
#define OP_WORD_W 6
#define OP_WORD_H 7
#define OP_WORD_SRC 9
#define OP_WORD_SRC_X 11
#define OP_WORD_SRC_Y 12

/* The operations of every submit since the last geLogClear, in order;
 * *submits receives the number of submits. Returns the op count. */
int geLogRead(geOp *ops, int max, int *submits);
void geLogClear(void);
/* Asserts that op copies (x, y, w, h) from src to the same place of dst,
 * or, with To, from (srcX, srcY) of src to (x, y) of dst. */
void expectCopy(const geOp *op, const qelBo *src, const qelBo *dst, int x, int y, int w,
                int h);
void expectCopyTo(const geOp *op, const qelBo *src, int srcX, int srcY, const qelBo *dst, int x,
                  int y, int w, int h);

/* A pixel of a mapped buffer. */
uint32_t boPixel(const qelBo *bo, int x, int y);
void boFill(qelBo *bo, int x, int y, int w, int h, uint32_t color);

/* Asserts that the region is exactly the listed boxes (x1, y1, x2, y2 each),
 * in the region's order. */
void expectRegion(RegionPtr region, int count, const BoxRec *boxes);

#endif
