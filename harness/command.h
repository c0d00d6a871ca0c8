// SPDX-License-Identifier: MIT
// Runs a client program to completion and captures what it printed.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace qeltest {

struct CommandResult {
    int waitStatus = -1;
    std::string out;
    std::string err;

    bool succeeded() const;
    std::string describe() const; // status and output, for failure messages
};

// Runs argv with env added; a command still running after the timeout is
// killed and reported as such.
CommandResult runCommand(const std::vector<std::string> &argv,
                         const std::map<std::string, std::string> &env = {},
                         std::chrono::milliseconds timeout = std::chrono::seconds(60));

} // namespace qeltest
