/* End of a server generation: the hotplug watch ends, TearFree and the GE
 * queue are settled and the hardware cursor is taken off the displays while
 * the driver is still DRM master, then the server's layers close, then the
 * driver's records and buffers go. */
#include "qel.h"


Bool
qelCloseScreen(ScreenPtr screen)
{
    ScrnInfoPtr scrn = xf86ScreenToScrn(screen);
    qelScreenPriv *priv = qelScreenPrivFromScrn(scrn);
    Bool closed;

    qelHotplugStop(priv->kms.hotplug);
    priv->kms.hotplug = NULL;
    qelTearFreeTeardown(screen);
    qelCursorHideAll(scrn);
    qelDropMaster(&priv->kms);

    screen->CreateScreenResources = priv->savedCreateScreenResources;
    screen->CloseScreen = priv->savedCloseScreen;
    closed = screen->CloseScreen(screen);
    qelCursorCloseScreen(screen);
    if (priv->ge.exa)
        qelExaFini(&priv->ge);
    qelScreenBufferDestroy(priv);
    scrn->vtSema = FALSE;
    return closed;
}
