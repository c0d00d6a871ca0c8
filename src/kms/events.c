/* SPDX-License-Identifier: MIT */
/* The one reader of the DRM descriptor's events. Flips and vblank waits
 * alike carry the address of a record that begins with a qelDrmEvent, and
 * each event goes to its record's handler: a flip's ticket (presentation)
 * or a vblank wait (vblank.c). Vblank waits whose count came are delivered
 * after the read, once every event read has been seen. */
#include "kms/kms.h"

#include <stdint.h>

#include <xf86drm.h>

static void
qelFlipEvent(int fd, unsigned int sequence, unsigned int tvSec, unsigned int tvUsec, void *data)
{
    qelDrmEvent *event = data;

    (void) fd;
    event->done(event, sequence, (uint64_t) tvSec * 1000000 + tvUsec);
}

static void
qelSequenceEvent(int fd, uint64_t sequence, uint64_t ns, uint64_t data)
{
    qelDrmEvent *event = (qelDrmEvent *) (uintptr_t) data;

    (void) fd;
    event->done(event, sequence, ns / 1000);
}

int
qelDrmReadEvents(int fd)
{
    drmEventContext context = {
        .version = 4,
        .page_flip_handler = qelFlipEvent,
        .sequence_handler = qelSequenceEvent,
    };

    return drmHandleEvent(fd, &context);
}

void
qelDrmEventHandler(int fd, int ready, void *data)
{
    (void) ready;
    (void) qelDrmReadEvents(fd);
    if (data)
        qelVblankDeliverDue(data);
}

Bool
qelKmsWatchEvents(qelKms *kms)
{
    return SetNotifyFd(kms->fd, qelDrmEventHandler, X_NOTIFY_READ, kms);
}

void
qelKmsUnwatchEvents(qelKms *kms)
{
    SetNotifyFd(kms->fd, NULL, 0, NULL);
}
