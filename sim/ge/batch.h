// A batch as the engine keeps it between submit and execution: the caller's
// operations copied in, each with the buffers it touches already resolved.
#pragma once

#include "ge_surface.h"
#include "ge_uapi.h"

#include <cstdint>
#include <vector>

namespace qelsim {

struct PreparedOp {
    uapi::GeOp op;
    GeSurface dst;
    GeSurface src;  // empty for solid fills
};

struct Batch {
    uint64_t serial = 0;
    std::vector<PreparedOp> ops;
};

}  // namespace qelsim
