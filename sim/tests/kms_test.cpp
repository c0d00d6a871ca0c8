// SPDX-License-Identifier: MIT
// Mode setting through libdrm: resources and connectors as described,
// CRTCs on and off, framebuffers, properties and gamma.
#include "sim_fixture.h"

#include <cerrno>
#include <cstring>
#include <drm_fourcc.h>

namespace qelsim::test {
namespace {

using Kms = SimTest;

const char *twoHeads = R"(
[device]
vblank = manual
min_size = 0x0
max_size = 0x0
[crtc]
gamma_size = 256
[crtc]
gamma_size = 0
[connector]
type = HDMI-A
type_id = 2
status = disconnected
mm = 0x0
modes = 1920x1080@60
edid = no
[connector]
type = VGA
modes =
)";

TEST_F(Kms, ResourcesFollowTheDescription)
{
    configure(twoHeads);
    drmModeRes *res = drmModeGetResources(fd);
    ASSERT_NE(res, nullptr);
    EXPECT_EQ(res->count_crtcs, 2);
    EXPECT_EQ(res->count_connectors, 2);
    EXPECT_EQ(res->count_encoders, 2);
    EXPECT_EQ(res->count_fbs, 0);
    EXPECT_EQ(res->min_width, 0u);
    EXPECT_EQ(res->max_width, 0u);
    // Ids are handed out in order: CRTCs before encoders before connectors.
    EXPECT_LT(res->crtcs[0], res->crtcs[1]);
    EXPECT_LT(res->crtcs[1], res->encoders[0]);
    EXPECT_LT(res->encoders[1], res->connectors[0]);

    drmModeConnector *hdmi = drmModeGetConnector(fd, res->connectors[0]);
    EXPECT_EQ(hdmi->connector_type, uint32_t{DRM_MODE_CONNECTOR_HDMIA});
    EXPECT_EQ(hdmi->connector_type_id, 2u);
    EXPECT_EQ(hdmi->connection, DRM_MODE_DISCONNECTED);
    EXPECT_EQ(hdmi->count_modes, 0); // no modes while disconnected
    drmModeConnector *vga = drmModeGetConnector(fd, res->connectors[1]);
    EXPECT_EQ(vga->connection, DRM_MODE_CONNECTED);
    EXPECT_EQ(vga->count_modes, 0);
    ASSERT_EQ(vga->count_encoders, 1);
    drmModeEncoder *enc = drmModeGetEncoder(fd, vga->encoders[0]);
    EXPECT_EQ(enc->encoder_type, uint32_t{DRM_MODE_ENCODER_DAC});
    EXPECT_EQ(enc->possible_crtcs, 3u);
    EXPECT_EQ(enc->crtc_id, 0u);
    drmModeFreeEncoder(enc);
    drmModeFreeConnector(hdmi);
    drmModeFreeConnector(vga);
    drmModeFreeResources(res);
}

TEST_F(Kms, ConnectorModesAreCvtTimingsWithThePreferredFirst)
{
    drmModeConnector *c = drmModeGetConnector(fd, connectorId());
    ASSERT_EQ(c->count_modes, 2);
    const drmModeModeInfo &m = c->modes[0];
    EXPECT_STREQ(m.name, "1024x768");
    EXPECT_TRUE(m.type & DRM_MODE_TYPE_PREFERRED);
    EXPECT_FALSE(c->modes[1].type & DRM_MODE_TYPE_PREFERRED);
    // What `cvt 1024 768 60` prints.
    EXPECT_EQ(m.clock, 63500u);
    EXPECT_EQ(m.hsync_start, 1072u);
    EXPECT_EQ(m.htotal, 1328u);
    EXPECT_EQ(m.vsync_end, 775u);
    EXPECT_EQ(m.vtotal, 798u);
    EXPECT_EQ(m.vrefresh, 60u);
    EXPECT_EQ(c->mmWidth, 154u);
    drmModeFreeConnector(c);
}

TEST_F(Kms, ConnectorCarriesDpmsAndAnEdidBlob)
{
    drmModeConnector *c = drmModeGetConnector(fd, connectorId());
    bool sawDpms = false, sawEdid = false;
    for (int i = 0; i < c->count_props; ++i) {
        drmModePropertyRes *p = drmModeGetProperty(fd, c->props[i]);
        if (std::strcmp(p->name, "DPMS") == 0) {
            sawDpms = true;
            EXPECT_TRUE(p->flags & DRM_MODE_PROP_ENUM);
            EXPECT_EQ(p->count_enums, 4);
            EXPECT_EQ(c->prop_values[i], uint64_t{DRM_MODE_DPMS_ON});
        }
        if (std::strcmp(p->name, "EDID") == 0) {
            sawEdid = true;
            drmModePropertyBlobRes *blob = drmModeGetPropertyBlob(fd, c->prop_values[i]);
            ASSERT_NE(blob, nullptr);
            ASSERT_EQ(blob->length, 128u);
            const auto *bytes = static_cast<const uint8_t *>(blob->data);
            uint8_t sum = 0;
            for (int b = 0; b < 128; ++b)
                sum = static_cast<uint8_t>(sum + bytes[b]);
            EXPECT_EQ(sum, 0);
            EXPECT_EQ(bytes[1], 0xff);
            drmModeFreePropertyBlob(blob);
        }
        drmModeFreeProperty(p);
    }
    EXPECT_TRUE(sawDpms);
    EXPECT_TRUE(sawEdid);
    drmModeFreeConnector(c);
}

TEST_F(Kms, UnknownIdsAreNotFound)
{
    EXPECT_EQ(drmModeGetCrtc(fd, 999), nullptr);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(drmModeGetConnector(fd, 999), nullptr);
    EXPECT_EQ(drmModeGetEncoder(fd, 999), nullptr);
    EXPECT_EQ(drmModeGetProperty(fd, 999), nullptr);
    EXPECT_EQ(drmModeRmFB(fd, 999), -ENOENT);
}

TEST_F(Kms, SetCrtcRecordsWhatTheCrtcShowsAndOffSwitchesItOff)
{
    const uint32_t fbId = lightPanel();
    drmModeCrtc *crtc = drmModeGetCrtc(fd, crtcId());
    EXPECT_EQ(crtc->buffer_id, fbId);
    EXPECT_TRUE(crtc->mode_valid);
    EXPECT_EQ(crtc->mode.hdisplay, 1024);
    EXPECT_EQ(crtc->gamma_size, 256);
    drmModeFreeCrtc(crtc);
    const std::string on = command("crtcs");
    EXPECT_NE(on.find("active=1 fb=" + std::to_string(fbId) +
                      " x=0 y=0 mode=1024x768 connectors=" + std::to_string(connectorId())),
              std::string::npos)
        << on;

    ASSERT_EQ(drmModeSetCrtc(fd, crtcId(), 0, 0, 0, nullptr, 0, nullptr), 0);
    crtc = drmModeGetCrtc(fd, crtcId());
    EXPECT_EQ(crtc->buffer_id, 0u);
    EXPECT_FALSE(crtc->mode_valid);
    drmModeFreeCrtc(crtc);
    EXPECT_NE(command("crtcs").find("active=0 fb=0"), std::string::npos);
}

TEST_F(Kms, SetCrtcChecksItsArgumentsAsTheKernelDoes)
{
    const Dumb small = createDumb(800, 600);
    const uint32_t smallFb = addFb(small, 800, 600);
    drmModeConnector *c = drmModeGetConnector(fd, connectorId());
    uint32_t conn = c->connector_id;
    drmModeModeInfo big = c->modes[0], little = c->modes[1];
    drmModeFreeConnector(c);

    EXPECT_EQ(drmModeSetCrtc(fd, crtcId(), smallFb, 0, 0, &conn, 1, &big), -ENOSPC);
    EXPECT_EQ(drmModeSetCrtc(fd, crtcId(), smallFb, 1, 0, &conn, 1, &little), -ENOSPC);
    EXPECT_EQ(drmModeSetCrtc(fd, crtcId(), smallFb, 0, 0, nullptr, 0, &little), -EINVAL);
    EXPECT_EQ(drmModeSetCrtc(fd, crtcId(), 0, 0, 0, &conn, 1, nullptr), -EINVAL);
    EXPECT_EQ(drmModeSetCrtc(fd, crtcId(), 4242, 0, 0, &conn, 1, &little), -ENOENT);
    uint32_t noConn = 4242;
    EXPECT_EQ(drmModeSetCrtc(fd, crtcId(), smallFb, 0, 0, &noConn, 1, &little), -ENOENT);
    EXPECT_EQ(drmModeSetCrtc(fd, 4242, smallFb, 0, 0, &conn, 1, &little), -ENOENT);
    EXPECT_EQ(drmModeSetCrtc(fd, crtcId(), smallFb, 0, 0, &conn, 1, &little), 0);
    EXPECT_EQ(counter("setcrtc_calls"), 8u);
}

TEST_F(Kms, RemovingTheShownFramebufferSwitchesTheCrtcOff)
{
    const uint32_t fbId = lightPanel();
    EXPECT_EQ(counter("live_framebuffers"), 1u);
    ASSERT_EQ(drmModeRmFB(fd, fbId), 0);
    EXPECT_EQ(counter("live_framebuffers"), 0u);
    drmModeCrtc *crtc = drmModeGetCrtc(fd, crtcId());
    EXPECT_EQ(crtc->buffer_id, 0u);
    EXPECT_FALSE(crtc->mode_valid);
    drmModeFreeCrtc(crtc);
}

TEST_F(Kms, FramebuffersAreCheckedAgainstTheirBuffer)
{
    const Dumb b = createDumb(100, 100);
    uint32_t fbId;
    EXPECT_EQ(drmModeAddFB(fd, 100, 101, 24, 32, b.pitch, b.handle, &fbId), -EINVAL);
    EXPECT_EQ(drmModeAddFB(fd, 100, 100, 24, 32, 396, b.handle, &fbId), -EINVAL);
    EXPECT_EQ(drmModeAddFB(fd, 100, 100, 16, 16, b.pitch, b.handle, &fbId), -EINVAL);
    EXPECT_EQ(drmModeAddFB(fd, 100, 100, 24, 32, b.pitch, 4242, &fbId), -ENOENT);
    EXPECT_EQ(drmModeAddFB(fd, 0, 100, 24, 32, b.pitch, b.handle, &fbId), -EINVAL);

    uint32_t handles[4] = {b.handle}, pitches[4] = {b.pitch}, offsets[4] = {};
    EXPECT_EQ(drmModeAddFB2(fd, 100, 100, DRM_FORMAT_ARGB8888, handles, pitches, offsets, &fbId, 0),
              0);
    EXPECT_EQ(drmModeAddFB2(fd, 100, 100, DRM_FORMAT_RGB565, handles, pitches, offsets, &fbId, 0),
              -EINVAL);
}

TEST_F(Kms, FramebuffersAreListedOnlyToTheirOwner)
{
    addFb(createDumb(64, 64), 64, 64);
    drmModeRes *mine = drmModeGetResources(fd);
    EXPECT_EQ(mine->count_fbs, 1);
    drmModeFreeResources(mine);
    const int other = openDevice();
    drmModeRes *theirs = drmModeGetResources(other);
    EXPECT_EQ(theirs->count_fbs, 0);
    drmModeFreeResources(theirs);
}

TEST_F(Kms, ClosingTheLastDescriptorReleasesTheFilesObjects)
{
    lightPanel();
    const uint32_t crtc0 = crtcId();
    const int copy = dup(fd);
    ASSERT_GE(copy, 0);
    close(fd);
    EXPECT_EQ(counter("live_framebuffers"), 1u); // the copy keeps the file open
    drmModeCrtc *crtc = drmModeGetCrtc(copy, crtc0);
    ASSERT_NE(crtc, nullptr);
    drmModeFreeCrtc(crtc);
    close(copy);
    EXPECT_EQ(counter("live_framebuffers"), 0u);
    EXPECT_EQ(counter("live_dumb_buffers"), 0u);
    EXPECT_NE(command("crtcs").find("active=0 fb=0"), std::string::npos);
    fd = openDevice();
}

TEST_F(Kms, DpmsOffStopsScanoutAndOnResumesIt)
{
    lightPanel();
    drmModeConnector *c = drmModeGetConnector(fd, connectorId());
    uint32_t dpms = 0;
    for (int i = 0; i < c->count_props; ++i) {
        drmModePropertyRes *p = drmModeGetProperty(fd, c->props[i]);
        if (std::strcmp(p->name, "DPMS") == 0)
            dpms = p->prop_id;
        drmModeFreeProperty(p);
    }
    drmModeFreeConnector(c);
    ASSERT_NE(dpms, 0u);
    ASSERT_EQ(drmModeConnectorSetProperty(fd, connectorId(), dpms, DRM_MODE_DPMS_OFF), 0);
    EXPECT_NE(command("crtcs").find("active=0"), std::string::npos);
    EXPECT_EQ(drmModeConnectorSetProperty(fd, connectorId(), dpms, 7), -EINVAL);
    ASSERT_EQ(drmModeObjectSetProperty(fd, connectorId(), DRM_MODE_OBJECT_CONNECTOR, dpms,
                                       DRM_MODE_DPMS_ON),
              0);
    EXPECT_NE(command("crtcs").find("active=1"), std::string::npos);
}

TEST_F(Kms, GammaRoundTripsAndMustMatchTheCrtcsSize)
{
    std::vector<uint16_t> r(256), g(256), b(256);
    for (int i = 0; i < 256; ++i) {
        r[i] = static_cast<uint16_t>(i);
        g[i] = static_cast<uint16_t>(2 * i);
        b[i] = static_cast<uint16_t>(3 * i);
    }
    ASSERT_EQ(drmModeCrtcSetGamma(fd, crtcId(), 256, r.data(), g.data(), b.data()), 0);
    std::vector<uint16_t> r2(256), g2(256), b2(256);
    ASSERT_EQ(drmModeCrtcGetGamma(fd, crtcId(), 256, r2.data(), g2.data(), b2.data()), 0);
    EXPECT_EQ(r2, r);
    EXPECT_EQ(b2, b);
    EXPECT_EQ(drmModeCrtcSetGamma(fd, crtcId(), 255, r.data(), g.data(), b.data()), -EINVAL);
}

TEST_F(Kms, PrimaryPlanesAppearOnlyWithUniversalPlanes)
{
    drmModePlaneRes *planes = drmModeGetPlaneResources(fd);
    EXPECT_EQ(planes->count_planes, 0u);
    drmModeFreePlaneResources(planes);
    ASSERT_EQ(drmSetClientCap(fd, DRM_CLIENT_CAP_UNIVERSAL_PLANES, 1), 0);
    planes = drmModeGetPlaneResources(fd);
    ASSERT_EQ(planes->count_planes, 1u);
    drmModePlane *plane = drmModeGetPlane(fd, planes->planes[0]);
    EXPECT_EQ(plane->possible_crtcs, 1u);
    EXPECT_EQ(plane->count_formats, 2u);
    drmModeFreePlane(plane);
    drmModeFreePlaneResources(planes);
}

} // namespace
} // namespace qelsim::test
