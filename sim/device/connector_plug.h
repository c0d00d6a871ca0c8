// SPDX-License-Identifier: MIT
// A display plugged into a connector or pulled out of it, as the kernel's
// probe of the connector records it: the connection status, the modes the
// display offers and its EDID blob.
#pragma once

#include "device.h"

#include <vector>

namespace qelsim {

// Gives a connector without an EDID blob one of that id, for its
// preferred mode.
void giveEdid(Device &d, Connector &c, uint32_t blobId);

// With the device's mutex held. A display offering MODES (the first one
// preferred; none given: the modes the connector listed before) is plugged
// in: the connector reads connected, with a new EDID blob unless the
// description says it has none.
void plugConnector(Device &d, size_t index, const std::vector<ModeRequest> &modes);

// With the device's mutex held. Nothing is plugged in any more: the
// connector reads disconnected, without modes, and its EDID blob is gone. A
// CRTC driving it goes on scanning out, as the kernel leaves it.
void unplugConnector(Device &d, size_t index);

} // namespace qelsim
