// SPDX-License-Identifier: MIT
// The device description text: what it may say, and what it may not.
#include "description.h"
#include "qelsim.h"

#include <cerrno>
#include <gtest/gtest.h>

namespace qelsim::test {
namespace {

TEST(Description, SectionsRepeatAndKeysApplyToTheLastOne)
{
    DeviceDescription d;
    std::string error;
    ASSERT_TRUE(parseDescription(R"(
# two heads
[device]
nodes = /dev/dri/card0 /dev/dri/card1
max_size = 8192x4096
pitch_align = 256
vblank = manual
ge = thread
ge_delay_us = 500
[crtc]
gamma_size = 1024
cursor = 128x32
[crtc]
cursor = none
[crtc]
[connector]
type = HDMI-A
type_id = 3
status = unknown
mm = 600x340
modes = 1920x1080@50 1280x720
edid = no
)",
                                 d, error))
        << error;
    EXPECT_EQ(d.nodes.size(), 2u);
    EXPECT_EQ(d.maxWidth, 8192u);
    EXPECT_EQ(d.maxHeight, 4096u);
    EXPECT_EQ(d.pitchAlign, 256u);
    EXPECT_TRUE(d.manualVblank);
    EXPECT_TRUE(d.threadedGe);
    EXPECT_EQ(d.geDelayUs, 500u);
    ASSERT_EQ(d.crtcs.size(), 3u);
    EXPECT_EQ(d.crtcs[0].gammaSize, 1024u);
    EXPECT_EQ(d.crtcs[1].gammaSize, 256u);
    EXPECT_EQ(d.crtcs[0].cursorWidth, 128u);
    EXPECT_EQ(d.crtcs[0].cursorHeight, 32u);
    EXPECT_EQ(d.crtcs[1].cursorWidth, 0u);
    EXPECT_EQ(d.crtcs[2].cursorWidth, 64u);
    EXPECT_EQ(d.crtcs[2].cursorHeight, 64u);
    ASSERT_EQ(d.connectors.size(), 1u);
    const ConnectorDescription &c = d.connectors[0];
    EXPECT_EQ(c.type, 11u);
    EXPECT_EQ(c.typeId, 3u);
    EXPECT_EQ(c.status, 3u);
    EXPECT_EQ(c.mmWidth, 600u);
    ASSERT_EQ(c.modes.size(), 2u);
    EXPECT_EQ(c.modes[0].refresh, 50u);
    EXPECT_EQ(c.modes[1].refresh, 60u);
    EXPECT_FALSE(c.edid);
}

TEST(Description, MalformedLinesAreReportedByNumber)
{
    const struct {
        const char *text, *error;
    } bad[] = {
        {"[device]\nvblank = 30hz\n", "line 2: vblank = 30hz"},
        {"[gpu]\n", "line 1: [gpu]"},
        {"gamma_size = 3\n", "line 1: gamma_size = 3"},
        {"[connector]\nmodes = 1024x\n", "line 2: modes = 1024x"},
        {"[connector]\ntype = Hologram\n", "line 2: type = Hologram"},
        {"[device]\nmax_size = big\n", "line 2: max_size = big"},
        {"[device]\ndriver = two words\n", "line 2: driver = two words"},
        {"[crtc]\ncursor = 0x64\n", "line 2: cursor = 0x64"},
    };
    for (const auto &b : bad) {
        DeviceDescription d;
        std::string error;
        EXPECT_FALSE(parseDescription(b.text, d, error)) << b.text;
        EXPECT_EQ(error, b.error);
    }
}

TEST(Description, AnEmptyModeListIsAllowed)
{
    DeviceDescription d;
    std::string error;
    ASSERT_TRUE(parseDescription("[connector]\nmodes =\n", d, error));
    EXPECT_TRUE(d.connectors[0].modes.empty());
}

TEST(Description, ConfigureRefusesATextThatDoesNotParse)
{
    errno = 0;
    EXPECT_EQ(qelsim_configure("[device]\npitch_align = 0\n"), -1);
    EXPECT_EQ(errno, EINVAL);
}

} // namespace
} // namespace qelsim::test
