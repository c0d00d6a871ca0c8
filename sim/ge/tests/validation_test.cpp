// SPDX-License-Identifier: MIT
// Refused batches: every field a kernel checks, each making the whole batch
// fail with nothing of it executed, and the reason the engine gives.
#include "ge_test_support.h"

#include <cerrno>
#include <functional>
#include <ostream>
#include <string>
#include <sys/mman.h>

#include <gtest/gtest.h>

namespace qelsim::test {
namespace {

constexpr uint32_t kDst = 5; // 16 x 8, pitch 128
constexpr uint32_t kSrc = 6; // 8 x 8, pitch 32
constexpr uint32_t kDstPitch = 128;
constexpr uint32_t kSrcPitch = 32;

class ValidationTest : public ::testing::Test {
protected:
    ValidationTest()
    {
        store.create(kDst, 16, 8, kDstPitch);
        store.create(kSrc, 8, 8, kSrcPitch);
    }

    void expectNothingExecuted(const std::vector<uint8_t> &dstBefore,
                               const std::vector<uint8_t> &srcBefore)
    {
        EXPECT_EQ(store.bytes(kDst), dstBefore);
        EXPECT_EQ(store.bytes(kSrc), srcBefore);
        EXPECT_EQ(engine.counters().batchesDone, 0u);
        EXPECT_EQ(engine.counters().ops, 0u);
        EXPECT_EQ(engine.lastSubmittedSeqno(), 0u);
    }

    // Submits a valid fill followed by `bad`; the fill must not run either.
    void expectRefused(const uapi::GeOp &bad)
    {
        auto dstBefore = store.bytes(kDst);
        auto srcBefore = store.bytes(kSrc);
        std::vector<uapi::GeOp> ops{fillOp(kDst, kDstPitch, 0, 0, 4, 4, 0x77777777), bad};
        uapi::GeSubmitArgs args = argsFor(ops);
        args.seqno = 0xDEAD;
        EXPECT_EQ(engine.submit(&args), -EINVAL);
        EXPECT_EQ(args.seqno, 0xDEADu) << "a refused submit must not write a seqno";
        expectNothingExecuted(dstBefore, srcBefore);
        EXPECT_EQ(engine.counters().rejectedOps, 2u);
        EXPECT_EQ(engine.counters().rejectedSubmits, 1u);
        EXPECT_FALSE(engine.lastRejection().empty());
    }

