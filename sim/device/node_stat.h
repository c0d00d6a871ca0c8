// SPDX-License-Identifier: MIT
// What stat() and statx() say about a device node: a character device with
// the DRM major number.
#pragma once

#include <cstdint>
#include <cstring>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace qelsim {

constexpr uint32_t drmMajor = 226;
constexpr mode_t nodeMode = S_IFCHR | 0666;
constexpr uint32_t devtmpfsMinor = 5;

// For struct stat and struct stat64 alike: on 32-bit targets they differ in
// layout, and callers reach the simulator through both.
template <typename Stat> void fillNodeStat(Stat *st, uint32_t minor)
{
    std::memset(st, 0, sizeof *st);
    st->st_dev = makedev(0, devtmpfsMinor);
    st->st_ino = 1000 + minor;
    st->st_mode = nodeMode;
    st->st_nlink = 1;
    st->st_uid = 0;
    st->st_gid = 0;
    st->st_rdev = makedev(drmMajor, minor);
    st->st_blksize = 4096;
}

void fillNodeStatx(struct statx *st, uint32_t minor);

} // namespace qelsim
