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

/* Two scanout buffers of a CRTC's mode size, mirroring the rectangle
 * (x, y, width, height) of their source: the screen's buffer (source
 * NULL), or the CRTC's rotation shadow, which they mirror whole from
 * (0, 0). The CRTC scans out scanout[frontIndex] at (0, 0). */
typedef struct qelFlipPair {
    qelBo *scanout[2];
    int frontIndex;
    qelBo *source;
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
    /* Damage inside the rectangle that no cycle has copied yet, in the
     * coordinates of the pair's source. */
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
    /* The mode set under way refilled the pair in place from another
     * source or rectangle; a set that fails goes back to the one before. */
    Bool movedInPlace;
    qelBo *setFromSource;
    int32_t setFromX;
    int32_t setFromY;
    Bool warnedNoPair;
} qelFlipCrtc;

/* A CRTC under a rotation or a transform. The server draws the CRTC's
 * image, mode-sized, into the shadow (its rotation redisplay); the CRTC
 * scans the shadow out, or with TearFree its pair is fed from it. A mode
 * set may replace the shadow while the CRTC still shows the old one: that
 * one stays as shown until the set is over, so that a set that fails can
 * take it back. */
typedef struct qelRotation {
    struct qelRotation *next;
    uint32_t crtcId;
    /* The server's shadow and its pixmap over it; NULL when none. */
    qelBo *shadow;
    qelBorrowedPixmap view;
    /* With TearFree: what the server drew into the shadow since the
     * CRTC's pair last took it. */
    DamagePtr damage;
    /* The shadow the CRTC shows since its last mode set; NULL when it shows
     * none. */
    qelBo *shown;
} qelRotation;

struct qelPresent {
    int scrnIndex;
    int fd;
    /* The GE that feeds the pairs and draws on the shadows; NULL without
     * acceleration. */
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
    /* The CRTCs under a rotation or a transform, over generations. */
    qelRotation *rotations;
};

/* One record per CRTC of the screen, for one generation; Destroy settles
 * and releases every CRTC's pair first, so that nothing is left that a flip
 * or a copy could still reach. */
Bool qelPresentCreateCrtcs(qelPresent *present, int count);
void qelPresentDestroyCrtcs(qelPresent *present);

/* The record of the CRTC with that DRM id; NULL when there is none. */
qelFlipCrtc *qelPresentFindCrtc(qelPresent *present, uint32_t crtcId);

/* The rectangle of its source that the pair mirrors. */
BoxRec qelFlipPairBox(const qelFlipPair *pair);

/* The buffer the pair mirrors. */
static inline qelBo *
qelFlipPairSource(const qelPresent *present, const qelFlipPair *pair)
{
    return pair->source ? pair->source : present->shadow;
}

/* Copies the rectangles of region from src into dst, which mirrors src
 * from (originX, originY) on. */
void qelPresentCopyRegion(qelPresent *present, qelBo *src, RegionPtr region, qelBo *dst,
                          int originX, int originY);

/* Settles the CRTC's flip without waiting for the kernel. */
void qelFlipCrtcSettle(qelPresent *present, qelFlipCrtc *c);
/* Destroys both buffers of the pair, if it has any, and empties it. */
void qelFlipPairDestroy(qelPresent *present, qelFlipPair *pair);
/* Destroys the CRTC's pair (and a retired one) and forgets its damage. */
void qelFlipCrtcRelease(qelPresent *present, qelFlipCrtc *c);

/* Rotations (rotation.c). Find gives the record of the CRTC with that DRM
 * id, NULL when it has none; Shadow its current shadow. Shown follows a
 * mode set that worked: the CRTC now shows its current shadow (or none),
 * and one it showed before goes. TakeDamage moves what the server drew
 * into each shadow to the pair that mirrors it; Forget drops a CRTC's (its
 * pair was just filled whole). Disarm ends TearFree's damage records,
 * FreeAll releases what is left when the screen goes. */
qelRotation *qelRotationFind(const qelPresent *present, uint32_t crtcId);
qelBo *qelRotationShadow(const qelPresent *present, uint32_t crtcId);
void qelRotationShown(qelPresent *present, uint32_t crtcId);
void qelRotationTakeDamage(qelPresent *present);
void qelRotationForgetDamage(qelPresent *present, uint32_t crtcId);
void qelRotationDisarm(qelPresent *present);
void qelRotationFreeAll(qelPresent *present);

/* Tickets: one per requested flip, released when its event is read (Done,
 * the ticket's event handler). */
qelFlipTicket *qelFlipTicketCreate(qelPresent *present, uint32_t crtcId);
void qelFlipTicketRelease(qelPresent *present, qelFlipTicket *ticket);
void qelFlipTicketDone(qelDrmEvent *event, uint64_t sequence, uint64_t ust);

#endif
