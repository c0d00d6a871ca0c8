// SPDX-License-Identifier: MIT
// Validation of a whole batch before any of it runs: a batch with one bad
// operation is refused entirely.
#pragma once

#include "batch.h"

#include <string>

namespace qelsim {

struct BatchCheck {
    bool ok = false;
    std::string reason; // why the batch was refused, naming the operation
};

// Checks every operation of `batch.received` and resolves its buffers
// through `lookup`, each distinct handle once. On success `batch.ops` holds
// the operations ready to execute and `batch.buffers` the buffers they use;
// on failure both are empty. Allocates nothing once the batch's storage has
// held a batch as large, except for the reason of a refusal.
BatchCheck prepareBatch(const GeSurfaceLookup &lookup, Batch &batch);

} // namespace qelsim
