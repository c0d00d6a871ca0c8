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
    qelGeWaitArgs args = {.seqno = seqno, .timeout = GE_WAIT_TIMEOUT};

    return drmIoctl(fd, GE_WAIT, &args) == 0 ? 0 : errno;
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
qelGeNoteWaitFailure(qelScreenPriv *priv, uint32_t seqno, int error)
{
    if (priv->geWaitFailuresSaid & qelGeErrorBit(error))
        return;
    priv->geWaitFailuresSaid |= qelGeErrorBit(error);
    xf86DrvMsg(priv->scrnIndex, X_WARNING, "GE wait for seqno %u failed: %s; trying again\n",
               seqno, strerror(error));
}

/* Waits for the batch of that seqno, trying again for a while when the
 * kernel answers with an error. */
static Bool
qelGeWaitPatiently(qelScreenPriv *priv, uint32_t seqno)
{
    int64_t start = qelGeNowNs();

    for (;;) {
        int error = qelGeWaitSeqno(priv->fd, seqno);

        if (error == 0) {
            priv->geWaitFailuresSaid = 0;
            return TRUE;
        }
        qelGeNoteWaitFailure(priv, seqno, error);
        if (qelGeNowNs() - start >= QEL_GE_PATIENCE_NS)
            return FALSE;
        usleep(QEL_GE_WAIT_RETRY_US);
    }
}

/* From here on nothing goes to the GE in this server generation: EXA
 * falls back to software, and what is queued (TearFree's copies) is drawn
 * by the CPU. */
static void
qelGeGiveUp(qelScreenPriv *priv, const char *why)
{
    if (priv->geGivenUp)
        return;
    priv->geGivenUp = TRUE;
    xf86DrvMsg(priv->scrnIndex, X_ERROR, "GE %s; drawing without it from now on\n", why);
}

/* GE_SUBMIT goes through plain ioctl, so that EINTR and EAGAIN come back
 * here: EAGAIN needs a wait for room before the retry. Returns 0, or the
 * errno of the refusal (EINTR or EAGAIN when the tries ran out). */
