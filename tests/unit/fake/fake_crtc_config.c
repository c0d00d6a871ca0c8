/* SPDX-License-Identifier: MIT */
/* The server's RandR 1.2 CRTC layer, as far as PreInit drives it: the
 * configuration record, CRTC and output creation, and a simple model of
 * the initial configuration. */
#include "fake_server.h"
#include "fake_internal.h"

#include <stdlib.h>
#include <string.h>

#include <xf86Modes.h>

int xf86CrtcConfigPrivateIndex = -1;

void
xf86CrtcConfigInit(ScrnInfoPtr scrn, const xf86CrtcConfigFuncsRec *funcs)
{
    xf86CrtcConfigPtr config;

    fakeCall("xf86CrtcConfigInit");
    if (xf86CrtcConfigPrivateIndex == -1)
        xf86CrtcConfigPrivateIndex = 0;
    config = XNFcallocarray(1, sizeof(*config));
    config->funcs = funcs;
    config->compat_output = -1;
    scrn->privates[xf86CrtcConfigPrivateIndex].ptr = config;
}

void
xf86CrtcSetSizeRange(ScrnInfoPtr scrn, int minWidth, int minHeight, int maxWidth,
                     int maxHeight)
{
    xf86CrtcConfigPtr config = XF86_CRTC_CONFIG_PTR(scrn);

    fakeCall("xf86CrtcSetSizeRange");
    config->minWidth = minWidth;
    config->minHeight = minHeight;
    config->maxWidth = maxWidth;
    config->maxHeight = maxHeight;
}

#define FAKE_GAMMA_SIZE 256

xf86CrtcPtr
xf86CrtcCreate(ScrnInfoPtr scrn, const xf86CrtcFuncsRec *funcs)
{
    xf86CrtcConfigPtr config = XF86_CRTC_CONFIG_PTR(scrn);
    xf86CrtcPtr crtc;

    if (fakeCall("xf86CrtcCreate"))
        return NULL;
    crtc = XNFcallocarray(1, sizeof(*crtc));
    crtc->version = XF86_CRTC_VERSION;
    crtc->scrn = scrn;
    crtc->funcs = funcs;
    crtc->rotation = RR_Rotate_0;
    crtc->desiredRotation = RR_Rotate_0;
    crtc->gamma_size = FAKE_GAMMA_SIZE;
    crtc->gamma_red = XNFcallocarray(3 * FAKE_GAMMA_SIZE, sizeof(CARD16));
    crtc->gamma_green = crtc->gamma_red + FAKE_GAMMA_SIZE;
    crtc->gamma_blue = crtc->gamma_green + FAKE_GAMMA_SIZE;
    for (int i = 0; i < FAKE_GAMMA_SIZE; i++)
        crtc->gamma_red[i] = crtc->gamma_green[i] = crtc->gamma_blue[i] = i << 8;
    config->crtc = XNFreallocarray(config->crtc, config->num_crtc + 1, sizeof(crtc));
    config->crtc[config->num_crtc++] = crtc;
    return crtc;
}

xf86OutputPtr
xf86OutputCreate(ScrnInfoPtr scrn, const xf86OutputFuncsRec *funcs, const char *name)
{
    xf86CrtcConfigPtr config = XF86_CRTC_CONFIG_PTR(scrn);
    size_t length = name ? strlen(name) + 1 : 0;
    xf86OutputPtr output;

    if (fakeCall("xf86OutputCreate"))
        return NULL;
    /* One allocation for the record and its name, as in the server. */
    output = XNFcallocarray(1, sizeof(*output) + length);
    output->scrn = scrn;
    output->funcs = funcs;
    if (name) {
        output->name = (char *) (output + 1);
        strcpy(output->name, name);
    }
    output->subpixel_order = SubPixelUnknown;
    output->status = XF86OutputStatusUnknown;
    config->output = XNFreallocarray(config->output, config->num_output + 1, sizeof(output));
    config->output[config->num_output++] = output;
    return output;
}

/* Keeps the modes the output and the configuration accept, as the
 * server's output probe does before it looks at them. */
