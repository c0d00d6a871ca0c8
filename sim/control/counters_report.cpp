// SPDX-License-Identifier: MIT
#include "counters_report.h"

#include "instrumentation.h"

#include <set>

namespace qelsim {
namespace {

std::string line(const char *key, uint64_t value)
{
    return std::string(key) + "=" + std::to_string(value);
}

std::set<const Buffer *> liveBuffers(const Device &d)
{
    std::set<const Buffer *> live;
    for (const auto &[fd, file] : d.files)
        for (const auto &[handle, buffer] : file->handles)
            live.insert(buffer.get());
    return live;
}

uint64_t totalSize(const std::set<const Buffer *> &buffers)
{
    uint64_t bytes = 0;
    for (const Buffer *buffer : buffers)
        bytes += buffer->size;
    return bytes;
}

} // namespace

std::vector<std::string> counterLines(Device &device)
{
    const GeEngine::Counters ge = device.ge.counters();
    std::lock_guard lock(device.mutex);
    const Counters c = Instrumentation::instance().counters();
    const std::set<const Buffer *> live = liveBuffers(device);
    std::vector<std::string> lines = {
        line("live_dumb_buffers", live.size()),
        line("live_dumb_bytes", totalSize(live)),
        line("live_framebuffers", device.framebuffers.size()),
        line("dumb_buffers_created", c.dumbCreated),
        line("ge_submits", ge.submits),
        line("ge_ops", ge.ops),
        line("ge_rejected_ops", ge.rejectedOps),
        line("ge_rejected_submits", ge.rejectedSubmits),
        line("ge_pixels_filled", ge.pixelsFilled),
        line("ge_pixels_copied", ge.pixelsCopied),
        line("ge_batches_done", ge.batchesDone),
        line("ge_waits", ge.waits),
        line("flips_requested", c.flipsRequested),
        line("flips_completed", c.flipsCompleted),
        line("flips_rejected", c.flipsRejected),
        line("vblanks", device.ticks),
        line("setcrtc_calls", c.setcrtcCalls),
        line("cursor_sets", c.cursorSets),
        line("cursor_moves", c.cursorMoves),
    };
    for (const Crtc &crtc : device.crtcs) {
        auto it = c.flipsCompletedByCrtc.find(crtc.index);
        std::string key = "flips_completed_crtc" + std::to_string(crtc.index);
        lines.push_back(line(key.c_str(), it == c.flipsCompletedByCrtc.end() ? 0 : it->second));
    }
    for (const Crtc &crtc : device.crtcs)
        lines.push_back(
            line(("vblanks_crtc" + std::to_string(crtc.index)).c_str(), crtc.vblank.count));
    for (const auto &[name, count] : c.ioctls)
        lines.push_back("ioctl_" + name + "=" + std::to_string(count));
    return lines;
}

} // namespace qelsim
