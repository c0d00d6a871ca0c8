// SPDX-License-Identifier: MIT
// The DRM core: identity, capabilities, client caps and the master rules.
#include "sim_fixture.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <sys/wait.h>

namespace qelsim::test {
namespace {

using Core = SimTest;

TEST_F(Core, VersionNamesTheDevice)
{
    drmVersion *v = drmGetVersion(fd);
    ASSERT_NE(v, nullptr);
    EXPECT_STREQ(v->name, "tx3120");
    EXPECT_GT(v->desc_len, 0);
    drmFreeVersion(v);

    // The X server picks a driver by this name: a description can change it.
    configure("[device]\ndriver = other-kms\n");
    v = drmGetVersion(fd);
    ASSERT_NE(v, nullptr);
    EXPECT_STREQ(v->name, "other-kms");
    drmFreeVersion(v);
}

TEST_F(Core, CapabilitiesAreThoseOfASimpleDumbBufferDevice)
{
    const struct {
        uint64_t cap, value;
    } caps[] = {{DRM_CAP_DUMB_BUFFER, 1},
                {DRM_CAP_DUMB_PREFERRED_DEPTH, 24},
                {DRM_CAP_PRIME, 0},
                {DRM_CAP_TIMESTAMP_MONOTONIC, 1},
                {DRM_CAP_ASYNC_PAGE_FLIP, 0},
                {DRM_CAP_CURSOR_WIDTH, 64},
                {DRM_CAP_CURSOR_HEIGHT, 64},
                {DRM_CAP_ADDFB2_MODIFIERS, 0},
                {DRM_CAP_CRTC_IN_VBLANK_EVENT, 1}};
    for (const auto &c : caps) {
        uint64_t value = 99;
        EXPECT_EQ(drmGetCap(fd, c.cap, &value), 0) << c.cap;
        EXPECT_EQ(value, c.value) << c.cap;
    }
    uint64_t value;
    EXPECT_EQ(drmGetCap(fd, 0x7777, &value), -1);
    EXPECT_EQ(errno, EINVAL);
}

TEST_F(Core, AtomicIsRefusedAndUniversalPlanesAccepted)
{
    // libdrm returns -1 and leaves the kernel's answer in errno here.
    EXPECT_EQ(drmSetClientCap(fd, DRM_CLIENT_CAP_ATOMIC, 1), -1);
    EXPECT_EQ(errno, EOPNOTSUPP);
    EXPECT_EQ(drmSetClientCap(fd, DRM_CLIENT_CAP_UNIVERSAL_PLANES, 1), 0);
    EXPECT_EQ(drmSetClientCap(fd, DRM_CLIENT_CAP_UNIVERSAL_PLANES, 2), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(drmSetClientCap(fd, 0x7777, 1), -1);
    EXPECT_EQ(errno, EINVAL);
}

TEST_F(Core, TheFirstOpenerIsMasterAndOthersAreRefusedMasterCalls)
{
    EXPECT_TRUE(drmIsMaster(fd));
    const int other = openDevice();
    EXPECT_FALSE(drmIsMaster(other));
    EXPECT_EQ(drmSetMaster(other), -1);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(drmModeSetCrtc(other, crtcId(), 0, 0, 0, nullptr, 0, nullptr), -EACCES);
    EXPECT_EQ(drmDropMaster(other), -1);
    EXPECT_EQ(errno, EINVAL);

    ASSERT_EQ(drmDropMaster(fd), 0);
    EXPECT_FALSE(drmIsMaster(fd));
    EXPECT_EQ(drmSetMaster(other), 0);
    EXPECT_TRUE(drmIsMaster(other));
    EXPECT_EQ(drmSetMaster(fd), -1);
    EXPECT_EQ(errno, EBUSY);
}

TEST_F(Core, ANodeOpenedNonBlockingAnswersAnEmptyReadWithEagain)
{
    const int other = open("/dev/dri/card0", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(other, 0);
    char event[64];
    EXPECT_EQ(read(other, event, sizeof event), -1);
    EXPECT_EQ(errno, EAGAIN);
    close(other);
}

TEST_F(Core, MasterPassesOnWhenTheMastersFileCloses)
{
    const int other = openDevice();
    close(fd);
    EXPECT_EQ(drmSetMaster(other), 0);
    fd = openDevice();
}

TEST_F(Core, AuthenticationUsesTheMagicOfTheClient)
{
    const int other = openDevice();
    drm_magic_t magic;
    ASSERT_EQ(drmGetMagic(other, &magic), 0);
    EXPECT_EQ(drmAuthMagic(fd, magic), 0);
    EXPECT_EQ(drmAuthMagic(fd, magic + 1000), -EINVAL);
    EXPECT_EQ(drmAuthMagic(other, magic), -EACCES);
}

TEST_F(Core, GenericDescriptorIoctlsWorkOnTheDevice)
{
    int on = 1;
    ASSERT_EQ(ioctl(fd, FIONBIO, &on), 0);
    EXPECT_TRUE(fcntl(fd, F_GETFL) & O_NONBLOCK);
    EXPECT_FALSE(isatty(fd));
}

TEST_F(Core, OtherDescriptorsPassThroughUntouched)
{
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    ASSERT_EQ(write(pipeFds[1], "abc", 3), 3);
    int bytes = 0;
    EXPECT_EQ(ioctl(pipeFds[0], FIONREAD, &bytes), 0);
    EXPECT_EQ(bytes, 3);
    struct stat st;
    ASSERT_EQ(fstat(pipeFds[0], &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    close(pipeFds[0]);
    close(pipeFds[1]);
}

TEST_F(Core, TheNodeIsADrmCharacterDevice)
{
    struct stat byPath, byFd;
    ASSERT_EQ(stat("/dev/dri/card0", &byPath), 0);
    ASSERT_EQ(fstat(fd, &byFd), 0);
    for (const struct stat *st : {&byPath, &byFd}) {
        EXPECT_TRUE(S_ISCHR(st->st_mode));
        EXPECT_EQ(major(st->st_rdev), 226u);
        EXPECT_EQ(minor(st->st_rdev), 0u);
    }
    EXPECT_EQ(access("/dev/dri/card0", R_OK | W_OK), 0);
    const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 100);
    ASSERT_GE(copy, 100);
    ASSERT_EQ(fstat(copy, &byFd), 0);
    EXPECT_EQ(major(byFd.st_rdev), 226u);
    close(copy);
}

TEST_F(Core, FurtherNodesAreFurtherMinors)
{
    configure("[device]\nnodes = /dev/dri/card0 /dev/dri/card1\n");
    struct stat st;
    ASSERT_EQ(stat("/dev/dri/card1", &st), 0);
    EXPECT_EQ(minor(st.st_rdev), 1u);
}

TEST_F(Core, AForkedChildCanCloseAndDuplicateDescriptors)
{
    configure("[device]\nvblank = 60hz\n"); // the clock thread takes the lock all the time
    for (int i = 0; i < 20; ++i) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            dup2(fd, 100);
            close(100);
            close(fd);
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status));
    }
}

} // namespace
} // namespace qelsim::test
