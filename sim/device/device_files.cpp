// SPDX-License-Identifier: MIT
#include "device_files.h"

#include "crtc_state.h"
#include "real_libc.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qelsim {
namespace {

void releaseFile(Device &device, DrmFile &file)
{
    for (uint32_t fbId : file.framebuffers)
        removeFramebuffer(device, fbId);
    file.framebuffers.clear();
    file.handles.clear();
    if (device.master == &file)
        device.master = nullptr;
}

bool stillOpen(const Device &device, const DrmFile *file)
{
    return std::any_of(device.files.begin(), device.files.end(),
                       [&](const auto &entry) { return entry.second.get() == file; });
}

} // namespace

DrmFile::~DrmFile()
{
    if (eventFd >= 0) {
        QELSIM_NEXT(close);
        fn(eventFd);
    }
}

int openDeviceFile(Device &device, uint32_t minor, int flags)
{
    int ends[2];
    // The caller's end carries the open flags a reader sees: a node opened
    // O_NONBLOCK answers read() with EAGAIN while no event is queued.
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) < 0)
        return -1;
    if (flags & O_NONBLOCK) {
        QELSIM_NEXT(fcntl);
        fn(ends[0], F_SETFL, O_NONBLOCK);
    }
    if (!(flags & O_CLOEXEC)) {
        QELSIM_NEXT(fcntl);
        fn(ends[0], F_SETFD, 0);
    }
    auto file = std::make_shared<DrmFile>();
    file->eventFd = ends[1];
    file->minor = minor;
    file->magic = device.nextMagic++;
    if (!device.master && !device.hooks.masterHeldElsewhere()) {
        device.master = file.get();
        file->wasMaster = true;
        file->authenticated = true;
    }
    device.files[ends[0]] = std::move(file);
    return ends[0];
}

void forgetDeviceFd(Device &device, int fd)
{
    const auto it = device.files.find(fd);
    if (it == device.files.end())
        return;
    const FileRef file = it->second;
    device.files.erase(it);
    if (!stillOpen(device, file.get()))
        releaseFile(device, *file);
}

void shareDeviceFile(Device &device, int oldFd, int newFd)
{
    const FileRef file = device.findFile(oldFd);
    if (!file || oldFd == newFd)
        return;
    forgetDeviceFd(device, newFd);
    device.files[newFd] = file;
}

} // namespace qelsim
