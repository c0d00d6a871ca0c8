// SPDX-License-Identifier: MIT
// Which properties each kind of object carries, with their current values.
#pragma once

#include "device.h"

#include <utility>
#include <vector>

namespace qelsim {

using PropertyValues = std::vector<std::pair<uint32_t, uint64_t>>;

// Properties of object ID (connectors: EDID, DPMS, non-desktop; planes:
// type; CRTCs: none). False when the object has no property list at all.
bool objectProperties(Device &device, uint32_t id, uint32_t type, PropertyValues &out);

// Copies them to the caller's arrays as far as COUNT allows, and sets
// COUNT to how many there are.
int putObjectProperties(Device &device, uint32_t id, uint64_t propsPtr, uint64_t valuesPtr,
                        uint32_t &count);

} // namespace qelsim
