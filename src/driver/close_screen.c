/* End of a server generation: the hotplug watch ends, TearFree and the GE
 * queue are settled and the hardware cursor is taken off the displays while
 * the driver is still DRM master, then the server's layers close, then the
 * driver's records and buffers go. */
#include "qel.h"

#include <stdlib.h>

#include <xf86drm.h>

#include "ge/ge.h"
#include "kms/kms.h"
#include "tearfree/tearfree.h"


Bool
qelCloseScreen(ScreenPtr screen)
{
    ScrnInfoPtr scrn = xf86ScreenToScrn(screen);
    qelScreenPriv *priv = qelScreenPrivFromScrn(scrn);
    Bool closed;

    qelHotplugStop(priv->hotplug);
    priv->hotplug = NULL;
    qelTearFreeTeardown(screen);
    qelCursorHideAll(scrn);
    if (priv->ownsFd)
        drmDropMaster(priv->fd);

    screen->CreateScreenResources = priv->savedCreateScreenResources;
    screen->CloseScreen = priv->savedCloseScreen;
    closed = screen->CloseScreen(screen);
    qelCursorCloseScreen(screen);
    free(priv->screenPixmapPriv);
    priv->screenPixmapPriv = NULL;

    if (priv->exa)
        qelExaFini(screen);
    qelBoDestroy(priv->fd, priv->shadow);
    priv->shadow = NULL;
    scrn->vtSema = FALSE;
    return closed;
}
