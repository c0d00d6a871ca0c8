// SPDX-License-Identifier: MIT
// Dumb buffers: memfd-backed memory with a kernel-chosen, padded pitch.
#include "ioctl_handlers.h"

#include "real_libc.h"

#include <sys/mman.h>
#include <unistd.h>

namespace qelsim {
namespace {

constexpr uint64_t pageSize = 4096;

uint64_t roundUp(uint64_t value, uint64_t align)
{
    return (value + align - 1) / align * align;
}

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

bool allocateMemory(Buffer &b)
{
    b.memfd = memfd_create("qelsim-dumb", MFD_CLOEXEC);
    if (b.memfd < 0)
        return false;
    if (ftruncate(b.memfd, static_cast<off_t>(b.mapSize)) != 0)
        return false;
    // mmap64 by name: with a 64-bit off_t on a 32-bit target, "mmap" is the
    // entry point that takes a 32-bit offset.
    QELSIM_NEXT(mmap64);
    void *p = fn(nullptr, b.mapSize, PROT_READ | PROT_WRITE, MAP_SHARED, b.memfd, 0);
    if (p == MAP_FAILED)
        return false;
    b.pixels = static_cast<uint8_t *>(p);
    return true;
}

} // namespace

Buffer::~Buffer()
{
    if (pixels) {
        QELSIM_NEXT(munmap);
        fn(pixels, mapSize);
    }
    if (memfd >= 0) {
        QELSIM_NEXT(close);
        fn(memfd);
    }
}

int ioctlCreateDumb(IoctlCall &call, void *arg)
{
    auto *r = static_cast<drm_mode_create_dumb *>(arg);
    if (const int err = checkDumbRequest(*r))
        return err;
    if (call.device.hooks.failCreateDumb())
        return -ENOMEM;
    auto b = std::make_shared<Buffer>();
    b->width = r->width;
    b->height = r->height;
    b->bpp = r->bpp;
    b->pitch = static_cast<uint32_t>(
        roundUp(uint64_t{r->width} * (r->bpp / 8), call.device.description.pitchAlign));
    b->size = uint64_t{b->pitch} * r->height;
    b->mapSize = roundUp(b->size, pageSize);
    if (!allocateMemory(*b))
        return -ENOMEM;
    b->mapOffset = call.device.nextMapOffset;
    call.device.nextMapOffset += b->mapSize;
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
