/* SPDX-License-Identifier: MIT */
/* Creation and release of the per-screen record. */
#include "qel.h"

#include <unistd.h>

qelScreenPriv *
qelScreenPrivCreate(ScrnInfoPtr scrn)
{
    qelScreenPriv *priv = XNFcallocarray(1, sizeof(*priv));

    if (!priv)
        return NULL;
    priv->scrnIndex = scrn->scrnIndex;
    priv->fd = -1;
    scrn->driverPrivate = priv;
    return priv;
}

void
qelFreeScreen(ScrnInfoPtr scrn)
{
    qelScreenPriv *priv = qelScreenPrivFromScrn(scrn);

    if (!priv)
        return;
    /* A descriptor the server handed over stays the server's. */
    if (priv->fd >= 0 && priv->ownsFd)
        close(priv->fd);
    /* The server hands out a fresh entity record on every query. */
    free(priv->entity);
    free(priv->devicePath);
    free(priv->options);
    qelPresentFree(priv->present);
    qelVblankFree(&priv->kms);
    free(priv);
    scrn->driverPrivate = NULL;
}
