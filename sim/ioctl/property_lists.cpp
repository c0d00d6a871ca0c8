// SPDX-License-Identifier: MIT
#include "property_lists.h"

#include "ioctl_call.h"

namespace qelsim {
namespace {

// Value of the plane "type" property for a primary plane.
constexpr uint64_t primaryPlaneType = 1;

bool typeMatches(uint32_t wanted, uint32_t actual)
{
    return wanted == DRM_MODE_OBJECT_ANY || wanted == actual;
}

} // namespace

bool objectProperties(Device &d, uint32_t id, uint32_t type, PropertyValues &out)
{
    out.clear();
    if (const Connector *c = d.findConnector(id);
        c && typeMatches(type, DRM_MODE_OBJECT_CONNECTOR)) {
        out = {{d.propertyIds.edid, c->edidBlob},
               {d.propertyIds.dpms, c->dpms},
               {d.propertyIds.nonDesktop, 0}};
        return true;
    }
    if (typeMatches(type, DRM_MODE_OBJECT_CRTC) && d.findCrtc(id))
        return true;
    if (typeMatches(type, DRM_MODE_OBJECT_PLANE)) {
        for (const auto &c : d.crtcs) {
            if (c.planeId == id) {
                out = {{d.propertyIds.planeType, primaryPlaneType}};
                return true;
            }
        }
    }
    return false;
}

int putObjectProperties(Device &device, uint32_t id, uint64_t propsPtr, uint64_t valuesPtr,
                        uint32_t &count)
{
    PropertyValues props;
    objectProperties(device, id, DRM_MODE_OBJECT_ANY, props);
    const size_t n = std::min<size_t>(count, props.size());
    for (size_t i = 0; i < n; ++i) {
        if (copyToUser(propsPtr + i * sizeof(uint32_t), &props[i].first, 1) ||
            copyToUser(valuesPtr + i * sizeof(uint64_t), &props[i].second, 1))
            return -EFAULT;
    }
    count = static_cast<uint32_t>(props.size());
    return 0;
}

} // namespace qelsim
