/* SPDX-License-Identifier: MIT */
/* What each CRTC scans out, decided at its mode sets: with TearFree a pair
 * of buffers of its own mode's size, created, kept, refilled or released as
 * its mode, position and rotation change; otherwise, or when its pair
 * cannot be had, its source itself: the screen's buffer at the CRTC's
 * position, or the CRTC's rotation shadow whole. */
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

/* The GE reads the source for every copy; past its largest pitch it
 * cannot. */
static Bool
qelPresentCanCopy(const qelBo *source)
{
    return source->pitch <= TX3120_GE_MAX_PITCH;
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
    qelBo *source = qelFlipPairSource(present, pair);

    for (int i = 0; i < 2; i++)
        qelGeCopyRect(present->ge, source, pair->x, pair->y, pair->scanout[i], 0, 0,
                      pair->width, pair->height);
    qelGeWaitBo(present->ge, pair->scanout[0]);
    qelGeWaitBo(present->ge, pair->scanout[1]);
    RegionEmpty(&c->owedRegion);
    RegionEmpty(&c->pendingRegion);
    if (pair->source)
        qelRotationForgetDamage(present, c->crtcId);
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

/* A pair of that size kept for another source or rectangle: what it
 * mirrored before is remembered, in case the mode set fails. */
static void
qelFlipCrtcNoteMove(qelFlipCrtc *c, qelBo *source, int width, int height, int x, int y)
{
    const qelFlipPair *pair = &c->pair;

    c->movedInPlace = pair->scanout[0] && pair->width == width && pair->height == height &&
                      (pair->source != source || pair->x != x || pair->y != y);
    c->setFromSource = pair->source;
    c->setFromX = pair->x;
    c->setFromY = pair->y;
}

/* Gives the CRTC a pair of the mode's size holding the rectangle at (x, y)
 * of its source (NULL: the screen's buffer); FALSE when no pair can be
 * allocated. */
static Bool
qelFlipCrtcPrepare(qelPresent *present, qelFlipCrtc *c, qelBo *source, int width, int height,
                   int x, int y)
{
    qelFlipPair *pair = &c->pair;
    Bool refill = c->stale || pair->source != source || pair->x != x || pair->y != y;

    qelFlipCrtcNoteMove(c, source, width, height, x, y);
    if (!pair->scanout[0] || pair->width != width || pair->height != height) {
        qelFlipCrtcRetire(present, c);
        if (!qelFlipPairCreate(present, pair, width, height))
            return FALSE;
        c->warnedNoPair = FALSE;
        refill = TRUE;
    }
    pair->source = source;
    pair->x = x;
    pair->y = y;
    if (refill)
        qelFlipCrtcFill(present, c);
    return TRUE;
}

static Bool
qelPresentShowBuffer(qelPresent *present, qelBo *buffer, int x, int y, qelScanout *out)
{
    if (!qelBoAddFb(present->fd, buffer))
        return FALSE;
    *out = (qelScanout) { .fbId = buffer->fbId, .x = (uint32_t) x, .y = (uint32_t) y };
    return TRUE;
}

Bool
qelPresentBeginScanout(void *data, uint32_t crtcId, int width, int height, int x, int y,
                       qelScanout *out)
{
    qelPresent *present = data;
    qelFlipCrtc *c = qelPresentCrtcFor(present, crtcId);
    qelBo *rotated = qelRotationShadow(present, crtcId);
    qelBo *source = rotated ? rotated : present->shadow;

    /* The rotation shadow holds the CRTC's whole image from its origin. */
    if (rotated)
        x = y = 0;
    if (!c)
        return qelPresentShowBuffer(present, source, x, y, out);
    qelFlipCrtcSettle(present, c);
    if (qelPresentCanCopy(source)) {
        if (qelFlipCrtcPrepare(present, c, rotated, width, height, x, y)) {
            qelBo *front = c->pair.scanout[c->pair.frontIndex];

            *out = (qelScanout) { .fbId = front->fbId, .x = 0, .y = 0 };
            return TRUE;
        }
        qelWarnNoPair(present, c, width, height);
    }
    qelFlipCrtcRetire(present, c);
    return qelPresentShowBuffer(present, source, x, y, out);
}

/* A failed set leaves the CRTC on the pair it showed before: that pair
 * comes back (or, kept in place, mirrors what it mirrored before), and
 * since its damage was let go, all of it is owed again. */
static void
qelFlipCrtcRestore(qelPresent *present, qelFlipCrtc *c)
{
    BoxRec box;

    if (c->retired.scanout[0]) {
        qelFlipPairDestroy(present, &c->pair);
        c->pair = c->retired;
        memset(&c->retired, 0, sizeof(c->retired));
    } else if (c->movedInPlace) {
        c->pair.source = c->setFromSource;
        c->pair.x = c->setFromX;
        c->pair.y = c->setFromY;
    } else {
        return;
    }
    c->movedInPlace = FALSE;
    box = qelFlipPairBox(&c->pair);
    RegionReset(&c->owedRegion, &box);
}

void
qelPresentEndScanout(void *data, uint32_t crtcId, Bool shown, Bool lit)
{
    qelPresent *present = data;
    qelFlipCrtc *c = qelPresentCrtcFor(present, crtcId);

    if (c && !shown)
        qelFlipCrtcRestore(present, c);
    if (c && shown) {
        qelFlipPairDestroy(present, &c->retired);
        c->movedInPlace = FALSE;
        c->lit = lit && c->pair.scanout[0] != NULL;
    }
    /* Only now may a shadow the CRTC showed before go: nothing mirrors it
     * any more. */
    if (shown)
        qelRotationShown(present, crtcId);
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
    .shadowAllocate = qelPresentShadowAllocate,
    .shadowCreate = qelPresentShadowCreate,
    .shadowDestroy = qelPresentShadowDestroy,
};
