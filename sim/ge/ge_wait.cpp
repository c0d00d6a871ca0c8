// SPDX-License-Identifier: MIT
// GeEngine: the GE_WAIT ioctl and completion queries.
#include "ge_engine.h"
#include "seqno.h"
#include "user_copy.h"

#include <cerrno>
#include <chrono>

namespace qelsim {

int GeEngine::wait(void *userArgs)
{
    uapi::GeWaitArgs args{};
    bool readable = copyFromUser(&args, reinterpret_cast<uintptr_t>(userArgs), sizeof args);
    GeHooks *hooks = hooks_.load();
    bool faulted = readable && hooks && hooks->waitFault(args.seqno == 0);
    std::unique_lock lock(mutex_);
    ++counters_.waits;
    if (!readable)
        return -EFAULT;
    if (faulted)
        return -ETIMEDOUT;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(args.timeout_us);
    if (args.seqno == 0) {
        bool room = doneCv_.wait_until(lock, deadline,
                                       [this] { return !threaded_ || pendingBelowLimit(); });
        return room ? 0 : -ETIMEDOUT;
    }
    std::optional<uint64_t> serial = serialOfSeqno(args.seqno, lastSerial_);
    if (!serial)
        return -EINVAL;
    bool done = doneCv_.wait_until(lock, deadline, [&] { return completedSerial_ >= *serial; });
    return done ? 0 : -ETIMEDOUT;
}

uint32_t GeEngine::lastSubmittedSeqno() const
{
    std::lock_guard lock(mutex_);
    return lastSerial_ == 0 ? 0 : seqnoOfSerial(lastSerial_);
}

bool GeEngine::completed(uint32_t seqno) const
{
    if (seqno == 0)
        return true;
    std::lock_guard lock(mutex_);
    std::optional<uint64_t> serial = serialOfSeqno(seqno, lastSerial_);
    return serial && completedSerial_ >= *serial;
}

void GeEngine::idle()
{
    std::unique_lock lock(mutex_);
    doneCv_.wait(lock, [this] { return completedSerial_ == lastSerial_ || hung_; });
}

} // namespace qelsim
