/* SPDX-License-Identifier: MIT */
// The servers a benchmark compares: what each one is, and how one is
// started on the simulated panel.
#pragma once

#include "session.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace qelbench {

struct ServerConfig {
    std::string name;   // file-name friendly
    std::string title;  // for the report
    std::string driver; // empty: no X server (the client draws by itself)
    std::vector<std::pair<std::string, std::string>> options;
    bool hasGe = false;
};

// The server with the Device options of config on the simulated device
// simDescription, once it has lit the first display.
std::unique_ptr<qeltest::Session> startBenchServer(const ServerConfig &config,
                                                   const std::string &simDescription);

// printf into a string, for report lines.
__attribute__((format(printf, 1, 2))) std::string format(const char *fmt, ...);

} // namespace qelbench
