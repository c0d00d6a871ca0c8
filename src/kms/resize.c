/* RandR screen resize: the screen's buffer has the screen's size, so a
 * resize replaces it, repoints the screen pixmap, sets every lit CRTC again
 * (tear-free CRTCs refill their own buffers from the new one) and only then
 * destroys the old buffer. */
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

static void
qelSetLitCrtcsAgain(ScrnInfoPtr scrn)
{
    xf86CrtcConfigPtr config = XF86_CRTC_CONFIG_PTR(scrn);

    /* num_crtc is read anew: a mode set may reach back into the server. */
    for (int i = 0; i < config->num_crtc; i++) {
        xf86CrtcPtr crtc = config->crtc[i];

        if (crtc->enabled)
            qelCrtcSetModeMajor(crtc, &crtc->mode, crtc->rotation, crtc->x, crtc->y);
    }
}

Bool
qelCrtcResize(ScrnInfoPtr scrn, int width, int height)
{
    qelScreenPriv *priv = qelScreenPrivFromScrn(scrn);
    qelBo *old = priv->shadow;
    qelBo *fresh;

    if (width == scrn->virtualX && height == scrn->virtualY)
        return TRUE;

    qelGeFlush(priv);
    qelPresentSettleAll(priv);
    fresh = qelBoCreateScanout(priv->fd, width, height, !priv->tearFree);
    if (!fresh)
        return FALSE;
    priv->shadow = fresh;
    qelPresentShadowReplaced(priv);
    qelGeNoteScreenPitch(scrn, priv, old);

    scrn->virtualX = width;
    scrn->virtualY = height;
    scrn->displayWidth = fresh->pitch >> 2;
    if (scrn->pScreen)
        qelRepointScreenPixmap(scrn->pScreen, priv, width, height);

    /* Only after every lit CRTC shows the new buffer may the old
     * framebuffer go. */
    qelSetLitCrtcsAgain(scrn);
    qelBoDestroy(priv->fd, old);
    return TRUE;
}
