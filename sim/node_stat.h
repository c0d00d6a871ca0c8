// What stat() and statx() say about a device node: a character device with
// the DRM major number.
#pragma once

#include <cstdint>
#include <sys/stat.h>

namespace qelsim {

constexpr uint32_t drmMajor = 226;

void fillNodeStat(struct stat *st, uint32_t minor);
void fillNodeStatx(struct statx *st, uint32_t minor);

} // namespace qelsim
