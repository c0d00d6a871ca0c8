// SPDX-License-Identifier: MIT
#include "vblank_clock.h"

#include "quiet_thread.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <ctime>

namespace qelsim {
namespace {

std::chrono::steady_clock::time_point steadyAt(int64_t ns)
{
    return std::chrono::steady_clock::time_point(std::chrono::nanoseconds(ns));
}

} // namespace

int64_t monotonicNs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1'000'000'000ll + t.tv_nsec;
}

VblankClock::~VblankClock()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void VblankClock::start(std::function<int64_t(int64_t)> tick, bool manual)
{
    tick_ = std::move(tick);
    {
        std::lock_guard lock(mutex_);
        manual_ = manual;
        started_ = true;
        deadline_ = monotonicNs();
    }
    thread_ = startQuietThread([this] { run(); });
}

void VblankClock::setManual(bool manual)
{
    {
        std::lock_guard lock(mutex_);
        manual_ = manual;
        // The device re-anchors its counters when the clock runs again; a
        // tick right away lets it do so.
        deadline_ = monotonicNs();
    }
    changed_.notify_all();
}

bool VblankClock::manual() const
{
    std::lock_guard lock(mutex_);
    return manual_;
}

void VblankClock::reschedule(int64_t deadline)
{
    {
        std::lock_guard lock(mutex_);
        if (!started_ || deadline >= deadline_)
            return;
        deadline_ = deadline;
    }
    changed_.notify_all();
}

// The device keeps the pace (each CRTC's deadlines follow from its own
// frame duration), so a late tick does not make any refresh rate drift.
void VblankClock::run()
{
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (manual_) {
            changed_.wait(lock, [this] { return stopping_ || !manual_; });
            continue;
        }
        const int64_t deadline = deadline_;
        if (changed_.wait_until(lock, steadyAt(deadline),
                                [&] { return stopping_ || manual_ || deadline_ != deadline; }))
            continue;
        // While the tick runs, a deadline brought forward is kept for after.
        deadline_ = INT64_MAX;
        lock.unlock();
        const int64_t next = tick_(monotonicNs());
        lock.lock();
        deadline_ = std::min(deadline_, next);
    }
}

} // namespace qelsim
