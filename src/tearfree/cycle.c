/* SPDX-License-Identifier: MIT */
/* The per-pass flip cycle. What was drawn into the shadow since the last
 * pass is owed to every CRTC whose rectangle it touches; each lit CRTC that
 * owes something and has no flip in flight gets it, plus what its back
 * buffer still lacks, copied by the GE into that back buffer, which a page
 * flip then shows. The CRTCs go on independently of one another. */
#include "tearfree/present.h"

#include <errno.h>
#include <string.h>

#include <xf86drm.h>
#include <xf86drmMode.h>

#include "ge/ge.h"


static void
qelFlipCrtcOwe(qelFlipCrtc *c, RegionPtr damage, RegionPtr work)
{
    BoxRec box = qelFlipPairBox(&c->pair);
    RegionRec rect;

    RegionInit(&rect, &box, 1);
    RegionIntersect(work, damage, &rect);
    RegionUnion(&c->owedRegion, &c->owedRegion, work);
    RegionUninit(&rect);
}

/* The screen's damage goes to the CRTCs that show it, a rotation shadow's
 * to the CRTC fed from it; damage where no pair is needs no keeping, as a
 * new pair is filled whole. */
static void
qelPresentTakeDamage(qelPresent *present)
{
    RegionPtr damage = DamageRegion(present->damage);
    RegionRec work;

    qelRotationTakeDamage(present);
    if (!RegionNotEmpty(damage))
        return;
    RegionNull(&work);
    for (int i = 0; i < present->numCrtcs; i++)
        if (present->crtcs[i].pair.scanout[0] && !present->crtcs[i].pair.source)
            qelFlipCrtcOwe(&present->crtcs[i], damage, &work);
    RegionUninit(&work);
    DamageEmpty(present->damage);
}

/* Refused flips are said once per kind of error while they go on, and
 * once when flips work again: the display has lost tear-freedom meanwhile,
 * and a kernel that refuses every flip must not flood the log. */
static void
qelFlipCrtcNoteRefusal(const qelPresent *present, qelFlipCrtc *c, int error)
{
    uint64_t kind = UINT64_C(1) << (error > 0 && error < 64 ? error : 0);

    if (c->flipRefusals & kind)
        return;
    c->flipRefusals |= kind;
    xf86DrvMsg(present->scrnIndex, X_WARNING,
               "TearFree: the kernel refuses page flips on CRTC %u: %s; its updates are shown "
               "without tear-freedom\n", c->crtcId, strerror(error));
}

static void
qelFlipCrtcNoteFlip(const qelPresent *present, qelFlipCrtc *c)
{
    if (!c->flipRefusals)
        return;
    c->flipRefusals = 0;
    xf86DrvMsg(present->scrnIndex, X_INFO, "TearFree: page flips on CRTC %u work again\n",
               c->crtcId);
}

static Bool
qelFlipCrtcRequestFlip(qelPresent *present, qelFlipCrtc *c, qelBo *back)
{
    qelFlipTicket *ticket = qelFlipTicketCreate(present, c->crtcId);

    if (!ticket) {
        qelFlipCrtcNoteRefusal(present, c, ENOMEM);
        return FALSE;
    }
    if (drmModePageFlip(present->fd, c->crtcId, back->fbId, DRM_MODE_PAGE_FLIP_EVENT, ticket) != 0) {
        qelFlipCrtcNoteRefusal(present, c, errno);
        qelFlipTicketRelease(present, ticket);
        return FALSE;
    }
    qelFlipCrtcNoteFlip(present, c);
    c->flipPending = TRUE;
    c->flipSerial = ticket->serial;
    return TRUE;
}

static void
qelFlipCycle(qelPresent *present, qelFlipCrtc *c)
{
    qelFlipPair *pair = &c->pair;
    qelBo *back = pair->scanout[pair->frontIndex ^ 1];
    qelBo *source = qelFlipPairSource(present, pair);
    RegionRec work;

    RegionNull(&work);
    RegionUnion(&work, &c->owedRegion, &c->pendingRegion);
    qelPresentCopyRegion(present, source, &work, back, pair->x, pair->y);
    qelGeFlush(present->ge);

    if (qelFlipCrtcRequestFlip(present, c, back)) {
        RegionCopy(&c->pendingRegion, &c->owedRegion);
    } else {
        /* The flip was refused: the damage goes straight into the buffer on
         * screen, and the back buffer keeps owing it. */
        qelPresentCopyRegion(present, source, &c->owedRegion, pair->scanout[pair->frontIndex],
                             pair->x, pair->y);
        qelGeFlush(present->ge);
        RegionUnion(&c->pendingRegion, &c->pendingRegion, &c->owedRegion);
    }
    RegionEmpty(&c->owedRegion);
    RegionUninit(&work);
}

static Bool
qelFlipCrtcReady(qelFlipCrtc *c)
{
    return c->lit && c->pair.scanout[0] && !c->flipPending && RegionNotEmpty(&c->owedRegion);
}

void
qelPresentPass(qelPresent *present)
{
    if (!present->tearFree || !present->damage || !present->crtcs)
        return;
    qelPresentTakeDamage(present);
    for (int i = 0; i < present->numCrtcs; i++)
        if (qelFlipCrtcReady(&present->crtcs[i]))
            qelFlipCycle(present, &present->crtcs[i]);
}
