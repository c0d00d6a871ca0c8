#include "batch_check.h"

#include <utility>

namespace qelsim {
namespace {

// Resolves each handle once per batch: a batch often targets one buffer
// many times, and the lookup may take the simulator core's lock.
class SurfaceCache {
  public:
    explicit SurfaceCache(const GeSurfaceLookup &lookup) : lookup_(lookup) {}

    bool find(uint32_t handle, GeSurface &out)
    {
        for (const auto &[known, surface] : known_) {
            if (known == handle) {
                out = surface;
                return true;
            }
        }
        if (!lookup_ || !lookup_(handle, out))
            return false;
        known_.emplace_back(handle, out);
        return true;
    }

  private:
    const GeSurfaceLookup &lookup_;
    std::vector<std::pair<uint32_t, GeSurface>> known_;
};

bool ropFitsType(uint32_t type, uint32_t rop)
{
    if (type == uapi::kGeOpSolid)
        return rop == uapi::kRopPattern || rop == uapi::kRopPatternXorDst;
    if (type == uapi::kGeOpCopy)
        return rop == uapi::kRopSource || rop == uapi::kRopSourceXorDst;
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

std::string checkSide(SurfaceCache &cache, const char *side, uint32_t handle, uint32_t pitch,
                      uint32_t x, uint32_t y, const uapi::GeOp &op, GeSurface &out)
{
    std::string name(side);
    if (!cache.find(handle, out))
        return name + " handle " + std::to_string(handle) + " does not exist";
    if (pitch != out.pitch)
        return name + " pitch " + std::to_string(pitch) + " is not the buffer's " +
               std::to_string(out.pitch);
    if (!rectInside(out, x, y, op.width, op.height))
        return name + " rectangle " + std::to_string(op.width) + "x" + std::to_string(op.height) +
               "+" + std::to_string(x) + "+" + std::to_string(y) + " is not inside " +
               std::to_string(out.width) + "x" + std::to_string(out.height);
    return {};
}

std::string checkOp(SurfaceCache &cache, const uapi::GeOp &op, PreparedOp &out)
{
    if (op.type != uapi::kGeOpSolid && op.type != uapi::kGeOpCopy)
        return "unknown type " + std::to_string(op.type);
    if (!ropFitsType(op.type, op.rop))
        return "rop " + std::to_string(op.rop) + " not allowed for type " + std::to_string(op.type);
    out.op = op;
    std::string why = checkSide(cache, "destination", op.dstHandle, op.dstPitch, op.dstX, op.dstY,
                                op, out.dst);
    if (why.empty() && op.type == uapi::kGeOpCopy)
        why = checkSide(cache, "source", op.srcHandle, op.srcPitch, op.srcX, op.srcY, op, out.src);
    return why;
}

}  // namespace

BatchCheck prepareBatch(const std::vector<uapi::GeOp> &ops, const GeSurfaceLookup &lookup,
                        std::vector<PreparedOp> &prepared)
{
    SurfaceCache cache(lookup);
    prepared.assign(ops.size(), PreparedOp{});
    for (size_t i = 0; i < ops.size(); ++i) {
        std::string why = checkOp(cache, ops[i], prepared[i]);
        if (!why.empty()) {
            prepared.clear();
            return {false, "op " + std::to_string(i) + ": " + why};
        }
    }
    return {true, {}};
}

}  // namespace qelsim
