// SPDX-License-Identifier: MIT
// Flip probes: each completed flip records the pixels its framebuffer holds
// at the probe points, read when the flip takes effect, after the GE work it
// waited for.
#include "sim_fixture.h"

#include "ge_uapi.h"

#include <sys/ioctl.h>

namespace qelsim::test {
namespace {

class FlipProbes : public SimTest {};

TEST_F(FlipProbes, EachFlipRecordsThePixelsItPutsOnScreen)
{
    lightPanel();
    const Dumb back = createDumb(1024, 768);
    const uint32_t backFb = addFb(back, 1024, 768);
    uint32_t *pixels = mapDumb(back);
    pixels[0] = 0xff123456;
    pixels[767 * (back.pitch / 4) + 1023] = 0x00abcdef;
    ASSERT_TRUE(succeeds("flip-probes 0,0 1023,767 2000,0"));

    // Work submitted before the flip shows in the probe, as it does on screen.
    ASSERT_TRUE(succeeds("ge-mode thread 200000"));
    uapi::GeOp fill{TX3120_GE_OP_SOLID,
                    TX3120_GE_ROP_PATTERN,
                    back.handle,
                    back.pitch,
                    1,
                    0,
                    1,
                    1,
                    0x00ff0000,
                    0,
                    0,
                    0,
                    0};
    uapi::GeSubmitArgs args{};
    args.ops = reinterpret_cast<uintptr_t>(&fill);
    args.count = 1;
    ASSERT_EQ(ioctl(fd, DRM_IOCTL_TX3120_GE_SUBMIT, &args), 0);
    ASSERT_TRUE(succeeds("flip-probes 0,0 1,0 1023,767 2000,0"));
    ASSERT_EQ(drmModePageFlip(fd, crtcId(), backFb, 0, nullptr), 0);
    ASSERT_TRUE(succeeds("ge-idle"));
    ASSERT_TRUE(succeeds("vblank 1"));
    ASSERT_TRUE(succeeds("ge-mode sync"));

    EXPECT_EQ(command("fliplog"), "flip crtc=" + std::to_string(crtcId()) +
                                      " fb=" + std::to_string(backFb) +
                                      " vblank=2 probes=123456,ff0000,abcdef,000000\nok\n");
    ASSERT_TRUE(succeeds("flip-probes"));
    EXPECT_FALSE(succeeds("flip-probes 1"));
    munmap(pixels, back.size);
}

} // namespace
} // namespace qelsim::test
