// SPDX-License-Identifier: MIT
// Injected failures: the next N submits or waits fail as asked, then the
// engine behaves normally again.
#include "ge_instruments.h"
#include "ge_test_support.h"

#include <cerrno>

#include <gtest/gtest.h>

namespace qelsim::test {
namespace {

class FaultTest : public ::testing::TestWithParam<int> {
protected:
    FaultTest()
    {
        store.create(1, 4, 4, 16);
        engine.setHooks(&instruments);
    }

    BufferStore store;
    GeInstruments instruments;
    GeEngine engine{store.lookup()};
};

TEST_P(FaultTest, NextSubmitsFailWithoutRunning)
{
    const int err = GetParam();
    store.setPixel(1, 0, 0, 0);
    std::vector<uapi::GeOp> ops{fillOp(1, 16, 0, 0, 1, 1, 0xFEEDFACE)};
    instruments.failSubmits(err, 2);
    uint32_t seqno = 0;
    EXPECT_EQ(submitOps(engine, ops, &seqno), -err);
    EXPECT_EQ(submitOps(engine, ops, &seqno), -err);
    EXPECT_EQ(seqno, 0u);
    EXPECT_EQ(store.pixel(1, 0, 0), 0u);
    EXPECT_EQ(engine.lastSubmittedSeqno(), 0u);

    ASSERT_EQ(submitOps(engine, ops, &seqno), 0);
    EXPECT_NE(seqno, 0u);
    EXPECT_EQ(store.pixel(1, 0, 0), 0xFEEDFACEu);
    GeEngine::Counters c = engine.counters();
    EXPECT_EQ(c.submits, 3u);
    EXPECT_EQ(c.rejectedSubmits, 2u);
    EXPECT_EQ(c.rejectedOps, 0u) << "the operations themselves were fine";
    EXPECT_EQ(c.ops, 1u);
}

INSTANTIATE_TEST_SUITE_P(GeFaults, FaultTest, ::testing::Values(EINTR, EAGAIN, EINVAL));

TEST_F(FaultTest, NextWaitsTimeOutThenSucceed)
{
    uint32_t seqno = 0;
    ASSERT_EQ(submitOps(engine, {fillOp(1, 16, 0, 0, 1, 1, 0)}, &seqno), 0);
    instruments.failWaits(2);
    EXPECT_EQ(waitSeqno(engine, seqno), -ETIMEDOUT);
    EXPECT_EQ(waitSeqno(engine, 0), -ETIMEDOUT);
    EXPECT_EQ(waitSeqno(engine, seqno), 0);
    EXPECT_EQ(engine.counters().waits, 3u);
}

} // namespace
} // namespace qelsim::test
