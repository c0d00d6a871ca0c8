#include "raster.h"

#include <cstring>
#include <vector>

namespace qelsim {
namespace {

// Pitches need not keep rows 4-byte aligned, so pixels go through memcpy.
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

uint8_t *pixelAddress(const GeSurface &s, uint32_t x, uint32_t y)
{
    return s.pixels + uint64_t{y} * s.pitch + uint64_t{x} * 4;
}

void fillRow(uint8_t *row, uint32_t width, uint32_t rop, uint32_t pattern)
{
    for (uint32_t i = 0; i < width; ++i, row += 4) {
        uint32_t dst = rop == uapi::kRopPattern ? pattern : pattern ^ loadPixel(row);
        storePixel(row, dst);
    }
}

void solidFill(const PreparedOp &p)
{
    const uapi::GeOp &op = p.op;
    for (uint32_t r = 0; r < op.height; ++r)
        fillRow(pixelAddress(p.dst, op.dstX, op.dstY + r), op.width, op.rop, op.fillColor);
}

void combineRow(uint8_t *row, const uint32_t *source, uint32_t width, uint32_t rop)
{
    for (uint32_t i = 0; i < width; ++i, row += 4) {
        uint32_t dst = rop == uapi::kRopSource ? source[i] : source[i] ^ loadPixel(row);
        storePixel(row, dst);
    }
}

// The source row is taken whole before the destination row is written,
// which settles horizontal overlap. Vertical overlap within one buffer is
// settled by the row order: when the destination lies below the source,
// rows go bottom-up, so no source row is overwritten before it is read.
void copyArea(const PreparedOp &p)
{
    const uapi::GeOp &op = p.op;
    bool bottomUp = p.src.pixels == p.dst.pixels && op.dstY > op.srcY;
    std::vector<uint32_t> rowBuffer(op.width);
    for (uint32_t i = 0; i < op.height; ++i) {
        uint32_t r = bottomUp ? op.height - 1 - i : i;
        std::memcpy(rowBuffer.data(), pixelAddress(p.src, op.srcX, op.srcY + r),
                    size_t{op.width} * 4);
        combineRow(pixelAddress(p.dst, op.dstX, op.dstY + r), rowBuffer.data(), op.width, op.rop);
    }
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
