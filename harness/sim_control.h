// SPDX-License-Identifier: MIT
// Client of the simulator's control socket: one request line, then reply
// lines up to a final "ok" or "error <text>".
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace qeltest {

struct SimReply {
    bool ok = false;
    std::vector<std::string> lines; // without the final ok/error line
    std::string error;              // text after "error "

    // key=value pairs found in the lines (a line may hold several).
    std::map<std::string, std::string> values() const;
};

struct SimCrtc {
    int index = -1;
    unsigned id = 0;
    bool active = false;
    unsigned fb = 0;
    int x = 0, y = 0;
    std::string mode;
    std::string connectors;
    std::string cursor;  // none, hidden or WxH@X,Y (the cursor plane)
    uint64_t vblank = 0; // its vblank counter
    int64_t frameNs = 0; // its mode's frame duration while it counts, else 0
};

// The simulated console: the VT in the foreground, and the server's (0:
// none).
struct SimVt {
    int active = 0;
    int server = 0;
};

class SimControl {
public:
    explicit SimControl(std::string socketPath) : path_(std::move(socketPath)) {}

    const std::string &socketPath() const { return path_; }
    SimReply request(const std::string &line,
                     std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;
    // Like request(), but a reply other than ok throws SimError.
    SimReply command(const std::string &line) const;

    std::map<std::string, std::string> counters() const;
    long counter(const std::string &name) const;
    std::vector<SimCrtc> crtcs() const;
    void capture(int crtcIndex, const std::string &pngPath) const;
    void settle(int vblanks = 3) const;
    SimVt vt() const;
    // Switches the console to VT as Ctrl+Alt+Fn does and waits until the
    // server has released its VT, or acknowledged that it has it again;
    // throws SimError when it does not (the reply says why).
    SimVt switchVt(int vt) const;

private:
    std::string path_;
};

// A counter from a `counters` reply; one the simulator does not list yet
// (an ioctl_<NAME> never called) reads as 0.
long counterOrZero(const std::map<std::string, std::string> &counters, const std::string &name);

struct SimError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

} // namespace qeltest
