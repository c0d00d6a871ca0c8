// SPDX-License-Identifier: MIT
// Reads and writes of caller memory that fail cleanly (EFAULT, as a
// kernel's copy_from_user does) instead of crashing the process when the
// caller passes a bad address.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qelsim {

bool copyFromUser(void *to, uint64_t fromAddress, size_t size);
bool copyToUser(uint64_t toAddress, const void *from, size_t size);

} // namespace qelsim
