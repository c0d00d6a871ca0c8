// SPDX-License-Identifier: MIT
// Framebuffers: ADDFB, ADDFB2, RMFB, DIRTYFB and GETFB.
#include "ioctl_handlers.h"

#include "crtc_state.h"
#include "framebuffer_check.h"

#include <algorithm>
#include <drm_fourcc.h>

namespace qelsim {
namespace {

constexpr uint32_t maxDirtyClips = 256;

// drm_driver_legacy_fb_format() for the formats the plane scans out.
uint32_t legacyFormat(uint32_t bpp, uint32_t depth)
{
    if (bpp == 32 && depth == 24)
        return DRM_FORMAT_XRGB8888;
    if (bpp == 32 && depth == 32)
        return DRM_FORMAT_ARGB8888;
    return 0;
}

bool isScanoutFormat(uint32_t format)
{
    return format == DRM_FORMAT_XRGB8888 || format == DRM_FORMAT_ARGB8888;
}

} // namespace

int checkFramebuffer(IoctlCall &call, const drm_mode_fb_cmd2 &r, BufferRef &buffer)
{
    const DeviceDescription &d = call.device.description;
    if (r.flags & ~(DRM_MODE_FB_INTERLACED | DRM_MODE_FB_MODIFIERS))
        return -EINVAL;
    if (r.width < d.minWidth || r.width > d.maxWidth || r.height < d.minHeight ||
        r.height > d.maxHeight)
        return -EINVAL;
    if (r.flags & DRM_MODE_FB_MODIFIERS)
        return -EINVAL;
    if (!isScanoutFormat(r.pixel_format) || r.width == 0 || r.height == 0)
        return -EINVAL;
    if (!r.handles[0])
        return -EINVAL;
    if (uint64_t{r.height} * r.pitches[0] + r.offsets[0] > UINT32_MAX)
        return -ERANGE;
    if (r.pitches[0] < uint64_t{r.width} * 4)
        return -EINVAL;
    for (int i = 1; i < 4; ++i)
        if (r.handles[i] || r.pitches[i] || r.offsets[i])
            return -EINVAL;
    buffer = call.device.findBuffer(*call.file, r.handles[0]);
    if (!buffer)
        return -ENOENT;
    const uint64_t needed =
        uint64_t{r.height - 1} * r.pitches[0] + uint64_t{r.width} * 4 + r.offsets[0];
    return buffer->mapSize < needed ? -EINVAL : 0;
}

namespace {

int createFramebuffer(IoctlCall &call, drm_mode_fb_cmd2 &r)
{
    BufferRef buffer;
    if (int err = checkFramebuffer(call, r, buffer))
        return err;
    auto fb = std::make_shared<Framebuffer>();
    fb->id = call.device.freeObjectId();
    fb->width = r.width;
    fb->height = r.height;
    fb->pitch = r.pitches[0];
    fb->format = r.pixel_format;
    fb->buffer = std::move(buffer);
    call.device.framebuffers[fb->id] = fb;
    call.file->framebuffers.push_back(fb->id);
    r.fb_id = fb->id;
    return 0;
}

bool ownedBy(const DrmFile &file, uint32_t fbId)
{
    return std::find(file.framebuffers.begin(), file.framebuffers.end(), fbId) !=
           file.framebuffers.end();
}

} // namespace

int ioctlAddFb(IoctlCall &call, void *arg)
{
    auto *r = static_cast<drm_mode_fb_cmd *>(arg);
    drm_mode_fb_cmd2 r2{};
    r2.width = r->width;
    r2.height = r->height;
    r2.pixel_format = legacyFormat(r->bpp, r->depth);
    r2.handles[0] = r->handle;
    r2.pitches[0] = r->pitch;
    if (!r2.pixel_format)
        return -EINVAL;
    const int err = createFramebuffer(call, r2);
    r->fb_id = r2.fb_id;
    return err;
}

int ioctlAddFb2(IoctlCall &call, void *arg)
{
    return createFramebuffer(call, *static_cast<drm_mode_fb_cmd2 *>(arg));
}

int ioctlRmFb(IoctlCall &call, void *arg)
{
    const uint32_t fbId = *static_cast<uint32_t *>(arg);
    DrmFile &file = *call.file;
    if (!call.device.findFramebuffer(fbId) || !ownedBy(file, fbId))
        return -ENOENT;
    std::erase(file.framebuffers, fbId);
    removeFramebuffer(call.device, fbId);
    return 0;
}

// The device scans out of memory, so flushing damage has nothing to do;
// the arguments are still checked as the kernel does.
int ioctlDirtyFb(IoctlCall &call, void *arg)
{
    const auto *r = static_cast<drm_mode_fb_dirty_cmd *>(arg);
    if (!call.device.findFramebuffer(r->fb_id))
        return -ENOENT;
    if (!r->num_clips != !r->clips_ptr)
        return -EINVAL;
    if (r->flags & ~DRM_MODE_FB_DIRTY_FLAGS)
        return -EINVAL;
    if ((r->flags & DRM_MODE_FB_DIRTY_ANNOTATE_COPY) && (r->num_clips % 2))
        return -EINVAL;
    if (r->num_clips > maxDirtyClips)
        return -EINVAL;
    return 0;
}

// Hands the caller a new handle to the framebuffer's buffer, as the
// kernel does for the master.
int ioctlGetFb(IoctlCall &call, void *arg)
{
    auto *r = static_cast<drm_mode_fb_cmd *>(arg);
    const FramebufferRef fb = call.device.findFramebuffer(r->fb_id);
    if (!fb)
        return -ENOENT;
    r->width = fb->width;
    r->height = fb->height;
    r->pitch = fb->pitch;
    r->bpp = 32;
    r->depth = fb->format == DRM_FORMAT_ARGB8888 ? 32 : 24;
    r->handle = 0;
    if (call.device.isMaster(*call.file)) {
        r->handle = call.file->freeHandle();
        call.file->handles[r->handle] = fb->buffer;
    }
    return 0;
}

} // namespace qelsim
