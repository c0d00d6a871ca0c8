/* SPDX-License-Identifier: MIT */
/* The GE work in flight. The kernel's queue bounds batches, not work: a
 * batch of large copies holds thousands of times the work of a batch of
 * small fills. So the driver bounds the pixels it has out, waiting for
 * older batches before a new one would go beyond, and the GE stays a few
 * batches ahead of the CPU: a client that draws without pause runs at the
 * GE's pace, and no wait comes near the kernel's timeout.
 *
 * A wait that times out proves nothing by itself: a GE busy with much work
 * is not a hung one. A GE is taken as hung only when no batch at all
 * finished for the whole patience; then the CPU draws what the GE left
 * unfinished, in order, and nothing more goes to the GE in this server
 * generation. */
#include "ge/flight.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <xf86drm.h>

/* The most pixels out at once: a few frames of GE work. A batch that would
 * go beyond waits until half of that is left, so that one wait makes room
 * for several batches: each wait costs the CPU a sleep and a wake-up. */
#define QEL_GE_FLIGHT_PIXELS (32u << 20)
/* How long no batch may finish before the GE is taken as hung. */
#define QEL_GE_PATIENCE_NS 1000000000LL
/* How long one GE_WAIT blocks in the kernel before progress is looked at. */
#define QEL_GE_WAIT_SLICE_US 250000u
/* Pause between two tries of a wait that failed at once. */
#define QEL_GE_WAIT_RETRY_US 1000

static int
qelGeWaitSeqno(int fd, uint32_t seqno, uint32_t timeoutUs)
{
    struct drm_tx3120_ge_wait args = {.seqno = seqno, .timeout_us = timeoutUs};

    return drmIoctl(fd, DRM_IOCTL_TX3120_GE_WAIT, &args) == 0 ? 0 : errno;
}

static qelGeFlight *
qelGeFlightAt(qelGe *ge, uint32_t i)
{
    return &ge->flights[(ge->flightHead + i) % QEL_GE_FLIGHT_SLOTS];
}

void
qelGeRetireDone(qelGe *ge)
{
    while (ge->flightCount > 0) {
        qelGeFlight *oldest = qelGeFlightAt(ge, 0);

        if (oldest->batch.serial > ge->completed)
            return;
        ge->flightPixels -= oldest->pixels;
        oldest->dst = NULL;
        oldest->src = NULL;
        oldest->opCount = 0;
        ge->flightHead = (ge->flightHead + 1) % QEL_GE_FLIGHT_SLOTS;
        ge->flightCount--;
    }
}

void
qelGeFlightAdd(qelGe *ge)
{
    qelGeFlight *slot = qelGeFlightAt(ge, ge->flightCount);
    qelGeOp *spare = slot->ops ? slot->ops : malloc(ge->opCapacity * sizeof(qelGeOp));

    slot->batch = ge->submitted;
    slot->pixels = ge->queuedPixels;
    slot->dst = ge->batchDst;
    slot->src = ge->batchSrc;
    /* The records trade places, so keeping a batch copies nothing. Without
     * spare records it is kept without its operations: they are lost only
     * if the GE is given up before it finishes them. */
    slot->opCount = spare ? ge->opCount : 0;
    if (spare) {
        slot->ops = ge->ops;
        ge->ops = spare;
    }
    ge->flightCount++;
    ge->flightPixels += slot->pixels;
}

void
qelGeNoteWaitFailure(qelGe *ge, uint32_t seqno, int error)
{
    if (ge->waitFailuresSaid & qelGeErrorBit(error))
        return;
    ge->waitFailuresSaid |= qelGeErrorBit(error);
    xf86DrvMsg(ge->scrnIndex, X_WARNING, "GE wait for seqno %u failed: %s; trying again\n",
               seqno, strerror(error));
}

void
qelGeGiveUp(qelGe *ge, const char *why)
{
    if (ge->givenUp)
        return;
    ge->givenUp = TRUE;
    xf86DrvMsg(ge->scrnIndex, X_ERROR, "GE %s; drawing without it from now on\n", why);
}

