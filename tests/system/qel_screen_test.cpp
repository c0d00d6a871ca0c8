// SPDX-License-Identifier: MIT
// qel's screen on the real Xorg without acceleration: what clients see of
// it, that what they draw is what the panel shows, DPMS and gamma reaching
// the kernel, and that server generations and shutdown give back every
// buffer the screen took.
#include "artifacts.h"
#include "eventually.h"
#include "xcb_client.h"

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <regex>
#include <string>
#include <vector>

using namespace qeltest;

namespace {

Testbed unacceleratedPanel()
{
    return Testbed().option("Accel", "off").panel(1024, 768);
}

class QelScreen : public SessionTest {
protected:
    void SetUp() override
    {
        start(unacceleratedPanel());
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(eventually([&] { return firstCrtc().active; })) << "no mode set";
    }

    SimCrtc firstCrtc() const { return session->sim().crtcs().at(0); }
};

TEST_F(QelScreen, XdpyinfoShowsOneScreenOfDepth24AtThePanelSize)
{
    CommandResult info = session->run({"xdpyinfo"});
    ASSERT_TRUE(info.succeeded()) << info.describe();
    EXPECT_TRUE(std::regex_search(info.out, std::regex(R"(number of screens:\s+1\n)"))) << info.out;
    EXPECT_TRUE(std::regex_search(info.out, std::regex(R"(dimensions:\s+1024x768 pixels)")))
        << info.out;
    EXPECT_TRUE(std::regex_search(info.out, std::regex(R"(depth of root window:\s+24 planes)")))
        << info.out;
}

// A 64x48 picture whose every pixel differs from its neighbours, so that a
// misplaced row or column shows.
std::vector<uint32_t> gradient(int width, int height)
{
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixels[static_cast<size_t>(y) * width + x] =
                static_cast<uint32_t>((x * 4) << 16 | (y * 5) << 8 | ((x + y) & 0xff));
    return pixels;
}

void putImage(XcbClient &x, uint32_t gc, int dstX, int dstY, int width, int height,
              const std::vector<uint32_t> &pixels)
{
    xcb_put_image(x.connection(), XCB_IMAGE_FORMAT_Z_PIXMAP, x.root(), gc,
                  static_cast<uint16_t>(width), static_cast<uint16_t>(height),
                  static_cast<int16_t>(dstX), static_cast<int16_t>(dstY), 0, 24,
                  static_cast<uint32_t>(pixels.size() * sizeof(uint32_t)),
                  reinterpret_cast<const uint8_t *>(pixels.data()));
}

void drawText(XcbClient &x, uint32_t gc, int atX, int atY, const std::string &text)
{
    uint32_t colours[] = {0xffffff, 0x202020};
    xcb_change_gc(x.connection(), gc, XCB_GC_FOREGROUND | XCB_GC_BACKGROUND, colours);
    xcb_image_text_8(x.connection(), static_cast<uint8_t>(text.size()), x.root(), gc,
                     static_cast<int16_t>(atX), static_cast<int16_t>(atY), text.c_str());
}

TEST_F(QelScreen, WhatClientsDrawIsWhatThePanelShows)
{
    XcbClient x(session->display());
    ASSERT_EQ(x.rootDepth(), 24);
    uint32_t gc = xcb_generate_id(x.connection());
    uint32_t noExposures = 0;
    xcb_create_gc(x.connection(), gc, x.root(), XCB_GC_GRAPHICS_EXPOSURES, &noExposures);

    x.fill({0, 0, x.rootWidth(), x.rootHeight()}, 0x000000);
    x.fill({10, 20, 300, 200}, 0xff0000);
    x.fill({1000, 740, 24, 28}, 0x0000ff);
    putImage(x, gc, 600, 50, 64, 48, gradient(64, 48));
    x.copy({600, 50, 64, 48}, 603, 400); // an odd offset and an overlap-free move
    x.copy({10, 20, 300, 200}, 40, 60);  // overlapping, down and right
    drawText(x, gc, 100, 700, "qel draws this");
    x.sync();

    Image root = x.rootImage();
    ASSERT_EQ(root.width, 1024);
    ASSERT_EQ(root.height, 768);
    EXPECT_EQ(root.at(10, 20), 0xff0000u);
    EXPECT_EQ(root.at(339, 259), 0xff0000u);
    EXPECT_EQ(root.at(1023, 767), 0x0000ffu);
    std::vector<uint32_t> picture = gradient(64, 48);
    EXPECT_EQ(root.at(600 + 63, 50 + 47), picture.back());
    EXPECT_EQ(root.at(603 + 17, 400 + 9), picture[9 * 64 + 17]);

    std::optional<PixelDifference> difference = session->awaitPanel(root);
    EXPECT_FALSE(difference) << difference->describe();
}

TEST_F(QelScreen, DpmsForceOffDarkensTheCrtcAndOnRelightsTheSameMode)
{
    SimCrtc lit = firstCrtc();
    CommandResult off = session->run({"xset", "dpms", "force", "off"});
    ASSERT_TRUE(off.succeeded()) << off.describe();
    EXPECT_TRUE(eventually([&] { return !firstCrtc().active; }))
        << "CRTC still active after dpms force off";

    CommandResult on = session->run({"xset", "dpms", "force", "on"});
    ASSERT_TRUE(on.succeeded()) << on.describe();
    EXPECT_TRUE(eventually([&] { return firstCrtc().active; }))
        << "CRTC still off after dpms force on";
    SimCrtc relit = firstCrtc();
    EXPECT_EQ(relit.mode, lit.mode);
    EXPECT_EQ(relit.fb, lit.fb);
    EXPECT_EQ(relit.x, lit.x);
    EXPECT_EQ(relit.y, lit.y);
}

// The simulator counts gamma uploads but does not show the ramp itself, so
// this proves the request reaches the kernel, not the values it carries.
TEST_F(QelScreen, XrandrGammaReachesTheKernel)
{
    CommandResult query = session->run({"xrandr", "--query"});
    ASSERT_TRUE(query.succeeded()) << query.describe();
    std::smatch output;
    ASSERT_TRUE(std::regex_search(query.out, output, std::regex(R"((\S+) connected)")))
        << query.out;

    long before = session->sim().counters().count("ioctl_MODE_SETGAMMA")
                      ? session->sim().counter("ioctl_MODE_SETGAMMA")
                      : 0;
    CommandResult gamma =
        session->run({"xrandr", "--output", output[1].str(), "--gamma", "0.5:0.8:1.2"});
    ASSERT_TRUE(gamma.succeeded()) << gamma.describe();
    EXPECT_TRUE(eventually([&] {
        auto counters = session->sim().counters();
        auto found = counters.find("ioctl_MODE_SETGAMMA");
        return found != counters.end() && std::stol(found->second) > before;
    })) << "no gamma upload reached the device";
}

// ---- generations and shutdown ----

class QelScreenLifetime : public SessionTest {};

// The log's error lines, without those of the test machine itself: it has
// no system bus and no input drivers, which the server reports as errors.
std::string errorLines(const std::string &log)
{
    static const std::regex error(R"(^\[[^\]]*\] \(EE\).*$)", std::regex::multiline);
    static const std::regex machine(
        R"re(dbus-core|module "(mouse|kbd|libinput)"|No input driver matching)re");
    std::string found;
    for (std::sregex_iterator it(log.begin(), log.end(), error), end; it != end; ++it)
        if (!std::regex_search(it->str(), machine))
            found += it->str() + "\n";
    return found;
}

// The server regenerates each time its last client leaves; every new
// generation creates the screen's one buffer anew.
TEST_F(QelScreenLifetime, RegenerationsKeepExactlyOneScreensBuffers)
{
    start(unacceleratedPanel().reset(true));
    ASSERT_FALSE(HasFatalFailure());
    const SimControl &sim = session->sim();
    ASSERT_TRUE(eventually([&] { return sim.counter("live_dumb_buffers") == 1; }));

    for (int generation = 2; generation <= 6; ++generation) {
        long created = counterOrZero(sim.counters(), "ioctl_MODE_CREATE_DUMB");
        {
            XcbClient x(session->display());
            EXPECT_EQ(x.rootWidth(), 1024);
            x.fill({0, 0, 64, 64}, 0x00ff00);
            x.sync();
        }
        ASSERT_TRUE(eventually(
            [&] {
                auto counters = sim.counters();
                return counterOrZero(counters, "ioctl_MODE_CREATE_DUMB") > created &&
                       counterOrZero(counters, "live_dumb_buffers") == 1 &&
                       counterOrZero(counters, "live_framebuffers") == 1 &&
                       sim.crtcs().at(0).active;
            },
            std::chrono::seconds(30)))
            << "generation " << generation << " did not come up with one buffer";
    }
    EXPECT_EQ(errorLines(session->log()), "");
}

TEST_F(QelScreenLifetime, StoppingTheServerReleasesEveryBuffer)
{
    start(unacceleratedPanel());
    ASSERT_FALSE(HasFatalFailure());
    {
        XcbClient x(session->display());
        x.fill({0, 0, 100, 100}, 0xffffff);
        x.sync();
    }
    EXPECT_EQ(session->sim().counter("live_dumb_buffers"), 1);
    session->stop();
    auto stats = session->simStats();
    ASSERT_FALSE(stats.empty()) << "the simulator left no final counters";
    EXPECT_EQ(counterOrZero(stats, "live_dumb_buffers"), 0);
    EXPECT_EQ(counterOrZero(stats, "live_framebuffers"), 0);
    EXPECT_EQ(errorLines(session->log()), "");
}

} // namespace
