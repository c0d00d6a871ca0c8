/* SPDX-License-Identifier: MIT */
/* Rotation, reflection and transforms of a CRTC, through the server's CRTC
 * layer: xf86CrtcRotate computes the transform from the CRTC's mode,
 * offset, rotation and RandR transform, and makes the CRTC's rotation
 * shadow through the hooks here when the CRTC shows anything but an
 * untransformed rectangle of the screen; the server then draws the CRTC's
 * image into the shadow before every main-loop pass. What the shadows are,
 * and how the CRTC shows them, is the presentation's (qelScanoutFuncs). */
#include "kms/kms.h"

#include <randrstr.h>

void *
qelCrtcShadowAllocate(xf86CrtcPtr crtc, int width, int height)
{
    qelCrtcPriv *crtcPriv = crtc->driver_private;
    qelKms *kms = crtcPriv->kms;

    return kms->scanout->shadowAllocate(kms->scanoutData, crtcPriv->crtcId, width, height);
}

PixmapPtr
qelCrtcShadowCreate(xf86CrtcPtr crtc, void *data, int width, int height)
{
    qelCrtcPriv *crtcPriv = crtc->driver_private;
    qelKms *kms = crtcPriv->kms;

    return kms->scanout->shadowCreate(kms->scanoutData, crtc->scrn->pScreen, crtcPriv->crtcId,
                                      data, width, height);
}

/* The presentation keeps one shadow per CRTC, so the pixmap and data the
 * server hands back name nothing it does not know already. */
void
qelCrtcShadowDestroy(xf86CrtcPtr crtc, PixmapPtr pixmap, void *data)
{
    qelCrtcPriv *crtcPriv = crtc->driver_private;
    qelKms *kms = crtcPriv->kms;

    (void) pixmap;
    (void) data;
    kms->scanout->shadowDestroy(kms->scanoutData, crtcPriv->crtcId, crtcPriv->settingMode);
}

Bool
qelCrtcRotate(xf86CrtcPtr crtc)
{
    qelCrtcPriv *crtcPriv = crtc->driver_private;

    if (xf86CrtcRotate(crtc))
        return TRUE;
    xf86DrvMsg(crtc->scrn->scrnIndex, X_WARNING,
               "CRTC %u: no %dx%d shadow buffer for its rotation or transform; it keeps its "
               "configuration\n", crtcPriv->crtcId, crtc->mode.HDisplay, crtc->mode.VDisplay);
    return FALSE;
}

static void
qelCrtcConfigCopy(qelCrtcConfig *config, const xf86CrtcRec *crtc)
{
    config->mode = crtc->mode;
    config->rotation = crtc->rotation;
    config->x = crtc->x;
    config->y = crtc->y;
    config->transformPresent = crtc->transformPresent;
    if (!crtc->transformPresent || !RRTransformCopy(&config->transform,
                                                    (RRTransformPtr) &crtc->transform))
        config->transformPresent = FALSE;
}

void
qelCrtcNoteShown(xf86CrtcPtr crtc)
{
    qelCrtcPriv *crtcPriv = crtc->driver_private;

    qelCrtcConfigCopy(&crtcPriv->shown, crtc);
    crtcPriv->shownValid = TRUE;
}

void
qelCrtcNoteDark(xf86CrtcPtr crtc)
{
    qelCrtcPriv *crtcPriv = crtc->driver_private;

    crtcPriv->shownValid = FALSE;
}

/* The server keeps the configuration before a set only to put the record
 * back, not its rotation state: that follows the record here. A CRTC that
 * showed nothing needs no rotation state at all. */
void
qelCrtcRotateBack(xf86CrtcPtr crtc)
{
    qelCrtcPriv *crtcPriv = crtc->driver_private;
    const qelCrtcConfig *shown = &crtcPriv->shown;

    if (!crtcPriv->shownValid) {
        xf86RotateDestroy(crtc);
        crtc->transform_in_use = FALSE;
        return;
    }
    crtc->mode = shown->mode;
    crtc->rotation = shown->rotation;
    crtc->x = shown->x;
    crtc->y = shown->y;
    crtc->transformPresent =
        shown->transformPresent &&
        RRTransformCopy(&crtc->transform, (RRTransformPtr) &shown->transform);
    (void) xf86CrtcRotate(crtc);
}
