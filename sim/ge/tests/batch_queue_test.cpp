// SPDX-License-Identifier: MIT
// The ring of queued batches hands them out in submission order, with their
// storage, however often it wraps around or grows.
#include "batch_queue.h"

#include <gtest/gtest.h>

namespace qelsim::test {
namespace {

Batch batchWithSerial(uint64_t serial)
{
    Batch batch;
    batch.serial = serial;
    batch.ops.reserve(serial);
    return batch;
}

TEST(BatchQueue, FirstInFirstOutAcrossWrapAroundAndGrowth)
{
    BatchQueue queue;
    uint64_t pushed = 0, popped = 0;
    auto popExpectingNext = [&] {
        Batch batch = queue.pop();
        ++popped;
        EXPECT_EQ(batch.serial, popped);
        EXPECT_GE(batch.ops.capacity(), popped) << "the batch's storage came along";
    };
    // Three in, two out per round: the ring wraps around between growths.
    for (int round = 0; round < 40; ++round) {
        for (int i = 0; i < 3; ++i)
            queue.push(batchWithSerial(++pushed));
        for (int i = 0; i < 2; ++i)
            popExpectingNext();
        EXPECT_EQ(queue.size(), pushed - popped);
    }
    while (!queue.empty())
        popExpectingNext();
    EXPECT_EQ(popped, pushed);
}

} // namespace
} // namespace qelsim::test
