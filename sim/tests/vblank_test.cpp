// SPDX-License-Identifier: MIT
// Each CRTC's vblank counter as a client sees it through the vblank ioctls
// and events: its own count, at its own mode's frame duration, standing
// still while the CRTC does not scan out.
#include "sim_fixture.h"

#include <cerrno>
#include <poll.h>

namespace qelsim::test {
namespace {

const char *panelAndMonitor = R"(
[device]
vblank = manual
[crtc]
[crtc]
vblank_count = 4294967294
[connector]
type = eDP
modes = 1024x768@50 800x600@60
[connector]
type = HDMI-A
modes = 1024x768@75
)";

struct Seen {
    int events = 0;
    uint32_t type = 0, crtcId = 0;
    uint64_t sequence = 0, ns = 0, userData = 0;
};

class Vblanks : public SimTest {
protected:
    void SetUp() override
    {
        configure(panelAndMonitor);
        drmModeRes *res = drmModeGetResources(fd);
        for (int i = 0; i < 2; ++i) {
            crtcs[i] = res->crtcs[i];
            connectors[i] = res->connectors[i];
        }
        drmModeFreeResources(res);
    }

    // Lights CRTC i with connector i's mode m.
    void light(int i, int m = 0)
    {
        drmModeConnector *conn = drmModeGetConnector(fd, connectors[i]);
        modes[i] = conn->modes[m];
        const uint32_t fb = addFb(createDumb(modes[i].hdisplay, modes[i].vdisplay),
                                  modes[i].hdisplay, modes[i].vdisplay);
        ASSERT_EQ(drmModeSetCrtc(fd, crtcs[i], fb, 0, 0, &connectors[i], 1, &modes[i]), 0);
        drmModeFreeConnector(conn);
    }

    // The kernel's frame duration of CRTC i's mode.
    uint64_t frameNs(int i) const
    {
        return uint64_t{modes[i].htotal} * modes[i].vtotal * 1'000'000 / modes[i].clock;
    }

    std::pair<uint64_t, uint64_t> sequence(int i)
    {
        uint64_t count = 0, ns = 0;
        EXPECT_EQ(drmCrtcGetSequence(fd, crtcs[i], &count, &ns), 0);
        return {count, ns};
    }

    // Reads what is pending; every handler records into `seen`.
    void readEvents()
    {
        drmEventContext ctx{};
        ctx.version = 4;
        ctx.page_flip_handler2 = [](int, unsigned seq, unsigned sec, unsigned usec, unsigned crtc,
                                    void *user) {
            record(user, DRM_EVENT_FLIP_COMPLETE, crtc, seq, (sec * 1'000'000ull + usec) * 1000);
        };
        ctx.vblank_handler = [](int, unsigned seq, unsigned sec, unsigned usec, void *user) {
            record(user, DRM_EVENT_VBLANK, 0, seq, (sec * 1'000'000ull + usec) * 1000);
        };
        ctx.sequence_handler = [](int, uint64_t seq, uint64_t ns, uint64_t user) {
            record(reinterpret_cast<void *>(user), DRM_EVENT_CRTC_SEQUENCE, 0, seq, ns);
        };
        pollfd p{fd, POLLIN, 0};
        while (poll(&p, 1, 0) == 1)
            ASSERT_EQ(drmHandleEvent(fd, &ctx), 0);
    }

    static void record(void *user, uint32_t type, uint32_t crtc, uint64_t seq, uint64_t ns)
    {
        auto *s = static_cast<Seen *>(user);
        ++s->events;
        s->type = type;
        s->crtcId = crtc;
        s->sequence = seq;
        s->ns = ns;
    }

    int setDpms(int i, uint64_t value)
    {
        drmModeObjectProperties *props =
            drmModeObjectGetProperties(fd, connectors[i], DRM_MODE_OBJECT_CONNECTOR);
        uint32_t dpms = 0;
        for (uint32_t p = 0; p < props->count_props; ++p) {
            drmModePropertyRes *prop = drmModeGetProperty(fd, props->props[p]);
            if (std::string(prop->name) == "DPMS")
                dpms = prop->prop_id;
            drmModeFreeProperty(prop);
        }
        drmModeFreeObjectProperties(props);
        return drmModeConnectorSetProperty(fd, connectors[i], dpms, value);
    }

