/* SPDX-License-Identifier: MIT */
/* TearFree for one server generation: a record per CRTC and the Damage
 * record on the screen pixmap, which collects what is drawn. */
#include "tearfree/present.h"

#include <stdlib.h>

/* The region the next pass copies from stays simple: drawing that scatters
 * many small pieces between two passes (a client flooding tiny shapes)
 * would otherwise make each union with it cost more than the drawing
 * itself, the more so the more it held. Past this many boxes it becomes its
 * bounding box; the copy then takes some unchanged pixels along, which
 * shows nothing new. */
#define QEL_DAMAGE_MAX_BOXES 32

static void
qelDamageReport(DamagePtr damage, RegionPtr drawn, void *closure)
{
    RegionPtr owed = DamageRegion(damage);
    BoxRec extents;

    (void) drawn;
    (void) closure;
    if (RegionNumRects(owed) <= QEL_DAMAGE_MAX_BOXES)
        return;
    extents = *RegionExtents(owed);
    RegionReset(owed, &extents);
}

static void
qelDamageDestroy(DamagePtr damage, void *closure)
{
    qelPresent *present = closure;

    (void) damage;
    present->damage = NULL;
}

Bool
qelPresentCreateCrtcs(qelPresent *present, int count)
{
    present->crtcs = calloc(count > 0 ? (size_t) count : 1, sizeof(*present->crtcs));
    if (!present->crtcs)
        return FALSE;
    present->numCrtcs = count;
    for (int i = 0; i < count; i++) {
        RegionNull(&present->crtcs[i].owedRegion);
        RegionNull(&present->crtcs[i].pendingRegion);
    }
    return TRUE;
}

void
qelPresentDestroyCrtcs(qelPresent *present)
{
    if (!present->crtcs)
        return;
    for (int i = 0; i < present->numCrtcs; i++) {
        qelFlipCrtc *c = &present->crtcs[i];

        qelFlipCrtcSettle(present, c);
        qelFlipCrtcRelease(present, c);
        RegionUninit(&c->owedRegion);
        RegionUninit(&c->pendingRegion);
    }
    free(present->crtcs);
    present->crtcs = NULL;
    present->numCrtcs = 0;
}

Bool
qelTearFreeArm(qelPresent *present, ScreenPtr screen, qelGe *ge, int numCrtcs)
{
    present->ge = ge;
    if (!qelPresentCreateCrtcs(present, numCrtcs))
        return FALSE;
    present->damage = DamageCreate(qelDamageReport, qelDamageDestroy, DamageReportRawRegion, TRUE,
                                   screen, present);
    if (!present->damage) {
        qelPresentDestroyCrtcs(present);
        return FALSE;
    }
    DamageRegister(&screen->GetScreenPixmap(screen)->drawable, present->damage);
    present->tearFree = TRUE;
    return TRUE;
}

void
qelTearFreeDisarm(qelPresent *present)
{
    if (!present || !present->tearFree)
        return;
    qelPresentDestroyCrtcs(present);
    qelRotationDisarm(present);
    if (present->damage)
        DamageDestroy(present->damage);
    present->tearFree = FALSE;
}
