// SPDX-License-Identifier: MIT
// GeEngine: lifetime, execution modes, the worker thread, observation.
#include "ge_engine.h"

#include "raster.h"

#include <chrono>
#include <csignal>
#include <pthread.h>

namespace qelsim {

GeEngine::GeEngine(GeSurfaceLookup lookup) : lookup_(std::move(lookup)) {}

GeEngine::~GeEngine()
{
    std::lock_guard modeLock(modeMutex_);
    stopWorker();
}

void GeEngine::setMode(bool threaded, unsigned delayUsPerBatch)
{
    std::lock_guard modeLock(modeMutex_);
    {
        std::lock_guard lock(mutex_);
        delayUs_ = delayUsPerBatch;
        workCv_.notify_all(); // a batch waiting out the old delay re-reads it
        doneCv_.notify_all(); // wait(0) does not apply to synchronous mode
        if (threaded == threaded_)
            return;
        threaded_ = threaded;
    }
    if (threaded)
        startWorker();
    else
        stopWorker();
}

// The worker is created with every signal blocked: in the X server, signals
// meant for the server's own threads must never run on it.
void GeEngine::startWorker()
{
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    {
        std::lock_guard lock(mutex_);
        stopping_ = false;
    }
    worker_ = std::thread(&GeEngine::workerLoop, this);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void GeEngine::stopWorker()
{
    if (!worker_.joinable())
        return;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        workCv_.notify_all();
    }
    worker_.join();
}

void GeEngine::setHung(bool hung)
{
    std::unique_lock lock(mutex_);
    if (hung_ && !hung)
        dropQueued(lock);
    hung_ = hung;
    workCv_.notify_all();
    doneCv_.notify_all();
}

bool GeEngine::hung() const
{
    std::lock_guard lock(mutex_);
    return hung_;
}

// Called with the lock held; the batches let go of their buffers unlocked.
void GeEngine::dropQueued(std::unique_lock<std::mutex> &lock)
{
    while (!queue_.empty()) {
        Batch batch = queue_.pop();
        lock.unlock();
        recycle(std::move(batch));
        lock.lock();
    }
    completedSerial_ = lastSerial_;
    doneCv_.notify_all();
}

// A hung engine that is stopped drops what it holds.
void GeEngine::workerLoop()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        workCv_.wait(lock, [this] {
            return (stopping_ && (queue_.empty() || hung_)) ||
                   (!hung_ && !queue_.empty() && !executing_);
        });
        if (stopping_ && hung_)
            dropQueued(lock);
        if (queue_.empty())
            return;
        Batch batch = queue_.pop();
        executing_ = true;
        waitOutDelay(lock);
        runBatch(lock, std::move(batch));
    }
}

// Called with the lock held and executing_ set; returns with the lock held.
// The batch's storage goes back to the submitters before the batch counts
// as done, so a submit woken by its completion finds it.
void GeEngine::runBatch(std::unique_lock<std::mutex> &lock, Batch batch)
{
    lock.unlock();
    RasterTotals totals = executeBatch(batch.ops);
    batch.release(); // may free a buffer whose handle is gone: unlocked
    lock.lock();
    spare_.push_back(std::move(batch));
    finishBatch(lock, totals.pixelsFilled, totals.pixelsCopied);
}

// The delay stands for the time the hardware takes; it is re-read when it
// changes, and dropped when the engine leaves threaded mode or shuts down,
// so a test can speed up a deliberately slow engine.
void GeEngine::waitOutDelay(std::unique_lock<std::mutex> &lock)
{
    auto start = std::chrono::steady_clock::now();
    while (threaded_ && !stopping_) {
        auto end = start + std::chrono::microseconds(delayUs_);
        if (std::chrono::steady_clock::now() >= end)
            return;
        workCv_.wait_until(lock, end);
    }
}

// Called with the lock held, after the batch ran; returns with it held.
void GeEngine::finishBatch(std::unique_lock<std::mutex> &lock, uint64_t pixelsFilled,
                           uint64_t pixelsCopied)
{
    ++completedSerial_;
    executing_ = false;
    ++counters_.batchesDone;
    counters_.pixelsFilled += pixelsFilled;
    counters_.pixelsCopied += pixelsCopied;
    doneCv_.notify_all();
    workCv_.notify_all();
    std::function<void()> activity = activity_;
    if (!activity)
        return;
    lock.unlock();
    activity();
    lock.lock();
}

void GeEngine::setHooks(GeHooks *hooks)
{
    hooks_ = hooks;
}

GeEngine::Counters GeEngine::counters() const
{
    std::lock_guard lock(mutex_);
    return counters_;
}

std::string GeEngine::lastRejection() const
{
    std::lock_guard lock(mutex_);
    return lastRejection_;
}

void GeEngine::setActivityCallback(std::function<void()> callback)
{
    std::lock_guard lock(mutex_);
    activity_ = std::move(callback);
}

} // namespace qelsim
