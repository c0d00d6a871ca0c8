// SPDX-License-Identifier: MIT
// Several displays on the real Xorg with the default options (Accel and
// TearFree on): whatever the layout (side by side, stacked, cloned,
// different modes, overlapping, one display rotated, a CRTC at an offset of
// a larger screen, panning, a screen wider than the GE addresses), every
// lit CRTC shows its own rectangle of the screen, and one display's trouble (switched off,
// refused flips, no buffers of its own) leaves the others updating.
#include "artifacts.h"
#include "displays.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

using namespace qeltest;

namespace {

const char *const outputNames[] = {"eDP", "HDMI-A", "DP"};

// A board with one CRTC per connected output, each output listing modes.
std::string device(int outputs, const std::string &modes)
{
    std::string text = "[device]\n";
    for (int i = 0; i < outputs; ++i)
        text += "[crtc]\n";
    for (int i = 0; i < outputs; ++i)
        text += std::string("[connector]\ntype = ") + outputNames[i] +
                "\ntype_id = 1\nstatus = connected\nmodes = " + modes + "\n";
    return text;
}

const std::string defaultModes = "1024x768@60 800x600@60 2048x1536@60";

struct Layout {
    const char *name;
    int outputs;
    std::string modes;
    std::vector<std::string> xrandr; // arguments of one xrandr run after start
    std::vector<std::pair<std::string, std::string>> options;
    std::string says = {}; // in the server's log
};

void PrintTo(const Layout &layout, std::ostream *out)
{
    *out << layout.name;
}

class MultiHead : public SessionTest {
protected:
    void startWith(int outputs, const std::string &modes,
                   const std::vector<std::pair<std::string, std::string>> &options = {})
    {
        Testbed testbed;
        testbed.simDescription(device(outputs, modes));
        for (const auto &[name, value] : options)
            testbed.option(name, value);
        start(testbed);
    }

    void xrandr(const std::vector<std::string> &args)
    {
        std::vector<std::string> argv{"xrandr"};
        argv.insert(argv.end(), args.begin(), args.end());
        CommandResult result = session->run(argv);
        ASSERT_TRUE(result.succeeded()) << result.describe();
    }

    std::vector<Placement> placements() { return litDisplays(*session); }

    void draw(uint32_t seed) { drawAcrossDisplays(*session, seed); }

    void expectEveryDisplayShowsTheScreen() { qeltest::expectEveryDisplayShowsTheScreen(*session); }

