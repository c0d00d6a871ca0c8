// SPDX-License-Identifier: MIT
// Rotated, reflected and scaled displays on the real Xorg: xrandr turns the
// panel, a client draws, and the panel shows the screen turned as the
// server's CRTC transform maps it, exactly as the stock modesetting driver
// shows it on the same simulator; a scaled output shows the screen as the
// server's transform filters it. A rotation costs one shadow buffer, given
// back when the display turns back; a shadow that cannot be had leaves the
// display as it was; a portrait panel can be set up in a Monitor section.
#include "artifacts.h"
#include "displays.h"
#include "eventually.h"
#include "files.h"
#include "xcb_client.h"

#include <gtest/gtest.h>
#include <pixman.h>
#include <xcb/randr.h>

#include <cstdlib>

#include <string>
#include <vector>

using namespace qeltest;

namespace {

const std::vector<Orientation> kOrientations = {
    {"left", false, false},  {"inverted", false, false}, {"right", false, false},
    {"normal", true, false}, {"normal", false, true},    {"left", true, false},
};

class Rotation : public SessionTest {
protected:
    void startLit(Testbed testbed)
    {
        start(testbed);
        if (HasFatalFailure())
            return;
        // modesetting lights the panel once its console is active.
        ASSERT_TRUE(eventually([&] { return session->sim().crtcs().at(0).active; }));
    }

    CommandResult xrandr(const std::vector<std::string> &args)
    {
        std::vector<std::string> argv{"xrandr", "--output", "eDP-1"};
        argv.insert(argv.end(), args.begin(), args.end());
        return session->run(argv);
    }

    void turn(const Orientation &orientation)
    {
        CommandResult result = xrandr(orientation.xrandrArgs());
        ASSERT_TRUE(result.succeeded()) << result.describe();
    }

    // Draws, waits until the panel shows the screen turned and returns what
    // it shows.
    Image drawAndCapture(const Orientation &orientation)
    {
        drawAcrossDisplays(*session, 7);
        session->sim().settle(3);
        std::optional<PixelDifference> difference =
            session->awaitPanel(turnedFor(session->xwdRoot(), orientation));
        EXPECT_FALSE(difference) << orientation.name() << ": " << difference->describe();
        return session->capturePanel();
    }

    long liveBuffers() const { return session->sim().counter("live_dumb_buffers"); }
};

// The peer shows each orientation first; then qel must show the same.
TEST_F(Rotation, EveryOrientationShowsTheScreenTurnedAsModesettingShowsIt)
{
    startLit(Testbed().driver("modesetting").option("AccelMethod", "none"));
    ASSERT_FALSE(HasFatalFailure());
    std::vector<Image> peer;
    for (const Orientation &orientation : kOrientations) {
        turn(orientation);
        peer.push_back(drawAndCapture(orientation));
    }
    session->stop();

    startLit(Testbed());
    ASSERT_FALSE(HasFatalFailure());
    for (size_t i = 0; i < kOrientations.size(); ++i) {
        SCOPED_TRACE(kOrientations[i].name());
        turn(kOrientations[i]);
        std::optional<PixelDifference> difference =
            compareImages(peer[i], drawAndCapture(kOrientations[i]));
        EXPECT_FALSE(difference) << "against modesetting: " << difference->describe();
    }
}

// Each rotation holds one shadow, of the mode's size; turning back gives it
// back. Through DPMS and a mode switch the turned panel keeps showing the
// screen.
TEST_F(Rotation, TurningBackReturnsTheShadowBuffer)
{
    startLit(Testbed());
    ASSERT_FALSE(HasFatalFailure());
    const long unrotated = liveBuffers();
    for (const Orientation &orientation : {kOrientations[0], kOrientations[1]}) {
        SCOPED_TRACE(orientation.name());
        turn(orientation);
        drawAndCapture(orientation);
        EXPECT_EQ(liveBuffers(), unrotated + 1);

        ASSERT_TRUE(session->run({"xset", "dpms", "force", "off"}).succeeded());
        ASSERT_TRUE(eventually([&] { return !session->sim().crtcs().at(0).active; }));
        ASSERT_TRUE(session->run({"xset", "dpms", "force", "on"}).succeeded());
        ASSERT_TRUE(eventually([&] { return session->sim().crtcs().at(0).active; }));
        drawAndCapture(orientation);

        ASSERT_TRUE(xrandr({"--mode", "800x600"}).succeeded());
        drawAndCapture(orientation);
        EXPECT_EQ(liveBuffers(), unrotated + 1);
        ASSERT_TRUE(xrandr({"--mode", "1024x768"}).succeeded());

        turn(Orientation{});
        drawAndCapture(Orientation{});
        EXPECT_EQ(liveBuffers(), unrotated);
    }
    session->stop();
    EXPECT_EQ(session->simStats()["live_dumb_buffers"], "0");
}

// Sets the first CRTC again with its mode, position and outputs and that
// rotation, in one RandR request, and returns RandR's status. (xrandr would
// undo a failure itself, by switching everything off and setting it again.)
uint8_t setCrtcRotation(const Session &session, uint16_t rotation)
{
    XcbClient x(session.display());
    xcb_connection_t *c = x.connection();
    free(xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr));
    auto *resources = xcb_randr_get_screen_resources_current_reply(
        c, xcb_randr_get_screen_resources_current(c, x.root()), nullptr);
    xcb_randr_crtc_t crtc = xcb_randr_get_screen_resources_current_crtcs(resources)[0];
    auto *info = xcb_randr_get_crtc_info_reply(
        c, xcb_randr_get_crtc_info(c, crtc, resources->config_timestamp), nullptr);
    auto *reply = xcb_randr_set_crtc_config_reply(
        c,
        xcb_randr_set_crtc_config(c, crtc, XCB_CURRENT_TIME, resources->config_timestamp, info->x,
                                  info->y, info->mode, rotation,
                                  xcb_randr_get_crtc_info_outputs_length(info),
                                  xcb_randr_get_crtc_info_outputs(info)),
        nullptr);
    uint8_t status = reply ? reply->status : 0xff;
    free(reply);
    free(info);
    free(resources);
    return status;
}

