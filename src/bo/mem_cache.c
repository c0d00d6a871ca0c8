/* SPDX-License-Identifier: MIT */
/* A cache of released system-memory pixel blocks. A large pixmap made in
 * fresh memory costs a page fault per page on first touch (the kernel
 * zeroing each), and applications make and drop such pixmaps many times a
 * second. Blocks of released pixmaps stay mapped here and serve later
 * pixmaps of their size class. A block from the cache still holds what
 * the pixmap before it held: the caller must not let anyone see that. */
#include "bo/bo.h"

#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>

/* Blocks below this size come from and go to the C library, which keeps
 * small ones without the kernel's help. */
#define QEL_MEM_CACHE_MIN_BYTES (64u << 10)
#define QEL_MEM_CACHE_MAX_ENTRIES 32

typedef struct qelMemBlock {
    void *bits;
    size_t size;
    int64_t releasedNs;
} qelMemBlock;

struct qelMemCache {
    uint64_t maxBytes;
    int64_t maxAgeNs;
    /* Oldest release first. */
    qelMemBlock blocks[QEL_MEM_CACHE_MAX_ENTRIES];
    int count;
    uint64_t bytes;
    uint64_t peakBytes;
};

/* The size a block of n bytes is made with: steps of an eighth of its
 * power of two, so that a block is at most an eighth larger than asked. */
static size_t
qelMemSizeClass(size_t n)
{
    size_t step = 4096;

    while (n > step * 8)
        step *= 2;
    return (n + step - 1) / step * step;
}

qelMemCache *
qelMemCacheCreate(uint64_t maxBytes, int maxAgeMs)
{
    qelMemCache *cache = calloc(1, sizeof(*cache));

    if (!cache)
        return NULL;
    cache->maxBytes = maxBytes;
    cache->maxAgeNs = (int64_t) maxAgeMs * 1000000LL;
    return cache;
}

static void
qelMemUnmap(void *bits, size_t size)
{
    munmap(bits, size);
}

static void
qelMemCacheDrop(qelMemCache *cache, int i)
{
    qelMemUnmap(cache->blocks[i].bits, cache->blocks[i].size);
    cache->bytes -= cache->blocks[i].size;
    memmove(&cache->blocks[i], &cache->blocks[i + 1],
            (size_t) (cache->count - i - 1) * sizeof(cache->blocks[0]));
    cache->count--;
}

void
qelMemCacheEmpty(qelMemCache *cache)
{
    while (cache->count > 0)
        qelMemCacheDrop(cache, 0);
}

void
qelMemCacheDestroy(qelMemCache *cache)
{
    if (!cache)
        return;
    qelMemCacheEmpty(cache);
    free(cache);
}

void
qelMemCacheTrim(qelMemCache *cache)
{
    int64_t oldest = qelMonotonicNs() - cache->maxAgeNs;

    while (cache->count > 0 && cache->blocks[0].releasedNs <= oldest)
        qelMemCacheDrop(cache, 0);
}

/* Fresh anonymous pages, which read as zero until written. */
static void *
qelMemMapFresh(size_t size)
{
    void *bits = mmap(NULL, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);

    return bits == MAP_FAILED ? NULL : bits;
}

void *
qelMemCacheTake(qelMemCache *cache, size_t size, Bool *zeroed)
{
    size_t classSize;
    void *bits;

    *zeroed = TRUE;
    if (!cache || size < QEL_MEM_CACHE_MIN_BYTES)
        return calloc(1, size);
    classSize = qelMemSizeClass(size);
    qelMemCacheTrim(cache);
    for (int i = cache->count - 1; i >= 0; i--) {
        if (cache->blocks[i].size != classSize)
            continue;
        bits = cache->blocks[i].bits;
        cache->bytes -= classSize;
        memmove(&cache->blocks[i], &cache->blocks[i + 1],
                (size_t) (cache->count - i - 1) * sizeof(cache->blocks[0]));
        cache->count--;
        *zeroed = FALSE;
        return bits;
    }
    bits = qelMemMapFresh(classSize);
    if (!bits && cache->count > 0) {
        /* Short of memory: what the cache holds goes first. */
        qelMemCacheEmpty(cache);
        bits = qelMemMapFresh(classSize);
    }
    return bits;
}

void
qelMemCacheGive(qelMemCache *cache, void *bits, size_t size)
{
    size_t classSize = qelMemSizeClass(size);

    if (!bits)
        return;
    if (!cache || size < QEL_MEM_CACHE_MIN_BYTES) {
        free(bits);
        return;
    }
    if (classSize > cache->maxBytes) {
        qelMemUnmap(bits, classSize);
        return;
    }
    while (cache->count > 0 && (cache->count == QEL_MEM_CACHE_MAX_ENTRIES ||
                                cache->bytes + classSize > cache->maxBytes))
        qelMemCacheDrop(cache, 0);
    cache->blocks[cache->count++] =
        (qelMemBlock) {.bits = bits, .size = classSize, .releasedNs = qelMonotonicNs()};
    cache->bytes += classSize;
    if (cache->bytes > cache->peakBytes)
        cache->peakBytes = cache->bytes;
}

uint64_t
qelMemCachePeakBytes(const qelMemCache *cache)
{
    return cache->peakBytes;
}
