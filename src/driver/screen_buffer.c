/* SPDX-License-Identifier: MIT */
/* The screen's buffer, behind the screen pixmap: made at ScreenInit,
 * replaced at resize and destroyed at CloseScreen, here only. Without
 * TearFree the CRTCs scan it out, so it gets its framebuffer at once; with
 * TearFree the CRTCs are fed from it and it gets one only if some CRTC
 * must show it itself. A buffer that cannot be made changes nothing: the
 * caller says what that means. */
#include "qel.h"

#include "ge/ge.h"
#include "tearfree/tearfree.h"

qelBo *
qelScreenBufferCreate(qelScreenPriv *priv, int width, int height)
{
    return qelBoCreateScanout(priv->fd, width, height, !priv->tearFree);
}

void
qelScreenBufferInstall(ScrnInfoPtr scrn, qelScreenPriv *priv, qelBo *buffer)
{
    qelBo *previous = priv->shadow;

    priv->shadow = buffer;
    priv->ge.screenBo = buffer;
    qelPresentSetScreenBuffer(priv->present, buffer);
    if (priv->accel)
        qelGeNoteScreenPitch(&priv->ge, previous, priv->tearFree);
    scrn->virtualX = buffer->width;
    scrn->virtualY = buffer->height;
    scrn->displayWidth = (int) (buffer->pitch / 4);
}

/* The screen pixmap's storage is the buffer. */
void
qelScreenBufferShow(ScreenPtr screen, qelScreenPriv *priv)
{
    (void) qelPixmapBorrowBo(priv->ge.exa ? &priv->ge : NULL, screen->GetScreenPixmap(screen),
                             priv->shadow);
}

/* For a buffer that is not, or no longer, the screen's: the one a resize
 * replaced, or the new one of a resize that failed. */
void
qelScreenBufferDiscard(qelScreenPriv *priv, qelBo *buffer)
{
    if (priv->accel)
        qelGeForgetBo(&priv->ge, buffer);
    qelBoDestroy(priv->fd, buffer);
}

void
qelScreenBufferDestroy(qelScreenPriv *priv)
{
    qelScreenBufferDiscard(priv, priv->shadow);
    priv->shadow = NULL;
    priv->ge.screenBo = NULL;
    qelPresentSetScreenBuffer(priv->present, NULL);
}
