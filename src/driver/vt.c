/* VT switching. LeaveVT neither switches the CRTCs off nor touches the
 * buffers or the GE queue; it only settles pending flips, takes the
 * hardware cursor off the displays and gives up DRM master. The server's
 * cursor layer shows the cursor again once EnterVT has set the modes.
 * Hotplug uevents that arrive meanwhile are let go: after EnterVT the
 * server's RandR layer detects every output again and tells clients what
 * changed. */
#include "qel.h"

#include "kms/kms.h"
#include "tearfree/tearfree.h"

Bool
qelEnterVT(ScrnInfoPtr scrn)
{
    /* Set before anything can fail: the server owns the VT again whether or
     * not master and the modes come back. */
    scrn->vtSema = TRUE;
    return qelEnterVTKms(scrn);
}

void
qelLeaveVT(ScrnInfoPtr scrn)
{
    qelPresentSettleAll(qelScreenPrivFromScrn(scrn));
    qelCursorHideAll(scrn);
    qelDropMaster(scrn);
    scrn->vtSema = FALSE;
}
