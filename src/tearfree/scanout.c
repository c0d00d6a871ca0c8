/* SPDX-License-Identifier: MIT */
/* What each CRTC scans out, decided at its mode sets: with TearFree a pair
 * of buffers of its own mode's size, created, kept, refilled or released as
 * its mode and position change; otherwise, or when its pair cannot be had,
 * the shadow itself at the CRTC's position. */
#include "tearfree/present.h"

#include <string.h>

#include "ge/ge.h"

/* The CRTC's record while TearFree runs; made on its first mode set. */
static qelFlipCrtc *
qelPresentCrtcFor(qelPresent *present, uint32_t crtcId)
{
    qelFlipCrtc *c;

    if (!present->tearFree || !present->crtcs)
        return NULL;
    c = qelPresentFindCrtc(present, crtcId);
    if (c)
        return c;
    for (int i = 0; i < present->numCrtcs; i++) {
        if (present->crtcs[i].crtcId == 0) {
            present->crtcs[i].crtcId = crtcId;
            return &present->crtcs[i];
        }
    }
    return NULL;
}

/* The GE reads the shadow for every copy; past its largest pitch it cannot. */
static Bool
qelPresentCanCopy(const qelPresent *present)
{
    return present->shadow->pitch <= TX3120_GE_MAX_PITCH;
}

static Bool
qelFlipPairCreate(qelPresent *present, qelFlipPair *pair, int width, int height)
{
    memset(pair, 0, sizeof(*pair));
    pair->scanout[0] = qelBoCreateScanout(present->fd, width, height, TRUE);
    if (pair->scanout[0])
        pair->scanout[1] = qelBoCreateScanout(present->fd, width, height, TRUE);
    if (pair->scanout[1]) {
        pair->width = width;
        pair->height = height;
        return TRUE;
    }
    qelBoDestroy(present->fd, pair->scanout[0]);
    pair->scanout[0] = NULL;
    return FALSE;
}

/* Both buffers receive the screen's contents, and the CRTC shows neither
 * before the GE has written them: no stale or black frame comes first. */
static void
qelFlipCrtcFill(qelPresent *present, qelFlipCrtc *c)
{
    qelFlipPair *pair = &c->pair;

    for (int i = 0; i < 2; i++)
        qelGeCopyRect(present->ge, present->shadow, pair->x, pair->y, pair->scanout[i], 0, 0,
                      pair->width, pair->height);
    qelGeWaitBo(present->ge, pair->scanout[0]);
    qelGeWaitBo(present->ge, pair->scanout[1]);
    RegionEmpty(&c->owedRegion);
    RegionEmpty(&c->pendingRegion);
    c->stale = FALSE;
}

/* Sets the pair aside until the mode set is known to have succeeded. */
static void
qelFlipCrtcRetire(qelPresent *present, qelFlipCrtc *c)
{
    if (!c->pair.scanout[0])
        return;
    qelFlipPairDestroy(present, &c->retired);
    c->retired = c->pair;
    memset(&c->pair, 0, sizeof(c->pair));
}

/* Said once, until a pair can be had again: the CRTC still shows the
 * screen, only without tear-freedom. */
static void
qelWarnNoPair(qelPresent *present, qelFlipCrtc *c, int width, int height)
{
    if (c->warnedNoPair)
        return;
    c->warnedNoPair = TRUE;
    xf86DrvMsg(present->scrnIndex, X_WARNING,
               "TearFree: no %dx%d scanout buffers for CRTC %u; it shows the screen "
               "without tear-freedom\n", width, height, c->crtcId);
}

/* Gives the CRTC a pair of the mode's size holding the screen's rectangle
 * at (x, y); FALSE when no pair can be allocated. */
static Bool
qelFlipCrtcPrepare(qelPresent *present, qelFlipCrtc *c, int width, int height, int x, int y)
{
    qelFlipPair *pair = &c->pair;
    Bool refill = c->stale || pair->x != x || pair->y != y;

    if (!pair->scanout[0] || pair->width != width || pair->height != height) {
        qelFlipCrtcRetire(present, c);
        if (!qelFlipPairCreate(present, pair, width, height))
            return FALSE;
        c->warnedNoPair = FALSE;
        refill = TRUE;
    }
    pair->x = x;
    pair->y = y;
    if (refill)
        qelFlipCrtcFill(present, c);
    return TRUE;
}

static Bool
qelPresentShowShadow(qelPresent *present, int x, int y, qelScanout *out)
{
    if (!qelBoAddFb(present->fd, present->shadow))
        return FALSE;
    *out = (qelScanout) { .fbId = present->shadow->fbId, .x = (uint32_t) x, .y = (uint32_t) y };
    return TRUE;
}

Bool
qelPresentBeginScanout(void *data, uint32_t crtcId, int width, int height, int x, int y,
                       qelScanout *out)
{
    qelPresent *present = data;
    qelFlipCrtc *c = qelPresentCrtcFor(present, crtcId);

    if (!c)
        return qelPresentShowShadow(present, x, y, out);
    qelFlipCrtcSettle(present, c);
    if (qelPresentCanCopy(present)) {
        if (qelFlipCrtcPrepare(present, c, width, height, x, y)) {
            qelBo *front = c->pair.scanout[c->pair.frontIndex];

            *out = (qelScanout) { .fbId = front->fbId, .x = 0, .y = 0 };
            return TRUE;
        }
        qelWarnNoPair(present, c, width, height);
    }
    qelFlipCrtcRetire(present, c);
    return qelPresentShowShadow(present, x, y, out);
}

/* A failed set leaves the CRTC on the pair it showed before: that pair
 * comes back, and since its damage was let go, all of it is owed again. */
static void
qelFlipCrtcRestore(qelPresent *present, qelFlipCrtc *c)
{
    BoxRec box;

    qelFlipPairDestroy(present, &c->pair);
    c->pair = c->retired;
    memset(&c->retired, 0, sizeof(c->retired));
    box = qelFlipPairBox(&c->pair);
    RegionReset(&c->owedRegion, &box);
}

void
qelPresentEndScanout(void *data, uint32_t crtcId, Bool shown, Bool lit)
{
    qelPresent *present = data;
    qelFlipCrtc *c = qelPresentCrtcFor(present, crtcId);

    if (!c)
        return;
    if (!shown) {
        if (c->retired.scanout[0])
            qelFlipCrtcRestore(present, c);
        return;
    }
    qelFlipPairDestroy(present, &c->retired);
    c->lit = lit && c->pair.scanout[0] != NULL;
}

void
qelPresentCrtcOff(void *data, uint32_t crtcId, Bool release)
{
    qelFlipCrtc *c = qelPresentCrtcFor(data, crtcId);

    if (!c)
        return;
    c->lit = FALSE;
    if (release)
        qelFlipCrtcRelease(data, c);
}

const qelScanoutFuncs qelPresentScanoutFuncs = {
    .begin = qelPresentBeginScanout,
    .end = qelPresentEndScanout,
    .settle = qelPresentSettleCrtc,
    .off = qelPresentCrtcOff,
};
