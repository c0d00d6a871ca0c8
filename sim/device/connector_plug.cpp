// SPDX-License-Identifier: MIT
#include "connector_plug.h"

#include "edid.h"
#include "mode_timings.h"

namespace qelsim {
namespace {

void dropEdid(Device &d, Connector &c)
{
    d.blobs.erase(c.edidBlob);
    c.edidBlob = 0;
}

} // namespace

void giveEdid(Device &d, Connector &c, uint32_t blobId)
{
    const drm_mode_modeinfo *preferred = c.modes.empty() ? nullptr : &c.modes.front();
    c.edidBlob = blobId;
    d.blobs[blobId] = makeEdid(preferred, c.mmWidth, c.mmHeight, c.id);
}

void plugConnector(Device &d, size_t index, const std::vector<ModeRequest> &modes)
{
    Connector &c = d.connectors[index];
    if (!modes.empty()) {
        c.modes.clear();
        for (size_t m = 0; m < modes.size(); ++m)
            c.modes.push_back(cvtMode(modes[m], m == 0));
    }
    c.status = connectionConnected;
    // The old blob goes first, so that the new one may take its id, as the
    // kernel's idr would give it.
    dropEdid(d, c);
    if (d.description.connectors[index].edid)
        giveEdid(d, c, d.freeObjectId());
}

void unplugConnector(Device &d, size_t index)
{
    Connector &c = d.connectors[index];
    c.status = connectionDisconnected;
    dropEdid(d, c);
}

} // namespace qelsim
