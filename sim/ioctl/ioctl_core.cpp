// SPDX-License-Identifier: MIT
// The DRM core ioctls: identity, capabilities, authentication and master.
#include "ioctl_handlers.h"

#include <algorithm>
#include <cstring>

namespace qelsim {
namespace {

constexpr const char *driverDate = "20240101";
constexpr const char *driverDesc = "TX3120 display controller";
constexpr const char *busUnique = "tx3120";
constexpr int driverMajor = 1, driverMinor = 0, driverPatch = 0;

// Copies as much of TEXT as fits and reports its full length, as the
// kernel's drm_copy_field() does.
int copyField(char *user, __kernel_size_t &length, const char *text)
{
    const size_t full = std::strlen(text);
    const size_t n = std::min<size_t>(length, full);
    length = full;
    if (n && !user)
        return -EFAULT;
    if (n)
        std::memcpy(user, text, n);
    return 0;
}

// The device's one cursor size, as mode_config holds it: the largest of the
// CRTCs' cursor planes; 64x64, the kernel's default, when none has one.
uint64_t cursorCap(const Device &d, bool width)
{
    uint64_t size = 0;
    for (const Crtc &c : d.crtcs)
        size = std::max<uint64_t>(size, width ? c.cursor.maxWidth : c.cursor.maxHeight);
    return size ? size : 64;
}

int capValue(const Device &d, uint64_t cap, uint64_t &value)
{
    switch (cap) {
    case DRM_CAP_DUMB_BUFFER: value = 1; return 0;
    case DRM_CAP_VBLANK_HIGH_CRTC: value = 1; return 0;
    case DRM_CAP_DUMB_PREFERRED_DEPTH: value = 24; return 0;
    case DRM_CAP_DUMB_PREFER_SHADOW: value = 0; return 0;
    case DRM_CAP_PRIME: value = 0; return 0;
    case DRM_CAP_TIMESTAMP_MONOTONIC: value = 1; return 0;
    case DRM_CAP_ASYNC_PAGE_FLIP: value = 0; return 0;
    case DRM_CAP_CURSOR_WIDTH: value = cursorCap(d, true); return 0;
    case DRM_CAP_CURSOR_HEIGHT: value = cursorCap(d, false); return 0;
    case DRM_CAP_ADDFB2_MODIFIERS: value = 0; return 0;
    case DRM_CAP_PAGE_FLIP_TARGET: value = 0; return 0;
    case DRM_CAP_CRTC_IN_VBLANK_EVENT: value = 1; return 0;
    case DRM_CAP_SYNCOBJ: value = 0; return 0;
    case DRM_CAP_SYNCOBJ_TIMELINE: value = 0; return 0;
    default: return -EINVAL;
    }
}

} // namespace

int ioctlVersion(IoctlCall &call, void *arg)
{
    auto *v = static_cast<drm_version *>(arg);
    v->version_major = driverMajor;
    v->version_minor = driverMinor;
    v->version_patchlevel = driverPatch;
    int r = copyField(v->name, v->name_len, call.device.description.driver.c_str());
    if (r == 0)
        r = copyField(v->date, v->date_len, driverDate);
    if (r == 0)
        r = copyField(v->desc, v->desc_len, driverDesc);
    return r;
}

int ioctlGetUnique(IoctlCall &, void *arg)
{
    auto *u = static_cast<drm_unique *>(arg);
    const size_t full = std::strlen(busUnique);
    if (u->unique_len >= full && full) {
        if (!u->unique)
            return -EFAULT;
        std::memcpy(u->unique, busUnique, full);
    }
    u->unique_len = full;
    return 0;
}

int ioctlGetMagic(IoctlCall &call, void *arg)
{
    static_cast<drm_auth *>(arg)->magic = call.file->magic;
    return 0;
}

int ioctlAuthMagic(IoctlCall &call, void *arg)
{
    const uint32_t magic = static_cast<drm_auth *>(arg)->magic;
    for (auto &[fd, file] : call.device.files) {
        if (file->magic == magic) {
            file->authenticated = true;
            return 0;
        }
    }
    return -EINVAL;
}

int ioctlGetCap(IoctlCall &call, void *arg)
{
    auto *c = static_cast<drm_get_cap *>(arg);
    uint64_t value = 0;
    const int r = capValue(call.device, c->capability, value);
    c->value = value;
    return r;
}

// The device has no atomic mode setting; the other caps it accepts only
// change what the client gets to see.
int ioctlSetClientCap(IoctlCall &call, void *arg)
{
    const auto *c = static_cast<drm_set_client_cap *>(arg);
    switch (c->capability) {
    case DRM_CLIENT_CAP_STEREO_3D: return c->value > 1 ? -EINVAL : 0;
    case DRM_CLIENT_CAP_UNIVERSAL_PLANES:
        if (c->value > 1)
            return -EINVAL;
        call.file->universalPlanes = c->value;
        return 0;
    case DRM_CLIENT_CAP_ATOMIC: return -EOPNOTSUPP;
    case DRM_CLIENT_CAP_ASPECT_RATIO: return c->value > 1 ? -EINVAL : 0;
    default: return -EINVAL;
    }
}

int ioctlSetMaster(IoctlCall &call, void *)
{
    Device &d = call.device;
    if (d.isMaster(*call.file))
        return 0;
    if (d.master || d.hooks.masterHeldElsewhere())
        return -EBUSY;
    d.master = call.file.get();
    call.file->wasMaster = true;
    call.file->authenticated = true;
    return 0;
}

int ioctlDropMaster(IoctlCall &call, void *)
{
    Device &d = call.device;
    if (!d.isMaster(*call.file))
        return -EINVAL;
    d.master = nullptr;
    return 0;
}

int ioctlSetVersion(IoctlCall &, void *arg)
{
    auto *sv = static_cast<drm_set_version *>(arg);
    int r = 0;
    if (sv->drm_di_major != -1 &&
        (sv->drm_di_major != 1 || sv->drm_di_minor < 0 || sv->drm_di_minor > 4))
        r = -EINVAL;
    if (sv->drm_dd_major != -1 &&
        (sv->drm_dd_major != driverMajor || sv->drm_dd_minor < 0 || sv->drm_dd_minor > driverMinor))
        r = -EINVAL;
    sv->drm_di_major = 1;
    sv->drm_di_minor = 4;
    sv->drm_dd_major = driverMajor;
    sv->drm_dd_minor = driverMinor;
    return r;
}

int ioctlGemClose(IoctlCall &call, void *arg)
{
    const auto *c = static_cast<drm_gem_close *>(arg);
    return call.file->handles.erase(c->handle) ? 0 : -EINVAL;
}

} // namespace qelsim
