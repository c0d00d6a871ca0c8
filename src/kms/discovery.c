/* SPDX-License-Identifier: MIT */
/* Discovery of the device's CRTCs and connectors at PreInit: one server
 * CRTC per DRM CRTC and one output per connector, in the kernel's order,
 * then the server's CRTC layer picks the initial configuration. */
#include "kms/kms.h"

#include <errno.h>
#include <limits.h>
#include <string.h>

#include <xf86drm.h>

/* A device that reports no limit gets the driver's own. */
static int
qelMaxSize(uint32_t reported)
{
    if (reported == 0)
        return QEL_MAX_DIMENSION;
    return reported > INT_MAX ? INT_MAX : (int) reported;
}

Bool
qelPreInitKms(ScrnInfoPtr scrn, qelKms *kms, const xf86CrtcConfigFuncsRec *configFuncs)
{
    drmModeResPtr resources;

    xf86CrtcConfigInit(scrn, configFuncs);
    resources = drmModeGetResources(kms->fd);
    if (!resources) {
        xf86DrvMsg(scrn->scrnIndex, X_ERROR, "drmModeGetResources failed: %s\n",
                   strerror(errno));
        return FALSE;
    }
    xf86CrtcSetSizeRange(scrn, 8, 8, qelMaxSize(resources->max_width),
                         qelMaxSize(resources->max_height));
    /* An object the server cannot make is left out; the others work. */
    for (int i = 0; i < resources->count_crtcs; i++)
        (void) qelCrtcCreate(scrn, kms, resources->crtcs[i]);
    for (int i = 0; i < resources->count_connectors; i++)
        (void) qelOutputCreate(scrn, kms, resources->connectors[i], resources->count_crtcs);
    drmModeFreeResources(resources);
    /* The screen may grow up to the device's limits later (a display
     * plugged in beside the first one), so the server keeps that range
     * rather than capping it at the largest mode known now. */
    (void) xf86InitialConfiguration(scrn, TRUE);
    return TRUE;
}
