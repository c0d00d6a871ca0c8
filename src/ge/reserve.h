/* SPDX-License-Identifier: MIT */
/* The fast paths of the operation queue, inline because they run for
 * every queued operation and every small software fill: their common case
 * is a few compares. Only the files that queue operations include this;
 * the queue itself (queue.c) does not, since these call into it. */
#ifndef QEL_GE_RESERVE_H
#define QEL_GE_RESERVE_H

#include "ge/flight.h"

/* TRUE when a batch must go out before an operation writing dst (and, for a
 * copy, reading src) can join the queue: a batch has one destination and at
 * most one source, the queue has a fixed size, and a batch holds a bounded
 * amount of work (pixels), so that the work out can be bounded too. */
static inline Bool
qelGeBatchMustFlush(const qelGe *ge, const qelBo *dst, const qelBo *src, uint32_t pixels)
{
    /* batchDst is NULL while the queue is empty, so the common case (the
     * same destination again) settles this test with one compare. */
    if (dst != ge->batchDst && ge->opCount > 0)
        return TRUE;
    if (ge->opCount > 0 && src && ge->batchSrc && src != ge->batchSrc)
        return TRUE;
    if (ge->opCount > 0 && ge->queuedPixels + pixels > QEL_GE_BATCH_PIXELS)
        return TRUE;
    return ge->opCount >= ge->opCapacity;
}

/* Makes room for one operation writing pixels of dst (and, for a copy,
 * reading src) and returns the next record, now counted in the queue; the
 * caller writes all 13 words. Inline: it is on the path of every queued
 * operation, and the common case is a few compares. */
static inline qelGeOp *
qelGeReserve(qelGe *ge, qelBo *dst, qelBo *src, uint32_t pixels)
{
    if (__builtin_expect(qelGeBatchMustFlush(ge, dst, src, pixels), 0))
        qelGeFlush(ge);

    ge->batchDst = dst;
    if (src)
        ge->batchSrc = src;
    ge->queuedPixels += pixels;
    return &ge->ops[ge->opCount++];
}

/* TRUE when the CPU may write the buffer now without overtaking GE work:
 * no queued operation names it and every GE write to it is known to be
 * done; unfinished GE reads of it (a TearFree copy, say) are waited for.
 * FALSE when the write must queue behind the GE's. Inline: small fills ask
 * it for every span, and the common answer takes a few compares. */
static inline Bool
qelGeCpuMayWriteNow(qelGe *ge, qelBo *bo)
{
    if (ge->opCount > 0 && (bo == ge->batchDst || bo == ge->batchSrc))
        return FALSE;
    if (bo->geWrite.serial <= ge->completed && bo->geRead.serial <= ge->completed)
        return TRUE;
    return qelGeCpuMayWriteAfterWait(ge, bo);
}

#endif
