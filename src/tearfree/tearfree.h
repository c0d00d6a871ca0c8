/* Page-flip completion and the TearFree presentation cycle. */
#ifndef QEL_TEARFREE_H
#define QEL_TEARFREE_H

#include "driver/qel.h"

/* Flip completion and the settling of a pending flip. */
void qelPageFlipHandler(int fd, unsigned int sequence, unsigned int tvSec,
                        unsigned int tvUsec, void *userData);
void qelDrmEventHandler(int fd, int ready, void *data);
void qelResolvePendingFlip(qelScreenPriv *priv);
/* Reads, without waiting, the events already queued while no flip is
 * pending, so that none of them can be taken for a later flip. */
void qelDiscardFlipEvents(qelScreenPriv *priv);

/* The per-pass flip cycle, run from the wrapped BlockHandler. */
void qelBlockHandler(ScreenPtr screen, void *timeout);

/* Arming and disarming at screen start and close. */
void qelTearFreeSetup(ScreenPtr screen);
void qelTearFreeTeardown(ScreenPtr screen);
void qelDamageDestroy(DamagePtr damage, void *closure);

#endif
