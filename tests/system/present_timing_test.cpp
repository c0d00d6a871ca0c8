// SPDX-License-Identifier: MIT
// Present's frame timing on the real Xorg, with real Present clients and
// the simulator's vblank clock in manual mode (each `vblank` is one frame
// of simulated time): the MSC of a window counts the vblanks of the display
// it is on, at that display's own refresh, UST steps by that mode's frame
// duration, and a frame presented for an MSC is shown at that MSC. The
// counting tests run on the stock modesetting driver too, the peer proof of
// the simulator's vblank model.
#include "artifacts.h"
#include "displays.h"
#include "eventually.h"
#include "present_client.h"
#include "xcb_client.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <regex>
#include <string>
#include <vector>

using namespace qeltest;

namespace {

const char *const panel50 = R"([device]
vblank = manual
[crtc]
[connector]
type = eDP
modes = 1024x768@50 800x600@75
)";

// The monitor's counter starts 46 vblanks short of 2^32.
const char *const panel50Monitor75 = R"([device]
vblank = manual
[crtc]
[crtc]
vblank_count = 4294967250
[connector]
type = eDP
modes = 1024x768@50
[connector]
type = HDMI-A
modes = 1024x768@75
)";

Testbed testbedFor(const std::string &driver, const char *description)
{
    Testbed testbed;
    testbed.simDescription(description);
    if (driver == "modesetting")
        testbed.driver("modesetting").option("AccelMethod", "none");
    return testbed;
}

class PresentTimingTest : public SessionTest {
protected:
    void startOn(const Testbed &testbed, int displays)
    {
        start(testbed);
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(eventually([&] {
            std::vector<SimCrtc> crtcs = session->sim().crtcs();
            for (int i = 0; i < displays; ++i)
                if (!crtcs.at(static_cast<size_t>(i)).active)
                    return false;
            return true;
        })) << "not every display lit";
    }

    SimCrtc crtc(int index) const { return session->sim().crtcs().at(static_cast<size_t>(index)); }

    void vblanks(int count, int crtcIndex = -1) const
    {
        session->sim().command("vblank " + std::to_string(count) +
                               (crtcIndex < 0 ? "" : " " + std::to_string(crtcIndex)));
    }

    // UST of vblanks FRAMES apart on CRTC index: whole frames of its mode,
    // within the microseconds' rounding.
    void expectUstStep(uint64_t from, uint64_t to, uint64_t frames, int index) const
    {
        const double expected =
            static_cast<double>(frames) * static_cast<double>(crtc(index).frameNs) / 1000.0;
        EXPECT_NEAR(static_cast<double>(to - from), expected, 1.0);
    }

    void xset(const std::vector<std::string> &args) const
    {
        std::vector<std::string> argv{"xset"};
        argv.insert(argv.end(), args.begin(), args.end());
        CommandResult result = session->run(argv);
        ASSERT_TRUE(result.succeeded()) << result.describe();
    }
};

class PresentCounting : public PresentTimingTest,
                        public ::testing::WithParamInterface<std::string> {};

// One NotifyMSC per vblank on a 50 Hz panel: 50 of them are one simulated
// second, each completing at its MSC with the UST of that vblank.
TEST_P(PresentCounting, NotifyMscCountsEachVblankOfA50HzPanel)
{
    startOn(testbedFor(GetParam(), panel50), 1);
    ASSERT_FALSE(HasFatalFailure());
    XcbClient x(session->display());
    PresentClient present(x);

    const PresentCompletion first = present.now();
    EXPECT_EQ(first.msc, crtc(0).vblank);
    PresentCompletion last = first;
    for (int i = 0; i < 50; ++i) {
        const uint32_t serial = present.notifyAt(last.msc + 1);
        x.sync();
        vblanks(1);
        const PresentCompletion done = present.await(serial);
        EXPECT_EQ(done.msc, last.msc + 1);
        expectUstStep(last.ust, done.ust, 1, 0);
        last = done;
    }
    EXPECT_EQ(last.msc, first.msc + 50);
    expectUstStep(first.ust, last.ust, 50, 0);
    EXPECT_NEAR(static_cast<double>(last.ust - first.ust), 1e6, 3000.0) << "not a 50 Hz second";
}

