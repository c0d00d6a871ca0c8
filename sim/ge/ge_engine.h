// SPDX-License-Identifier: MIT
// The GE blitter as the kernel driver runs it: GE_SUBMIT takes a batch of
// fills and copies between dumb buffers, checks all of it, and queues it
// under a fresh seqno; GE_WAIT blocks until a batch has completed.
// Batches run either inside submit (synchronous) or on a worker thread that
// stands for the hardware running beside the CPU, optionally slowed down.
//
// Thread safety: every public call may come from any thread. The engine
// never holds its own lock while calling the surface lookup, the hooks or
// the activity callback, so they may take the simulator core's locks;
// callers must not hold those locks while calling idle() or wait().
#pragma once

#include "batch.h"
#include "batch_queue.h"
#include "ge_hooks.h"
#include "ge_surface.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qelsim {

class GeEngine {
public:
    // Batches submitted but not yet completed beyond which submit answers
    // EAGAIN (threaded mode only).
    static constexpr uint64_t kQueueLimit = 16;

    explicit GeEngine(GeSurfaceLookup lookup);
    ~GeEngine(); // completes all queued batches, then joins the worker
    GeEngine(const GeEngine &) = delete;
    GeEngine &operator=(const GeEngine &) = delete;

    // The GE_SUBMIT and GE_WAIT ioctls; the argument is the caller's
    // record. Return 0 or -errno.
    int submit(void *userArgs);
    int wait(void *userArgs);

    uint32_t lastSubmittedSeqno() const;  // 0 before the first batch
    bool completed(uint32_t seqno) const; // that batch and all before it; 0 is always complete
    void idle(); // blocks until all submitted batches are done, or the engine hangs

    // Switching to synchronous mode completes the queued batches first.
    void setMode(bool threaded, unsigned delayUsPerBatch);

    // A hung engine (threaded mode) starts no batch: waits time out, the
    // queue fills up. Ending the hang resets the engine as a kernel resets
    // a hung GE: the batches it held are dropped undrawn and count as
    // complete.
    void setHung(bool hung);
    bool hung() const;

    // Test instrumentation, not owned; null (the default) for none. It
    // must outlive the engine's last call.
    void setHooks(GeHooks *hooks);

    struct Counters {
        uint64_t submits;         // GE_SUBMIT calls received
        uint64_t ops;             // operations of accepted batches
        uint64_t rejectedOps;     // operations of batches refused as invalid
        uint64_t rejectedSubmits; // GE_SUBMIT calls that returned an error, any cause
        uint64_t pixelsFilled;
        uint64_t pixelsCopied;
        uint64_t batchesDone;
        uint64_t waits; // GE_WAIT calls received
    };
    Counters counters() const;
    std::string lastRejection() const; // why the last invalid batch was refused

    // Called after every completed batch, from whichever thread ran it.
    void setActivityCallback(std::function<void()> callback);

private:
    int receiveSubmit(void *userArgs, uapi::GeSubmitArgs &args, std::vector<uapi::GeOp> &ops);
    int refuseInvalid(size_t opCount, std::string reason);
    int acceptBatch(Batch batch, uint64_t &serial);
    Batch takeSpare();
    void recycle(Batch batch);
    void runBatch(std::unique_lock<std::mutex> &lock, Batch batch);
    void finishBatch(std::unique_lock<std::mutex> &lock, uint64_t pixelsFilled,
                     uint64_t pixelsCopied);
    bool pendingBelowLimit() const;

    void dropQueued(std::unique_lock<std::mutex> &lock);
    void startWorker();
    void stopWorker();
    void workerLoop();
    void waitOutDelay(std::unique_lock<std::mutex> &lock);

    GeSurfaceLookup lookup_;

    std::mutex modeMutex_; // serialises setMode and teardown across worker joins
    mutable std::mutex mutex_;
    std::condition_variable workCv_; // worker: work queued, delay changed, stop
    std::condition_variable doneCv_; // a batch finished

    BatchQueue queue_;         // accepted, not yet started
    std::vector<Batch> spare_; // storage of finished or refused batches, for the next submits
    uint64_t lastSerial_ = 0;
    uint64_t completedSerial_ = 0;
    bool executing_ = false; // one batch runs at a time, whoever runs it
    bool threaded_ = false;
    unsigned delayUs_ = 0;
    bool stopping_ = false;
    bool hung_ = false;
    std::thread worker_;

    std::atomic<GeHooks *> hooks_{nullptr};
    Counters counters_{};
    std::string lastRejection_;
    std::function<void()> activity_;
};

} // namespace qelsim
