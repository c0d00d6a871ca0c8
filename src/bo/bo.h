/* SPDX-License-Identifier: MIT */
/* Dumb buffer objects: every pixel store the driver owns. */
#ifndef QEL_BO_H
#define QEL_BO_H

#include <stdint.h>
#include <xf86.h>

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

/* Clips the rectangle (x, y, *w, *h) to the buffer and says whether any of
 * it is left. Inline: every queued GE operation goes through it. The size is
 * compared with the room left after the origin, which cannot overflow once
 * the origin lies inside the buffer: x + w near INT_MAX must clip, not wrap
 * round to a small or negative value that passes the test. */
static inline Bool
qelClipRect(const qelBo *bo, int x, int y, int *w, int *h)
{
    if (x < 0 || y < 0)
        return FALSE;
    if (x >= bo->width || y >= bo->height)
        return FALSE;
    if (*w > bo->width - x)
        *w = bo->width - x;
    if (*h > bo->height - y)
        *h = bo->height - y;
    return *w > 0 && *h > 0;
}

#endif
