// SPDX-License-Identifier: MIT
// The control protocol, in process and on its socket: replies, captures
// and the figures a test reads.
#include "sim_fixture.h"

#include "control_socket.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sys/socket.h>
#include <sys/un.h>

namespace qelsim::test {
namespace {

using Control = SimTest;

struct PngSize {
    uint32_t width = 0, height = 0;
    uint8_t colorType = 0;
};

// Width, height and colour type from the IHDR chunk.
PngSize pngSize(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in), {}};
    PngSize s;
    if (bytes.size() < 26 || std::memcmp(bytes.data() + 1, "PNG", 3) != 0)
        return s;
    auto be32 = [&](size_t at) {
        return uint32_t{bytes[at]} << 24 | uint32_t{bytes[at + 1]} << 16 |
               uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
    };
    return {be32(16), be32(20), bytes[25]};
}

std::string tempPath(const char *name)
{
    return std::string("/tmp/qelsim-test-") + std::to_string(getpid()) + "-" + name;
}

TEST_F(Control, UnknownAndMalformedRequestsAreErrors)
{
    EXPECT_EQ(command("frobnicate"), "error unknown request: frobnicate\n");
    EXPECT_EQ(command(""), "error empty request\n");
    EXPECT_FALSE(succeeds("capture x y"));
    EXPECT_FALSE(succeeds("vblank-mode 30hz"));
}

TEST_F(Control, CountersNameEveryFigureAndEachIoctlKind)
{
    createDumb(8, 8);
    const std::string reply = command("counters");
    for (const char *key :
         {"live_dumb_buffers=1", "dumb_buffers_created=1", "live_framebuffers=0", "ge_submits=0",
          "ge_ops=0", "ge_rejected_ops=0", "ge_pixels_filled=0", "ge_pixels_copied=0",
          "flips_requested=0", "flips_completed=0", "flips_rejected=0", "vblanks=0",
          "setcrtc_calls=0", "ioctl_MODE_CREATE_DUMB=1"})
        EXPECT_NE(reply.find(std::string(key) + "\n"), std::string::npos) << key;
}

TEST_F(Control, CaptureShowsTheFramebufferAtTheCrtcOffset)
{
    const Dumb b = createDumb(1100, 800);
    uint32_t *pixels = mapDumb(b);
    const uint32_t stride = b.pitch / 4;
    pixels[10 * stride + 20] = 0x00abcdef; // lands at (0,0) of the panel
    const uint32_t fbId = addFb(b, 1100, 800);
    drmModeConnector *c = drmModeGetConnector(fd, connectorId());
    uint32_t conn = c->connector_id;
    ASSERT_EQ(drmModeSetCrtc(fd, crtcId(), fbId, 20, 10, &conn, 1, &c->modes[0]), 0);
    drmModeFreeConnector(c);

    const std::string png = tempPath("capture.png");
    ASSERT_TRUE(succeeds("capture 0 " + png));
    const PngSize size = pngSize(png);
    EXPECT_EQ(size.width, 1024u);
    EXPECT_EQ(size.height, 768u);
    EXPECT_EQ(size.colorType, 2); // RGB
    std::remove(png.c_str());

    const std::string whole = tempPath("fb.png");
    ASSERT_TRUE(succeeds("fb " + std::to_string(fbId) + " " + whole));
    EXPECT_EQ(pngSize(whole).width, 1100u);
    std::remove(whole.c_str());
    munmap(pixels, b.size);
}

TEST_F(Control, ACrtcThatIsOffCapturesBlackAtThePanelSize)
{
    const std::string png = tempPath("off.png");
    ASSERT_TRUE(succeeds("capture 0 " + png));
    EXPECT_EQ(pngSize(png).width, 1024u);
    std::remove(png.c_str());
    EXPECT_FALSE(succeeds("capture 5 " + png));
}

TEST_F(Control, SettleNeedsQuietVblanks)
{
    lightPanel();
    EXPECT_FALSE(succeeds("settle 2")); // a mode was just set
    ASSERT_TRUE(succeeds("vblank 2"));
    EXPECT_TRUE(succeeds("settle 2"));
}

TEST_F(Control, TheSocketAnswersRequestsLineByLine)
{
    const std::string path = tempPath("control.sock");
    ASSERT_TRUE(serveControlSocket(path));
    const int s = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, path.c_str());
    ASSERT_EQ(connect(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    const std::string requests = "crtcs\nvblank 1\n";
    ASSERT_EQ(send(s, requests.data(), requests.size(), 0), static_cast<ssize_t>(requests.size()));
    std::string replies;
    char chunk[512];
    while (replies.find("ok\nok\n") == std::string::npos) {
        const ssize_t n = recv(s, chunk, sizeof chunk, 0);
        ASSERT_GT(n, 0);
        replies.append(chunk, static_cast<size_t>(n));
    }
    EXPECT_EQ(replies.rfind("crtc index=0 id=", 0), 0u) << replies;
    close(s);
    std::remove(path.c_str());
}

} // namespace
} // namespace qelsim::test
