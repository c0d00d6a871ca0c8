/* The GE operation queue: operations are batched per destination (and at
 * most one source), submitted at flush points, and every submitted batch is
 * remembered on the buffers it read and wrote, so that CPU access waits
 * only for the unfinished GE work it conflicts with. */
#include "ge/ge.h"

#include <errno.h>
#include <string.h>
#include <sys/ioctl.h>

#include <xf86drm.h>

static int
qelGeWaitSeqno(int fd, uint32_t seqno)
{
    qelGeWaitArgs args = {.seqno = seqno, .timeout = GE_WAIT_TIMEOUT};

    return drmIoctl(fd, GE_WAIT, &args);
}

static void
qelGeWarnWait(uint32_t seqno)
{
    xf86DrvMsgVerb(0, X_WARNING, 0, "GE wait for seqno %u failed: %s\n", seqno,
                   strerror(errno));
}

/* GE_SUBMIT goes through plain ioctl, so that EINTR and EAGAIN come back
 * here: EAGAIN needs a wait for room before the retry. */
static int
qelGeSubmit(qelScreenPriv *priv, qelGeSubmitArgs *args)
{
    for (;;) {
        if (ioctl(priv->fd, GE_SUBMIT, args) == 0)
            return 0;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN && qelGeWaitSeqno(priv->fd, 0) == 0)
            continue;
        return -1;
    }
}

static void
qelGeWarnSubmit(const qelScreenPriv *priv)
{
    const qelGeOp *op = &priv->ops[0];

    xf86DrvMsgVerb(0, X_WARNING, 0,
                   "GE submit of %u ops failed: %s [op0 t=%u rop=%#x dst=%u pitch=%u "
                   "@%u,%u %ux%u src=%u pitch=%u @%u,%u]\n",
                   priv->opCount, strerror(errno), op->type, op->rop, op->dstHandle,
                   op->dstPitch, op->dstX, op->dstY, op->width, op->height,
                   op->srcHandle, op->srcPitch, op->srcX, op->srcY);
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
qelGeFlush(qelScreenPriv *priv)
{
    qelGeSubmitArgs args;

    if (priv->opCount == 0)
        return;

    memset(&args, 0, sizeof(args));
    args.ops = (uint64_t) (uintptr_t) priv->ops;
    args.count = priv->opCount;

    if (qelGeSubmit(priv, &args) != 0) {
        /* The batch is dropped: nothing is stamped, so later waits do not
         * wait for work the GE never took. */
        qelGeWarnSubmit(priv);
        qelGeEmpty(priv);
        return;
    }
    qelGeStampBatch(priv, args.seqno);
    qelGeEmpty(priv);
}

static Bool
qelGeBatchDone(const qelScreenPriv *priv, const qelGeBatchRef *batch)
{
    return batch->serial <= priv->geCompleted;
}

/* Every wait for a batch goes through here. The GE completes batches in
 * the order they were submitted, so a batch seen complete vouches for all
 * earlier ones, on every buffer. A failed wait leaves the batch counted as
 * unfinished: the next access that needs it waits again. */
static void
qelGeWaitBatch(qelScreenPriv *priv, const qelGeBatchRef *batch)
{
    if (qelGeBatchDone(priv, batch))
        return;
    if (qelGeWaitSeqno(priv->fd, batch->seqno) != 0) {
        qelGeWarnWait(batch->seqno);
        return;
    }
    priv->geCompleted = batch->serial;
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
