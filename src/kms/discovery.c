/* Discovery of the device's CRTCs and connectors at PreInit: one server
 * CRTC per DRM CRTC and one output per connector, in the kernel's order,
 * then the server's CRTC layer picks the initial configuration. */
#include "kms/kms.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>

#include <xf86drm.h>

#define QEL_OUTPUT_NAME_SIZE 32

const xf86CrtcConfigFuncsRec qelCrtcConfigFuncs = {
    .resize = qelCrtcResize,
};

/* No rotation shadow: those slots stay NULL. The cursor hooks are the
 * checking ones, so that a cursor the kernel refuses falls back to the
 * software cursor instead of vanishing. */
const xf86CrtcFuncsRec qelCrtcFuncs = {
    .dpms = qelCrtcDpms,
    .set_cursor_position = qelCursorSetPosition,
    .show_cursor_check = qelCursorShow,
    .hide_cursor = qelCursorHide,
    .load_cursor_argb_check = qelCursorLoadArgb,
    .gamma_set = qelCrtcGammaSet,
    .destroy = qelCrtcDestroy,
    .set_mode_major = qelCrtcSetModeMajor,
};

const xf86OutputFuncsRec qelOutputFuncs = {
    .create_resources = qelOutputCreateResources,
    .dpms = qelOutputDpms,
    .mode_valid = qelOutputModeValid,
    .detect = qelOutputDetect,
    .get_modes = qelOutputGetModes,
    .set_property = qelOutputSetProperty,
    .get_property = qelOutputGetProperty,
    .destroy = qelOutputDestroy,
};

/* Every output may be driven by every DRM CRTC, whether or not the server
 * could make an object for it; a shift by 32 or more would be undefined. */
static uint32_t
qelPossibleCrtcs(int crtcCount)
{
    if (crtcCount <= 0)
        return 0;
    if (crtcCount >= 32)
        return UINT32_MAX;
    return (UINT32_C(1) << crtcCount) - 1;
}

static void
qelDiscoverCrtc(ScrnInfoPtr scrn, uint32_t crtcId)
{
    qelScreenPriv *priv = qelScreenPrivFromScrn(scrn);
    xf86CrtcPtr crtc = xf86CrtcCreate(scrn, &qelCrtcFuncs);
    qelCrtcPriv *crtcPriv;

    if (!crtc)
        return;
    crtcPriv = XNFcallocarray(1, sizeof(*crtcPriv));
    crtcPriv->screenPriv = priv;
    crtcPriv->crtcId = crtcId;
    crtc->driver_private = crtcPriv;
}

static void
qelOutputName(const drmModeConnector *connector, char *name, size_t size)
{
    const char *typeName = drmModeGetConnectorTypeName(connector->connector_type);

    snprintf(name, size, "%s-%d", typeName ? typeName : "Output",
             (int) connector->connector_type_id);
}

static void
qelDiscoverConnector(ScrnInfoPtr scrn, uint32_t connectorId, int crtcCount)
{
    qelScreenPriv *priv = qelScreenPrivFromScrn(scrn);
    drmModeConnectorPtr connector = drmModeGetConnector(priv->fd, connectorId);
    char name[QEL_OUTPUT_NAME_SIZE];
    xf86OutputPtr output;
    qelOutputPriv *outputPriv;

    if (!connector)
        return;
    qelOutputName(connector, name, sizeof(name));
    output = xf86OutputCreate(scrn, &qelOutputFuncs, name);
    if (!output) {
        drmModeFreeConnector(connector);
        return;
    }
    outputPriv = XNFcallocarray(1, sizeof(*outputPriv));
    outputPriv->screenPriv = priv;
    outputPriv->connectorId = connectorId;
    outputPriv->connector = connector;
    output->driver_private = outputPriv;
    output->possible_crtcs = qelPossibleCrtcs(crtcCount);
    output->possible_clones = 0;
    output->interlaceAllowed = FALSE;
    output->doubleScanAllowed = FALSE;
}

/* A device that reports no limit gets the driver's own. */
static int
qelMaxSize(uint32_t reported)
{
    if (reported == 0)
        return QEL_MAX_DIMENSION;
    return reported > INT_MAX ? INT_MAX : (int) reported;
}

Bool
qelPreInitKms(ScrnInfoPtr scrn)
{
    qelScreenPriv *priv = qelScreenPrivFromScrn(scrn);
    drmModeResPtr resources;

    xf86CrtcConfigInit(scrn, &qelCrtcConfigFuncs);
    resources = drmModeGetResources(priv->fd);
    if (!resources) {
        xf86DrvMsg(scrn->scrnIndex, X_ERROR, "drmModeGetResources failed: %s\n",
                   strerror(errno));
        return FALSE;
    }
    xf86CrtcSetSizeRange(scrn, 8, 8, qelMaxSize(resources->max_width),
                         qelMaxSize(resources->max_height));
    for (int i = 0; i < resources->count_crtcs; i++)
        qelDiscoverCrtc(scrn, resources->crtcs[i]);
    for (int i = 0; i < resources->count_connectors; i++)
        qelDiscoverConnector(scrn, resources->connectors[i], resources->count_crtcs);
    drmModeFreeResources(resources);
    /* The screen may grow up to the device's limits later (a display
     * plugged in beside the first one), so the server keeps that range
     * rather than capping it at the largest mode known now. */
    (void) xf86InitialConfiguration(scrn, TRUE);
    return TRUE;
}
