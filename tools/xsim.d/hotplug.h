// SPDX-License-Identifier: MIT
// --hotplug-after: displays plugged in and pulled out while COMMAND runs,
// at set times after the server came up.
#pragma once

#include "session.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace xsim {

struct HotplugEvent {
    std::chrono::milliseconds after{0};
    std::string request; // the simulator's `connector ...` request
};

// SECONDS:INDEX:connected|disconnected[:MODE,MODE...]; throws
// std::invalid_argument with a message for the user.
HotplugEvent parseHotplug(const std::string &text);

// Sends each event's request to the simulator at its time, from a thread
// of its own, until every one is sent or the schedule is destroyed. A
// refused request is reported on stderr.
class HotplugSchedule {
public:
    HotplugSchedule(const qeltest::Session &session, std::vector<HotplugEvent> events);
    ~HotplugSchedule();
    HotplugSchedule(const HotplugSchedule &) = delete;
    HotplugSchedule &operator=(const HotplugSchedule &) = delete;

private:
    void run(const qeltest::Session &session, std::vector<HotplugEvent> events);

    std::mutex mutex_;
    std::condition_variable stopped_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace xsim
