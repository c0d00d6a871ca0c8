/* SPDX-License-Identifier: MIT */
/* The GE operation queue and the EXA hooks built on it, with the record
 * that holds their state for one screen. */
#ifndef QEL_GE_H
#define QEL_GE_H

#include <stddef.h>
#include <stdint.h>

#include <xorg-server.h>
#include <xf86.h>
#include <exa.h>
#include <gcstruct.h>
#include <picturestr.h>

#include "bo/bo.h"
#include <drm/tx3120_drm.h>

/* One operation of a GE batch, as the kernel reads it. */
typedef struct drm_tx3120_ge_op qelGeOp;

/* A batch the GE has taken and is not known to have finished: which it is,
 * how much work it holds (pixels written), and what it draws, kept so that
 * the CPU can draw it should the GE be given up before it finishes. A
 * buffer released while the batch is out is forgotten here (NULL). */
typedef struct qelGeFlight {
    qelGeBatchRef batch;
    uint64_t pixels;
    qelBo *dst;
    qelBo *src;
    qelGeOp *ops;
    uint32_t opCount;
} qelGeFlight;

/* The most batches out at once; the GE is asked for the middle one's end
 * before another would go beyond. */
#define QEL_GE_FLIGHT_SLOTS 8

/* The GE and EXA state of one screen. The driver makes it and hands it to
 * qelExaInit, which puts it where every hook finds it from the screen. */
typedef struct qelGe {
    int scrnIndex;
    int fd;
    ExaDriverPtr exa;
    /* The buffer behind the screen pixmap (the driver's, which replaces it
     * at resize); the screen pixmap takes it when EXA makes that pixmap. */
    qelBo *screenBo;
    Bool screenBoClaimed;
    /* The EXA private that CreatePixmap2 gave the screen pixmap. fb frees
     * the screen pixmap without the DestroyPixmap hook, and EXA's privates
     * are gone by CloseScreen, so it is kept to be released. */
    void *screenPixmapPriv;
    /* The operation queue: one batch of one destination and at most one
     * source. */
    qelGeOp *ops;
    uint32_t opCount;
    uint32_t opCapacity;
    qelBo *batchDst;
    qelBo *batchSrc;
    /* The pixels the queued operations write. */
    uint64_t queuedPixels;
    /* The last submitted batch, and the serial up to which the GE is known
     * to have finished its work (it completes batches in order). */
    qelGeBatchRef submitted;
    uint64_t completed;
    /* The batches out and not known done, oldest first from flightHead in
     * a ring, and the pixels they write together. */
    qelGeFlight flights[QEL_GE_FLIGHT_SLOTS];
    uint32_t flightHead;
    uint32_t flightCount;
    uint64_t flightPixels;
    /* The GE's health: refused batches in a row, the kinds of refusal and
     * of failed wait already logged (errno bits), and whether the GE is
     * given up for this server generation. */
    uint32_t refusedInARow;
    uint64_t refusalsSaid;
    uint64_t waitFailuresSaid;
    Bool givenUp;
    /* What the last PrepareSolid or PrepareCopy fixed. */
    PixmapPtr prepDst;
    uint32_t prepRop;
    uint32_t prepFg;
    PixmapPtr prepSrc;
    /* Released pixmap buffers kept for reuse (the driver's), and how many
     * pixmaps moved from system memory into a buffer, with their bytes. */
    qelBoCache *boCache;
    qelMemCache *memCache;
    uint64_t movesToBuffer;
    uint64_t bytesMovedToBuffer;
    /* The acceleration layer's procedures under the driver's Render and GC
     * hooks, and how many Render requests have their pixmaps open to the
     * CPU. */
    CreatePixmapProcPtr exaCreatePixmap;
    CreateGCProcPtr exaCreateGC;
    CompositeProcPtr exaComposite;
    int renderAccessDepth;
} qelGe;

/* The screen's record: Attach puts it where every hook finds it from the
 * screen (qelExaInit does), FromScreen finds it. */
