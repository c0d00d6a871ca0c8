// SPDX-License-Identifier: MIT
// What an ioctl handler gets: the device (its mutex held through LOCK), the
// calling file, and the argument copied into kernel-sized memory.
// Handlers return 0 or a negative errno, as kernel ioctl functions do.
#pragma once

#include "device.h"

#include <cerrno>
#include <cstring>
#include <mutex>

namespace qelsim {

struct IoctlCall {
    Device &device;
    const FileRef &file;
    std::unique_lock<std::mutex> &lock;
};

using IoctlHandler = int (*)(IoctlCall &call, void *arg);

// Copies COUNT items to a user array, as copy_to_user would.
template <typename T> int copyToUser(uint64_t userPtr, const T *items, size_t count)
{
    if (count == 0)
        return 0;
    if (userPtr == 0)
        return -EFAULT;
    std::memcpy(reinterpret_cast<void *>(userPtr), items, count * sizeof(T));
    return 0;
}

template <typename T> int copyFromUser(T *items, uint64_t userPtr, size_t count)
{
    if (count == 0)
        return 0;
    if (userPtr == 0)
        return -EFAULT;
    std::memcpy(items, reinterpret_cast<const void *>(userPtr), count * sizeof(T));
    return 0;
}

} // namespace qelsim
