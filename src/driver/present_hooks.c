/* SPDX-License-Identifier: MIT */
/* The server's Present hooks: a window's CRTC, each CRTC's MSC and UST,
 * and waits for an MSC, from the CRTCs' vblank clocks (kms/vblank.c).
 * A window on no lit CRTC gets no CRTC, so the server times it with its
 * own fake clock; a request for a CRTC that went dark meanwhile is timed by
 * the same rule (FakeScreenFps, else once a second) until it is lit again.
 * Presented pixmaps are copied by the server into the window at their MSC;
 * with TearFree that copy reaches the display in the flip of the next
 * vblank. The driver flips no pixmap of its own, so it offers none of the
 * optional capabilities. */
#include "qel.h"

#include <present.h>

/* A rectangle of the screen; ints, as a window may reach past a BoxRec's
 * range. */
typedef struct qelRect {
    int x1, y1, x2, y2;
} qelRect;

/* The rectangle of the screen the CRTC shows. */
static qelRect
qelCrtcRect(xf86CrtcPtr crtc)
{
    int width = crtc->mode.HDisplay;
    int height = crtc->mode.VDisplay;

    if (crtc->rotation & (RR_Rotate_90 | RR_Rotate_270)) {
        width = crtc->mode.VDisplay;
        height = crtc->mode.HDisplay;
    }
    return (qelRect) { crtc->x, crtc->y, crtc->x + width, crtc->y + height };
}

static int
qelCoverage(const qelRect *a, const qelRect *b)
{
    int width = min(a->x2, b->x2) - max(a->x1, b->x1);
    int height = min(a->y2, b->y2) - max(a->y1, b->y1);

    return width > 0 && height > 0 ? width * height : 0;
}

/* The lit CRTC that shows most of the rectangle; on a tie, the primary
 * output's. */
static xf86CrtcPtr
qelCrtcCovering(ScreenPtr screen, const qelRect *rect)
{
    xf86CrtcConfigPtr config = XF86_CRTC_CONFIG_PTR(xf86ScreenToScrn(screen));
    RROutputPtr primary = RRFirstOutput(screen);
    RRCrtcPtr primaryCrtc = primary ? primary->crtc : NULL;
    xf86CrtcPtr best = NULL;
    int bestCoverage = 0;

    for (int i = 0; i < config->num_crtc; i++) {
        xf86CrtcPtr crtc = config->crtc[i];
        qelRect shown;
        int coverage;

        if (!qelCrtcLit(crtc))
            continue;
        shown = qelCrtcRect(crtc);
        coverage = qelCoverage(&shown, rect);
        if (coverage > bestCoverage ||
            (coverage == bestCoverage && coverage > 0 && crtc->randr_crtc == primaryCrtc)) {
            best = crtc;
            bestCoverage = coverage;
        }
    }
    return best;
}

static RRCrtcPtr
qelPresentHookGetCrtc(WindowPtr window)
{
    DrawablePtr drawable = &window->drawable;
    qelRect rect = { drawable->x, drawable->y, drawable->x + drawable->width,
                     drawable->y + drawable->height };
    xf86CrtcPtr crtc = qelCrtcCovering(drawable->pScreen, &rect);

    return crtc ? crtc->randr_crtc : NULL;
}

static int
qelPresentHookGetUstMsc(RRCrtcPtr crtc, uint64_t *ust, uint64_t *msc)
{
    qelVblankNow(crtc->devPrivate, ust, msc);
    return Success;
}

/* The server takes Success, not TRUE, for a queued wait. */
static Bool
qelPresentHookQueueVblank(RRCrtcPtr crtc, uint64_t eventId, uint64_t msc)
{
    return qelVblankQueue(crtc->devPrivate, msc, eventId) ? Success : BadAlloc;
}

static void
qelPresentHookAbortVblank(RRCrtcPtr crtc, uint64_t eventId, uint64_t msc)
{
    (void) msc;
    qelVblankAbort(&qelScreenPrivFromScreen(crtc->pScreen)->kms, eventId);
}

/* The server has copied a pixmap into the window: the GE gets the work now. */
static void
qelPresentHookFlush(WindowPtr window)
{
    qelScreenPriv *priv = qelScreenPrivFromScreen(window->drawable.pScreen);

    if (priv->ge.exa)
        qelGeFlush(&priv->ge);
}

static present_screen_info_rec qelPresentInfo = {
    .version = PRESENT_SCREEN_INFO_VERSION,
    .get_crtc = qelPresentHookGetCrtc,
    .get_ust_msc = qelPresentHookGetUstMsc,
    .queue_vblank = qelPresentHookQueueVblank,
    .abort_vblank = qelPresentHookAbortVblank,
    .flush = qelPresentHookFlush,
    .capabilities = PresentCapabilityNone,
};

Bool
qelPresentHooksInit(ScreenPtr screen)
{
    qelScreenPriv *priv = qelScreenPrivFromScreen(screen);

    priv->kms.vblank.notify = present_event_notify;
    priv->kms.vblank.fakeIntervalUs = 1000000 / (FakeScreenFps ? FakeScreenFps : 1);
    return present_screen_init(screen, &qelPresentInfo);
}
