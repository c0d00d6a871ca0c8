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
qelPresentGet(qelScreenPriv *priv, int scrnIndex)
{
    if (!priv->present)
        priv->present = calloc(1, sizeof(*priv->present));
    if (priv->present) {
        priv->present->priv = priv;
        priv->present->scrnIndex = scrnIndex;
    }
    return priv->present;
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
qelPresentDestroyCrtcs(qelScreenPriv *priv, qelPresent *present)
{
    if (!present->crtcs)
        return;
    for (int i = 0; i < present->numCrtcs; i++) {
        qelFlipCrtc *c = &present->crtcs[i];

        qelFlipCrtcSettle(priv, c);
        qelFlipCrtcRelease(priv, c);
        RegionUninit(&c->owedRegion);
        RegionUninit(&c->pendingRegion);
    }
    free(present->crtcs);
    present->crtcs = NULL;
    present->numCrtcs = 0;
}

void
qelPresentCopyRegion(qelScreenPriv *priv, RegionPtr region, qelBo *dst, int originX,
                     int originY)
{
    int count = RegionNumRects(region);
    const BoxRec *box = RegionRects(region);

    for (int i = 0; i < count; i++, box++)
        qelGeCopyRect(priv, priv->shadow, box->x1, box->y1, dst, box->x1 - originX,
                      box->y1 - originY, box->x2 - box->x1, box->y2 - box->y1);
}

void
qelFlipPairDestroy(qelScreenPriv *priv, qelFlipPair *pair)
{
    if (!pair->scanout[0] && !pair->scanout[1])
        return;
    /* Queued copies may still name the buffers. */
    qelGeFlush(priv);
    qelBoDestroy(priv->fd, pair->scanout[0]);
    qelBoDestroy(priv->fd, pair->scanout[1]);
    memset(pair, 0, sizeof(*pair));
}

void
qelFlipCrtcRelease(qelScreenPriv *priv, qelFlipCrtc *c)
{
    qelFlipPairDestroy(priv, &c->pair);
    qelFlipPairDestroy(priv, &c->retired);
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
    ticket->present = present;
    ticket->crtcId = crtcId;
    ticket->serial = ++present->lastSerial;
    ticket->geBatch = present->priv->geSubmitted.serial;
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
qelPresentFree(qelScreenPriv *priv)
{
    qelPresent *present = priv->present;

    if (!present)
        return;
    while (present->tickets)
        qelFlipTicketRelease(present, present->tickets);
    free(present->crtcs);
    free(present);
    priv->present = NULL;
}
