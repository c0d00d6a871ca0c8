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
#include "ge/ge_kernel.h"

#define QEL_NAME "qel"
#define QEL_DRIVER_NAME "qel"
#define QEL_MSG_PREFIX "QEL"
#define QEL_VERSION 1
#define QEL_DEFAULT_DEVICE "/dev/dri/card0"
#define QEL_MAX_DIMENSION 2048

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
    /* The buffer behind the screen pixmap. CRTCs that present without
     * tear-freedom scan it out directly (it then has a framebuffer id);
     * tear-free CRTCs receive GE copies of it. */
    qelBo *shadow;
    ExaDriverPtr exa;
    Bool screenBoClaimed;
    qelGeOp *ops;
    uint32_t opCount;
    uint32_t opCapacity;
    qelBo *batchDst;
    qelBo *batchSrc;
    /* The driver's last submitted GE batch, and the serial up to which the
     * GE is known to have finished its work (it completes batches in the
     * order they were submitted). */
    qelGeBatchRef geSubmitted;
    uint64_t geCompleted;
    /* The GE's health: refused batches in a row, the kinds of refusal and
     * of failed wait already logged (errno bits), and whether the GE is
     * given up for this server generation. */
    uint32_t geRefusedInARow;
    uint64_t geRefusalsSaid;
    uint64_t geWaitFailuresSaid;
    Bool geGivenUp;
    qelBo *prepDst;
    uint32_t prepDstPitch;
    uint32_t prepRop;
    uint32_t prepFg;
    qelBo *prepSrc;
    uint32_t prepSrcPitch;
    /* Tear-free presentation: per-CRTC buffers, damage and flips. Made when
     * TearFree is first armed and kept until FreeScreen, since the event of
     * a flip may arrive after the generation that requested it. */
    struct qelPresent *present;
    /* The watch on the device's hotplug uevents, for one generation; NULL
     * when hotplug is off. */
    struct qelHotplug *hotplug;
    CloseScreenProcPtr savedCloseScreen;
    CreateScreenResourcesProcPtr savedCreateScreenResources;
    ScreenBlockHandlerProcPtr savedBlockHandler;
    /* The acceleration layer's procedures under the driver's Render hooks,
     * and how many Render requests have their pixmaps open to the CPU. */
    CreatePixmapProcPtr exaCreatePixmap;
    CreateGCProcPtr exaCreateGC;
    CompositeProcPtr exaComposite;
    int renderAccessDepth;
    /* The EXA private that CreatePixmap2 gave the screen pixmap. fb frees
     * the screen pixmap without the DestroyPixmap hook, and EXA's privates
     * are gone by CloseScreen, so the driver keeps it to release it. */
    void *screenPixmapPriv;
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

/* The driver's Render and shared-memory procedures over EXA's. */
void qelInstallRenderHooks(ScreenPtr screen);

/* Screen procedures the driver wraps. */
Bool qelCreateScreenResources(ScreenPtr screen);
Bool qelCloseScreen(ScreenPtr screen);
ModeStatus qelValidMode(ScrnInfoPtr scrn, DisplayModePtr mode, Bool verbose, int flags);

#endif
