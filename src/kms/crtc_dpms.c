/* DPMS of one CRTC. Standby and suspend switch the CRTC fully off, like
 * off; on sets the stored mode again. A CRTC switched off while the server
 * no longer uses it (it has no mode) also gives up its tear-free buffers. */
#include "kms/kms.h"

#include <X11/extensions/dpmsconst.h>
#include <xf86drm.h>

#include "tearfree/tearfree.h"

static void
qelCrtcSwitchOff(qelCrtcPriv *crtcPriv)
{
    qelScreenPriv *priv = crtcPriv->screenPriv;

    qelPresentSettleCrtc(priv, crtcPriv->crtcId);
    /* A refused disable is not reported: the state stays on, so the next
     * off request tries again. */
    if (drmModeSetCrtc(priv->fd, crtcPriv->crtcId, 0, 0, 0, NULL, 0, NULL) != 0)
        return;
    crtcPriv->dpmsOff = TRUE;
}

void
qelCrtcDpms(xf86CrtcPtr crtc, int mode)
{
    qelCrtcPriv *crtcPriv;

    if (!crtc)
        return;
    crtcPriv = crtc->driver_private;
    /* The server's DPMS handler reaches here twice per change, through the
     * output hook and the CRTC hook; the second call finds nothing to do. */
    if (mode == DPMSModeOn) {
        if (crtcPriv->dpmsOff)
            (void) qelCrtcSetModeMajor(crtc, &crtc->mode, crtc->rotation, crtc->x, crtc->y);
        return;
    }
    if (!crtcPriv->dpmsOff)
        qelCrtcSwitchOff(crtcPriv);
    if (crtcPriv->dpmsOff)
        qelPresentCrtcOff(crtcPriv->screenPriv, crtcPriv->crtcId, !crtc->enabled);
}
