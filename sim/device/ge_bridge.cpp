// SPDX-License-Identifier: MIT
#include "ge_bridge.h"

namespace qelsim {
namespace {

// The engine looks handles up during submit, on the submitting thread.
thread_local const DrmFile *submittingFile = nullptr;

GeSurface surfaceOf(const Buffer &buffer)
{
    GeSurface s;
    s.pixels = buffer.pixels;
    s.size = buffer.size;
    s.width = buffer.width;
    s.height = buffer.height;
    s.pitch = buffer.pitch;
    return s;
}

} // namespace

void GeBridge::start(HandleResolver find)
{
    find_ = std::move(find);
    engine_ = std::make_unique<GeEngine>([this](uint32_t handle, GeBuffer &out) {
        if (!submittingFile)
            return false;
        BufferRef buffer = find_(*submittingFile, handle);
        if (!buffer || buffer->bpp != 32)
            return false;
        out.surface = surfaceOf(*buffer);
        out.keepAlive = std::move(buffer);
        return true;
    });
    engine_->setActivityCallback([this] { activity_ = true; });
}

int GeBridge::submit(const DrmFile &file, void *userArgs)
{
    submittingFile = &file;
    const int result = engine_->submit(userArgs);
    submittingFile = nullptr;
    activity_ = true;
    return result;
}

int GeBridge::wait(void *userArgs)
{
    return engine_->wait(userArgs);
}

GeEngine::Counters GeBridge::counters() const
{
    GeEngine::Counters now = engine_->counters();
    now.submits -= baseline_.submits;
    now.ops -= baseline_.ops;
    now.rejectedOps -= baseline_.rejectedOps;
    now.rejectedSubmits -= baseline_.rejectedSubmits;
    now.pixelsFilled -= baseline_.pixelsFilled;
    now.pixelsCopied -= baseline_.pixelsCopied;
    now.batchesDone -= baseline_.batchesDone;
    now.waits -= baseline_.waits;
    return now;
}

void GeBridge::resetCounters()
{
    baseline_ = engine_->counters();
}

} // namespace qelsim
