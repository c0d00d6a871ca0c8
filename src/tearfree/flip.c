/* SPDX-License-Identifier: MIT */
/* Page-flip completion, and the settling of a CRTC's flip that is still
 * marked pending without ever waiting for the kernel. Each flip carries a
 * ticket naming its CRTC and its serial, so an event read after its flip
 * was settled can never complete a newer flip of that CRTC. */
#include "tearfree/present.h"

#include <poll.h>

#include <xf86drm.h>
#include <xf86drmMode.h>

#include "ge/ge.h"

void
qelFlipTicketDone(qelDrmEvent *event, uint64_t sequence, uint64_t ust)
{
    qelFlipTicket *ticket = (qelFlipTicket *) event;
    qelPresent *present = ticket->present;
    qelFlipCrtc *c = qelPresentFindCrtc(present, ticket->crtcId);

    (void) sequence;
    (void) ust;
    if (c && c->flipPending && c->flipSerial == ticket->serial) {
        c->pair.frontIndex ^= 1;
        c->flipPending = FALSE;
    }
    /* Software writing behind the cycle's copies need not wait for them. */
    if (present->ge)
        qelGeNoteDone(present->ge, ticket->geBatch);
    qelFlipTicketRelease(present, ticket);
}

/* Reads the events the kernel has already queued. Stops when nothing more
 * is readable, when the CRTC's flip is seen, or when reading fails although
 * the descriptor polls readable (which would otherwise spin for ever). */
static void
qelDrainQueuedEvents(qelPresent *present, qelFlipCrtc *c)
{
    struct pollfd pfd = { .fd = present->fd, .events = POLLIN };

    while (poll(&pfd, 1, 0) > 0) {
        if (qelDrmReadEvents(present->fd) != 0)
            return;
        if (!c->flipPending)
            return;
        pfd.revents = 0;
    }
}

/* The event is not readable yet: the CRTC's current framebuffer tells
 * whether the flip has taken effect. */
static void
qelSettleFromCrtcState(qelPresent *present, qelFlipCrtc *c)
{
    drmModeCrtcPtr crtc = drmModeGetCrtc(present->fd, c->crtcId);
    int back = c->pair.frontIndex ^ 1;

    if (!crtc)
        return;
    if (c->pair.scanout[back] && crtc->buffer_id == c->pair.scanout[back]->fbId)
        c->pair.frontIndex = back;
    drmModeFreeCrtc(crtc);
}

/* The buffer that stays in front never received the last cycle's damage,
 * which went into the back buffer only; nothing would present it again
 * until new damage came. Owing it again makes the next cycle copy and flip
 * it. */
void
qelFlipCrtcSettle(qelPresent *present, qelFlipCrtc *c)
{
    int front = c->pair.frontIndex;

    if (!c->flipPending)
        return;
    qelDrainQueuedEvents(present, c);
    if (!c->flipPending)
        return;
    qelSettleFromCrtcState(present, c);
    c->flipPending = FALSE;
    if (c->pair.frontIndex == front)
        RegionUnion(&c->owedRegion, &c->owedRegion, &c->pendingRegion);
}

void
qelPresentSettleCrtc(void *data, uint32_t crtcId)
{
    qelPresent *present = data;
    qelFlipCrtc *c = present->tearFree ? qelPresentFindCrtc(present, crtcId) : NULL;

    if (c)
        qelFlipCrtcSettle(present, c);
}

void
qelPresentSettleAll(qelPresent *present)
{
    if (!present || !present->tearFree)
        return;
    for (int i = 0; i < present->numCrtcs; i++)
        qelFlipCrtcSettle(present, &present->crtcs[i]);
}
