// SPDX-License-Identifier: MIT
// The pointer's cursor on the real Xorg: a client defines the root cursor
// (ARGB or two-colour) and warps the pointer, and every display shows the cursor image the
// server reports (XFixesGetCursorImage) at the pointer less the hotspot,
// over what the screen holds there; with the hardware cursor a pointer
// move is a cursor ioctl only (no flip, no GE work), and where the kernel
// has no cursor plane, the cursor is larger than the plane or SWcursor is
// on, the software cursor shows it instead.
#include "artifacts.h"
#include "displays.h"
#include "eventually.h"
#include "xcb_client.h"

#include <gtest/gtest.h>
#include <xcb/render.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

using namespace qeltest;

namespace {

// The current cursor as the server reports it.
struct CursorImage {
    int pointerX = 0, pointerY = 0;
    int width = 0, height = 0, xhot = 0, yhot = 0;
    std::vector<uint32_t> argb; // premultiplied
};

// A client that moves the pointer and reads the cursor back.
class PointerClient {
public:
    explicit PointerClient(const std::string &display) : x_(display)
    {
        xcb_xfixes_query_version_reply_t *version = xcb_xfixes_query_version_reply(
            conn(), xcb_xfixes_query_version(conn(), XCB_XFIXES_MAJOR_VERSION, 0), nullptr);
        EXPECT_NE(version, nullptr) << "no XFIXES";
        free(version);
    }

    xcb_connection_t *conn() const { return x_.connection(); }
    XcbClient &client() { return x_; }

    void warp(int x, int y)
    {
        xcb_warp_pointer(conn(), XCB_NONE, x_.root(), 0, 0, 0, 0, static_cast<int16_t>(x),
                         static_cast<int16_t>(y));
    }

    // Makes a 24x24 ARGB cursor of many alpha levels (hotspot 5,7) the
    // root window's cursor.
    void defineArgbCursor()
    {
        constexpr int size = 24;
        std::vector<uint32_t> pixels(size * size);
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                uint32_t alpha = x + y < 4 ? 0 : (x * 23 + y * 11) % 256;
                uint32_t red = alpha * ((x * 37) % 256) / 255,
                         green = alpha * ((y * 53) % 256) / 255;
                pixels[y * size + x] = alpha << 24 | red << 16 | green << 8 | alpha / 2;
            }
        }
        xcb_pixmap_t pixmap = xcb_generate_id(conn());
        xcb_create_pixmap(conn(), 32, pixmap, x_.root(), size, size);
        xcb_gcontext_t gc = xcb_generate_id(conn());
        xcb_create_gc(conn(), gc, pixmap, 0, nullptr);
        xcb_put_image(conn(), XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, gc, size, size, 0, 0, 0, 32,
                      static_cast<uint32_t>(pixels.size() * 4),
                      reinterpret_cast<const uint8_t *>(pixels.data()));
        xcb_render_picture_t picture = xcb_generate_id(conn());
        xcb_render_create_picture(conn(), picture, pixmap, argbFormat(), 0, nullptr);
        xcb_cursor_t cursor = xcb_generate_id(conn());
        xcb_render_create_cursor(conn(), cursor, picture, 5, 7);
        setRootCursor(cursor);
        xcb_render_free_picture(conn(), picture);
        xcb_free_gc(conn(), gc);
        xcb_free_pixmap(conn(), pixmap);
        x_.sync();
    }

    // Makes a two-colour core cursor of size x size (a multiple of 32) the
    // root window's cursor: a frame two pixels wide, black inside white,
    // with its hotspot at (10, 20).
    void defineCoreCursor(int size)
    {
        const xcb_setup_t *setup = xcb_get_setup(conn());
        ASSERT_EQ(setup->bitmap_format_bit_order, XCB_IMAGE_ORDER_LSB_FIRST);
        auto bitmap = [&](bool mask) {
            std::vector<uint8_t> bits(static_cast<size_t>(size) * size / 8);
            for (int y = 0; y < size; ++y) {
                for (int x = 0; x < size; ++x) {
                    bool edge = x < 2 || y < 2 || x >= size - 2 || y >= size - 2;
                    bool inner = x == 1 || y == 1 || x == size - 2 || y == size - 2;
                    if (mask ? edge : inner)
                        bits[(y * size + x) / 8] |= static_cast<uint8_t>(1u << (x % 8));
                }
            }
            xcb_pixmap_t pixmap = xcb_generate_id(conn());
            xcb_create_pixmap(conn(), 1, pixmap, x_.root(), size, size);
            xcb_gcontext_t gc = xcb_generate_id(conn());
            xcb_create_gc(conn(), gc, pixmap, 0, nullptr);
            xcb_put_image(conn(), XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, gc, size, size, 0, 0, 0, 1,
                          static_cast<uint32_t>(bits.size()), bits.data());
            xcb_free_gc(conn(), gc);
            return pixmap;
        };
        xcb_pixmap_t source = bitmap(false), mask = bitmap(true);
        xcb_cursor_t cursor = xcb_generate_id(conn());
        xcb_create_cursor(conn(), cursor, source, mask, 0, 0, 0, 0xffff, 0xffff, 0xffff, 10, 20);
        setRootCursor(cursor);
        xcb_free_pixmap(conn(), source);
        xcb_free_pixmap(conn(), mask);
        x_.sync();
    }

    // Hiding lasts while this client is connected.
    void hide() { xcb_xfixes_hide_cursor(conn(), x_.root()); }
    void show() { xcb_xfixes_show_cursor(conn(), x_.root()); }

    CursorImage cursor()
    {
        CursorImage image;
        xcb_xfixes_get_cursor_image_reply_t *reply =
            xcb_xfixes_get_cursor_image_reply(conn(), xcb_xfixes_get_cursor_image(conn()), nullptr);
        if (!reply) {
            ADD_FAILURE() << "XFixesGetCursorImage failed";
            return image;
        }
        image.pointerX = reply->x;
        image.pointerY = reply->y;
        image.width = reply->width;
        image.height = reply->height;
        image.xhot = reply->xhot;
        image.yhot = reply->yhot;
        const uint32_t *pixels = xcb_xfixes_get_cursor_image_cursor_image(reply);
        image.argb.assign(pixels, pixels + image.width * image.height);
        free(reply);
        return image;
    }

