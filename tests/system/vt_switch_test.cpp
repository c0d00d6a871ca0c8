// SPDX-License-Identifier: MIT
// VT switches on the real Xorg, which runs on a VT of the simulated console:
// the console is switched away and back as a user's Ctrl+Alt+Fn does it.
// While away the displays are another client's (black); back, every
// display shows its rectangle of the screen (xwd -root) with the hardware
// cursor at the pointer, what clients drew meanwhile included. The stock
// modesetting driver goes through the same switches (peer proof).
#include "artifacts.h"
#include "displays.h"
#include "eventually.h"
#include "xcb_client.h"

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <atomic>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace qeltest;

namespace {

// The VT the console shows while the server's is away: a getty's.
constexpr int awayVt = 1;

// A panel, or a panel and an HDMI monitor side by side, each on a CRTC of
// its own; GE_SETTINGS go into the [device] section.
std::string device(int outputs, const std::string &geSettings = "")
{
    std::string text = "[device]\n" + geSettings + "[crtc]\n";
    if (outputs > 1)
        text += "[crtc]\n";
    text += "[connector]\ntype = eDP\nmodes = 1024x768@60\n";
    if (outputs > 1)
        text += "[connector]\ntype = HDMI-A\nmodes = 800x600@60\n";
    return text;
}

// The pointer's cursor: an opaque square, so that a display shows exactly
// the screen with that square over it.
constexpr int cursorSize = 16;
constexpr uint32_t cursorColour = 0xff00ff;
constexpr int pointerX = 100, pointerY = 90;

void defineSquareCursor(XcbClient &x)
{
    xcb_connection_t *c = x.connection();
    xcb_pixmap_t bits = xcb_generate_id(c);
    xcb_create_pixmap(c, 1, bits, x.root(), cursorSize, cursorSize);
    xcb_gcontext_t gc = xcb_generate_id(c);
    const uint32_t one = 1;
    xcb_create_gc(c, gc, bits, XCB_GC_FOREGROUND, &one);
    const xcb_rectangle_t all{0, 0, cursorSize, cursorSize};
    xcb_poly_fill_rectangle(c, bits, gc, 1, &all);
    xcb_cursor_t cursor = xcb_generate_id(c);
    xcb_create_cursor(c, cursor, bits, bits, 0xffff, 0, 0xffff, 0, 0, 0, 0, 0);
    xcb_change_window_attributes(c, x.root(), XCB_CW_CURSOR, &cursor);
    xcb_warp_pointer(c, XCB_NONE, x.root(), 0, 0, 0, 0, pointerX, pointerY);
    xcb_free_gc(c, gc);
    xcb_free_pixmap(c, bits);
    x.sync();
}

// What a display placed at P shows: its rectangle of the screen, with the
// cursor's square at the pointer when the pointer is on it.
Image displayPicture(const Image &root, const Placement &p)
{
    Image picture = crop(root, p.x, p.y, p.width, p.height);
    for (int y = pointerY - p.y; y < pointerY - p.y + cursorSize; ++y)
        for (int x = pointerX - p.x; x < pointerX - p.x + cursorSize; ++x)
            if (x >= 0 && y >= 0 && x < p.width && y < p.height)
                picture.pixels[static_cast<size_t>(y) * p.width + x] = cursorColour;
    return picture;
}

struct Case {
    const char *name;
    std::string driver;
    int outputs;
    std::string rotate = "normal"; // the first display's, as xrandr names it
};

void PrintTo(const Case &c, std::ostream *out)
{
    *out << c.name;
}

class VtSwitch : public SessionTest {
protected:
    void startWith(const std::string &driver, int outputs, const std::string &geSettings = "")
    {
        Testbed testbed;
        testbed.driver(driver).simDescription(device(outputs, geSettings));
        if (driver == "modesetting")
            testbed.option("AccelMethod", "none");
        start(testbed);
        if (HasFatalFailure())
            return;
        serverVt = session->sim().vt().server;
        ASSERT_NE(serverVt, 0) << "the server took no VT";
        ASSERT_EQ(session->sim().vt().active, serverVt);
        // The server lights the displays once its VT is active, after it
        // began to accept clients.
        ASSERT_TRUE(eventually([&] { return litDisplays(*session).size() == size_t(outputs); }));
    }

