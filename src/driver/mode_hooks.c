/* The mode hooks of the screen record: mode switch, viewport panning and
 * the size limit of modes. */
#include "qel.h"

#include <randrstr.h>

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
