// SPDX-License-Identifier: MIT
// A static sysfs tree in the layout umockdev's preload serves as /sys: the
// simulated DRM device under a platform parent, and the backlight devices a
// test asks for. Xorg's platform bus finds the device through libudev here.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qeltest {

struct BacklightDevice {
    std::string name;
    std::optional<std::string> maxBrightness; // file contents; absent: no file
    std::optional<std::string> brightness;
};

struct SysfsDevice {
    std::string platformName = "qel-tx3120";
    std::string kernelDriver = "tx3120"; // the platform device's driver link
    std::string nodeName = "card0";      // appears as /dev/dri/<nodeName>
    unsigned minor = 0;
    std::optional<std::string> seat; // ID_SEAT; absent means seat0
};

class SysfsTestbed {
public:
    // Writes the tree into root (an absolute, private directory).
    static void write(const std::string &root, const SysfsDevice &device,
                      const std::vector<BacklightDevice> &backlights);
    // A tree without any device.
    static void writeEmpty(const std::string &root);
};

} // namespace qeltest
