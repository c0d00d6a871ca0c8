/* SPDX-License-Identifier: MIT */
/* RandR screen resize: the screen's buffer has the screen's size, so a
 * resize replaces it, repoints the screen pixmap, sets every lit CRTC again
 * (tear-free CRTCs refill their own buffers from the new one) and only then
 * destroys the old buffer. A CRTC that cannot be set on the new buffer
 * undoes the whole resize: nothing goes dark while RandR is told it
 * worked. While the VT is away the displays are another client's: the
 * resize only replaces the buffer, and EnterVT sets the modes on it. */
#include "qel.h"

#include "ge/ge.h"
#include "kms/kms.h"
#include "tearfree/tearfree.h"

const xf86CrtcConfigFuncsRec qelCrtcConfigFuncs = {
    .resize = qelCrtcResize,
};

/* TRUE when every lit CRTC took its mode again; each one is tried. */
static Bool
qelSetLitCrtcsAgain(ScrnInfoPtr scrn)
{
    xf86CrtcConfigPtr config = XF86_CRTC_CONFIG_PTR(scrn);
    Bool allSet = TRUE;

    if (!scrn->vtSema)
        return TRUE;
    /* num_crtc is read anew: a mode set may reach back into the server. */
    for (int i = 0; i < config->num_crtc; i++) {
        xf86CrtcPtr crtc = config->crtc[i];

        if (crtc->enabled &&
            !qelCrtcSetModeMajor(crtc, &crtc->mode, crtc->rotation, crtc->x, crtc->y))
            allSet = FALSE;
    }
    return allSet;
}

/* Makes buffer the screen's and shows it on every lit CRTC; FALSE when
 * some CRTC refused it. */
static Bool
qelShowScreenBuffer(ScrnInfoPtr scrn, qelScreenPriv *priv, qelBo *buffer)
{
    qelScreenBufferInstall(scrn, priv, buffer);
    if (scrn->pScreen)
        qelScreenBufferShow(scrn->pScreen, priv);
    return qelSetLitCrtcsAgain(scrn);
}

/* Nothing queued or in flight may still name the buffers that change. */
static void
qelSettleScreen(qelScreenPriv *priv)
{
    qelGeFlush(&priv->ge);
    qelPresentSettleAll(priv->present);
}

Bool
qelCrtcResize(ScrnInfoPtr scrn, int width, int height)
{
    qelScreenPriv *priv = qelScreenPrivFromScrn(scrn);
    qelBo *old = priv->shadow;
    qelBo *fresh;

    if (width == scrn->virtualX && height == scrn->virtualY)
        return TRUE;

    qelSettleScreen(priv);
    fresh = qelScreenBufferCreate(priv, width, height);
    if (!fresh)
        return FALSE;

    /* Only after every lit CRTC shows the new buffer may the old one go. */
    if (qelShowScreenBuffer(scrn, priv, fresh)) {
        qelScreenBufferDiscard(priv, old);
        return TRUE;
    }
    xf86DrvMsg(scrn->scrnIndex, X_WARNING,
               "Resize to %dx%d failed; the screen stays %dx%d\n", width, height, old->width,
               old->height);
    qelSettleScreen(priv);
    (void) qelShowScreenBuffer(scrn, priv, old);
    qelScreenBufferDiscard(priv, fresh);
    return FALSE;
}
