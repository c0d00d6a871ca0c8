// SPDX-License-Identifier: MIT
// The simulated console as the X server uses it: the calls it makes at
// start and exit with the kernel's answers, and a switch away and back
// through VT_PROCESS, during which another client holds DRM master and the
// displays.
#include "sim_fixture.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <future>
#include <linux/kd.h>
#include <linux/vt.h>
#include <thread>

namespace qelsim::test {
namespace {

std::atomic<int> signalsSeen{0};

void countSignal(int)
{
    ++signalsSeen;
}

class Console : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        struct sigaction action {};
        action.sa_handler = countSignal;
        sigaction(SIGUSR1, &action, &previous_);
    }

    void TearDown() override
    {
        if (tty >= 0)
            close(tty);
        sigaction(SIGUSR1, &previous_, nullptr);
        SimTest::TearDown();
    }

    // What the server does at start: its own VT, in VT_PROCESS mode with
    // SIGUSR1 for both signals, showing graphics.
    void takeVt7()
    {
        tty = open("/dev/tty7", O_RDWR | O_NONBLOCK);
        ASSERT_GE(tty, 0);
        ASSERT_EQ(ioctl(tty, VT_ACTIVATE, 7), 0);
        ASSERT_EQ(ioctl(tty, VT_WAITACTIVE, 7), 0);
        vt_mode mode{VT_PROCESS, 0, SIGUSR1, SIGUSR1, 0};
        ASSERT_EQ(ioctl(tty, VT_SETMODE, &mode), 0);
        ASSERT_EQ(ioctl(tty, KDSETMODE, KD_GRAPHICS), 0);
    }

    static bool awaitSignals(int count)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (signalsSeen < count && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        return signalsSeen >= count;
    }

    // Runs the `vt` request on a thread of its own: it returns only once
    // this process has answered the signal it raises.
    static std::future<std::string> requestSwitch(int vt)
    {
        return std::async(std::launch::async, [vt] { return command("vt " + std::to_string(vt)); });
    }

    static int errnoOf(int result) { return result < 0 ? errno : 0; }

    int tty = -1;

private:
    struct sigaction previous_ {};
};

