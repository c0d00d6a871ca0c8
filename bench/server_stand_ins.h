/* SPDX-License-Identifier: MIT */
/* Stand-ins for the X server entry points the GE queue path reaches. */
#ifndef QEL_BENCH_SERVER_STAND_INS_H
#define QEL_BENCH_SERVER_STAND_INS_H

#include "ge/ge.h"

/* The EXA private that exaGetPixmapDriverPrivate hands out for every
 * pixmap: the benchmark's one destination. */
extern qelPixmapPriv benchDestination;

#endif
