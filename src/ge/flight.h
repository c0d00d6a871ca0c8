/* SPDX-License-Identifier: MIT */
/* The GE work in flight, for the queue: how much may be out at once, the
 * waits for it, and the judgement of the GE's health by its progress. */
#ifndef QEL_GE_FLIGHT_H
#define QEL_GE_FLIGHT_H

#include "ge/ge.h"

/* The most pixels one batch writes before it goes out on its own (a
 * single larger operation makes a batch by itself). */
#define QEL_GE_BATCH_PIXELS (8u << 20)

/* Waits for older work until a batch of that many pixels may go out: the
 * GE is kept a few batches ahead of the CPU, never much more. */
void qelGeMakeRoom(qelGe *ge, uint64_t pixels);
/* The queue's batch, just taken by the kernel as ge->submitted, is out:
 * its operations move to the flight record. */
void qelGeFlightAdd(qelGe *ge);
/* Waits for the batch. A GE that finishes nothing for the whole patience
 * is given up, and the CPU draws what it left unfinished. */
void qelGeWaitBatch(qelGe *ge, const qelGeBatchRef *batch);
/* After EAGAIN: waits until the kernel's queue has room; FALSE when none
 * came and nothing finished for the whole patience. */
Bool qelGeWaitRoom(qelGe *ge);
/* Forgets the batches known done. */
void qelGeRetireDone(qelGe *ge);
/* From here on nothing goes to the GE in this server generation. */
void qelGeGiveUp(qelGe *ge, const char *why);
/* A failed wait is said once per kind of error until waits work again:
 * a GE that fails every wait must not flood the log. */
void qelGeNoteWaitFailure(qelGe *ge, uint32_t seqno, int error);

/* One bit per errno value, the last bit for any beyond, for what has been
 * said. */
static inline uint64_t
qelGeErrorBit(int error)
{
    return UINT64_C(1) << (error > 0 && error < 63 ? error : 63);
}

#endif
