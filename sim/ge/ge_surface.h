// How the engine reaches the memory of a dumb buffer: the simulator core
// resolves a handle to its pixels once, at submit time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace qelsim {

struct GeSurface {
    std::shared_ptr<void> keepAlive;  // keeps `pixels` valid while a batch is queued
    uint8_t *pixels = nullptr;
    uint64_t size = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t pitch = 0;
};

// Returns false when no buffer has that handle.
using GeSurfaceLookup = std::function<bool(uint32_t handle, GeSurface &out)>;

}  // namespace qelsim
