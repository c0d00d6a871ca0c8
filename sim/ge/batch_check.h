// Validation of a whole batch before any of it runs: a batch with one bad
// operation is refused entirely.
#pragma once

#include "batch.h"

#include <string>
#include <vector>

namespace qelsim {

struct BatchCheck {
    bool ok = false;
    std::string reason;  // why the batch was refused, naming the operation
};

// Checks every operation and resolves its buffers through `lookup`; on
// success `prepared` holds the operations ready to execute.
BatchCheck prepareBatch(const std::vector<uapi::GeOp> &ops, const GeSurfaceLookup &lookup,
                        std::vector<PreparedOp> &prepared);

}  // namespace qelsim
