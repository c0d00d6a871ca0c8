// SPDX-License-Identifier: MIT
// Pixel work of the GE: solid fills and copies on 32-bit pixels, pixel
// (x, y) at byte y * pitch + x * 4. Operations reaching here are validated.
#pragma once

#include "batch.h"

#include <cstdint>
#include <vector>

namespace qelsim {

struct RasterTotals {
    uint64_t pixelsFilled = 0;
    uint64_t pixelsCopied = 0;
};

void executeOp(const PreparedOp &op, RasterTotals &totals);

// Runs the operations in array order.
RasterTotals executeBatch(const std::vector<PreparedOp> &ops);

// Rows move in the widest vectors the processor has. Tests turn that off to
// check, on the same host, the 16-byte moves that other processors run.
void allowWideMoves(bool allowed);

} // namespace qelsim
