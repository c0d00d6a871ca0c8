// SPDX-License-Identifier: MIT
// The descriptors of VT nodes. Each is an eventfd of its own: a descriptor
// that poll() never finds readable, as a console nobody types on, and that
// the C library's termios calls (which reach the kernel directly) answer
// with ENOTTY.
#include "console.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/eventfd.h>

namespace qelsim {

// tty0, or tty1 to tty63 without leading zeros.
bool Console::isNodePath(const char *path, unsigned &minor)
{
    static const char prefix[] = "/dev/tty";
    if (!path || std::strncmp(path, prefix, sizeof prefix - 1) != 0)
        return false;
    const char *d = path + sizeof prefix - 1;
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (!digit(d[0]) || (d[0] == '0' && d[1]) || (d[1] && (!digit(d[1]) || d[2])))
        return false;
    minor = static_cast<unsigned>(std::atoi(d));
    return minor <= consoleCount;
}

int Console::open(unsigned minor, int flags)
{
    std::lock_guard lock(mutex_);
    const int fd = eventfd(0, ((flags & O_CLOEXEC) ? EFD_CLOEXEC : 0) |
                                  ((flags & O_NONBLOCK) ? EFD_NONBLOCK : 0));
    if (fd < 0)
        return -1;
    auto file = std::make_shared<ConsoleFile>();
    file->minor = minor;
    file->vt = minor ? static_cast<int>(minor) : foreground_;
    ++vts_[file->vt].users;
    files_[fd] = std::move(file);
    return fd;
}

bool Console::minorOfFd(int fd, unsigned &minor)
{
    std::lock_guard lock(mutex_);
    const auto it = files_.find(fd);
    if (it == files_.end())
        return false;
    minor = it->second->minor;
    return true;
}

void Console::forget(int fd)
{
    std::lock_guard lock(mutex_);
    const auto it = files_.find(fd);
    if (it == files_.end())
        return;
    const ConsoleFileRef file = it->second;
    files_.erase(it);
    for (const auto &[other, shared] : files_)
        if (shared == file)
            return;
    --vts_[file->vt].users;
}

void Console::share(int oldFd, int newFd)
{
    if (oldFd == newFd)
        return;
    forget(newFd);
    std::lock_guard lock(mutex_);
    const auto it = files_.find(oldFd);
    if (it != files_.end())
        files_[newFd] = it->second;
}

} // namespace qelsim