private:
    // The cursor stays this client's: XFIXES shows a cursor only to a
    // client allowed to see its owner.
    void setRootCursor(xcb_cursor_t cursor)
    {
        xcb_change_window_attributes(conn(), x_.root(), XCB_CW_CURSOR, &cursor);
    }

    // Render's 32-bit format with alpha in the top byte.
    xcb_render_pictformat_t argbFormat()
    {
        xcb_render_query_pict_formats_reply_t *reply = xcb_render_query_pict_formats_reply(
            conn(), xcb_render_query_pict_formats(conn()), nullptr);
        xcb_render_pictformat_t found = 0;
        for (auto it = xcb_render_query_pict_formats_formats_iterator(reply); reply && it.rem;
             xcb_render_pictforminfo_next(&it)) {
            const xcb_render_directformat_t &d = it.data->direct;
            if (it.data->depth == 32 && d.alpha_shift == 24 && d.alpha_mask == 0xff &&
                d.red_shift == 16)
                found = it.data->id;
        }
        free(reply);
        EXPECT_NE(found, 0u) << "no ARGB32 picture format";
        return found;
    }

    XcbClient x_;
};

// dst * (255 - alpha) / 255, rounded as the display's blend rounds it.
uint32_t scaled(uint32_t dst, uint32_t alpha)
{
    uint32_t t = dst * (255 - alpha) + 0x80;
    return (t + (t >> 8)) >> 8;
}

uint32_t over(uint32_t argb, uint32_t rgb)
{
    uint32_t alpha = argb >> 24, out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        uint32_t channel = std::min<uint32_t>(255, ((argb >> shift) & 0xff) +
                                                       scaled((rgb >> shift) & 0xff, alpha));
        out |= channel << shift;
    }
    return out;
}