Bool qelGeAttach(ScreenPtr screen, qelGe *ge);
qelGe *qelGeFromScreen(ScreenPtr screen);

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
    /* The pixels may move into a buffer: system memory of the driver's
     * own, in a pixmap the GE could address. */
    Bool movable;
    /* The CPU wrote the pixels last: small fills and copies stay with it,
     * so that the CPU and the GE do not take turns on the pixmap. */
    Bool cpuOwned;
    /* CPU views of the pixels that are open; the pixels stay where they
     * are until all are closed. */
    int views;
    /* Pixels copied between it and buffers while it was in system memory. */
    uint32_t copiedWithBuffers;
    /* Parts of the system memory that still hold what the memory held
     * before the pixmap; zeroed before anyone may see them (pixels.c). */
    RegionRec stale;
    Bool hasStale;
} qelPixmapPriv;

/* Operation queue. Alloc gives the queue its operation records, Free
 * takes them back with those of the batches out. */
Bool qelGeQueueAlloc(qelGe *ge);
void qelGeQueueFree(qelGe *ge);
void qelGeFlush(qelGe *ge);
/* Submits what is queued and waits until the GE has finished every batch
 * of the screen (before DRM master goes). */
void qelGeIdle(qelGe *ge);
/* Something other than a wait proved the GE done with every batch up to
 * that serial (a flip it fenced has been shown). */
void qelGeNoteDone(qelGe *ge, uint64_t serial);
/* Runs operations on the CPU, as the GE would have: the queued ones, or
 * any batch's. */
void qelGeRunBatchOnCpu(qelGe *ge);
void qelCpuRunOps(const qelBo *dst, const qelBo *src, const qelGeOp *ops, uint32_t count);
/* Fills the w x h rectangle at (x, y) of the 32-bit pixels at base as the
 * GE's solid raster codes do (copy or xor of fg), and copies as its copy
 * codes do, on the CPU; the rectangles lie inside the surfaces. */
void qelCpuFillRect(void *base, uint32_t pitch, uint32_t rop, uint32_t fg, int x, int y, int w,
                    int h);
void qelCpuCopyRect(void *dst, uint32_t dstPitch, int dstX, int dstY, void *src, uint32_t srcPitch,
                    int srcX, int srcY, int w, int h, uint32_t rop);

/* What the CPU is about to do with a buffer. */
typedef enum qelCpuAccess {
    QEL_CPU_READ,
    QEL_CPU_WRITE,
} qelCpuAccess;

/* Makes a buffer safe for the CPU access: queued operations that conflict
 * with it are submitted, and the GE work it conflicts with is waited for
 * (a read waits for the GE's writes to the buffer, a write for its reads
 * and writes), unless that work is already known to be done. */
void qelGeSyncCpu(qelGe *ge, qelBo *bo, qelCpuAccess access);
/* The same for a CPU write: all GE work on the buffer is done after it. */
void qelGeWaitBo(qelGe *ge, qelBo *bo);
/* The buffer is about to be released: nothing queued or out may draw on
 * it afterwards. Work already out goes on on the kernel's reference. */
void qelGeForgetBo(qelGe *ge, const qelBo *bo);
Bool qelGeCpuMayWriteAfterWait(qelGe *ge, qelBo *bo);

/* Queues a plain copy of the w x h rectangle at (srcX, srcY) of src to
 * (dstX, dstY) of dst, clipped to both buffers. */
void qelGeCopyRect(qelGe *ge, qelBo *src, int srcX, int srcY, qelBo *dst, int dstX,
                   int dstY, int w, int h);
void qelWaitMarker(ScreenPtr screen, int marker);

/* EXA set-up and hooks. Init makes the queue and the EXA record for ge
 * (its fd, scrnIndex and screenBo set) and starts EXA on the screen; Fini
 * forgets both once EXA has closed. */
