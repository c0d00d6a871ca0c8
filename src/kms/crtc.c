/* SPDX-License-Identifier: MIT */
/* The CRTC hooks (mode set, DPMS, gamma, destruction) and the CRTC objects
 * that carry them. A mode set scans out what presentation chooses for the
 * CRTC (its own tear-free pair, or the screen's buffer at the CRTC's
 * position), driving every connector whose output the server attached to
 * this CRTC. DPMS standby and suspend switch the CRTC fully off, like off;
 * on sets the stored mode again. */
#include "kms/kms.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <X11/extensions/dpmsconst.h>
#include <xf86drm.h>


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
    if (drmModeSetCrtc(crtcPriv->kms->fd, crtcPriv->crtcId, scanout->fbId, scanout->x,
                       scanout->y, ids, count, &info) == 0)
        return TRUE;
    xf86DrvMsg(crtc->scrn->scrnIndex, X_ERROR, "drmModeSetCrtc failed: %s\n", strerror(errno));
    return FALSE;
}

Bool
qelCrtcSetModeMajor(xf86CrtcPtr crtc, DisplayModePtr mode, Rotation rotation, int x, int y)
{
    qelCrtcPriv *crtcPriv = crtc->driver_private;
    qelKms *kms = crtcPriv->kms;
    qelScanout scanout;
    uint32_t *ids;
    int count;
    Bool shown;

    if (!kms->scanout->begin(kms->scanoutData, crtcPriv->crtcId, mode->HDisplay,
                             mode->VDisplay, x, y, &scanout))
        return FALSE;
    ids = qelCrtcConnectorIds(crtc, &count);
    shown = ids && qelCrtcSetScanout(crtc, &scanout, mode, ids, count);
    kms->scanout->end(kms->scanoutData, crtcPriv->crtcId, shown, count > 0);
    if (shown)
        qelCrtcRecordMode(crtc, mode, rotation, x, y, count);
    if (shown && count > 0)
        qelVblankCrtcLit(crtc);
    free(ids);
    return shown;
}

Bool
qelCrtcLit(xf86CrtcPtr crtc)
{
    qelCrtcPriv *crtcPriv = crtc->driver_private;

    return crtc->enabled && crtcPriv && !crtcPriv->dpmsOff;
}

void
qelCrtcGammaSet(xf86CrtcPtr crtc, CARD16 *red, CARD16 *green, CARD16 *blue, int size)
{
    qelCrtcPriv *crtcPriv = crtc->driver_private;

    (void) drmModeCrtcSetGamma(crtcPriv->kms->fd, crtcPriv->crtcId, (uint32_t) size,
                               red, green, blue);
}

void
qelCrtcDestroy(xf86CrtcPtr crtc)
{
    free(crtc->driver_private);
    crtc->driver_private = NULL;
}

static void
qelCrtcSwitchOff(qelCrtcPriv *crtcPriv)
{
    qelKms *kms = crtcPriv->kms;

    kms->scanout->settle(kms->scanoutData, crtcPriv->crtcId);
    /* A refused disable is not reported: the state stays on, so the next
     * off request tries again. */
    if (drmModeSetCrtc(kms->fd, crtcPriv->crtcId, 0, 0, 0, NULL, 0, NULL) != 0)
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
        crtcPriv->kms->scanout->off(crtcPriv->kms->scanoutData, crtcPriv->crtcId, !crtc->enabled);
}

/* No rotation shadow: those slots stay NULL. The cursor hooks are the
 * checking ones, so that a cursor the kernel refuses falls back to the
 * software cursor instead of vanishing. */
static const xf86CrtcFuncsRec qelCrtcFuncs = {
    .dpms = qelCrtcDpms,
    .set_cursor_position = qelCursorSetPosition,
    .show_cursor_check = qelCursorShow,
    .hide_cursor = qelCursorHide,
    .load_cursor_argb_check = qelCursorLoadArgb,
    .gamma_set = qelCrtcGammaSet,
    .destroy = qelCrtcDestroy,
    .set_mode_major = qelCrtcSetModeMajor,
};


Bool
qelCrtcCreate(ScrnInfoPtr scrn, qelKms *kms, uint32_t crtcId)
{
    xf86CrtcPtr crtc = xf86CrtcCreate(scrn, &qelCrtcFuncs);
    qelCrtcPriv *crtcPriv;

    if (!crtc)
        return FALSE;
    crtcPriv = XNFcallocarray(1, sizeof(*crtcPriv));
    crtcPriv->kms = kms;
    crtcPriv->crtcId = crtcId;
    crtc->driver_private = crtcPriv;
    return TRUE;
}
