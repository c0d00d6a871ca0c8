/* SPDX-License-Identifier: MIT */
/* The per-screen state of the driver and the entry points of its frame. */
#ifndef QEL_H
#define QEL_H

#include <stdint.h>

#include <xorg-server.h>
#include <xf86.h>
#include <xf86str.h>
#include <xf86Crtc.h>
#include <exa.h>
#include <damage.h>
#include <regionstr.h>
#include <picturestr.h>

#include "bo/bo.h"
#include "ge/ge.h"
#include "kms/kms.h"
#include "tearfree/tearfree.h"

#define QEL_NAME "qel"
#define QEL_DRIVER_NAME "qel"
#define QEL_MSG_PREFIX "QEL"
#define QEL_VERSION 1
#define QEL_DEFAULT_DEVICE "/dev/dri/card0"

/* Tokens of the option table; the indices into it. */
typedef enum {
    OPTION_ACCEL = 0,
    OPTION_TEARFREE = 1,
    OPTION_SW_CURSOR = 2,
} qelOptionToken;

#define QEL_OPTION_COUNT 4 /* the three options and the terminator */

typedef struct qelScreenPriv {
    int scrnIndex;
    int fd;
    Bool ownsFd;
    char *devicePath;
    EntityInfoPtr entity;
    OptionInfoPtr options;
    Bool accel;
    Bool tearFree;
    /* The buffer behind the screen pixmap (screen_buffer.c owns it). CRTCs
     * that present without tear-freedom scan it out directly (it then has a
     * framebuffer id); tear-free CRTCs receive GE copies of it. */
    qelBo *shadow;
    /* The GE queue and the EXA state; ge.exa is NULL unless acceleration
     * runs. */
    qelGe ge;
    /* Mode setting: CRTCs, outputs, cursor, hotplug, DRM master. */
    qelKms kms;
    /* What each CRTC scans out, with TearFree's per-CRTC buffers, damage
     * and flips. Made at the first ScreenInit and kept until FreeScreen,
     * since the event of a flip may arrive after the generation that
     * requested it. */
    qelPresent *present;
    CloseScreenProcPtr savedCloseScreen;
    CreateScreenResourcesProcPtr savedCreateScreenResources;
    ScreenBlockHandlerProcPtr savedBlockHandler;
} qelScreenPriv;

static inline qelScreenPriv *
qelScreenPrivFromScrn(ScrnInfoPtr scrn)
{
    return scrn->driverPrivate;
}

static inline qelScreenPriv *
qelScreenPrivFromScreen(ScreenPtr screen)
{
    return qelScreenPrivFromScrn(xf86ScreenToScrn(screen));
}

/* Module records and the driver's table of options. */
extern _X_EXPORT DriverRec QEL;
extern const OptionInfoRec qelOptions[QEL_OPTION_COUNT];

/* Per-screen state. */
qelScreenPriv *qelScreenPrivCreate(ScrnInfoPtr scrn);

/* Screen hooks installed by the platform probe. */
Bool qelPreInit(ScrnInfoPtr scrn, int flags);
Bool qelScreenInit(ScreenPtr screen, int argc, char **argv);
Bool qelSwitchMode(ScrnInfoPtr scrn, DisplayModePtr mode);
void qelAdjustFrame(ScrnInfoPtr scrn, int x, int y);
Bool qelEnterVT(ScrnInfoPtr scrn);
void qelLeaveVT(ScrnInfoPtr scrn);
void qelFreeScreen(ScrnInfoPtr scrn);

/* The screen's buffer (screen_buffer.c): Create makes one of that size,
 * Install makes it the screen's (and gives it to the subsystems), Show
 * points the screen pixmap at it, Discard releases one that is not
 * installed, Destroy releases the installed one. */
qelBo *qelScreenBufferCreate(qelScreenPriv *priv, int width, int height);
void qelScreenBufferInstall(ScrnInfoPtr scrn, qelScreenPriv *priv, qelBo *buffer);
void qelScreenBufferShow(ScreenPtr screen, qelScreenPriv *priv);
void qelScreenBufferDiscard(qelScreenPriv *priv, qelBo *buffer);
void qelScreenBufferDestroy(qelScreenPriv *priv);

/* RandR resize through the CRTC layer's configuration procedures. */
extern const xf86CrtcConfigFuncsRec qelCrtcConfigFuncs;
Bool qelCrtcResize(ScrnInfoPtr scrn, int width, int height);

/* Presentation over a generation (presentation.c): TearFree armed and the
 * BlockHandler wrapped at CreateScreenResources, both undone at
 * CloseScreen. */
void qelTearFreeSetup(ScreenPtr screen);
void qelTearFreeTeardown(ScreenPtr screen);
void qelBlockHandler(ScreenPtr screen, void *timeout);

/* The server's Present hooks over the CRTCs' vblank clocks
 * (present_hooks.c), for ScreenInit. */
Bool qelPresentHooksInit(ScreenPtr screen);

/* Screen procedures the driver wraps. */
Bool qelCreateScreenResources(ScreenPtr screen);
Bool qelCloseScreen(ScreenPtr screen);
ModeStatus qelValidMode(ScrnInfoPtr scrn, DisplayModePtr mode, Bool verbose, int flags);

#endif
