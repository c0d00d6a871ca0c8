// SPDX-License-Identifier: MIT
// Properties: their descriptions, blobs, per-object values, and the one
// property a client may change, connector DPMS.
#include "ioctl_handlers.h"

#include "crtc_state.h"
#include "property_lists.h"

#include <algorithm>
#include <cstring>

namespace qelsim {
namespace {

bool isEnum(const Property &p)
{
    return p.flags & (DRM_MODE_PROP_ENUM | DRM_MODE_PROP_BITMASK);
}

int putEnums(drm_mode_get_property &r, const Property &p)
{
    const size_t n = std::min<size_t>(r.count_enum_blobs, p.enums.size());
    for (size_t i = 0; i < n; ++i) {
        drm_mode_property_enum e{};
        e.value = p.enums[i].first;
        std::strncpy(e.name, p.enums[i].second.c_str(), DRM_PROP_NAME_LEN - 1);
        if (copyToUser(r.enum_blob_ptr + i * sizeof e, &e, 1))
            return -EFAULT;
    }
    r.count_enum_blobs = static_cast<uint32_t>(p.enums.size());
    return 0;
}

bool objectExists(Device &d, uint32_t id, uint32_t type)
{
    const bool any = type == DRM_MODE_OBJECT_ANY;
    if ((any || type == DRM_MODE_OBJECT_ENCODER) && d.findEncoder(id))
        return true;
    return (any || type == DRM_MODE_OBJECT_FB) && d.findFramebuffer(id);
}

void setDpms(Device &d, Connector &c, uint64_t value)
{
    c.dpms = value;
    if (Crtc *crtc = d.findCrtc(c.crtcId))
        updateCrtcActive(d, *crtc);
}

// drm_mode_obj_set_property_ioctl(): the object must carry the property,
// and only a mutable one with a valid value can be set.
int setObjectProperty(Device &d, uint32_t objId, uint32_t objType, uint32_t propId, uint64_t value)
{
    PropertyValues props;
    if (!objectProperties(d, objId, objType, props))
        return objectExists(d, objId, objType) ? -EINVAL : -ENOENT;
    const bool carried =
        std::any_of(props.begin(), props.end(), [&](const auto &p) { return p.first == propId; });
    const Property *prop = d.findProperty(propId);
    if (!carried || !prop || (prop->flags & DRM_MODE_PROP_IMMUTABLE))
        return -EINVAL;
    if (isEnum(*prop) &&
        std::find(prop->values.begin(), prop->values.end(), value) == prop->values.end())
        return -EINVAL;
    if (propId == d.propertyIds.dpms)
        setDpms(d, *d.findConnector(objId), value);
    return 0;
}

} // namespace

int ioctlGetProperty(IoctlCall &call, void *arg)
{
    auto *r = static_cast<drm_mode_get_property *>(arg);
    const Property *p = call.device.findProperty(r->prop_id);
    if (!p)
        return -ENOENT;
    std::memset(r->name, 0, sizeof r->name);
    std::strncpy(r->name, p->name.c_str(), DRM_PROP_NAME_LEN - 1);
    r->flags = p->flags;
    const size_t n = std::min<size_t>(r->count_values, p->values.size());
    if (copyToUser(r->values_ptr, p->values.data(), n))
        return -EFAULT;
    r->count_values = static_cast<uint32_t>(p->values.size());
    if (isEnum(*p))
        return putEnums(*r, *p);
    if (p->flags & DRM_MODE_PROP_BLOB)
        r->count_enum_blobs = 0;
    return 0;
}

int ioctlGetPropBlob(IoctlCall &call, void *arg)
{
    auto *r = static_cast<drm_mode_get_blob *>(arg);
    const auto it = call.device.blobs.find(r->blob_id);
    if (it == call.device.blobs.end())
        return -ENOENT;
    const auto &data = it->second;
    if (r->length == data.size() && copyToUser(r->data, data.data(), data.size()))
        return -EFAULT;
    r->length = static_cast<uint32_t>(data.size());
    return 0;
}

int ioctlObjGetProperties(IoctlCall &call, void *arg)
{
    auto *r = static_cast<drm_mode_obj_get_properties *>(arg);
    PropertyValues props;
    if (!objectProperties(call.device, r->obj_id, r->obj_type, props))
        return objectExists(call.device, r->obj_id, r->obj_type) ? -EINVAL : -ENOENT;
    return putObjectProperties(call.device, r->obj_id, r->props_ptr, r->prop_values_ptr,
                               r->count_props);
}

int ioctlObjSetProperty(IoctlCall &call, void *arg)
{
    const auto *r = static_cast<drm_mode_obj_set_property *>(arg);
    return setObjectProperty(call.device, r->obj_id, r->obj_type, r->prop_id, r->value);
}

int ioctlConnectorSetProperty(IoctlCall &call, void *arg)
{
    const auto *r = static_cast<drm_mode_connector_set_property *>(arg);
    return setObjectProperty(call.device, r->connector_id, DRM_MODE_OBJECT_CONNECTOR, r->prop_id,
                             r->value);
}

} // namespace qelsim
