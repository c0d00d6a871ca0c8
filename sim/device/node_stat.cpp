// SPDX-License-Identifier: MIT
#include "node_stat.h"

namespace qelsim {

void fillNodeStatx(struct statx *st, NodeId node)
{
    std::memset(st, 0, sizeof *st);
    st->stx_mask = STATX_BASIC_STATS;
    st->stx_blksize = 4096;
    st->stx_nlink = 1;
    st->stx_mode = static_cast<uint16_t>(node.mode());
    st->stx_gid = node.group();
    st->stx_ino = node.inode();
    st->stx_rdev_major = node.major;
    st->stx_rdev_minor = node.minor;
    st->stx_dev_major = 0;
    st->stx_dev_minor = devtmpfsMinor;
}

} // namespace qelsim
