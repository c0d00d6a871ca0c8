// SPDX-License-Identifier: MIT
// tools/xsim's command line.
#pragma once

#include "schedule.h"
#include "sysfs_testbed.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace xsim {

struct Options {
    std::string driver = "qel";
    std::string arch; // native or armhf; empty: as QEL_ARCH says
    std::vector<std::pair<std::string, std::string>> deviceOptions;
    std::optional<std::pair<int, int>> panel;
    std::string simConfigFile;
    std::vector<std::pair<std::string, std::string>> faults; // kind, count
    std::vector<qeltest::BacklightDevice> backlights;
    std::vector<TimedRequest> hotplugs;
    double vtSwitchAfter = 0; // seconds; 0: no switch
    std::string outDir;
    bool keep = false;
    bool reset = false;
    bool help = false;
    std::vector<std::string> command;
};

// Throws std::invalid_argument with a message for the user.
Options parseOptions(int argc, char **argv);
const char *usageText();

} // namespace xsim
