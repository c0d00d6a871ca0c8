/* Page-flip completion, and the settling of a flip that is still marked
 * pending without ever waiting for the kernel. A flip is matched to its
 * event by flipPending alone: at most one flip is outstanding. */
#include "tearfree/tearfree.h"

#include <poll.h>

#include <xf86drm.h>
#include <xf86drmMode.h>

void
qelPageFlipHandler(int fd, unsigned int sequence, unsigned int tvSec, unsigned int tvUsec,
                   void *userData)
{
    qelScreenPriv *priv = userData;

    (void) fd;
    (void) sequence;
    (void) tvSec;
    (void) tvUsec;
    /* An event whose flip was already settled by resolution changes nothing. */
    if (!priv->flipPending)
        return;
    priv->frontIndex ^= 1;
    priv->flipPending = FALSE;
}

static int
qelHandleDrmEvents(int fd)
{
    drmEventContext context = {
        .version = 2,
        .page_flip_handler = qelPageFlipHandler,
    };

    return drmHandleEvent(fd, &context);
}

void
qelDrmEventHandler(int fd, int ready, void *data)
{
    (void) ready;
    (void) data;
    (void) qelHandleDrmEvents(fd);
}

/* Reads the events the kernel has already queued. Stops when nothing more
 * is readable, when the flip is seen, or when reading fails although the
 * descriptor polls readable (which would otherwise spin for ever). */
static void
qelDrainQueuedEvents(qelScreenPriv *priv)
{
    struct pollfd pfd = { .fd = priv->fd, .events = POLLIN };

    while (poll(&pfd, 1, 0) > 0) {
        if (qelHandleDrmEvents(priv->fd) != 0)
            return;
        if (!priv->flipPending)
            return;
        pfd.revents = 0;
    }
}

/* The event is not readable yet: the CRTC's current framebuffer tells
 * whether the flip has taken effect. */
static void
qelSettleFromCrtcState(qelScreenPriv *priv)
{
    drmModeCrtcPtr crtc = drmModeGetCrtc(priv->fd, priv->flipCrtcId);
    int back = priv->frontIndex ^ 1;

    if (!crtc)
        return;
    if (priv->scanout[back] && crtc->buffer_id == priv->scanout[back]->fbId)
        priv->frontIndex = back;
    drmModeFreeCrtc(crtc);
}

void
qelDiscardFlipEvents(qelScreenPriv *priv)
{
    if (!priv->flipPending)
        qelDrainQueuedEvents(priv);
}

/* The buffer that stays in front never received the last cycle's damage,
 * which went into the back buffer only; nothing would present it again
 * until new damage came. Handing it back to the damage record makes the
 * next cycle copy and flip it. */
static void
qelRedamageUnshownCycle(qelScreenPriv *priv)
{
    RegionPtr damaged;

    if (!priv->damage)
        return;
    damaged = DamageRegion(priv->damage);
    pixman_region_union(damaged, damaged, &priv->pendingRegion);
}

void
qelResolvePendingFlip(qelScreenPriv *priv)
{
    int front = priv->frontIndex;

    if (!priv->flipPending)
        return;
    qelDrainQueuedEvents(priv);
    if (!priv->flipPending)
        return;
    qelSettleFromCrtcState(priv);
    priv->flipPending = FALSE;
    if (priv->frontIndex == front)
        qelRedamageUnshownCycle(priv);
}
