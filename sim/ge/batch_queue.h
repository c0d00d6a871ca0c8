// SPDX-License-Identifier: MIT
// The batches accepted and not yet started, in submission order, in a ring
// whose slots are reused: it grows only when more batches wait than ever
// before (the engine's queue limit bounds that), so queuing allocates
// nothing in the steady state.
#pragma once

#include "batch.h"

#include <cstddef>
#include <vector>

namespace qelsim {

class BatchQueue {
public:
    bool empty() const { return count_ == 0; }
    size_t size() const { return count_; }

    void push(Batch batch);
    Batch pop(); // the oldest; the queue must not be empty

private:
    void grow();

    std::vector<Batch> slots_; // slots not in use hold moved-from batches
    size_t head_ = 0;
    size_t count_ = 0;
};

} // namespace qelsim
