// SPDX-License-Identifier: MIT
// What stat() and statx() say about a simulated node: a character device,
// the DRM device's (major 226) or a VT's (major 4).
#pragma once

#include <cstdint>
#include <cstring>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace qelsim {

constexpr uint32_t drmMajor = 226, ttyMajor = 4;
constexpr uint32_t devtmpfsMinor = 5;
constexpr unsigned ttyGroup = 5;

struct NodeId {
    uint32_t major = drmMajor;
    uint32_t minor = 0;

    // DRM nodes are open to all, VTs to root and the tty group, as udev
    // makes them.
    mode_t mode() const { return S_IFCHR | (major == ttyMajor ? 0620 : 0666); }
    unsigned group() const { return major == ttyMajor ? ttyGroup : 0; }
    uint32_t inode() const { return (major == ttyMajor ? 2000 : 1000) + minor; }
};

// For struct stat and struct stat64 alike: on 32-bit targets they differ in
// layout, and callers reach the simulator through both.
template <typename Stat> void fillNodeStat(Stat *st, NodeId node)
{
    std::memset(st, 0, sizeof *st);
    st->st_dev = makedev(0, devtmpfsMinor);
    st->st_ino = node.inode();
    st->st_mode = node.mode();
    st->st_nlink = 1;
    st->st_uid = 0;
    st->st_gid = node.group();
    st->st_rdev = makedev(node.major, node.minor);
    st->st_blksize = 4096;
}

void fillNodeStatx(struct statx *st, NodeId node);

} // namespace qelsim
