// SPDX-License-Identifier: MIT
// The submit log shows each received record and its op words verbatim.
#include "ge_instruments.h"
#include "ge_test_support.h"

#include <cerrno>

#include <gtest/gtest.h>

namespace qelsim::test {
namespace {

class LogTest : public ::testing::Test {
protected:
    LogTest()
    {
        store.create(7, 1024, 16, 4096);
        store.create(9, 64, 8, 256);
        engine.setHooks(&instruments);
    }

    const std::vector<uapi::GeOp> threeOps{
        fillOp(7, 4096, 2, 3, 10, 5, 0x00FF0000),
        copyOp(7, 4096, 8, 8, 4, 4, 9, 256, 0, 0, TX3120_GE_ROP_SOURCE_XOR_DST),
        fillOp(9, 256, 63, 7, 1, 1, 0xFFFFFFFF, TX3120_GE_ROP_PATTERN_XOR_DST),
    };
    const std::string threeOpsLine = "submit count=3 reserved0=0 seqno=0 reserved1=0 ops="
                                     "[1,240,7,4096,2,3,10,5,16711680,0,0,0,0] "
                                     "[2,102,7,4096,8,8,4,4,0,9,256,0,0] "
                                     "[1,90,9,256,63,7,1,1,4294967295,0,0,0,0]";

    BufferStore store;
    GeInstruments instruments;
    GeEngine engine{store.lookup()};
};

TEST_F(LogTest, OneLinePerSubmitWithTheRecordAsReceived)
{
    instruments.setLogging(true);
    ASSERT_EQ(submitOps(engine, threeOps), 0);
    std::vector<uapi::GeOp> refused{threeOps[0]};
    uapi::GeSubmitArgs args = argsFor(refused);
    args.reserved1 = 5;
    EXPECT_EQ(engine.submit(&args), -EINVAL);
    args.count = 2000;
    EXPECT_EQ(engine.submit(&args), -EINVAL);

    EXPECT_EQ(instruments.logLines(),
              (std::vector<std::string>{
                  threeOpsLine,
                  "submit count=1 reserved0=0 seqno=0 reserved1=5 ops="
                  "[1,240,7,4096,2,3,10,5,16711680,0,0,0,0]",
                  "submit count=2000 reserved0=0 seqno=0 reserved1=5 ops=unread",
              }));
}

TEST_F(LogTest, RecordsOnlyWhileOnAndClears)
{
    ASSERT_EQ(submitOps(engine, threeOps), 0);
    EXPECT_TRUE(instruments.logLines().empty());
    instruments.setLogging(true);
    ASSERT_EQ(submitOps(engine, threeOps), 0);
    instruments.setLogging(false);
    ASSERT_EQ(submitOps(engine, threeOps), 0);
    EXPECT_EQ(instruments.logLines(), std::vector<std::string>{threeOpsLine});
    instruments.clearLog();
    EXPECT_TRUE(instruments.logLines().empty());
}

} // namespace
} // namespace qelsim::test
