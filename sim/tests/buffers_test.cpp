// SPDX-License-Identifier: MIT
// Dumb buffers through libdrm: sizes, pitch padding, shared mappings, and
// the errors the kernel gives for bad requests.
#include "sim_fixture.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace qelsim::test {
namespace {

using Buffers = SimTest;

TEST_F(Buffers, PitchIsPaddedToTheDeviceAlignment)
{
    const Dumb exact = createDumb(1024, 4);
    EXPECT_EQ(exact.pitch, 4096u);
    EXPECT_EQ(exact.size, 4096u * 4);

    const Dumb padded = createDumb(1000, 3);
    EXPECT_EQ(padded.pitch, 4032u); // 4000 rounded up to 64
    EXPECT_EQ(padded.size, 4032u * 3);
}

TEST_F(Buffers, AlignmentComesFromTheDescription)
{
    configure("[device]\npitch_align = 256\n");
    EXPECT_EQ(createDumb(1000, 1).pitch, 4096u);
    EXPECT_EQ(createDumb(10, 1, 16).pitch, 256u);
}

TEST_F(Buffers, BadCreationRequestsAreRefused)
{
    const struct {
        uint32_t width, height, bpp;
    } bad[] = {{0, 10, 32}, {10, 0, 32}, {10, 10, 0}, {10, 10, 24}, {10, 10, 12}};
    for (const auto &b : bad) {
        drm_mode_create_dumb req{};
        req.width = b.width;
        req.height = b.height;
        req.bpp = b.bpp;
        EXPECT_EQ(drmIoctl(fd, DRM_IOCTL_MODE_CREATE_DUMB, &req), -1)
            << b.width << "x" << b.height << "@" << b.bpp;
        EXPECT_EQ(errno, EINVAL);
    }
}

TEST_F(Buffers, MappingSharesMemoryWithTheSimulator)
{
    const Dumb b = createDumb(16, 4);
    uint32_t *pixels = mapDumb(b);
    for (uint32_t i = 0; i < b.size / 4; ++i)
        pixels[i] = 0x11000000u + i;

    char path[] = "/tmp/qelsim-buffer-XXXXXX";
    const int tmp = mkstemp(path);
    ASSERT_GE(tmp, 0);
    close(tmp);
    EXPECT_EQ(command("buffer " + std::to_string(b.handle) + " " + path),
              "width=16 height=4 pitch=64 size=256\nok\n");
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
    std::remove(path);
    ASSERT_EQ(bytes.size(), b.size);
    EXPECT_EQ(std::memcmp(bytes.data(), pixels, b.size), 0);
    munmap(pixels, b.size);
}

TEST_F(Buffers, TwoMappingsOfOneBufferSeeEachOther)
{
    const Dumb b = createDumb(8, 8);
    uint32_t *first = mapDumb(b);
    uint32_t *second = mapDumb(b);
    first[5] = 0xdeadbeef;
    EXPECT_EQ(second[5], 0xdeadbeefu);
    munmap(first, b.size);
    munmap(second, b.size);
}

TEST_F(Buffers, UnknownHandlesAreRefusedWithTheKernelsErrors)
{
    drm_mode_map_dumb map{};
    map.handle = 999;
    EXPECT_EQ(drmIoctl(fd, DRM_IOCTL_MODE_MAP_DUMB, &map), -1);
    EXPECT_EQ(errno, ENOENT);

    drm_mode_destroy_dumb destroy{};
    destroy.handle = 999;
    EXPECT_EQ(drmIoctl(fd, DRM_IOCTL_MODE_DESTROY_DUMB, &destroy), -1);
    EXPECT_EQ(errno, EINVAL);

    drm_gem_close gemClose{};
    gemClose.handle = 999;
    EXPECT_EQ(drmIoctl(fd, DRM_IOCTL_GEM_CLOSE, &gemClose), -1);
    EXPECT_EQ(errno, EINVAL);
}

TEST_F(Buffers, DestroyEndsTheHandleButNotAnExistingMapping)
{
    const Dumb b = createDumb(8, 8);
    uint32_t *pixels = mapDumb(b);
    EXPECT_EQ(counter("live_dumb_buffers"), 1u);
    drm_mode_destroy_dumb destroy{};
    destroy.handle = b.handle;
    ASSERT_EQ(drmIoctl(fd, DRM_IOCTL_MODE_DESTROY_DUMB, &destroy), 0);
    EXPECT_EQ(counter("live_dumb_buffers"), 0u);
    pixels[0] = 1; // still mapped memory
    munmap(pixels, b.size);

    drm_mode_map_dumb map{};
    map.handle = b.handle;
    EXPECT_EQ(drmIoctl(fd, DRM_IOCTL_MODE_MAP_DUMB, &map), -1);
    EXPECT_EQ(errno, ENOENT);
}

// The kernel hands out the lowest free handle and object id again, so a
// stale handle or framebuffer id reaches whatever took the number.
TEST_F(Buffers, FreedHandlesAndFramebufferIdsAreGivenOutAgain)
{
    const Dumb first = createDumb(8, 8);
    const Dumb second = createDumb(8, 8);
    const uint32_t firstFb = addFb(first, 8, 8);
    const uint32_t secondFb = addFb(second, 8, 8);
    drm_mode_destroy_dumb destroy{};
    destroy.handle = first.handle;
    ASSERT_EQ(drmIoctl(fd, DRM_IOCTL_MODE_DESTROY_DUMB, &destroy), 0);
    ASSERT_EQ(drmModeRmFB(fd, firstFb), 0);

    const Dumb third = createDumb(8, 8);
    EXPECT_EQ(third.handle, first.handle);
    EXPECT_EQ(addFb(third, 8, 8), firstFb);
    EXPECT_GT(addFb(second, 8, 8), secondFb);
}

TEST_F(Buffers, MmapOfAnOffsetNoBufferOwnsFails)
{
    void *p = mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0);
    EXPECT_EQ(p, MAP_FAILED);
    EXPECT_EQ(errno, EINVAL);
}

TEST_F(Buffers, HandlesBelongToTheFileThatCreatedThem)
{
    const Dumb b = createDumb(8, 8);
    const int other = openDevice();
    drm_mode_map_dumb map{};
    map.handle = b.handle;
    EXPECT_EQ(drmIoctl(other, DRM_IOCTL_MODE_MAP_DUMB, &map), -1);
    EXPECT_EQ(errno, ENOENT);
}

} // namespace
} // namespace qelsim::test
