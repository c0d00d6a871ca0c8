// SPDX-License-Identifier: MIT
#include "node_stat.h"

namespace qelsim {

void fillNodeStatx(struct statx *st, uint32_t minor)
{
    std::memset(st, 0, sizeof *st);
    st->stx_mask = STATX_BASIC_STATS;
    st->stx_blksize = 4096;
    st->stx_nlink = 1;
    st->stx_mode = nodeMode;
    st->stx_ino = 1000 + minor;
    st->stx_rdev_major = drmMajor;
    st->stx_rdev_minor = minor;
    st->stx_dev_major = 0;
    st->stx_dev_minor = devtmpfsMinor;
}

} // namespace qelsim
