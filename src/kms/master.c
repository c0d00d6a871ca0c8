/* SPDX-License-Identifier: MIT */
/* DRM master and the hand-over of the screen to the server's CRTC layer.
 * Master is taken and dropped only on a descriptor the driver opened; one
 * that the server manages is never used for master calls. */
#include "kms/kms.h"

#include <errno.h>
#include <string.h>

#include <xf86drm.h>

Bool
qelTakeMaster(ScrnInfoPtr scrn, const qelKms *kms, MessageType level)
{
    if (!kms->ownsFd || drmSetMaster(kms->fd) == 0)
        return TRUE;
    xf86DrvMsg(scrn->scrnIndex, level, "drmSetMaster failed: %s\n", strerror(errno));
    return FALSE;
}

Bool
qelEnterVTKms(ScrnInfoPtr scrn, const qelKms *kms)
{
    return qelTakeMaster(scrn, kms, X_ERROR) && xf86SetDesiredModes(scrn);
}

void
qelDropMaster(const qelKms *kms)
{
    if (kms->ownsFd)
        (void) drmDropMaster(kms->fd);
}

Bool
qelScreenInitKms(ScreenPtr screen)
{
    return xf86CrtcScreenInit(screen);
}
