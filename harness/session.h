// SPDX-License-Identifier: MIT
// A running test server and what a test does with it: clients, the log,
// the simulator, the panel's pixels, and a clean stop.
#pragma once

#include "command.h"
#include "files.h"
#include "image.h"
#include "sim_control.h"
#include "testbed.h"
#include "xserver.h"

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qeltest {

class Session {
public:
    Session(const Testbed &testbed, std::unique_ptr<TempDir> run);
    ~Session();

    std::string display() const { return server_->display(); }
    XServer &server() { return *server_; }
    const SimControl &sim() const { return sim_; }
    const std::string &runDir() const { return run_->path(); }
    std::string log() const { return server_->log(); }

    // Runs a client program with DISPLAY set to this server.
    CommandResult run(const std::vector<std::string> &argv,
                      std::chrono::milliseconds timeout = std::chrono::seconds(60)) const;
    // What the CRTC shows, read back from the simulator's capture.
    Image capturePanel(int crtcIndex = 0) const;
    // The root window as xwd -root dumps it.
    Image xwdRoot() const;
    // Waits until the CRTC shows expected; the last difference when it
    // never does (the panel may lag the server by a flip or a GE batch).
    std::optional<PixelDifference> awaitPanel(const Image &expected, int crtcIndex = 0) const;
    // Switches the console to VT as Ctrl+Alt+Fn does (SimControl::switchVt)
    // and meanwhile wakes the server with requests, as the keys' own events
    // do: the server acts on the VT signal only once its main loop wakes,
    // so a signal that came just before the loop went to sleep would wait
    // for the next client or timer.
    SimVt switchVt(int vt) const;

    // Stops the server; the simulator's final counters become readable.
    int stop();
    std::map<std::string, std::string> simStats() const;

    // Copies the log, the simulator's final counters and (while the server
    // runs) a capture of the panel into dir.
    void saveArtifacts(const std::string &dir);
    void keepRunDir() { run_->keep(); }

private:
    std::unique_ptr<TempDir> run_;
    SimControl sim_;
    std::unique_ptr<XServer> server_;
};

} // namespace qeltest