// A window on each display counts that display's vblanks only, at its own
// frame duration; the monitor's count goes on past 2^32.
TEST_P(PresentCounting, TwoDisplaysOf50And75HzCountIndependently)
{
    startOn(testbedFor(GetParam(), panel50Monitor75), 2);
    ASSERT_FALSE(HasFatalFailure());
    std::vector<Placement> lit = litDisplays(*session);
    ASSERT_EQ(lit.size(), 2u);
    XcbClient x0(session->display()), x1(session->display());
    std::vector<std::unique_ptr<PresentClient>> windows(2);
    for (const Placement &p : lit)
        windows.at(static_cast<size_t>(p.crtc)) = std::make_unique<PresentClient>(
            p.crtc == 0 ? x0 : x1, Rect{p.x + 10, p.y + 10, p.width - 20, p.height - 20});

    const PresentCompletion panel = windows[0]->now(), monitor = windows[1]->now();
    EXPECT_EQ(panel.msc, crtc(0).vblank);
    EXPECT_EQ(monitor.msc, crtc(1).vblank);

    vblanks(50, 0);
    const PresentCompletion panelLater = windows[0]->now();
    EXPECT_EQ(panelLater.msc, panel.msc + 50);
    EXPECT_EQ(windows[1]->now().msc, monitor.msc);
    expectUstStep(panel.ust, panelLater.ust, 50, 0);

    const uint32_t serial = windows[1]->notifyAt(monitor.msc + 75);
    x1.sync();
    vblanks(74, 1);
    EXPECT_EQ(windows[1]->now().msc, monitor.msc + 74);
    vblanks(1, 1);
    const PresentCompletion monitorLater = windows[1]->await(serial);
    EXPECT_EQ(monitorLater.msc, monitor.msc + 75);
    EXPECT_GT(monitorLater.msc, 0xffffffffull);
    expectUstStep(monitor.ust, monitorLater.ust, 75, 1);
    EXPECT_EQ(windows[0]->now().msc, panelLater.msc);
}

INSTANTIATE_TEST_SUITE_P(Drivers, PresentCounting, ::testing::Values("qel", "modesetting"));

class QelPresentTiming : public PresentTimingTest {};

// Dark, the panel's MSC goes on by the server's fake rule; lit again, and
// at a mode switch, it goes on from there, never back; a wait queued before
// the panel went dark still completes at its MSC.
TEST_F(QelPresentTiming, MscStaysMonotonicThroughDpmsAndAModeSwitch)
{
    startOn(Testbed().simDescription(panel50), 1);
    ASSERT_FALSE(HasFatalFailure());
    XcbClient x(session->display());
    PresentClient present(x);
    const PresentCompletion before = present.now();
    const uint32_t pending = present.notifyAt(before.msc + 3);
    x.sync();

    xset({"dpms", "force", "off"});
    ASSERT_TRUE(eventually([&] { return !crtc(0).active; })) << "panel still lit";
    const PresentCompletion dark = present.now();
    EXPECT_GE(dark.msc, before.msc);

    xset({"dpms", "force", "on"});
    ASSERT_TRUE(eventually([&] { return crtc(0).active; })) << "panel still dark";
    const PresentCompletion lit = present.now();
    EXPECT_GT(lit.msc, before.msc);
    EXPECT_GE(lit.msc, dark.msc);
    vblanks(3);
    EXPECT_GE(present.await(pending).msc, before.msc + 3);

    const PresentCompletion at50 = present.now();
    CommandResult mode = session->run({"xrandr", "--output", "eDP-1", "--mode", "800x600"});
    ASSERT_TRUE(mode.succeeded()) << mode.describe();
    ASSERT_EQ(crtc(0).mode, "800x600");
    const PresentCompletion switched = present.now();
    EXPECT_GT(switched.msc, at50.msc);
    vblanks(1);
    const PresentCompletion at75 = present.now();
    EXPECT_EQ(at75.msc, switched.msc + 1);
    expectUstStep(switched.ust, at75.ust, 1, 0);
    EXPECT_NEAR(1e9 / static_cast<double>(crtc(0).frameNs), 75.0, 0.5);
}

