// SPDX-License-Identifier: MIT
// The cursor planes behind the legacy cursor ioctls: what they accept and
// refuse as the kernel does, the state the `crtcs` request reports, and the
// blend that captures show.
#include "cursor_blend.h"
#include "sim_fixture.h"

#include <climits>

namespace qelsim::test {
namespace {

class Cursor : public SimTest {
protected:
    // The cursor= field of the CRTC's `crtcs` line.
    static std::string cursorState(size_t index = 0)
    {
        std::istringstream lines(command("crtcs"));
        std::string line;
        for (size_t i = 0; i <= index; ++i)
            std::getline(lines, line);
        const size_t at = line.find(" cursor=");
        return at == std::string::npos ? "" : line.substr(at + 8, line.find(' ', at + 1) - at - 8);
    }
};

TEST_F(Cursor, SetMoveAndHideDriveTheCrtcsPlane)
{
    lightPanel();
    const Dumb image = createDumb(64, 64);
    EXPECT_EQ(cursorState(), "hidden");

    ASSERT_EQ(drmModeSetCursor2(fd, crtcId(), image.handle, 64, 64, 3, 4), 0);
    EXPECT_EQ(cursorState(), "64x64@0,0");
    ASSERT_EQ(drmModeMoveCursor(fd, crtcId(), -10, 700), 0);
    EXPECT_EQ(cursorState(), "64x64@-10,700");
    ASSERT_EQ(drmModeSetCursor(fd, crtcId(), 0, 0, 0), 0);
    EXPECT_EQ(cursorState(), "hidden");
    // A hidden cursor still moves; a smaller image is shown where it is.
    ASSERT_EQ(drmModeMoveCursor(fd, crtcId(), 5, 6), 0);
    const Dumb small = createDumb(32, 32);
    ASSERT_EQ(drmModeSetCursor(fd, crtcId(), small.handle, 32, 32), 0);
    EXPECT_EQ(cursorState(), "32x32@5,6");

    // The plane keeps its image through the CRTC switched off and on.
    ASSERT_EQ(drmModeSetCrtc(fd, crtcId(), 0, 0, 0, nullptr, 0, nullptr), 0);
    lightPanel();
    EXPECT_EQ(cursorState(), "32x32@5,6");
    EXPECT_EQ(counter("cursor_sets"), 3u);
    EXPECT_EQ(counter("cursor_moves"), 2u);
}

TEST_F(Cursor, RefusalsAreTheKernelsAndLeaveThePlaneAlone)
{
    lightPanel();
    const Dumb image = createDumb(64, 64);
    const Dumb small = createDumb(32, 32);
    ASSERT_EQ(drmModeSetCursor(fd, crtcId(), image.handle, 64, 64), 0);

    drm_mode_cursor noFlags{};
    noFlags.crtc_id = crtcId();
    EXPECT_EQ(drmIoctl(fd, DRM_IOCTL_MODE_CURSOR, &noFlags), -1);
    EXPECT_EQ(errno, EINVAL);
    drm_mode_cursor unknownFlag = noFlags;
    unknownFlag.flags = DRM_MODE_CURSOR_MOVE | 0x80;
    EXPECT_EQ(drmIoctl(fd, DRM_IOCTL_MODE_CURSOR, &unknownFlag), -1);
    EXPECT_EQ(errno, EINVAL);

    EXPECT_EQ(drmModeSetCursor(fd, crtcId() + 1000, image.handle, 64, 64), -ENOENT);
    EXPECT_EQ(drmModeSetCursor(fd, crtcId(), 77, 64, 64), -ENOENT);
    EXPECT_EQ(drmModeSetCursor(fd, crtcId(), image.handle, 0, 64), -EINVAL);
    EXPECT_EQ(drmModeSetCursor(fd, crtcId(), small.handle, 64, 64), -EINVAL); // buffer too small
    const Dumb large = createDumb(65, 64);
    EXPECT_EQ(drmModeSetCursor(fd, crtcId(), large.handle, 65, 64), -EINVAL); // beyond the plane
    EXPECT_EQ(drmModeMoveCursor(fd, crtcId(), INT_MAX - 10, 0), -ERANGE);

    EXPECT_EQ(cursorState(), "64x64@0,0");
    EXPECT_EQ(counter("cursor_sets"), 1u);
    EXPECT_EQ(counter("cursor_moves"), 0u);
}

// A CRTC without a cursor plane takes the legacy path without cursor
// hooks; the size caps still report the kernel's default.
TEST_F(Cursor, ACrtcWithoutACursorPlaneRefusesBoWithEnxioAndMoveWithEfault)
{
    configure("[crtc]\ncursor = none\n[crtc]\ncursor = 256x128\n[connector]\n");
    const Dumb image = createDumb(64, 64);
    EXPECT_EQ(drmModeSetCursor(fd, crtcId(), 0, 0, 0), -ENXIO);
    EXPECT_EQ(drmModeSetCursor2(fd, crtcId(), image.handle, 64, 64, 0, 0), -ENXIO);
    EXPECT_EQ(drmModeMoveCursor(fd, crtcId(), 1, 1), -EFAULT);
    EXPECT_EQ(cursorState(0), "none");
    EXPECT_EQ(cursorState(1), "hidden");

    uint64_t width = 0, height = 0;
    ASSERT_EQ(drmGetCap(fd, DRM_CAP_CURSOR_WIDTH, &width), 0);
    ASSERT_EQ(drmGetCap(fd, DRM_CAP_CURSOR_HEIGHT, &height), 0);
    EXPECT_EQ(width, 256u);
    EXPECT_EQ(height, 128u);
    configure("[crtc]\ncursor = none\n[connector]\n");
    ASSERT_EQ(drmGetCap(fd, DRM_CAP_CURSOR_WIDTH, &width), 0);
    EXPECT_EQ(width, 64u);
}

// Premultiplied ARGB over the picture, clipped to it where the image lies
// partly off the CRTC.
TEST(CursorBlend, PremultipliedPixelsAreBlendedAndClipped)
{
    auto buffer = std::make_shared<Buffer>();
    std::vector<uint32_t> pixels = {0xff102030, 0x80400000, 0x00000000, 0x7f7f7f7f};
    buffer->pixels = reinterpret_cast<uint8_t *>(pixels.data());
    CursorPlane plane;
    plane.maxWidth = plane.maxHeight = 64;
    plane.buffer = buffer;
    plane.width = plane.height = 2;
    plane.x = -1;
    plane.y = 1;

    Image picture{2, 3, false, std::vector<uint8_t>(2 * 3 * 3, 200)};
    blendCursor(picture, plane);
    // Column 0 of the picture shows column 1 of the image, rows 1 and 2.
    const uint8_t expected[] = {
        200,        200,        200,        200, 200, 200, 0x40 + 100,
        100,        100,        200,        200, 200, // 0x80400000 over 200: 64 + 200 * 127 / 255
        0x7f + 100, 0x7f + 100, 0x7f + 100, 200, 200, 200,
    };
    EXPECT_EQ(std::vector<uint8_t>(std::begin(expected), std::end(expected)), picture.bytes);
    buffer->pixels = nullptr;
}

} // namespace
} // namespace qelsim::test
