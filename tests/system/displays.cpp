// SPDX-License-Identifier: MIT
#include "displays.h"

#include "xcb_client.h"

#include <gtest/gtest.h>

#include <optional>
#include <regex>
#include <sstream>

namespace qeltest {

std::vector<Placement> litDisplays(const Session &session)
{
    static const std::regex header(
        R"(^(\S+) (?:dis)?connected (?:primary )?(\d+)x(\d+)\+(\d+)\+(\d+))");
    static const std::regex crtcLine(R"(^\s+CRTC:\s+(\d+))");
    CommandResult result = session.run({"xrandr", "--verbose"});
    std::vector<Placement> found;
    std::istringstream lines(result.out);
    std::optional<Placement> current;
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (std::regex_search(line, m, header)) {
            current = Placement{-1,
                                m[1].str(),
                                std::stoi(m[4].str()),
                                std::stoi(m[5].str()),
                                std::stoi(m[2].str()),
                                std::stoi(m[3].str())};
        } else if (current && std::regex_search(line, m, crtcLine)) {
            current->crtc = std::stoi(m[1].str());
            found.push_back(*current);
            current.reset();
        }
    }
    return found;
}

void drawAcrossDisplays(const Session &session, uint32_t seed)
{
    XcbClient x(session.display());
    int w = x.rootWidth(), h = x.rootHeight();
    x.fill({0, 0, w, h}, 0x102030 + seed);
    for (int i = 0; i < 12; ++i)
        x.fill({(i * 311 + int(seed)) % w, (i * 173) % h, 280, 150},
               (0x3f2a11 * (i + 1) + seed) & 0xffffff);
    x.copy({0, 0, w / 3, h / 3}, w / 2 - 40, h / 2 - 30);
    x.sync();
}

void expectEveryDisplayShowsTheScreen(const Session &session)
{
    std::vector<Placement> lit = litDisplays(session);
    ASSERT_FALSE(lit.empty());
    session.sim().settle(3);
    Image root = session.xwdRoot();
    for (const Placement &p : lit) {
        SCOPED_TRACE(p.output + " on CRTC " + std::to_string(p.crtc));
        std::optional<PixelDifference> difference =
            session.awaitPanel(crop(root, p.x, p.y, p.width, p.height), p.crtc);
        EXPECT_FALSE(difference) << difference->describe();
    }
}

} // namespace qeltest
