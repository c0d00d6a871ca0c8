/* SPDX-License-Identifier: MIT */
/* The GE operation queue: operations are batched per destination (and at
 * most one source), submitted at flush points, and every submitted batch is
 * remembered on the buffers it read and wrote, so that CPU access waits
 * only for the unfinished GE work it conflicts with.
 *
 * Nothing drawn is lost when the GE fails: a batch the kernel refuses is
 * drawn by the CPU instead, once the GE's earlier work is done; a GE that
 * keeps refusing, or that cannot be confirmed idle, is given up for the
 * rest of the server generation and everything is drawn in software. */
#include "ge/ge.h"

#include <errno.h>
#include <string.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <xf86drm.h>

/* A submission retried (EINTR, EAGAIN) at most this often and this long;
 * then it counts as refused. */
#define QEL_GE_SUBMIT_TRIES 100
#define QEL_GE_PATIENCE_NS 1000000000LL
/* Refused batches in a row after which the GE is given up. */
#define QEL_GE_REFUSALS_TO_GIVE_UP 16
/* Pause between two tries of a failed wait. */
#define QEL_GE_WAIT_RETRY_US 1000
/* How long one GE_WAIT may block in the kernel. */
#define QEL_GE_WAIT_TIMEOUT_US 1000000u

static int64_t
qelGeNowNs(void)
{
    struct timespec now;

    clock_gettime(CLOCK_MONOTONIC, &now);
    return (int64_t) now.tv_sec * 1000000000LL + now.tv_nsec;
}

static int
qelGeWaitSeqno(int fd, uint32_t seqno)
{
    struct drm_tx3120_ge_wait args = {.seqno = seqno, .timeout_us = QEL_GE_WAIT_TIMEOUT_US};

    return drmIoctl(fd, DRM_IOCTL_TX3120_GE_WAIT, &args) == 0 ? 0 : errno;
}

/* One bit per errno value, the last bit for any beyond. */
static uint64_t
qelGeErrorBit(int error)
{
    return UINT64_C(1) << (error > 0 && error < 63 ? error : 63);
}

/* A failed wait is said once per kind of error until waits work again: a
 * GE that fails every wait must not flood the log. */
static void
qelGeNoteWaitFailure(qelGe *ge, uint32_t seqno, int error)
{
    if (ge->waitFailuresSaid & qelGeErrorBit(error))
        return;
    ge->waitFailuresSaid |= qelGeErrorBit(error);
    xf86DrvMsg(ge->scrnIndex, X_WARNING, "GE wait for seqno %u failed: %s; trying again\n",
               seqno, strerror(error));
}

/* Waits for the batch of that seqno, trying again for a while when the
 * kernel answers with an error. */
static Bool
qelGeWaitPatiently(qelGe *ge, uint32_t seqno)
{
    int64_t start = qelGeNowNs();

    for (;;) {
        int error = qelGeWaitSeqno(ge->fd, seqno);

        if (error == 0) {
            ge->waitFailuresSaid = 0;
            return TRUE;
        }
        qelGeNoteWaitFailure(ge, seqno, error);
        if (qelGeNowNs() - start >= QEL_GE_PATIENCE_NS)
            return FALSE;
        usleep(QEL_GE_WAIT_RETRY_US);
    }
}

/* From here on nothing goes to the GE in this server generation: EXA
 * falls back to software, and what is queued (TearFree's copies) is drawn
 * by the CPU. */
static void
qelGeGiveUp(qelGe *ge, const char *why)
{
    if (ge->givenUp)
        return;
    ge->givenUp = TRUE;
    xf86DrvMsg(ge->scrnIndex, X_ERROR, "GE %s; drawing without it from now on\n", why);
}

/* GE_SUBMIT goes through plain ioctl, not drmIoctl, so that EINTR and
 * EAGAIN come back here: drmIoctl retries both without end, which would
 * spin on a full queue and hang the server on a hung GE, while EAGAIN
 * needs a wait for room before the retry and the tries must be bounded.
 * Returns 0, or the errno of the refusal (EINTR or EAGAIN when the tries
 * ran out). */
static int
qelGeSubmit(qelGe *ge, struct drm_tx3120_ge_submit *args)
{
    int64_t start = qelGeNowNs();
    int error = 0;

    for (int tries = 0; tries < QEL_GE_SUBMIT_TRIES; tries++) {
        if (ioctl(ge->fd, DRM_IOCTL_TX3120_GE_SUBMIT, args) == 0)
            return 0;
        error = errno;
        if (error != EINTR && error != EAGAIN)
            return error;
        if (error == EAGAIN) {
            int waitError = qelGeWaitSeqno(ge->fd, 0);

            if (waitError != 0) {
                qelGeNoteWaitFailure(ge, 0, waitError);
                return error;
            }
        }
        if (qelGeNowNs() - start >= QEL_GE_PATIENCE_NS)
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
}

static Bool
qelGeBatchDone(const qelGe *ge, const qelGeBatchRef *batch)
{
    return batch->serial <= ge->completed;
}

/* Every wait for a batch goes through here. The GE completes batches in
 * the order they were submitted, so a batch seen complete vouches for all
 * earlier ones, on every buffer. A GE that cannot be confirmed idle within
 * the patience of a wait is taken as hung: given up, and its work taken as
 * done, since nothing would ever finish it. */
static void
qelGeWaitBatch(qelGe *ge, const qelGeBatchRef *batch)
{
    if (qelGeBatchDone(ge, batch))
        return;
    if (qelGeWaitPatiently(ge, batch->seqno)) {
        ge->completed = batch->serial;
        return;
    }
    qelGeGiveUp(ge, "cannot be confirmed idle (hung)");
    ge->completed = ge->submitted.serial;
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
    if (!ge->givenUp) {
        memset(&args, 0, sizeof(args));
        args.ops = (uint64_t) (uintptr_t) ge->ops;
        args.count = ge->opCount;
        error = qelGeSubmit(ge, &args);
        if (error == 0) {
            ge->refusedInARow = 0;
            qelGeStampBatch(ge, args.seqno);
            qelGeEmpty(ge);
            return;
        }
        qelGeNoteRefusal(ge, error);
    }
    qelGeDrawQueueOnCpu(ge);
    qelGeEmpty(ge);
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