/* Asks, without blocking, whether the batches out before that serial have
 * finished, oldest first (the GE finishes them in order); TRUE when one
 * that was not known done is. */
static Bool
qelGeOlderWorkFinished(qelGe *ge, uint64_t before)
{
    Bool progress = FALSE;

    for (uint32_t i = 0; i < ge->flightCount; i++) {
        qelGeFlight *flight = qelGeFlightAt(ge, i);

        if (flight->batch.serial >= before)
            break;
        if (flight->batch.serial <= ge->completed)
            continue;
        if (qelGeWaitSeqno(ge->fd, flight->batch.seqno, 0) != 0)
            break;
        ge->completed = flight->batch.serial;
        progress = TRUE;
    }
    return progress;
}

/* Waits for seqno (0: room in the kernel's queue) for as long as the GE
 * goes on finishing the batches out before it; FALSE once none finished
 * for the whole patience. */
static Bool
qelGeWaitWhileProgressing(qelGe *ge, uint32_t seqno, uint64_t before)
{
    int64_t lastProgress = qelMonotonicNs();

    for (;;) {
        int error = qelGeWaitSeqno(ge->fd, seqno, QEL_GE_WAIT_SLICE_US);

        if (error == 0) {
            ge->waitFailuresSaid = 0;
            return TRUE;
        }
        if (qelGeOlderWorkFinished(ge, before)) {
            lastProgress = qelMonotonicNs();
            continue;
        }
        qelGeNoteWaitFailure(ge, seqno, error);
        if (qelMonotonicNs() - lastProgress >= QEL_GE_PATIENCE_NS)
            return FALSE;
        usleep(QEL_GE_WAIT_RETRY_US);
    }
}

Bool
qelGeWaitRoom(qelGe *ge)
{
    return qelGeWaitWhileProgressing(ge, 0, UINT64_MAX);
}

/* The GE will not finish what it has: the CPU draws it, in the order the
 * GE would have, before anything drawn after it. */
static void
qelGeDrawFlightsOnCpu(qelGe *ge)
{
    for (uint32_t i = 0; i < ge->flightCount; i++) {
        qelGeFlight *flight = qelGeFlightAt(ge, i);

        if (flight->batch.serial > ge->completed)
            qelCpuRunOps(flight->dst, flight->src, flight->ops, flight->opCount);
    }
}

void
qelGeWaitBatch(qelGe *ge, const qelGeBatchRef *batch)
{
    /* The batch may be a flight record, which retiring reuses. */
    qelGeBatchRef wanted = *batch;

    if (wanted.serial <= ge->completed)
        return;
    if (qelGeWaitWhileProgressing(ge, wanted.seqno, wanted.serial)) {
        ge->completed = wanted.serial;
    } else {
        qelGeGiveUp(ge, "cannot be confirmed idle (hung)");
        qelGeDrawFlightsOnCpu(ge);
        ge->completed = ge->submitted.serial;
    }
    qelGeRetireDone(ge);
}

/* How many of the oldest batches must finish before pixels more fit: none
 * while they fit beside the work out, else enough to leave half the
 * bound. */
static uint32_t
qelGeFlightsToFinish(qelGe *ge, uint64_t pixels)
{
    uint64_t left = ge->flightPixels;
    uint32_t n = 0;

    if (left + pixels <= QEL_GE_FLIGHT_PIXELS)
        return 0;
    while (n < ge->flightCount && left + pixels > QEL_GE_FLIGHT_PIXELS / 2)
        left -= qelGeFlightAt(ge, n++)->pixels;
    return n;
}

void
qelGeMakeRoom(qelGe *ge, uint64_t pixels)
{
    uint32_t finish;

    qelGeRetireDone(ge);
    /* A full ring waits for its middle: one wait frees half of it. */
    finish = ge->flightCount == QEL_GE_FLIGHT_SLOTS ? QEL_GE_FLIGHT_SLOTS / 2
                                                    : qelGeFlightsToFinish(ge, pixels);
    if (finish > 0)
        qelGeWaitBatch(ge, &qelGeFlightAt(ge, finish - 1)->batch);
}