    long counter(const std::string &name) const { return session->sim().counter(name); }
};

class Layouts : public MultiHead, public ::testing::WithParamInterface<Layout> {};

// Drawn before the layout changes and after: every display shows the
// screen both times (what was drawn where no display looked appears once
// one does).
TEST_P(Layouts, EveryDisplayShowsItsPartOfTheScreen)
{
    const Layout &layout = GetParam();
    startWith(layout.outputs, layout.modes, layout.options);
    ASSERT_FALSE(HasFatalFailure());
    draw(1);
    if (!layout.xrandr.empty())
        xrandr(layout.xrandr);
    expectEveryDisplayShowsTheScreen();
    draw(2);
    expectEveryDisplayShowsTheScreen();
    EXPECT_NE(session->log().find(layout.says), std::string::npos) << layout.says;
}

const std::string wideModes = "1920x1080@60 1024x768@60";

const Layout layouts[] = {
    {"SideBySide", 2, defaultModes, {}, {}},
    {"SideBySideWithoutTearFree", 2, defaultModes, {}, {{"TearFree", "off"}}},
    {"Stacked", 2, defaultModes, {"--output", "HDMI-A-1", "--below", "eDP-1"}, {}},
    {"Cloned", 2, defaultModes, {"--output", "HDMI-A-1", "--same-as", "eDP-1"}, {}},
    {"DifferentModes", 2, defaultModes, {"--output", "HDMI-A-1", "--mode", "800x600"}, {}},
    {"Overlapping",
     2,
     defaultModes,
     {"--output", "HDMI-A-1", "--mode", "800x600", "--pos", "500x300"},
     {}},
    {"ThreeDisplays", 3, defaultModes, {}, {}},
    {"OneRotated", 2, defaultModes, {"--output", "HDMI-A-1", "--rotate", "left"}, {}},
    {"OneRotatedWithoutTearFree",
     2,
     defaultModes,
     {"--output", "HDMI-A-1", "--rotate", "right", "--reflect", "x"},
     {{"TearFree", "off"}}},
    {"OffsetInALargerScreen",
     2,
     defaultModes,
     {"--fb", "2048x1536", "--output", "HDMI-A-1", "--pos", "1024x768"},
     {}},
    {"Panning",
     1,
     defaultModes,
     {"--fb", "2048x1536", "--output", "eDP-1", "--panning", "1024x768+600+500"},
     {}},
    {"WiderThanTheGe",
     2,
     wideModes,
     {},
     {},
     "is wider than the GE can address (8192 bytes a row): acceleration of "
     "the screen and TearFree off while it is this wide"},
};

INSTANTIATE_TEST_SUITE_P(Layouts, Layouts, ::testing::ValuesIn(layouts),
                         [](const ::testing::TestParamInfo<Layout> &info) {
                             return std::string(info.param.name);
                         });

class TwoDisplays : public MultiHead {
protected:
    void SetUp() override
    {
        startWith(2, defaultModes);
        if (HasFatalFailure())
            return;
        ASSERT_EQ(placements().size(), 2u);
    }
};

// The panel switched off: the monitor goes on updating, and the panel's
// own buffers are given up until it is lit again.
TEST_F(TwoDisplays, SwitchingOneOffLeavesTheOtherUpdating)
{
    xrandr({"--output", "eDP-1", "--off"});
    ASSERT_EQ(placements().size(), 1u);
    EXPECT_FALSE(session->sim().crtcs().at(0).active);
    EXPECT_EQ(counter("live_framebuffers"), 2);
    long flips = counter("flips_completed_crtc1");
    draw(3);
    expectEveryDisplayShowsTheScreen();
    EXPECT_GT(counter("flips_completed_crtc1"), flips);

    xrandr({"--output", "eDP-1", "--auto", "--left-of", "HDMI-A-1"});
    ASSERT_EQ(placements().size(), 2u);
    expectEveryDisplayShowsTheScreen();
    draw(4);
    expectEveryDisplayShowsTheScreen();
}

// Flips refused on the panel's CRTC only: the panel still shows every
// drawing (through the buffer on screen), the monitor keeps flipping.
TEST_F(TwoDisplays, RefusedFlipsOnOneCrtcLeaveTheOtherFlipping)
{
    session->sim().settle(3);
    session->sim().command("fault flip_crtc0 1000000");
    long panelFlips = counter("flips_completed_crtc0");
    long monitorFlips = counter("flips_completed_crtc1");
    for (uint32_t seed = 5; seed < 8; ++seed) {
        draw(seed);
        expectEveryDisplayShowsTheScreen();
    }
    EXPECT_EQ(counter("flips_completed_crtc0"), panelFlips);
    EXPECT_GT(counter("flips_completed_crtc1"), monitorFlips);
}

// The monitor's new buffers cannot be allocated: it shows the screen
// without tear-freedom, says so, and the panel is not affected.
TEST_F(TwoDisplays, ADisplayWithoutBuffersOfItsOwnStillShowsTheScreen)
{
    session->sim().command("fault create_dumb_nth 1");
    // The screen keeps its size: the first buffer made is the monitor's.
    xrandr({"--fb", "2048x768", "--output", "HDMI-A-1", "--mode", "800x600"});
    EXPECT_NE(session->log().find("no 800x600 scanout buffers for CRTC"), std::string::npos);
    draw(9);
    expectEveryDisplayShowsTheScreen();
}

} // namespace
