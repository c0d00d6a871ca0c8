// SPDX-License-Identifier: MIT
// Page flips and vblank events as a client sees them: nothing before the
// vblank, then an event that drmHandleEvent delivers with the caller's data.
#include "sim_fixture.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>

namespace qelsim::test {
namespace {

struct Delivered {
    int flips = 0, vblanks = 0, sequences = 0;
    uint64_t userData = 0;
    unsigned crtcId = 0, sequence = 0;
};

class Flips : public SimTest {
protected:
    bool readable()
    {
        pollfd p{fd, POLLIN, 0};
        return poll(&p, 1, 0) == 1;
    }

    // Reads the pending events; flip user data is the address of `delivered`.
    void handleEvents()
    {
        drmEventContext ctx{};
        ctx.version = 4;
        ctx.page_flip_handler2 = [](int, unsigned seq, unsigned, unsigned, unsigned crtc,
                                    void *user) {
            auto *d = static_cast<Delivered *>(user);
            ++d->flips;
            d->crtcId = crtc;
            d->sequence = seq;
        };
        ctx.vblank_handler = [](int, unsigned seq, unsigned, unsigned, void *user) {
            auto *d = static_cast<Delivered *>(user);
            ++d->vblanks;
            d->sequence = seq;
        };
        ctx.sequence_handler = [](int, uint64_t seq, uint64_t, uint64_t user) {
            auto *d = reinterpret_cast<Delivered *>(user);
            ++d->sequences;
            d->sequence = static_cast<unsigned>(seq);
        };
        ASSERT_EQ(drmHandleEvent(fd, &ctx), 0);
    }

    // WAIT_VBLANK with an event `relative` vblanks ahead; returns the reply's
    // sequence.
    unsigned requestVblankEvent(unsigned relative)
    {
        drmVBlank vbl{};
        vbl.request.type = static_cast<drmVBlankSeqType>(DRM_VBLANK_RELATIVE | DRM_VBLANK_EVENT);
        vbl.request.sequence = relative;
        vbl.request.signal = reinterpret_cast<unsigned long>(&delivered);
        EXPECT_EQ(drmWaitVBlank(fd, &vbl), 0);
        return vbl.reply.sequence;
    }

    Delivered delivered;
};

TEST_F(Flips, AFlipCompletesAtTheNextVblankWithAnEvent)
{
    const uint32_t first = lightPanel();
    const uint32_t second = addFb(createDumb(1024, 768), 1024, 768);
    ASSERT_EQ(drmModePageFlip(fd, crtcId(), second, DRM_MODE_PAGE_FLIP_EVENT, &delivered), 0);
    EXPECT_FALSE(readable());
    EXPECT_NE(command("crtcs").find("fb=" + std::to_string(first)), std::string::npos);

    ASSERT_TRUE(succeeds("vblank 1"));
    ASSERT_TRUE(readable());
    handleEvents();
    EXPECT_EQ(delivered.flips, 1);
    EXPECT_EQ(delivered.crtcId, crtcId());
    EXPECT_NE(command("crtcs").find("fb=" + std::to_string(second)), std::string::npos);
    // Lighting the CRTC stepped its counter to 1; the flip came at 2.
    EXPECT_EQ(command("fliplog"), "flip crtc=" + std::to_string(crtcId()) +
                                      " fb=" + std::to_string(second) + " vblank=2\nok\n");
    EXPECT_EQ(counter("flips_requested"), 1u);
    EXPECT_EQ(counter("flips_completed"), 1u);
}

// A server that flips for hours keeps only the latest lines.
TEST_F(Flips, TheFlipLogKeepsTheLatestFlips)
{
    lightPanel();
    const uint32_t next = addFb(createDumb(1024, 768), 1024, 768);
    constexpr long kLimit = 4096;
    const int flips = kLimit + 3;
    for (int i = 0; i < flips; ++i) {
        ASSERT_EQ(drmModePageFlip(fd, crtcId(), next, 0, nullptr), 0);
        ASSERT_TRUE(succeeds("vblank 1"));
    }
    const std::string log = command("fliplog");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), kLimit + 1);
    EXPECT_EQ(log.find(" vblank=2\n"), std::string::npos);
    EXPECT_NE(log.find(" vblank=" + std::to_string(flips + 1) + "\nok"), std::string::npos);
}

