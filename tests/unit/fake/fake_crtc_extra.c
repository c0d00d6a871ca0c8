/* SPDX-License-Identifier: MIT */
/* The server's CRTC-layer mode setting entry points, modelled on what the
 * real ones ask of a driver: each lit CRTC gets one set_mode_major. */
#include <xorg-server.h>
#include <xf86.h>
#include <xf86Crtc.h>

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
