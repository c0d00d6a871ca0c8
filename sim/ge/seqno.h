// SPDX-License-Identifier: MIT
// Batches carry an internal 64-bit serial (1, 2, 3, ...) that never wraps;
// the 32-bit seqno user space sees cycles through 1..0xFFFFFFFF and never
// takes the value 0, which user space reserves for "nothing submitted".
#pragma once

#include <cstdint>
#include <optional>

namespace qelsim {

uint32_t seqnoOfSerial(uint64_t serial);

// The most recent serial, at most lastSerial, whose seqno is `seqno`; none
// when that seqno was never handed out (or is 0).
std::optional<uint64_t> serialOfSeqno(uint32_t seqno, uint64_t lastSerial);

} // namespace qelsim
