// SPDX-License-Identifier: MIT
// The real Xorg, started as this process's child on a generated
// configuration, with the environment the caller gives it (the simulator's
// preloads). It picks a free display itself and announces it on -displayfd.
#pragma once

#include "child_process.h"
#include "emulation.h"

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qeltest {

struct XServerLaunch {
    std::string xorg;
    Emulation emulation; // for a server not of this machine
    std::string configFile;
    std::string configDir;
    std::string logFile;
    std::vector<std::string> extraArgs;     // e.g. vt7 -sharevts -keeptty
    std::map<std::string, std::string> env; // LD_PRELOAD, UMOCKDEV_DIR, ...
    bool noReset = true;
    std::chrono::milliseconds startTimeout = std::chrono::seconds(20);
};

class XServer {
public:
    // Starts the server and waits until it accepts clients. Throws
    // StartFailure, with the log's tail, when it ends or times out first.
    explicit XServer(const XServerLaunch &launch);
    ~XServer(); // stops a server still running

    // A server that never came up: why, with the log's tail, and the run
    // directory left behind for inspection (if any).
    struct StartFailure : std::runtime_error {
        explicit StartFailure(const std::string &why, const std::string &keptRunDir = "")
            : std::runtime_error(
                  keptRunDir.empty() ? why : why + "\n(run directory kept: " + keptRunDir + ")"),
              reason(why), runDir(keptRunDir)
        {
        }
        std::string reason;
        std::string runDir;
    };

    int displayNumber() const { return display_; }
    std::string display() const { return ":" + std::to_string(display_); }
    pid_t pid() const { return child_->pid(); }
    int pidfd() const { return child_->pidfd(); } // readable once it has ended
    const std::string &logFile() const { return launch_.logFile; }
    std::string log() const;
    bool running() { return child_->running(); }

    // SIGTERM, then waits; SIGKILL after the timeout. Returns the wait status.
    int stop(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // For a server expected to end on its own (e.g. "no screens found").
    std::optional<int> waitForExit(std::chrono::milliseconds timeout);

private:
    XServerLaunch launch_;
    std::unique_ptr<ChildProcess> child_;
    int display_ = -1;

    std::vector<std::string> commandLine(int displayFd) const;
    std::optional<int> readDisplayNumber(int fd);
};

// Starts a server expected to fail before accepting clients and returns its
// wait status (for load tests without a device).
int runXServerToExit(const XServerLaunch &launch);

// The last lines of a log file, for failure messages.
std::string logTail(const std::string &path, size_t lines = 40);

} // namespace qeltest
