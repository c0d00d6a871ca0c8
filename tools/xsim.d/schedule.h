// SPDX-License-Identifier: MIT
// Simulator requests sent at set times after the server came up, while
// COMMAND runs: --hotplug-after's displays plugged in and pulled out, and
// --vt-switch-after's switches away from the server's VT and back.
#pragma once

#include "session.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace xsim {

struct TimedRequest {
    std::chrono::milliseconds after{0};
    std::string request; // e.g. the simulator's `connector ...` or `vt N`
};

// --hotplug-after SECONDS:INDEX:connected|disconnected[:MODE,MODE...];
// throws std::invalid_argument with a message for the user.
TimedRequest parseHotplug(const std::string &text);

// --vt-switch-after SECONDS: to VT 1 (a getty's) SECONDS after the server
// came up, as Ctrl+Alt+F1 does, and SECONDS later back to SERVERVT.
std::vector<TimedRequest> vtSwitchRequests(double seconds, int serverVt);

// Sends each request to the simulator at its time, from a thread of its
// own, until every one is sent or the schedule is destroyed. A refused
// request is reported on stderr.
class RequestSchedule {
public:
    RequestSchedule(const qeltest::Session &session, std::vector<TimedRequest> requests);
    ~RequestSchedule();
    RequestSchedule(const RequestSchedule &) = delete;
    RequestSchedule &operator=(const RequestSchedule &) = delete;

private:
    void run(const qeltest::Session &session, std::vector<TimedRequest> requests);
    static void send(const qeltest::Session &session, const std::string &request);

    std::mutex mutex_;
    std::condition_variable stopped_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace xsim