// Away on another VT, the other client's display goes on counting; back,
// the window's MSC goes on from where it was, a wait queued before the
// switch completes at its MSC, whether that came while away or comes after
// the return, and counting goes on one per vblank.
TEST_F(QelPresentTiming, MscStaysMonotonicThroughAVtSwitch)
{
    startOn(Testbed().simDescription(panel50), 1);
    ASSERT_FALSE(HasFatalFailure());
    const int serverVt = session->sim().vt().server;
    ASSERT_NE(serverVt, 0) << "the server took no VT";
    XcbClient x(session->display());
    PresentClient present(x);
    const PresentCompletion before = present.now();
    const uint32_t whileAway = present.notifyAt(before.msc + 5);
    const uint32_t afterReturn = present.notifyAt(before.msc + 15);
    x.sync();

    ASSERT_EQ(session->switchVt(1).active, 1);
    vblanks(10);
    ASSERT_EQ(session->switchVt(serverVt).active, serverVt);
    x.sync();
    const PresentCompletion back = present.now();
    EXPECT_GT(back.msc, before.msc + 10);
    ASSERT_LT(back.msc, before.msc + 15);
    EXPECT_EQ(present.await(whileAway).msc, before.msc + 5);
    vblanks(static_cast<int>(before.msc + 15 - back.msc));
    EXPECT_EQ(present.await(afterReturn).msc, before.msc + 15);
    vblanks(1);
    EXPECT_EQ(present.now().msc, before.msc + 16);
}

// PresentPixmap for MSC N is copied at vblank N and completes with that
// MSC and its UST. With TearFree the copy reaches the display in the flip
// at the next vblank, whole; no flip before shows it. Without TearFree the
// display shows it from vblank N on.
class QelPresentPixmap : public PresentTimingTest, public ::testing::WithParamInterface<bool> {};

TEST_P(QelPresentPixmap, AFramePresentedForAnMscIsShownAtThatMsc)
{
    const bool tearFree = GetParam();
    startOn(Testbed().simDescription(panel50).option("TearFree", tearFree ? "on" : "off"), 1);
    ASSERT_FALSE(HasFatalFailure());
    XcbClient x(session->display());
    PresentClient present(x);
    session->sim().command("flip-probes 10,10 512,384 1013,757");

    for (uint32_t frame = 1; frame <= 4; ++frame) {
        SCOPED_TRACE("frame " + std::to_string(frame));
        const uint32_t colour = 0x101010u * frame + 0x400000u;
        const uint32_t pixmap = present.filledPixmap(colour);
        const uint64_t target = present.now().msc + frame;
        const uint32_t serial = present.presentAt(pixmap, target);
        x.sync();
        vblanks(static_cast<int>(frame) - 1);
        EXPECT_NE(session->capturePanel().at(512, 384), colour) << "shown before its MSC";

        const long flipsBefore = session->sim().counter("flips_requested");
        vblanks(1);
        const PresentCompletion done = present.await(serial);
        EXPECT_EQ(done.msc, target);
        EXPECT_EQ(done.ust, present.now().ust);
        if (!tearFree) {
            EXPECT_TRUE(eventually([&] { return session->capturePanel().at(512, 384) == colour; }));
            continue;
        }
        ASSERT_TRUE(eventually([&] {
            return session->sim().counter("flips_requested") > flipsBefore;
        })) << "TearFree made no flip for the frame";
        vblanks(1);
        const std::vector<std::string> log = session->sim().command("fliplog").lines;
        ASSERT_FALSE(log.empty());
        std::smatch m;
        ASSERT_TRUE(std::regex_search(log.back(), m, std::regex(R"(vblank=(\d+) probes=(\S+))")))
            << log.back();
        EXPECT_EQ(std::stoull(m[1].str()), target + 1);
        char hex[8];
        std::snprintf(hex, sizeof hex, "%06x", colour);
        EXPECT_EQ(m[2].str(), std::string(hex) + "," + hex + "," + hex) << "torn or not shown";
        for (size_t i = 0; i + 1 < log.size(); ++i)
            EXPECT_EQ(log[i].find(hex), std::string::npos) << "shown a flip early: " << log[i];
    }
}

INSTANTIATE_TEST_SUITE_P(TearFree, QelPresentPixmap, ::testing::Bool());

} // namespace
