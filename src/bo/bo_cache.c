/* SPDX-License-Identifier: MIT */
/* A cache of released dumb buffers. Making a buffer costs the kernel an
 * allocation, a mapping and a page fault per page on first touch, and
 * unmaking it as much again; pixmaps come and go many times a second. A
 * released buffer keeps its handle and mapping here and serves a later
 * request of the same size class. The cache holds a bounded number of
 * bytes for a bounded time; a buffer that cannot be made empties it and is
 * tried again. Buffers from the cache are not cleared: a pixmap's first
 * contents are undefined, and the caller fills what it shows. */
#include "bo/bo.h"

#include <stdlib.h>
#include <string.h>

/* The most buffers kept, whatever their sizes. */
#define QEL_BO_CACHE_MAX_ENTRIES 64

typedef struct qelBoCacheEntry {
    qelBo *bo;
    int64_t releasedNs;
} qelBoCacheEntry;

struct qelBoCache {
    int fd;
    uint64_t maxBytes;
    int64_t maxAgeNs;
    /* Oldest release first. */
    qelBoCacheEntry entries[QEL_BO_CACHE_MAX_ENTRIES];
    int count;
    uint64_t bytes;
    qelBoCacheStats stats;
};

int
qelBoSizeClass(int n)
{
    int step = 16;

    /* Steps of an eighth of the size's power of two above 64: a buffer is
     * at most an eighth wider and an eighth taller than asked for. */
    while (n > step * 8)
        step *= 2;
    return (n + step - 1) / step * step;
}

qelBoCache *
qelBoCacheCreate(int fd, uint64_t maxBytes, int maxAgeMs)
{
    qelBoCache *cache = calloc(1, sizeof(*cache));

    if (!cache)
        return NULL;
    cache->fd = fd;
    cache->maxBytes = maxBytes;
    cache->maxAgeNs = (int64_t) maxAgeMs * 1000000LL;
    return cache;
}

static void
qelBoCacheDrop(qelBoCache *cache, int i)
{
    qelBo *bo = cache->entries[i].bo;

    cache->bytes -= bo->size;
    memmove(&cache->entries[i], &cache->entries[i + 1],
            (size_t) (cache->count - i - 1) * sizeof(cache->entries[0]));
    cache->count--;
}

void
qelBoCacheEmpty(qelBoCache *cache)
{
    while (cache->count > 0) {
        qelBo *bo = cache->entries[0].bo;

        qelBoCacheDrop(cache, 0);
        qelBoDestroy(cache->fd, bo);
    }
}

void
qelBoCacheDestroy(qelBoCache *cache)
{
    if (!cache)
        return;
    qelBoCacheEmpty(cache);
    free(cache);
}

void
qelBoCacheTrim(qelBoCache *cache)
{
    int64_t oldest = qelMonotonicNs() - cache->maxAgeNs;

    while (cache->count > 0 && cache->entries[0].releasedNs <= oldest) {
        qelBo *bo = cache->entries[0].bo;

        qelBoCacheDrop(cache, 0);
        qelBoDestroy(cache->fd, bo);
    }
}

static Bool
qelBoIdle(const qelBo *bo, uint64_t completed)
{
    return bo->geRead.serial <= completed && bo->geWrite.serial <= completed;
}

/* The most recently released buffer of the class that the GE is done
 * with, else the most recent of the class; -1 for none. */
static int
qelBoCacheFind(const qelBoCache *cache, int width, int height, uint64_t completed)
{
    int found = -1;

    for (int i = cache->count - 1; i >= 0; i--) {
        const qelBo *bo = cache->entries[i].bo;

        if (bo->width != width || bo->height != height)
            continue;
        if (qelBoIdle(bo, completed))
            return i;
        if (found < 0)
            found = i;
    }
    return found;
}

static qelBo *
qelBoCreateMapped(int fd, int width, int height)
{
    qelBo *bo = qelBoCreate(fd, width, height);

    if (bo && !qelBoMap(fd, bo)) {
        qelBoDestroy(fd, bo);
        return NULL;
    }
    return bo;
}

qelBo *
qelBoCacheTake(qelBoCache *cache, int width, int height, uint64_t completed)
{
    int classWidth = qelBoSizeClass(width);
    int classHeight = qelBoSizeClass(height);
    int i;
    qelBo *bo;

    qelBoCacheTrim(cache);
    i = qelBoCacheFind(cache, classWidth, classHeight, completed);
    if (i >= 0) {
        bo = cache->entries[i].bo;
        qelBoCacheDrop(cache, i);
        cache->stats.reused++;
        return bo;
    }
    bo = qelBoCreateMapped(cache->fd, classWidth, classHeight);
    if (!bo && cache->count > 0) {
        /* Short of memory: what the cache holds goes first. */
        qelBoCacheEmpty(cache);
        bo = qelBoCreateMapped(cache->fd, classWidth, classHeight);
    }
    if (bo)
        cache->stats.created++;
    return bo;
}

void
qelBoCacheGive(qelBoCache *cache, qelBo *bo)
{
    if (!bo)
        return;
    /* Only plain mapped buffers are kept; the oldest make room. */
    if (bo->fbId != 0 || !bo->map || bo->size > cache->maxBytes) {
        qelBoDestroy(cache->fd, bo);
        return;
    }
    while (cache->count > 0 &&
           (cache->count == QEL_BO_CACHE_MAX_ENTRIES || cache->bytes + bo->size > cache->maxBytes)) {
        qelBo *oldest = cache->entries[0].bo;

        qelBoCacheDrop(cache, 0);
        qelBoDestroy(cache->fd, oldest);
    }
    cache->entries[cache->count++] = (qelBoCacheEntry) {.bo = bo, .releasedNs = qelMonotonicNs()};
    cache->bytes += bo->size;
    if (cache->bytes > cache->stats.peakBytes)
        cache->stats.peakBytes = cache->bytes;
}

qelBoCacheStats
qelBoCacheGetStats(const qelBoCache *cache)
{
    qelBoCacheStats stats = cache->stats;

    stats.bytes = cache->bytes;
    stats.buffers = (uint32_t) cache->count;
    return stats;
}