static int
qelGeSubmit(qelScreenPriv *priv, qelGeSubmitArgs *args)
{
    int64_t start = qelGeNowNs();
    int error = 0;

    for (int tries = 0; tries < QEL_GE_SUBMIT_TRIES; tries++) {
        if (ioctl(priv->fd, GE_SUBMIT, args) == 0)
            return 0;
        error = errno;
        if (error != EINTR && error != EAGAIN)
            return error;
        if (error == EAGAIN) {
            int waitError = qelGeWaitSeqno(priv->fd, 0);

            if (waitError != 0) {
                qelGeNoteWaitFailure(priv, 0, waitError);
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
qelGeNoteRefusal(qelScreenPriv *priv, int error)
{
    const qelGeOp *op = &priv->ops[0];

    if (!(priv->geRefusalsSaid & qelGeErrorBit(error))) {
        priv->geRefusalsSaid |= qelGeErrorBit(error);
        xf86DrvMsg(priv->scrnIndex, X_WARNING,
                   "GE refused a batch of %u ops: %s [op0 t=%u rop=%#x dst=%u pitch=%u "
                   "@%u,%u %ux%u src=%u pitch=%u @%u,%u]; the CPU draws it\n",
                   priv->opCount, strerror(error), op->type, op->rop, op->dstHandle,
                   op->dstPitch, op->dstX, op->dstY, op->width, op->height, op->srcHandle,
                   op->srcPitch, op->srcX, op->srcY);
    }
    if (++priv->geRefusedInARow >= QEL_GE_REFUSALS_TO_GIVE_UP)
        qelGeGiveUp(priv, "refused every batch of late");
}

static void
qelGeEmpty(qelScreenPriv *priv)
{
    priv->opCount = 0;
    priv->batchDst = NULL;
    priv->batchSrc = NULL;
}

/* The batch just taken by the kernel is stamped on the buffers it names:
 * the destination as written, the source as read (a CPU write into the
 * source must wait until the GE has read it). */
static void
qelGeStampBatch(qelScreenPriv *priv, uint32_t seqno)
{
    priv->geSubmitted = (qelGeBatchRef) {
        .serial = priv->geSubmitted.serial + 1,
        .seqno = seqno,
    };
    if (priv->batchDst)
        priv->batchDst->geWrite = priv->geSubmitted;
    if (priv->batchSrc)
        priv->batchSrc->geRead = priv->geSubmitted;
}

void
qelGeNoteDone(qelScreenPriv *priv, uint64_t serial)
{
    if (serial > priv->geCompleted && serial <= priv->geSubmitted.serial)
        priv->geCompleted = serial;
}

static Bool
qelGeBatchDone(const qelScreenPriv *priv, const qelGeBatchRef *batch)
{
    return batch->serial <= priv->geCompleted;
}

/* Every wait for a batch goes through here. The GE completes batches in
 * the order they were submitted, so a batch seen complete vouches for all
 * earlier ones, on every buffer. A GE that cannot be confirmed idle within
 * the patience of a wait is taken as hung: given up, and its work taken as
 * done, since nothing would ever finish it. */
static void
qelGeWaitBatch(qelScreenPriv *priv, const qelGeBatchRef *batch)
{
    if (qelGeBatchDone(priv, batch))
        return;
    if (qelGeWaitPatiently(priv, batch->seqno)) {
        priv->geCompleted = batch->serial;
        return;
    }
    qelGeGiveUp(priv, "cannot be confirmed idle (hung)");
    priv->geCompleted = priv->geSubmitted.serial;
}

/* The queued batch is drawn by the CPU, after everything the GE took
 * before it: the GE works in order, and so must the pixels. */
static void
qelGeDrawQueueOnCpu(qelScreenPriv *priv)
{
    qelGeWaitBatch(priv, &priv->geSubmitted);
    qelGeRunBatchOnCpu(priv);
}

void
qelGeFlush(qelScreenPriv *priv)
{
    qelGeSubmitArgs args;
    int error;

    if (priv->opCount == 0)
        return;
    if (!priv->geGivenUp) {
        memset(&args, 0, sizeof(args));
        args.ops = (uint64_t) (uintptr_t) priv->ops;
        args.count = priv->opCount;
        error = qelGeSubmit(priv, &args);
        if (error == 0) {
            priv->geRefusedInARow = 0;
            qelGeStampBatch(priv, args.seqno);
            qelGeEmpty(priv);
            return;
        }
        qelGeNoteRefusal(priv, error);
    }
    qelGeDrawQueueOnCpu(priv);
    qelGeEmpty(priv);
}

/* Queued operations name the buffer in a way the CPU access conflicts
 * with: they write it (the batch's destination), or they read it and the
 * CPU is about to write. */
static Bool
qelGeQueueConflicts(const qelScreenPriv *priv, const qelBo *bo, qelCpuAccess access)
{
    if (priv->opCount == 0)
        return FALSE;
    return bo == priv->batchDst || (access == QEL_CPU_WRITE && bo == priv->batchSrc);
}

static const qelGeBatchRef *
qelGeLaterBatch(const qelGeBatchRef *a, const qelGeBatchRef *b)
{
    return a->serial > b->serial ? a : b;
}

void
qelGeSyncCpu(qelScreenPriv *priv, qelBo *bo, qelCpuAccess access)
{
    if (!bo)
        return;
    if (qelGeQueueConflicts(priv, bo, access))
        qelGeFlush(priv);
    if (access == QEL_CPU_WRITE)
        qelGeWaitBatch(priv, qelGeLaterBatch(&bo->geRead, &bo->geWrite));
    else
        qelGeWaitBatch(priv, &bo->geWrite);
}

Bool
qelGeCpuMayWriteAfterWait(qelScreenPriv *priv, qelBo *bo)
{
    if (!qelGeBatchDone(priv, &bo->geWrite))
        return FALSE;
    qelGeWaitBatch(priv, &bo->geRead);
    return qelGeBatchDone(priv, &bo->geRead);
}

void
qelGeWaitBo(qelScreenPriv *priv, qelBo *bo)
{
    qelGeSyncCpu(priv, bo, QEL_CPU_WRITE);
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

void
qelGeCopyRect(qelScreenPriv *priv, qelBo *src, int srcX, int srcY, qelBo *dst, int dstX,
              int dstY, int w, int h)
{
    qelGeOp *op;

    if (!qelClipRect(dst, dstX, dstY, &w, &h) || !qelClipRect(src, srcX, srcY, &w, &h))
        return;

    op = qelGeReserve(priv, dst, src);
    *op = (qelGeOp) {
        .type = GE_OP_COPY,
        .rop = GE_ROP_COPY_COPY,
        .dstHandle = dst->handle,
        .dstPitch = dst->pitch,
        .dstX = dstX,
        .dstY = dstY,
        .width = w,
        .height = h,
        .fillColor = 0,
        .srcHandle = src->handle,
        .srcPitch = src->pitch,
        .srcX = srcX,
        .srcY = srcY,
    };
}
