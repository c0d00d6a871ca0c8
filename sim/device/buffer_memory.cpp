// SPDX-License-Identifier: MIT
#include "buffer_memory.h"

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

BufferRef createBuffer(Device &device, uint32_t width, uint32_t height, uint32_t bpp)
{
    auto b = std::make_shared<Buffer>();
    b->width = width;
    b->height = height;
    b->bpp = bpp;
    b->pitch =
        static_cast<uint32_t>(roundUp(uint64_t{width} * (bpp / 8), device.description.pitchAlign));
    b->size = uint64_t{b->pitch} * height;
    b->mapSize = roundUp(b->size, pageSize);
    if (!allocateMemory(*b))
        return nullptr;
    b->mapOffset = device.nextMapOffset;
    device.nextMapOffset += b->mapSize;
    return b;
}

} // namespace qelsim