// What a display at (x, y) of the screen, width x height, shows: the
// screen's contents with the cursor over them, its hotspot at the pointer.
Image withCursor(const Image &root, const CursorImage &cursor, int x, int y, int width, int height)
{
    Image picture = crop(root, x, y, width, height);
    int left = cursor.pointerX - cursor.xhot - x, top = cursor.pointerY - cursor.yhot - y;
    for (int row = 0; row < cursor.height; ++row) {
        for (int column = 0; column < cursor.width; ++column) {
            int px = left + column, py = top + row;
            if (px < 0 || py < 0 || px >= width || py >= height)
                continue;
            uint32_t &pixel = picture.pixels[static_cast<size_t>(py) * width + px];
            pixel = over(cursor.argb[static_cast<size_t>(row) * cursor.width + column], pixel);
        }
    }
    return picture;
}

// The cursors a test defines: an ARGB cursor of Render, or a two-colour
// The cursors a test defines: an ARGB cursor of Render, or a two-colour
// core cursor of 32x32 (fits the plane) or 96x96 (larger than it).
enum class Kind { argb, core, largeCore };

struct CursorCase {
    const char *name;
    std::string description; // the simulated device; empty: the default panel
    std::vector<std::pair<std::string, std::string>> options;
    Kind kind;
    bool hardware;    // the cursor plane shows the cursor
    std::string says; // in the server's log
};

void PrintTo(const CursorCase &c, std::ostream *out)
{
    *out << c.name;
}

class CursorTest : public SessionTest {
protected:
    void startWith(const std::string &description,
                   const std::vector<std::pair<std::string, std::string>> &options = {})
    {
        Testbed testbed;
        if (!description.empty())
            testbed.simDescription(description);
        for (const auto &[name, value] : options)
            testbed.option(name, value);
        start(testbed);
    }

    // Stripes of colour under the cursor, so that its blend shows.
    void paintScreen()
    {
        XcbClient x(session->display());
        for (int i = 0; i * 16 < x.rootWidth(); ++i)
            x.fill({i * 16, 0, 16, x.rootHeight()}, 0x1f5a93 + 0x2b1d07 * uint32_t(i % 7));
        x.sync();
    }

    void run(const std::vector<std::string> &argv)
    {
        CommandResult result = session->run(argv);
        ASSERT_TRUE(result.succeeded()) << result.describe();
    }

    void defineCursor(PointerClient &pointer, Kind kind = Kind::argb)
    {
        paintScreen();
        if (kind == Kind::argb)
            pointer.defineArgbCursor();
        else
            pointer.defineCoreCursor(kind == Kind::core ? 32 : 96);
    }

    // Waits until the CRTC at (x, y) of the screen shows the screen with
    // the cursor where the server has it.
    void expectCursorShown(PointerClient &pointer, int crtc, int x, int y, int width, int height)
    {
        pointer.client().sync();
        CursorImage cursor = pointer.cursor();
        ASSERT_GT(cursor.width, 0);
        Image expected = withCursor(session->xwdRoot(), cursor, x, y, width, height);
        std::optional<PixelDifference> difference = session->awaitPanel(expected, crtc);
        EXPECT_FALSE(difference) << "CRTC " << crtc << ": " << difference->describe();
    }

    void expectNoCursorShown()
    {
        std::optional<PixelDifference> difference = session->awaitPanel(session->xwdRoot());
        EXPECT_FALSE(difference) << difference->describe();
    }

    std::string cursorPlane(int crtc) { return session->sim().crtcs().at(crtc).cursor; }

    long counter(const std::string &name) const { return session->sim().counter(name); }
};

class CursorKinds : public CursorTest, public ::testing::WithParamInterface<CursorCase> {};

