/* SPDX-License-Identifier: MIT */
/* The screen's cursor: the hardware cursor on the kernel's cursor planes
 * (the server's cursor layer drives the CRTC hooks of cursor.c), or the
 * server's software cursor, which draws the pointer into the screen, where
 * the kernel has no cursor plane or the SWcursor option asks for it. The
 * server's layer itself falls back to software for a cursor larger than
 * the plane or one the kernel refuses. */
#include "kms/kms.h"

#include <errno.h>
#include <string.h>

#include <xf86Cursor.h>
#include <xf86drm.h>

/* The kernel's own default when a driver names no size. */
#define QEL_CURSOR_DEFAULT_SIZE 64
/* The server's cursor layer keeps two-colour cursors in rows of 32-bit
 * words, and one image of the plane's size per screen. */
#define QEL_CURSOR_WIDTH_ALIGN 32
#define QEL_CURSOR_MAX_SIZE 512

/* ARGB images only (two-colour cursors are converted by the server), and
 * a new image may replace a shown one without hiding it first. */
#define QEL_CURSOR_FLAGS (HARDWARE_CURSOR_ARGB | HARDWARE_CURSOR_UPDATE_UNHIDDEN)

/* One of the kernel's cursor size caps. */
static uint64_t
qelCursorCap(int fd, uint64_t cap)
{
    uint64_t value = 0;

    if (drmGetCap(fd, cap, &value) != 0 || value == 0)
        return QEL_CURSOR_DEFAULT_SIZE;
    return value;
}

static Bool
qelCursorSizeUsable(uint64_t width, uint64_t height)
{
    return width <= QEL_CURSOR_MAX_SIZE && height <= QEL_CURSOR_MAX_SIZE &&
           width % QEL_CURSOR_WIDTH_ALIGN == 0;
}

/* Takes off every CRTC whatever cursor an earlier user of the device left
 * there. A CRTC without a cursor plane refuses (ENXIO from the kernel's
 * legacy path, EINVAL from some drivers): FALSE, with the first such CRTC
 * and its error. Other errors (no DRM master yet) say nothing about the
 * planes. */
static Bool
qelCursorClearPlanes(ScrnInfoPtr scrn, uint32_t *missingCrtcId, int *error)
{
    xf86CrtcConfigPtr config = XF86_CRTC_CONFIG_PTR(scrn);
    Bool allPresent = TRUE;

    for (int i = 0; i < config->num_crtc; i++) {
        qelCrtcPriv *crtcPriv = config->crtc[i]->driver_private;
        int ret = drmModeSetCursor(crtcPriv->kms->fd, crtcPriv->crtcId, 0, 0, 0);

        crtcPriv->cursorRefusalLogged = FALSE;
        if (allPresent && (ret == -ENXIO || ret == -EINVAL)) {
            allPresent = FALSE;
            *missingCrtcId = crtcPriv->crtcId;
            *error = -ret;
        }
    }
    return allPresent;
}

void
qelCursorScreenInit(ScreenPtr screen, const qelKms *kms)
{
    ScrnInfoPtr scrn = xf86ScreenToScrn(screen);
    uint64_t width = qelCursorCap(kms->fd, DRM_CAP_CURSOR_WIDTH);
    uint64_t height = qelCursorCap(kms->fd, DRM_CAP_CURSOR_HEIGHT);
    uint32_t missingCrtcId = 0;
    int error = 0;
    Bool planes = qelCursorClearPlanes(scrn, &missingCrtcId, &error);

    if (kms->swCursor)
        xf86DrvMsg(scrn->scrnIndex, X_CONFIG, "Using the software cursor (SWcursor)\n");
    else if (!planes)
        xf86DrvMsg(scrn->scrnIndex, X_INFO,
                   "Using the software cursor: CRTC %u has no cursor plane (%s)\n",
                   missingCrtcId, strerror(error));
    else if (!qelCursorSizeUsable(width, height))
        xf86DrvMsg(scrn->scrnIndex, X_WARNING,
                   "Using the software cursor: the kernel's cursor size %llux%llu is not "
                   "supported\n", (unsigned long long) width, (unsigned long long) height);
    else if (!xf86_cursors_init(screen, (int) width, (int) height, QEL_CURSOR_FLAGS))
        xf86DrvMsg(scrn->scrnIndex, X_WARNING,
                   "Using the software cursor: the server's cursor layer failed\n");
    else
        xf86DrvMsg(scrn->scrnIndex, X_INFO, "Using the hardware cursor (%dx%d)\n", (int) width,
                   (int) height);
}

void
qelCursorHideAll(ScrnInfoPtr scrn)
{
    if (XF86_CRTC_CONFIG_PTR(scrn)->cursor_info)
        xf86_hide_cursors(scrn);
}

/* After the server's layers have closed: its cursor layer hides the cursor
 * through the hooks on its way out, so the records and buffers go last. */
void
qelCursorCloseScreen(ScreenPtr screen)
{
    ScrnInfoPtr scrn = xf86ScreenToScrn(screen);
    xf86CrtcConfigPtr config = XF86_CRTC_CONFIG_PTR(scrn);

    if (config->cursor_info)
        xf86_cursors_fini(screen);
    for (int i = 0; i < config->num_crtc; i++) {
        qelCrtcPriv *crtcPriv = config->crtc[i]->driver_private;

        qelBoDestroy(crtcPriv->kms->fd, crtcPriv->cursorBo);
        crtcPriv->cursorBo = NULL;
    }
}