Bool qelExaInit(ScreenPtr screen, qelGe *ge);
void qelExaFini(qelGe *ge);
/* The driver's Render, GC and shared-memory procedures over EXA's. */
void qelInstallRenderHooks(ScreenPtr screen, qelGe *ge);

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
void qelGeNoteScreenPitch(const qelGe *ge, const qelBo *previous, Bool tearFree);

/* TRUE for the screen's own buffers, which only CloseScreen and resize
 * destroy. */
Bool qelIsScreenBo(const qelGe *ge, const qelBo *bo);

/* Pixmaps over buffers their callers keep (borrowed_pixmap.c). BorrowBo
 * points a pixmap at the buffer (ge NULL or without EXA: at its mapping,
 * for software). A borrowed pixmap is one made for the buffer: Destroy
 * gives the buffer back and destroys the pixmap, FreeAtClose does the same
 * at CloseScreen, when EXA can no longer destroy pixmaps. */
typedef struct qelBorrowedPixmap {
    PixmapPtr pixmap;
    /* Its driver record with acceleration, else NULL. */
    qelPixmapPriv *pixPriv;
} qelBorrowedPixmap;

Bool qelPixmapBorrowBo(qelGe *ge, PixmapPtr pixmap, qelBo *bo);
Bool qelBorrowedPixmapCreate(qelBorrowedPixmap *borrowed, ScreenPtr screen, qelGe *ge, qelBo *bo);
void qelBorrowedPixmapDestroy(qelBorrowedPixmap *borrowed, qelGe *ge);
void qelBorrowedPixmapFreeAtClose(qelBorrowedPixmap *borrowed, qelGe *ge);

/* The buffer behind a pixmap, or NULL when it has none. */
qelBo *qelPixmapBo(PixmapPtr pixmap);
/* The CPU address of a pixmap's pixels. */
void *qelPixmapPixels(const qelPixmapPriv *pixPriv);
/* The same for a CPU access about to happen: the GE work it conflicts
 * with is waited for, and a write makes the pixels the CPU's. Overwrite is
 * for a write that replaces every pixel of the rectangle without reading
 * any. */
void *qelPixmapCpuView(qelGe *ge, qelPixmapPriv *pixPriv, qelCpuAccess access);
void *qelPixmapCpuOverwrite(qelGe *ge, qelPixmapPriv *pixPriv, int x, int y, int w, int h);

/* System-memory pixels (pixels.c): made from the cache of released
 * blocks, with the stale parts zeroed before they are seen or overwritten
 * first; Free gives them back. */
uint32_t qelSystemPitch(int width, int bitsPerPixel);
Bool qelPixelsAlloc(qelGe *ge, qelPixmapPriv *pixPriv, int width, int height, int bitsPerPixel);
void qelPixelsFree(qelGe *ge, qelPixmapPriv *pixPriv);
void qelPixelsClearStale(qelPixmapPriv *pixPriv);
void qelPixelsOverwritten(qelPixmapPriv *pixPriv, int x, int y, int w, int h);
/* Lets the caches of released buffers and pixels drop what waited too
 * long; called while the server is idle. */
void qelGeTrimCaches(qelGe *ge);

/* Placement (placement.c): where a pixmap's pixels live and where an
 * operation on them runs. */
/* Moves the pixels of a pixmap in system memory into a buffer, with them
 * unless the caller overwrites them all; FALSE when it must stay. */
Bool qelPixmapMoveToBuffer(qelGe *ge, PixmapPtr pixmap, Bool keepContents);
/* Hands a pixmap's buffer back for reuse. */
void qelPixmapReleaseBuffer(qelGe *ge, qelPixmapPriv *pixPriv);
/* A fill of w x h into the pixmap is the CPU's. */
Bool qelFillIsCpus(qelGe *ge, const qelPixmapPriv *pixPriv, int w, int h);
/* Counts a copy of w x h between a pixmap in system memory and one in a
 * buffer, and says whether the copies so far pay for moving the first into
 * a buffer. */
Bool qelCopyMovesToBuffer(qelPixmapPriv *sys, int w, int h);

#endif
