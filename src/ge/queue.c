/* The GE operation queue: operations are batched per destination (and at
 * most one source), submitted at flush points, and tracked by seqno so that
 * CPU access waits only for the buffers with work outstanding. */
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
        /* The batch is dropped: seqnos stay as they were, so later waits do
         * not wait for work the GE never took. */
        qelGeWarnSubmit(priv);
        qelGeEmpty(priv);
        return;
    }

    priv->lastSeqno = args.seqno;
    /* The source is stamped too: a CPU write into it must wait until the GE
     * has read it. */
    if (priv->batchDst)
        priv->batchDst->lastSeqno = args.seqno;
    if (priv->batchSrc)
        priv->batchSrc->lastSeqno = args.seqno;
    qelGeEmpty(priv);
}

void
qelGeWaitBo(qelScreenPriv *priv, qelBo *bo)
{
    qelGeFlush(priv);
    if (!bo || bo->lastSeqno == 0 || bo->lastSeqno == bo->waitedSeqno)
        return;
    if (qelGeWaitSeqno(priv->fd, bo->lastSeqno) == 0)
        bo->waitedSeqno = bo->lastSeqno;
    else
        qelGeWarnWait(bo->lastSeqno);
}

void
qelWaitMarker(ScreenPtr screen, int marker)
{
    qelScreenPriv *priv = qelScreenPrivFromScreen(screen);

    (void) marker;
    qelGeFlush(priv);
    if (priv->lastSeqno == 0 || priv->lastSeqno == priv->waitedSeqno)
        return;
    if (qelGeWaitSeqno(priv->fd, priv->lastSeqno) == 0)
        priv->waitedSeqno = priv->lastSeqno;
    else
        qelGeWarnWait(priv->lastSeqno);
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
