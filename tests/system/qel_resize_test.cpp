// SPDX-License-Identifier: MIT
// Screen resizes through xrandr on the real Xorg, in every buffer
// arrangement qel has (TearFree, no TearFree, no acceleration): without
// TearFree the CRTC shows a new framebuffer of the new size and the old one
// is gone; with TearFree it keeps showing buffers of its mode's size, new
// ones when the mode changed. Exactly one screen's framebuffers remain, and
// what clients draw afterwards is what the panel shows. A failed buffer
// creation leaves the old screen working.
#include "artifacts.h"
#include "eventually.h"
#include "xcb_client.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

using namespace qeltest;

namespace {

struct Arrangement {
    const char *name;
    std::vector<std::pair<std::string, std::string>> options;
    bool tearFree; // the CRTC shows a pair of its own, else the screen
};

void PrintTo(const Arrangement &arrangement, std::ostream *out)
{
    *out << arrangement.name;
}

const Arrangement arrangements[] = {
    {"TearFree", {}, true},
    {"NoTearFree", {{"TearFree", "off"}}, false},
    {"NoAccel", {{"Accel", "off"}}, false},
};

// The server lets the screen grow to a square of the largest mode an output
// lists, so the panel lists a larger mode than the one it starts with.
const char *const panel = R"([device]
[crtc]
[connector]
type = eDP
type_id = 1
status = connected
mm = 271x203
modes = 1024x768@60 800x600@60 1280x1024@60
)";

// Rows of 1000 pixels are padded to 4096 bytes.
const char *const paddedPanel = R"([device]
pitch_align = 1024
[crtc]
[connector]
type = eDP
type_id = 1
status = connected
modes = 1024x768@60 800x600@60
)";

class QelResize : public SessionTest, public ::testing::WithParamInterface<Arrangement> {
protected:
    void startOn(const std::string &description)
    {
        Testbed testbed;
        testbed.simDescription(description);
        for (const auto &[name, value] : GetParam().options)
            testbed.option(name, value);
        start(testbed);
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(eventually([&] { return crtc().active; })) << "no mode set";
    }

    SimCrtc crtc() const { return session->sim().crtcs().at(0); }

    void xrandr(const std::vector<std::string> &args)
    {
        std::vector<std::string> argv{"xrandr"};
        argv.insert(argv.end(), args.begin(), args.end());
        CommandResult result = session->run(argv);
        ASSERT_TRUE(result.succeeded()) << result.describe();
    }

    // The whole framebuffer as the simulator holds it.
    Image framebuffer(unsigned fbId) const
    {
        std::string path = session->runDir() + "/fb-" + std::to_string(fbId) + ".png";
        session->sim().command("fb " + std::to_string(fbId) + " " + path);
        return readPng(path);
    }

    bool framebufferExists(unsigned fbId) const
    {
        std::string path = session->runDir() + "/gone.png";
        return session->sim().request("fb " + std::to_string(fbId) + " " + path).ok;
    }

    long screenFramebuffers() const { return GetParam().tearFree ? 2 : 1; }

    // After a resize to width x height from `before`, the CRTC shows the
    // mode: without TearFree a new framebuffer of the screen's size (the old
    // one gone), with TearFree its own pair of the mode's size (the kernel
    // may give a new pair the ids of the old one). One screen's framebuffers
    // remain.
    void expectScanout(const SimCrtc &before, int width, int height, const std::string &mode)
    {
        SimCrtc after = crtc();
        EXPECT_TRUE(after.active);
        EXPECT_EQ(after.mode, mode);
        Image shown = framebuffer(after.fb);
        std::string size = std::to_string(shown.width) + "x" + std::to_string(shown.height);
        EXPECT_EQ(size, GetParam().tearFree ? mode
                                            : std::to_string(width) + "x" + std::to_string(height));
        if (!GetParam().tearFree) {
            EXPECT_NE(after.fb, before.fb);
            EXPECT_FALSE(framebufferExists(before.fb)) << "old framebuffer " << before.fb;
        }
        EXPECT_EQ(session->sim().counter("live_framebuffers"), screenFramebuffers());
    }

    // Draws over the whole screen as a new client sees it, then checks that
    // the root window is what the clients asked for and what the panel
    // shows, pixel for pixel. Without TearFree the framebuffer is the
    // screen itself and must match as a whole; with TearFree only what a
    // CRTC shows is copied to it.
    void expectDrawingReachesThePanel(int width, int height)
    {
        XcbClient x(session->display());
        ASSERT_EQ(x.rootWidth(), width);
        ASSERT_EQ(x.rootHeight(), height);
        x.fill({0, 0, width, height}, 0x203040);
        x.fill({10, 20, 300, 200}, 0xff0000);
        x.fill({width - 37, height - 29, 37, 29}, 0x0000ff);
        x.fill({width / 2, 0, 3, height}, 0x00ff00);
        x.copy({10, 20, 300, 200}, width - 320, height / 2);
        x.sync();

        Image root = x.rootImage();
        ASSERT_EQ(root.width, width);
        EXPECT_EQ(root.at(10, 20), 0xff0000u);
        EXPECT_EQ(root.at(width - 1, height - 1), 0x0000ffu);
        EXPECT_EQ(root.at(width - 21, height / 2 + 199), 0xff0000u);
        EXPECT_EQ(root.at(width / 2 + 2, height - 1), 0x00ff00u);

        SimCrtc shown = crtc();
        std::optional<PixelDifference> difference;
        bool same = eventually([&] {
            Image panel = session->capturePanel(0);
            difference = compareImages(crop(root, 0, 0, panel.width, panel.height), panel);
            if (!difference && !GetParam().tearFree)
                difference = compareImages(root, framebuffer(crtc().fb));
            return !difference;
        });
        EXPECT_TRUE(same) << difference->describe() << " (fb " << shown.fb << ")";
    }
};

