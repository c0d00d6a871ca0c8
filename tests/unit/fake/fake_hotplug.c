/* SPDX-License-Identifier: MIT */
/* What output hotplug calls in the server: the main loop's general
 * handlers and RandR's probe of every output. */
#include "fake_server.h"
#include "fake_internal.h"

#include <stdlib.h>

void *
xf86AddGeneralHandler(int fd, InputHandlerProc proc, void *data)
{
    int *handler;

    (void) proc;
    (void) data;
    if (fakeCall("xf86AddGeneralHandler"))
        return NULL;
    handler = malloc(sizeof(*handler));
    *handler = fd;
    return handler;
}

int
xf86RemoveGeneralHandler(void *handler)
{
    int fd = handler ? *(int *) handler : -1;

    fakeCall("xf86RemoveGeneralHandler");
    free(handler);
    return fd;
}

/* As the server's RandR 1.2 layer answers it: every output is probed, but
 * only while the server owns the VT. */
Bool
RRGetInfo(ScreenPtr screen, Bool forceQuery)
{
    ScrnInfoPtr scrn = xf86ScreenToScrn(screen);
    xf86CrtcConfigPtr config = XF86_CRTC_CONFIG_PTR(scrn);

    (void) forceQuery;
    fakeCall("RRGetInfo");
    for (int i = 0; scrn->vtSema && i < config->num_output; i++)
        fakeProbeOutput(config->output[i]);
    return TRUE;
}
