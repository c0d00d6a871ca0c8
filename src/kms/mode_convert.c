/* SPDX-License-Identifier: MIT */
/* Mode records between the server and the kernel. From the kernel only the
 * driver and preferred type bits carry over, and its refresh rate is not
 * used: the server computes its own from the timings. */
#include "kms/kms.h"

#include <stdlib.h>
#include <string.h>

#include <xf86Modes.h>

void
qelModeToDrm(const DisplayModeRec *mode, drmModeModeInfo *info)
{
    memset(info, 0, sizeof(*info));
    info->clock = (uint32_t) mode->Clock;
    info->hdisplay = (uint16_t) mode->HDisplay;
    info->hsync_start = (uint16_t) mode->HSyncStart;
    info->hsync_end = (uint16_t) mode->HSyncEnd;
    info->htotal = (uint16_t) mode->HTotal;
    info->hskew = (uint16_t) mode->HSkew;
    info->vdisplay = (uint16_t) mode->VDisplay;
    info->vsync_start = (uint16_t) mode->VSyncStart;
    info->vsync_end = (uint16_t) mode->VSyncEnd;
    info->vtotal = (uint16_t) mode->VTotal;
    info->vscan = (uint16_t) mode->VScan;
    info->flags = (uint32_t) mode->Flags;
    /* The kernel's name field is fixed-size; the last byte stays NUL. */
    if (mode->name)
        strncpy(info->name, mode->name, sizeof(info->name) - 1);
}

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
