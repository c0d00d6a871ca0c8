// SPDX-License-Identifier: MIT
// The legacy cursor ioctls, CURSOR and CURSOR2, as the kernel (6.1) serves
// them for a CRTC with a cursor plane (drm_mode_cursor_universal): the
// buffer is wrapped in an ARGB8888 framebuffer of width * 4 bytes a row,
// checked as ADDFB2 checks one, then set on the plane with the plane's own
// checks. A CRTC without a cursor plane takes the legacy path, where a
// driver without cursor hooks refuses BO with ENXIO and MOVE with EFAULT.
#include "ioctl_handlers.h"

#include "framebuffer_check.h"

#include <climits>
#include <drm_fourcc.h>

namespace qelsim {
namespace {

// What a call leaves on the plane once every check has passed.
struct CursorUpdate {
    BufferRef buffer;
    uint32_t width = 0, height = 0;
    int32_t x = 0, y = 0;
};

// DRM_MODE_CURSOR_BO: the new image, or none for handle 0 (hide).
int newImage(IoctlCall &call, const drm_mode_cursor2 &r, CursorUpdate &update)
{
    if (r.handle == 0)
        return 0;
    drm_mode_fb_cmd2 wrap{};
    wrap.width = r.width;
    wrap.height = r.height;
    wrap.pixel_format = DRM_FORMAT_ARGB8888;
    wrap.pitches[0] = r.width * 4; // 32-bit arithmetic, as the kernel's
    wrap.handles[0] = r.handle;
    if (int err = checkFramebuffer(call, wrap, update.buffer))
        return err;
    update.width = r.width;
    update.height = r.height;
    return 0;
}

// __setplane_check()'s guard against overflow, then the plane's own limit.
int checkPlacement(const CursorPlane &plane, const CursorUpdate &u)
{
    if (!u.buffer)
        return 0;
    if (u.width > INT_MAX || u.x > INT_MAX - static_cast<int32_t>(u.width) || u.height > INT_MAX ||
        u.y > INT_MAX - static_cast<int32_t>(u.height))
        return -ERANGE;
    if (u.width > plane.maxWidth || u.height > plane.maxHeight)
        return -EINVAL;
    return 0;
}

int updateCursor(IoctlCall &call, const drm_mode_cursor2 &r)
{
    if (!r.flags || (r.flags & ~DRM_MODE_CURSOR_FLAGS))
        return -EINVAL;
    Crtc *crtc = call.device.findCrtc(r.crtc_id);
    if (!crtc)
        return -ENOENT;
    CursorPlane &plane = crtc->cursor;
    if (!plane.present())
        return (r.flags & DRM_MODE_CURSOR_BO) ? -ENXIO : -EFAULT;

    const bool setsImage = r.flags & DRM_MODE_CURSOR_BO;
    const bool moves = r.flags & DRM_MODE_CURSOR_MOVE;
    CursorUpdate update{plane.buffer, plane.width, plane.height, plane.x, plane.y};
    if (setsImage) {
        update = CursorUpdate{nullptr, 0, 0, plane.x, plane.y};
        if (int err = newImage(call, r, update))
            return err;
    }
    if (moves) {
        update.x = r.x;
        update.y = r.y;
    }
    if (int err = checkPlacement(plane, update))
        return err;

    plane.buffer = std::move(update.buffer);
    plane.width = update.width;
    plane.height = update.height;
    plane.x = update.x;
    plane.y = update.y;
    call.device.hooks.cursorCalled(setsImage, moves);
    return 0;
}

} // namespace

// CURSOR is CURSOR2 without a hotspot.
int ioctlCursor(IoctlCall &call, void *arg)
{
    const auto *r = static_cast<drm_mode_cursor *>(arg);
    drm_mode_cursor2 full{};
    full.flags = r->flags;
    full.crtc_id = r->crtc_id;
    full.x = r->x;
    full.y = r->y;
    full.width = r->width;
    full.height = r->height;
    full.handle = r->handle;
    return updateCursor(call, full);
}

int ioctlCursor2(IoctlCall &call, void *arg)
{
    return updateCursor(call, *static_cast<drm_mode_cursor2 *>(arg));
}

} // namespace qelsim
