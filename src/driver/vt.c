/* VT switching. LeaveVT neither switches the CRTCs off nor touches the
 * buffers or the GE queue; it only settles pending flips and gives up DRM
 * master. */
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
    qelDropMaster(scrn);
    scrn->vtSema = FALSE;
}
