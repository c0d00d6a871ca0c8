// SPDX-License-Identifier: MIT
// Faults armed through the control protocol hit exactly the calls they
// name, and the device behaves normally again afterwards.
#include "sim_fixture.h"

#include <cerrno>

namespace qelsim::test {
namespace {

using Faults = SimTest;

int createDumbErrno(int fd)
{
    drm_mode_create_dumb req{};
    req.width = req.height = 8;
    req.bpp = 32;
    return drmIoctl(fd, DRM_IOCTL_MODE_CREATE_DUMB, &req) == 0 ? 0 : errno;
}

TEST_F(Faults, DumbCreationFailsForTheArmedCount)
{
    ASSERT_TRUE(succeeds("fault create_dumb 2"));
    EXPECT_EQ(createDumbErrno(fd), ENOMEM);
    EXPECT_EQ(createDumbErrno(fd), ENOMEM);
    EXPECT_EQ(createDumbErrno(fd), 0);
}

TEST_F(Faults, OnlyTheNthCreationFails)
{
    ASSERT_TRUE(succeeds("fault create_dumb_nth 3"));
    EXPECT_EQ(createDumbErrno(fd), 0);
    EXPECT_EQ(createDumbErrno(fd), 0);
    EXPECT_EQ(createDumbErrno(fd), ENOMEM);
    EXPECT_EQ(createDumbErrno(fd), 0);
}

TEST_F(Faults, FlipAndSetCrtcFaultsRejectTheCall)
{
    lightPanel();
    const uint32_t fb = addFb(createDumb(1024, 768), 1024, 768);
    ASSERT_TRUE(succeeds("fault flip 1"));
    EXPECT_EQ(drmModePageFlip(fd, crtcId(), fb, 0, nullptr), -EINVAL);
    EXPECT_EQ(counter("flips_rejected"), 1u);
    EXPECT_EQ(drmModePageFlip(fd, crtcId(), fb, 0, nullptr), 0);

    ASSERT_TRUE(succeeds("fault setcrtc 1"));
    EXPECT_EQ(drmModeSetCrtc(fd, crtcId(), 0, 0, 0, nullptr, 0, nullptr), -EINVAL);
    EXPECT_EQ(drmModeSetCrtc(fd, crtcId(), 0, 0, 0, nullptr, 0, nullptr), 0);
}

TEST_F(Faults, MasterHeldElsewhereRefusesMasterAndMasterOnlyCalls)
{
    ASSERT_TRUE(succeeds("fault master 1"));
    EXPECT_FALSE(drmIsMaster(fd));
    EXPECT_EQ(drmSetMaster(fd), -1);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(drmModeSetCrtc(fd, crtcId(), 0, 0, 0, nullptr, 0, nullptr), -EACCES);
    ASSERT_TRUE(succeeds("fault master 0"));
    EXPECT_EQ(drmSetMaster(fd), 0);
    EXPECT_EQ(drmModeSetCrtc(fd, crtcId(), 0, 0, 0, nullptr, 0, nullptr), 0);
}

TEST_F(Faults, UnknownKindsAreAnError)
{
    EXPECT_EQ(command("fault meteor 1"), "error unknown fault meteor\n");
    EXPECT_FALSE(succeeds("fault flip many"));
}

} // namespace
} // namespace qelsim::test
