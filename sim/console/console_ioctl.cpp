// SPDX-License-Identifier: MIT
// The ioctls of VT files, as drivers/tty/vt/vt_ioctl.c answers them. The
// caller may always change the console (the server runs as root). Requests
// the kernel knows but the server never makes are not modelled: ENOTTY.
#include "console.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <unistd.h>

namespace qelsim {
namespace {

constexpr unsigned vtType = 'V', kdType = 'K';

unsigned long valueOf(void *arg)
{
    return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(arg));
}

template <typename T> int putUser(void *arg, const T &value)
{
    if (!arg)
        return -EFAULT;
    std::memcpy(arg, &value, sizeof value);
    return 0;
}

bool validVt(unsigned long n)
{
    return n >= 1 && n <= consoleCount;
}

} // namespace

bool Console::ioctl(int fd, unsigned long request, void *arg, int &result)
{
    const unsigned type = (request >> 8) & 0xff;
    if (type != vtType && type != kdType)
        return false;
    std::unique_lock lock(mutex_);
    const auto it = files_.find(fd);
    if (it == files_.end())
        return false;
    const ConsoleFileRef file = it->second;
    const int r =
        type == vtType ? vtIoctl(*file, request, arg, lock) : kdIoctl(*file, request, arg);
    if (r < 0)
        errno = -r;
    result = r < 0 ? -1 : r;
    return true;
}

int Console::vtIoctl(ConsoleFile &file, unsigned long request, void *arg,
                     std::unique_lock<std::mutex> &lock)
{
    VirtualTerminal &v = vts_[file.vt];
    const unsigned long n = valueOf(arg);
    switch (request) {
    case VT_OPENQRY: {
        int free = -1;
        for (int vt = 1; vt <= consoleCount && free < 0; ++vt)
            if (vts_[vt].users == 0)
                free = vt;
        return putUser(arg, free);
    }
    case VT_GETSTATE: {
        if (!arg)
            return -EFAULT;
        // Bit 0 is /dev/tty0, always open; v_signal is left as it was.
        auto *s = static_cast<vt_stat *>(arg);
        s->v_active = static_cast<unsigned short>(foreground_);
        s->v_state = 1;
        for (int vt = 1; vt < 16; ++vt)
            if (vts_[vt].users)
                s->v_state = static_cast<unsigned short>(s->v_state | 1u << vt);
        return 0;
    }
    case VT_GETMODE: return putUser(arg, v.mode);
    case VT_SETMODE: {
        if (!arg)
            return -EFAULT;
        vt_mode mode;
        std::memcpy(&mode, arg, sizeof mode);
        if (mode.mode != VT_AUTO && mode.mode != VT_PROCESS)
            return -EINVAL;
        mode.frsig = 0;
        v.mode = mode;
        v.pid = getpid();
        v.newVt = 0; // a switch that waited is called off
        changed_.notify_all();
        return 0;
    }
    case VT_RELDISP: return releaseDisplay(file, n);
    case VT_ACTIVATE:
        if (!validVt(n))
            return -ENXIO;
        changeTo(static_cast<int>(n));
        return 0;
    case VT_WAITACTIVE:
        if (!validVt(n))
            return -ENXIO;
        changed_.wait(lock, [&] { return foreground_ == static_cast<int>(n); });
        return 0;
    default: return -ENOTTY;
    }
}

int Console::releaseDisplay(ConsoleFile &file, unsigned long how)
{
    VirtualTerminal &v = vts_[file.vt];
    if (v.mode.mode != VT_PROCESS)
        return -EINVAL;
    // No switch waits: only the acknowledgement of an acquire is expected.
    if (!v.newVt) {
        if (how != VT_ACKACQ)
            return -EINVAL;
        if (file.vt == foreground_)
            acquireAcknowledged_ = true;
        changed_.notify_all();
        return 0;
    }
    const int target = v.newVt;
    v.newVt = 0;
    if (how == 0)
        changed_.notify_all();
    else
        complete(target);
    return 0;
}

int Console::kdIoctl(ConsoleFile &file, unsigned long request, void *arg)
{
    VirtualTerminal &v = vts_[file.vt];
    unsigned long n = valueOf(arg);
    switch (request) {
    case KDSETMODE:
        if (n == KD_TEXT0 || n == KD_TEXT1)
            n = KD_TEXT;
        if (n != KD_TEXT && n != KD_GRAPHICS)
            return -EINVAL;
        v.displayMode = static_cast<int>(n);
        return 0;
    case KDGETMODE: return putUser(arg, v.displayMode);
    case KDGKBMODE: return putUser(arg, v.keyboardMode);
    case KDSKBMODE:
        if (n != K_RAW && n != K_XLATE && n != K_MEDIUMRAW && n != K_UNICODE && n != K_OFF)
            return -EINVAL;
        v.keyboardMode = static_cast<int>(n);
        return 0;
    case KDMKTONE: return 0;
    default: return -ENOTTY;
    }
}

} // namespace qelsim
