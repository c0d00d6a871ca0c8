// SPDX-License-Identifier: MIT
// Pixel results of fills and copies, compared byte for byte over whole
// buffers (padding past width * 4 included) with the reference model.
#include "ge_test_support.h"
#include "raster.h"

#include <gtest/gtest.h>

#include <map>

namespace qelsim::test {
namespace {

constexpr uint32_t kBig = 1;   // 13 x 9, pitch 64: 12 bytes of padding per row
constexpr uint32_t kSmall = 2; // 7 x 5, pitch 40
constexpr uint32_t kWide = 3;  // 70 x 7, pitch 283: rows start at every byte offset mod 4
constexpr uint32_t kBigPitch = 64;
constexpr uint32_t kSmallPitch = 40;
constexpr uint32_t kWidePitch = 283;

constexpr uint32_t kRowLengths[] = {1, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64, 65, 69};

class RasterTest : public ::testing::Test {
protected:
    RasterTest()
    {
        store.create(kBig, 13, 9, kBigPitch);
        store.create(kSmall, 7, 5, kSmallPitch);
        store.create(kWide, 70, 7, kWidePitch);
    }

    ~RasterTest() override { allowWideMoves(true); }

    // Runs the batch on the reference, then on the engine once with each
    // width of vector moves, from the same starting bytes, and compares.
    void expectBatchMatchesReference(const std::vector<uapi::GeOp> &ops)
    {
        ReferenceModel expected(store, {kBig, kSmall, kWide});
        for (const uapi::GeOp &op : ops)
            expected.apply(op);
        const std::map<uint32_t, std::vector<uint8_t>> before = {
            {kBig, store.bytes(kBig)}, {kSmall, store.bytes(kSmall)}, {kWide, store.bytes(kWide)}};
        for (bool wide : {true, false}) {
            SCOPED_TRACE(wide ? "widest moves" : "16-byte moves");
            for (const auto &[handle, bytes] : before)
                *store.memory(handle) = bytes;
            allowWideMoves(wide);
            uint32_t seqno = 0;
            ASSERT_EQ(submitOps(engine, ops, &seqno), 0) << engine.lastRejection();
            ASSERT_EQ(waitSeqno(engine, seqno), 0);
            EXPECT_EQ(store.bytes(kBig), expected.bytes(kBig));
            EXPECT_EQ(store.bytes(kSmall), expected.bytes(kSmall));
            EXPECT_EQ(store.bytes(kWide), expected.bytes(kWide));
        }
    }

