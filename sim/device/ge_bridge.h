// SPDX-License-Identifier: MIT
// The device's side of the GE engine (sim/ge): resolves the handles of a
// batch in the file that submitted it, and reports the engine's figures
// relative to the last device reset.
#pragma once

#include "ge_engine.h"
#include "objects.h"

#include <atomic>
#include <functional>
#include <memory>

namespace qelsim {

class GeBridge {
public:
    // FIND resolves a handle of a file; called from the submitting thread.
    using HandleResolver = std::function<BufferRef(const DrmFile &, uint32_t)>;

    void start(HandleResolver find);

    int submit(const DrmFile &file, void *userArgs);
    int wait(void *userArgs);

    GeEngine &engine() { return *engine_; }
    uint32_t lastSubmittedSeqno() const { return engine_->lastSubmittedSeqno(); }
    bool completed(uint32_t seqno) const { return engine_->completed(seqno); }

    // Whether a batch completed since the last call.
    bool takeActivity() { return activity_.exchange(false); }

    // Counters since the last resetCounters().
    GeEngine::Counters counters() const;
    void resetCounters();

private:
    std::unique_ptr<GeEngine> engine_;
    HandleResolver find_;
    GeEngine::Counters baseline_{};
    std::atomic<bool> activity_{false};
};

} // namespace qelsim
