/* The GE operation queue and the EXA hooks built on it. */
#ifndef QEL_GE_H
#define QEL_GE_H

#include "driver/qel.h"

/* The EXA driver private of a pixmap: where its pixels are. */
typedef struct qelPixmapPriv {
    /* A buffer the GE can work on, or NULL. */
    qelBo *bo;
    uint32_t pitch;
    /* Without a buffer: system memory, the driver's own when ownsBits,
     * else the pixmap creator's; NULL while the pixmap has no size. */
    void *bits;
    Bool ownsBits;
    /* The bytes of the driver's own system memory. */
    size_t size;
} qelPixmapPriv;

/* Operation queue. */
void qelGeFlush(qelScreenPriv *priv);
/* Something other than a wait proved the GE done with every batch up to
 * that serial (a flip it fenced has been shown). */
void qelGeNoteDone(qelScreenPriv *priv, uint64_t serial);
/* Runs the queued operations on the CPU, as the GE would have. */
void qelGeRunBatchOnCpu(qelScreenPriv *priv);

/* TRUE when a batch must go out before an operation writing dst (and, for a
 * copy, reading src) can join the queue: a batch has one destination and at
 * most one source, and the queue has a fixed size. */
static inline Bool
qelGeBatchMustFlush(const qelScreenPriv *priv, const qelBo *dst, const qelBo *src)
{
    /* batchDst is NULL while the queue is empty, so the common case (the
     * same destination again) settles this test with one compare. */
    if (dst != priv->batchDst && priv->opCount > 0)
        return TRUE;
    if (priv->opCount > 0 && src && priv->batchSrc && src != priv->batchSrc)
        return TRUE;
    return priv->opCount >= priv->opCapacity;
}

/* Makes room for one operation writing dst (and, for a copy, reading src)
 * and returns the next record, now counted in the queue; the caller writes
 * all 13 words. Inline: it is on the path of every queued operation, and
 * the common case is a few compares. */
static inline qelGeOp *
qelGeReserve(qelScreenPriv *priv, qelBo *dst, qelBo *src)
{
    if (__builtin_expect(qelGeBatchMustFlush(priv, dst, src), 0))
        qelGeFlush(priv);

    priv->batchDst = dst;
    if (src)
        priv->batchSrc = src;
    return &priv->ops[priv->opCount++];
}
/* What the CPU is about to do with a buffer. */
typedef enum qelCpuAccess {
    QEL_CPU_READ,
    QEL_CPU_WRITE,
} qelCpuAccess;

/* Makes a buffer safe for the CPU access: queued operations that conflict
 * with it are submitted, and the GE work it conflicts with is waited for
 * (a read waits for the GE's writes to the buffer, a write for its reads
 * and writes), unless that work is already known to be done. */
void qelGeSyncCpu(qelScreenPriv *priv, qelBo *bo, qelCpuAccess access);
/* The same for a CPU write: all GE work on the buffer is done after it. */
void qelGeWaitBo(qelScreenPriv *priv, qelBo *bo);
Bool qelGeCpuMayWriteAfterWait(qelScreenPriv *priv, qelBo *bo);

/* TRUE when the CPU may write the buffer now without overtaking GE work:
 * no queued operation names it and every GE write to it is known to be
 * done; unfinished GE reads of it (a TearFree copy, say) are waited for.
 * FALSE when the write must queue behind the GE's. Inline: small fills ask
 * it for every span, and the common answer takes a few compares. */
static inline Bool
qelGeCpuMayWriteNow(qelScreenPriv *priv, qelBo *bo)
{
    if (priv->opCount > 0 && (bo == priv->batchDst || bo == priv->batchSrc))
        return FALSE;
    if (bo->geWrite.serial <= priv->geCompleted && bo->geRead.serial <= priv->geCompleted)
        return TRUE;
    return qelGeCpuMayWriteAfterWait(priv, bo);
}
/* Queues a plain copy of the w x h rectangle at (srcX, srcY) of src to
 * (dstX, dstY) of dst, clipped to both buffers. */
void qelGeCopyRect(qelScreenPriv *priv, qelBo *src, int srcX, int srcY, qelBo *dst, int dstX,
                   int dstY, int w, int h);
void qelWaitMarker(ScreenPtr screen, int marker);

/* EXA set-up and hooks. */
Bool qelExaInit(ScreenPtr screen);
void qelExaFini(ScreenPtr screen);

Bool qelPrepareSolid(PixmapPtr pixmap, int alu, Pixel planemask, Pixel fg);
void qelSolid(PixmapPtr pixmap, int x1, int y1, int x2, int y2);
Bool qelPrepareCopy(PixmapPtr src, PixmapPtr dst, int dx, int dy, int alu, Pixel planemask);
void qelCopy(PixmapPtr dst, int srcX, int srcY, int dstX, int dstY, int width, int height);
void qelDoneOp(PixmapPtr pixmap);

Bool qelUploadToScreen(PixmapPtr dst, int x, int y, int w, int h, char *src, int srcPitch);
Bool qelDownloadFromScreen(PixmapPtr src, int x, int y, int w, int h, char *dst, int dstPitch);
Bool qelPrepareAccess(PixmapPtr pixmap, int index);
void qelFinishAccess(PixmapPtr pixmap, int index);

Bool qelPixmapIsOffscreen(PixmapPtr pixmap);
void *qelCreatePixmap2(ScreenPtr screen, int width, int height, int depth, int usageHint,
                       int bitsPerPixel, int *newFbPitch);
void qelDestroyPixmap(ScreenPtr screen, void *driverPriv);
Bool qelModifyPixmapHeader(PixmapPtr pixmap, int width, int height, int depth,
                           int bitsPerPixel, int devKind, void *pixData);

/* Logs what the screen gives up when its buffer becomes wider than the GE
 * can address (acceleration of the screen pixmap and, with TearFree, the
 * copies that feed the CRTCs' own buffers), and when it gets it back;
 * previous is the buffer it replaces, NULL for the first. */
void qelGeNoteScreenPitch(ScrnInfoPtr scrn, const qelScreenPriv *priv, const qelBo *previous);

/* TRUE for the screen's own buffers, which only CloseScreen and resize
 * destroy. */
Bool qelIsScreenBo(const qelScreenPriv *priv, const qelBo *bo);

/* The buffer behind a pixmap, or NULL when it has none. */
qelBo *qelPixmapBo(PixmapPtr pixmap);
/* The CPU address of a pixmap's pixels. */
void *qelPixmapPixels(const qelPixmapPriv *pixPriv);

#endif
