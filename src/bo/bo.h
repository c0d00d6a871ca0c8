/* Dumb buffer objects: every pixel store the driver owns. */
#ifndef QEL_BO_H
#define QEL_BO_H

#include <stdint.h>
#include <xf86.h>

typedef struct qelBo {
    uint32_t handle;
    uint32_t pitch;
    uint64_t size;
    int32_t width;
    int32_t height;
    uint32_t fbId;
    void *map;
    uint32_t lastSeqno;
    uint32_t waitedSeqno;
} qelBo;

qelBo *qelBoCreate(int fd, int width, int height);
void *qelBoMap(int fd, qelBo *bo);
void *qelBoGetMap(int fd, qelBo *bo);
Bool qelBoAddFb(int fd, qelBo *bo);
qelBo *qelBoCreateScanout(int fd, int width, int height, Bool withFb);
void qelBoDestroy(int fd, qelBo *bo);
Bool qelClipRect(const qelBo *bo, int x, int y, int *w, int *h);

#endif
