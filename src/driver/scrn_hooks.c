/* SPDX-License-Identifier: MIT */
/* The hooks of the screen record that the server calls once the screen
 * runs: VT switches, mode switch, viewport panning and the size limit of
 * modes.
 *
 * LeaveVT neither switches the CRTCs off nor touches the buffers; it
 * settles pending flips, lets the GE finish all the work it was given,
 * takes the hardware cursor off the displays and gives up DRM master: the
 * next master finds the displays and the GE free. The server's cursor
 * layer shows the cursor again once EnterVT has set the modes. Hotplug
 * uevents that arrive meanwhile are let go: after EnterVT the server's
 * RandR layer detects every output again and tells clients what changed. */
#include "qel.h"

#include <randrstr.h>

Bool
qelEnterVT(ScrnInfoPtr scrn)
{
    /* Set before anything can fail: the server owns the VT again whether or
     * not master and the modes come back. */
    scrn->vtSema = TRUE;
    return qelEnterVTKms(scrn, &qelScreenPrivFromScrn(scrn)->kms);
}

void
qelLeaveVT(ScrnInfoPtr scrn)
{
    qelScreenPriv *priv = qelScreenPrivFromScrn(scrn);

    qelPresentSettleAll(priv->present);
    qelGeIdle(&priv->ge);
    qelCursorHideAll(scrn);
    qelDropMaster(&priv->kms);
    scrn->vtSema = FALSE;
}

Bool
qelSwitchMode(ScrnInfoPtr scrn, DisplayModePtr mode)
{
    return xf86SetSingleMode(scrn, mode, RR_Rotate_0);
}

/* Moves only the CRTC of the compatibility output; the others stay. */
void
qelAdjustFrame(ScrnInfoPtr scrn, int x, int y)
{
    xf86CrtcConfigPtr config = XF86_CRTC_CONFIG_PTR(scrn);
    xf86CrtcPtr crtc;

    if (config->compat_output < 0)
        return;
    crtc = config->output[config->compat_output]->crtc;
    if (!crtc || !crtc->enabled)
        return;
    (void) crtc->funcs->set_mode_major(crtc, &crtc->mode, crtc->rotation, x, y);
}

ModeStatus
qelValidMode(ScrnInfoPtr scrn, DisplayModePtr mode, Bool verbose, int flags)
{
    (void) scrn;
    (void) verbose;
    (void) flags;
    if (mode->HDisplay > QEL_MAX_DIMENSION || mode->VDisplay > QEL_MAX_DIMENSION)
        return MODE_BAD;
    return MODE_OK;
}
