// SPDX-License-Identifier: MIT
// The engine running beside the caller on its worker thread: stale pixels
// until GE_WAIT, ordering, the queue limit, and buffer lifetimes.
//
// Batches are held back with a per-batch delay no test waits out; lowering
// the delay releases them, so no test depends on timing.
#include "ge_test_support.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>

#include <gtest/gtest.h>

namespace qelsim::test {
namespace {

constexpr uint32_t kBuf = 3; // 64 x 4, pitch 256
constexpr uint32_t kPitch = 256;
constexpr uint32_t kShortTimeoutUs = 1000;

class ThreadedTest : public ::testing::Test {
protected:
    ThreadedTest() { store.create(kBuf, 64, 4, kPitch); }

    uint32_t submitFill(uint32_t x, uint32_t color)
    {
        uint32_t seqno = 0;
        EXPECT_EQ(submitOps(engine, {fillOp(kBuf, kPitch, x, 0, 1, 1, color)}, &seqno), 0)
            << engine.lastRejection();
        return seqno;
    }

    // What the driver does: on EAGAIN, wait with seqno 0 and try again.
    uint32_t submitRetryingWhenFull(const std::vector<uapi::GeOp> &ops)
    {
        uint32_t seqno = 0;
        int result;
        while ((result = submitOps(engine, ops, &seqno)) == -EAGAIN)
            EXPECT_EQ(waitSeqno(engine, 0), 0);
        EXPECT_EQ(result, 0);
        return seqno;
    }

    BufferStore store;
    GeEngine engine{store.lookup()};
};

TEST_F(ThreadedTest, PixelsAreStaleUntilWaitReturns)
{
    store.setPixel(kBuf, 0, 0, 0);
    store.setPixel(kBuf, 1, 0, 0);
    engine.setMode(true, kStalledDelayUs);
    uint32_t first = submitFill(0, 0xAAAA0001);
    uint32_t second = submitFill(1, 0xAAAA0002);

    EXPECT_EQ(store.pixel(kBuf, 0, 0), 0u);
    EXPECT_FALSE(engine.completed(first));
    EXPECT_EQ(waitSeqno(engine, second, kShortTimeoutUs), -ETIMEDOUT);

    engine.setMode(true, 0);
    ASSERT_EQ(waitSeqno(engine, second), 0);
    EXPECT_TRUE(engine.completed(first)) << "waiting for a batch waits for all before it";
    EXPECT_EQ(store.pixel(kBuf, 0, 0), 0xAAAA0001u);
    EXPECT_EQ(store.pixel(kBuf, 1, 0), 0xAAAA0002u);
}

TEST_F(ThreadedTest, BatchesRunInSubmissionOrder)
{
    // Batch k copies pixel 0 to pixel k, then stores k + 1 in pixel 0: each
    // pixel k ends up as k only if batch k - 1 ran before batch k.
    engine.setMode(true, 0);
    store.setPixel(kBuf, 0, 0, 0);
    uint32_t last = 0;
    for (uint32_t k = 1; k < 64; ++k)
        last = submitRetryingWhenFull({copyOp(kBuf, kPitch, k, 0, 1, 1, kBuf, kPitch, 0, 0),
                                       fillOp(kBuf, kPitch, 0, 0, 1, 1, k)});
    ASSERT_EQ(waitSeqno(engine, last), 0);
    for (uint32_t k = 1; k < 64; ++k)
        EXPECT_EQ(store.pixel(kBuf, k, 0), k - 1) << "pixel " << k;
}

TEST_F(ThreadedTest, FullQueueRefusesWithEagainUntilWaitZeroSaysThereIsRoom)
{
    engine.setMode(true, kStalledDelayUs);
    for (uint32_t i = 0; i < GeEngine::kQueueLimit; ++i)
        submitFill(i, i);
    uint32_t seqno = 0;
    EXPECT_EQ(submitOps(engine, {fillOp(kBuf, kPitch, 63, 0, 1, 1, 63)}, &seqno), -EAGAIN);
    EXPECT_EQ(seqno, 0u);
    EXPECT_EQ(waitSeqno(engine, 0, kShortTimeoutUs), -ETIMEDOUT);

    engine.setMode(true, 0);
    ASSERT_EQ(waitSeqno(engine, 0), 0);
    uint32_t last = submitFill(63, 63);
    engine.idle();
    EXPECT_TRUE(engine.completed(last));
    EXPECT_EQ(store.pixel(kBuf, 63, 0), 63u);
    GeEngine::Counters c = engine.counters();
    EXPECT_EQ(c.batchesDone, GeEngine::kQueueLimit + 1);
    EXPECT_EQ(c.rejectedSubmits, 1u);
    EXPECT_EQ(c.rejectedOps, 0u);
}

TEST_F(ThreadedTest, CallerMayReuseItsArrayWhenSubmitReturns)
{
    engine.setMode(true, kStalledDelayUs);
    std::vector<uapi::GeOp> ops{fillOp(kBuf, kPitch, 5, 1, 2, 2, 0x0BADCAFE)};
    uapi::GeSubmitArgs args = argsFor(ops);
    ASSERT_EQ(engine.submit(&args), 0);
    ops[0] = fillOp(kBuf, kPitch, 0, 0, 64, 4, 0xFFFFFFFF);
    ops[0].type = 0;

    engine.setMode(true, 0);
    ASSERT_EQ(waitSeqno(engine, args.seqno), 0);
    EXPECT_EQ(store.pixel(kBuf, 6, 2), 0x0BADCAFEu);
    EXPECT_NE(store.pixel(kBuf, 0, 0), 0xFFFFFFFFu);
}

TEST_F(ThreadedTest, QueuedBatchKeepsDestroyedBuffersAlive)
{
    engine.setMode(true, kStalledDelayUs);
    std::weak_ptr<std::vector<uint8_t>> memory = store.memory(kBuf);
    submitFill(2, 0x5EEDF00D);
    store.destroy(kBuf);
    EXPECT_FALSE(memory.expired());

    engine.setMode(true, 0);
    engine.idle();
    EXPECT_TRUE(memory.expired()) << "the engine let go of the buffer after the batch ran";
    EXPECT_EQ(engine.counters().pixelsFilled, 1u);
}

// The batch keeps each buffer alive once, not per operation: alternating
// between two buffers must keep both.
TEST_F(ThreadedTest, QueuedCopiesReadSourcesDestroyedMeanwhile)
{
    constexpr uint32_t kFirst = 4, kSecond = 5, kSmallPitch = 32;
    store.create(kFirst, 8, 1, kSmallPitch);
    store.create(kSecond, 8, 1, kSmallPitch);
    store.setPixel(kFirst, 0, 0, 0xF1F1F1F1);
    store.setPixel(kSecond, 0, 0, 0x52525252);
    engine.setMode(true, kStalledDelayUs);
    uint32_t seqno = 0;
    ASSERT_EQ(submitOps(engine,
                        {copyOp(kBuf, kPitch, 0, 1, 1, 1, kFirst, kSmallPitch, 0, 0),
                         copyOp(kBuf, kPitch, 1, 1, 1, 1, kSecond, kSmallPitch, 0, 0),
                         copyOp(kBuf, kPitch, 2, 1, 1, 1, kFirst, kSmallPitch, 0, 0)},
                        &seqno),
              0)
        << engine.lastRejection();
    store.destroy(kFirst);
    store.destroy(kSecond);

    engine.setMode(true, 0);
    ASSERT_EQ(waitSeqno(engine, seqno), 0);
    EXPECT_EQ(store.pixel(kBuf, 0, 1), 0xF1F1F1F1u);
    EXPECT_EQ(store.pixel(kBuf, 1, 1), 0x52525252u);
    EXPECT_EQ(store.pixel(kBuf, 2, 1), 0xF1F1F1F1u);
}

TEST_F(ThreadedTest, BuffersAreLookedUpOnTheSubmittingThread)
{
    engine.setMode(true, 0);
    submitFill(0, 1);
    submitRetryingWhenFull({copyOp(kBuf, kPitch, 1, 1, 4, 1, kBuf, kPitch, 0, 0)});
    engine.idle();
    for (std::thread::id id : store.lookupThreads())
        EXPECT_EQ(id, std::this_thread::get_id());
}

TEST_F(ThreadedTest, ActivityCallbackAfterEveryBatch)
{
    std::mutex mutex;
    std::condition_variable changed;
    unsigned batches = 0;
    engine.setActivityCallback([&] {
        std::lock_guard lock(mutex);
        ++batches;
        changed.notify_all();
    });
    engine.setMode(true, 0);
    for (uint32_t i = 0; i < 3; ++i)
        submitFill(i, i);
    std::unique_lock lock(mutex);
    EXPECT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return batches == 3; }));
}

