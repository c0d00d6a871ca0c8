/* The CRTC hooks: mode set, gamma and destruction. A mode set scans out
 * what presentation chooses for the CRTC (its own tear-free pair, or the
 * screen's buffer at the CRTC's position), driving every connector whose
 * output the server attached to this CRTC. */
#include "kms/kms.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <xf86drm.h>

#include "tearfree/tearfree.h"

/* The connector ids of the outputs attached to the CRTC; NULL when the
 * array cannot be allocated. */
static uint32_t *
qelCrtcConnectorIds(xf86CrtcPtr crtc, int *count)
{
    xf86CrtcConfigPtr config = XF86_CRTC_CONFIG_PTR(crtc->scrn);
    uint32_t *ids = calloc(config->num_output > 0 ? (size_t) config->num_output : 1,
                           sizeof(*ids));

    *count = 0;
    if (!ids)
        return NULL;
    for (int i = 0; i < config->num_output; i++) {
        xf86OutputPtr output = config->output[i];
        qelOutputPriv *outputPriv = output->driver_private;

        if (output->crtc == crtc && outputPriv)
            ids[(*count)++] = outputPriv->connectorId;
    }
    return ids;
}

static void
qelCrtcRecordMode(xf86CrtcPtr crtc, DisplayModePtr mode, Rotation rotation, int x, int y,
                  int connectorCount)
{
    qelCrtcPriv *crtcPriv = crtc->driver_private;

    /* The source may be crtc->mode itself (DPMS on, AdjustFrame, resize). */
    if (mode != &crtc->mode)
        crtc->mode = *mode;
    crtc->rotation = rotation;
    crtc->x = x;
    crtc->y = y;
    if (connectorCount > 0)
        crtcPriv->dpmsOff = FALSE;
}

static Bool
qelCrtcSetScanout(xf86CrtcPtr crtc, const qelScanout *scanout, DisplayModePtr mode,
                  uint32_t *ids, int count)
{
    qelCrtcPriv *crtcPriv = crtc->driver_private;
    drmModeModeInfo info;

    qelModeToDrm(mode, &info);
    if (drmModeSetCrtc(crtcPriv->screenPriv->fd, crtcPriv->crtcId, scanout->fbId, scanout->x,
                       scanout->y, ids, count, &info) == 0)
        return TRUE;
    xf86DrvMsg(crtc->scrn->scrnIndex, X_ERROR, "drmModeSetCrtc failed: %s\n", strerror(errno));
    return FALSE;
}

Bool
qelCrtcSetModeMajor(xf86CrtcPtr crtc, DisplayModePtr mode, Rotation rotation, int x, int y)
{
    qelCrtcPriv *crtcPriv = crtc->driver_private;
    qelScreenPriv *priv = crtcPriv->screenPriv;
    qelScanout scanout;
    uint32_t *ids;
    int count;
    Bool shown;

    if (!qelPresentBeginScanout(priv, crtcPriv->crtcId, mode->HDisplay, mode->VDisplay, x, y,
                                &scanout))
        return FALSE;
    ids = qelCrtcConnectorIds(crtc, &count);
    shown = ids && qelCrtcSetScanout(crtc, &scanout, mode, ids, count);
    qelPresentEndScanout(priv, crtcPriv->crtcId, shown, count > 0);
    if (shown)
        qelCrtcRecordMode(crtc, mode, rotation, x, y, count);
    free(ids);
    return shown;
}

void
qelCrtcGammaSet(xf86CrtcPtr crtc, CARD16 *red, CARD16 *green, CARD16 *blue, int size)
{
    qelCrtcPriv *crtcPriv = crtc->driver_private;

    (void) drmModeCrtcSetGamma(crtcPriv->screenPriv->fd, crtcPriv->crtcId, (uint32_t) size,
                               red, green, blue);
}

void
qelCrtcDestroy(xf86CrtcPtr crtc)
{
    free(crtc->driver_private);
    crtc->driver_private = NULL;
}
