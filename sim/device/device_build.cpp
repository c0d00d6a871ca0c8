// SPDX-License-Identifier: MIT
// Builds the kernel objects of a description. Ids come from one counter in
// the order a kernel driver registers its objects: properties, planes,
// CRTCs, encoders, connectors, then blobs.
#include "device.h"

#include "connector_plug.h"
#include "mode_timings.h"

namespace qelsim {
namespace {

uint32_t encoderTypeFor(uint32_t connectorType)
{
    switch (connectorType) {
    case DRM_MODE_CONNECTOR_VGA: return DRM_MODE_ENCODER_DAC;
    case DRM_MODE_CONNECTOR_LVDS: return DRM_MODE_ENCODER_LVDS;
    case DRM_MODE_CONNECTOR_Composite:
    case DRM_MODE_CONNECTOR_SVIDEO:
    case DRM_MODE_CONNECTOR_Component:
    case DRM_MODE_CONNECTOR_TV: return DRM_MODE_ENCODER_TVDAC;
    case DRM_MODE_CONNECTOR_VIRTUAL: return DRM_MODE_ENCODER_VIRTUAL;
    case DRM_MODE_CONNECTOR_DSI: return DRM_MODE_ENCODER_DSI;
    case DRM_MODE_CONNECTOR_DPI: return DRM_MODE_ENCODER_DPI;
    default: return DRM_MODE_ENCODER_TMDS;
    }
}

Property makeEnum(uint32_t id, const char *name, uint32_t flags,
                  std::vector<std::pair<uint64_t, std::string>> enums)
{
    Property p{id, name, DRM_MODE_PROP_ENUM | flags, {}, std::move(enums)};
    for (const auto &e : p.enums)
        p.values.push_back(e.first);
    return p;
}

std::vector<uint16_t> linearRamp(uint32_t size)
{
    std::vector<uint16_t> ramp(size);
    for (uint32_t i = 0; i < size; ++i)
        ramp[i] = static_cast<uint16_t>(size > 1 ? i * 0xffffu / (size - 1) : 0);
    return ramp;
}

} // namespace

void Device::buildProperties()
{
    properties.clear();
    propertyIds.edid = nextObjectId++;
    properties.push_back(
        {propertyIds.edid, "EDID", DRM_MODE_PROP_BLOB | DRM_MODE_PROP_IMMUTABLE, {}, {}});
    propertyIds.dpms = nextObjectId++;
    properties.push_back(makeEnum(propertyIds.dpms, "DPMS", 0,
                                  {{0, "On"}, {1, "Standby"}, {2, "Suspend"}, {3, "Off"}}));
    propertyIds.nonDesktop = nextObjectId++;
    properties.push_back({propertyIds.nonDesktop,
                          "non-desktop",
                          DRM_MODE_PROP_RANGE | DRM_MODE_PROP_IMMUTABLE,
                          {0, 1},
                          {}});
    propertyIds.planeType = nextObjectId++;
    properties.push_back(makeEnum(propertyIds.planeType, "type", DRM_MODE_PROP_IMMUTABLE,
                                  {{0, "Overlay"}, {1, "Primary"}, {2, "Cursor"}}));
}

void Device::buildCrtcs()
{
    crtcs.assign(description.crtcs.size(), Crtc{});
    for (auto &c : crtcs)
        c.planeId = nextObjectId++;
    for (size_t i = 0; i < crtcs.size(); ++i) {
        Crtc &c = crtcs[i];
        c.id = nextObjectId++;
        c.index = i;
        c.gammaSize = description.crtcs[i].gammaSize;
        c.cursor.maxWidth = description.crtcs[i].cursorWidth;
        c.cursor.maxHeight = description.crtcs[i].cursorHeight;
        c.red = c.green = c.blue = linearRamp(c.gammaSize);
        c.vblank.count = description.crtcs[i].vblankCount;
        c.vblank.lastNs = monotonicNs();
    }
}

void Device::buildConnectors()
{
    const auto &described = description.connectors;
    encoders.assign(described.size(), Encoder{});
    for (size_t i = 0; i < described.size(); ++i)
        encoders[i] = {nextObjectId++, encoderTypeFor(described[i].type), 0};

    connectors.assign(described.size(), Connector{});
    for (size_t i = 0; i < described.size(); ++i) {
        const ConnectorDescription &d = described[i];
        Connector &c = connectors[i];
        c.id = nextObjectId++;
        c.type = d.type;
        c.typeId = d.typeId;
        c.status = d.status;
        c.mmWidth = d.mmWidth;
        c.mmHeight = d.mmHeight;
        c.encoderId = encoders[i].id;
        for (size_t m = 0; m < d.modes.size(); ++m)
            c.modes.push_back(cvtMode(d.modes[m], m == 0));
    }
}

// Only a connector with a display has an EDID.
void Device::buildEdids()
{
    for (size_t i = 0; i < connectors.size(); ++i) {
        Connector &c = connectors[i];
        if (description.connectors[i].edid && c.status != connectionDisconnected)
            giveEdid(*this, c, nextObjectId++);
    }
}

void Device::buildObjects()
{
    nextObjectId = 1;
    buildProperties();
    buildCrtcs();
    buildConnectors();
    firstReleasableId = nextObjectId;
    buildEdids();
    nextMapOffset = 0x100000000ull;
}

} // namespace qelsim