TEST_F(Flips, ASecondFlipWhileOneIsOutstandingIsBusy)
{
    lightPanel();
    const uint32_t next = addFb(createDumb(1024, 768), 1024, 768);
    ASSERT_EQ(drmModePageFlip(fd, crtcId(), next, DRM_MODE_PAGE_FLIP_EVENT, &delivered), 0);
    EXPECT_EQ(drmModePageFlip(fd, crtcId(), next, DRM_MODE_PAGE_FLIP_EVENT, &delivered), -EBUSY);
    EXPECT_EQ(counter("flips_rejected"), 1u);
    ASSERT_TRUE(succeeds("vblank 1"));
    EXPECT_EQ(drmModePageFlip(fd, crtcId(), next, 0, nullptr), 0);
}

TEST_F(Flips, FlipsNeedALitCrtcAndAFittingFramebuffer)
{
    const uint32_t fb = addFb(createDumb(1024, 768), 1024, 768);
    EXPECT_EQ(drmModePageFlip(fd, crtcId(), fb, DRM_MODE_PAGE_FLIP_EVENT, nullptr), -EBUSY);
    lightPanel();
    const uint32_t small = addFb(createDumb(640, 480), 640, 480);
    EXPECT_EQ(drmModePageFlip(fd, crtcId(), small, 0, nullptr), -ENOSPC);
    EXPECT_EQ(drmModePageFlip(fd, crtcId(), 4242, 0, nullptr), -ENOENT);
    EXPECT_EQ(drmModePageFlip(fd, crtcId(), fb, DRM_MODE_PAGE_FLIP_ASYNC, nullptr), -EINVAL);
}

TEST_F(Flips, ADpmsOffCrtcRefusesFlips)
{
    lightPanel();
    const uint32_t next = addFb(createDumb(1024, 768), 1024, 768);
    drmModeObjectProperties *props =
        drmModeObjectGetProperties(fd, connectorId(), DRM_MODE_OBJECT_CONNECTOR);
    uint32_t dpms = 0;
    for (uint32_t i = 0; i < props->count_props; ++i) {
        drmModePropertyRes *p = drmModeGetProperty(fd, props->props[i]);
        if (std::string(p->name) == "DPMS")
            dpms = p->prop_id;
        drmModeFreeProperty(p);
    }
    drmModeFreeObjectProperties(props);
    ASSERT_EQ(drmModeConnectorSetProperty(fd, connectorId(), dpms, DRM_MODE_DPMS_OFF), 0);
    EXPECT_EQ(drmModePageFlip(fd, crtcId(), next, DRM_MODE_PAGE_FLIP_EVENT, nullptr), -EINVAL);
}

TEST_F(Flips, RemovingAFramebufferAboutToBeShownCompletesTheFlipFirst)
{
    lightPanel();
    const uint32_t next = addFb(createDumb(1024, 768), 1024, 768);
    ASSERT_EQ(drmModePageFlip(fd, crtcId(), next, DRM_MODE_PAGE_FLIP_EVENT, &delivered), 0);
    ASSERT_EQ(drmModeRmFB(fd, next), 0);
    ASSERT_TRUE(readable());
    handleEvents();
    EXPECT_EQ(delivered.flips, 1);
    EXPECT_NE(command("crtcs").find("active=0 fb=0"), std::string::npos);
}

// As the kernel's plane state does: GETCRTC and GETPLANE name the flip's
// framebuffer as soon as the flip is accepted, while the panel keeps the old
// one until the vblank; removing the old one then leaves the CRTC lit.
TEST_F(Flips, TheCrtcStateNamesAFlipsFramebufferFromTheMomentItIsAccepted)
{
    const uint32_t first = lightPanel();
    const uint32_t second = addFb(createDumb(1024, 768), 1024, 768);
    ASSERT_EQ(drmModePageFlip(fd, crtcId(), second, DRM_MODE_PAGE_FLIP_EVENT, &delivered), 0);

    drmModeCrtc *crtc = drmModeGetCrtc(fd, crtcId());
    ASSERT_NE(crtc, nullptr);
    EXPECT_EQ(crtc->buffer_id, second);
    drmModeFreeCrtc(crtc);
    ASSERT_EQ(drmSetClientCap(fd, DRM_CLIENT_CAP_UNIVERSAL_PLANES, 1), 0);
    drmModePlaneRes *planes = drmModeGetPlaneResources(fd);
    ASSERT_NE(planes, nullptr);
    ASSERT_GE(planes->count_planes, 1u);
    drmModePlane *plane = drmModeGetPlane(fd, planes->planes[0]);
    ASSERT_NE(plane, nullptr);
    EXPECT_EQ(plane->fb_id, second);
    drmModeFreePlane(plane);
    drmModeFreePlaneResources(planes);
    EXPECT_NE(command("crtcs").find("fb=" + std::to_string(first)), std::string::npos);

    ASSERT_EQ(drmModeRmFB(fd, first), 0);
    EXPECT_FALSE(readable());
    ASSERT_TRUE(succeeds("vblank 1"));
    handleEvents();
    EXPECT_EQ(delivered.flips, 1);
    EXPECT_NE(command("crtcs").find("active=1 fb=" + std::to_string(second)), std::string::npos);
}

