/* EXA set-up with driver-allocated pixmaps: the driver owns the storage of
 * every pixmap EXA makes (exa_pixmap.c) and the operation queue. Nothing
 * migrates: a pixmap the GE can address is a buffer from the start, and
 * every other one is drawn in place by software. */
#include "ge/ge.h"

#include <stdlib.h>

static void
qelExaFill(ExaDriverPtr exa)
{
    exa->exa_major = 2;
    exa->exa_minor = 6;
    exa->pixmapOffsetAlign = 0;
    exa->pixmapPitchAlign = 4;
    /* PrepareAccess takes every access index, so that each CPU access to
     * a buffer waits for the GE as its own access needs. */
    exa->flags = EXA_OFFSCREEN_PIXMAPS | EXA_HANDLES_PIXMAPS | EXA_SUPPORTS_PREPARE_AUX;
    exa->maxX = QEL_MAX_DIMENSION;
    exa->maxY = QEL_MAX_DIMENSION;
    exa->maxPitchBytes = GE_MAX_PITCH;

    exa->PrepareSolid = qelPrepareSolid;
    exa->Solid = qelSolid;
    exa->DoneSolid = qelDoneOp;
    exa->PrepareCopy = qelPrepareCopy;
    exa->Copy = qelCopy;
    exa->DoneCopy = qelDoneOp;
    exa->UploadToScreen = qelUploadToScreen;
    exa->DownloadFromScreen = qelDownloadFromScreen;
    exa->WaitMarker = qelWaitMarker;
    exa->PrepareAccess = qelPrepareAccess;
    exa->FinishAccess = qelFinishAccess;
    exa->PixmapIsOffscreen = qelPixmapIsOffscreen;
    exa->DestroyPixmap = qelDestroyPixmap;
    exa->ModifyPixmapHeader = qelModifyPixmapHeader;
    exa->CreatePixmap2 = qelCreatePixmap2;
}

/* Nothing of the queue or the prepared state may point into a generation
 * whose buffers are gone. */
static void
qelExaForgetQueue(qelScreenPriv *priv)
{
    priv->opCount = 0;
    priv->batchDst = NULL;
    priv->batchSrc = NULL;
    priv->prepDst = NULL;
    priv->prepSrc = NULL;
    /* Each server generation gives the GE a new chance. */
    priv->geRefusedInARow = 0;
    priv->geGivenUp = FALSE;
}

static void
qelExaRelease(qelScreenPriv *priv)
{
    free(priv->ops);
    priv->ops = NULL;
    free(priv->exa);
    priv->exa = NULL;
    qelExaForgetQueue(priv);
}

Bool
qelExaInit(ScreenPtr screen)
{
    qelScreenPriv *priv = qelScreenPrivFromScreen(screen);

    priv->exa = exaDriverAlloc();
    if (!priv->exa)
        return FALSE;
    qelExaFill(priv->exa);

    priv->opCapacity = GE_MAX_OPS;
    priv->ops = malloc(GE_MAX_OPS * sizeof(qelGeOp));
    if (!priv->ops) {
        qelExaRelease(priv);
        return FALSE;
    }
    qelExaForgetQueue(priv);

    if (!exaDriverInit(screen, priv->exa)) {
        qelExaRelease(priv);
        return FALSE;
    }
    return TRUE;
}

void
qelExaFini(ScreenPtr screen)
{
    qelExaRelease(qelScreenPrivFromScreen(screen));
}
