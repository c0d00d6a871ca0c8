// SPDX-License-Identifier: MIT
// Stand-in for the simulator core's dumb buffers: handles mapped to memory
// that tests can preset and inspect, answering the engine's lookups.
#pragma once

#include "ge_surface.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace qelsim::test {

struct TestBuffer {
    std::shared_ptr<std::vector<uint8_t>> bytes;
    uint32_t width, height, pitch;
};

class BufferStore {
public:
    // Buffer memory starts as noise, so that writes outside a rectangle
    // (or to the padding past width * 4) change something visible.
    void create(uint32_t handle, uint32_t width, uint32_t height, uint32_t pitch);
    void destroy(uint32_t handle);
    GeSurfaceLookup lookup();

    std::vector<uint8_t> bytes(uint32_t handle) const;
    std::shared_ptr<std::vector<uint8_t>> memory(uint32_t handle) const;
    uint32_t pixel(uint32_t handle, uint32_t x, uint32_t y) const;
    void setPixel(uint32_t handle, uint32_t x, uint32_t y, uint32_t value);
    std::vector<std::thread::id> lookupThreads() const;

private:
    bool find(uint32_t handle, GeBuffer &out);

    mutable std::mutex mutex_;
    std::map<uint32_t, TestBuffer> buffers_;
    std::vector<std::thread::id> lookupThreads_;
    uint32_t noiseSeed_ = 1;
};

} // namespace qelsim::test