    // Switches to another VT: the server has released its own, and the
    // other client shows black on every display.
    void leave()
    {
        SimVt vt = session->switchVt(awayVt);
        ASSERT_EQ(vt.active, awayVt);
        ASSERT_EQ(vt.server, serverVt);
    }

    // Back to the server's VT; once a client's request has been answered,
    // the server has been through EnterVT.
    void enter()
    {
        ASSERT_EQ(session->switchVt(serverVt).active, serverVt);
        XcbClient(session->display()).sync();
    }

    void expectDisplaysShowTheScreen()
    {
        std::vector<Placement> lit = litDisplays(*session);
        ASSERT_FALSE(lit.empty());
        session->sim().settle(3);
        Image root = session->xwdRoot();
        for (const Placement &p : lit) {
            SCOPED_TRACE(p.output + " on CRTC " + std::to_string(p.crtc));
            std::optional<PixelDifference> difference =
                session->awaitPanel(turnedFor(displayPicture(root, p), p.orientation), p.crtc);
            EXPECT_FALSE(difference) << difference->describe();
        }
    }

    void expectDisplaysBlack(int crtcs)
    {
        for (int i = 0; i < crtcs; ++i) {
            Image shown = session->capturePanel(i);
            Image black{shown.width, shown.height, std::vector<uint32_t>(shown.pixels.size(), 0)};
            EXPECT_FALSE(compareImages(black, shown)) << "CRTC " << i << " while away";
        }
    }

    void xrandr(const std::vector<std::string> &args, bool succeeds)
    {
        std::vector<std::string> argv{"xrandr"};
        argv.insert(argv.end(), args.begin(), args.end());
        CommandResult result = session->run(argv);
        EXPECT_EQ(result.succeeded(), succeeds) << result.describe();
        ASSERT_TRUE(session->server().running()) << "the server ended on xrandr";
    }

    // Nothing qel said went wrong: no refused master, mode set or flip.
    void expectNoQelTrouble()
    {
        std::istringstream log(session->log());
        for (std::string line; std::getline(log, line);)
            EXPECT_TRUE(line.find("(EE) QEL") == std::string::npos &&
                        line.find("(WW) QEL") == std::string::npos)
                << line;
    }

    long counter(const std::string &name) const { return session->sim().counter(name); }

    int serverVt = 0;
};

class Scenario : public VtSwitch, public ::testing::WithParamInterface<Case> {};

INSTANTIATE_TEST_SUITE_P(Drivers, Scenario,
                         ::testing::Values(Case{"QelOneDisplay", "qel", 1},
                                           Case{"QelTwoDisplays", "qel", 2},
                                           Case{"QelOneDisplayTurned", "qel", 1, "left"},
                                           Case{"ModesettingTwoDisplays", "modesetting", 2}),
                         [](const ::testing::TestParamInfo<Case> &info) {
                             return std::string(info.param.name);
                         });

// Drawn while away: a window mapped (its background is painted when the
// return exposes it), a pixmap filled (copied to the screen after the
// return) and a new root background; the other client's black in between.
TEST_P(Scenario, BackFromAnotherVtEveryDisplayShowsTheScreenWithWhatWasDrawnMeanwhile)
{
    startWith(GetParam().driver, GetParam().outputs);
    ASSERT_FALSE(HasFatalFailure());
    if (GetParam().rotate != "normal")
        xrandr({"--output", "eDP-1", "--rotate", GetParam().rotate}, true);
    XcbClient x(session->display());
    drawAcrossDisplays(*session, 7);
    defineSquareCursor(x);
    expectDisplaysShowTheScreen();

    leave();
    ASSERT_FALSE(HasFatalFailure());
    expectDisplaysBlack(GetParam().outputs);
    xcb_connection_t *c = x.connection();
    const uint32_t rootBackground = 0x336600, windowBackground = 0x00c0ff, pixmapFill = 0xc03010;
    xcb_change_window_attributes(c, x.root(), XCB_CW_BACK_PIXEL, &rootBackground);
    xcb_clear_area(c, 0, x.root(), 0, 0, 0, 0);
    xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, x.root(), 300, 200, 400, 300, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL,
                      &windowBackground);
    xcb_map_window(c, window);
    xcb_pixmap_t pixmap = xcb_generate_id(c);
    xcb_create_pixmap(c, 24, pixmap, x.root(), 200, 100);
    xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, pixmap, XCB_GC_FOREGROUND, &pixmapFill);
    const xcb_rectangle_t all{0, 0, 200, 100};
    xcb_poly_fill_rectangle(c, pixmap, gc, 1, &all);
    x.sync();
    xrandr({}, true);

    enter();
    ASSERT_FALSE(HasFatalFailure());
    xcb_copy_area(c, pixmap, x.root(), gc, 0, 0, 20, 600, 200, 100);
    x.sync();
    expectDisplaysShowTheScreen();
    Image root = session->xwdRoot();
    EXPECT_EQ(root.at(500, 350), windowBackground);
    EXPECT_EQ(root.at(120, 650), pixmapFill);
    EXPECT_EQ(root.at(700, 50), rootBackground);
    if (GetParam().driver == "qel")
        expectNoQelTrouble();
}

