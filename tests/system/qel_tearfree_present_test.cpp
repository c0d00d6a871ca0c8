// SPDX-License-Identifier: MIT
// Tear-free presentation on the real Xorg with the default options (Accel
// and TearFree on): a client animates whole frames of bands that carry the
// frame number, and the simulator reads every buffer at the moment a flip
// puts it on screen. Nothing shown may mix two frames, on any display,
// flips come one per vblank at most, and once the client stops the panel
// equals the screen.
#include "artifacts.h"
#include "displays.h"
#include "eventually.h"
#include "xcb_client.h"

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <chrono>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

using namespace qeltest;

namespace {

constexpr int kWidth = 1024;
constexpr int kHeight = 768;
constexpr int kBands = 8;
constexpr int kBandHeight = kHeight / kBands;

// Frame f's colour: the frame number above a marker byte.
uint32_t frameColour(uint32_t frame)
{
    return (frame & 0xffffu) << 8 | 0x80u;
}

// The bands frame f paints: every fourth frame all of them, the others a
// third of them, so that what each buffer lacks changes from flip to flip.
bool paints(uint32_t frame, int band)
{
    return frame % 4 == 0 || static_cast<uint32_t>(band) % 3 == frame % 3;
}

// One probe in the middle of each band, away from the screen's centre, at
// the framebuffer's point that shows it: on a panel turned left, the
// screen's point (x, y) is the framebuffer's (y, kHeight - 1 - x).
std::string probeRequest(bool turnedLeft)
{
    std::string request = "flip-probes";
    for (int band = 0; band < kBands; ++band) {
        int x = 100, y = band * kBandHeight + kBandHeight / 2;
        request += turnedLeft ? " " + std::to_string(y) + "," + std::to_string(kHeight - 1 - x)
                              : " " + std::to_string(x) + "," + std::to_string(y);
    }
    return request;
}

using BandColours = std::vector<uint32_t>;

// Each frame is one PolyFillRectangle: the server may run its BlockHandler
// between any two requests of a client (its scheduler yields on a timer
// tick), so only a single request is a frame that no pass can split. The
// animator keeps what the screen's bands hold after each frame.
class Animator {
public:
    explicit Animator(XcbClient &x)
        : x_(x), gc_(xcb_generate_id(x.connection())), width_(static_cast<uint16_t>(x.rootWidth()))
    {
        uint32_t noExposures = 0;
        xcb_create_gc(x.connection(), gc_, x.root(), XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
        paint();
    }

    // Draws the next frame and waits until the server has it.
    void frame()
    {
        ++frame_;
        paint();
    }

    void runFor(std::chrono::milliseconds duration)
    {
        auto end = std::chrono::steady_clock::now() + duration;
        while (std::chrono::steady_clock::now() < end)
            frame();
    }

    uint32_t last() const { return frame_; }
    const BandColours &after(uint32_t frame) const { return states_.at(frame); }

private:
    void paint()
    {
        std::vector<xcb_rectangle_t> rects;
        BandColours state = states_.empty() ? BandColours(kBands, 0) : states_.back();
        for (int band = 0; band < kBands; ++band) {
            if (!paints(frame_, band))
                continue;
            rects.push_back({0, static_cast<int16_t>(band * kBandHeight), width_, kBandHeight});
            state[static_cast<size_t>(band)] = frameColour(frame_);
        }
        uint32_t colour = frameColour(frame_);
        xcb_change_gc(x_.connection(), gc_, XCB_GC_FOREGROUND, &colour);
        xcb_poly_fill_rectangle(x_.connection(), x_.root(), gc_,
                                static_cast<uint32_t>(rects.size()), rects.data());
        x_.sync();
        states_.push_back(state);
    }

    XcbClient &x_;
    uint32_t gc_;
    uint16_t width_;
    uint32_t frame_ = 0;
    std::vector<BandColours> states_;
};

struct ShownFlip {
    long vblank = 0;
    BandColours probes;
};

// The probed flips of one CRTC (by DRM id), or of every CRTC.
std::vector<ShownFlip> probedFlips(const SimControl &sim, unsigned crtcId = 0)
{
    static const std::regex line(R"(crtc=(\d+) .*vblank=(\d+) probes=([0-9a-f,]+))");
    std::vector<ShownFlip> flips;
    for (const std::string &text : sim.command("fliplog").lines) {
        std::smatch m;
        if (!std::regex_search(text, m, line) || (crtcId && std::stoul(m[1].str()) != crtcId))
            continue;
        ShownFlip flip{std::stol(m[2].str()), {}};
        std::stringstream values(m[3].str());
        for (std::string v; std::getline(values, v, ',');)
            flip.probes.push_back(static_cast<uint32_t>(std::stoul(v, nullptr, 16)));
        flips.push_back(flip);
    }
    return flips;
}

// Every flip shows the screen as it was after one whole frame, frames never
// go backwards, and no two flips share a vblank. Returns the frame the last
// flip showed (-1 when none did).
long expectWholeFramesInOrder(const std::vector<ShownFlip> &flips, const Animator &animation)
{
    uint32_t frame = 0;
    long previousVblank = -1;
    long shown = -1;
    for (const ShownFlip &flip : flips) {
        EXPECT_GT(flip.vblank, previousVblank);
        previousVblank = flip.vblank;
        while (frame <= animation.last() && animation.after(frame) != flip.probes)
            ++frame;
        if (frame > animation.last()) {
            ADD_FAILURE() << "the flip at vblank " << flip.vblank
                          << " shows no screen that a whole frame left (or goes back)";
            return -1;
        }
        shown = frame;
    }
    return shown;
}

class QelTearFree : public SessionTest {
protected:
    void SetUp() override
    {
        start(Testbed().panel(kWidth, kHeight));
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(eventually([&] { return crtc().active; })) << "no mode set";
    }

