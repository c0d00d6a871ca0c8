// SPDX-License-Identifier: MIT
// Waiting for a state the server reaches on its own time (a shadow update,
// a mode set after the console becomes active, a DPMS change): the condition
// is polled until it holds or a generous deadline passes. No fixed sleeps.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace qeltest {

inline bool eventually(const std::function<bool()> &condition,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10))
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::yield();
    }
    return true;
}

} // namespace qeltest
