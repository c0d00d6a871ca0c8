#include "node_stat.h"

#include <cstring>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace qelsim {
namespace {

constexpr mode_t nodeMode = S_IFCHR | 0666;
constexpr uint32_t devtmpfsMinor = 5;

} // namespace

void fillNodeStat(struct stat *st, uint32_t minor)
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
