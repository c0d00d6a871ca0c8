/* SPDX-License-Identifier: MIT */
/* The server's CRTC cursor layer, as far as the driver's screen code calls
 * it: set-up keeps a cursor record of the requested size, hiding takes the
 * cursor off every enabled CRTC through its hook, and the end frees the
 * record, as in the server. */
#include "fake_server.h"

#include <stdlib.h>

#include <xf86Cursor.h>

Bool
xf86_cursors_init(ScreenPtr screen, int max_width, int max_height, int flags)
{
    xf86CrtcConfigPtr config = XF86_CRTC_CONFIG_PTR(xf86ScreenToScrn(screen));
    xf86CursorInfoPtr info;

    if (fakeCall("xf86_cursors_init"))
        return FALSE;
    info = calloc(1, sizeof(*info));
    if (!info)
        return FALSE;
    info->MaxWidth = max_width;
    info->MaxHeight = max_height;
    info->Flags = flags;
    config->cursor_info = info;
    return TRUE;
}

void
xf86_hide_cursors(ScrnInfoPtr scrn)
{
    xf86CrtcConfigPtr config = XF86_CRTC_CONFIG_PTR(scrn);

    fakeCall("xf86_hide_cursors");
    config->cursor_on = FALSE;
    for (int i = 0; i < config->num_crtc; i++) {
        xf86CrtcPtr crtc = config->crtc[i];

        if (crtc->enabled && crtc->cursor_shown) {
            crtc->funcs->hide_cursor(crtc);
            crtc->cursor_shown = FALSE;
        }
    }
}

void
xf86_cursors_fini(ScreenPtr screen)
{
    xf86CrtcConfigPtr config = XF86_CRTC_CONFIG_PTR(xf86ScreenToScrn(screen));

    fakeCall("xf86_cursors_fini");
    free(config->cursor_info);
    config->cursor_info = NULL;
}
