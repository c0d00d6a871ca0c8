/* Tear-free presentation: each lit CRTC scans out a pair of buffers of its
 * own mode's size, fed by GE copies from the shadow and shown by page
 * flips, independently of the other CRTCs. */
#ifndef QEL_TEARFREE_H
#define QEL_TEARFREE_H

#include "driver/qel.h"

/* What a CRTC scans out: a framebuffer and the origin of the mode in it. */
typedef struct qelScanout {
    uint32_t fbId;
    uint32_t x;
    uint32_t y;
} qelScanout;

/* A mode set of the CRTC with that DRM id, in two steps. Begin settles the
 * CRTC's flip and chooses what it is to show for a width x height mode at
 * (x, y) of the screen: with TearFree its own pair, filled with the screen's
 * contents, else the shadow itself; FALSE when nothing can be shown. End
 * says whether the CRTC now shows that choice (shown) while driving some
 * connector (lit); until then the buffers it showed before are kept. */
Bool qelPresentBeginScanout(qelScreenPriv *priv, uint32_t crtcId, int width, int height,
                            int x, int y, qelScanout *out);
void qelPresentEndScanout(qelScreenPriv *priv, uint32_t crtcId, Bool shown, Bool lit);

/* Settles the flip of one CRTC, or of every CRTC, without waiting for the
 * kernel: afterwards no flip of the screen is in flight for the driver. */
void qelPresentSettleCrtc(qelScreenPriv *priv, uint32_t crtcId);
void qelPresentSettleAll(qelScreenPriv *priv);
/* The CRTC was switched off (its flip settled before): presentation stops
 * for it; release also gives up its pair (the CRTC has no mode any more). */
void qelPresentCrtcOff(qelScreenPriv *priv, uint32_t crtcId, Bool release);
/* The screen pixmap moved to a new shadow: every pair is filled anew at
 * its CRTC's next mode set. */
void qelPresentShadowReplaced(qelScreenPriv *priv);

/* Flip completion: the libdrm handler and the notify-fd callback. */
void qelPageFlipHandler(int fd, unsigned int sequence, unsigned int tvSec,
                        unsigned int tvUsec, void *userData);
void qelDrmEventHandler(int fd, int ready, void *data);

/* The per-pass cycle, run from the wrapped BlockHandler. */
void qelBlockHandler(ScreenPtr screen, void *timeout);

/* Arming and disarming at screen start and close; the pairs are released
 * with the screen's other buffers, the presentation record at FreeScreen
 * (a flip's event may outlive the screen generation that requested it). */
void qelTearFreeSetup(ScreenPtr screen);
void qelTearFreeTeardown(ScreenPtr screen);
void qelDamageDestroy(DamagePtr damage, void *closure);
void qelPresentDestroyBuffers(qelScreenPriv *priv);
void qelPresentFree(qelScreenPriv *priv);

#endif
