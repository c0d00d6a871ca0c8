// SPDX-License-Identifier: MIT
// Seqnos: never 0, distinct from earlier ones, wrapping past 0xFFFFFFFF,
// and what wait and completed() make of them.
#include "ge_test_support.h"
#include "seqno.h"

#include <cerrno>
#include <set>

#include <gtest/gtest.h>

namespace qelsim::test {
namespace {

TEST(SeqnoNumbering, CyclesThroughNonZeroValues)
{
    EXPECT_EQ(seqnoOfSerial(1), 1u);
    EXPECT_EQ(seqnoOfSerial(0xFFFFFFFFULL), 0xFFFFFFFFu);
    EXPECT_EQ(seqnoOfSerial(0x100000000ULL), 1u) << "0 is skipped when wrapping";
    EXPECT_EQ(seqnoOfSerial(0x100000001ULL), 2u);
}

TEST(SeqnoNumbering, FindsTheLatestBatchCarryingASeqno)
{
    EXPECT_EQ(serialOfSeqno(3, 5), 3u);
    EXPECT_EQ(serialOfSeqno(5, 5), 5u);
    EXPECT_EQ(serialOfSeqno(6, 5), std::nullopt) << "never handed out";
    EXPECT_EQ(serialOfSeqno(0, 5), std::nullopt);
    const uint64_t afterWrap = 0xFFFFFFFFULL + 2; // seqnos 1 and 2 handed out twice
    EXPECT_EQ(serialOfSeqno(2, afterWrap), afterWrap);
    EXPECT_EQ(serialOfSeqno(1, afterWrap), afterWrap - 1);
    EXPECT_EQ(serialOfSeqno(3, afterWrap), 3u);
    EXPECT_EQ(serialOfSeqno(0xFFFFFFFF, afterWrap), 0xFFFFFFFFULL);
}

class EngineSeqnoTest : public ::testing::Test {
protected:
    EngineSeqnoTest() { store.create(1, 4, 4, 16); }

    uint32_t submitOne()
    {
        uint32_t seqno = 0;
        EXPECT_EQ(submitOps(engine, {fillOp(1, 16, 0, 0, 1, 1, 0)}, &seqno), 0);
        return seqno;
    }

    BufferStore store;
    GeEngine engine{store.lookup()};
};

TEST_F(EngineSeqnoTest, NonZeroAndDistinct)
{
    std::set<uint32_t> seen;
    for (int i = 0; i < 50; ++i) {
        uint32_t seqno = submitOne();
        EXPECT_NE(seqno, 0u);
        EXPECT_TRUE(seen.insert(seqno).second) << "seqno " << seqno << " handed out twice";
        EXPECT_EQ(engine.lastSubmittedSeqno(), seqno);
    }
}

TEST_F(EngineSeqnoTest, CompletedAndWaitKnowOnlyIssuedSeqnos)
{
    EXPECT_EQ(engine.lastSubmittedSeqno(), 0u);
    EXPECT_TRUE(engine.completed(0)) << "0 stands for nothing submitted";
    EXPECT_EQ(waitSeqno(engine, 1), -EINVAL) << "nothing issued yet";
    uint32_t first = submitOne();
    uint32_t second = submitOne();
    EXPECT_TRUE(engine.completed(first));
    EXPECT_TRUE(engine.completed(second));
    EXPECT_EQ(waitSeqno(engine, first), 0);
    EXPECT_EQ(waitSeqno(engine, second), 0);
    EXPECT_FALSE(engine.completed(second + 1));
    EXPECT_EQ(waitSeqno(engine, second + 1), -EINVAL);
    EXPECT_EQ(waitSeqno(engine, 0), 0) << "synchronous mode can always take work";
    EXPECT_EQ(engine.counters().waits, 5u);
}

} // namespace
} // namespace qelsim::test