TEST_F(Console, TheServersCallsAtStartAndExitGetTheKernelsAnswers)
{
    struct stat st;
    ASSERT_EQ(stat("/dev/tty0", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_EQ(major(st.st_rdev), 4u);
    EXPECT_EQ(minor(st.st_rdev), 0u);
    EXPECT_EQ(open("/dev/vc/7", O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);

    const int tty0 = open("/dev/tty0", O_WRONLY);
    ASSERT_GE(tty0, 0);
    int free = 0;
    ASSERT_EQ(ioctl(tty0, VT_OPENQRY, &free), 0);
    EXPECT_EQ(free, 7) << "gettys hold VTs 1 to 6";
    vt_stat state{};
    ASSERT_EQ(ioctl(tty0, VT_GETSTATE, &state), 0);
    EXPECT_EQ(state.v_active, 1);
    EXPECT_EQ(state.v_state, 0x7f);
    close(tty0);

    takeVt7();
    ASSERT_EQ(fstat(tty, &st), 0);
    EXPECT_EQ(minor(st.st_rdev), 7u);
    EXPECT_NE(command("vt").find("active=7 server=7"), std::string::npos);
    int keyboard = -1, display = -1;
    EXPECT_EQ(ioctl(tty, KDGKBMODE, &keyboard), 0);
    EXPECT_EQ(keyboard, K_UNICODE);
    EXPECT_EQ(ioctl(tty, KDSKBMODE, K_OFF), 0);
    EXPECT_EQ(ioctl(tty, KDGETMODE, &display), 0);
    EXPECT_EQ(display, KD_GRAPHICS);
    EXPECT_EQ(ioctl(tty, KDMKTONE, 0), 0);

    EXPECT_EQ(errnoOf(ioctl(tty, VT_ACTIVATE, 0)), ENXIO);
    EXPECT_EQ(errnoOf(ioctl(tty, VT_WAITACTIVE, 64)), ENXIO);
    EXPECT_EQ(errnoOf(ioctl(tty, KDSETMODE, 7)), EINVAL);
    EXPECT_EQ(errnoOf(ioctl(tty, KDSKBMODE, 9)), EINVAL);
    vt_mode bad{5, 0, 0, 0, 0};
    EXPECT_EQ(errnoOf(ioctl(tty, VT_SETMODE, &bad)), EINVAL);
    EXPECT_EQ(errnoOf(ioctl(tty, VT_RELDISP, 1)), EINVAL) << "no switch waits";
    EXPECT_EQ(ioctl(tty, VT_RELDISP, VT_ACKACQ), 0);
    EXPECT_EQ(errnoOf(ioctl(tty, 0x4bff, 0)), ENOTTY);

    // At exit: text, VT_AUTO, back to the VT it came from.
    EXPECT_EQ(ioctl(tty, KDSETMODE, KD_TEXT), 0);
    vt_mode automatic{VT_AUTO, 0, 0, 0, 0};
    EXPECT_EQ(ioctl(tty, VT_SETMODE, &automatic), 0);
    EXPECT_EQ(ioctl(tty, VT_ACTIVATE, 1), 0);
    EXPECT_EQ(ioctl(tty, VT_WAITACTIVE, 1), 0);
    EXPECT_EQ(errnoOf(ioctl(tty, VT_RELDISP, VT_ACKACQ)), EINVAL) << "not in VT_PROCESS";
    EXPECT_NE(command("vt").find("active=1 server=0"), std::string::npos);
}

// Away: the release signal, then VT_RELDISP after master went; another
// client holds master and shows black. Back: the acquire signal, master
// free again, and the request ends with the acknowledgement.
TEST_F(Console, ASwitchAwayHandsTheDisplaysToAnotherClientUntilTheVtComesBack)
{
    const uint32_t ours = lightPanel();
    takeVt7();
    const int before = signalsSeen;
    std::future<std::string> away = requestSwitch(1);
    ASSERT_TRUE(awaitSignals(before + 1)) << "no release signal";
    EXPECT_EQ(away.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout)
        << "the switch must wait for VT_RELDISP";
    ASSERT_EQ(drmDropMaster(fd), 0);
    ASSERT_EQ(ioctl(tty, VT_RELDISP, 1), 0);
    EXPECT_NE(away.get().find("active=1 server=7\nok"), std::string::npos);

    const std::string crtcs = command("crtcs");
    EXPECT_EQ(crtcs.find("fb=" + std::to_string(ours) + " "), std::string::npos) << crtcs;
    EXPECT_NE(crtcs.find("active=1"), std::string::npos) << crtcs;
    drmModeConnector *conn = drmModeGetConnector(fd, connectorId());
    uint32_t connector = conn->connector_id;
    EXPECT_EQ(drmModeSetCrtc(fd, crtcId(), ours, 0, 0, &connector, 1, &conn->modes[0]), -EACCES);
    EXPECT_EQ(drmModePageFlip(fd, crtcId(), ours, 0, nullptr), -EACCES);
    EXPECT_EQ(errnoOf(drmSetMaster(fd)), EBUSY);
    EXPECT_EQ(errnoOf(drmDropMaster(fd)), EINVAL);

    std::future<std::string> back = requestSwitch(7);
    ASSERT_TRUE(awaitSignals(before + 2)) << "no acquire signal";
    EXPECT_EQ(drmSetMaster(fd), 0);
    EXPECT_EQ(drmModeSetCrtc(fd, crtcId(), ours, 0, 0, &connector, 1, &conn->modes[0]), 0);
    EXPECT_EQ(ioctl(tty, VT_RELDISP, VT_ACKACQ), 0);
    EXPECT_NE(back.get().find("active=7 server=7\nok"), std::string::npos);
    EXPECT_EQ(counter("live_framebuffers"), 1u) << "the other client's black is gone";
    drmModeFreeConnector(conn);
}

TEST_F(Console, AReleaseRefusedOrWithMasterKeptIsReported)
{
    const uint32_t ours = lightPanel();
    takeVt7();
    const int before = signalsSeen;
    std::future<std::string> refused = requestSwitch(1);
    ASSERT_TRUE(awaitSignals(before + 1));
    ASSERT_EQ(ioctl(tty, VT_RELDISP, 0), 0);
    EXPECT_NE(refused.get().find("refused"), std::string::npos);
    EXPECT_NE(command("vt").find("active=7"), std::string::npos);

    std::future<std::string> kept = requestSwitch(1);
    ASSERT_TRUE(awaitSignals(before + 2));
    ASSERT_EQ(ioctl(tty, VT_RELDISP, 1), 0);
    EXPECT_NE(kept.get().find("error the server kept DRM master"), std::string::npos);
    EXPECT_NE(command("crtcs").find("fb=" + std::to_string(ours) + " "), std::string::npos)
        << "still the server's";
}

} // namespace
} // namespace qelsim::test
