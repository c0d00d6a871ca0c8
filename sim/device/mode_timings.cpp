// SPDX-License-Identifier: MIT
#include "mode_timings.h"

#include <cstdio>
#include <cstdlib>
#include <libxcvt/libxcvt.h>

namespace qelsim {
namespace {

// The kernel's drm_mode_vrefresh(): clock in kHz over the frame size.
uint32_t refreshOf(const drm_mode_modeinfo &m)
{
    const uint64_t frame = static_cast<uint64_t>(m.htotal) * m.vtotal;
    if (frame == 0)
        return 0;
    return static_cast<uint32_t>((static_cast<uint64_t>(m.clock) * 1000 + frame / 2) / frame);
}

} // namespace

drm_mode_modeinfo cvtMode(const ModeRequest &request, bool preferred)
{
    libxcvt_mode_info *info =
        libxcvt_gen_mode_info(static_cast<int>(request.width), static_cast<int>(request.height),
                              static_cast<float>(request.refresh), false, false);
    drm_mode_modeinfo m{};
    m.clock = static_cast<uint32_t>(info->dot_clock);
    m.hdisplay = static_cast<uint16_t>(info->hdisplay);
    m.hsync_start = info->hsync_start;
    m.hsync_end = info->hsync_end;
    m.htotal = info->htotal;
    m.vdisplay = static_cast<uint16_t>(info->vdisplay);
    m.vsync_start = info->vsync_start;
    m.vsync_end = info->vsync_end;
    m.vtotal = info->vtotal;
    // libxcvt's sync flags share the kernel's bit values.
    m.flags = static_cast<uint32_t>(info->mode_flags);
    m.type = DRM_MODE_TYPE_DRIVER | (preferred ? DRM_MODE_TYPE_PREFERRED : 0);
    m.vrefresh = refreshOf(m);
    std::snprintf(m.name, sizeof m.name, "%ux%u", request.width, request.height);
    std::free(info);
    return m;
}

int64_t frameDurationNs(const drm_mode_modeinfo &m)
{
    if (m.clock == 0)
        return 0;
    const uint64_t frame = static_cast<uint64_t>(m.htotal) * m.vtotal;
    int64_t ns = static_cast<int64_t>(frame * 1'000'000 / m.clock);
    // A field of an interlaced mode is half a frame.
    if (m.flags & DRM_MODE_FLAG_INTERLACE)
        ns /= 2;
    return ns;
}

bool sameTimings(const drm_mode_modeinfo &a, const drm_mode_modeinfo &b)
{
    return a.clock == b.clock && a.hdisplay == b.hdisplay && a.hsync_start == b.hsync_start &&
           a.hsync_end == b.hsync_end && a.htotal == b.htotal && a.hskew == b.hskew &&
           a.vdisplay == b.vdisplay && a.vsync_start == b.vsync_start &&
           a.vsync_end == b.vsync_end && a.vtotal == b.vtotal && a.vscan == b.vscan &&
           a.flags == b.flags;
}

} // namespace qelsim
