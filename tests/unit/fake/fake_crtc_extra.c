/* SPDX-License-Identifier: MIT */
/* The server's CRTC-layer mode setting entry points, modelled on what the
 * real ones ask of a driver: each lit CRTC gets one set_mode_major. */
#include <xorg-server.h>
#include <xf86.h>
#include <xf86Crtc.h>

#include "fake_server.h"

#include <stdlib.h>
#include <string.h>

#include <randrstr.h>

static Bool
fakeCrtcInUse(xf86CrtcConfigPtr config, xf86CrtcPtr crtc)
{
    for (int i = 0; i < config->num_output; i++)
        if (config->output[i]->crtc == crtc)
            return TRUE;
    return FALSE;
}

/* Every enabled CRTC gets its desired mode, offset and rotation back; the
 * first refusal ends the walk with FALSE, as in the server. */
Bool
xf86SetDesiredModes(ScrnInfoPtr scrn)
{
    xf86CrtcConfigPtr config = XF86_CRTC_CONFIG_PTR(scrn);

    for (int i = 0; i < config->num_crtc; i++) {
        xf86CrtcPtr crtc = config->crtc[i];

        if (!crtc->enabled)
            continue;
        if (!crtc->funcs->set_mode_major(crtc, &crtc->desiredMode, crtc->desiredRotation,
                                         crtc->desiredX, crtc->desiredY))
            return FALSE;
    }
    return TRUE;
}

/* Every CRTC that drives an output shows the mode at the origin with the
 * given rotation. */
Bool
xf86SetSingleMode(ScrnInfoPtr scrn, DisplayModePtr mode, Rotation rotation)
{
    xf86CrtcConfigPtr config = XF86_CRTC_CONFIG_PTR(scrn);
    Bool ok = TRUE;

    for (int i = 0; i < config->num_crtc; i++) {
        xf86CrtcPtr crtc = config->crtc[i];

        if (!fakeCrtcInUse(config, crtc))
            continue;
        if (!crtc->funcs->set_mode_major(crtc, mode, rotation, 0, 0))
            ok = FALSE;
        else
            crtc->desiredMode = *mode;
    }
    return ok;
}

/* The CRTC layer's screen set-up is the server's; the unit tests only need
 * it to link and to succeed. */
Bool
xf86CrtcScreenInit(ScreenPtr screen)
{
    (void) screen;
    return TRUE;
}

/* The server's rotation layer: the unit tests set no rotation or
 * transform, which needs no shadow; a test can make it refuse. */
Bool
xf86CrtcRotate(xf86CrtcPtr crtc)
{
    (void) crtc;
    return !fakeCall("xf86CrtcRotate");
}

void
xf86RotateDestroy(xf86CrtcPtr crtc)
{
    (void) crtc;
    fakeCall("xf86RotateDestroy");
}

/* RandR's transform records, as the server keeps them: the filter's
 * parameters are the record's own copy. */
void
RRTransformInit(RRTransformPtr transform)
{
    memset(transform, 0, sizeof(*transform));
    pixman_transform_init_identity(&transform->transform);
    pixman_f_transform_init_identity(&transform->f_transform);
    pixman_f_transform_init_identity(&transform->f_inverse);
}

void
RRTransformFini(RRTransformPtr transform)
{
    free(transform->params);
    transform->params = NULL;
}

Bool
RRTransformCopy(RRTransformPtr dst, RRTransformPtr src)
{
    xFixed *params = NULL;

    if (src->nparams) {
        params = calloc((size_t) src->nparams, sizeof(*params));
        if (!params)
            return FALSE;
        memcpy(params, src->params, (size_t) src->nparams * sizeof(*params));
    }
    free(dst->params);
    *dst = *src;
    dst->params = params;
    return TRUE;
}