// A set the kernel or the allocator refuses: RandR reports the failure, the
// panel is not set again and goes on showing the screen as before, turned
// as before, and the log says why a shadow was refused, once per refusal.
TEST_F(Rotation, ARefusedTurnLeavesThePanelAsItWas)
{
    startLit(Testbed());
    ASSERT_FALSE(HasFatalFailure());
    drawAndCapture(Orientation{});
    const long unrotated = liveBuffers();
    long sets = session->sim().counter("setcrtc_calls");

    session->sim().command("fault create_dumb 1");
    EXPECT_EQ(setCrtcRotation(*session, XCB_RANDR_ROTATION_ROTATE_180),
              XCB_RANDR_SET_CONFIG_FAILED);
    EXPECT_EQ(session->sim().counter("setcrtc_calls"), sets) << "the panel was set again";
    drawAndCapture(Orientation{});
    EXPECT_EQ(liveBuffers(), unrotated);
    EXPECT_EQ(litDisplays(*session).at(0).orientation.rotate, "normal");

    // Refused by the kernel on the way to the turn and on the way back: the
    // panel keeps what it showed, the shadow included, and goes on updating.
    const Orientation inverted{"inverted"};
    session->sim().command("fault setcrtc 1");
    EXPECT_EQ(setCrtcRotation(*session, XCB_RANDR_ROTATION_ROTATE_180),
              XCB_RANDR_SET_CONFIG_FAILED);
    drawAndCapture(Orientation{});
    EXPECT_EQ(liveBuffers(), unrotated);
    ASSERT_EQ(setCrtcRotation(*session, XCB_RANDR_ROTATION_ROTATE_180),
              XCB_RANDR_SET_CONFIG_SUCCESS);
    session->sim().command("fault setcrtc 1");
    EXPECT_EQ(setCrtcRotation(*session, XCB_RANDR_ROTATION_ROTATE_0), XCB_RANDR_SET_CONFIG_FAILED);
    drawAndCapture(inverted);
    EXPECT_EQ(liveBuffers(), unrotated + 1);
    EXPECT_EQ(litDisplays(*session).at(0).orientation.rotate, "inverted");

    // Turned sideways, xrandr resizes the screen first (its buffer is the
    // first made) and puts the old size back after the refusal.
    turn(Orientation{});
    session->sim().command("fault create_dumb_nth 2");
    EXPECT_FALSE(xrandr({"--rotate", "left"}).succeeded());
    std::vector<Placement> lit = litDisplays(*session);
    ASSERT_EQ(lit.size(), 1u);
    EXPECT_EQ(lit[0].width, 1024);
    EXPECT_EQ(lit[0].orientation.rotate, "normal");
    drawAndCapture(Orientation{});

    const std::string log = session->log();
    const std::string refused = "no 1024x768 shadow buffer for its rotation or transform";
    size_t first = log.find(refused);
    ASSERT_NE(first, std::string::npos) << log;
    size_t second = log.find(refused, first + 1);
    ASSERT_NE(second, std::string::npos) << log;
    EXPECT_EQ(log.find(refused, second + 1), std::string::npos) << log;
}

