// SPDX-License-Identifier: MIT
// Control requests that change how the device behaves: faults, the vblank
// clock, GE execution, and waiting for the device to settle.
#include "control_reply.h"
#include "device.h"
#include "instrumentation.h"
#include "vblank_events.h"

#include <cerrno>
#include <chrono>
#include <map>
#include <optional>

namespace qelsim {
namespace {

constexpr auto settleLimit = std::chrono::seconds(10);

// "flip_crtc<I>": flips on the CRTC of index I only.
bool armCrtcFlipFault(Device &d, const std::string &kind, unsigned n)
{
    static const std::string prefix = "flip_crtc";
    unsigned index;
    if (kind.rfind(prefix, 0) != 0 || !parseCount(kind.substr(prefix.size()), index) ||
        index >= d.crtcs.size())
        return false;
    Instrumentation::instance().armFlipFaultOnCrtc(index, n);
    return true;
}

bool armDeviceFault(Device &d, const std::string &kind, unsigned n)
{
    static const std::map<std::string, DeviceFault> kinds = {
        {"flip", DeviceFault::flip},
        {"setcrtc", DeviceFault::setcrtc},
        {"getconnector", DeviceFault::getconnector},
        {"create_dumb", DeviceFault::createDumb},
        {"create_dumb_nth", DeviceFault::createDumbNth},
        {"master", DeviceFault::master},
    };
    std::lock_guard lock(d.mutex);
    if (armCrtcFlipFault(d, kind, n))
        return true;
    const auto it = kinds.find(kind);
    if (it == kinds.end())
        return false;
    Instrumentation::instance().armFault(it->second, n);
    // Whoever held master lost it to the other process.
    if (it->second == DeviceFault::master && n)
        d.master = nullptr;
    return true;
}

bool armGeFault(const std::string &kind, unsigned n)
{
    GeInstruments &ge = Instrumentation::instance().ge();
    if (kind == "submit_eintr")
        ge.failSubmits(EINTR, n);
    else if (kind == "submit_eagain")
        ge.failSubmits(EAGAIN, n);
    else if (kind == "submit_einval")
        ge.failSubmits(EINVAL, n);
    else if (kind == "wait")
        ge.failWaits(n);
    else if (kind == "wait_room")
        ge.failRoomWaits(n);
    else if (kind == "ge_hang")
        Device::instance().ge.engine().setHung(n != 0);
    else
        return false;
    return true;
}

bool fault(const Words &w, Reply &reply)
{
    unsigned n;
    if (w.size() != 3 || !parseCount(w[2], n))
        return reply.fail("usage: fault <kind> <count>");
    const std::string &kind = w[1];
    if (!armGeFault(kind, n) && !armDeviceFault(Device::instance(), kind, n))
        return reply.fail("unknown fault " + kind);
    return true;
}

// `auto` runs every CRTC's clock at its mode's refresh; `60hz` is its old
// name, from when one 60 Hz clock served every CRTC.
bool vblankMode(const Words &w, Reply &reply)
{
    if (w.size() != 2 || (w[1] != "auto" && w[1] != "60hz" && w[1] != "manual"))
        return reply.fail("usage: vblank-mode <auto|manual>");
    Device &d = Device::instance();
    d.startClock();
    const bool manual = w[1] == "manual";
    if (!manual) {
        std::lock_guard lock(d.mutex);
        resumeVblankClock(d);
    }
    d.clock.setManual(manual);
    return true;
}

// vblank <n> [crtc]: n vblanks of the CRTC of that index, or of every CRTC
// that scans out.
bool vblanks(const Words &w, Reply &reply)
{
    unsigned n, index = 0;
    if ((w.size() != 2 && w.size() != 3) || !parseCount(w[1], n) ||
        (w.size() == 3 && !parseCount(w[2], index)))
        return reply.fail("usage: vblank <n> [crtc-index]");
    Device &d = Device::instance();
    std::lock_guard lock(d.mutex);
    std::optional<size_t> crtc;
    if (w.size() == 3) {
        if (index >= d.crtcs.size())
            return reply.fail("no crtc " + w[2]);
        if (!d.crtcs[index].vblank.counting())
            return reply.fail("crtc " + w[2] + " is not scanning out");
        crtc = index;
    }
    for (unsigned i = 0; i < n; ++i)
        stepVblank(d, crtc);
    return true;
}

bool geMode(const Words &w, Reply &reply)
{
    unsigned delay = 0;
    const bool ok = (w.size() == 2 || (w.size() == 3 && parseCount(w[2], delay))) &&
                    (w[1] == "sync" || w[1] == "thread");
    if (!ok)
        return reply.fail("usage: ge-mode <sync|thread> [delay_us]");
    Device &d = Device::instance();
    d.startClock();
    d.ge.engine().setMode(w[1] == "thread", delay);
    return true;
}

bool geLog(const Words &w, Reply &reply)
{
    GeInstruments &ge = Instrumentation::instance().ge();
    if (w.size() == 1) {
        reply.lines = ge.logLines();
        return true;
    }
    if (w.size() != 2)
        return reply.fail("usage: ge-log [on|off|clear]");
    if (w[1] == "on" || w[1] == "off")
        ge.setLogging(w[1] == "on");
    else if (w[1] == "clear")
        ge.clearLog();
    else
        return reply.fail("usage: ge-log [on|off|clear]");
    return true;
}

// flip-probes x,y ...: the points whose pixels fliplog records per flip; no
// points: none.
bool flipProbes(const Words &w, Reply &reply)
{
    std::vector<FlipProbe> points;
    for (size_t i = 1; i < w.size(); ++i) {
        const size_t comma = w[i].find(',');
        unsigned x, y;
        if (comma == std::string::npos || !parseCount(w[i].substr(0, comma), x) ||
            !parseCount(w[i].substr(comma + 1), y))
            return reply.fail("usage: flip-probes [x,y ...]");
        points.emplace_back(x, y);
    }
    Instrumentation::instance().setFlipProbes(std::move(points));
    return true;
}

bool settled(Device &d, unsigned quietVblanks)
{
    if (d.ge.takeActivity())
        d.noteActivity();
    for (const auto &c : d.crtcs)
        if (c.flip)
            return false;
    // A hung GE finishes nothing more: its work is as settled as it gets.
    return (d.ge.completed(d.ge.lastSubmittedSeqno()) || d.ge.engine().hung()) &&
           d.ticks - d.lastActivityTick >= quietVblanks;
}

bool settle(const Words &w, Reply &reply)
{
    unsigned n;
    if (w.size() != 2 || !parseCount(w[1], n))
        return reply.fail("usage: settle <vblanks>");
    Device &d = Device::instance();
    d.startClock();
    std::unique_lock lock(d.mutex);
    if (d.clock.manual())
        return settled(d, n) || reply.fail("not settled (vblank clock is manual)");
    const bool ok = d.changed.wait_for(lock, settleLimit, [&] { return settled(d, n); });
    return ok || reply.fail("not settled after 10 s");
}

} // namespace

bool controlDrive(const Words &w, Reply &reply, bool &known)
{
    known = true;
    const std::string &verb = w[0];
    if (verb == "fault")
        return fault(w, reply);
    if (verb == "vblank-mode")
        return vblankMode(w, reply);
    if (verb == "vblank")
        return vblanks(w, reply);
    if (verb == "ge-mode")
        return geMode(w, reply);
    if (verb == "ge-idle") {
        Device::instance().ge.engine().idle();
        return true;
    }
    if (verb == "ge-log")
        return geLog(w, reply);
    if (verb == "settle")
        return settle(w, reply);
    if (verb == "flip-probes")
        return flipProbes(w, reply);
    known = false;
    return false;
}

} // namespace qelsim
