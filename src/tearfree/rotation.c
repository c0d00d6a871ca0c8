/* SPDX-License-Identifier: MIT */
/* The CRTCs' rotation shadows, for the server's CRTC layer, which makes
 * them (xf86CrtcRotate through the CRTC's shadow hooks) and draws each
 * CRTC's rotated, reflected or transformed image into its shadow before
 * every main-loop pass (xf86RotateRedisplay). A shadow is a dumb buffer of
 * the mode's size: scanned out as it is without TearFree, the source of
 * the CRTC's pair with it. Replaced or destroyed while a mode set is under
 * way, the shadow the CRTC still shows is kept until the set is over: a set
 * that fails takes it back whole, and nothing shows a freed buffer. */
#include "tearfree/present.h"

#include <stdlib.h>

#include "ge/ge.h"

qelRotation *
qelRotationFind(const qelPresent *present, uint32_t crtcId)
{
    if (!present)
        return NULL;
    for (qelRotation *r = present->rotations; r; r = r->next)
        if (r->crtcId == crtcId)
            return r;
    return NULL;
}

qelBo *
qelRotationShadow(const qelPresent *present, uint32_t crtcId)
{
    qelRotation *r = qelRotationFind(present, crtcId);

    return r ? r->shadow : NULL;
}

static qelRotation *
qelRotationFor(qelPresent *present, uint32_t crtcId)
{
    qelRotation *r = qelRotationFind(present, crtcId);

    if (r)
        return r;
    r = calloc(1, sizeof(*r));
    if (!r)
        return NULL;
    r->crtcId = crtcId;
    r->next = present->rotations;
    present->rotations = r;
    return r;
}

/* A record that holds nothing any more goes. */
static void
qelRotationDropIfEmpty(qelPresent *present, qelRotation *r)
{
    if (r->shadow || r->shown || r->view.pixmap)
        return;
    for (qelRotation **link = &present->rotations; *link; link = &(*link)->next) {
        if (*link == r) {
            *link = r->next;
            break;
        }
    }
    free(r);
}

/* No pair may go on mirroring a buffer that goes: in the server's own
 * order a CRTC is switched off, which releases its pair, before its
 * shadow is destroyed, so this is only a safeguard. */
static void
qelRotationUnmirror(qelPresent *present, uint32_t crtcId, const qelBo *shadow)
{
    qelFlipCrtc *c = present->tearFree ? qelPresentFindCrtc(present, crtcId) : NULL;

    if (c && (c->pair.source == shadow || c->retired.source == shadow)) {
        qelFlipCrtcSettle(present, c);
        qelFlipCrtcRelease(present, c);
    }
}

static void
qelShadowRelease(qelPresent *present, uint32_t crtcId, qelBo *shadow)
{
    if (!shadow)
        return;
    qelRotationUnmirror(present, crtcId, shadow);
    /* Queued copies may still read it. */
    if (present->ge)
        qelGeFlush(present->ge);
    qelBoDestroy(present->fd, shadow);
}

void *
qelPresentShadowAllocate(void *data, uint32_t crtcId, int width, int height)
{
    qelPresent *present = data;
    qelRotation *r = qelRotationFor(present, crtcId);
    qelBo *shadow;

    if (!r)
        return NULL;
    if (r->shadow && r->shadow != r->shown)
        qelShadowRelease(present, crtcId, r->shadow);
    /* A set that failed comes back to the shadow the CRTC still shows. */
    if (r->shown && r->shown->width == width && r->shown->height == height)
        shadow = r->shown;
    else
        shadow = qelBoCreateScanout(present->fd, width, height, !present->tearFree);
    r->shadow = shadow;
    if (!shadow)
        qelRotationDropIfEmpty(present, r);
    return shadow;
}

static void
qelShadowUnwatch(qelRotation *r)
{
    if (r->damage)
        DamageDestroy(r->damage);
    r->damage = NULL;
}

static void
qelShadowPixmapDestroy(qelPresent *present, qelRotation *r)
{
    qelShadowUnwatch(r);
    qelBorrowedPixmapDestroy(&r->view, present->ge);
}

/* With TearFree the pair learns from a damage record what the server drew
 * into the shadow. */