    BufferStore store;
    GeEngine engine{store.lookup()};
};

uapi::GeOp goodCopy()
{
    return copyOp(kDst, kDstPitch, 8, 0, 8, 8, kSrc, kSrcPitch, 0, 0);
}

uapi::GeOp goodFill()
{
    return fillOp(kDst, kDstPitch, 0, 0, 16, 8, 0x12345678);
}

struct BadOp {
    const char *name;
    std::function<uapi::GeOp()> make;
    const char *reason; // what lastRejection() names after "op 1: "
};

void PrintTo(const BadOp &bad, std::ostream *out)
{
    *out << bad.name;
}

std::string badOpName(const ::testing::TestParamInfo<BadOp> &info)
{
    return info.param.name;
}

uapi::GeOp withCopy(const std::function<void(uapi::GeOp &)> &change)
{
    uapi::GeOp op = goodCopy();
    change(op);
    return op;
}

uapi::GeOp withFill(const std::function<void(uapi::GeOp &)> &change)
{
    uapi::GeOp op = goodFill();
    change(op);
    return op;
}

const BadOp kBadOps[] = {
    {"TypeZero", [] { return withFill([](auto &op) { op.type = 0; }); }, "unknown type 0"},
    {"TypeThree", [] { return withCopy([](auto &op) { op.type = 3; }); }, "unknown type 3"},
    {"FillWithCopyRop", [] { return withFill([](auto &op) { op.rop = 0xCC; }); },
     "rop 204 not allowed for type 1"},
    {"CopyWithFillRop", [] { return withCopy([](auto &op) { op.rop = 0xF0; }); },
     "rop 240 not allowed for type 2"},
    {"UnknownRop", [] { return withFill([](auto &op) { op.rop = 0x00; }); },
     "rop 0 not allowed for type 1"},
    {"RopInHigherBits", [] { return withFill([](auto &op) { op.rop = 0x1F0; }); },
     "rop 496 not allowed for type 1"},
    {"UnknownDstHandle", [] { return withFill([](auto &op) { op.dst_handle = 99; }); },
     "destination handle 99 does not exist"},
    {"DstHandleZero", [] { return withCopy([](auto &op) { op.dst_handle = 0; }); },
     "destination handle 0 does not exist"},
    {"UnknownSrcHandle", [] { return withCopy([](auto &op) { op.src_handle = 99; }); },
     "source handle 99 does not exist"},
    {"DstPitchNotTheBuffers", [] { return withFill([](auto &op) { op.dst_pitch = 64; }); },
     "destination pitch 64 is not the buffer's 128"},
    {"SrcPitchNotTheBuffers", [] { return withCopy([](auto &op) { op.src_pitch = 36; }); },
     "source pitch 36 is not the buffer's 32"},
    {"ZeroWidth", [] { return withFill([](auto &op) { op.width = 0; }); },
     "destination rectangle 0x8+0+0 is not inside 16x8"},
    {"ZeroHeight", [] { return withCopy([](auto &op) { op.height = 0; }); },
     "destination rectangle 8x0+8+0 is not inside 16x8"},
    {"DstPastRightEdge", [] { return withFill([](auto &op) { op.dst_x = 1; }); },
     "destination rectangle 16x8+1+0 is not inside 16x8"},
    {"DstPastBottomEdge", [] { return withFill([](auto &op) { op.dst_y = 1; }); },
     "destination rectangle 16x8+0+1 is not inside 16x8"},
    {"SrcPastRightEdge", [] { return withCopy([](auto &op) { op.src_x = 1; }); },
     "source rectangle 8x8+1+0 is not inside 8x8"},
    {"SrcPastBottomEdge", [] { return withCopy([](auto &op) { op.src_y = 1; }); },
     "source rectangle 8x8+0+1 is not inside 8x8"},
    {"DstXPlusWidthWraps",
     [] {
         return withFill([](auto &op) {
             op.dst_x = 0xFFFFFFFF;
             op.width = 2;
         });
     },
     "destination rectangle 2x8+4294967295+0 is not inside 16x8"},
    {"DstYPlusHeightWraps",
     [] {
         return withFill([](auto &op) {
             op.dst_y = 0xFFFFFFF9;
             op.height = 8;
         });
     },
     "destination rectangle 16x8+0+4294967289 is not inside 16x8"},
    {"SrcXPlusWidthWraps", [] { return withCopy([](auto &op) { op.src_x = 0xFFFFFFF9; }); },
     "source rectangle 8x8+4294967289+0 is not inside 8x8"},
    {"SrcYPlusHeightWraps", [] { return withCopy([](auto &op) { op.src_y = 0xFFFFFFF9; }); },
     "source rectangle 8x8+0+4294967289 is not inside 8x8"},
    {"HugeWidthFromOrigin", [] { return withFill([](auto &op) { op.width = 0xFFFFFFFF; }); },
     "destination rectangle 4294967295x8+0+0 is not inside 16x8"},
};

class BadOpTest : public ValidationTest, public ::testing::WithParamInterface<BadOp> {};

TEST_P(BadOpTest, RefusesTheWholeBatch)
{
    expectRefused(GetParam().make());
    EXPECT_EQ(engine.lastRejection(), std::string("op 1: ") + GetParam().reason);
}

INSTANTIATE_TEST_SUITE_P(GeValidation, BadOpTest, ::testing::ValuesIn(kBadOps), badOpName);

TEST_F(ValidationTest, CountOutsideOneTo1024)
{
    std::vector<uapi::GeOp> ops(1025, fillOp(kDst, kDstPitch, 0, 0, 1, 1, 0));
    auto dstBefore = store.bytes(kDst);
    auto srcBefore = store.bytes(kSrc);
    uapi::GeSubmitArgs args = argsFor(ops);
    EXPECT_EQ(engine.submit(&args), -EINVAL);
    EXPECT_EQ(engine.lastRejection(), "count 1025 out of range");
    args.count = 0;
    EXPECT_EQ(engine.submit(&args), -EINVAL);
    EXPECT_EQ(engine.lastRejection(), "count 0 out of range");
    expectNothingExecuted(dstBefore, srcBefore);
    EXPECT_EQ(engine.counters().rejectedSubmits, 2u);

    args.count = 1024;
    EXPECT_EQ(engine.submit(&args), 0) << "1024 operations are allowed";
}

TEST_F(ValidationTest, NonZeroReservedFields)
{
    std::vector<uapi::GeOp> ops{goodFill()};
    auto dstBefore = store.bytes(kDst);
    auto srcBefore = store.bytes(kSrc);
    uapi::GeSubmitArgs args = argsFor(ops);
    args.reserved0 = 1;
    EXPECT_EQ(engine.submit(&args), -EINVAL);
    EXPECT_EQ(engine.lastRejection(), "reserved fields not zero");
    args.reserved0 = 0;
    args.reserved1 = 0x80000000;
    EXPECT_EQ(engine.submit(&args), -EINVAL);
    expectNothingExecuted(dstBefore, srcBefore);
}

class UnmappedPage {
public:
    UnmappedPage() : page_(mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)) {}
    ~UnmappedPage() { munmap(page_, 4096); }
    void *address() const { return page_; }

private:
    void *page_;
};

TEST_F(ValidationTest, UnreadableMemoryFailsWithEfault)
{
    UnmappedPage page;
    ASSERT_NE(page.address(), MAP_FAILED);
    auto dstBefore = store.bytes(kDst);
    auto srcBefore = store.bytes(kSrc);

    std::vector<uapi::GeOp> ops{goodFill()};
    uapi::GeSubmitArgs args = argsFor(ops);
    args.ops = reinterpret_cast<uintptr_t>(page.address());
    EXPECT_EQ(engine.submit(&args), -EFAULT);
    args.ops = 0;
    EXPECT_EQ(engine.submit(&args), -EFAULT);
    EXPECT_EQ(engine.submit(page.address()), -EFAULT);
    EXPECT_EQ(engine.wait(page.address()), -EFAULT);
    expectNothingExecuted(dstBefore, srcBefore);
}

TEST_F(ValidationTest, WordsAnOperationDoesNotUseAreIgnored)
{
    uapi::GeOp fill = goodFill();
    fill.src_handle = 99;
    fill.src_pitch = 7;
    fill.src_x = fill.src_y = 0xFFFFFFFF;
    uapi::GeOp copy = goodCopy();
    copy.fill_color = 0xFFFFFFFF;
    std::vector<uapi::GeOp> ops{fill, copy};
    uapi::GeSubmitArgs args = argsFor(ops);
    args.seqno = 12345; // an output field: whatever the caller left there
    EXPECT_EQ(engine.submit(&args), 0) << engine.lastRejection();
    EXPECT_NE(args.seqno, 12345u);
    EXPECT_EQ(engine.counters().rejectedOps, 0u);
}

TEST_F(ValidationTest, BatchAfterARefusedOneRunsNormally)
{
    expectRefused(withFill([](auto &op) { op.width = 0; }));
    uint32_t seqno = 0;
    ASSERT_EQ(submitOps(engine, {goodFill()}, &seqno), 0);
    EXPECT_EQ(waitSeqno(engine, seqno), 0);
    EXPECT_EQ(store.pixel(kDst, 15, 7), 0x12345678u);
}

} // namespace
} // namespace qelsim::test
