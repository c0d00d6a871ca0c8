// SPDX-License-Identifier: MIT
// Pixmap buffers on the real Xorg with qel's defaults: a client that makes
// and frees pixmaps without end (as toolkits do for every frame) leaves no
// more dumb buffers behind than the driver's cache of released buffers
// holds, reuses them instead of making new ones, and a server reset leaves
// none of them.
#include "artifacts.h"
#include "eventually.h"
#include "xcb_client.h"

#include <gtest/gtest.h>

#include <xcb/xcb.h>

using namespace qeltest;

namespace {

// What the driver's cache may keep of released pixmap buffers.
constexpr long kCacheBuffers = 64;
constexpr long kCacheBytes = 16L << 20;

// Makes a pixmap, draws into it, copies it to the screen (which moves it
// into a buffer), and frees it; the sizes, all different, fall into a few
// dozen size classes.
void churnPixmaps(XcbClient &x, int count)
{
    xcb_connection_t *c = x.connection();
    xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, x.root(), 0, nullptr);
    for (int i = 0; i < count; ++i) {
        uint16_t width = static_cast<uint16_t>(100 + (i % 6) * 60 + i % 7);
        uint16_t height = static_cast<uint16_t>(80 + (i % 5) * 50 + i % 3);
        xcb_pixmap_t pixmap = xcb_generate_id(c);
        xcb_create_pixmap(c, 24, pixmap, x.root(), width, height);
        uint32_t colour = 0x010203u * static_cast<uint32_t>(i);
        xcb_change_gc(c, gc, XCB_GC_FOREGROUND, &colour);
        xcb_rectangle_t all{0, 0, width, height};
        xcb_poly_fill_rectangle(c, pixmap, gc, 1, &all);
        xcb_copy_area(c, pixmap, x.root(), gc, 0, 0, static_cast<int16_t>(i % 400),
                      static_cast<int16_t>(i % 300), width, height);
        xcb_free_pixmap(c, pixmap);
    }
    xcb_free_gc(c, gc);
    x.sync();
}

class QelPixmapBuffers : public SessionTest {};

TEST_F(QelPixmapBuffers, ChurnStaysWithinTheCacheAndAResetLeavesNone)
{
    start(Testbed().panel(1024, 768).reset(true));
    ASSERT_FALSE(HasFatalFailure());
    const SimControl &sim = session->sim();
    session->sim().settle(3);
    const long screenBuffers = sim.counter("live_dumb_buffers");
    const long screenBytes = sim.counter("live_dumb_bytes");
    const long createdBefore = sim.counter("dumb_buffers_created");
    constexpr int kPixmaps = 300;
    {
        XcbClient x(session->display());
        churnPixmaps(x, kPixmaps);
        session->sim().settle(3);
        EXPECT_LE(sim.counter("live_dumb_buffers") - screenBuffers, kCacheBuffers);
        EXPECT_LE(sim.counter("live_dumb_bytes") - screenBytes, kCacheBytes);
        long made = sim.counter("dumb_buffers_created") - createdBefore;
        EXPECT_GT(made, 0);
        EXPECT_LT(made, kPixmaps / 4) << "released buffers are not reused";
    }
    // The last client has gone: the server resets, and the new generation
    // has its screen's buffers only.
    const long created = sim.counter("dumb_buffers_created");
    EXPECT_TRUE(eventually(
        [&] {
            return sim.counter("dumb_buffers_created") > created &&
                   sim.counter("live_dumb_buffers") == screenBuffers && sim.crtcs().at(0).active;
        },
        std::chrono::seconds(30)))
        << "live buffers after the reset: " << sim.counter("live_dumb_buffers");
}

} // namespace
