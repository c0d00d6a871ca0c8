// SPDX-License-Identifier: MIT
// Read-only KMS queries: resources, CRTCs, encoders, connectors, planes.
#include "ioctl_handlers.h"

#include "property_lists.h"

#include <drm_fourcc.h>

#include <vector>

namespace qelsim {
namespace {

constexpr uint32_t subpixelUnknown = 1;
const uint32_t supportedFormats[] = {DRM_FORMAT_XRGB8888, DRM_FORMAT_ARGB8888};

// Resource arrays are copied as far as the caller's count allows; the
// count then says how many there are.
int putIds(uint64_t userPtr, uint32_t &count, const std::vector<uint32_t> &ids)
{
    const size_t n = std::min<size_t>(count, ids.size());
    count = static_cast<uint32_t>(ids.size());
    return copyToUser(userPtr, ids.data(), n);
}

uint32_t allCrtcsMask(const Device &d)
{
    return d.crtcs.size() >= 32 ? ~0u : (1u << d.crtcs.size()) - 1;
}

} // namespace

int ioctlGetResources(IoctlCall &call, void *arg)
{
    auto *r = static_cast<drm_mode_card_res *>(arg);
    Device &d = call.device;
    std::vector<uint32_t> fbs(call.file->framebuffers), crtcs, connectors, encoders;
    for (const auto &c : d.crtcs)
        crtcs.push_back(c.id);
    for (const auto &c : d.connectors)
        connectors.push_back(c.id);
    for (const auto &e : d.encoders)
        encoders.push_back(e.id);
    int err = putIds(r->fb_id_ptr, r->count_fbs, fbs);
    err = err ? err : putIds(r->crtc_id_ptr, r->count_crtcs, crtcs);
    err = err ? err : putIds(r->connector_id_ptr, r->count_connectors, connectors);
    err = err ? err : putIds(r->encoder_id_ptr, r->count_encoders, encoders);
    r->min_width = d.description.minWidth;
    r->min_height = d.description.minHeight;
    r->max_width = d.description.maxWidth;
    r->max_height = d.description.maxHeight;
    return err;
}

int ioctlGetCrtc(IoctlCall &call, void *arg)
{
    auto *r = static_cast<drm_mode_crtc *>(arg);
    const Crtc *c = call.device.findCrtc(r->crtc_id);
    if (!c)
        return -ENOENT;
    r->gamma_size = c->gammaSize;
    const FramebufferRef &fb = committedFramebuffer(*c);
    r->fb_id = fb ? fb->id : 0;
    r->x = c->x;
    r->y = c->y;
    r->mode_valid = c->enabled;
    r->mode = c->enabled ? c->mode : drm_mode_modeinfo{};
    return 0;
}

int ioctlGetEncoder(IoctlCall &call, void *arg)
{
    auto *r = static_cast<drm_mode_get_encoder *>(arg);
    const Encoder *e = call.device.findEncoder(r->encoder_id);
    if (!e)
        return -ENOENT;
    size_t index = 0;
    while (call.device.encoders[index].id != e->id)
        ++index;
    r->encoder_type = e->type;
    r->crtc_id = e->crtcId;
    r->possible_crtcs = allCrtcsMask(call.device);
    r->possible_clones = 1u << index;
    return 0;
}

// The kernel's two-call protocol: arrays are filled only when the caller's
// counts are large enough for all of them; counts always come back. A
// disconnected connector has no modes.
int ioctlGetConnector(IoctlCall &call, void *arg)
{
    auto *r = static_cast<drm_mode_get_connector *>(arg);
    Device &d = call.device;
    // A connector the kernel cannot probe at the moment answers as if gone.
    if (d.hooks.failGetConnector())
        return -ENOENT;
    const Connector *c = d.findConnector(r->connector_id);
    if (!c)
        return -ENOENT;
    if (r->count_encoders >= 1 && copyToUser(r->encoders_ptr, &c->encoderId, 1))
        return -EFAULT;
    r->count_encoders = 1;
    r->connector_type = c->type;
    r->connector_type_id = c->typeId;
    r->mm_width = c->mmWidth;
    r->mm_height = c->mmHeight;
    r->subpixel = subpixelUnknown;
    r->connection = c->status;
    static const std::vector<drm_mode_modeinfo> none;
    const auto &modes = c->status == connectionDisconnected ? none : c->modes;
    if (r->count_modes >= modes.size() && !modes.empty() &&
        copyToUser(r->modes_ptr, modes.data(), modes.size()))
        return -EFAULT;
    r->count_modes = static_cast<uint32_t>(modes.size());
    r->encoder_id = c->crtcId ? c->encoderId : 0;
    return putObjectProperties(d, c->id, r->props_ptr, r->prop_values_ptr, r->count_props);
}

int ioctlGetPlaneResources(IoctlCall &call, void *arg)
{
    auto *r = static_cast<drm_mode_get_plane_res *>(arg);
    std::vector<uint32_t> planes;
    // Without the universal-planes cap only overlay planes are listed, and
    // the device has none.
    if (call.file->universalPlanes)
        for (const auto &c : call.device.crtcs)
            planes.push_back(c.planeId);
    return putIds(r->plane_id_ptr, r->count_planes, planes);
}

int ioctlGetPlane(IoctlCall &call, void *arg)
{
    auto *r = static_cast<drm_mode_get_plane *>(arg);
    for (const auto &c : call.device.crtcs) {
        if (c.planeId != r->plane_id)
            continue;
        r->crtc_id = c.enabled ? c.id : 0;
        const FramebufferRef &fb = committedFramebuffer(c);
        r->fb_id = fb ? fb->id : 0;
        r->possible_crtcs = 1u << c.index;
        r->gamma_size = 0;
        const uint32_t count = std::size(supportedFormats);
        if (r->count_format_types >= count &&
            copyToUser(r->format_type_ptr, supportedFormats, count))
            return -EFAULT;
        r->count_format_types = count;
        return 0;
    }
    return -ENOENT;
}

int ioctlListLessees(IoctlCall &, void *arg)
{
    auto *r = static_cast<drm_mode_list_lessees *>(arg);
    if (r->pad)
        return -EINVAL;
    r->count_lessees = 0;
    return 0;
}

} // namespace qelsim
