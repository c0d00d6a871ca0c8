/* SPDX-License-Identifier: MIT */
/* The GE operation queue: operations are batched per destination (and at
 * most one source), submitted at flush points, and every submitted batch is
 * remembered on the buffers it read and wrote, so that CPU access waits
 * only for the unfinished GE work it conflicts with.
 *
 * Nothing drawn is lost when the GE fails: a batch the kernel refuses is
 * drawn by the CPU instead, once the GE's earlier work is done; a GE that
 * keeps refusing, or that finishes nothing for too long (flight.c), is
 * given up for the rest of the server generation and everything is drawn
 * in software. */
#include "ge/flight.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>

#include <xf86drm.h>

/* An interrupted submission is retried at most this often and this long;
 * then it counts as refused. */
#define QEL_GE_SUBMIT_TRIES 100
#define QEL_GE_SUBMIT_PATIENCE_NS 1000000000LL
/* Refused batches in a row after which the GE is given up. */
#define QEL_GE_REFUSALS_TO_GIVE_UP 16

/* GE_SUBMIT goes through plain ioctl, not drmIoctl, so that EINTR and
 * EAGAIN come back here: drmIoctl retries both without end, which would
 * spin on a full queue and hang the server on a hung GE. A full queue
 * (EAGAIN) is waited on until it has room; an interrupted submission is
 * tried again, a bounded number of times. Returns 0, or the errno of the
 * refusal (EINTR or EAGAIN when the tries or the room wait ran out). */
static int
qelGeSubmit(qelGe *ge, struct drm_tx3120_ge_submit *args)
{
    int64_t start = qelMonotonicNs();
    int error = 0;

    for (int tries = 0; tries < QEL_GE_SUBMIT_TRIES; tries++) {
        if (ioctl(ge->fd, DRM_IOCTL_TX3120_GE_SUBMIT, args) == 0)
            return 0;
        error = errno;
        if (error != EINTR && error != EAGAIN)
            return error;
        if (error == EAGAIN && !qelGeWaitRoom(ge))
            return error;
        if (qelMonotonicNs() - start >= QEL_GE_SUBMIT_PATIENCE_NS)
            break;
    }
    return error;
}

/* Said once per kind of error, with what the first refused operation of
 * that kind asked for. */
static void
qelGeNoteRefusal(qelGe *ge, int error)
{
    const qelGeOp *op = &ge->ops[0];

    if (!(ge->refusalsSaid & qelGeErrorBit(error))) {
        ge->refusalsSaid |= qelGeErrorBit(error);
        xf86DrvMsg(ge->scrnIndex, X_WARNING,
                   "GE refused a batch of %u ops: %s [op0 t=%u rop=%#x dst=%u pitch=%u "
                   "@%u,%u %ux%u src=%u pitch=%u @%u,%u]; the CPU draws it\n",
                   ge->opCount, strerror(error), op->type, op->rop, op->dst_handle,
                   op->dst_pitch, op->dst_x, op->dst_y, op->width, op->height, op->src_handle,
                   op->src_pitch, op->src_x, op->src_y);
    }
    if (++ge->refusedInARow >= QEL_GE_REFUSALS_TO_GIVE_UP)
        qelGeGiveUp(ge, "refused every batch of late");
}

static void
qelGeEmpty(qelGe *ge)
{
    ge->opCount = 0;
    ge->queuedPixels = 0;
    ge->batchDst = NULL;
    ge->batchSrc = NULL;
}

/* The batch just taken by the kernel is stamped on the buffers it names:
 * the destination as written, the source as read (a CPU write into the
 * source must wait until the GE has read it). */
static void
qelGeStampBatch(qelGe *ge, uint32_t seqno)
{
    ge->submitted = (qelGeBatchRef) {
        .serial = ge->submitted.serial + 1,
        .seqno = seqno,
    };
    if (ge->batchDst)
        ge->batchDst->geWrite = ge->submitted;
    if (ge->batchSrc)
        ge->batchSrc->geRead = ge->submitted;
}

void
qelGeNoteDone(qelGe *ge, uint64_t serial)
{
    if (serial > ge->completed && serial <= ge->submitted.serial)
        ge->completed = serial;
    qelGeRetireDone(ge);
}

static Bool
qelGeBatchDone(const qelGe *ge, const qelGeBatchRef *batch)
{
    return batch->serial <= ge->completed;
}

/* The queued batch is drawn by the CPU, after everything the GE took
 * before it: the GE works in order, and so must the pixels. */
static void
qelGeDrawQueueOnCpu(qelGe *ge)
{
    qelGeWaitBatch(ge, &ge->submitted);
    qelGeRunBatchOnCpu(ge);
}