// A client draws without pause (TearFree flips in flight, GE work running
// on a GE that takes its time) while the console goes away and back twenty
// times: the GE has finished when the server releases its VT, and the
// server stays up, leaves no flip pending and holds exactly the buffers it
// held before.
TEST_F(VtSwitch, TwentySwitchesWhileAClientDrawsLeakNothingAndLeaveNoFlipPending)
{
    startWith("qel", 2, "ge = thread\nge_delay_us = 3000\n");
    ASSERT_FALSE(HasFatalFailure());
    session->sim().settle(3);
    const long buffers = counter("live_dumb_buffers"), framebuffers = counter("live_framebuffers");
    std::atomic<bool> drawing{true};
    std::thread painter([&] {
        XcbClient x(session->display());
        for (uint32_t i = 0; drawing; ++i) {
            x.fill({int(i * 37 % 1700), int(i * 53 % 700), 120, 80}, (i * 0x10305) & 0xffffff);
            if (i % 64 == 0)
                x.sync();
        }
        x.sync();
    });
    for (int i = 0; i < 20 && !HasFatalFailure(); ++i) {
        SCOPED_TRACE("switch " + std::to_string(i + 1));
        leave();
        EXPECT_EQ(counter("ge_batches_done") + counter("ge_rejected_submits"),
                  counter("ge_submits"))
            << "the GE is still busy after the release";
        if (!HasFatalFailure())
            enter();
    }
    drawing = false;
    painter.join();
    ASSERT_TRUE(session->server().running());
    session->sim().settle(3);
    EXPECT_EQ(counter("live_dumb_buffers"), buffers);
    EXPECT_EQ(counter("live_framebuffers"), framebuffers);
    EXPECT_EQ(counter("flips_requested"), counter("flips_completed") + counter("flips_rejected"));
    expectEveryDisplayShowsTheScreen(*session);
    expectNoQelTrouble();
}

// xrandr while away gets the server's answers: the query lists what the
// server knew, a mode set is refused (another client has the displays), a
// new screen size is taken and shown on the return.
TEST_F(VtSwitch, XrandrWhileAwayIsAnsweredAndTheReturnShowsTheNewSize)
{
    startWith("qel", 2);
    ASSERT_FALSE(HasFatalFailure());
    leave();
    ASSERT_FALSE(HasFatalFailure());
    xrandr({}, true);
    xrandr({"--output", "eDP-1", "--off"}, false);
    xrandr({"--fb", "2048x1024"}, true);
    enter();
    ASSERT_FALSE(HasFatalFailure());
    drawAcrossDisplays(*session, 3);
    expectEveryDisplayShowsTheScreen(*session);
    EXPECT_EQ(XcbClient(session->display()).rootWidth(), 2048);
}

} // namespace
