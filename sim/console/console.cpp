// SPDX-License-Identifier: MIT
// The console's state and its switches, as the kernel's vt driver makes
// them (change_console, complete_change_console, reset_vc).
#include "console.h"

#include "device.h"
#include "other_client.h"
#include "reentry_guard.h"

#include <atomic>
#include <csignal>
#include <pthread.h>
#include <unistd.h>

namespace qelsim {
namespace {

constexpr int gettyCount = 6;

std::atomic<Console *> made{nullptr};

std::string inMs(std::chrono::milliseconds timeout)
{
    return std::to_string(timeout.count()) + " ms";
}

} // namespace

// A child of fork() has only the forking thread; nobody may hold the mutex
// across fork, or the child's close() before exec would wait for ever.
void lockConsoleForFork()
{
    made.load()->mutex_.lock();
}

void unlockConsoleAfterFork()
{
    made.load()->mutex_.unlock();
}

Console::Console()
{
    resetLocked();
}

Console &Console::instance()
{
    // Never destroyed: another thread may still switch while the process
    // exits.
    static Console *console = [] {
        ReentryGuard inside;
        Device::instance();
        Console *c = new Console();
        made = c;
        pthread_atfork(lockConsoleForFork, unlockConsoleAfterFork, unlockConsoleAfterFork);
        return c;
    }();
    return *console;
}

Console *Console::existing()
{
    return made.load();
}

void Console::reset()
{
    std::lock_guard lock(mutex_);
    resetLocked();
    changed_.notify_all();
}

void Console::resetLocked()
{
    for (VirtualTerminal &vt : vts_)
        vt = VirtualTerminal{};
    for (int vt = 1; vt <= gettyCount; ++vt)
        vts_[vt].users = 1;
    foreground_ = 1;
    acquireAcknowledged_ = false;
    masterKept_ = false;
    files_.clear();
}

bool Console::isServers(int vt) const
{
    return vts_[vt].mode.mode == VT_PROCESS && vts_[vt].pid == getpid();
}

// The process of a VT in VT_PROCESS mode is gone when it cannot be
// signalled: the VT falls back to VT_AUTO and text, as reset_vc() does.
bool Console::raise(int vt, int signal)
{
    return kill(vts_[vt].pid, signal) == 0;
}

void Console::resetVt(int vt)
{
    VirtualTerminal &v = vts_[vt];
    v.mode = vt_mode{VT_AUTO, 0, 0, 0, 0};
    v.pid = 0;
    v.newVt = 0;
    v.displayMode = KD_TEXT;
    v.keyboardMode = K_UNICODE;
}

// A VT in VT_PROCESS mode is asked to release itself and the switch waits
// for its VT_RELDISP; one in VT_AUTO mode switches at once, unless it shows
// graphics (then the kernel ignores the switch).
void Console::changeTo(int vt)
{
    if (vt == foreground_)
        return;
    VirtualTerminal &current = vts_[foreground_];
    if (current.mode.mode == VT_PROCESS) {
        current.newVt = vt;
        if (raise(foreground_, current.mode.relsig))
            return;
        resetVt(foreground_);
    }
    if (current.displayMode == KD_GRAPHICS)
        return;
    complete(vt);
}

// The displays change hands before the new VT's process hears that it has
// acquired: by then its DRM master is free.
void Console::complete(int vt)
{
    const int old = foreground_;
    {
        Device &device = Device::instance();
        std::lock_guard lock(device.mutex);
        if (isServers(old) && !isServers(vt))
            masterKept_ = otherClientTakesOver(device) == TakeOver::keptByServer;
        if (isServers(vt) && !isServers(old))
            otherClientLeaves(device);
    }
    foreground_ = vt;
    acquireAcknowledged_ = false;
    if (vts_[vt].mode.mode == VT_PROCESS && !raise(vt, vts_[vt].mode.acqsig))
        resetVt(vt);
    changed_.notify_all();
}

Console::State Console::state()
{
    std::lock_guard lock(mutex_);
    State s{foreground_, 0};
    for (int vt = 1; vt <= consoleCount && !s.server; ++vt)
        if (isServers(vt))
            s.server = vt;
    return s;
}

std::string Console::awaitRelease(int from, int to, std::chrono::milliseconds timeout,
                                  std::unique_lock<std::mutex> &lock)
{
    const std::string vtFrom = "VT " + std::to_string(from);
    if (vts_[from].newVt != to)
        return vtFrom + " shows graphics under VT_AUTO: the kernel ignores the switch";
    const bool answered = changed_.wait_for(
        lock, timeout, [&] { return foreground_ != from || vts_[from].newVt != to; });
    if (!answered)
        return "no VT_RELDISP from " + vtFrom + " within " + inMs(timeout) +
               "; the switch waits for it";
    if (foreground_ == from)
        return vtFrom + " refused to release the console (VT_RELDISP 0)";
    return "";
}

std::string Console::switchTo(int vt, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    if (vt < 1 || vt > consoleCount)
        return "no VT " + std::to_string(vt);
    const int from = foreground_;
    if (vt == from)
        return "";
    masterKept_ = false;
    changeTo(vt);
    if (foreground_ != vt) {
        if (std::string why = awaitRelease(from, vt, timeout, lock); !why.empty())
            return why;
    }
    if (foreground_ == vt && isServers(vt) &&
        !changed_.wait_for(lock, timeout, [&] { return acquireAcknowledged_; }))
        return "no VT_RELDISP VT_ACKACQ from VT " + std::to_string(vt) + " within " + inMs(timeout);
    if (masterKept_)
        return "the server kept DRM master: the other client could not take the displays";
    return foreground_ == vt ? "" : "VT " + std::to_string(foreground_) + " is in the foreground";
}

} // namespace qelsim
