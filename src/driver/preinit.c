/* SPDX-License-Identifier: MIT */
/* Pre-initialisation of a screen: the private record, the DRM device, the
 * pixel format, the options, the CRTCs and outputs with their modes, and
 * the sub-modules that ScreenInit needs. Nothing is shown on the device. */
#include "qel.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <xf86platformBus.h>

#include "kms/kms.h"

#define QEL_DEPTH 24
#define QEL_FB_BPP 32
#define QEL_SERVER_FD_NAME "(server fd)"

static Bool
qelPreInitAllowed(ScrnInfoPtr scrn, int flags)
{
    return scrn->numEntities == 1 && !(flags & PROBE_DETECT);
}

static qelScreenPriv *
qelPreInitPriv(ScrnInfoPtr scrn)
{
    qelScreenPriv *priv = qelScreenPrivFromScrn(scrn);

    return priv ? priv : qelScreenPrivCreate(scrn);
}

/* The platform device behind the entity, or NULL on any other bus. */
static struct xf86_platform_device *
qelPlatformDevice(EntityInfoPtr entity)
{
    if (entity->location.type != BUS_PLATFORM)
        return NULL;
    return entity->location.id.plat;
}

static const char *
qelDeviceSectionPath(EntityInfoPtr entity)
{
    const char *path;

    if (!entity->device)
        return QEL_DEFAULT_DEVICE;
    path = xf86FindOptionValue(entity->device->options, "kmsdev");
    return path ? path : QEL_DEFAULT_DEVICE;
}

/* The descriptor the server manages for the device; -1 when it has none. */
static int
qelServerFd(struct xf86_platform_device *device)
{
    if (!device || !(device->flags & XF86_PDEV_SERVER_FD) || !device->attribs)
        return -1;
    return device->attribs->fd;
}

/* The node to open when the server hands over no descriptor. A server that
 * meant to hand one over but could not still names the node for us in the
 * Device section, not in the device's attributes. */
static const char *
qelDevicePath(EntityInfoPtr entity, struct xf86_platform_device *device)
{
    if (device && !(device->flags & XF86_PDEV_SERVER_FD) && device->attribs &&
        device->attribs->path)
        return device->attribs->path;
    return qelDeviceSectionPath(entity);
}

/* What a reused record still holds from an earlier run is released before
 * it is replaced. */
static void
qelReleaseDevice(qelScreenPriv *priv)
{
    if (priv->fd >= 0 && priv->ownsFd)
        close(priv->fd);
    priv->fd = -1;
    priv->ownsFd = FALSE;
    free(priv->devicePath);
    priv->devicePath = NULL;
}

static Bool
qelOpenDevice(ScrnInfoPtr scrn, qelScreenPriv *priv, const char *path)
{
    int fd = open(path, O_RDWR | O_CLOEXEC);

    if (fd < 0) {
        xf86DrvMsg(scrn->scrnIndex, X_ERROR, "Failed to open DRM device %s: %s\n", path,
                   strerror(errno));
        return FALSE;
    }
    priv->fd = fd;
    priv->ownsFd = TRUE;
    priv->devicePath = strdup(path);
    xf86DrvMsg(scrn->scrnIndex, X_INFO, "Using DRM device %s (fd %d)\n", path, fd);
    return TRUE;
}

static Bool
qelPreInitDevice(ScrnInfoPtr scrn, qelScreenPriv *priv)
{
    struct xf86_platform_device *device = qelPlatformDevice(priv->entity);
    int serverFd = qelServerFd(device);

    qelReleaseDevice(priv);
    if (serverFd < 0)
        return qelOpenDevice(scrn, priv, qelDevicePath(priv->entity, device));
    priv->fd = serverFd;
    xf86DrvMsg(scrn->scrnIndex, X_INFO, "Using DRM device %s (fd %d)\n", QEL_SERVER_FD_NAME,
               serverFd);
    return TRUE;
}

