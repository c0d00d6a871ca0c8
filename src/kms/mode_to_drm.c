/* The server's mode record as the kernel's mode record. */
#include "kms/kms.h"

#include <string.h>

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