    BufferStore store;
    GeEngine engine{store.lookup()};
};

TEST(Rop3Reference, TruthTablesOfTheFourCodes)
{
    const uint32_t p = 0xF0F0F0F0, s = 0xCCCCCCCC, d = 0xAAAAAAAA;
    for (uint32_t rop : {0xF0u, 0x5Au, 0xCCu, 0x66u})
        EXPECT_EQ(rop3(rop, p, s, d), rop * 0x01010101u);
}

class FillRopTest : public RasterTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(FillRopTest, InteriorEdgeAndWholeBufferRectangles)
{
    const uint32_t rop = GetParam();
    expectBatchMatchesReference({fillOp(kBig, kBigPitch, 3, 2, 5, 4, 0x12345678, rop)});
    expectBatchMatchesReference({fillOp(kBig, kBigPitch, 12, 8, 1, 1, 0x00FF0000, rop)});
    expectBatchMatchesReference({fillOp(kBig, kBigPitch, 0, 0, 13, 9, 0xA5A5A5A5, rop)});
}

TEST_P(FillRopTest, RowsOfEveryLengthOnMisalignedRows)
{
    // Lengths around the multiples of 4, 8 and 16 pixels (the vectors and
    // their unrolled steps) and past 64 (where XORs align), each starting
    // at both an even and an odd pixel, on rows at every byte alignment.
    const uint32_t rop = GetParam();
    for (uint32_t width : kRowLengths) {
        for (uint32_t x : {0u, 1u}) {
            if (x + width > 70)
                continue;
            SCOPED_TRACE("width " + std::to_string(width) + " at x " + std::to_string(x));
            expectBatchMatchesReference(
                {fillOp(kWide, kWidePitch, x, 0, width, 7, 0x9E3779B9, rop)});
        }
    }
}

INSTANTIATE_TEST_SUITE_P(GeFill, FillRopTest, ::testing::Values(0xF0u, 0x5Au));

struct Shift;

class CopyRopTest : public RasterTest, public ::testing::WithParamInterface<uint32_t> {
protected:
    void expectSelfCopiesMatch(uint32_t handle, uint32_t pitch, uint32_t x, uint32_t y, uint32_t w,
                               uint32_t h, const std::vector<Shift> &shifts);
};

TEST_P(CopyRopTest, BetweenBuffersOfDifferentPitch)
{
    const uint32_t rop = GetParam();
    expectBatchMatchesReference(
        {copyOp(kBig, kBigPitch, 6, 4, 7, 5, kSmall, kSmallPitch, 0, 0, rop)});
    expectBatchMatchesReference(
        {copyOp(kSmall, kSmallPitch, 1, 1, 4, 3, kBig, kBigPitch, 9, 6, rop)});
}

TEST_P(CopyRopTest, RowsOfEveryLengthOnMisalignedRows)
{
    // As for fills; the source rows lie apart from the destination rows,
    // each at its own byte alignment.
    const uint32_t rop = GetParam();
    for (uint32_t width : kRowLengths) {
        for (uint32_t x : {0u, 1u}) {
            if (x + width > 70)
                continue;
            SCOPED_TRACE("width " + std::to_string(width) + " at x " + std::to_string(x));
            expectBatchMatchesReference(
                {copyOp(kWide, kWidePitch, x, 4, width, 3, kWide, kWidePitch, 1 - x, 0, rop)});
        }
    }
}

struct Shift {
    int dx, dy;
};

// Copies the w x h rectangle at (x, y) of one buffer onto itself, moved by
// each shift in turn.
void CopyRopTest::expectSelfCopiesMatch(uint32_t handle, uint32_t pitch, uint32_t x, uint32_t y,
                                        uint32_t w, uint32_t h, const std::vector<Shift> &shifts)
{
    for (const Shift &s : shifts) {
        SCOPED_TRACE("shift " + std::to_string(s.dx) + "," + std::to_string(s.dy));
        expectBatchMatchesReference(
            {copyOp(handle, pitch, x + s.dx, y + s.dy, w, h, handle, pitch, x, y, GetParam())});
    }
}

TEST_P(CopyRopTest, OverlappingSelfCopiesReadTheWholeSourceFirst)
{
    expectSelfCopiesMatch(
        kBig, kBigPitch, 3, 2, 6, 4,
        {{3, 0}, {-3, 0}, {0, 2}, {0, -2}, {1, 0}, {0, 1}, {2, 2}, {-2, -2}, {2, -1}, {-1, 2}});
}

TEST_P(CopyRopTest, OverlappingSelfCopiesOfLongMisalignedRows)
{
    // Shifts that are not multiples of 4 pixels put the source and the
    // destination of a row at different positions within 16 bytes.
    expectSelfCopiesMatch(
        kWide, kWidePitch, 8, 2, 53, 3,
        {{1, 0}, {-1, 0}, {5, 0}, {-5, 0}, {0, 1}, {0, -1}, {3, 1}, {-3, -1}, {7, -2}, {-7, 2}});
}

TEST_P(CopyRopTest, MisalignedRowsToAndFromAlignedOnes)
{
    const uint32_t rop = GetParam();
    expectBatchMatchesReference(
        {copyOp(kWide, kWidePitch, 61, 1, 9, 6, kBig, kBigPitch, 1, 2, rop)});
    expectBatchMatchesReference(
        {copyOp(kBig, kBigPitch, 0, 0, 13, 7, kWide, kWidePitch, 50, 0, rop)});
}

TEST_P(CopyRopTest, SelfCopiesOfChangingWidthInOneBatch)
{
    // Overlapping rows of one width after another within one batch: no
    // row may see what a previous, narrower or wider, row left behind.
    const uint32_t rop = GetParam();
    expectBatchMatchesReference({
        copyOp(kWide, kWidePitch, 2, 0, 3, 7, kWide, kWidePitch, 0, 0, rop),
        copyOp(kWide, kWidePitch, 0, 0, 68, 7, kWide, kWidePitch, 2, 0, rop),
        copyOp(kWide, kWidePitch, 1, 0, 20, 7, kWide, kWidePitch, 0, 0, rop),
    });
}

TEST_P(CopyRopTest, CopyOntoItself)
{
    expectBatchMatchesReference(
        {copyOp(kBig, kBigPitch, 2, 2, 5, 5, kBig, kBigPitch, 2, 2, GetParam())});
}

INSTANTIATE_TEST_SUITE_P(GeCopy, CopyRopTest, ::testing::Values(0xCCu, 0x66u));

TEST_F(RasterTest, OperationsOfABatchApplyInArrayOrder)
{
    // Each later operation reads what the earlier ones wrote.
    expectBatchMatchesReference({
        fillOp(kBig, kBigPitch, 0, 0, 8, 6, 0x11111111),
        fillOp(kBig, kBigPitch, 4, 3, 8, 6, 0x0F0F0F0F, TX3120_GE_ROP_PATTERN_XOR_DST),
        copyOp(kSmall, kSmallPitch, 0, 0, 7, 5, kBig, kBigPitch, 3, 2),
        copyOp(kBig, kBigPitch, 1, 1, 7, 5, kSmall, kSmallPitch, 0, 0,
               TX3120_GE_ROP_SOURCE_XOR_DST),
        fillOp(kBig, kBigPitch, 5, 5, 2, 2, 0xFFFFFFFF),
    });
}

TEST_F(RasterTest, SynchronousModeHasWrittenWhenSubmitReturns)
{
    ASSERT_EQ(submitOps(engine, {fillOp(kBig, kBigPitch, 4, 4, 1, 1, 0xCAFEF00D)}), 0);
    EXPECT_EQ(store.pixel(kBig, 4, 4), 0xCAFEF00Du);
}

TEST_F(RasterTest, CountsPixelsFilledAndCopied)
{
    ASSERT_EQ(submitOps(engine, {fillOp(kBig, kBigPitch, 0, 0, 3, 2, 1),
                                 copyOp(kBig, kBigPitch, 5, 5, 4, 2, kSmall, kSmallPitch, 0, 0),
                                 fillOp(kSmall, kSmallPitch, 0, 0, 7, 5, 2,
                                        TX3120_GE_ROP_PATTERN_XOR_DST)}),
              0);
    GeEngine::Counters c = engine.counters();
    EXPECT_EQ(c.pixelsFilled, 6u + 35u);
    EXPECT_EQ(c.pixelsCopied, 8u);
    EXPECT_EQ(c.ops, 3u);
    EXPECT_EQ(c.batchesDone, 1u);
    EXPECT_EQ(c.submits, 1u);
}

} // namespace
} // namespace qelsim::test
