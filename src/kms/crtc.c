/* SPDX-License-Identifier: MIT */
/* The CRTC hooks (mode set, DPMS, gamma, destruction) and the CRTC objects
 * that carry them. A mode set brings the server's rotation state to the
 * new configuration, then scans out what presentation chooses for the
 * CRTC (its own tear-free pair, the screen's buffer at the CRTC's
 * position, or its rotation shadow), driving every connector whose output
 * the server attached to this CRTC; a set that fails leaves the CRTC as it
 * was. DPMS standby and suspend switch the CRTC fully off, like off; on
 * sets the stored mode again. */
#include "kms/kms.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <X11/extensions/dpmsconst.h>
#include <randrstr.h>
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

/* What a mode set changes of the server's CRTC record. */
typedef struct qelCrtcSetting {
    DisplayModeRec mode;
    Rotation rotation;
    int x;
    int y;
} qelCrtcSetting;

/* The server's rotation layer reads the configuration from the record, so
 * it is written there first. The source may be crtc->mode itself (DPMS on,
 * AdjustFrame, resize). */
static void
qelCrtcRecordSetting(xf86CrtcPtr crtc, const DisplayModeRec *mode, Rotation rotation, int x,
                     int y)
{
    if (mode != &crtc->mode)
        crtc->mode = *mode;
    crtc->rotation = rotation;
    crtc->x = x;
    crtc->y = y;
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

/* Scans out what presentation chooses for the CRTC's recorded setting. */
static Bool
qelCrtcShow(xf86CrtcPtr crtc)
{
    qelCrtcPriv *crtcPriv = crtc->driver_private;
    qelKms *kms = crtcPriv->kms;
    DisplayModePtr mode = &crtc->mode;
    qelScanout scanout;
    uint32_t *ids;
    int count;
    Bool shown;

    if (!kms->scanout->begin(kms->scanoutData, crtcPriv->crtcId, mode->HDisplay,
                             mode->VDisplay, crtc->x, crtc->y, &scanout))
        return FALSE;
    ids = qelCrtcConnectorIds(crtc, &count);
    shown = ids && qelCrtcSetScanout(crtc, &scanout, mode, ids, count);
    kms->scanout->end(kms->scanoutData, crtcPriv->crtcId, shown, count > 0);
    if (shown && count > 0) {
        crtcPriv->dpmsOff = FALSE;
        qelVblankCrtcLit(crtc);
    }
    free(ids);
    return shown;
}

/* A set that fails leaves the CRTC showing what it showed: the server's
 * rotation state goes back to that (the shadow it still shows comes back
 * to the server) and the record to what it held. */
static Bool
qelCrtcSetSetting(xf86CrtcPtr crtc, const qelCrtcSetting *setting)
{
    qelCrtcPriv *crtcPriv = crtc->driver_private;
    qelCrtcSetting saved = { crtc->mode, crtc->rotation, crtc->x, crtc->y };
    Bool rotated, shown;

    crtcPriv->settingMode = TRUE;
    qelCrtcRecordSetting(crtc, &setting->mode, setting->rotation, setting->x, setting->y);
    rotated = qelCrtcRotate(crtc);
    shown = rotated && qelCrtcShow(crtc);
    if (shown)
        qelCrtcNoteShown(crtc);
    else if (rotated)
        qelCrtcRotateBack(crtc);
    if (!shown)
        qelCrtcRecordSetting(crtc, &saved.mode, saved.rotation, saved.x, saved.y);
    crtcPriv->settingMode = FALSE;
    return shown;
}

Bool
qelCrtcSetModeMajor(xf86CrtcPtr crtc, DisplayModePtr mode, Rotation rotation, int x, int y)
{
    qelCrtcSetting setting = { *mode, rotation, x, y };

    return qelCrtcSetSetting(crtc, &setting);
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
    qelCrtcPriv *crtcPriv = crtc->driver_private;

    if (crtcPriv)
        RRTransformFini(&crtcPriv->shown.transform);
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
    if (!crtcPriv->dpmsOff)
        return;
    crtcPriv->kms->scanout->off(crtcPriv->kms->scanoutData, crtcPriv->crtcId, !crtc->enabled);
    if (!crtc->enabled)
        qelCrtcNoteDark(crtc);
}

/* With the rotation shadow hooks the server offers every rotation and
 * reflection, and transforms. The cursor hooks are the checking ones, so
 * that a cursor the kernel refuses falls back to the software cursor
 * instead of vanishing. */
static const xf86CrtcFuncsRec qelCrtcFuncs = {
    .dpms = qelCrtcDpms,
    .set_cursor_position = qelCursorSetPosition,
    .show_cursor_check = qelCursorShow,
    .hide_cursor = qelCursorHide,
    .load_cursor_argb_check = qelCursorLoadArgb,
    .gamma_set = qelCrtcGammaSet,
    .destroy = qelCrtcDestroy,
    .set_mode_major = qelCrtcSetModeMajor,
    .shadow_allocate = qelCrtcShadowAllocate,
    .shadow_create = qelCrtcShadowCreate,
    .shadow_destroy = qelCrtcShadowDestroy,
};


Bool
qelCrtcCreate(ScrnInfoPtr scrn, qelKms *kms, uint32_t crtcId)
{
    xf86CrtcPtr crtc = xf86CrtcCreate(scrn, &qelCrtcFuncs);
    qelCrtcPriv *crtcPriv;

    if (!crtc)
        return FALSE;
    crtcPriv = XNFcallocarray(1, sizeof(*crtcPriv));
    RRTransformInit(&crtcPriv->shown.transform);
    crtcPriv->kms = kms;
    crtcPriv->crtcId = crtcId;
    crtc->driver_private = crtcPriv;
    return TRUE;
}
