// SPDX-License-Identifier: MIT
// The kernel's hotplug uevent of the device, as udev passes it on to the
// listeners of the process it runs in. Under umockdev's preload a libudev
// monitor's netlink socket is an AF_UNIX datagram socket bound to
// $UMOCKDEV_DIR/event<fd>; a uevent is one datagram in udev's monitor format
// (the "libudev" header, then the properties as NUL-terminated KEY=VALUE
// strings) sent to each of them, which is what umockdev's own testbed does.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qelsim {

// Sends ACTION=change with HOTPLUG=1 and CONNECTOR=CONNECTOR_ID for the DRM
// node of that minor, with the properties udev knows of the node (its
// uevent file in the testbed's sysfs), to every listener. Returns how many
// listeners it reached: none without a testbed ($UMOCKDEV_DIR) or without
// the node in its sysfs.
size_t sendHotplugUevent(uint32_t minor, uint32_t connectorId);

} // namespace qelsim
