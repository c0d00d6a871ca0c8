// SPDX-License-Identifier: MIT
// GeEngine::submit: the GE_SUBMIT ioctl.
#include "batch_check.h"
#include "ge_engine.h"
#include "seqno.h"
#include "user_copy.h"

#include <cerrno>

namespace qelsim {
namespace {

bool countInRange(uint32_t count)
{
    return count >= 1 && count <= TX3120_GE_MAX_OPS;
}

uint64_t addressOf(const void *p)
{
    return reinterpret_cast<uintptr_t>(p);
}

} // namespace

int GeEngine::submit(void *userArgs)
{
    Batch batch;
    {
        std::lock_guard lock(mutex_);
        ++counters_.submits;
        batch = takeSpare();
    }
    uapi::GeSubmitArgs args{};
    int err = receiveSubmit(userArgs, args, batch.received);
    if (err == 0) {
        BatchCheck check = prepareBatch(lookup_, batch);
        if (!check.ok)
            err = refuseInvalid(batch.received.size(), std::move(check.reason));
    }
    uint64_t serial = 0;
    if (err == 0)
        err = acceptBatch(std::move(batch), serial);
    else
        recycle(std::move(batch));
    if (err == 0) {
        // Written back whole, as the DRM core copies out an IOWR record.
        args.seqno = seqnoOfSerial(serial);
        if (!copyToUser(addressOf(userArgs), &args, sizeof args))
            err = EFAULT;
    }
    if (err != 0) {
        std::lock_guard lock(mutex_);
        ++counters_.rejectedSubmits;
    }
    return -err;
}

// Copies the record and the operations in (the caller may reuse its array
// as soon as the call returns), shows them to the hooks, then checks the
// record itself. Returns 0 or a positive errno.
int GeEngine::receiveSubmit(void *userArgs, uapi::GeSubmitArgs &args, std::vector<uapi::GeOp> &ops)
{
    if (!copyFromUser(&args, addressOf(userArgs), sizeof args))
        return EFAULT;
    bool opsRead = false;
    if (countInRange(args.count)) {
        ops.resize(args.count);
        opsRead = copyFromUser(ops.data(), args.ops, ops.size() * sizeof(uapi::GeOp));
    }
    if (!opsRead)
        ops.clear(); // `ops` may hold an earlier batch's operations
    if (GeHooks *hooks = hooks_.load()) {
        hooks->submitReceived(args, ops, opsRead);
        if (int fault = hooks->submitFault())
            return fault;
    }
    if (!countInRange(args.count))
        return refuseInvalid(0, "count " + std::to_string(args.count) + " out of range");
    if (!opsRead)
        return EFAULT;
    if (args.reserved0 != 0 || args.reserved1 != 0)
        return refuseInvalid(ops.size(), "reserved fields not zero");
    return 0;
}

int GeEngine::refuseInvalid(size_t opCount, std::string reason)
{
    std::lock_guard lock(mutex_);
    counters_.rejectedOps += opCount;
    lastRejection_ = std::move(reason);
    return EINVAL;
}

bool GeEngine::pendingBelowLimit() const
{
    return lastSerial_ - completedSerial_ < kQueueLimit;
}

// Gives the batch its serial in submission order, then queues it for the
// worker or, in synchronous mode, runs it here once earlier work is done.
int GeEngine::acceptBatch(Batch batch, uint64_t &serial)
{
    std::unique_lock lock(mutex_);
    while (!threaded_ && (executing_ || !queue_.empty()))
        doneCv_.wait(lock);
    if (threaded_ && !pendingBelowLimit()) {
        lock.unlock();
        recycle(std::move(batch));
        return EAGAIN;
    }
    serial = ++lastSerial_;
    counters_.ops += batch.ops.size();
    batch.serial = serial;
    if (!threaded_) {
        executing_ = true;
        runBatch(lock, std::move(batch));
        return 0;
    }
    queue_.push(std::move(batch));
    workCv_.notify_all();
    return 0;
}

// The storage of an earlier batch when there is one, so that a submit in
// the steady state allocates nothing. Called with the lock held.
Batch GeEngine::takeSpare()
{
    if (spare_.empty())
        return {};
    Batch batch = std::move(spare_.back());
    spare_.pop_back();
    return batch;
}

// Called without the lock: letting go of the buffers may free one.
void GeEngine::recycle(Batch batch)
{
    batch.release();
    std::lock_guard lock(mutex_);
    spare_.push_back(std::move(batch));
}

} // namespace qelsim
