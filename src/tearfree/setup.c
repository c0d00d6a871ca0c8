/* Arming and disarming of TearFree: the Damage record on the screen pixmap,
 * the watch on the DRM descriptor, and the BlockHandler wrapper (which runs
 * whenever EXA does, to submit queued GE work once per main-loop pass). */
#include "tearfree/tearfree.h"

#include "ge/ge.h"

void
qelDamageDestroy(DamagePtr damage, void *closure)
{
    qelScreenPriv *priv = closure;

    (void) damage;
    priv->damage = NULL;
}

/* Without TearFree nothing would copy the shadow to the screen any more:
 * the screen pixmap moves onto the primary scanout buffer, keeping what was
 * drawn, and the two TearFree-only buffers go. */
static void
qelLeaveTearFreeBuffers(ScreenPtr screen, qelScreenPriv *priv)
{
    PixmapPtr pixmap = screen->GetScreenPixmap(screen);
    qelPixmapPriv *pixPriv = exaGetPixmapDriverPrivate(pixmap);
    qelBo *scanout = priv->scanout[0];
    qelBo *drawn = pixPriv ? pixPriv->bo : NULL;

    if (priv->shadow == scanout)
        return;

    if (drawn && drawn != scanout) {
        qelGeCopyBox(priv, drawn, scanout, 0, 0, scanout->width, scanout->height);
        qelGeWaitBo(priv, scanout);
    }
    if (pixPriv) {
        if (drawn && !qelIsScreenBo(priv, drawn))
            qelBoDestroy(priv->fd, drawn);
        pixPriv->bo = scanout;
        pixPriv->pitch = scanout->pitch;
    }
    screen->ModifyPixmapHeader(pixmap, -1, -1, -1, -1, scanout->pitch,
                               pixPriv ? NULL : scanout->map);

    qelBoDestroy(priv->fd, priv->scanout[1]);
    qelBoDestroy(priv->fd, priv->shadow);
    priv->scanout[1] = NULL;
    priv->shadow = scanout;
    priv->frontIndex = 0;
}

static void
qelTearFreeSetupFailed(ScreenPtr screen, ScrnInfoPtr scrn, qelScreenPriv *priv)
{
    xf86DrvMsg(scrn->scrnIndex, X_WARNING, "TearFree setup failed; running without it\n");
    priv->tearFree = FALSE;
    qelLeaveTearFreeBuffers(screen, priv);
}

static void
qelArmTearFree(ScreenPtr screen, ScrnInfoPtr scrn, qelScreenPriv *priv)
{
    RegionNull(&priv->pendingRegion);
    /* A descriptor that outlives a regeneration may still hold the event of
     * a flip the last generation settled without it. */
    qelDiscardFlipEvents(priv);

    priv->damage = DamageCreate(NULL, qelDamageDestroy, DamageReportNone, TRUE,
                                screen, priv);
    if (!priv->damage) {
        qelTearFreeSetupFailed(screen, scrn, priv);
        return;
    }
    DamageRegister(&screen->GetScreenPixmap(screen)->drawable, priv->damage);

    if (!SetNotifyFd(priv->fd, qelDrmEventHandler, X_NOTIFY_READ, priv)) {
        /* The Damage layer calls qelDamageDestroy, which clears the pointer. */
        DamageDestroy(priv->damage);
        qelTearFreeSetupFailed(screen, scrn, priv);
    }
}

void
qelTearFreeSetup(ScreenPtr screen)
{
    ScrnInfoPtr scrn = xf86ScreenToScrn(screen);
    qelScreenPriv *priv = qelScreenPrivFromScrn(scrn);

    if (!priv->exa)
        return;
    if (priv->tearFree)
        qelArmTearFree(screen, scrn, priv);

    priv->savedBlockHandler = screen->BlockHandler;
    screen->BlockHandler = qelBlockHandler;
}

void
qelTearFreeTeardown(ScreenPtr screen)
{
    qelScreenPriv *priv = qelScreenPrivFromScreen(screen);

    if (!priv->exa)
        return;
    qelGeFlush(priv);

    if (priv->tearFree) {
        qelResolvePendingFlip(priv);
        SetNotifyFd(priv->fd, NULL, 0, NULL);
        if (priv->damage)
            DamageDestroy(priv->damage);
        RegionUninit(&priv->pendingRegion);
        priv->pendingRegion.data = NULL;
    }

    if (priv->savedBlockHandler) {
        screen->BlockHandler = priv->savedBlockHandler;
        priv->savedBlockHandler = NULL;
    }
}
