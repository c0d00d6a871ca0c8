// SPDX-License-Identifier: MIT
// The vblank clock: a thread that calls a tick function 60 times a second,
// or, in manual mode, waits for a test to advance vblanks itself.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace qelsim {

class VblankClock {
public:
    VblankClock() = default;
    VblankClock(const VblankClock &) = delete;
    VblankClock &operator=(const VblankClock &) = delete;
    ~VblankClock();

    // TICK runs on the clock's thread, without the clock's lock held.
    void start(std::function<void()> tick, bool manual);
    void setManual(bool manual);
    bool manual() const;

private:
    void run();

    std::function<void()> tick_;
    mutable std::mutex mutex_;
    std::condition_variable modeChanged_;
    bool manual_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace qelsim
