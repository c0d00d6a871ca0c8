// SPDX-License-Identifier: MIT
// Helpers shared by the engine tests: building operations, submitting and
// waiting through the ioctl records, and a reference model of the results.
#pragma once

#include "buffer_store.h"
#include "ge_engine.h"
#include "ge_uapi.h"

#include <cstdint>
#include <map>
#include <vector>

namespace qelsim::test {

// Long enough never to elapse on a loaded machine, so that it only bounds
// a test that has gone wrong.
constexpr uint32_t kGenerousTimeoutUs = 10'000'000;
// A per-batch delay no test waits out: batches stay queued until the test
// speeds the engine up.
constexpr unsigned kStalledDelayUs = 60'000'000;

uapi::GeOp fillOp(uint32_t handle, uint32_t pitch, uint32_t x, uint32_t y, uint32_t w, uint32_t h,
                  uint32_t color, uint32_t rop = TX3120_GE_ROP_PATTERN);
uapi::GeOp copyOp(uint32_t dstHandle, uint32_t dstPitch, uint32_t dstX, uint32_t dstY, uint32_t w,
                  uint32_t h, uint32_t srcHandle, uint32_t srcPitch, uint32_t srcX, uint32_t srcY,
                  uint32_t rop = TX3120_GE_ROP_SOURCE);

uapi::GeSubmitArgs argsFor(const std::vector<uapi::GeOp> &ops);

// Submits through the ioctl record; `seqno` receives what the engine wrote.
int submitOps(GeEngine &engine, const std::vector<uapi::GeOp> &ops, uint32_t *seqno = nullptr);
int waitSeqno(GeEngine &engine, uint32_t seqno, uint32_t timeoutUs = kGenerousTimeoutUs);

// Evaluates a ternary raster code bit by bit from its truth table.
uint32_t rop3(uint32_t rop, uint32_t p, uint32_t s, uint32_t d);

// What the buffers must hold after a batch: each operation applied in turn,
// a copy reading a snapshot of its source taken before it writes.
class ReferenceModel {
public:
    explicit ReferenceModel(const BufferStore &store, std::vector<uint32_t> handles);
    void apply(const uapi::GeOp &op);
    const std::vector<uint8_t> &bytes(uint32_t handle) const { return images_.at(handle); }

private:
    std::map<uint32_t, std::vector<uint8_t>> images_;
};

} // namespace qelsim::test
