// SPDX-License-Identifier: MIT
// The vblank clock: a thread that wakes at the deadlines the device gives it
// (the next vblank of some CRTC) and runs the device's tick then, or, in
// manual mode, waits for a test to advance vblanks itself. Times are
// CLOCK_MONOTONIC nanoseconds (the steady clock's).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace qelsim {

// CLOCK_MONOTONIC now, in nanoseconds.
int64_t monotonicNs();

class VblankClock {
public:
    VblankClock() = default;
    VblankClock(const VblankClock &) = delete;
    VblankClock &operator=(const VblankClock &) = delete;
    ~VblankClock();

    // TICK runs on the clock's thread, without the clock's lock held, once
    // the last deadline has come; it gets the time and returns the next
    // deadline.
    void start(std::function<int64_t(int64_t now)> tick, bool manual);
    void setManual(bool manual);
    bool manual() const;
    // Brings the next tick forward to DEADLINE when that is earlier (a CRTC
    // started counting). Safe to call with the device's lock held.
    void reschedule(int64_t deadline);

private:
    void run();

    std::function<int64_t(int64_t)> tick_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool manual_ = false;
    bool stopping_ = false;
    bool started_ = false;
    int64_t deadline_ = 0;
    std::thread thread_;
};

} // namespace qelsim
