// SPDX-License-Identifier: MIT
#include "seqno.h"

namespace qelsim {
namespace {
constexpr uint64_t kSeqnoPeriod = 0xFFFFFFFFULL; // values 1..0xFFFFFFFF
}

uint32_t seqnoOfSerial(uint64_t serial)
{
    return static_cast<uint32_t>((serial - 1) % kSeqnoPeriod + 1);
}

std::optional<uint64_t> serialOfSeqno(uint32_t seqno, uint64_t lastSerial)
{
    if (seqno == 0 || lastSerial < seqno)
        return std::nullopt;
    return lastSerial - (lastSerial - seqno) % kSeqnoPeriod;
}

} // namespace qelsim
