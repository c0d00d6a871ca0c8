/* SPDX-License-Identifier: MIT */
/* The output hooks: validation, detection, the mode list with its fallback
 * mode, DPMS and destruction. The connector record fetched from the kernel
 * is the only source of what an output offers; no EDID is read. */
#include "kms/kms.h"

#include <stdio.h>
#include <stdlib.h>

#include <xf86Modes.h>

#define QEL_OUTPUT_NAME_SIZE 32
#define QEL_FALLBACK_WIDTH 800
#define QEL_FALLBACK_HEIGHT 480
#define QEL_FALLBACK_REFRESH 60.0f

static ScrnInfoPtr
qelOutputScrn(xf86OutputPtr output)
{
    return output->scrn;
}

int
qelOutputModeValid(xf86OutputPtr output, DisplayModePtr mode)
{
    (void) output;
    if (mode->HDisplay > QEL_MAX_DIMENSION || mode->VDisplay > QEL_MAX_DIMENSION)
        return MODE_BAD;
    return MODE_OK;
}

/* Only a connector the kernel knows to be disconnected is reported so; an
 * unknown state may still drive a panel. */
static xf86OutputStatus
qelConnectorStatus(const drmModeConnector *connector)
{
    if (connector && connector->connection == DRM_MODE_DISCONNECTED)
        return XF86OutputStatusDisconnected;
    return XF86OutputStatusConnected;
}

/* A connector that cannot be fetched again keeps its last known state and
 * modes: a transient failure neither makes an output vanish nor lights one
 * that was known to be disconnected. */
xf86OutputStatus
qelOutputDetect(xf86OutputPtr output)
{
    qelOutputPriv *outputPriv = output->driver_private;
    drmModeConnectorPtr connector =
        drmModeGetConnector(outputPriv->kms->fd, outputPriv->connectorId);

    if (connector) {
        drmModeFreeConnector(outputPriv->connector);
        outputPriv->connector = connector;
    }
    return qelConnectorStatus(outputPriv->connector);
}

static drmModeConnectorPtr
qelOutputConnector(qelOutputPriv *outputPriv)
{
    if (!outputPriv->connector)
        outputPriv->connector =
            drmModeGetConnector(outputPriv->kms->fd, outputPriv->connectorId);
    return outputPriv->connector;
}

/* A panel that lists no modes still gets one it can show. */
static DisplayModePtr
qelFallbackMode(void)
{
    DisplayModePtr mode = xf86CVTMode(QEL_FALLBACK_WIDTH, QEL_FALLBACK_HEIGHT,
                                      QEL_FALLBACK_REFRESH, FALSE, FALSE);

    if (!mode)
        return NULL;
    /* The server's CVT generator leaves the mode unnamed, and RandR cannot
     * publish a mode without a name. */
    if (!mode->name)
        xf86SetModeDefaultName(mode);
    mode->type = M_T_DRIVER | M_T_PREFERRED;
    return xf86ModesAdd(NULL, mode);
}

DisplayModePtr
qelOutputGetModes(xf86OutputPtr output)
{
    qelOutputPriv *outputPriv = output->driver_private;
    drmModeConnectorPtr connector = qelOutputConnector(outputPriv);
    DisplayModePtr modes = NULL;

    if (!connector)
        return NULL;
    output->mm_width = connector->mmWidth;
    output->mm_height = connector->mmHeight;
    for (int i = 0; i < connector->count_modes; i++)
        modes = xf86ModesAdd(modes, qelModeFromDrm(qelOutputScrn(output), &connector->modes[i]));
    if (modes)
        return modes;
    return qelFallbackMode();
}

void
qelOutputDpms(xf86OutputPtr output, int mode)
{
    qelCrtcDpms(output->crtc, mode);
}

void
qelOutputDestroy(xf86OutputPtr output)
{
    qelOutputPriv *outputPriv = output->driver_private;

    if (outputPriv) {
        drmModeFreeConnector(outputPriv->connector);
        free(outputPriv);
    }
    output->driver_private = NULL;
}

static const xf86OutputFuncsRec qelOutputFuncs = {
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
qelOutputName(const drmModeConnector *connector, char *name, size_t size)
{
    const char *typeName = drmModeGetConnectorTypeName(connector->connector_type);

    snprintf(name, size, "%s-%d", typeName ? typeName : "Output",
             (int) connector->connector_type_id);
}

Bool
qelOutputCreate(ScrnInfoPtr scrn, qelKms *kms, uint32_t connectorId, int crtcCount)
{
    drmModeConnectorPtr connector = drmModeGetConnector(kms->fd, connectorId);
    char name[QEL_OUTPUT_NAME_SIZE];
    xf86OutputPtr output;
    qelOutputPriv *outputPriv;

    if (!connector)
        return FALSE;
    qelOutputName(connector, name, sizeof(name));
    output = xf86OutputCreate(scrn, &qelOutputFuncs, name);
    if (!output) {
        drmModeFreeConnector(connector);
        return FALSE;
    }
    outputPriv = XNFcallocarray(1, sizeof(*outputPriv));
    outputPriv->kms = kms;
    outputPriv->connectorId = connectorId;
    outputPriv->connector = connector;
    output->driver_private = outputPriv;
    output->possible_crtcs = qelPossibleCrtcs(crtcCount);
    output->possible_clones = 0;
    output->interlaceAllowed = FALSE;
    output->doubleScanAllowed = FALSE;
    return TRUE;
}

