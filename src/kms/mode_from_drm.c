/* The kernel's mode record as a new server mode record. Only the driver and
 * preferred type bits carry over; the kernel's refresh rate is not used, the
 * server computes its own from the timings. */
#include "kms/kms.h"

#include <stdlib.h>
#include <string.h>

#include <xf86Modes.h>

#define QEL_KEPT_MODE_TYPES (DRM_MODE_TYPE_DRIVER | DRM_MODE_TYPE_PREFERRED)

DisplayModePtr
qelModeFromDrm(ScrnInfoPtr scrn, const drmModeModeInfo *info)
{
    DisplayModePtr mode = XNFalloc(sizeof(*mode));

    memset(mode, 0, sizeof(*mode));
    /* The kernel's name need not end within its field. */
    mode->name = strndup(info->name, sizeof(info->name));
    mode->type = info->type & QEL_KEPT_MODE_TYPES;
    mode->Clock = info->clock;
    mode->HDisplay = info->hdisplay;
    mode->HSyncStart = info->hsync_start;
    mode->HSyncEnd = info->hsync_end;
    mode->HTotal = info->htotal;
    mode->HSkew = info->hskew;
    mode->VDisplay = info->vdisplay;
    mode->VSyncStart = info->vsync_start;
    mode->VSyncEnd = info->vsync_end;
    mode->VTotal = info->vtotal;
    mode->VScan = info->vscan;
    mode->Flags = info->flags;
    xf86SetModeCrtc(mode, scrn->adjustFlags);
    /* RandR cannot publish a mode without a name: one that could not be
     * copied is named after its size. */
    if (!mode->name)
        xf86SetModeDefaultName(mode);
    return mode;
}
