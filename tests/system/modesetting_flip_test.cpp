// SPDX-License-Identifier: MIT
// The stock modesetting driver with glamor (on Mesa's software renderer)
// page-flips Present frames: a peer check of the simulator's flips, their
// completion at vblank and their events.
#include "artifacts.h"
#include "eventually.h"
#include "present_client.h"
#include "xcb_client.h"

#include <gtest/gtest.h>

using namespace qeltest;

namespace {

class ModesettingFlips : public SessionTest {
protected:
    void SetUp() override
    {
        start(Testbed()
                  .driver("modesetting")
                  .option("AccelMethod", "glamor")
                  .serverEnv("GBM_ALWAYS_SOFTWARE", "1")
                  .serverEnv("GALLIUM_DRIVER", "softpipe")
                  .panel(640, 480));
        if (HasFatalFailure())
            return;
        ASSERT_NE(session->log().find("glamor initialized"), std::string::npos)
            << "glamor did not come up; see the log";
        // Only a lit CRTC can flip; the server sets its mode once its
        // console is active, which may follow its first clients.
        ASSERT_TRUE(eventually([&] { return session->sim().crtcs().at(0).active; }))
            << "no mode set";
    }

    // Presents a whole-screen frame of one colour and checks it was flipped.
    void presentFlipped(XcbClient &x, PresentClient &present, uint32_t rgb)
    {
        PresentCompletion done = present.present(present.filledPixmap(rgb));
        EXPECT_TRUE(done.flipped) << "the server copied instead of flipping";
        x.sync();
    }
};

TEST_F(ModesettingFlips, PresentedFramesAreFlippedOntoTheCrtc)
{
    XcbClient x(session->display());
    PresentClient present(x);
    long flipsBefore = session->sim().counter("flips_completed");

    presentFlipped(x, present, 0xcc2200);
    Image panel = session->capturePanel();
    EXPECT_EQ(panel.at(0, 0), 0xcc2200u);
    EXPECT_EQ(panel.at(639, 479), 0xcc2200u);

    presentFlipped(x, present, 0x0044dd);
    EXPECT_EQ(session->capturePanel().at(320, 240), 0x0044ddu);

    EXPECT_GE(session->sim().counter("flips_completed"), flipsBefore + 2);
    EXPECT_EQ(session->sim().counter("flips_rejected"), 0);
    SimReply log = session->sim().command("fliplog");
    ASSERT_FALSE(log.lines.empty());
    SimReply last;
    last.lines = {log.lines.back()};
    EXPECT_EQ(last.values()["fb"], std::to_string(session->sim().crtcs().at(0).fb))
        << "the CRTC does not show the last flipped frame";
}

} // namespace
