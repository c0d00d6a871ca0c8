// SPDX-License-Identifier: MIT
// The GE ioctls on a device descriptor: batches run on the client's dumb
// buffers, and flips wait for the GE work submitted before them.
#include "sim_fixture.h"

#include "ge_uapi.h"

#include <algorithm>
#include <cerrno>
#include <sys/ioctl.h>

namespace qelsim::test {
namespace {

using uapi::GeOp;
using uapi::GeSubmitArgs;
using uapi::GeWaitArgs;

class GeIoctls : public SimTest {
protected:
    // Submits with the plain ioctl, as the driver does; the seqno or 0.
    uint32_t submit(std::vector<GeOp> ops, int *error = nullptr)
    {
        GeSubmitArgs args{};
        args.ops = reinterpret_cast<uintptr_t>(ops.data());
        args.count = static_cast<uint32_t>(ops.size());
        const int r = ioctl(fd, DRM_IOCTL_TX3120_GE_SUBMIT, &args);
        if (error)
            *error = r == 0 ? 0 : errno;
        return r == 0 ? args.seqno : 0;
    }

    int wait(uint32_t seqno, uint32_t timeoutUs = 1000000)
    {
        GeWaitArgs args{seqno, timeoutUs};
        return drmIoctl(fd, DRM_IOCTL_TX3120_GE_WAIT, &args) == 0 ? 0 : errno;
    }

    static GeOp fill(const Dumb &b, uint32_t x, uint32_t y, uint32_t w, uint32_t h, uint32_t color)
    {
        return GeOp{TX3120_GE_OP_SOLID,
                    TX3120_GE_ROP_PATTERN,
                    b.handle,
                    b.pitch,
                    x,
                    y,
                    w,
                    h,
                    color,
                    0,
                    0,
                    0,
                    0};
    }
};

TEST_F(GeIoctls, AFillIsVisibleThroughTheClientsMapping)
{
    const Dumb b = createDumb(1000, 4); // padded pitch
    uint32_t *pixels = mapDumb(b);
    const uint32_t seqno = submit({fill(b, 2, 1, 3, 2, 0x00ff0000)});
    ASSERT_NE(seqno, 0u);
    ASSERT_EQ(wait(seqno), 0);
    const uint32_t stride = b.pitch / 4;
    EXPECT_EQ(pixels[1 * stride + 2], 0x00ff0000u);
    EXPECT_EQ(pixels[2 * stride + 4], 0x00ff0000u);
    EXPECT_EQ(pixels[1 * stride + 5], 0u);
    EXPECT_EQ(pixels[3 * stride + 2], 0u);
    EXPECT_EQ(counter("ge_submits"), 1u);
    EXPECT_EQ(counter("ge_pixels_filled"), 6u);
    EXPECT_EQ(counter("ioctl_GE_SUBMIT"), 1u);
    munmap(pixels, b.size);
}

TEST_F(GeIoctls, HandlesOfAnotherFileAreUnknown)
{
    const Dumb b = createDumb(16, 16);
    const int mine = fd;
    fd = openDevice();
    int error = 0;
    EXPECT_EQ(submit({fill(b, 0, 0, 1, 1, 1)}, &error), 0u);
    EXPECT_EQ(error, EINVAL);
    fd = mine;
}

TEST_F(GeIoctls, ArmedSubmitFaultsComeBackToTheCaller)
{
    const Dumb b = createDumb(16, 16);
    ASSERT_TRUE(succeeds("fault submit_eagain 1"));
    int error = 0;
    EXPECT_EQ(submit({fill(b, 0, 0, 1, 1, 1)}, &error), 0u);
    EXPECT_EQ(error, EAGAIN);
    const uint32_t seqno = submit({fill(b, 0, 0, 1, 1, 1)}, &error);
    EXPECT_NE(seqno, 0u);
    ASSERT_TRUE(succeeds("fault wait 1"));
    EXPECT_EQ(wait(seqno), ETIMEDOUT);
    EXPECT_EQ(wait(seqno), 0);
}

// A fault on waits for room passes waits for batches by.
TEST_F(GeIoctls, ARoomWaitFaultFailsOnlyTheWaitForRoom)
{
    const Dumb b = createDumb(16, 16);
    const uint32_t seqno = submit({fill(b, 0, 0, 1, 1, 1)});
    ASSERT_TRUE(succeeds("fault wait_room 1"));
    EXPECT_EQ(wait(seqno), 0);
    EXPECT_EQ(wait(0), ETIMEDOUT);
    EXPECT_EQ(wait(0), 0);
}

// A hung GE draws nothing and its waits time out; ending the hang resets
// it: what it held is dropped undrawn and counts as complete.
TEST_F(GeIoctls, AHungGeFinishesNothingUntilItIsReset)
{
    const Dumb b = createDumb(16, 16);
    uint32_t *pixels = mapDumb(b);
    ASSERT_TRUE(succeeds("ge-mode thread"));
    ASSERT_TRUE(succeeds("fault ge_hang 1"));
    const uint32_t seqno = submit({fill(b, 0, 0, 1, 1, 0x123456)});
    ASSERT_NE(seqno, 0u);
    EXPECT_EQ(wait(seqno, 20000), ETIMEDOUT);
    EXPECT_TRUE(succeeds("ge-idle"));
    EXPECT_EQ(pixels[0], 0u);
    ASSERT_TRUE(succeeds("fault ge_hang 0"));
    EXPECT_EQ(wait(seqno), 0);
    EXPECT_EQ(pixels[0], 0u);
    const uint32_t after = submit({fill(b, 0, 0, 1, 1, 0x654321)});
    ASSERT_EQ(wait(after), 0);
    EXPECT_EQ(pixels[0], 0x654321u);
    munmap(pixels, b.size);
}

TEST_F(GeIoctls, TheLogListsEachReceivedSubmit)
{
    const Dumb b = createDumb(16, 16);
    ASSERT_TRUE(succeeds("ge-log on"));
    submit({fill(b, 0, 0, 2, 2, 5), fill(b, 2, 2, 2, 2, 6)});
    submit({fill(b, 0, 0, 1, 1, 7)});
    const std::string log = command("ge-log");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 3) << log; // two submits and ok
    ASSERT_TRUE(succeeds("ge-log clear"));
    EXPECT_EQ(command("ge-log"), "ok\n");
    ASSERT_TRUE(succeeds("ge-log off"));
}

TEST_F(GeIoctls, AFlipWaitsForTheGeWorkSubmittedBeforeIt)
{
    lightPanel();
    const Dumb back = createDumb(1024, 768);
    const uint32_t backFb = addFb(back, 1024, 768);
    // Slow enough that the vblank below surely comes before the batch ends.
    ASSERT_TRUE(succeeds("ge-mode thread 2000000"));
    ASSERT_NE(submit({fill(back, 0, 0, 1024, 768, 0x0000ff00)}), 0u);
    ASSERT_EQ(drmModePageFlip(fd, crtcId(), backFb, 0, nullptr), 0);
    ASSERT_TRUE(succeeds("vblank 1"));
    EXPECT_EQ(counter("flips_completed"), 0u);
    ASSERT_TRUE(succeeds("ge-idle"));
    ASSERT_TRUE(succeeds("vblank 1"));
    EXPECT_EQ(counter("flips_completed"), 1u);
    EXPECT_NE(command("crtcs").find("fb=" + std::to_string(backFb)), std::string::npos);
    ASSERT_TRUE(succeeds("ge-mode sync"));
}

} // namespace
} // namespace qelsim::test
