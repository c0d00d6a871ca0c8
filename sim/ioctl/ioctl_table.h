// SPDX-License-Identifier: MIT
#pragma once

#include "ioctl_call.h"

#include <cstdint>

namespace qelsim {

enum IoctlFlags : unsigned {
    masterOnly = 1u << 0,
    geIoctl = 1u << 1, // handed to the GE engine with the caller's own record
};

struct IoctlEntry {
    unsigned long cmd; // the kernel's definition: direction and size
    const char *name;  // for the ioctl_<NAME> counters
    unsigned flags;
    IoctlHandler handler;
};

// The entry for an ioctl number, or null for an unknown one.
const IoctlEntry *findIoctl(unsigned nr);

} // namespace qelsim