TEST_F(Flips, RelativeVblankWaitsDeliverTheirEventWhenDue)
{
    lightPanel(); // the counter steps to 1
    EXPECT_EQ(requestVblankEvent(2), 3u);
    ASSERT_TRUE(succeeds("vblank 1"));
    EXPECT_FALSE(readable());
    ASSERT_TRUE(succeeds("vblank 1"));
    ASSERT_TRUE(readable());
    handleEvents();
    EXPECT_EQ(delivered.vblanks, 1);
    EXPECT_EQ(delivered.sequence, 3u);
}

// Switching the CRTC off ends its vblank events at once, with the count
// reached so far, as the kernel does when a CRTC's vblanks stop.
TEST_F(Flips, AVblankEventEndsEarlyWhenItsCrtcIsSwitchedOff)
{
    lightPanel();
    requestVblankEvent(10);
    ASSERT_TRUE(succeeds("vblank 1"));
    EXPECT_FALSE(readable());

    ASSERT_EQ(drmModeSetCrtc(fd, crtcId(), 0, 0, 0, nullptr, 0, nullptr), 0);
    ASSERT_TRUE(readable());
    handleEvents();
    EXPECT_EQ(delivered.vblanks, 1);
    EXPECT_EQ(delivered.sequence, 2u);
}

TEST_F(Flips, QueuedSequencesDeliverTheirEventWhenDue)
{
    lightPanel();
    uint64_t queued = 0;
    ASSERT_EQ(drmCrtcQueueSequence(fd, crtcId(), DRM_CRTC_SEQUENCE_RELATIVE, 1, &queued,
                                   reinterpret_cast<uint64_t>(&delivered)),
              0);
    EXPECT_EQ(queued, 2u);
    ASSERT_TRUE(succeeds("vblank 1"));
    handleEvents();
    EXPECT_EQ(delivered.sequences, 1);
    uint64_t now = 0, ns = 0;
    ASSERT_EQ(drmCrtcGetSequence(fd, crtcId(), &now, &ns), 0);
    EXPECT_EQ(now, 2u);
}

TEST_F(Flips, VblankWaitsOnAnUnlitCrtcAreRefused)
{
    drmVBlank vbl{};
    vbl.request.type = DRM_VBLANK_RELATIVE;
    vbl.request.sequence = 1;
    EXPECT_EQ(drmWaitVBlank(fd, &vbl), -1);
    EXPECT_EQ(errno, EINVAL);
}

TEST_F(Flips, WithTheClockRunningAFlipCompletesByItself)
{
    configure("[device]\nvblank = 60hz\n");
    lightPanel();
    const uint32_t next = addFb(createDumb(1024, 768), 1024, 768);
    ASSERT_EQ(drmModePageFlip(fd, crtcId(), next, DRM_MODE_PAGE_FLIP_EVENT, &delivered), 0);
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 5000), 1);
    handleEvents();
    EXPECT_EQ(delivered.flips, 1);
}

TEST_F(Flips, TheVblankClockRunsByItselfUnlessManual)
{
    configure("[device]\nvblank = 60hz\n");
    lightPanel();
    drmVBlank vbl{};
    vbl.request.type = DRM_VBLANK_RELATIVE;
    vbl.request.sequence = 2;
    ASSERT_EQ(drmWaitVBlank(fd, &vbl), 0); // blocks until two vblanks have passed
    EXPECT_GE(counter("vblanks"), 2u);
}

} // namespace
} // namespace qelsim::test
