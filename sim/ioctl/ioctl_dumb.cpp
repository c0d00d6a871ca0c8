// SPDX-License-Identifier: MIT
// Dumb buffers: memfd-backed memory with a kernel-chosen, padded pitch.
#include "ioctl_handlers.h"

#include "buffer_memory.h"

namespace qelsim {
namespace {

// The size checks of the kernel's drm_mode_create_dumb(), then this
// device's own: whole bytes per pixel only.
int checkDumbRequest(const drm_mode_create_dumb &r)
{
    if (!r.width || !r.height || !r.bpp)
        return -EINVAL;
    if (r.bpp != 8 && r.bpp != 16 && r.bpp != 32)
        return -EINVAL;
    const uint64_t cpp = r.bpp / 8;
    if (cpp > 0xffffffffu / r.width)
        return -EINVAL;
    const uint64_t stride = cpp * r.width;
    if (r.height > 0xffffffffu / stride)
        return -EINVAL;
    return 0;
}

} // namespace

int ioctlCreateDumb(IoctlCall &call, void *arg)
{
    auto *r = static_cast<drm_mode_create_dumb *>(arg);
    if (const int err = checkDumbRequest(*r))
        return err;
    if (call.device.hooks.failCreateDumb())
        return -ENOMEM;
    BufferRef b = createBuffer(call.device, r->width, r->height, r->bpp);
    if (!b)
        return -ENOMEM;
    DrmFile &file = *call.file;
    const uint32_t handle = file.freeHandle();
    file.handles[handle] = std::move(b);
    r->handle = handle;
    r->pitch = file.handles[handle]->pitch;
    r->size = file.handles[handle]->size;
    call.device.hooks.dumbCreated();
    return 0;
}

int ioctlMapDumb(IoctlCall &call, void *arg)
{
    auto *m = static_cast<drm_mode_map_dumb *>(arg);
    const BufferRef b = call.device.findBuffer(*call.file, m->handle);
    if (!b)
        return -ENOENT;
    m->offset = b->mapOffset;
    return 0;
}

int ioctlDestroyDumb(IoctlCall &call, void *arg)
{
    const auto *d = static_cast<drm_mode_destroy_dumb *>(arg);
    return call.file->handles.erase(d->handle) ? 0 : -EINVAL;
}

} // namespace qelsim