const std::string noCursorPlane = "[crtc]\ncursor = none\n[connector]\ntype = eDP\n";
// The server's cursor layer keeps images in rows of 32 pixels.
const std::string oddPlane = "[crtc]\ncursor = 48x48\n[connector]\ntype = eDP\n";
// Dumb buffers padded to 512 bytes a row: the cursor plane still reads
// 64 * 4 bytes a row.
const std::string paddedPitch = "[device]\npitch_align = 512\n[crtc]\n[connector]\ntype = eDP\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, CursorKinds,
    ::testing::Values(
        CursorCase{"Hardware", "", {}, Kind::argb, true, "Using the hardware cursor (64x64)"},
        CursorCase{"HardwareTwoColour", "", {}, Kind::core, true, "Using the hardware cursor"},
        CursorCase{"PaddedPitch", paddedPitch, {}, Kind::argb, true, "Using the hardware cursor"},
        CursorCase{
            "LargerThanThePlane", "", {}, Kind::largeCore, false, "Using the hardware cursor"},
        CursorCase{"NoCursorPlane",
                   noCursorPlane,
                   {},
                   Kind::argb,
                   false,
                   "Using the software cursor: CRTC"},
        CursorCase{"PlaneWidthNotAMultipleOf32",
                   oddPlane,
                   {},
                   Kind::argb,
                   false,
                   "Using the software cursor: the kernel's cursor size 48x48 is not supported"},
        CursorCase{"SWcursorOption",
                   "",
                   {{"SWcursor", "on"}},
                   Kind::argb,
                   false,
                   "Using the software cursor (SWcursor)"}),
    [](const ::testing::TestParamInfo<CursorCase> &info) { return std::string(info.param.name); });

// The cursor shows at the pointer on the panel, by the cursor plane or
// drawn into the screen, and follows the pointer.
TEST_P(CursorKinds, ThePanelShowsTheCursorAtThePointer)
{
    const CursorCase &c = GetParam();
    startWith(c.description, c.options);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_NE(session->log().find(c.says), std::string::npos) << c.says;
    PointerClient pointer(session->display());
    defineCursor(pointer, c.kind);
    ASSERT_FALSE(HasFatalFailure());

    for (auto [x, y] : {std::pair{300, 200}, std::pair{1020, 760}, std::pair{0, 0}}) {
        SCOPED_TRACE("pointer at " + std::to_string(x) + "," + std::to_string(y));
        pointer.warp(x, y);
        expectCursorShown(pointer, 0, 0, 0, 1024, 768);
        CursorImage cursor = pointer.cursor();
        std::string plane = cursorPlane(0);
        if (c.hardware)
            EXPECT_EQ(plane, "64x64@" + std::to_string(x - cursor.xhot) + "," +
                                 std::to_string(y - cursor.yhot));
        else
            EXPECT_TRUE(plane == "hidden" || plane == "none") << plane;
    }
}

class HardwareCursor : public CursorTest {
protected:
    void SetUp() override
    {
        startWith("");
        if (HasFatalFailure())
            return;
        pointer = std::make_unique<PointerClient>(session->display());
        defineCursor(*pointer);
    }

    void TearDown() override
    {
        pointer.reset();
        CursorTest::TearDown();
    }

    std::unique_ptr<PointerClient> pointer;
};

// A thousand pointer moves are a thousand cursor moves for the kernel, and
// no frame is drawn, copied or flipped for them.
TEST_F(HardwareCursor, MovingThePointerMakesNoFlipAndNoGeOperation)
{
    PointerClient &pointer = *this->pointer;
    pointer.warp(10, 10);
    pointer.client().sync();
    session->sim().settle(3);
    long flips = counter("flips_requested"), ops = counter("ge_ops"),
         submits = counter("ge_submits"), moves = counter("cursor_moves");

    for (int i = 0; i < 1000; ++i)
        pointer.warp(20 + i % 900, 20 + (i * 7) % 700);
    pointer.client().sync();
    expectCursorShown(pointer, 0, 0, 0, 1024, 768);
    session->sim().settle(3);

    EXPECT_EQ(counter("flips_requested"), flips);
    EXPECT_EQ(counter("ge_ops"), ops);
    EXPECT_EQ(counter("ge_submits"), submits);
    EXPECT_GT(counter("cursor_moves"), moves);
}

