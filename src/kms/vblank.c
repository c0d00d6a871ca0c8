/* SPDX-License-Identifier: MIT */
/* The CRTCs' vblank counts and the waits for them (see vblank.h). A wait
 * is queued to the kernel with the 64-bit sequence ioctl; its event, read
 * by the descriptor's one reader, carries the kernel's count, which the
 * offset in force when the wait was queued turns into the MSC. The kernel
 * ends the waits of a CRTC that stops scanning out early, with the count
 * reached: such a wait is queued again, to the kernel if the CRTC scans out
 * once more, else to the fake clock, whose timer hands it back to the
 * kernel as soon as the CRTC is lit. */
#include "kms/kms.h"

#include <stdint.h>
#include <stdlib.h>

#include <xf86drm.h>

/* A fake-clock timer fires at most this far ahead and looks again. */
#define QEL_FAKE_TIMER_LIMIT_MS 3600000u

struct qelVblankWait {
    qelDrmEvent event; /* first: what the kernel's event names */
    qelVblankWait *next;
    qelKms *kms;
    xf86CrtcPtr crtc;
    uint64_t tag;
    uint64_t msc;
    /* The clock's offset when the kernel took the wait. */
    uint64_t offset;
    Bool inKernel;
    /* Given up while the kernel held it: freed when its event comes. */
    Bool aborted;
    OsTimerPtr timer;
    /* When the count came, for the delivery. */
    uint64_t doneUst;
    uint64_t doneMsc;
};

static qelCrtcClock *
qelClockOf(xf86CrtcPtr crtc)
{
    return &((qelCrtcPriv *) crtc->driver_private)->clock;
}

static void
qelClockNote(qelCrtcClock *clock, uint64_t msc, uint64_t ust)
{
    if (clock->known && msc <= clock->msc)
        return;
    clock->msc = msc;
    clock->ust = ust;
    clock->known = TRUE;
}

/* A reading of the kernel's count. After a time on the fake clock the
 * count goes on past every count given out meanwhile. */
static uint64_t
qelClockFromKernel(qelCrtcClock *clock, uint64_t sequence, uint64_t ust)
{
    if (clock->faking) {
        if (sequence + clock->offset <= clock->msc)
            clock->offset = clock->msc + 1 - sequence;
        clock->faking = FALSE;
    }
    qelClockNote(clock, sequence + clock->offset, ust);
    return sequence + clock->offset;
}

static void
qelClockStop(qelCrtcClock *clock, uint64_t now)
{
    if (clock->faking)
        return;
    clock->faking = TRUE;
    clock->fakeMsc = clock->msc;
    clock->fakeUst = now;
}

static uint64_t
qelFakeInterval(const qelKms *kms)
{
    return kms->vblank.fakeIntervalUs ? kms->vblank.fakeIntervalUs : 1000000;
}

/* The fake clock's count at NOW, and when it took that count. */
static void
qelClockFake(const qelKms *kms, qelCrtcClock *clock, uint64_t now, uint64_t *ust,
             uint64_t *msc)
{
    uint64_t interval = qelFakeInterval(kms);
    uint64_t frames = now > clock->fakeUst ? (now - clock->fakeUst) / interval : 0;

    *msc = clock->fakeMsc + frames;
    *ust = clock->fakeUst + frames * interval;
    qelClockNote(clock, *msc, *ust);
}

static Bool
qelKernelCount(xf86CrtcPtr crtc, uint64_t *sequence, uint64_t *ust)
{
    qelCrtcPriv *crtcPriv = crtc->driver_private;
    uint64_t ns;

    if (drmCrtcGetSequence(crtcPriv->kms->fd, crtcPriv->crtcId, sequence, &ns) != 0)
        return FALSE;
    *ust = ns / 1000;
    return TRUE;
}