// The panel's own pair cannot be had when it turns: it shows its shadow,
// without tear-freedom, and says so.
TEST_F(Rotation, WithoutAPairATurnedPanelShowsItsShadow)
{
    startLit(Testbed());
    ASSERT_FALSE(HasFatalFailure());
    // xrandr switches the panel off, resizes the screen (the first buffer
    // made), and turns the panel (its shadow, then its pair).
    session->sim().command("fault create_dumb_nth 3");
    const Orientation left{"left"};
    turn(left);
    EXPECT_NE(session->log().find("no 1024x768 scanout buffers for CRTC"), std::string::npos);
    long flips = session->sim().counter("flips_requested");
    drawAndCapture(left);
    EXPECT_EQ(session->sim().counter("flips_requested"), flips);
}

// The screen as pixman filters it with the transform and filter that
// xrandr --scale sets: bilinear, both axes scaled by the factor.
Image scaledDown(const Image &root, int factor, int width, int height)
{
    std::vector<uint32_t> source(root.pixels), shown(static_cast<size_t>(width) * height);
    pixman_image_t *src = pixman_image_create_bits(PIXMAN_x8r8g8b8, root.width, root.height,
                                                   source.data(), root.width * 4);
    pixman_image_t *dst =
        pixman_image_create_bits(PIXMAN_x8r8g8b8, width, height, shown.data(), width * 4);
    pixman_transform_t scale;
    pixman_transform_init_scale(&scale, pixman_int_to_fixed(factor), pixman_int_to_fixed(factor));
    pixman_image_set_transform(src, &scale);
    pixman_image_set_filter(src, PIXMAN_FILTER_BILINEAR, nullptr, 0);
    pixman_image_composite32(PIXMAN_OP_SRC, src, nullptr, dst, 0, 0, 0, 0, 0, 0, width, height);
    pixman_image_unref(src);
    pixman_image_unref(dst);
    return Image{width, height, shown};
}

TEST_F(Rotation, AScaledOutputShowsTheScreenAsTheServerFiltersIt)
{
    startLit(Testbed());
    ASSERT_FALSE(HasFatalFailure());
    CommandResult scaled = xrandr({"--scale", "2x2"});
    ASSERT_TRUE(scaled.succeeded()) << scaled.describe();
    drawAcrossDisplays(*session, 11);
    session->sim().settle(3);
    Image root = session->xwdRoot();
    ASSERT_EQ(root.width, 2048);
    ASSERT_EQ(root.height, 1536);
    std::optional<PixelDifference> difference = session->awaitPanel(scaledDown(root, 2, 1024, 768));
    EXPECT_FALSE(difference) << difference->describe();

    ASSERT_TRUE(xrandr({"--scale", "1x1"}).succeeded());
    drawAndCapture(Orientation{});
}

// A portrait panel set up in xorg.conf.d, without TearFree: the CRTC scans
// the shadow, as modesetting's does.
TEST_F(Rotation, AMonitorSectionTurnsThePanelFromTheStart)
{
    TempDir config;
    writeFile(config.path() + "/10-portrait.conf", "Section \"Monitor\"\n"
                                                   "    Identifier \"eDP-1\"\n"
                                                   "    Option \"Rotate\" \"left\"\n"
                                                   "EndSection\n");
    startLit(Testbed().configDir(config.path()).option("TearFree", "off"));
    ASSERT_FALSE(HasFatalFailure());
    std::vector<Placement> lit = litDisplays(*session);
    ASSERT_EQ(lit.size(), 1u);
    EXPECT_EQ(lit[0].width, 768);
    EXPECT_EQ(lit[0].height, 1024);
    EXPECT_EQ(lit[0].orientation.rotate, "left");
    drawAndCapture(lit[0].orientation);
    EXPECT_EQ(session->sim().counter("flips_requested"), 0);
}

} // namespace