void
qelGeFlush(qelGe *ge)
{
    struct drm_tx3120_ge_submit args;
    int error;

    if (ge->opCount == 0)
        return;
    if (!ge->givenUp)
        qelGeMakeRoom(ge, ge->queuedPixels);
    /* Making room may have found the GE hung. */
    if (!ge->givenUp) {
        memset(&args, 0, sizeof(args));
        args.ops = (uint64_t) (uintptr_t) ge->ops;
        args.count = ge->opCount;
        error = qelGeSubmit(ge, &args);
        if (error == 0) {
            ge->refusedInARow = 0;
            qelGeStampBatch(ge, args.seqno);
            qelGeFlightAdd(ge);
            qelGeEmpty(ge);
            return;
        }
        qelGeNoteRefusal(ge, error);
    }
    qelGeDrawQueueOnCpu(ge);
    qelGeEmpty(ge);
}

Bool
qelGeQueueAlloc(qelGe *ge)
{
    ge->opCapacity = TX3120_GE_MAX_OPS;
    ge->ops = malloc(TX3120_GE_MAX_OPS * sizeof(qelGeOp));
    return ge->ops != NULL;
}

void
qelGeQueueFree(qelGe *ge)
{
    free(ge->ops);
    ge->ops = NULL;
    for (int i = 0; i < QEL_GE_FLIGHT_SLOTS; i++) {
        free(ge->flights[i].ops);
        ge->flights[i] = (qelGeFlight) {0};
    }
    ge->flightHead = 0;
    ge->flightCount = 0;
    ge->flightPixels = 0;
}

void
qelGeIdle(qelGe *ge)
{
    qelGeFlush(ge);
    qelGeWaitBatch(ge, &ge->submitted);
}

/* Queued operations name the buffer in a way the CPU access conflicts
 * with: they write it (the batch's destination), or they read it and the
 * CPU is about to write. */
static Bool
qelGeQueueConflicts(const qelGe *ge, const qelBo *bo, qelCpuAccess access)
{
    if (ge->opCount == 0)
        return FALSE;
    return bo == ge->batchDst || (access == QEL_CPU_WRITE && bo == ge->batchSrc);
}

static const qelGeBatchRef *
qelGeLaterBatch(const qelGeBatchRef *a, const qelGeBatchRef *b)
{
    return a->serial > b->serial ? a : b;
}

void
qelGeSyncCpu(qelGe *ge, qelBo *bo, qelCpuAccess access)
{
    if (!bo)
        return;
    if (qelGeQueueConflicts(ge, bo, access))
        qelGeFlush(ge);
    if (access == QEL_CPU_WRITE)
        qelGeWaitBatch(ge, qelGeLaterBatch(&bo->geRead, &bo->geWrite));
    else
        qelGeWaitBatch(ge, &bo->geWrite);
}

Bool
qelGeCpuMayWriteAfterWait(qelGe *ge, qelBo *bo)
{
    if (!qelGeBatchDone(ge, &bo->geWrite))
        return FALSE;
    qelGeWaitBatch(ge, &bo->geRead);
    return qelGeBatchDone(ge, &bo->geRead);
}

void
qelGeWaitBo(qelGe *ge, qelBo *bo)
{
    qelGeSyncCpu(ge, bo, QEL_CPU_WRITE);
}

void
qelGeForgetBo(qelGe *ge, const qelBo *bo)
{
    if (ge->opCount > 0 && (bo == ge->batchDst || bo == ge->batchSrc))
        qelGeFlush(ge);
    for (int i = 0; i < QEL_GE_FLIGHT_SLOTS; i++) {
        if (ge->flights[i].dst == bo)
            ge->flights[i].dst = NULL;
        if (ge->flights[i].src == bo)
            ge->flights[i].src = NULL;
    }
}

/* EXA calls WaitMarker before it lets the CPU at a pixmap; the driver's
 * PrepareAccess, UploadToScreen and DownloadFromScreen that follow wait
 * for exactly the GE work their buffer's access conflicts with (EXA hands
 * the driver every access index). A wait for all the screen's work here
 * would only stall on work the access has nothing to do with. */
void
qelWaitMarker(ScreenPtr screen, int marker)
{
    (void) screen;
    (void) marker;
}

/* The key of the screen's pointer to its record: the server's own way for
 * a layer to find its state from the screen its hooks are given. */
static DevPrivateKeyRec qelGeScreenKeyRec;

qelGe *
qelGeFromScreen(ScreenPtr screen)
{
    return dixLookupPrivate(&screen->devPrivates, &qelGeScreenKeyRec);
}

Bool
qelGeAttach(ScreenPtr screen, qelGe *ge)
{
    if (!dixRegisterPrivateKey(&qelGeScreenKeyRec, PRIVATE_SCREEN, 0))
        return FALSE;
    dixSetPrivate(&screen->devPrivates, &qelGeScreenKeyRec, ge);
    return TRUE;
}