TEST_P(QelResize, ModeChangeShrinksTheScreenAndBack)
{
    startOn(panel);
    ASSERT_FALSE(HasFatalFailure());
    long buffers = session->sim().counter("live_dumb_buffers");

    SimCrtc before = crtc();
    xrandr({"--output", "eDP-1", "--mode", "800x600"});
    expectScanout(before, 800, 600, "800x600");
    expectDrawingReachesThePanel(800, 600);

    before = crtc();
    xrandr({"--output", "eDP-1", "--mode", "1024x768"});
    expectScanout(before, 1024, 768, "1024x768");
    expectDrawingReachesThePanel(1024, 768);
    session->sim().settle(3);
    EXPECT_EQ(session->sim().counter("live_dumb_buffers"), buffers);
}

TEST_P(QelResize, LargerFramebufferKeepsTheCrtcMode)
{
    startOn(panel);
    ASSERT_FALSE(HasFatalFailure());
    long buffers = session->sim().counter("live_dumb_buffers");

    // The size the screen has already: nothing is replaced. With TearFree
    // the CRTC alternates between its two framebuffers as the server
    // redraws, so only the buffer count tells.
    session->sim().settle(3);
    SimCrtc before = crtc();
    long creations = session->sim().counter("ioctl_MODE_CREATE_DUMB");
    xrandr({"--fb", "1024x768"});
    session->sim().settle(3);
    if (!GetParam().tearFree) {
        EXPECT_EQ(crtc().fb, before.fb);
    }
    EXPECT_EQ(session->sim().counter("ioctl_MODE_CREATE_DUMB"), creations);

    xrandr({"--fb", "1280x1024"});
    expectScanout(before, 1280, 1024, "1024x768");
    EXPECT_EQ(crtc().x, 0);
    EXPECT_EQ(crtc().y, 0);
    expectDrawingReachesThePanel(1280, 1024);
    session->sim().settle(3);
    EXPECT_EQ(session->sim().counter("live_dumb_buffers"), buffers);
}

TEST_P(QelResize, RandR10SizeChange)
{
    startOn(panel);
    ASSERT_FALSE(HasFatalFailure());
    long buffers = session->sim().counter("live_dumb_buffers");

    SimCrtc before = crtc();
    xrandr({"-s", "800x600"});
    expectScanout(before, 800, 600, "800x600");
    expectDrawingReachesThePanel(800, 600);
    session->sim().settle(3);
    EXPECT_EQ(session->sim().counter("live_dumb_buffers"), buffers);
}

// The new buffer of a resize cannot be created: RandR refuses the size,
// the old screen stays on the panel and keeps working, and no new buffer is
// left behind.
TEST_P(QelResize, FailedBufferKeepsTheOldScreen)
{
    startOn(panel);
    ASSERT_FALSE(HasFatalFailure());
    long buffers = session->sim().counter("live_dumb_buffers");

    long creations = session->sim().counter("ioctl_MODE_CREATE_DUMB");
    session->sim().command("fault create_dumb_nth 1");
    CommandResult result = session->run({"xrandr", "--fb", "1280x1024"});
    EXPECT_FALSE(result.succeeded()) << result.describe();
    EXPECT_EQ(session->sim().counter("ioctl_MODE_CREATE_DUMB"), creations + 1);
    // With TearFree the CRTC moves between its two scanout buffers.
    Image shown = framebuffer(crtc().fb);
    EXPECT_EQ(shown.width, 1024);
    EXPECT_EQ(shown.height, 768);
    EXPECT_EQ(session->sim().counter("live_dumb_buffers"), buffers);
    EXPECT_EQ(session->sim().counter("live_framebuffers"), screenFramebuffers());
    expectDrawingReachesThePanel(1024, 768);
}

// A CRTC refuses the new buffer: RandR reports the failure, and the panel
// still shows the screen (the server repaints it, here in the root's
// colour), which keeps working.
TEST_P(QelResize, RefusedModeSetKeepsTheOldScreen)
{
    startOn(panel);
    ASSERT_FALSE(HasFatalFailure());
    CommandResult colour = session->run({"xsetroot", "-solid", "#123456"});
    ASSERT_TRUE(colour.succeeded()) << colour.describe();

    session->sim().command("fault setcrtc 1");
    CommandResult result = session->run({"xrandr", "--fb", "1280x1024"});
    EXPECT_FALSE(result.succeeded()) << result.describe();
    Image root = session->xwdRoot();
    ASSERT_EQ(root.width, 1024);
    EXPECT_EQ(root.at(500, 500), 0x123456u);
    std::optional<PixelDifference> difference = session->awaitPanel(root);
    EXPECT_FALSE(difference) << difference->describe();
    expectDrawingReachesThePanel(1024, 768);
}

// A padded kernel pitch: the screen's rows follow the pitch, so the picture
// is not sheared.
TEST_P(QelResize, PaddedPitchKeepsRowsInPlace)
{
    startOn(paddedPanel);
    ASSERT_FALSE(HasFatalFailure());

    SimCrtc before = crtc();
    xrandr({"--output", "eDP-1", "--mode", "800x600", "--fb", "1000x700"});
    expectScanout(before, 1000, 700, "800x600");
    expectDrawingReachesThePanel(1000, 700);
}

INSTANTIATE_TEST_SUITE_P(Arrangements, QelResize, ::testing::ValuesIn(arrangements),
                         [](const ::testing::TestParamInfo<Arrangement> &info) {
                             return std::string(info.param.name);
                         });

} // namespace
