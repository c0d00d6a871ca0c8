// SPDX-License-Identifier: MIT
// The simulator's test instrumentation: the device's counters, faults armed
// on the device's and the GE's calls, the flip log and its probes (the GE
// engine counts its own work). The device reaches it only through
// DeviceHooks, the GE engine only through GeHooks; the control requests
// arm and read it through the rest.
#pragma once

#include "counters.h"
#include "device_faults.h"
#include "device_hooks.h"
#include "flip_log.h"
#include "ge_instruments.h"

#include <mutex>
#include <string>
#include <vector>

namespace qelsim {

class Instrumentation final : public DeviceHooks {
public:
    // The process's instrumentation, made on first use and never destroyed:
    // the device's threads may still call it while the process exits.
    static Instrumentation &instance();

    void armFault(DeviceFault kind, unsigned count);
    void armFlipFaultOnCrtc(size_t crtcIndex, unsigned count);
    void setFlipProbes(std::vector<FlipProbe> probes);
    std::vector<std::string> flipLogLines() const;
    Counters counters() const;
    GeInstruments &ge() { return ge_; }

    bool failFlip(size_t crtcIndex) override;
    bool failSetCrtc() override;
    bool failGetConnector() override;
    bool failCreateDumb() override;
    bool masterHeldElsewhere() const override;
    void ioctlCalled(const char *name) override;
    void flipRequested(bool accepted) override;
    void setCrtcCalled() override;
    void cursorCalled(bool setsImage, bool moves) override;
    void dumbCreated() override;
    void flipShown(const Crtc &crtc, const Framebuffer &fb, uint64_t vblank) override;
    void deviceReset() override;
    GeHooks &geHooks() override { return ge_; }

private:
    mutable std::mutex mutex_; // guards all but ge_, which guards itself
    Counters counters_;
    DeviceFaults faults_;
    FlipLog flipLog_;
    GeInstruments ge_;
};

} // namespace qelsim
