/* SPDX-License-Identifier: MIT */
/* Dumb buffer objects: every pixel store the driver owns. */
#ifndef QEL_BO_H
#define QEL_BO_H

#include <stdint.h>
#include <time.h>
#include <xf86.h>

/* The monotonic clock in nanoseconds, for ages and patience. */
static inline int64_t
qelMonotonicNs(void)
{
    struct timespec now;

    clock_gettime(CLOCK_MONOTONIC, &now);
    return (int64_t) now.tv_sec * 1000000000LL + now.tv_nsec;
}

/* A GE batch as the driver keeps it: its place in the order of the
 * driver's submissions (1, 2, ...; 0 for none), which says what is done once
 * a later batch is known to be, and the seqno the kernel gave it, which a
 * wait names. */
/* The largest width and height of a mode or of a buffer the GE draws on:
 * the GE addresses rows of at most 2048 pixels. */
#define QEL_MAX_DIMENSION 2048

typedef struct qelGeBatchRef {
    uint64_t serial;
    uint32_t seqno;
} qelGeBatchRef;

typedef struct qelBo {
    uint32_t handle;
    uint32_t pitch;
    uint64_t size;
    int32_t width;
    int32_t height;
    uint32_t fbId;
    void *map;
    /* The last submitted GE batches that read and that wrote the buffer,
     * kept by the GE queue: a CPU read waits for the writer only, a CPU
     * write for both. */
    qelGeBatchRef geRead;
    qelGeBatchRef geWrite;
} qelBo;

qelBo *qelBoCreate(int fd, int width, int height);
void *qelBoMap(int fd, qelBo *bo);
void *qelBoGetMap(int fd, qelBo *bo);
Bool qelBoAddFb(int fd, qelBo *bo);
qelBo *qelBoCreateScanout(int fd, int width, int height, Bool withFb);
void qelBoDestroy(int fd, qelBo *bo);

/* A cache of released buffers (bo_cache.c), bounded in bytes and in age.
 * Take gives a mapped buffer of at least width x height (its size class),
 * the one released last that the GE has finished with up to serial
 * completed if there is one, else a new one; NULL when none can be made
 * even with the cache emptied. Give takes a buffer back (one with a
 * framebuffer is destroyed). Trim drops what has waited too long. */
typedef struct qelBoCache qelBoCache;

typedef struct qelBoCacheStats {
    uint64_t created;
    uint64_t reused;
    uint64_t peakBytes;
    uint64_t bytes;
    uint32_t buffers;
} qelBoCacheStats;

qelBoCache *qelBoCacheCreate(int fd, uint64_t maxBytes, int maxAgeMs);
void qelBoCacheDestroy(qelBoCache *cache);
qelBo *qelBoCacheTake(qelBoCache *cache, int width, int height, uint64_t completed);
void qelBoCacheGive(qelBoCache *cache, qelBo *bo);
void qelBoCacheTrim(qelBoCache *cache);
void qelBoCacheEmpty(qelBoCache *cache);
qelBoCacheStats qelBoCacheGetStats(const qelBoCache *cache);
/* The size a buffer dimension of n pixels is made with. */
int qelBoSizeClass(int n);

/* A cache of released system-memory pixel blocks (mem_cache.c), bounded
 * in bytes and in age. Take gives a block of at least size bytes: *zeroed
 * says whether it reads as zero, or still holds an earlier pixmap's
 * pixels; NULL when none can be had. Give takes a block back (size as it
 * was asked for). A NULL cache makes and frees plain zeroed memory. */
typedef struct qelMemCache qelMemCache;

qelMemCache *qelMemCacheCreate(uint64_t maxBytes, int maxAgeMs);
void qelMemCacheDestroy(qelMemCache *cache);
void *qelMemCacheTake(qelMemCache *cache, size_t size, Bool *zeroed);
void qelMemCacheGive(qelMemCache *cache, void *bits, size_t size);
void qelMemCacheTrim(qelMemCache *cache);
void qelMemCacheEmpty(qelMemCache *cache);
uint64_t qelMemCachePeakBytes(const qelMemCache *cache);

/* Clips the rectangle (x, y, *w, *h) to a width x height surface (or to
 * the buffer) and says whether any of it is left. Inline: every queued GE
 * operation goes through it. The size is compared with the room left after
 * the origin, which cannot overflow once the origin lies inside: x + w near
 * INT_MAX must clip, not wrap round to a small or negative value that
 * passes the test. */
static inline Bool
qelClipToSize(int width, int height, int x, int y, int *w, int *h)
{
    if (x < 0 || y < 0)
        return FALSE;
    if (x >= width || y >= height)
        return FALSE;
    if (*w > width - x)
        *w = width - x;
    if (*h > height - y)
        *h = height - y;
    return *w > 0 && *h > 0;
}

static inline Bool
qelClipRect(const qelBo *bo, int x, int y, int *w, int *h)
{
    return qelClipToSize(bo->width, bo->height, x, y, w, h);
}

#endif
