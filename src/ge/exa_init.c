/* SPDX-License-Identifier: MIT */
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
    exa->maxPitchBytes = TX3120_GE_MAX_PITCH;

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
qelExaForgetQueue(qelGe *ge)
{
    ge->opCount = 0;
    ge->queuedPixels = 0;
    ge->batchDst = NULL;
    ge->batchSrc = NULL;
    ge->prepDst = NULL;
    ge->prepSrc = NULL;
    /* Each server generation gives the GE a new chance. */
    ge->refusedInARow = 0;
    ge->givenUp = FALSE;
}

static void
qelExaRelease(qelGe *ge)
{
    qelGeQueueFree(ge);
    free(ge->exa);
    ge->exa = NULL;
    qelExaForgetQueue(ge);
}

Bool
qelExaInit(ScreenPtr screen, qelGe *ge)
{
    if (!qelGeAttach(screen, ge))
        return FALSE;
    ge->screenBoClaimed = FALSE;
    ge->exa = exaDriverAlloc();
    if (!ge->exa)
        return FALSE;
    qelExaFill(ge->exa);

    if (!qelGeQueueAlloc(ge)) {
        qelExaRelease(ge);
        return FALSE;
    }
    qelExaForgetQueue(ge);

    if (!exaDriverInit(screen, ge->exa)) {
        qelExaRelease(ge);
        return FALSE;
    }
    return TRUE;
}

void
qelExaFini(qelGe *ge)
{
    free(ge->screenPixmapPriv);
    ge->screenPixmapPriv = NULL;
    qelExaRelease(ge);
}
