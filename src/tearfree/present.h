/* SPDX-License-Identifier: MIT */
/* The records of tear-free presentation, shared by the files of this
 * folder: the screen's presentation state, one record per CRTC, and the
 * tickets that name a flip in its completion event. */
#ifndef QEL_PRESENT_H
#define QEL_PRESENT_H

#include "tearfree/tearfree.h"

/* The user data of one requested flip. The kernel hands it back in the
 * flip's event, which may arrive after the flip was settled without it, so
 * a ticket lives until its event is read (or the screen is freed) and names
 * the flip it belongs to, never a record that may have gone. */
typedef struct qelFlipTicket {
    /* First: what the flip's event names. */
    qelDrmEvent event;
    struct qelPresent *present;
    struct qelFlipTicket *next;
    uint32_t crtcId;
    uint32_t serial;
    /* The last GE batch submitted before the flip: the kernel shows a flip
     * only once the GE work before it is done, so its event vouches for
     * that batch. */
    uint64_t geBatch;
} qelFlipTicket;

/* Two scanout buffers of a CRTC's mode size, mirroring the screen's
 * rectangle (x, y, width, height); the CRTC scans out scanout[frontIndex]
 * at (0, 0). */
typedef struct qelFlipPair {
    qelBo *scanout[2];
    int frontIndex;
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
} qelFlipPair;

/* One CRTC's presentation. Without a pair the CRTC scans out the shadow
 * itself. */
typedef struct qelFlipCrtc {
    uint32_t crtcId;
    qelFlipPair pair;
    /* Damage inside the rectangle that no cycle has copied yet. */
    RegionRec owedRegion;
    /* What the back buffer lacks beyond owedRegion: the last cycle's
     * damage, which went into the other buffer only. */
    RegionRec pendingRegion;
    Bool lit;
    /* The pair's contents no longer follow the shadow (a new shadow): the
     * next mode set fills it again. */
    Bool stale;
    Bool flipPending;
    uint32_t flipSerial;
    /* The kinds of error (errno bits) the kernel refused this CRTC's flips
     * with since they last worked: each is said once. */
    uint64_t flipRefusals;
    /* A mode set gives up the pair only once the CRTC shows what replaces
     * it: until then the old pair waits here, in case the set fails. */
    qelFlipPair retired;
    Bool warnedNoPair;
} qelFlipCrtc;

struct qelPresent {
    int scrnIndex;
    int fd;
    /* The GE that feeds the pairs; NULL without acceleration. */
    qelGe *ge;
    /* The screen's buffer, behind the screen pixmap. */
    qelBo *shadow;
    /* TearFree is armed for this generation. */
    Bool tearFree;
    DamagePtr damage;
    qelFlipCrtc *crtcs;
    int numCrtcs;
    uint32_t lastSerial;
    qelFlipTicket *tickets;
};

/* One record per CRTC of the screen, for one generation; Destroy settles
 * and releases every CRTC's pair first, so that nothing is left that a flip
 * or a copy could still reach. */
Bool qelPresentCreateCrtcs(qelPresent *present, int count);
void qelPresentDestroyCrtcs(qelPresent *present);

/* The record of the CRTC with that DRM id; NULL when there is none. */
qelFlipCrtc *qelPresentFindCrtc(qelPresent *present, uint32_t crtcId);

/* The screen's rectangle that the pair mirrors. */
BoxRec qelFlipPairBox(const qelFlipPair *pair);

/* Copies the screen rectangles of region from the shadow into dst, which
 * mirrors the screen from (originX, originY) on. */
void qelPresentCopyRegion(qelPresent *present, RegionPtr region, qelBo *dst, int originX,
                          int originY);

/* Settles the CRTC's flip without waiting for the kernel. */
void qelFlipCrtcSettle(qelPresent *present, qelFlipCrtc *c);
/* Destroys both buffers of the pair, if it has any, and empties it. */
void qelFlipPairDestroy(qelPresent *present, qelFlipPair *pair);
/* Destroys the CRTC's pair (and a retired one) and forgets its damage. */
void qelFlipCrtcRelease(qelPresent *present, qelFlipCrtc *c);

/* Tickets: one per requested flip, released when its event is read (Done,
 * the ticket's event handler). */
qelFlipTicket *qelFlipTicketCreate(qelPresent *present, uint32_t crtcId);
void qelFlipTicketRelease(qelPresent *present, qelFlipTicket *ticket);
void qelFlipTicketDone(qelDrmEvent *event, uint64_t sequence, uint64_t ust);

#endif
