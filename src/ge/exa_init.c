/* SPDX-License-Identifier: MIT */
/* EXA set-up with driver-allocated pixmaps: the driver owns the storage of
 * every pixmap EXA makes (exa_pixmap.c), decides where each lives
 * (placement.c), and owns the operation queue and the cache of released
 * pixmap buffers. */
#include "ge/ge.h"

#include <stdlib.h>

/* The released pixmap buffers kept for reuse: at most this many bytes, for
 * at most this long. */
#define QEL_BO_CACHE_BYTES (16u << 20)
#define QEL_BO_CACHE_AGE_MS 2000
/* The same for the system memory of released pixmaps. */
#define QEL_MEM_CACHE_BYTES (32u << 20)
#define QEL_MEM_CACHE_AGE_MS 2000

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

/* Said at the end of a generation that made pixmap buffers, for whoever
 * tunes the placement. */
static void
qelExaReport(const qelGe *ge)
{
    qelBoCacheStats cache = qelBoCacheGetStats(ge->boCache);

    if (ge->movesToBuffer == 0 && cache.created == 0 && qelMemCachePeakBytes(ge->memCache) == 0)
        return;
    xf86DrvMsgVerb(ge->scrnIndex, X_INFO, 3,
                   "GE: %llu pixmaps moved into buffers (%llu bytes); pixmap buffers: %llu made, "
                   "%llu reused, at most %llu bytes kept; system memory kept: at most %llu "
                   "bytes\n",
                   (unsigned long long) ge->movesToBuffer,
                   (unsigned long long) ge->bytesMovedToBuffer, (unsigned long long) cache.created,
                   (unsigned long long) cache.reused, (unsigned long long) cache.peakBytes,
                   (unsigned long long) qelMemCachePeakBytes(ge->memCache));
}

static void
qelExaRelease(qelGe *ge)
{
    if (ge->boCache && ge->memCache) {
        qelExaReport(ge);
        qelBoCacheDestroy(ge->boCache);
        ge->boCache = NULL;
    }
    qelMemCacheDestroy(ge->memCache);
    ge->memCache = NULL;
    ge->movesToBuffer = 0;
    ge->bytesMovedToBuffer = 0;
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

    ge->boCache = qelBoCacheCreate(ge->fd, QEL_BO_CACHE_BYTES, QEL_BO_CACHE_AGE_MS);
    ge->memCache = qelMemCacheCreate(QEL_MEM_CACHE_BYTES, QEL_MEM_CACHE_AGE_MS);
    if (!ge->boCache || !ge->memCache || !qelGeQueueAlloc(ge)) {
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