void
qelVblankNow(xf86CrtcPtr crtc, uint64_t *ust, uint64_t *msc)
{
    qelCrtcPriv *crtcPriv = crtc->driver_private;
    uint64_t sequence;
    uint64_t now;

    if (qelKernelCount(crtc, &sequence, ust)) {
        *msc = qelClockFromKernel(&crtcPriv->clock, sequence, *ust);
        return;
    }
    now = GetTimeInMicros();
    qelClockStop(&crtcPriv->clock, now);
    qelClockFake(crtcPriv->kms, &crtcPriv->clock, now, ust, msc);
}

static void
qelWaitUnlink(qelVblankWait **list, qelVblankWait *wait)
{
    for (qelVblankWait **link = list; *link; link = &(*link)->next) {
        if (*link == wait) {
            *link = wait->next;
            return;
        }
    }
}

static void
qelWaitFree(qelVblankWait *wait)
{
    TimerFree(wait->timer);
    free(wait);
}

static CARD32
qelDueTimer(OsTimerPtr timer, CARD32 time, void *data)
{
    (void) timer;
    (void) time;
    qelVblankDeliverDue(data);
    return 0;
}

/* The wait's count came: it is delivered after the read that saw it (or
 * by the timer, should another reader have read it). */
static void
qelWaitDue(qelVblankWait *wait, uint64_t msc, uint64_t ust)
{
    qelVblank *vblank = &wait->kms->vblank;
    qelVblankWait **tail = &vblank->due;

    qelWaitUnlink(&vblank->waits, wait);
    TimerCancel(wait->timer);
    wait->doneMsc = msc;
    wait->doneUst = ust;
    wait->next = NULL;
    while (*tail)
        tail = &(*tail)->next;
    *tail = wait;
    qelClockNote(qelClockOf(wait->crtc), msc, ust);
    vblank->dueTimer = TimerSet(vblank->dueTimer, 0, 1, qelDueTimer, wait->kms);
}

static void qelWaitArm(qelVblankWait *wait);

static CARD32
qelWaitTimer(OsTimerPtr timer, CARD32 time, void *data)
{
    (void) timer;
    (void) time;
    qelWaitArm(data);
    return 0;
}

/* On the fake clock: due now, or at its timer. */
static void
qelWaitFake(qelVblankWait *wait)
{
    qelCrtcClock *clock = qelClockOf(wait->crtc);
    uint64_t now = GetTimeInMicros();
    uint64_t ust, msc, at, delayMs;

    qelClockFake(wait->kms, clock, now, &ust, &msc);
    if (msc >= wait->msc) {
        qelWaitDue(wait, msc, ust);
        return;
    }
    at = clock->fakeUst + (wait->msc - clock->fakeMsc) * qelFakeInterval(wait->kms);
    delayMs = at > now ? (at - now + 999) / 1000 : 1;
    if (delayMs > QEL_FAKE_TIMER_LIMIT_MS)
        delayMs = QEL_FAKE_TIMER_LIMIT_MS;
    wait->timer = TimerSet(wait->timer, 0, (CARD32) delayMs, qelWaitTimer, wait);
    /* Without a timer the wait could only hang: it comes now instead. */
    if (!wait->timer)
        qelWaitDue(wait, msc, ust);
}

/* To the kernel, or, while the CRTC makes no vblanks, to the fake clock. */
static void
qelWaitArm(qelVblankWait *wait)
{
    qelCrtcPriv *crtcPriv = wait->crtc->driver_private;
    qelCrtcClock *clock = &crtcPriv->clock;
    uint64_t sequence, ust, queued, target;

    if (clock->faking && qelKernelCount(wait->crtc, &sequence, &ust))
        (void) qelClockFromKernel(clock, sequence, ust);
    target = wait->msc > clock->offset ? wait->msc - clock->offset : 0;
    if (!clock->faking &&
        drmCrtcQueueSequence(crtcPriv->kms->fd, crtcPriv->crtcId, 0, target, &queued,
                             (uint64_t) (uintptr_t) &wait->event) == 0) {
        wait->offset = clock->offset;
        wait->inKernel = TRUE;
        return;
    }
    qelClockStop(clock, GetTimeInMicros());
    qelWaitFake(wait);
}

