/* SPDX-License-Identifier: MIT */
/* The hardware cursor hooks of a CRTC, called by the server's cursor layer
 * (xf86Cursors). Each CRTC's image lives in a dumb buffer of the cursor
 * plane's size that the CPU writes; the kernel's legacy cursor ioctls put
 * it on the plane, move it and take it off. A pointer move is one ioctl:
 * nothing is drawn and nothing waits for the GE. */
#include "kms/kms.h"

#include <errno.h>
#include <string.h>

#include <cursorstr.h>
#include <xf86Cursor.h>
#include <xf86drm.h>

static size_t
qelCursorImageBytes(const xf86CursorInfoRec *info)
{
    return (size_t) info->MaxWidth * (size_t) info->MaxHeight * 4;
}

/* The CRTC's buffer, made on first use; one the kernel made smaller than
 * the image is not used. */
static qelBo *
qelCursorBuffer(xf86CrtcPtr crtc, const xf86CursorInfoRec *info)
{
    qelCrtcPriv *crtcPriv = crtc->driver_private;
    int fd = crtcPriv->kms->fd;

    if (crtcPriv->cursorBo)
        return crtcPriv->cursorBo;
    crtcPriv->cursorBo = qelBoCreateScanout(fd, info->MaxWidth, info->MaxHeight, FALSE);
    if (crtcPriv->cursorBo && crtcPriv->cursorBo->size < qelCursorImageBytes(info)) {
        qelBoDestroy(fd, crtcPriv->cursorBo);
        crtcPriv->cursorBo = NULL;
    }
    return crtcPriv->cursorBo;
}

/* A refusal is logged once per CRTC and screen generation: the server asks
 * again at every new cursor, and each time it falls back to software. */
static void
qelCursorNoteRefusal(xf86CrtcPtr crtc, const char *what, int error)
{
    qelCrtcPriv *crtcPriv = crtc->driver_private;

    if (crtcPriv->cursorRefusalLogged)
        return;
    crtcPriv->cursorRefusalLogged = TRUE;
    xf86DrvMsg(crtc->scrn->scrnIndex, X_WARNING,
               "Hardware cursor on CRTC %u: %s (%s); the software cursor is used instead\n",
               crtcPriv->crtcId, what, strerror(error));
}

/* The image is handed to the kernel whole, as large as the plane, with the
 * hotspot of the cursor it belongs to. */
Bool
qelCursorShow(xf86CrtcPtr crtc)
{
    qelCrtcPriv *crtcPriv = crtc->driver_private;
    xf86CrtcConfigPtr config = XF86_CRTC_CONFIG_PTR(crtc->scrn);
    const xf86CursorInfoRec *info = config->cursor_info;
    CursorPtr cursor = config->cursor;
    int ret;

    /* Nothing loaded yet (the CRTC was lit after the last image): the
     * server loads the image and shows it again after the mode set. */
    if (!crtcPriv->cursorBo)
        return FALSE;
    ret = drmModeSetCursor2(crtcPriv->kms->fd, crtcPriv->crtcId,
                            crtcPriv->cursorBo->handle, (uint32_t) info->MaxWidth,
                            (uint32_t) info->MaxHeight, cursor ? cursor->bits->xhot : 0,
                            cursor ? cursor->bits->yhot : 0);
    if (ret == 0)
        return TRUE;
    qelCursorNoteRefusal(crtc, "the kernel refused the image", -ret);
    return FALSE;
}

void
qelCursorHide(xf86CrtcPtr crtc)
{
    qelCrtcPriv *crtcPriv = crtc->driver_private;

    (void) drmModeSetCursor(crtcPriv->kms->fd, crtcPriv->crtcId, 0, 0, 0);
}

void
qelCursorSetPosition(xf86CrtcPtr crtc, int x, int y)
{
    qelCrtcPriv *crtcPriv = crtc->driver_private;

    (void) drmModeMoveCursor(crtcPriv->kms->fd, crtcPriv->crtcId, x, y);
}

/* The server hands over the image padded to the plane's size, premultiplied
 * ARGB, rows of MaxWidth pixels: the layout in which the kernel reads the
 * buffer (a row of width * 4 bytes, whatever the buffer's own pitch). */
Bool
qelCursorLoadArgb(xf86CrtcPtr crtc, CARD32 *image)
{
    const xf86CursorInfoRec *info = XF86_CRTC_CONFIG_PTR(crtc->scrn)->cursor_info;
    qelBo *bo = qelCursorBuffer(crtc, info);

    if (!bo) {
        qelCursorNoteRefusal(crtc, "no buffer for the image", ENOMEM);
        return FALSE;
    }
    memcpy(bo->map, image, qelCursorImageBytes(info));
    /* A shown cursor takes the new hotspot, and on kernels that copy the
     * image at a set, the new image, only through another set. */
    if (crtc->cursor_shown)
        return qelCursorShow(crtc);
    return TRUE;
}
