/* RandR screen resize: the screen's buffer has the screen's size, so a
 * resize replaces it, repoints the screen pixmap, sets every lit CRTC again
 * (tear-free CRTCs refill their own buffers from the new one) and only then
 * destroys the old buffer. A CRTC that cannot be set on the new buffer
 * undoes the whole resize: nothing goes dark while RandR is told it
 * worked. */
#include "kms/kms.h"

#include "ge/ge.h"
#include "tearfree/tearfree.h"

static void
qelRepointScreenPixmap(ScreenPtr screen, qelScreenPriv *priv, int width, int height)
{
    PixmapPtr pixmap = screen->GetScreenPixmap(screen);
    qelPixmapPriv *pixPriv = priv->exa ? exaGetPixmapDriverPrivate(pixmap) : NULL;
    void *pixels = priv->shadow->map;

    if (pixPriv) {
        /* The EXA hook takes stride and address from the private. */
        pixPriv->bo = priv->shadow;
        pixPriv->pitch = priv->shadow->pitch;
        pixels = NULL;
    }
    screen->ModifyPixmapHeader(pixmap, width, height, -1, -1, priv->shadow->pitch, pixels);
}

/* TRUE when every lit CRTC took its mode again; each one is tried. */
static Bool
qelSetLitCrtcsAgain(ScrnInfoPtr scrn)
{
    xf86CrtcConfigPtr config = XF86_CRTC_CONFIG_PTR(scrn);
    Bool allSet = TRUE;

    /* num_crtc is read anew: a mode set may reach back into the server. */
    for (int i = 0; i < config->num_crtc; i++) {
        xf86CrtcPtr crtc = config->crtc[i];

        if (crtc->enabled &&
            !qelCrtcSetModeMajor(crtc, &crtc->mode, crtc->rotation, crtc->x, crtc->y))
            allSet = FALSE;
    }
    return allSet;
}

/* Makes buffer the screen's, at that size, and shows it on every lit
 * CRTC; FALSE when some CRTC refused it. */
static Bool
qelInstallScreenBuffer(ScrnInfoPtr scrn, qelScreenPriv *priv, qelBo *buffer, int width,
                       int height)
{
    qelBo *previous = priv->shadow;

    priv->shadow = buffer;
    qelPresentShadowReplaced(priv);
    qelGeNoteScreenPitch(scrn, priv, previous);
    scrn->virtualX = width;
    scrn->virtualY = height;
    scrn->displayWidth = buffer->pitch >> 2;
    if (scrn->pScreen)
        qelRepointScreenPixmap(scrn->pScreen, priv, width, height);
    return qelSetLitCrtcsAgain(scrn);
}

Bool
qelCrtcResize(ScrnInfoPtr scrn, int width, int height)
{
    qelScreenPriv *priv = qelScreenPrivFromScrn(scrn);
    qelBo *old = priv->shadow;
    int oldWidth = scrn->virtualX;
    int oldHeight = scrn->virtualY;
    qelBo *fresh;

    if (width == oldWidth && height == oldHeight)
        return TRUE;

    qelGeFlush(priv);
    qelPresentSettleAll(priv);
    fresh = qelBoCreateScanout(priv->fd, width, height, !priv->tearFree);
    if (!fresh)
        return FALSE;

    /* Only after every lit CRTC shows the new buffer may the old one go. */
    if (qelInstallScreenBuffer(scrn, priv, fresh, width, height)) {
        qelBoDestroy(priv->fd, old);
        return TRUE;
    }
    xf86DrvMsg(scrn->scrnIndex, X_WARNING,
               "Resize to %dx%d failed; the screen stays %dx%d\n", width, height, oldWidth,
               oldHeight);
    qelGeFlush(priv);
    qelPresentSettleAll(priv);
    (void) qelInstallScreenBuffer(scrn, priv, old, oldWidth, oldHeight);
    qelBoDestroy(priv->fd, fresh);
    return FALSE;
}
