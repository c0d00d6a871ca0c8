// SPDX-License-Identifier: MIT
#include "buffer_store.h"

#include <cstring>
#include <random>
#include <stdexcept>

namespace qelsim::test {

void BufferStore::create(uint32_t handle, uint32_t width, uint32_t height, uint32_t pitch)
{
    std::lock_guard lock(mutex_);
    auto bytes = std::make_shared<std::vector<uint8_t>>(size_t{pitch} * height);
    std::mt19937 noise(noiseSeed_++);
    for (uint8_t &b : *bytes)
        b = static_cast<uint8_t>(noise());
    buffers_[handle] = TestBuffer{bytes, width, height, pitch};
}

void BufferStore::destroy(uint32_t handle)
{
    std::lock_guard lock(mutex_);
    buffers_.erase(handle);
}

GeSurfaceLookup BufferStore::lookup()
{
    return [this](uint32_t handle, GeBuffer &out) { return find(handle, out); };
}

bool BufferStore::find(uint32_t handle, GeBuffer &out)
{
    std::lock_guard lock(mutex_);
    lookupThreads_.push_back(std::this_thread::get_id());
    auto it = buffers_.find(handle);
    if (it == buffers_.end())
        return false;
    const TestBuffer &b = it->second;
    out.surface = GeSurface{b.bytes->data(), b.bytes->size(), b.width, b.height, b.pitch};
    out.keepAlive = b.bytes;
    return true;
}

std::shared_ptr<std::vector<uint8_t>> BufferStore::memory(uint32_t handle) const
{
    std::lock_guard lock(mutex_);
    auto it = buffers_.find(handle);
    if (it == buffers_.end())
        throw std::out_of_range("no test buffer " + std::to_string(handle));
    return it->second.bytes;
}

std::vector<uint8_t> BufferStore::bytes(uint32_t handle) const
{
    return *memory(handle);
}

uint32_t BufferStore::pixel(uint32_t handle, uint32_t x, uint32_t y) const
{
    std::lock_guard lock(mutex_);
    const TestBuffer &b = buffers_.at(handle);
    uint32_t v;
    std::memcpy(&v, b.bytes->data() + size_t{y} * b.pitch + size_t{x} * 4, sizeof v);
    return v;
}

void BufferStore::setPixel(uint32_t handle, uint32_t x, uint32_t y, uint32_t value)
{
    std::lock_guard lock(mutex_);
    TestBuffer &b = buffers_.at(handle);
    std::memcpy(b.bytes->data() + size_t{y} * b.pitch + size_t{x} * 4, &value, sizeof value);
}

std::vector<std::thread::id> BufferStore::lookupThreads() const
{
    std::lock_guard lock(mutex_);
    return lookupThreads_;
}

} // namespace qelsim::test