    // Probes every flip from here on, once frame 0 is on the panel.
    void startProbing(bool turnedLeft = false)
    {
        session->sim().settle(3);
        session->sim().command(probeRequest(turnedLeft));
    }

    SimCrtc crtc() const { return session->sim().crtcs().at(0); }
    long counter(const std::string &name) const { return session->sim().counter(name); }

    void xset(const std::vector<std::string> &args)
    {
        std::vector<std::string> argv{"xset"};
        argv.insert(argv.end(), args.begin(), args.end());
        CommandResult result = session->run(argv);
        ASSERT_TRUE(result.succeeded()) << result.describe();
    }

    // After the client stopped and the device settled, the panel shows
    // exactly what the screen holds, which is the last frame.
    void expectPanelShowsScreen(const Animator &animation)
    {
        session->sim().settle(3);
        Image root = session->xwdRoot();
        // The last copy follows at the server's next pass, which a loaded
        // machine may delay past a settled device.
        std::optional<PixelDifference> difference = session->awaitPanel(root);
        EXPECT_FALSE(difference) << difference->describe();
        for (int band = 0; band < kBands; ++band)
            EXPECT_EQ(root.at(100, band * kBandHeight + 1),
                      animation.after(animation.last())[static_cast<size_t>(band)]);
    }
};

TEST_F(QelTearFree, EveryFlipShowsOneWholeFrameAtItsOwnVblank)
{
    XcbClient x(session->display());
    Animator animation(x);
    startProbing();

    animation.runFor(std::chrono::seconds(2));
    expectPanelShowsScreen(animation);

    std::vector<ShownFlip> flips = probedFlips(session->sim());
    // About 120 vblanks passed. How many of them carry a flip depends on
    // the machine's load (bench/tearfree_bench.cpp measures the rate); here
    // it is enough that presentation ran through flips throughout.
    EXPECT_GE(flips.size(), 10u) << "frames drawn: " << animation.last();
    EXPECT_EQ(expectWholeFramesInOrder(flips, animation), static_cast<long>(animation.last()));
    // Presentation went through flips, not into the shown buffer.
    EXPECT_EQ(counter("flips_rejected"), 0);
}

// With the CRTC off nothing is flipped and the damage waits; switched on,
// the panel shows the last frame drawn while it was dark.
TEST_F(QelTearFree, DpmsOffStopsFlipsAndOnShowsTheLatestFrame)
{
    XcbClient x(session->display());
    Animator animation(x);
    startProbing();
    animation.runFor(std::chrono::milliseconds(500));

    xset({"dpms", "force", "off"});
    ASSERT_TRUE(eventually([&] { return !crtc().active; })) << "CRTC still lit";
    session->sim().settle(2);
    long flipsWhileOff = counter("flips_completed");
    long requestedWhileOff = counter("flips_requested");
    animation.runFor(std::chrono::milliseconds(500));
    session->sim().settle(3);
    EXPECT_EQ(counter("flips_completed"), flipsWhileOff);
    EXPECT_EQ(counter("flips_requested"), requestedWhileOff);

    xset({"dpms", "force", "on"});
    ASSERT_TRUE(eventually([&] { return crtc().active; })) << "CRTC still dark";
    expectPanelShowsScreen(animation);
    EXPECT_GT(counter("flips_completed"), flipsWhileOff);
    EXPECT_EQ(expectWholeFramesInOrder(probedFlips(session->sim()), animation),
              static_cast<long>(animation.last()));
}

// A kernel that refuses every flip: each drawing still reaches the panel,
// through the buffer on screen.
TEST_F(QelTearFree, RefusedFlipsStillShowEveryDrawing)
{
    XcbClient x(session->display());
    Animator animation(x);
    startProbing();
    session->sim().command("fault flip 1000000");
    long completed = counter("flips_completed");

    for (int i = 0; i < 6; ++i) {
        animation.frame();
        expectPanelShowsScreen(animation);
    }
    x.fill({200, 200, 300, 100}, 0x00ff00);
    x.copy({0, 0, 400, 300}, 500, 400);
    x.sync();
    // The copy to the buffer on screen follows the drawing at the server's
    // next pass, which a loaded machine may delay past a settled device.
    std::optional<PixelDifference> difference = session->awaitPanel(session->xwdRoot());
    EXPECT_FALSE(difference) << difference->describe();
    EXPECT_EQ(counter("flips_completed"), completed);
    EXPECT_GT(counter("flips_rejected"), 0);
    // Said once, with the kernel's reason.
    const std::string log = session->log();
    const std::string refused = "the kernel refuses page flips on CRTC";
    EXPECT_NE(log.find(refused), std::string::npos) << log;
    EXPECT_EQ(log.find(refused), log.rfind(refused)) << log;
}

// Turned left (portrait), the panel's pair is fed from the server's rotation
// shadow: each flip still shows one whole frame, at its own vblank.
TEST_F(QelTearFree, TurnedLeftEveryFlipShowsOneWholeFrame)
{
    CommandResult turned = session->run({"xrandr", "--output", "eDP-1", "--rotate", "left"});
    ASSERT_TRUE(turned.succeeded()) << turned.describe();
    XcbClient x(session->display());
    ASSERT_EQ(x.rootWidth(), kHeight);
    Animator animation(x);
    startProbing(true);

    animation.runFor(std::chrono::seconds(2));
    session->sim().settle(3);
    std::optional<PixelDifference> difference =
        session->awaitPanel(turnedFor(session->xwdRoot(), Orientation{"left"}));
    EXPECT_FALSE(difference) << difference->describe();
    std::vector<ShownFlip> flips = probedFlips(session->sim());
    EXPECT_GE(flips.size(), 10u) << "frames drawn: " << animation.last();
    EXPECT_EQ(expectWholeFramesInOrder(flips, animation), static_cast<long>(animation.last()));
    EXPECT_EQ(counter("flips_rejected"), 0);
}

// A panel and a monitor side by side: the bands run across both, and each
// display's flips show whole frames, in order, up to the last one.
class QelTearFreeTwoDisplays : public QelTearFree {
protected:
    void SetUp() override
    {
        start(Testbed().simDescription("[crtc]\n[crtc]\n"
                                       "[connector]\ntype = eDP\nmodes = 1024x768@60\n"
                                       "[connector]\ntype = HDMI-A\nmodes = 1024x768@60\n"));
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(eventually([&] {
            std::vector<SimCrtc> crtcs = session->sim().crtcs();
            return crtcs.at(0).active && crtcs.at(1).active;
        })) << "not both displays lit";
    }
};

TEST_F(QelTearFreeTwoDisplays, EveryDisplayShowsOnlyWholeFrames)
{
    XcbClient x(session->display());
    ASSERT_EQ(x.rootWidth(), 2 * kWidth);
    Animator animation(x);
    startProbing();

    animation.runFor(std::chrono::seconds(2));
    session->sim().settle(3);
    for (const SimCrtc &crtc : session->sim().crtcs()) {
        SCOPED_TRACE("CRTC " + std::to_string(crtc.index));
        std::vector<ShownFlip> flips = probedFlips(session->sim(), crtc.id);
        EXPECT_GE(flips.size(), 10u) << "frames drawn: " << animation.last();
        EXPECT_EQ(expectWholeFramesInOrder(flips, animation), static_cast<long>(animation.last()));
    }
    EXPECT_EQ(counter("flips_rejected"), 0);
}

} // namespace