static void
qelShadowWatch(qelPresent *present, ScreenPtr screen, qelRotation *r)
{
    if (!present->tearFree)
        return;
    r->damage = DamageCreate(NULL, NULL, DamageReportNone, TRUE, screen, NULL);
    if (r->damage)
        DamageRegister(&r->view.pixmap->drawable, r->damage);
}

PixmapPtr
qelPresentShadowCreate(void *data, ScreenPtr screen, uint32_t crtcId, void *shadow, int width,
                       int height)
{
    qelPresent *present = data;
    qelRotation *r;

    /* No shadow given: the server wants one made (or the old one back). */
    if (!shadow && !qelPresentShadowAllocate(present, crtcId, width, height))
        return NULL;
    r = qelRotationFind(present, crtcId);
    if (!r || !r->shadow)
        return NULL;
    qelShadowPixmapDestroy(present, r);
    if (!qelBorrowedPixmapCreate(&r->view, screen, present->ge, r->shadow))
        return NULL;
    qelShadowWatch(present, screen, r);
    return r->view.pixmap;
}

void
qelPresentShadowDestroy(void *data, uint32_t crtcId, Bool setUnderWay)
{
    qelPresent *present = data;
    qelRotation *r = qelRotationFind(present, crtcId);

    if (!r)
        return;
    qelShadowPixmapDestroy(present, r);
    if (!setUnderWay || r->shadow != r->shown) {
        if (r->shown == r->shadow)
            r->shown = NULL;
        qelShadowRelease(present, crtcId, r->shadow);
    }
    r->shadow = NULL;
    /* Outside a mode set the CRTC is off or the screen closes: nothing
     * shows an old shadow any more. */
    if (!setUnderWay) {
        qelShadowRelease(present, crtcId, r->shown);
        r->shown = NULL;
    }
    qelRotationDropIfEmpty(present, r);
}

void
qelRotationShown(qelPresent *present, uint32_t crtcId)
{
    qelRotation *r = qelRotationFind(present, crtcId);

    if (!r)
        return;
    if (r->shown != r->shadow)
        qelShadowRelease(present, crtcId, r->shown);
    r->shown = r->shadow;
    qelRotationDropIfEmpty(present, r);
}

static void
qelRotationOwe(qelFlipCrtc *c, RegionPtr region)
{
    RegionUnion(&c->owedRegion, &c->owedRegion, region);
}

void
qelRotationTakeDamage(qelPresent *present)
{
    for (qelRotation *r = present->rotations; r; r = r->next) {
        qelFlipCrtc *c = qelPresentFindCrtc(present, r->crtcId);
        Bool mirrored = c && c->pair.scanout[0] && r->shadow && c->pair.source == r->shadow;

        if (r->damage) {
            if (mirrored)
                qelRotationOwe(c, DamageRegion(r->damage));
            DamageEmpty(r->damage);
        } else if (mirrored && r->view.pixmap) {
            /* Without a damage record all of the shadow is owed. */
            BoxRec box = qelFlipPairBox(&c->pair);
            RegionRec whole;

            RegionInit(&whole, &box, 1);
            qelRotationOwe(c, &whole);
            RegionUninit(&whole);
        }
    }
}

void
qelRotationForgetDamage(qelPresent *present, uint32_t crtcId)
{
    qelRotation *r = qelRotationFind(present, crtcId);

    if (r && r->damage)
        DamageEmpty(r->damage);
}

void
qelRotationDisarm(qelPresent *present)
{
    for (qelRotation *r = present->rotations; r; r = r->next)
        qelShadowUnwatch(r);
}

/* The server destroys the shadows later in CloseScreen, when EXA can no
 * longer destroy their pixmaps: they go now, and the buffers then. */
void
qelPresentCloseShadows(qelPresent *present)
{
    if (!present)
        return;
    for (qelRotation *r = present->rotations; r; r = r->next) {
        qelShadowUnwatch(r);
        qelBorrowedPixmapFreeAtClose(&r->view, present->ge);
    }
}

/* The screen has gone, and the pixmaps with it. */
void
qelRotationFreeAll(qelPresent *present)
{
    while (present->rotations) {
        qelRotation *r = present->rotations;

        present->rotations = r->next;
        if (r->shown != r->shadow)
            qelBoDestroy(present->fd, r->shown);
        qelBoDestroy(present->fd, r->shadow);
        free(r);
    }
}