    uint32_t crtcs[2]{}, connectors[2]{};
    drmModeModeInfo modes[2]{};
    Seen seen;
};

// A manual vblank of one CRTC leaves the other's count alone, and each
// vblank comes exactly one frame of its own mode after the last.
TEST_F(Vblanks, EachCrtcCountsOnItsOwnAtItsModesFrameDuration)
{
    light(0);
    light(1);
    const auto [panel0, panelNs0] = sequence(0);
    const auto [monitor0, monitorNs0] = sequence(1);
    EXPECT_EQ(panel0, 1u); // lighting steps the counter once
    EXPECT_EQ(monitor0, 4294967295u);

    ASSERT_TRUE(succeeds("vblank 50 0"));
    ASSERT_TRUE(succeeds("vblank 75 1"));
    const auto [panel, panelNs] = sequence(0);
    const auto [monitor, monitorNs] = sequence(1);
    EXPECT_EQ(panel, panel0 + 50);
    EXPECT_EQ(monitor, monitor0 + 75);
    EXPECT_EQ(panelNs - panelNs0, 50 * frameNs(0));
    EXPECT_EQ(monitorNs - monitorNs0, 75 * frameNs(1));
    // The rates are the CVT modes' own, near the 50 and 75 Hz described.
    EXPECT_NEAR(1e9 / static_cast<double>(frameNs(0)), 50.0, 0.5);
    EXPECT_NEAR(1e9 / static_cast<double>(frameNs(1)), 75.0, 0.5);

    ASSERT_TRUE(succeeds("vblank 2"));
    EXPECT_EQ(sequence(0).first, panel + 2);
    EXPECT_EQ(sequence(1).first, monitor + 2);
    EXPECT_FALSE(succeeds("vblank 1 2"));
}

// The running clock stamps each vblank at its ideal time, so that a wait
// of ten vblanks spans exactly ten frames.
TEST_F(Vblanks, TheRunningClockKeepsEachModesPace)
{
    light(0);
    ASSERT_TRUE(succeeds("vblank-mode auto"));
    // The first vblank of the running clock comes a frame after it starts.
    drmVBlank vbl{};
    vbl.request.type = DRM_VBLANK_RELATIVE;
    vbl.request.sequence = 1;
    ASSERT_EQ(drmWaitVBlank(fd, &vbl), 0);
    const auto before = sequence(0);
    vbl.request.type = DRM_VBLANK_RELATIVE;
    vbl.request.sequence = 10;
    ASSERT_EQ(drmWaitVBlank(fd, &vbl), 0);
    const auto after = sequence(0);
    ASSERT_GE(after.first, before.first + 10);
    EXPECT_EQ(after.second - before.second, (after.first - before.first) * frameNs(0));
}

// WAIT_VBLANK picks the CRTC by its index in the high bits; its events and
// its replies carry that CRTC's count, and the 32-bit fields wrap where the
// 64-bit counter goes on.
TEST_F(Vblanks, WaitsOnTheSecondCrtcSeeItsOwnCountAndWrap)
{
    light(0);
    light(1);
    drmVBlank vbl{};
    vbl.request.type = static_cast<drmVBlankSeqType>(DRM_VBLANK_RELATIVE | DRM_VBLANK_EVENT |
                                                     (1 << DRM_VBLANK_HIGH_CRTC_SHIFT));
    vbl.request.sequence = 3;
    vbl.request.signal = reinterpret_cast<unsigned long>(&seen);
    ASSERT_EQ(drmWaitVBlank(fd, &vbl), 0);
    EXPECT_EQ(vbl.reply.sequence, 2u); // 4294967295 + 3, in 32 bits

    ASSERT_TRUE(succeeds("vblank 3 0"));
    readEvents();
    EXPECT_EQ(seen.events, 0);
    ASSERT_TRUE(succeeds("vblank 3 1"));
    readEvents();
    EXPECT_EQ(seen.events, 1);
    EXPECT_EQ(seen.type, uint32_t{DRM_EVENT_VBLANK});
    EXPECT_EQ(seen.sequence, 2u);
    const auto [count, ns] = sequence(1);
    EXPECT_EQ(count, 4294967298u);
    EXPECT_EQ(seen.ns / 1000, ns / 1000);

    // An absolute target already passed: the event comes at once with the
    // count reached, which the reply gives too.
    vbl.request.type = static_cast<drmVBlankSeqType>(DRM_VBLANK_ABSOLUTE | DRM_VBLANK_EVENT |
                                                     DRM_VBLANK_SECONDARY);
    vbl.request.sequence = 1;
    vbl.request.signal = reinterpret_cast<unsigned long>(&seen);
    ASSERT_EQ(drmWaitVBlank(fd, &vbl), 0);
    EXPECT_EQ(vbl.reply.sequence, 2u);
    readEvents();
    EXPECT_EQ(seen.events, 2);

    vbl.request.type =
        static_cast<drmVBlankSeqType>(DRM_VBLANK_RELATIVE | (2 << DRM_VBLANK_HIGH_CRTC_SHIFT));
    EXPECT_EQ(drmWaitVBlank(fd, &vbl), -1);
    EXPECT_EQ(errno, EINVAL);
}

TEST_F(Vblanks, FlipEventsCarryTheFlippingCrtcsCountAndTime)
{
    light(0);
    light(1);
    ASSERT_TRUE(succeeds("vblank 4 0"));
    const uint32_t next = addFb(createDumb(modes[1].hdisplay, modes[1].vdisplay), modes[1].hdisplay,
                                modes[1].vdisplay);
    ASSERT_EQ(drmModePageFlip(fd, crtcs[1], next, DRM_MODE_PAGE_FLIP_EVENT, &seen), 0);
    ASSERT_TRUE(succeeds("vblank 1"));
    readEvents();
    ASSERT_EQ(seen.events, 1);
    EXPECT_EQ(seen.crtcId, crtcs[1]);
    const auto [count, ns] = sequence(1);
    EXPECT_EQ(seen.sequence, count & 0xffffffffu);
    EXPECT_EQ(seen.ns / 1000, ns / 1000);
}

// DPMS off stops the count and ends the CRTC's waits with the count
// reached; on again, it steps once and counts on. A new mode does the same
// and changes the pace.
TEST_F(Vblanks, TheCountStandsStillWhileTheCrtcIsDarkAndStepsWhenLit)
{
    light(0);
    ASSERT_TRUE(succeeds("vblank 5"));
    uint64_t queued = 0;
    ASSERT_EQ(drmCrtcQueueSequence(fd, crtcs[0], DRM_CRTC_SEQUENCE_RELATIVE, 10, &queued,
                                   reinterpret_cast<uint64_t>(&seen)),
              0);
    ASSERT_EQ(setDpms(0, DRM_MODE_DPMS_OFF), 0);
    readEvents();
    EXPECT_EQ(seen.events, 1);
    EXPECT_EQ(seen.sequence, 6u);
    uint64_t count = 0, ns = 0;
    EXPECT_EQ(drmCrtcGetSequence(fd, crtcs[0], &count, &ns), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(drmCrtcQueueSequence(fd, crtcs[0], DRM_CRTC_SEQUENCE_RELATIVE, 1, &queued, 0), -1);
    EXPECT_EQ(errno, EINVAL);
    ASSERT_TRUE(succeeds("vblank 7"));

    ASSERT_EQ(setDpms(0, DRM_MODE_DPMS_ON), 0);
    EXPECT_EQ(sequence(0).first, 7u);

    ASSERT_EQ(drmCrtcQueueSequence(fd, crtcs[0], DRM_CRTC_SEQUENCE_RELATIVE, 10, &queued,
                                   reinterpret_cast<uint64_t>(&seen)),
              0);
    light(0, 1);
    readEvents();
    EXPECT_EQ(seen.events, 2);
    EXPECT_EQ(seen.sequence, 7u);
    const auto lit = sequence(0);
    EXPECT_EQ(lit.first, 8u);
    ASSERT_TRUE(succeeds("vblank 3"));
    EXPECT_EQ(sequence(0).second - lit.second, 3 * frameNs(0));
    EXPECT_NEAR(1e9 / static_cast<double>(frameNs(0)), 60.0, 0.5);
}

} // namespace
} // namespace qelsim::test
