// SPDX-License-Identifier: MIT
#include "displays.h"

#include "xcb_client.h"

#include <gtest/gtest.h>

#include <optional>

namespace qeltest {

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
        std::optional<PixelDifference> difference = session.awaitPanel(
            turnedFor(crop(root, p.x, p.y, p.width, p.height), p.orientation), p.crtc);
        EXPECT_FALSE(difference) << difference->describe();
    }
}

} // namespace qeltest