static Bool
qelPreInitDepth(ScrnInfoPtr scrn)
{
    if (!xf86SetDepthBpp(scrn, QEL_DEPTH, QEL_DEPTH, QEL_FB_BPP,
                         Support32bppFb | SupportConvert24to32 | PreferConvert24to32))
        return FALSE;
    if (scrn->depth != QEL_DEPTH) {
        xf86DrvMsg(scrn->scrnIndex, X_ERROR, "Only depth %d is supported (requested %d)\n",
                   QEL_DEPTH, scrn->depth);
        return FALSE;
    }
    xf86PrintDepthBpp(scrn);
    return TRUE;
}

/* The options are processed on a private copy: the driver's table is
 * shared by every screen. */
static Bool
qelPreInitOptions(ScrnInfoPtr scrn, qelScreenPriv *priv)
{
    xf86CollectOptions(scrn, NULL);
    free(priv->options);
    priv->options = malloc(sizeof(qelOptions));
    if (!priv->options)
        return FALSE;
    memcpy(priv->options, qelOptions, sizeof(qelOptions));
    xf86ProcessOptions(scrn->scrnIndex, scrn->options, priv->options);
    priv->accel = xf86ReturnOptValBool(priv->options, OPTION_ACCEL, TRUE);
    priv->tearFree = xf86ReturnOptValBool(priv->options, OPTION_TEARFREE, TRUE);
    return TRUE;
}

static Bool
qelPreInitVisual(ScrnInfoPtr scrn)
{
    rgb defaultWeight = { 0, 0, 0 };
    rgb defaultMask = { 0, 0, 0 };
    Gamma defaultGamma = { 0.0, 0.0, 0.0 };

    return xf86SetWeight(scrn, defaultWeight, defaultMask) &&
           xf86SetDefaultVisual(scrn, -1) && xf86SetGamma(scrn, defaultGamma);
}

static Bool
qelPreInitModes(ScrnInfoPtr scrn, qelScreenPriv *priv)
{
    priv->kms.fd = priv->fd;
    priv->kms.ownsFd = priv->ownsFd;
    priv->kms.swCursor = xf86ReturnOptValBool(priv->options, OPTION_SW_CURSOR, FALSE);
    if (!qelPreInitKms(scrn, &priv->kms, &qelCrtcConfigFuncs))
        return FALSE;
    if (!scrn->modes) {
        xf86DrvMsg(scrn->scrnIndex, X_ERROR, "No valid modes found\n");
        return FALSE;
    }
    scrn->currentMode = scrn->modes;
    xf86SetDpi(scrn, 0, 0);
    return TRUE;
}

/* Without EXA the screen still works, unaccelerated. */
static Bool
qelLoadSubModules(ScrnInfoPtr scrn, qelScreenPriv *priv)
{
    if (!xf86LoadSubModule(scrn, "fb"))
        return FALSE;
    if (priv->accel && !xf86LoadSubModule(scrn, "exa")) {
        xf86DrvMsg(scrn->scrnIndex, X_WARNING,
                   "Could not load EXA module; disabling acceleration\n");
        priv->accel = FALSE;
    }
    return TRUE;
}

Bool
qelPreInit(ScrnInfoPtr scrn, int flags)
{
    qelScreenPriv *priv;

    if (!qelPreInitAllowed(scrn, flags))
        return FALSE;
    priv = qelPreInitPriv(scrn);
    if (!priv)
        return FALSE;
    free(priv->entity);
    priv->entity = xf86GetEntityInfo(scrn->entityList[0]);
    if (!priv->entity)
        return FALSE;
    scrn->monitor = scrn->confScreen ? scrn->confScreen->monitor : NULL;
    scrn->progClock = TRUE;
    scrn->rgbBits = 8;

    return qelPreInitDevice(scrn, priv) && qelPreInitDepth(scrn) &&
           qelPreInitOptions(scrn, priv) && qelPreInitVisual(scrn) &&
           qelPreInitModes(scrn, priv) && qelLoadSubModules(scrn, priv);
}
