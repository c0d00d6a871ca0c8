// Screen resizes through xrandr on the real Xorg, in every buffer
// arrangement qel has (TearFree, no TearFree, no acceleration): the CRTC
// shows a new framebuffer of the new size, the old ones are gone, exactly
// one screen's framebuffers remain, and what clients draw afterwards is what
// the panel shows. A failed buffer creation leaves the old screen working.
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
    long framebuffers;  // of one screen: the scanout buffers
};

void PrintTo(const Arrangement &arrangement, std::ostream *out)
{
    *out << arrangement.name;
}

const Arrangement arrangements[] = {
    {"TearFree", {}, 2},
    {"NoTearFree", {{"TearFree", "off"}}, 1},
    {"NoAccel", {{"Accel", "off"}}, 1},
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

Image crop(const Image &image, int width, int height)
{
    Image out{width, height, {}};
    out.pixels.reserve(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            out.pixels.push_back(image.at(x, y));
    return out;
}

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

    // The CRTC moved from `before` to a new framebuffer of the screen's new
    // size, the old one is gone, and one screen's framebuffers remain.
    void expectNewFramebuffer(const SimCrtc &before, int width, int height,
                              const std::string &mode)
    {
        SimCrtc after = crtc();
        EXPECT_TRUE(after.active);
        EXPECT_EQ(after.mode, mode);
        EXPECT_NE(after.fb, before.fb);
        Image shown = framebuffer(after.fb);
        EXPECT_EQ(shown.width, width);
        EXPECT_EQ(shown.height, height);
        EXPECT_FALSE(framebufferExists(before.fb)) << "old framebuffer " << before.fb;
        EXPECT_EQ(session->sim().counter("live_framebuffers"), GetParam().framebuffers);
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
            difference = compareImages(crop(root, panel.width, panel.height), panel);
            if (!difference && GetParam().framebuffers == 1)
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
    expectNewFramebuffer(before, 800, 600, "800x600");
    expectDrawingReachesThePanel(800, 600);

    before = crtc();
    xrandr({"--output", "eDP-1", "--mode", "1024x768"});
    expectNewFramebuffer(before, 1024, 768, "1024x768");
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
    // the CRTC alternates between two framebuffers, so it is read only once
    // no flip is due.
    session->sim().settle(3);
    SimCrtc before = crtc();
    long creations = session->sim().counter("ioctl_MODE_CREATE_DUMB");
    xrandr({"--fb", "1024x768"});
    session->sim().settle(3);
    EXPECT_EQ(crtc().fb, before.fb);
    EXPECT_EQ(session->sim().counter("ioctl_MODE_CREATE_DUMB"), creations);

    xrandr({"--fb", "1280x1024"});
    expectNewFramebuffer(before, 1280, 1024, "1024x768");
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
    expectNewFramebuffer(before, 800, 600, "800x600");
    expectDrawingReachesThePanel(800, 600);
    session->sim().settle(3);
    EXPECT_EQ(session->sim().counter("live_dumb_buffers"), buffers);
}

// The n-th new buffer of a resize cannot be created: RandR refuses the
// size, the old screen stays on the panel and keeps working, and no new
// buffer is left behind.
TEST_P(QelResize, FailedBufferKeepsTheOldScreen)
{
    startOn(panel);
    ASSERT_FALSE(HasFatalFailure());
    long buffers = session->sim().counter("live_dumb_buffers");
    int buffersPerScreen = GetParam().framebuffers == 2 ? 3 : 1;

    for (int nth = 1; nth <= buffersPerScreen; ++nth) {
        SCOPED_TRACE("failing new buffer " + std::to_string(nth));
        long creations = session->sim().counter("ioctl_MODE_CREATE_DUMB");
        session->sim().command("fault create_dumb_nth " + std::to_string(nth));
        CommandResult result = session->run({"xrandr", "--fb", "1280x1024"});
        EXPECT_FALSE(result.succeeded()) << result.describe();
        // A failed first buffer stops there; the other two are tried
        // together.
        EXPECT_EQ(session->sim().counter("ioctl_MODE_CREATE_DUMB"),
                  creations + (nth == 1 ? 1 : buffersPerScreen));
        // With TearFree the CRTC moves between the two old scanout buffers.
        Image shown = framebuffer(crtc().fb);
        EXPECT_EQ(shown.width, 1024);
        EXPECT_EQ(shown.height, 768);
        EXPECT_EQ(session->sim().counter("live_dumb_buffers"), buffers);
        EXPECT_EQ(session->sim().counter("live_framebuffers"), GetParam().framebuffers);
        expectDrawingReachesThePanel(1024, 768);
        session->sim().settle(3);
        buffers = session->sim().counter("live_dumb_buffers");
    }
}

// A padded kernel pitch: the screen's rows follow the pitch, so the picture
// is not sheared.
TEST_P(QelResize, PaddedPitchKeepsRowsInPlace)
{
    startOn(paddedPanel);
    ASSERT_FALSE(HasFatalFailure());

    SimCrtc before = crtc();
    xrandr({"--output", "eDP-1", "--mode", "800x600", "--fb", "1000x700"});
    expectNewFramebuffer(before, 1000, 700, "800x600");
    expectDrawingReachesThePanel(1000, 700);
}

INSTANTIATE_TEST_SUITE_P(Arrangements, QelResize, ::testing::ValuesIn(arrangements),
                         [](const ::testing::TestParamInfo<Arrangement> &info) {
                             return std::string(info.param.name);
                         });

}  // namespace