// Hidden by a client, the cursor leaves the panel; shown again, and through
// the panel's DPMS off and on, it is back where the pointer is.
TEST_F(HardwareCursor, HideShowAndDpmsKeepThePanelRight)
{
    PointerClient &pointer = *this->pointer;
    pointer.warp(400, 300);
    expectCursorShown(pointer, 0, 0, 0, 1024, 768);

    pointer.hide();
    pointer.client().sync();
    EXPECT_EQ(cursorPlane(0), "hidden");
    expectNoCursorShown();
    pointer.show();
    expectCursorShown(pointer, 0, 0, 0, 1024, 768);

    run({"xset", "dpms", "force", "off"});
    ASSERT_TRUE(eventually([&] { return !session->sim().crtcs().at(0).active; }));
    run({"xset", "dpms", "force", "on"});
    ASSERT_TRUE(eventually([&] { return session->sim().crtcs().at(0).active; }));
    expectCursorShown(pointer, 0, 0, 0, 1024, 768);
}

// Turned left, the panel shows the cursor turned with the screen, at the
// pointer, on the cursor plane. Under a scale, which the plane cannot
// express, the server's software cursor takes over; unscaled, the plane
// shows the cursor again.
TEST_F(HardwareCursor, ATurnedPanelShowsTheCursorTurnedAtThePointer)
{
    PointerClient &pointer = *this->pointer;
    run({"xrandr", "--output", "eDP-1", "--rotate", "left"});
    paintScreen();
    for (auto [x, y] : {std::pair{300, 200}, std::pair{740, 1000}, std::pair{0, 0}}) {
        SCOPED_TRACE("pointer at " + std::to_string(x) + "," + std::to_string(y));
        pointer.warp(x, y);
        pointer.client().sync();
        CursorImage cursor = pointer.cursor();
        Image expected =
            turnedFor(withCursor(session->xwdRoot(), cursor, 0, 0, 768, 1024), Orientation{"left"});
        std::optional<PixelDifference> difference = session->awaitPanel(expected);
        EXPECT_FALSE(difference) << difference->describe();
        EXPECT_NE(cursorPlane(0), "hidden");
    }

    run({"xrandr", "--output", "eDP-1", "--rotate", "normal", "--scale", "2x2"});
    pointer.warp(500, 400);
    pointer.client().sync();
    EXPECT_TRUE(eventually([&] { return cursorPlane(0) == "hidden"; })) << cursorPlane(0);
    run({"xrandr", "--output", "eDP-1", "--scale", "1x1"});
    pointer.warp(300, 200);
    expectCursorShown(pointer, 0, 0, 0, 1024, 768);
    EXPECT_NE(cursorPlane(0), "hidden");
}

// A panel and a monitor side by side: the cursor shows on the monitor at
// its offset, and across the border each display shows its part.
TEST_F(CursorTest, TwoDisplaysEachShowTheirPartOfTheCursor)
{
    startWith("[crtc]\n[crtc]\n"
              "[connector]\ntype = eDP\nmodes = 1024x768@60\n"
              "[connector]\ntype = HDMI-A\nmodes = 1024x768@60\n");
    ASSERT_FALSE(HasFatalFailure());
    run({"xrandr", "--output", "eDP-1", "--auto", "--output", "HDMI-A-1", "--auto", "--right-of",
         "eDP-1"});
    PointerClient pointer(session->display());
    defineCursor(pointer);
    ASSERT_FALSE(HasFatalFailure());

    pointer.warp(1024 + 200, 300);
    expectCursorShown(pointer, 1, 1024, 0, 1024, 768);
    expectCursorShown(pointer, 0, 0, 0, 1024, 768);
    EXPECT_EQ(cursorPlane(0), "hidden");
    EXPECT_NE(cursorPlane(1), "hidden");

    // The hotspot a few pixels left of the border: the image crosses it.
    CursorImage cursor = pointer.cursor();
    pointer.warp(1024 - 4 + cursor.xhot - cursor.width / 2, 300);
    expectCursorShown(pointer, 0, 0, 0, 1024, 768);
    expectCursorShown(pointer, 1, 1024, 0, 1024, 768);
    EXPECT_NE(cursorPlane(0), "hidden");
    EXPECT_NE(cursorPlane(1), "hidden");
}

} // namespace
