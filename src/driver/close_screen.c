/* End of a server generation: TearFree and the GE queue are settled first,
 * then the server's layers close, then the driver's records and buffers go. */
#include "qel.h"

#include <stdlib.h>

#include <xf86drm.h>

#include "ge/ge.h"
#include "tearfree/tearfree.h"


Bool
qelCloseScreen(ScreenPtr screen)
{
    ScrnInfoPtr scrn = xf86ScreenToScrn(screen);
    qelScreenPriv *priv = qelScreenPrivFromScrn(scrn);
    Bool closed;

    qelTearFreeTeardown(screen);
    if (priv->ownsFd)
        drmDropMaster(priv->fd);

    screen->CreateScreenResources = priv->savedCreateScreenResources;
    screen->CloseScreen = priv->savedCloseScreen;
    closed = screen->CloseScreen(screen);
    free(priv->screenPixmapPriv);
    priv->screenPixmapPriv = NULL;

    if (priv->exa)
        qelExaFini(screen);
    qelBoDestroy(priv->fd, priv->shadow);
    priv->shadow = NULL;
    scrn->vtSema = FALSE;
    return closed;
}
