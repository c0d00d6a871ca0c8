// SPDX-License-Identifier: MIT
// qel's pre-initialisation on the real Xorg: which device it opens, the
// outputs and modes the server learns from it, and the fallback mode of a
// panel without modes. (A node that cannot be opened never reaches the
// driver here: the server's platform bus opens it first and drops it.)
#include "artifacts.h"
#include "eventually.h"

#include <gtest/gtest.h>

#include <regex>

using namespace qeltest;

namespace {

const char *const threeOutputDevice = R"([device]
[crtc]
[crtc]
[connector]
type = eDP
type_id = 1
status = connected
mm = 271x203
modes = 1024x768@60 800x600@60
[connector]
type = HDMI-A
type_id = 1
status = disconnected
modes = 1280x1024@60
[connector]
type = DSI
type_id = 2
status = connected
mm = 154x86
modes = 640x480@60
)";

const char *const modelessPanel = R"([device]
[crtc]
[connector]
type = DSI
type_id = 1
status = connected
mm = 154x86
modes =
)";

std::size_t findOrEnd(const std::string &text, const std::string &what)
{
    std::size_t at = text.find(what);
    return at == std::string::npos ? text.size() : at;
}

class QelModes : public SessionTest {};

TEST_F(QelModes, OutputsAppearInTheKernelsOrderWithTheirModes)
{
    start(Testbed().simDescription(threeOutputDevice));
    ASSERT_FALSE(HasFatalFailure());

    const std::string log = session->log();
    EXPECT_TRUE(std::regex_search(
        log, std::regex(R"(\(II\) QEL\(0\): Using DRM device /dev/dri/card0 \(fd \d+\))")))
        << log;
    EXPECT_EQ(log.find("(EE) QEL"), std::string::npos) << log;

    CommandResult query = session->run({"xrandr", "--query"});
    ASSERT_TRUE(query.succeeded()) << query.describe();
    const std::string &out = query.out;
    std::size_t edp = findOrEnd(out, "eDP-1 connected");
    std::size_t hdmi = findOrEnd(out, "HDMI-A-1 disconnected");
    std::size_t dsi = findOrEnd(out, "DSI-2 connected");
    ASSERT_LT(edp, out.size()) << out;
    ASSERT_LT(hdmi, out.size()) << out;
    ASSERT_LT(dsi, out.size()) << out;
    EXPECT_LT(edp, hdmi) << out;
    EXPECT_LT(hdmi, dsi) << out;

    // eDP-1's two modes, preferred first, and the physical size.
    std::string edpBlock = out.substr(edp, hdmi - edp);
    EXPECT_TRUE(std::regex_search(edpBlock, std::regex(R"(271mm x 203mm)"))) << edpBlock;
    EXPECT_TRUE(std::regex_search(edpBlock, std::regex(R"(\n\s+1024x768\s+\d+\.\d+\*?\s?\+)")))
        << edpBlock;
    EXPECT_TRUE(std::regex_search(edpBlock, std::regex(R"(\n\s+800x600\s)"))) << edpBlock;
}

// The kernel cannot be asked for the connectors: every output keeps what
// was known of it, so the disconnected one is not offered the fallback mode.
TEST_F(QelModes, DetectionThatCannotFetchAConnectorKeepsTheOutputsState)
{
    start(Testbed().simDescription(threeOutputDevice));
    ASSERT_FALSE(HasFatalFailure());

    session->sim().command("fault getconnector 1000");
    CommandResult query = session->run({"xrandr", "--query"});
    ASSERT_TRUE(query.succeeded()) << query.describe();
    const std::string &out = query.out;
    std::size_t hdmi = out.find("HDMI-A-1 disconnected");
    ASSERT_NE(hdmi, std::string::npos) << out;
    std::size_t dsi = findOrEnd(out, "DSI-2 connected");
    ASSERT_LT(dsi, out.size()) << out;
    EXPECT_EQ(out.substr(hdmi, dsi - hdmi).find("800x480"), std::string::npos) << out;
    EXPECT_NE(out.find("eDP-1 connected"), std::string::npos) << out;
}

TEST_F(QelModes, APanelWithoutModesGetsOnly800x480At60)
{
    start(Testbed().simDescription(modelessPanel));
    ASSERT_FALSE(HasFatalFailure());

    CommandResult query = session->run({"xrandr", "--query"});
    ASSERT_TRUE(query.succeeded()) << query.describe();
    const std::string &out = query.out;
    std::size_t dsi = out.find("DSI-1 connected");
    ASSERT_NE(dsi, std::string::npos) << out;
    std::string block = out.substr(dsi);

    std::smatch modeLines;
    std::regex modeLine(R"(\n\s+(\d+x\d+)\s+(\d+\.\d+)(\*?)\s?(\+?))");
    std::vector<std::string> modes;
    for (auto it = std::sregex_iterator(block.begin(), block.end(), modeLine);
         it != std::sregex_iterator(); ++it)
        modes.push_back((*it)[1].str() + " " + (*it)[2].str() + (*it)[4].str());
    ASSERT_EQ(modes.size(), 1u) << out;
    EXPECT_TRUE(std::regex_match(modes[0], std::regex(R"(800x480 (59\.\d+|60\.\d+)\+)")))
        << modes[0];
    EXPECT_TRUE(std::regex_search(block, std::regex(R"(154mm x 86mm)"))) << block;

    // The screen takes the one mode, and the CRTC shows it.
    EXPECT_TRUE(eventually([&] { return session->sim().crtcs().at(0).active; }));
    CommandResult info = session->run({"xdpyinfo"});
    EXPECT_NE(info.out.find("dimensions:    800x480 pixels"), std::string::npos) << info.out;
}

} // namespace
