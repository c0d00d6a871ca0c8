// SPDX-License-Identifier: MIT
#include "raster.h"

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qelsim {
namespace {

// Pitches and buffer bases need not keep rows 4-byte aligned, so every
// load and store goes through memcpy, which the compiler turns into plain
// (unaligned) moves of the given width.
[[gnu::always_inline]] inline uint32_t loadPixel(const uint8_t *at)
{
    uint32_t v;
    std::memcpy(&v, at, sizeof v);
    return v;
}

[[gnu::always_inline]] inline void storePixel(uint8_t *at, uint32_t v)
{
    std::memcpy(at, &v, sizeof v);
}

// Rows move in vectors of several pixels: 16 bytes on any machine, 32
// where the processor has them (see executeWith). The row code is written
// once for both and always inlined, so that it is compiled for the
// instruction set of the entry point that runs it. Vectors are passed by
// reference: by value, a 32-byte one would change the calling convention
// between the two.
using Quad = uint32_t __attribute__((vector_size(16)));
using Octet = uint32_t __attribute__((vector_size(32)));

template <typename Vec> [[gnu::always_inline]] inline void loadVec(Vec &v, const uint8_t *at)
{
    std::memcpy(&v, at, sizeof v);
}

template <typename Vec> [[gnu::always_inline]] inline void storeVec(uint8_t *at, const Vec &v)
{
    std::memcpy(at, &v, sizeof v);
}

[[gnu::always_inline]] inline bool onBoundary(const uint8_t *at, size_t bytes)
{
    return reinterpret_cast<uintptr_t>(at) % bytes == 0;
}

// A store that straddles two cache lines costs about two, and at an
// arbitrary x a quarter of a row's 16-byte stores (half of its 32-byte
// ones) would: the long loops store at vector boundaries only, and the
// ends of the row are dealt with apart. This is the distance from `at` to
// the first boundary after it.
template <typename Vec> [[gnu::always_inline]] inline size_t bytesToBoundaryAfter(const uint8_t *at)
{
    return sizeof(Vec) - reinterpret_cast<uintptr_t>(at) % sizeof(Vec);
}

// The fill pattern as it lies from byte `offset` of the row on: on a row
// that is not 4-byte aligned, vector boundaries fall inside pixels.
[[gnu::always_inline]] inline uint32_t patternFrom(uint32_t pattern, size_t offset)
{
    return std::rotr(pattern, int(offset % 4) * 8);
}

uint8_t *pixelAddress(const GeSurface &s, uint32_t x, uint32_t y)
{
    return s.pixels + uint64_t{y} * s.pitch + uint64_t{x} * 4;
}

size_t rowBytes(const uapi::GeOp &op)
{
    return size_t{op.width} * 4;
}

// Plain stores may overlap, as they write the same bytes again: an
// unaligned vector at each end of the row and aligned ones between. The
// last vector goes last; stored ahead of the aligned ones it slowed long
// rows by about a tenth.
template <typename Vec>
[[gnu::always_inline]] inline void patternRow(uint8_t *row, size_t bytes, uint32_t pattern)
{
    constexpr size_t kVec = sizeof(Vec);
    if (bytes < kVec) {
        if constexpr (kVec > sizeof(Quad)) {
            patternRow<Quad>(row, bytes, pattern);
        } else {
            for (size_t i = 0; i != bytes; i += 4)
                storePixel(row + i, pattern);
        }
        return;
    }
    const Vec ends = pattern + Vec{};
    storeVec(row, ends);
    size_t i = bytesToBoundaryAfter<Vec>(row);
    const Vec body = patternFrom(pattern, i) + Vec{};
    for (; bytes - i >= 4 * kVec; i += 4 * kVec) {
        storeVec(row + i, body);
        storeVec(row + i + kVec, body);
        storeVec(row + i + 2 * kVec, body);
        storeVec(row + i + 3 * kVec, body);
    }
    for (; bytes - i > kVec; i += kVec)
        storeVec(row + i, body);
    storeVec(row + bytes - kVec, ends);
}

// An XOR must touch every byte once, so stores cannot overlap: a long row
// goes a pixel at a time up to the first vector boundary, and what is left
// after the last whole vector goes by quad, then by pixel. Shorter rows,
// and rows that are not 4-byte aligned (which never reach a boundary),
// take unaligned vectors throughout.
constexpr size_t kLongRowBytes = 256;

template <typename Vec>
[[gnu::always_inline]] inline void patternXorRow(uint8_t *row, size_t bytes, uint32_t pattern)
{
    uint8_t *end = row + bytes;
    if (bytes >= kLongRowBytes && onBoundary(row, 4)) {
        for (; !onBoundary(row, sizeof(Vec)); row += 4)
            storePixel(row, loadPixel(row) ^ pattern);
    }
    const Vec vec = pattern + Vec{};
    for (; size_t(end - row) >= sizeof(Vec); row += sizeof(Vec)) {
        Vec d;
        loadVec(d, row);
        storeVec(row, d ^ vec);
    }
    if constexpr (sizeof(Vec) > sizeof(Quad)) {
        if (size_t(end - row) >= sizeof(Quad)) {
            Quad d;
            loadVec(d, row);
            storeVec(row, d ^ (pattern + Quad{}));
            row += sizeof(Quad);
        }
    }
    for (; row != end; row += 4)
        storePixel(row, loadPixel(row) ^ pattern);
}

// The row operation is a template argument so that it is inlined into the
// row loop: narrow rectangles (lines, glyph edges) are mostly loop overhead.
template <auto rowOp> [[gnu::always_inline]] inline void forEachFillRow(const PreparedOp &p)
{
    const uapi::GeOp &op = p.op;
    const size_t bytes = rowBytes(op), pitch = p.dst.pitch;
    const uint32_t height = op.height, pattern = op.fill_color;
    uint8_t *row = pixelAddress(p.dst, op.dst_x, op.dst_y);
    for (uint32_t r = 0; r < height; ++r, row += pitch)
        rowOp(row, bytes, pattern);
}

bool bytesOverlap(const uint8_t *a, const uint8_t *b, size_t bytes)
{
    auto first = reinterpret_cast<uintptr_t>(a), second = reinterpret_cast<uintptr_t>(b);
    return first < second + bytes && second < first + bytes;
}

// Requires that `source` does not overlap `row`; laid out as patternRow.
template <typename Vec>
[[gnu::always_inline]] inline void sourceRowApart(uint8_t *row, const uint8_t *source, size_t bytes)
{
    constexpr size_t kVec = sizeof(Vec);
    if (bytes < kVec) {
        if constexpr (kVec > sizeof(Quad)) {
            sourceRowApart<Quad>(row, source, bytes);
        } else {
            for (size_t i = 0; i != bytes; i += 4)
                storePixel(row + i, loadPixel(source + i));
        }
        return;
    }
    Vec a, b, c, d;
    loadVec(a, source);
    storeVec(row, a);
    size_t i = bytesToBoundaryAfter<Vec>(row);
    for (; bytes - i >= 4 * kVec; i += 4 * kVec) {
        loadVec(a, source + i);
        loadVec(b, source + i + kVec);
        loadVec(c, source + i + 2 * kVec);
        loadVec(d, source + i + 3 * kVec);
        storeVec(row + i, a);
        storeVec(row + i + kVec, b);
        storeVec(row + i + 2 * kVec, c);
        storeVec(row + i + 3 * kVec, d);
    }
    for (; bytes - i > kVec; i += kVec) {
        loadVec(a, source + i);
        storeVec(row + i, a);
    }
    loadVec(a, source + bytes - kVec);
    storeVec(row + bytes - kVec, a);
}

// memmove reads the whole source row as if before writing, which settles
// horizontal overlap within one buffer.
template <typename Vec>
[[gnu::always_inline]] inline void sourceRow(uint8_t *row, const uint8_t *source, size_t bytes)
{
    if (bytesOverlap(row, source, bytes))
        std::memmove(row, source, bytes);
    else
        sourceRowApart<Vec>(row, source, bytes);
}

// Requires that `source` does not overlap `row`. Laid out as
// patternXorRow.
template <typename Vec>
[[gnu::always_inline]] inline void sourceXorRow(uint8_t *row, const uint8_t *source, size_t bytes)
{
    uint8_t *end = row + bytes;
    if (bytes >= kLongRowBytes && onBoundary(row, 4)) {
        for (; !onBoundary(row, sizeof(Vec)); row += 4, source += 4)
            storePixel(row, loadPixel(source) ^ loadPixel(row));
    }
    for (; size_t(end - row) >= sizeof(Vec); row += sizeof(Vec), source += sizeof(Vec)) {
        Vec s, d;
        loadVec(s, source);
        loadVec(d, row);
        storeVec(row, s ^ d);
    }
    if constexpr (sizeof(Vec) > sizeof(Quad)) {
        if (size_t(end - row) >= sizeof(Quad)) {
            Quad s, d;
            loadVec(s, source);
            loadVec(d, row);
            storeVec(row, s ^ d);
            row += sizeof(Quad);
            source += sizeof(Quad);
        }
    }
    for (; row != end; row += 4, source += 4)
        storePixel(row, loadPixel(source) ^ loadPixel(row));
}

// The source row must be read whole before the destination row is
// written. When the two share bytes it is taken aside first, into memory
// kept by the executing thread so that no operation allocates once the
// widest row has been seen.
template <typename Vec>
[[gnu::always_inline]] inline void sourceXorDstRow(uint8_t *row, const uint8_t *source,
                                                   size_t bytes)
{
    if (bytesOverlap(row, source, bytes)) {
        thread_local std::vector<uint8_t> takenSource;
        if (takenSource.size() < bytes)
            takenSource.resize(bytes);
        std::memcpy(takenSource.data(), source, bytes);
        source = takenSource.data();
    }
    sourceXorRow<Vec>(row, source, bytes);
}

// Vertical overlap within one buffer is settled by the row order: when the
// destination lies below the source, rows go bottom-up, so no source row
// is overwritten before it is read.
template <auto rowOp> [[gnu::always_inline]] inline void forEachCopyRow(const PreparedOp &p)
{
    const uapi::GeOp &op = p.op;
    bool bottomUp = p.src.pixels == p.dst.pixels && op.dst_y > op.src_y;
    for (uint32_t i = 0; i < op.height; ++i) {
        uint32_t r = bottomUp ? op.height - 1 - i : i;
        rowOp(pixelAddress(p.dst, op.dst_x, op.dst_y + r),
              pixelAddress(p.src, op.src_x, op.src_y + r), rowBytes(op));
    }
}

template <typename Vec> [[gnu::always_inline]] inline void executePixels(const PreparedOp &p)
{
    if (p.op.type == TX3120_GE_OP_SOLID) {
        if (p.op.rop == TX3120_GE_ROP_PATTERN)
            forEachFillRow<patternRow<Vec>>(p);
        else
            forEachFillRow<patternXorRow<Vec>>(p);
    } else {
        if (p.op.rop == TX3120_GE_ROP_SOURCE)
            forEachCopyRow<sourceRow<Vec>>(p);
        else
            forEachCopyRow<sourceXorDstRow<Vec>>(p);
    }
}

using ExecutePixels = void (*)(const PreparedOp &);

void executeWithQuads(const PreparedOp &p)
{
    executePixels<Quad>(p);
}

#if defined(__x86_64__) || defined(__i386__)
// Rows still in the first-level cache move at the rate of the store
// instructions: with 16-byte ones, rows of one to a few hundred pixels
// copied slower than memmove, which uses wider ones where it can.
[[gnu::target("avx2")]] void executeWithOctets(const PreparedOp &p)
{
    executePixels<Octet>(p);
}

ExecutePixels widestExecute()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? executeWithOctets : executeWithQuads;
}
#else
ExecutePixels widestExecute()
{
    return executeWithQuads;
}
#endif

void chooseAndExecute(const PreparedOp &p);

// Chosen at the first operation, then called through: testing the
// processor per operation, or even the guard of a local static, cost
// small operations about a quarter of their time.
std::atomic<ExecutePixels> executeWith{chooseAndExecute};

void chooseAndExecute(const PreparedOp &p)
{
    ExecutePixels chosen = widestExecute();
    executeWith.store(chosen, std::memory_order_relaxed);
    chosen(p);
}

} // namespace

void allowWideMoves(bool allowed)
{
    executeWith.store(allowed ? widestExecute() : executeWithQuads, std::memory_order_relaxed);
}

void executeOp(const PreparedOp &p, RasterTotals &totals)
{
    executeWith.load(std::memory_order_relaxed)(p);
    uint64_t pixels = uint64_t{p.op.width} * p.op.height;
    if (p.op.type == TX3120_GE_OP_SOLID)
        totals.pixelsFilled += pixels;
    else
        totals.pixelsCopied += pixels;
}

RasterTotals executeBatch(const std::vector<PreparedOp> &ops)
{
    RasterTotals totals;
    for (const PreparedOp &op : ops)
        executeOp(op, totals);
    return totals;
}

} // namespace qelsim