static DisplayModePtr
fakeValidateModes(xf86OutputPtr output, DisplayModePtr modes)
{
    xf86CrtcConfigPtr config = XF86_CRTC_CONFIG_PTR(output->scrn);
    DisplayModePtr kept = NULL;

    while (modes) {
        DisplayModePtr mode = modes;
        Bool ok = TRUE;

        modes = modes->next;
        mode->next = mode->prev = NULL;
        if (config->maxWidth && (mode->HDisplay > config->maxWidth ||
                                 mode->VDisplay > config->maxHeight))
            ok = FALSE;
        if ((mode->Flags & V_INTERLACE) && !output->interlaceAllowed)
            ok = FALSE;
        if ((mode->Flags & V_DBLSCAN) && !output->doubleScanAllowed)
            ok = FALSE;
        if (ok && output->funcs->mode_valid(output, mode) != MODE_OK)
            ok = FALSE;
        if (ok) {
            kept = xf86ModesAdd(kept, mode);
        } else {
            free((void *) mode->name);
            free(mode);
        }
    }
    return kept;
}

void
fakeProbeOutput(xf86OutputPtr output)
{
    fakeModeListFree(output->probed_modes);
    output->probed_modes = NULL;
    output->status = output->funcs->detect(output);
    if (output->status == XF86OutputStatusDisconnected)
        return;
    output->probed_modes = fakeValidateModes(output, output->funcs->get_modes(output));
}

static DisplayModePtr
fakePreferredMode(DisplayModePtr modes)
{
    for (DisplayModePtr mode = modes; mode; mode = mode->next)
        if (mode->type & M_T_PREFERRED)
            return mode;
    return modes;
}

/* The screen's mode list: a circular copy of the output's modes with the
 * preferred one first, as the server leaves it. */
static void
fakeSetScreenModes(ScrnInfoPtr scrn, DisplayModePtr modes)
{
    DisplayModePtr preferred = fakePreferredMode(modes);
    DisplayModePtr list = xf86DuplicateMode(preferred);

    for (DisplayModePtr mode = modes; mode; mode = mode->next)
        if (mode != preferred)
            list = xf86ModesAdd(list, xf86DuplicateMode(mode));
    for (DisplayModePtr last = list; last; last = last->next) {
        if (!last->next) {
            last->next = list;
            list->prev = last;
            break;
        }
    }
    scrn->modes = list;
    scrn->virtualX = preferred->HDisplay;
    scrn->virtualY = preferred->VDisplay;
}

static void
fakeAttachFirstCrtc(xf86CrtcConfigPtr config, xf86OutputPtr output)
{
    for (int i = 0; i < config->num_crtc && i < 32; i++) {
        if (output->possible_crtcs & (1u << i)) {
            output->crtc = config->crtc[i];
            config->crtc[i]->enabled = TRUE;
            return;
        }
    }
}

Bool
xf86InitialConfiguration(ScrnInfoPtr scrn, Bool canGrow)
{
    xf86CrtcConfigPtr config = XF86_CRTC_CONFIG_PTR(scrn);
    xf86OutputPtr chosen = NULL;

    (void) canGrow;
    fakeCall("xf86InitialConfiguration");
    for (int i = 0; i < config->num_output; i++) {
        xf86OutputPtr output = config->output[i];

        fakeProbeOutput(output);
        if (!chosen && output->probed_modes)
            chosen = output;
    }
    if (!chosen)
        return FALSE;
    fakeAttachFirstCrtc(config, chosen);
    fakeSetScreenModes(scrn, chosen->probed_modes);
    return TRUE;
}

void
fakeCrtcConfigFree(ScrnInfoPtr scrn)
{
    xf86CrtcConfigPtr config;

    if (xf86CrtcConfigPrivateIndex < 0 || !scrn->privates)
        return;
    config = XF86_CRTC_CONFIG_PTR(scrn);
    if (!config)
        return;
    for (int i = 0; i < config->num_output; i++) {
        xf86OutputPtr output = config->output[i];

        if (output->funcs->destroy)
            output->funcs->destroy(output);
        fakeModeListFree(output->probed_modes);
        free(output);
    }
    for (int i = 0; i < config->num_crtc; i++) {
        xf86CrtcPtr crtc = config->crtc[i];

        if (crtc->funcs->destroy)
            crtc->funcs->destroy(crtc);
        free(crtc->gamma_red);
        free(crtc);
    }
    free(config->output);
    free(config->crtc);
    free(config);
    scrn->privates[xf86CrtcConfigPrivateIndex].ptr = NULL;
}
