// SPDX-License-Identifier: MIT
// How the engine reaches the memory of a dumb buffer: the simulator core
// resolves a handle to its pixels once per batch, at submit time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace qelsim {

// Plain values, copied into every operation that touches the buffer: no
// reference counting per operation. Valid while the batch holds the
// buffer's GeBuffer::keepAlive.
struct GeSurface {
    uint8_t *pixels = nullptr;
    uint64_t size = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t pitch = 0;
};

// What a handle resolves to: the memory, and an owner that keeps it valid
// while a batch that uses it is queued or running.
struct GeBuffer {
    GeSurface surface;
    std::shared_ptr<void> keepAlive;
};

// Returns false when no buffer has that handle.
using GeSurfaceLookup = std::function<bool(uint32_t handle, GeBuffer &out)>;

} // namespace qelsim
