/* SPDX-License-Identifier: MIT */
/* The screen's presentation over one server generation. TearFree is armed
 * at the start of CreateScreenResources, before the first modes are set,
 * so that every CRTC's first mode set already chooses how the CRTC
 * presents. The BlockHandler wrapper runs whenever EXA does: once per
 * main-loop pass it runs the flip cycle (while the server owns the VT) and
 * submits what EXA queued, before the server sleeps. */
#include "qel.h"

#include "ge/ge.h"
#include "tearfree/tearfree.h"

void
qelBlockHandler(ScreenPtr screen, void *timeout)
{
    ScrnInfoPtr scrn = xf86ScreenToScrn(screen);
    qelScreenPriv *priv = qelScreenPrivFromScrn(scrn);

    screen->BlockHandler = priv->savedBlockHandler;
    screen->BlockHandler(screen, timeout);
    /* A layer below may have wrapped BlockHandler again while it ran. */
    priv->savedBlockHandler = screen->BlockHandler;
    screen->BlockHandler = qelBlockHandler;

    if (scrn->vtSema)
        qelPresentPass(priv->present);
    qelGeFlush(&priv->ge);
    qelGeTrimCaches(&priv->ge);
}

void
qelTearFreeSetup(ScreenPtr screen)
{
    ScrnInfoPtr scrn = xf86ScreenToScrn(screen);
    qelScreenPriv *priv = qelScreenPrivFromScrn(scrn);

    if (!priv->ge.exa)
        return;
    qelPresentSetGe(priv->present, &priv->ge);
    if (priv->tearFree && !qelTearFreeArm(priv->present, screen, &priv->ge,
                                          XF86_CRTC_CONFIG_PTR(scrn)->num_crtc)) {
        xf86DrvMsg(scrn->scrnIndex, X_WARNING, "TearFree setup failed; running without it\n");
        priv->tearFree = FALSE;
    }
    priv->savedBlockHandler = screen->BlockHandler;
    screen->BlockHandler = qelBlockHandler;
}

void
qelTearFreeTeardown(ScreenPtr screen)
{
    qelScreenPriv *priv = qelScreenPrivFromScreen(screen);

    if (!priv->ge.exa)
        return;
    qelGeFlush(&priv->ge);
    qelTearFreeDisarm(priv->present);
    qelPresentCloseShadows(priv->present);
    if (priv->savedBlockHandler) {
        screen->BlockHandler = priv->savedBlockHandler;
        priv->savedBlockHandler = NULL;
    }
}