static void
qelWaitEvent(qelDrmEvent *event, uint64_t sequence, uint64_t ust)
{
    qelVblankWait *wait = (qelVblankWait *) event;
    uint64_t msc = sequence + wait->offset;

    wait->inKernel = FALSE;
    if (wait->aborted) {
        qelWaitUnlink(&wait->kms->vblank.waits, wait);
        qelWaitFree(wait);
        return;
    }
    if (msc < wait->msc) {
        /* The CRTC stopped scanning out before the count came. */
        qelClockNote(qelClockOf(wait->crtc), msc, ust);
        qelWaitArm(wait);
        return;
    }
    qelWaitDue(wait, msc, ust);
}

Bool
qelVblankQueue(xf86CrtcPtr crtc, uint64_t msc, uint64_t tag)
{
    qelCrtcPriv *crtcPriv = crtc->driver_private;
    qelVblank *vblank = &crtcPriv->kms->vblank;
    qelVblankWait *wait = calloc(1, sizeof(*wait));

    if (!wait)
        return FALSE;
    wait->event.done = qelWaitEvent;
    wait->kms = crtcPriv->kms;
    wait->crtc = crtc;
    wait->tag = tag;
    wait->msc = msc;
    wait->next = vblank->waits;
    vblank->waits = wait;
    qelWaitArm(wait);
    return TRUE;
}

static void
qelWaitGiveUp(qelVblank *vblank, qelVblankWait *wait)
{
    if (wait->inKernel) {
        wait->aborted = TRUE;
        return;
    }
    qelWaitUnlink(&vblank->waits, wait);
    qelWaitFree(wait);
}

void
qelVblankAbort(qelKms *kms, uint64_t tag)
{
    qelVblank *vblank = &kms->vblank;

    for (qelVblankWait *wait = vblank->waits; wait; wait = wait->next) {
        if (!wait->aborted && wait->tag == tag) {
            qelWaitGiveUp(vblank, wait);
            return;
        }
    }
    for (qelVblankWait *wait = vblank->due; wait; wait = wait->next) {
        if (wait->tag == tag) {
            qelWaitUnlink(&vblank->due, wait);
            qelWaitFree(wait);
            return;
        }
    }
}

void
qelVblankCrtcLit(xf86CrtcPtr crtc)
{
    qelVblank *vblank = &((qelCrtcPriv *) crtc->driver_private)->kms->vblank;
    qelVblankWait *next;

    for (qelVblankWait *wait = vblank->waits; wait; wait = next) {
        next = wait->next;
        if (wait->crtc == crtc && !wait->inKernel && !wait->aborted) {
            TimerCancel(wait->timer);
            qelWaitArm(wait);
        }
    }
}

void
qelVblankDeliverDue(qelKms *kms)
{
    qelVblank *vblank = &kms->vblank;

    while (vblank->due) {
        qelVblankWait *wait = vblank->due;

        vblank->due = wait->next;
        if (vblank->notify)
            vblank->notify(wait->tag, wait->doneUst, wait->doneMsc);
        qelWaitFree(wait);
    }
    TimerCancel(vblank->dueTimer);
}

static void
qelWaitsFree(qelVblankWait **list)
{
    while (*list) {
        qelVblankWait *wait = *list;

        *list = wait->next;
        qelWaitFree(wait);
    }
}

void
qelVblankAbortAll(qelKms *kms)
{
    qelVblank *vblank = &kms->vblank;
    qelVblankWait *next;

    for (qelVblankWait *wait = vblank->waits; wait; wait = next) {
        next = wait->next;
        qelWaitGiveUp(vblank, wait);
    }
    qelWaitsFree(&vblank->due);
    TimerCancel(vblank->dueTimer);
}

void
qelVblankFree(qelKms *kms)
{
    qelWaitsFree(&kms->vblank.waits);
    qelWaitsFree(&kms->vblank.due);
    TimerFree(kms->vblank.dueTimer);
    kms->vblank.dueTimer = NULL;
}
