/* SPDX-License-Identifier: MIT */
/* A server generation of the screen. ScreenInit makes buffers, visuals, fb,
 * EXA, cursor, the CRTC layer, the watch on the DRM descriptor's events,
 * the Present hooks, the watch on hotplug uevents and the wraps of
 * CreateScreenResources and CloseScreen. At CloseScreen the hotplug watch
 * ends, the vblank waits are given up, TearFree and the GE queue are
 * settled and the hardware cursor is taken off the displays while the
 * driver is still DRM master, then the server's layers close, then the
 * driver's records and buffers go. */
#include "qel.h"

#include <fb.h>
#include <micmap.h>
#include <mipointer.h>
#include <xf86cmap.h>


/* The presentation record outlives the generation (flip events may come
 * after it); the CRTCs ask it what to scan out. Then the screen's buffer. */
static Bool
qelSetupScreenBuffer(ScrnInfoPtr scrn, qelScreenPriv *priv)
{
    qelBo *buffer;

    if (!priv->present)
        priv->present = qelPresentCreate(priv->fd, scrn->scrnIndex);
    if (!priv->present)
        return FALSE;
    priv->kms.scanout = &qelPresentScanoutFuncs;
    priv->kms.scanoutData = priv->present;
    priv->ge.scrnIndex = scrn->scrnIndex;
    priv->ge.fd = priv->fd;
    buffer = qelScreenBufferCreate(priv, scrn->virtualX, scrn->virtualY);
    if (!buffer) {
        xf86DrvMsg(scrn->scrnIndex, X_ERROR, "Failed to allocate scanout buffer\n");
        return FALSE;
    }
    qelScreenBufferInstall(scrn, priv, buffer);
    return TRUE;
}

static Bool
qelSetupVisuals(ScrnInfoPtr scrn)
{
    miClearVisualTypes();
    if (!miSetVisualTypes(scrn->depth, miGetDefaultVisualMask(scrn->depth),
                          scrn->rgbBits, scrn->defaultVisual))
        return FALSE;
    return miSetPixmapDepths();
}

/* fb picks its own colour layout; TrueColor and DirectColor visuals must
 * carry the masks the server negotiated in PreInit. */
static void
qelFixVisualMasks(ScreenPtr screen, ScrnInfoPtr scrn)
{
    for (int i = screen->numVisuals - 1; i >= 0; i--) {
        VisualPtr visual = &screen->visuals[i];

        if ((visual->class | DynamicClass) != DirectColor)
            continue;
        visual->offsetRed = scrn->offset.red;
        visual->offsetGreen = scrn->offset.green;
        visual->offsetBlue = scrn->offset.blue;
        visual->redMask = scrn->mask.red;
        visual->greenMask = scrn->mask.green;
        visual->blueMask = scrn->mask.blue;
    }
}

static Bool
qelSetupFb(ScreenPtr screen, ScrnInfoPtr scrn, qelScreenPriv *priv)
{
    /* With EXA the screen pixmap's storage comes from the driver's pixmap
     * hooks, so fb gets no pixels of its own. */
    void *pixels = priv->accel ? NULL : priv->shadow->map;

    if (!fbScreenInit(screen, pixels, scrn->virtualX, scrn->virtualY,
                      scrn->xDpi, scrn->yDpi, scrn->displayWidth,
                      scrn->bitsPerPixel))
        return FALSE;
    qelFixVisualMasks(screen, scrn);
    fbPictureInit(screen, NULL, 0);
    xf86SetBlackWhitePixels(screen);
    xf86SetBackingStore(screen);
    xf86SetSilkenMouse(screen);
    return TRUE;
}

static Bool
qelFinishScreen(ScreenPtr screen)
{
    if (!miCreateDefColormap(screen))
        return FALSE;
    if (!xf86HandleColormaps(screen, 256, 8, NULL, NULL,
                             CMAP_PALETTED_TRUECOLOR | CMAP_RELOAD_ON_MODE_SWITCH))
        return FALSE;
    xf86DPMSInit(screen, xf86DPMSSet, 0);
    return TRUE;
}

Bool
qelScreenInit(ScreenPtr screen, int argc, char **argv)
{
    ScrnInfoPtr scrn = xf86ScreenToScrn(screen);
    qelScreenPriv *priv = qelScreenPrivFromScrn(scrn);

    (void) argc;
    (void) argv;

    scrn->pScreen = screen;
    /* Only a warning: the screen comes up all the same. */
    (void) qelTakeMaster(scrn, &priv->kms, X_WARNING);
    if (!priv->accel)
        priv->tearFree = FALSE;
    if (!qelSetupScreenBuffer(scrn, priv))
        return FALSE;
    /* Flip and vblank events alike come through this one watch. */
    if (!qelKmsWatchEvents(&priv->kms))
        return FALSE;

    if (!qelSetupVisuals(scrn) || !qelSetupFb(screen, scrn, priv))
        return FALSE;
    if (priv->accel && !qelExaInit(screen, &priv->ge)) {
        xf86DrvMsg(scrn->scrnIndex, X_ERROR, "EXA initialization failed\n");
        return FALSE;
    }
    if (priv->accel)
        qelInstallRenderHooks(screen, &priv->ge);
    miDCInitialize(screen, xf86GetPointerScreenFuncs());
    qelCursorScreenInit(screen, &priv->kms);

    /* Wrapped before the CRTC layer wraps it: the CRTC layer's version is
     * entered first and calls ours from inside its own. */
    priv->savedCreateScreenResources = screen->CreateScreenResources;
    screen->CreateScreenResources = qelCreateScreenResources;

    if (!qelScreenInitKms(screen) || !qelFinishScreen(screen))
        return FALSE;
    if (!qelPresentHooksInit(screen))
        xf86DrvMsg(scrn->scrnIndex, X_WARNING,
                   "Present: the server refused the driver's vblank timing; it uses its own\n");
    scrn->vtSema = TRUE;
    priv->kms.hotplug = qelHotplugStart(scrn, priv->fd);

    /* The last wrap: our CloseScreen runs before every other layer's. */
    priv->savedCloseScreen = screen->CloseScreen;
    screen->CloseScreen = qelCloseScreen;

    if (serverGeneration == 1)
        xf86ShowUnusedOptions(scrn->scrnIndex, scrn->options);
    return TRUE;
}

Bool
qelCreateScreenResources(ScreenPtr screen)
{
    ScrnInfoPtr scrn = xf86ScreenToScrn(screen);
    qelScreenPriv *priv = qelScreenPrivFromScrn(scrn);
    Bool created;

    screen->CreateScreenResources = priv->savedCreateScreenResources;
    created = screen->CreateScreenResources(screen);
    screen->CreateScreenResources = qelCreateScreenResources;
    if (!created)
        return FALSE;

    qelTearFreeSetup(screen);
    if (!xf86SetDesiredModes(scrn))
        xf86DrvMsg(scrn->scrnIndex, X_WARNING, "Failed to set the initial mode\n");
    return TRUE;
}

Bool
qelCloseScreen(ScreenPtr screen)
{
    ScrnInfoPtr scrn = xf86ScreenToScrn(screen);
    qelScreenPriv *priv = qelScreenPrivFromScrn(scrn);
    Bool closed;

    qelHotplugStop(priv->kms.hotplug);
    priv->kms.hotplug = NULL;
    /* Nothing is delivered to the closing screen's Present any more. */
    qelVblankAbortAll(&priv->kms);
    qelTearFreeTeardown(screen);
    qelKmsUnwatchEvents(&priv->kms);
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
