/* SPDX-License-Identifier: MIT */
/* Kernel dumb buffers: creation, CPU mapping, framebuffer ids and release.
 * Nothing here logs; callers decide what a failure means. */
#define _LARGEFILE64_SOURCE
#include "bo/bo.h"

#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/types.h>

#include <xf86drm.h>
#include <xf86drmMode.h>

/* Map offsets of dumb buffers are 64-bit on every target, the 32-bit board
 * included: the build must use the 64-bit file interfaces. */
_Static_assert(sizeof(off_t) == 8, "off_t must be 64-bit (_FILE_OFFSET_BITS=64)");

#define QEL_BO_BPP 32
#define QEL_BO_DEPTH 24

qelBo *
qelBoCreate(int fd, int width, int height)
{
    struct drm_mode_create_dumb create = {
        .height = (uint32_t) height,
        .width = (uint32_t) width,
        .bpp = QEL_BO_BPP,
    };
    qelBo *bo = calloc(1, sizeof(*bo));

    if (!bo)
        return NULL;
    if (drmIoctl(fd, DRM_IOCTL_MODE_CREATE_DUMB, &create) != 0) {
        free(bo);
        return NULL;
    }
    bo->handle = create.handle;
    bo->pitch = create.pitch;
    bo->size = create.size;
    bo->width = width;
    bo->height = height;
    return bo;
}

void *
qelBoMap(int fd, qelBo *bo)
{
    struct drm_mode_map_dumb request = { .handle = bo->handle };
    void *map;

    if (drmIoctl(fd, DRM_IOCTL_MODE_MAP_DUMB, &request) != 0)
        return NULL;
    map = mmap64(NULL, (size_t) bo->size, PROT_READ | PROT_WRITE, MAP_SHARED, fd,
                 (off64_t) request.offset);
    if (map == MAP_FAILED)
        return NULL;
    bo->map = map;
    return map;
}

void *
qelBoGetMap(int fd, qelBo *bo)
{
    return bo->map ? bo->map : qelBoMap(fd, bo);
}

Bool
qelBoAddFb(int fd, qelBo *bo)
{
    if (bo->fbId != 0)
        return TRUE;
    if (drmModeAddFB(fd, (uint32_t) bo->width, (uint32_t) bo->height, QEL_BO_DEPTH,
                     QEL_BO_BPP, bo->pitch, bo->handle, &bo->fbId) == 0)
        return TRUE;
    bo->fbId = 0;
    return FALSE;
}

qelBo *
qelBoCreateScanout(int fd, int width, int height, Bool withFb)
{
    qelBo *bo = qelBoCreate(fd, width, height);

    if (!bo)
        return NULL;
    if ((!bo->map && !qelBoMap(fd, bo)) || (withFb && !qelBoAddFb(fd, bo))) {
        qelBoDestroy(fd, bo);
        return NULL;
    }
    /* Black everywhere, the row padding of the pitch included: the GE and
     * the display both read whole rows. */
    memset(bo->map, 0, (size_t) bo->size);
    return bo;
}

void
qelBoDestroy(int fd, qelBo *bo)
{
    struct drm_mode_destroy_dumb request;

    if (!bo)
        return;
    if (bo->fbId != 0)
        drmModeRmFB(fd, bo->fbId);
    if (bo->map)
        munmap(bo->map, (size_t) bo->size);
    request.handle = bo->handle;
    (void) drmIoctl(fd, DRM_IOCTL_MODE_DESTROY_DUMB, &request);
    free(bo);
}
