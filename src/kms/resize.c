/* RandR screen resize: the screen's buffers have the screen's size, so a
 * resize replaces them all, repoints the screen pixmap, sets every lit CRTC
 * again and only then destroys the old buffers. */
#include "kms/kms.h"

#include "ge/ge.h"
#include "tearfree/tearfree.h"

typedef struct {
    qelBo *scanout[2];
    qelBo *shadow;
} qelScreenBuffers;

/* Creates the buffers of one arrangement; on failure releases whatever was
 * created and returns FALSE. */
static Bool
qelCreateScreenBuffers(qelScreenPriv *priv, int width, int height, qelScreenBuffers *out)
{
    out->scanout[0] = qelBoCreateScanout(priv->fd, width, height, TRUE);
    out->scanout[1] = NULL;
    out->shadow = out->scanout[0];
    if (!out->scanout[0])
        return FALSE;
    if (!priv->tearFree)
        return TRUE;

    out->scanout[1] = qelBoCreateScanout(priv->fd, width, height, TRUE);
    out->shadow = qelBoCreateScanout(priv->fd, width, height, FALSE);
    if (out->scanout[1] && out->shadow)
        return TRUE;

    qelBoDestroy(priv->fd, out->scanout[0]);
    qelBoDestroy(priv->fd, out->scanout[1]);
    qelBoDestroy(priv->fd, out->shadow);
    return FALSE;
}

static void
qelInstallScreenBuffers(qelScreenPriv *priv, const qelScreenBuffers *buffers)
{
    priv->shadow = buffers->shadow;
    priv->scanout[1] = buffers->scanout[1];
    priv->frontIndex = 0;
    priv->scanout[0] = buffers->scanout[0];
    if (priv->tearFree)
        RegionEmpty(&priv->pendingRegion);
}

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
    qelScreenBuffers old = {{priv->scanout[0], priv->scanout[1]}, priv->shadow};
    qelScreenBuffers fresh;

    if (width == scrn->virtualX && height == scrn->virtualY)
        return TRUE;

    qelGeFlush(priv);
    if (priv->tearFree)
        qelResolvePendingFlip(priv);
    if (!qelCreateScreenBuffers(priv, width, height, &fresh))
        return FALSE;
    qelInstallScreenBuffers(priv, &fresh);

    scrn->virtualX = width;
    scrn->virtualY = height;
    scrn->displayWidth = priv->scanout[0]->pitch >> 2;
    if (scrn->pScreen)
        qelRepointScreenPixmap(scrn->pScreen, priv, width, height);

    /* Only after every lit CRTC shows the new buffer may the old
     * framebuffers go. */
    qelSetLitCrtcsAgain(scrn);
    qelBoDestroyScreenSet(priv->fd, old.scanout[0], old.scanout[1], old.shadow);
    return TRUE;
}
