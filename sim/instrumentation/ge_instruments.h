// SPDX-License-Identifier: MIT
// The GE's test instrumentation: submit and wait failures armed for the
// next calls, and the log of every submit received (the `fault` and
// `ge-log` control requests).
#pragma once

#include "ge_hooks.h"

#include <mutex>
#include <string>
#include <vector>

namespace qelsim {

class GeInstruments final : public GeHooks {
public:
    // The next `count` submits fail with `err` (a positive errno) before
    // anything is checked.
    void failSubmits(int err, unsigned count);
    // The next `count` waits fail with ETIMEDOUT without blocking.
    void failWaits(unsigned count);
    // The same for the next `count` waits for room in the queue only, so
    // that a test can fail the wait that follows a full queue whatever
    // waits for batches come first.
    void failRoomWaits(unsigned count);

    void setLogging(bool on);
    void clearLog();
    std::vector<std::string> logLines() const;

    // No faults armed, logging off, the log empty.
    void reset();

    int submitFault() override;
    bool waitFault(bool forRoom) override;
    void submitReceived(const uapi::GeSubmitArgs &args, const std::vector<uapi::GeOp> &ops,
                        bool opsRead) override;

private:
    mutable std::mutex mutex_;
    int submitError_ = 0;
    unsigned submitFaults_ = 0;
    unsigned waitFaults_ = 0;
    unsigned roomWaitFaults_ = 0;
    bool logging_ = false;
    std::vector<std::string> log_;
};

} // namespace qelsim
