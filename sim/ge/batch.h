// SPDX-License-Identifier: MIT
// A batch as the engine keeps it between submit and execution: the caller's
// operations copied in, each with the buffers it touches already resolved.
// The engine recycles batches, so their storage is allocated once and
// reused by later submits.
#pragma once

#include "ge_surface.h"
#include "ge_uapi.h"

#include <cstdint>
#include <vector>

namespace qelsim {

struct PreparedOp {
    uapi::GeOp op;
    GeSurface dst;
    GeSurface src; // empty for solid fills
};

// One distinct buffer of a batch, resolved once however many operations
// name it.
struct BatchBuffer {
    uint32_t handle = 0;
    GeBuffer buffer;
};

struct Batch {
    uint64_t serial = 0;
    std::vector<uapi::GeOp> received; // as copied in from the caller
    std::vector<PreparedOp> ops;      // validated, ready to execute
    std::vector<BatchBuffer> buffers; // keeps every buffer of `ops` alive

    // Lets go of the buffers and the operations, keeping the capacity.
    // The last reference to a buffer may free it, so callers do this
    // without holding the engine's lock.
    void release()
    {
        ops.clear();
        buffers.clear();
    }
};

} // namespace qelsim
