#include "raster.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qelsim {
namespace {

// Pitches and buffer bases need not keep rows 4-byte aligned, so every
// load and store goes through memcpy, which the compiler turns into plain
// (unaligned) moves of the given width.
uint32_t loadPixel(const uint8_t *at)
{
    uint32_t v;
    std::memcpy(&v, at, sizeof v);
    return v;
}

void storePixel(uint8_t *at, uint32_t v)
{
    std::memcpy(at, &v, sizeof v);
}

// Four pixels moved as one vector: the inner loops then run at the width
// of the machine's stores instead of one pixel at a time.
using Quad = uint32_t __attribute__((vector_size(16)));
constexpr size_t kQuadBytes = sizeof(Quad);

Quad loadQuad(const uint8_t *at)
{
    Quad v;
    std::memcpy(&v, at, sizeof v);
    return v;
}

void storeQuad(uint8_t *at, Quad v)
{
    std::memcpy(at, &v, sizeof v);
}

uint8_t *pixelAddress(const GeSurface &s, uint32_t x, uint32_t y)
{
    return s.pixels + uint64_t{y} * s.pitch + uint64_t{x} * 4;
}

size_t rowBytes(const uapi::GeOp &op)
{
    return size_t{op.width} * 4;
}

void patternRow(uint8_t *row, size_t bytes, uint32_t pattern)
{
    const Quad quad = {pattern, pattern, pattern, pattern};
    uint8_t *end = row + bytes;
    for (; size_t(end - row) >= kQuadBytes; row += kQuadBytes)
        storeQuad(row, quad);
    for (; row != end; row += 4)
        storePixel(row, pattern);
}

void patternXorRow(uint8_t *row, size_t bytes, uint32_t pattern)
{
    const Quad quad = {pattern, pattern, pattern, pattern};
    uint8_t *end = row + bytes;
    for (; size_t(end - row) >= kQuadBytes; row += kQuadBytes)
        storeQuad(row, loadQuad(row) ^ quad);
    for (; row != end; row += 4)
        storePixel(row, loadPixel(row) ^ pattern);
}

// The row operation is chosen once per operation and inlined into the row
// loop: narrow rectangles (lines, glyph edges) are mostly loop overhead.
template <typename RowOp>
void forEachFillRow(const PreparedOp &p, RowOp rowOp)
{
    const uapi::GeOp &op = p.op;
    uint8_t *row = pixelAddress(p.dst, op.dstX, op.dstY);
    for (uint32_t r = 0; r < op.height; ++r, row += p.dst.pitch)
        rowOp(row, rowBytes(op), op.fillColor);
}

void solidFill(const PreparedOp &p)
{
    if (p.op.rop == uapi::kRopPattern)
        forEachFillRow(p, patternRow);
    else
        forEachFillRow(p, patternXorRow);
}

// Requires that `source` does not overlap `row`.
void sourceXorRow(uint8_t *row, const uint8_t *source, size_t bytes)
{
    uint8_t *end = row + bytes;
    for (; size_t(end - row) >= kQuadBytes; row += kQuadBytes, source += kQuadBytes)
        storeQuad(row, loadQuad(source) ^ loadQuad(row));
    for (; row != end; row += 4, source += 4)
        storePixel(row, loadPixel(source) ^ loadPixel(row));
}

bool bytesOverlap(const uint8_t *a, const uint8_t *b, size_t bytes)
{
    auto first = reinterpret_cast<uintptr_t>(a), second = reinterpret_cast<uintptr_t>(b);
    return first < second + bytes && second < first + bytes;
}

// The source row must be read whole before the destination row is
// written. When the two share bytes it is taken aside first, into memory
// kept by the executing thread so that no operation allocates once the
// widest row has been seen.
void sourceXorDstRow(uint8_t *row, const uint8_t *source, size_t bytes)
{
    if (bytesOverlap(row, source, bytes)) {
        thread_local std::vector<uint8_t> takenSource;
        if (takenSource.size() < bytes)
            takenSource.resize(bytes);
        std::memcpy(takenSource.data(), source, bytes);
        source = takenSource.data();
    }
    sourceXorRow(row, source, bytes);
}

// memmove reads the whole source row as if before writing, which settles
// horizontal overlap within one buffer.
void sourceRow(uint8_t *row, const uint8_t *source, size_t bytes)
{
    std::memmove(row, source, bytes);
}

// Vertical overlap within one buffer is settled by the row order: when the
// destination lies below the source, rows go bottom-up, so no source row
// is overwritten before it is read.
template <typename RowOp>
void forEachCopyRow(const PreparedOp &p, RowOp rowOp)
{
    const uapi::GeOp &op = p.op;
    bool bottomUp = p.src.pixels == p.dst.pixels && op.dstY > op.srcY;
    for (uint32_t i = 0; i < op.height; ++i) {
        uint32_t r = bottomUp ? op.height - 1 - i : i;
        rowOp(pixelAddress(p.dst, op.dstX, op.dstY + r),
              pixelAddress(p.src, op.srcX, op.srcY + r), rowBytes(op));
    }
}

void copyArea(const PreparedOp &p)
{
    if (p.op.rop == uapi::kRopSource)
        forEachCopyRow(p, sourceRow);
    else
        forEachCopyRow(p, sourceXorDstRow);
}

}  // namespace

void executeOp(const PreparedOp &p, RasterTotals &totals)
{
    uint64_t pixels = uint64_t{p.op.width} * p.op.height;
    if (p.op.type == uapi::kGeOpSolid) {
        solidFill(p);
        totals.pixelsFilled += pixels;
    } else {
        copyArea(p);
        totals.pixelsCopied += pixels;
    }
}

RasterTotals executeBatch(const std::vector<PreparedOp> &ops)
{
    RasterTotals totals;
    for (const PreparedOp &op : ops)
        executeOp(op, totals);
    return totals;
}

}  // namespace qelsim
