// SPDX-License-Identifier: MIT
// Marks the current thread as running simulator code: interposed calls made
// meanwhile (the simulator's own file, socket and memory calls) go straight
// to the next definition instead of being simulated again.
#pragma once

namespace qelsim {

class ReentryGuard {
public:
    ReentryGuard() : wasInside_(inside_) { inside_ = true; }
    ~ReentryGuard() { inside_ = wasInside_; }
    ReentryGuard(const ReentryGuard &) = delete;
    ReentryGuard &operator=(const ReentryGuard &) = delete;

    static bool active() { return inside_; }

private:
    bool wasInside_;
    static inline thread_local bool inside_ = false;
};

} // namespace qelsim
