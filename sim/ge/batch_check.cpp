// SPDX-License-Identifier: MIT
#include "batch_check.h"

#include <cstdint>
#include <utility>

namespace qelsim {
namespace {

// Resolves each handle once per batch, keeping the buffers it found in the
// batch: a batch often targets one buffer many times, and the lookup may
// take the simulator core's lock. Consecutive operations mostly name the
// same buffer, so the last one found is tried first.
class SurfaceCache {
public:
    SurfaceCache(const GeSurfaceLookup &lookup, std::vector<BatchBuffer> &known)
        : lookup_(lookup), known_(known)
    {
    }

    static constexpr size_t kMissing = SIZE_MAX;

    // The buffer's place in the batch's list, or kMissing when no buffer
    // has that handle. Places stay valid as the list grows; addresses not.
    size_t find(uint32_t handle)
    {
        if (last_ < known_.size() && known_[last_].handle == handle)
            return last_;
        for (size_t i = 0; i < known_.size(); ++i) {
            if (known_[i].handle == handle)
                return last_ = i;
        }
        return resolve(handle);
    }

    const GeSurface &surface(size_t place) const
    {
        static constexpr GeSurface kNone{};
        return place == kMissing ? kNone : known_[place].buffer.surface;
    }

private:
    size_t resolve(uint32_t handle)
    {
        GeBuffer found;
        if (!lookup_ || !lookup_(handle, found))
            return kMissing;
        known_.push_back({handle, std::move(found)});
        return last_ = known_.size() - 1;
    }

    const GeSurfaceLookup &lookup_;
    std::vector<BatchBuffer> &known_;
    size_t last_ = 0;
};

// What was wrong with an operation, kept as values so that the text is
// built only for a refused batch.
enum class Fault { kNone, kType, kRop, kHandle, kPitch, kRectangle };

// The buffer end of an operation: its destination, or a copy's source.
struct Side {
    bool source = false;
    uint32_t handle = 0;
    uint32_t pitch = 0;
    uint32_t x = 0;
    uint32_t y = 0;
};

Side destinationOf(const uapi::GeOp &op)
{
    return {false, op.dst_handle, op.dst_pitch, op.dst_x, op.dst_y};
}

Side sourceOf(const uapi::GeOp &op)
{
    return {true, op.src_handle, op.src_pitch, op.src_x, op.src_y};
}

bool ropFitsType(uint32_t type, uint32_t rop)
{
    if (type == TX3120_GE_OP_SOLID)
        return rop == TX3120_GE_ROP_PATTERN || rop == TX3120_GE_ROP_PATTERN_XOR_DST;
    if (type == TX3120_GE_OP_COPY)
        return rop == TX3120_GE_ROP_SOURCE || rop == TX3120_GE_ROP_SOURCE_XOR_DST;
    return false;
}

// 64-bit sums: x + width must not wrap around to pass the bounds check.
bool rectInside(const GeSurface &s, uint32_t x, uint32_t y, uint32_t w, uint32_t h)
{
    if (w == 0 || h == 0)
        return false;
    if (uint64_t{x} + w > s.width || uint64_t{y} + h > s.height)
        return false;
    uint64_t endByte = (uint64_t{y} + h - 1) * s.pitch + (uint64_t{x} + w) * 4;
    return s.pixels != nullptr && endByte <= s.size;
}

// `place` receives the cache's place of the buffer the side names.
Fault checkSide(SurfaceCache &cache, const Side &side, const uapi::GeOp &op, size_t &place)
{
    place = cache.find(side.handle);
    if (place == SurfaceCache::kMissing)
        return Fault::kHandle;
    const GeSurface &found = cache.surface(place);
    if (side.pitch != found.pitch)
        return Fault::kPitch;
    if (!rectInside(found, side.x, side.y, op.width, op.height))
        return Fault::kRectangle;
    return Fault::kNone;
}

// `side` receives the side checked last, the one at fault when there is one.
Fault checkOp(SurfaceCache &cache, const uapi::GeOp &op, size_t &dst, size_t &src, Side &side)
{
    if (op.type != TX3120_GE_OP_SOLID && op.type != TX3120_GE_OP_COPY)
        return Fault::kType;
    if (!ropFitsType(op.type, op.rop))
        return Fault::kRop;
    side = destinationOf(op);
    Fault fault = checkSide(cache, side, op, dst);
    if (fault != Fault::kNone || op.type != TX3120_GE_OP_COPY)
        return fault;
    side = sourceOf(op);
    return checkSide(cache, side, op, src);
}

std::string sideReason(Fault fault, const uapi::GeOp &op, const Side &side, const GeSurface &found)
{
    std::string name(side.source ? "source" : "destination");
    if (fault == Fault::kHandle)
        return name + " handle " + std::to_string(side.handle) + " does not exist";
    if (fault == Fault::kPitch)
        return name + " pitch " + std::to_string(side.pitch) + " is not the buffer's " +
               std::to_string(found.pitch);
    return name + " rectangle " + std::to_string(op.width) + "x" + std::to_string(op.height) + "+" +
           std::to_string(side.x) + "+" + std::to_string(side.y) + " is not inside " +
           std::to_string(found.width) + "x" + std::to_string(found.height);
}

std::string opReason(Fault fault, const uapi::GeOp &op, const Side &side, const GeSurface &found)
{
    if (fault == Fault::kType)
        return "unknown type " + std::to_string(op.type);
    if (fault == Fault::kRop)
        return "rop " + std::to_string(op.rop) + " not allowed for type " + std::to_string(op.type);
    return sideReason(fault, op, side, found);
}

} // namespace

BatchCheck prepareBatch(const GeSurfaceLookup &lookup, Batch &batch)
{
    batch.release();
    SurfaceCache cache(lookup, batch.buffers);
    for (size_t i = 0; i < batch.received.size(); ++i) {
        const uapi::GeOp &op = batch.received[i];
        size_t dst = SurfaceCache::kMissing, src = SurfaceCache::kMissing;
        Side side;
        Fault fault = checkOp(cache, op, dst, src, side);
        if (fault != Fault::kNone) {
            const GeSurface &found = cache.surface(side.source ? src : dst);
            std::string why = "op " + std::to_string(i) + ": " + opReason(fault, op, side, found);
            batch.release();
            return {false, std::move(why)};
        }
        // Built in place from the cache: a slot cleared first, or filled
        // from fresh temporaries, costs more than the checks.
        batch.ops.emplace_back(op, cache.surface(dst), cache.surface(src));
    }
    return {true, {}};
}

} // namespace qelsim
