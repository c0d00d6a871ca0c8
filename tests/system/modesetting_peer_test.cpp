// SPDX-License-Identifier: MIT
// The server's own modesetting driver, a peer we did not write, runs on the
// simulator: if the simulator drifts from the kernel's uAPI, these break.
#include "artifacts.h"
#include "eventually.h"
#include "xcb_client.h"

#include <gtest/gtest.h>

#include <regex>

using namespace qeltest;

namespace {

const char *const twoPanelDevice = R"([device]
nodes = /dev/dri/card0
[crtc]
[crtc]
[connector]
type = eDP
type_id = 1
status = connected
mm = 271x203
modes = 1024x768@60 800x600@60 640x480@60
edid = yes
[connector]
type = HDMI-A
type_id = 1
status = disconnected
mm = 0x0
modes =
edid = no
)";

class ModesettingPeer : public SessionTest {
protected:
    void SetUp() override
    {
        start(Testbed()
                  .driver("modesetting")
                  .option("AccelMethod", "none")
                  .simDescription(twoPanelDevice));
        if (HasFatalFailure())
            return;
        // The server may light the panel only once its console is active,
        // after it has begun to accept clients.
        ASSERT_TRUE(eventually([&] { return firstCrtc().active; })) << "no mode set";
    }

    SimCrtc firstCrtc() const { return session->sim().crtcs().at(0); }
};

TEST_F(ModesettingPeer, XrandrListsTheSimulatedOutputsAndModes)
{
    CommandResult query = session->run({"xrandr", "--query"});
    ASSERT_TRUE(query.succeeded()) << query.describe();
    EXPECT_TRUE(
        std::regex_search(query.out, std::regex(R"(eDP-1 connected primary 1024x768\+0\+0)")))
        << query.out;
    EXPECT_TRUE(std::regex_search(query.out, std::regex(R"(HDMI-1 disconnected)"))) << query.out;
    EXPECT_TRUE(std::regex_search(query.out, std::regex(R"(\n\s+1024x768\s+\d+\.\d+\*\+)")))
        << query.out;
    EXPECT_TRUE(std::regex_search(query.out, std::regex(R"(\n\s+800x600\s+\d+\.\d+)")))
        << query.out;
    EXPECT_TRUE(std::regex_search(query.out, std::regex(R"(\n\s+640x480\s+\d+\.\d+)")))
        << query.out;
}

TEST_F(ModesettingPeer, ScreenIsScannedOutByTheFirstCrtc)
{
    SimCrtc crtc = firstCrtc();
    EXPECT_NE(crtc.fb, 0u);
    EXPECT_EQ(crtc.mode, "1024x768");
    EXPECT_EQ(crtc.x, 0);
    EXPECT_EQ(crtc.y, 0);
    EXPECT_FALSE(session->sim().crtcs().at(1).active);
}

TEST_F(ModesettingPeer, RootWindowEqualsThePanelPixelForPixel)
{
    XcbClient x(session->display());
    ASSERT_EQ(x.rootDepth(), 24);
    x.fill({0, 0, x.rootWidth(), x.rootHeight()}, 0x000000);
    x.fill({10, 20, 300, 200}, 0xff0000);
    x.fill({500, 100, 1, 600}, 0x00ff00);
    x.fill({1000, 740, 24, 28}, 0x0000ff);
    x.fill({200, 300, 400, 300}, 0x123456);
    x.copy({10, 20, 300, 200}, 250, 350);
    x.sync();

    Image root = session->xwdRoot();
    ASSERT_EQ(root.width, 1024);
    ASSERT_EQ(root.height, 768);
    EXPECT_EQ(root.at(10, 20), 0xff0000u);
    EXPECT_EQ(root.at(500, 699), 0x00ff00u);
    EXPECT_EQ(root.at(1023, 767), 0x0000ffu);
    EXPECT_EQ(root.at(250, 350), 0xff0000u);
    EXPECT_EQ(root.at(599, 599), 0x123456u);

    auto viaGetImage = compareImages(x.rootImage(), root);
    EXPECT_FALSE(viaGetImage) << "xwd and GetImage disagree: " << viaGetImage->describe();

    std::optional<PixelDifference> difference = session->awaitPanel(root);
    EXPECT_FALSE(difference) << difference->describe();
}

TEST_F(ModesettingPeer, DpmsForceOffSwitchesTheCrtcOffAndOnAgain)
{
    CommandResult off = session->run({"xset", "dpms", "force", "off"});
    ASSERT_TRUE(off.succeeded()) << off.describe();
    EXPECT_TRUE(eventually([&] { return !firstCrtc().active; }))
        << "CRTC still active after dpms force off";

    CommandResult on = session->run({"xset", "dpms", "force", "on"});
    ASSERT_TRUE(on.succeeded()) << on.describe();
    EXPECT_TRUE(eventually([&] { return firstCrtc().active; }))
        << "CRTC still off after dpms force on";
    EXPECT_EQ(firstCrtc().mode, "1024x768");
}

TEST_F(ModesettingPeer, ServerStopsCleanlyAndReleasesEveryBuffer)
{
    int status = session->stop();
    EXPECT_TRUE(WIFEXITED(status)) << describeStatus(status);
    auto stats = session->simStats();
    EXPECT_EQ(stats["live_framebuffers"], "0");
    EXPECT_EQ(stats["live_dumb_buffers"], "0");
    EXPECT_GE(std::stol(stats["setcrtc_calls"]), 1);
}

} // namespace
