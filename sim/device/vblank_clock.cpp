// SPDX-License-Identifier: MIT
#include "vblank_clock.h"

#include "quiet_thread.h"

#include <chrono>

namespace qelsim {
namespace {

constexpr auto frame = std::chrono::nanoseconds(1'000'000'000 / 60);

} // namespace

VblankClock::~VblankClock()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    modeChanged_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void VblankClock::start(std::function<void()> tick, bool manual)
{
    tick_ = std::move(tick);
    manual_ = manual;
    thread_ = startQuietThread([this] { run(); });
}

void VblankClock::setManual(bool manual)
{
    {
        std::lock_guard lock(mutex_);
        manual_ = manual;
    }
    modeChanged_.notify_all();
}

bool VblankClock::manual() const
{
    std::lock_guard lock(mutex_);
    return manual_;
}

// The clock keeps its own pace (deadlines on the steady clock), so a slow
// tick does not make the refresh rate drift.
void VblankClock::run()
{
    std::unique_lock lock(mutex_);
    auto deadline = std::chrono::steady_clock::now() + frame;
    while (!stopping_) {
        if (manual_) {
            modeChanged_.wait(lock, [this] { return stopping_ || !manual_; });
            deadline = std::chrono::steady_clock::now() + frame;
            continue;
        }
        if (modeChanged_.wait_until(lock, deadline, [this] { return stopping_ || manual_; }))
            continue;
        deadline += frame;
        if (deadline < std::chrono::steady_clock::now())
            deadline = std::chrono::steady_clock::now() + frame;
        lock.unlock();
        tick_();
        lock.lock();
    }
}

} // namespace qelsim
