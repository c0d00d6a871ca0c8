/* The GE operation queue and the EXA hooks built on it. */
#ifndef QEL_GE_H
#define QEL_GE_H

#include "driver/qel.h"

/* The EXA driver private of a pixmap. */
typedef struct qelPixmapPriv {
    qelBo *bo;
    uint32_t pitch;
} qelPixmapPriv;

/* Operation queue. */
void qelGeFlush(qelScreenPriv *priv);

/* Makes room for one operation writing dst (and, for a copy, reading src)
 * and returns the next record, now counted in the queue. A batch has one
 * destination and at most one source; a change of either, or a full queue,
 * submits the batch first. Inline: it is on the path of every queued
 * operation, and the common case is a few compares. */
static inline qelGeOp *
qelGeReserve(qelScreenPriv *priv, qelBo *dst, qelBo *src)
{
    if (priv->opCount > 0 && dst != priv->batchDst)
        qelGeFlush(priv);
    else if (priv->opCount > 0 && src && priv->batchSrc && src != priv->batchSrc)
        qelGeFlush(priv);
    if (priv->opCount >= priv->opCapacity)
        qelGeFlush(priv);

    priv->batchDst = dst;
    if (src)
        priv->batchSrc = src;
    return &priv->ops[priv->opCount++];
}
void qelGeWaitBo(qelScreenPriv *priv, qelBo *bo);
void qelGeCopyBox(qelScreenPriv *priv, qelBo *src, qelBo *dst, int x, int y, int w, int h);
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

/* TRUE for the screen's own buffers, which only CloseScreen and resize
 * destroy. */
Bool qelIsScreenBo(const qelScreenPriv *priv, const qelBo *bo);

/* The buffer behind a pixmap, or NULL when the driver holds none. */
qelBo *qelPixmapBo(PixmapPtr pixmap);

#endif
