/* Arming and disarming of TearFree: the presentation record with a record
 * per CRTC, the Damage record on the screen pixmap, the watch on the DRM
 * descriptor, and the BlockHandler wrapper (which runs whenever EXA does,
 * to submit queued GE work once per main-loop pass). */
#include "tearfree/present.h"

#include <stdlib.h>

#include "ge/ge.h"

void
qelDamageDestroy(DamagePtr damage, void *closure)
{
    qelPresent *present = closure;

    (void) damage;
    present->damage = NULL;
}

static Bool
qelArmTearFree(ScreenPtr screen, ScrnInfoPtr scrn, qelScreenPriv *priv)
{
    qelPresent *present = qelPresentGet(priv, scrn->scrnIndex);

    if (!present || !qelPresentCreateCrtcs(present, XF86_CRTC_CONFIG_PTR(scrn)->num_crtc))
        return FALSE;
    present->damage = DamageCreate(NULL, qelDamageDestroy, DamageReportNone, TRUE, screen,
                                   present);
    if (!present->damage) {
        qelPresentDestroyCrtcs(priv, present);
        return FALSE;
    }
    DamageRegister(&screen->GetScreenPixmap(screen)->drawable, present->damage);
    if (SetNotifyFd(priv->fd, qelDrmEventHandler, X_NOTIFY_READ, present))
        return TRUE;
    /* The Damage layer calls qelDamageDestroy, which clears the pointer. */
    DamageDestroy(present->damage);
    qelPresentDestroyCrtcs(priv, present);
    return FALSE;
}

/* Runs before the first modes are set, so that every CRTC's first mode set
 * already chooses how the CRTC presents. */
void
qelTearFreeSetup(ScreenPtr screen)
{
    ScrnInfoPtr scrn = xf86ScreenToScrn(screen);
    qelScreenPriv *priv = qelScreenPrivFromScrn(scrn);

    if (!priv->exa)
        return;
    if (priv->tearFree && !qelArmTearFree(screen, scrn, priv)) {
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
    qelPresent *present = priv->present;

    if (!priv->exa)
        return;
    qelGeFlush(priv);

    if (priv->tearFree && present && present->crtcs) {
        qelPresentDestroyCrtcs(priv, present);
        SetNotifyFd(priv->fd, NULL, 0, NULL);
        if (present->damage)
            DamageDestroy(present->damage);
    }

    if (priv->savedBlockHandler) {
        screen->BlockHandler = priv->savedBlockHandler;
        priv->savedBlockHandler = NULL;
    }
}
