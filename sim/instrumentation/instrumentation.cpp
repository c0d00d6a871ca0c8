// SPDX-License-Identifier: MIT
#include "instrumentation.h"

namespace qelsim {

Instrumentation &Instrumentation::instance()
{
    static Instrumentation *instrumentation = new Instrumentation();
    return *instrumentation;
}

void Instrumentation::armFault(DeviceFault kind, unsigned count)
{
    std::lock_guard lock(mutex_);
    faults_.arm(kind, count);
}

void Instrumentation::armFlipFaultOnCrtc(size_t crtcIndex, unsigned count)
{
    std::lock_guard lock(mutex_);
    faults_.armFlipOnCrtc(crtcIndex, count);
}

void Instrumentation::setFlipProbes(std::vector<FlipProbe> probes)
{
    std::lock_guard lock(mutex_);
    flipLog_.setProbes(std::move(probes));
}

std::vector<std::string> Instrumentation::flipLogLines() const
{
    std::lock_guard lock(mutex_);
    return flipLog_.lines();
}

Counters Instrumentation::counters() const
{
    std::lock_guard lock(mutex_);
    return counters_;
}

bool Instrumentation::failFlip(size_t crtcIndex)
{
    std::lock_guard lock(mutex_);
    return faults_.takeFlip(crtcIndex);
}

bool Instrumentation::failSetCrtc()
{
    std::lock_guard lock(mutex_);
    return faults_.takeSetCrtc();
}

bool Instrumentation::failGetConnector()
{
    std::lock_guard lock(mutex_);
    return faults_.takeGetConnector();
}

bool Instrumentation::failCreateDumb()
{
    std::lock_guard lock(mutex_);
    return faults_.takeCreateDumb();
}

bool Instrumentation::masterHeldElsewhere() const
{
    std::lock_guard lock(mutex_);
    return faults_.masterHeldElsewhere();
}

void Instrumentation::ioctlCalled(const char *name)
{
    std::lock_guard lock(mutex_);
    ++counters_.ioctls[name];
}

void Instrumentation::flipRequested(bool accepted)
{
    std::lock_guard lock(mutex_);
    ++counters_.flipsRequested;
    if (!accepted)
        ++counters_.flipsRejected;
}

void Instrumentation::setCrtcCalled()
{
    std::lock_guard lock(mutex_);
    ++counters_.setcrtcCalls;
}

void Instrumentation::cursorCalled(bool setsImage, bool moves)
{
    std::lock_guard lock(mutex_);
    counters_.cursorSets += setsImage;
    counters_.cursorMoves += moves;
}

void Instrumentation::dumbCreated()
{
    std::lock_guard lock(mutex_);
    ++counters_.dumbCreated;
}

void Instrumentation::flipShown(const Crtc &crtc, const Framebuffer &fb, uint64_t vblank)
{
    std::lock_guard lock(mutex_);
    ++counters_.flipsCompleted;
    ++counters_.flipsCompletedByCrtc[crtc.index];
    flipLog_.record(crtc, fb, vblank);
}

void Instrumentation::deviceReset()
{
    std::lock_guard lock(mutex_);
    counters_ = {};
    faults_ = {};
    flipLog_.clear();
    ge_.reset();
}

} // namespace qelsim