TEST_F(ThreadedTest, SwitchingToSynchronousCompletesQueuedWork)
{
    engine.setMode(true, kStalledDelayUs);
    store.setPixel(kBuf, 0, 0, 0);
    uint32_t queued = submitFill(0, 0x1234);
    engine.setMode(false, 0);
    EXPECT_TRUE(engine.completed(queued));
    submitOps(engine, {copyOp(kBuf, kPitch, 1, 0, 1, 1, kBuf, kPitch, 0, 0)});
    EXPECT_EQ(store.pixel(kBuf, 1, 0), 0x1234u);
}

TEST_F(ThreadedTest, ControlThreadObservesWhileClientSubmits)
{
    engine.setMode(true, 0);
    std::atomic<bool> clientDone{false};
    bool countersWentBack = false;
    std::thread control([&] {
        uint64_t lastDone = 0;
        while (!clientDone) {
            engine.idle();
            uint64_t done = engine.counters().batchesDone;
            countersWentBack |= done < lastDone;
            lastDone = done;
        }
    });
    uint32_t last = 0;
    for (uint32_t i = 0; i < 200; ++i)
        last = submitRetryingWhenFull({fillOp(kBuf, kPitch, i % 64, 0, 1, 1, i)});
    clientDone = true;
    control.join();
    ASSERT_EQ(waitSeqno(engine, last), 0);
    EXPECT_FALSE(countersWentBack);
    EXPECT_EQ(engine.counters().batchesDone, 200u);
    EXPECT_EQ(store.pixel(kBuf, 199 % 64, 0), 199u);
}

TEST(ThreadedTeardown, DestroyingTheEngineCompletesQueuedWork)
{
    BufferStore store;
    store.create(kBuf, 64, 4, kPitch);
    auto engine = std::make_unique<GeEngine>(store.lookup());
    engine->setMode(true, kStalledDelayUs);
    ASSERT_EQ(submitOps(*engine, {fillOp(kBuf, kPitch, 0, 0, 64, 4, 0x77)}), 0);
    engine.reset();
    EXPECT_EQ(store.pixel(kBuf, 63, 3), 0x77u);
}

} // namespace
} // namespace qelsim::test
