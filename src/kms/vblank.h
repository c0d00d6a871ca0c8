/* SPDX-License-Identifier: MIT */
/* Each CRTC's vblank count (MSC) and time (UST), and waits for a count to
 * come, over the kernel's 64-bit sequence ioctls and events; one reader for
 * every event of the DRM descriptor.
 *
 * The MSC of a CRTC is the kernel's count plus an offset that only grows:
 * it goes on from the counts already given out when the CRTC scans out
 * again after a time dark (its own mode sets, DPMS, another master's while
 * the VT is away), so it never goes back. While the CRTC makes no vblanks,
 * a fake clock of the given interval takes over from the last count, as
 * the server's own fake timing does for windows on no CRTC. UST is the
 * kernel's timestamp of the vblank, in microseconds. */
#ifndef QEL_KMS_VBLANK_H
#define QEL_KMS_VBLANK_H

#include <stdint.h>

#include <xorg-server.h>
#include <xf86.h>
#include <xf86Crtc.h>

/* What the user data of a DRM event points at: every event the driver asks
 * the kernel for (a page flip, a vblank wait) names a record that begins
 * with this, so that the one reader hands each event to what it belongs
 * to. SEQUENCE is the kernel's count (its low 32 bits in a flip event),
 * UST the event's timestamp in microseconds. */
typedef struct qelDrmEvent {
    void (*done)(struct qelDrmEvent *event, uint64_t sequence, uint64_t ust);
} qelDrmEvent;

/* Reads the events queued on the descriptor and hands each to its record;
 * drmHandleEvent's result. */
int qelDrmReadEvents(int fd);
/* The main loop's watch on the descriptor (data: the qelKms record, or
 * NULL): reads the events, then delivers the vblank waits that came. */
void qelDrmEventHandler(int fd, int ready, void *data);

/* A CRTC's count as the driver gives it out. */
typedef struct qelCrtcClock {
    uint64_t offset; /* MSC minus the kernel's count */
    uint64_t msc;    /* the latest count given out, and its time */
    uint64_t ust;
    Bool known;      /* some count was given out */
    /* The kernel had no count at the last look: the fake clock runs, from
     * fakeMsc at fakeUst. */
    Bool faking;
    uint64_t fakeMsc;
    uint64_t fakeUst;
} qelCrtcClock;

/* Called when a wait's count has come: TAG is the caller's, UST and MSC
 * say when it came (the Present extension's present_event_notify). */
typedef void (*qelVblankNotifyProc)(uint64_t tag, uint64_t ust, uint64_t msc);

typedef struct qelVblankWait qelVblankWait;

/* The vblank state of a screen, in its KMS record. */
typedef struct qelVblank {
    qelVblankNotifyProc notify;
    /* The fake clock's interval while a CRTC makes no vblanks. */
    uint64_t fakeIntervalUs;
    /* Waits the kernel or the fake clock holds (and waits given up whose
     * kernel event has not come yet), and waits whose count has come, to
     * be delivered by the main loop's watch or, when another reader read
     * their event, by a timer right after. */
    qelVblankWait *waits;
    qelVblankWait *due;
    OsTimerPtr dueTimer;
} qelVblank;

struct qelKms;

/* The CRTC's current MSC and the UST of that vblank. */
void qelVblankNow(xf86CrtcPtr crtc, uint64_t *ust, uint64_t *msc);
/* Calls the notify procedure with TAG once the CRTC's MSC reaches msc (at
 * once when it has); FALSE when no wait can be allocated. */
Bool qelVblankQueue(xf86CrtcPtr crtc, uint64_t msc, uint64_t tag);
/* The caller no longer wants TAG's notification. */
void qelVblankAbort(struct qelKms *kms, uint64_t tag);
/* The CRTC scans out again: waits on the fake clock go to the kernel. */
void qelVblankCrtcLit(xf86CrtcPtr crtc);
/* Delivers the waits whose count has come. */
void qelVblankDeliverDue(struct qelKms *kms);
/* CloseScreen: every wait is given up, none is delivered any more. Free
 * (FreeScreen) releases what is left. */
void qelVblankAbortAll(struct qelKms *kms);
void qelVblankFree(struct qelKms *kms);

#endif
