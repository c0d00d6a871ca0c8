// SPDX-License-Identifier: MIT
// Builds and starts one test server: the real Xorg with qel (or a peer
// driver) on the simulated device, in a private run directory holding its
// configuration, umockdev sysfs tree, log, simulator socket and statistics.
//
//     auto session = Testbed().panel(1024, 768).start();  // a Session (session.h)
//     XcbClient x(session->display());
//     ... session->capturePanel() ...
#pragma once

#include "files.h"
#include "paths.h"
#include "sysfs_testbed.h"
#include "xorg_config.h"
#include "xserver.h"

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace qeltest {

class Session;

struct ExitedServer {
    int waitStatus = -1;
    std::string log;
};

class Testbed {
public:
    Testbed();

    Testbed &driver(const std::string &name);
    // No Device or Screen section: the server chooses the driver itself,
    // from OutputClass sections and its built-in list, as with no xorg.conf.
    Testbed &driverChosenByServer();
    Testbed &option(const std::string &name, const std::string &value);
    // One connected panel with that single mode at 60 Hz.
    Testbed &panel(int width, int height);
    // A whole device description for the simulator (QELSIM_CONFIG).
    Testbed &simDescription(const std::string &text);
    Testbed &backlight(const BacklightDevice &device);
    // The device's kernel driver (its DRM VERSION name and its sysfs driver
    // link); the simulator's default is tx3120.
    Testbed &kernelDriver(const std::string &name);
    // The server's -configdir: a folder of the caller's (e.g. a package's
    // xorg.conf.d) instead of one that adds nothing.
    Testbed &configDir(const std::string &dir);
    // Let the server regenerate when its last client leaves (no -noreset).
    Testbed &reset(bool regenerate);
    Testbed &serverArgs(const std::vector<std::string> &args);
    // An environment variable for the server (e.g. Mesa's for glamor).
    Testbed &serverEnv(const std::string &name, const std::string &value);
    Testbed &paths(const Paths &paths);
    // Over an empty sysfs, with a simulator that has no device node (only
    // its console): the server sees no device at all, not even the host's
    // own.
    Testbed &withoutDevice();

    // Starts the server and waits until it accepts clients; throws
    // XServer::StartFailure with the log's tail when it does not.
    std::unique_ptr<Session> start() const;
    // The same in a run directory the caller made (and may keep).
    std::unique_ptr<Session> start(std::unique_ptr<TempDir> run) const;
    // Runs a server expected to end by itself and returns how it ended.
    ExitedServer runToExit() const;

    const Paths &paths() const { return paths_; }

private:
    Paths paths_;
    XorgConfig config_;
    std::string simDescription_;
    std::string kernelDriver_; // empty: the simulator's default
    std::string configDir_;
    std::vector<BacklightDevice> backlights_;
    std::vector<std::string> serverArgs_;
    std::map<std::string, std::string> serverEnv_;
    bool noReset_ = true;
    bool simulated_ = true;

    friend class Session;
    XServerLaunch prepare(const TempDir &run) const;
    std::string deviceDescription() const;
    std::map<std::string, std::string> environment(const TempDir &run) const;
    void checkBuilt() const;
};

} // namespace qeltest
