/* The CRTC hooks: mode set, gamma and destruction. A mode set always scans
 * out the scanout buffer that is in front, driving every connector whose
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
    qelScreenPriv *priv = crtcPriv->screenPriv;

    /* The source may be crtc->mode itself (DPMS on, AdjustFrame, resize). */
    if (mode != &crtc->mode)
        crtc->mode = *mode;
    crtc->rotation = rotation;
    crtc->x = x;
    crtc->y = y;
    priv->modeWidth = crtc->mode.HDisplay;
    priv->modeHeight = crtc->mode.VDisplay;
    if (connectorCount > 0) {
        crtcPriv->dpmsOff = FALSE;
        if (crtcPriv->crtcId == priv->flipCrtcId)
            priv->crtcOff = FALSE;
    }
}

Bool
qelCrtcSetModeMajor(xf86CrtcPtr crtc, DisplayModePtr mode, Rotation rotation, int x, int y)
{
    qelCrtcPriv *crtcPriv = crtc->driver_private;
    qelScreenPriv *priv = crtcPriv->screenPriv;
    drmModeModeInfo info;
    uint32_t *ids;
    int count;
    qelBo *front;

    if (priv->tearFree)
        qelResolvePendingFlip(priv);
    front = priv->scanout[priv->frontIndex];
    if (!front || front->fbId == 0)
        return FALSE;
    ids = qelCrtcConnectorIds(crtc, &count);
    if (!ids)
        return FALSE;
    qelModeToDrm(mode, &info);
    if (drmModeSetCrtc(priv->fd, crtcPriv->crtcId, front->fbId, (uint32_t) x, (uint32_t) y,
                       ids, count, &info) != 0) {
        xf86DrvMsg(crtc->scrn->scrnIndex, X_ERROR, "drmModeSetCrtc failed: %s\n",
                   strerror(errno));
        free(ids);
        return FALSE;
    }
    qelCrtcRecordMode(crtc, mode, rotation, x, y, count);
    free(ids);
    return TRUE;
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
