/* SPDX-License-Identifier: MIT */
/* The screen's presentation record, the CRTC records in it, their pairs of
 * scanout buffers, and the tickets of requested flips. */
#include "tearfree/present.h"

#include <stdlib.h>
#include <string.h>

#include "ge/ge.h"

qelFlipCrtc *
qelPresentFindCrtc(qelPresent *present, uint32_t crtcId)
{
    if (!present)
        return NULL;
    for (int i = 0; i < present->numCrtcs; i++)
        if (present->crtcs[i].crtcId == crtcId)
            return &present->crtcs[i];
    return NULL;
}

qelPresent *
qelPresentCreate(int fd, int scrnIndex)
{
    qelPresent *present = calloc(1, sizeof(*present));

    if (!present)
        return NULL;
    present->fd = fd;
    present->scrnIndex = scrnIndex;
    return present;
}

void
qelPresentSetGe(qelPresent *present, qelGe *ge)
{
    present->ge = ge;
}

void
qelPresentSetScreenBuffer(qelPresent *present, qelBo *shadow)
{
    present->shadow = shadow;
    for (int i = 0; i < present->numCrtcs; i++)
        present->crtcs[i].stale = TRUE;
}

BoxRec
qelFlipPairBox(const qelFlipPair *pair)
{
    return (BoxRec) { (short) pair->x, (short) pair->y, (short) (pair->x + pair->width),
                      (short) (pair->y + pair->height) };
}

void
qelPresentCopyRegion(qelPresent *present, qelBo *src, RegionPtr region, qelBo *dst,
                     int originX, int originY)
{
    int count = RegionNumRects(region);
    const BoxRec *box = RegionRects(region);

    for (int i = 0; i < count; i++, box++)
        qelGeCopyRect(present->ge, src, box->x1, box->y1, dst, box->x1 - originX,
                      box->y1 - originY, box->x2 - box->x1, box->y2 - box->y1);
}

void
qelFlipPairDestroy(qelPresent *present, qelFlipPair *pair)
{
    if (!pair->scanout[0] && !pair->scanout[1])
        return;
    qelGeForgetBo(present->ge, pair->scanout[0]);
    qelGeForgetBo(present->ge, pair->scanout[1]);
    qelBoDestroy(present->fd, pair->scanout[0]);
    qelBoDestroy(present->fd, pair->scanout[1]);
    memset(pair, 0, sizeof(*pair));
}

void
qelFlipCrtcRelease(qelPresent *present, qelFlipCrtc *c)
{
    qelFlipPairDestroy(present, &c->pair);
    qelFlipPairDestroy(present, &c->retired);
    RegionEmpty(&c->owedRegion);
    RegionEmpty(&c->pendingRegion);
    c->lit = FALSE;
    c->stale = FALSE;
}

qelFlipTicket *
qelFlipTicketCreate(qelPresent *present, uint32_t crtcId)
{
    qelFlipTicket *ticket = malloc(sizeof(*ticket));

    if (!ticket)
        return NULL;
    ticket->event.done = qelFlipTicketDone;
    ticket->present = present;
    ticket->crtcId = crtcId;
    ticket->serial = ++present->lastSerial;
    ticket->geBatch = present->ge ? present->ge->submitted.serial : 0;
    ticket->next = present->tickets;
    present->tickets = ticket;
    return ticket;
}

void
qelFlipTicketRelease(qelPresent *present, qelFlipTicket *ticket)
{
    for (qelFlipTicket **link = &present->tickets; *link; link = &(*link)->next) {
        if (*link == ticket) {
            *link = ticket->next;
            break;
        }
    }
    free(ticket);
}

void
qelPresentFree(qelPresent *present)
{
    if (!present)
        return;
    while (present->tickets)
        qelFlipTicketRelease(present, present->tickets);
    qelRotationFreeAll(present);
    free(present->crtcs);
    free(present);
}
