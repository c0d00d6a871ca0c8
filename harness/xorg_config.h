// SPDX-License-Identifier: MIT
// The xorg.conf a test server runs with: no input devices, no automatic GPU
// screens, no blanking, modules from the build first, one Device section
// (or none, when the server is to choose the driver).
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace qeltest {

struct XorgConfig {
    std::string driver = "qel"; // empty: no Device or Screen section
    std::vector<std::pair<std::string, std::string>> deviceOptions;
    std::vector<std::string> modulePath;  // directories, searched in order
    std::vector<std::string> loadModules; // Module section Load lines
    std::string extraSections;            // appended verbatim

    std::string render() const;
};

} // namespace qeltest
