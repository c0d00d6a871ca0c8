/* SPDX-License-Identifier: MIT */
/* Mode setting: the screen's KMS record, the private records of the
 * server's CRTC and output objects with their hooks, the cursor, hotplug,
 * backlight, and DRM master. */
#ifndef QEL_KMS_H
#define QEL_KMS_H

#include <stdint.h>

#include <xorg-server.h>
#include <xf86.h>
#include <xf86Crtc.h>
#include <xf86drmMode.h>

#include "bo/bo.h"
#include "kms/vblank.h"

/* What a CRTC scans out: a framebuffer and the origin of the mode in it. */
typedef struct qelScanout {
    uint32_t fbId;
    uint32_t x;
    uint32_t y;
} qelScanout;

/* What each CRTC scans out is the presentation's to choose; a mode set
 * asks it through these, with its data. begin settles the CRTC's flip and
 * chooses for a width x height mode at (x, y) of the screen (FALSE:
 * nothing can be shown); end says whether the CRTC now shows that choice
 * while driving some connector; settle settles the CRTC's flip before it
 * is switched off; off follows the switch (release: the CRTC has no mode
 * any more).
 *
 * A rotated, reflected or transformed CRTC shows the server's rotation
 * shadow of it, which the server makes through the CRTC's shadow hooks:
 * shadowAllocate makes a width x height shadow (NULL: none can be had),
 * shadowCreate a pixmap over it for the server to draw into (no shadow
 * given: one is made), shadowDestroy lets both go (setUnderWay: inside the
 * CRTC's mode set, which may still fail and want the old shadow back). */
typedef struct qelScanoutFuncs {
    Bool (*begin)(void *data, uint32_t crtcId, int width, int height, int x, int y,
                  qelScanout *out);
    void (*end)(void *data, uint32_t crtcId, Bool shown, Bool lit);
    void (*settle)(void *data, uint32_t crtcId);
    void (*off)(void *data, uint32_t crtcId, Bool release);
    void *(*shadowAllocate)(void *data, uint32_t crtcId, int width, int height);
    PixmapPtr (*shadowCreate)(void *data, ScreenPtr screen, uint32_t crtcId, void *shadow,
                              int width, int height);
    void (*shadowDestroy)(void *data, uint32_t crtcId, Bool setUnderWay);
} qelScanoutFuncs;

typedef struct qelHotplug qelHotplug;

/* The KMS state of one screen. */
typedef struct qelKms {
    int fd;
    /* The driver opened the descriptor itself: only then does it take and
     * drop DRM master. */
    Bool ownsFd;
    /* The SWcursor option. */
    Bool swCursor;
    const qelScanoutFuncs *scanout;
    void *scanoutData;
    /* The watch on the device's hotplug uevents, for one generation. */
    qelHotplug *hotplug;
    /* The CRTCs' vblank waits (vblank.c). */
    qelVblank vblank;
} qelKms;

#define QEL_BACKLIGHT_PATH_SIZE 128

/* A CRTC's configuration as the server's CRTC record holds it. */
typedef struct qelCrtcConfig {
    DisplayModeRec mode;
    Rotation rotation;
    int x;
    int y;
    Bool transformPresent;
    RRTransformRec transform;
} qelCrtcConfig;

typedef struct qelCrtcPriv {
    qelKms *kms;
    uint32_t crtcId;
    /* This CRTC's own DPMS state: each display is switched on and off by
     * itself. */
    Bool dpmsOff;
    /* The hardware cursor's image, as large as the cursor plane; made when
     * the first image is loaded, released at CloseScreen. */
    qelBo *cursorBo;
    Bool cursorRefusalLogged;
    /* Inside this CRTC's mode set (see qelScanoutFuncs.shadowDestroy). */
    Bool settingMode;
    /* What the CRTC shows since its last mode set that worked; shownValid
     * is FALSE while it shows nothing. */
    Bool shownValid;
    qelCrtcConfig shown;
    /* Its vblank count as the driver gives it out. */
    qelCrtcClock clock;
} qelCrtcPriv;

typedef struct qelOutputPriv {
    qelKms *kms;
    uint32_t connectorId;
    drmModeConnectorPtr connector;
    char backlightPath[QEL_BACKLIGHT_PATH_SIZE];
    int32_t maxBrightness;
} qelOutputPriv;

/* Discovery of CRTCs and outputs at PreInit, with the CRTC layer's
 * configuration procedures the driver gives (resize). */
Bool qelPreInitKms(ScrnInfoPtr scrn, qelKms *kms, const xf86CrtcConfigFuncsRec *configFuncs);
/* One server CRTC for a DRM CRTC, one output for a connector of the
 * device with that many CRTCs; FALSE when the server cannot make one. */
Bool qelCrtcCreate(ScrnInfoPtr scrn, qelKms *kms, uint32_t crtcId);
Bool qelOutputCreate(ScrnInfoPtr scrn, qelKms *kms, uint32_t connectorId, int crtcCount);

/* CRTC hooks. */
Bool qelCrtcSetModeMajor(xf86CrtcPtr crtc, DisplayModePtr mode, Rotation rotation,
                         int x, int y);
void qelCrtcDpms(xf86CrtcPtr crtc, int mode);
void qelCrtcGammaSet(xf86CrtcPtr crtc, CARD16 *red, CARD16 *green, CARD16 *blue,
                     int size);
void qelCrtcDestroy(xf86CrtcPtr crtc);
/* The CRTC has a mode and its displays are on. */
Bool qelCrtcLit(xf86CrtcPtr crtc);

/* Rotation shadow hooks of a CRTC (crtc_shadow.c). Rotate brings the
 * server's rotation state to the configuration in the CRTC's record:
 * FALSE, after one line in the log, when no shadow can be had (the state
 * stays as it was). NoteShown keeps the record's configuration as the one
 * the CRTC shows (NoteDark: it shows none); RotateBack brings the record
 * and the rotation state back to it after a set that failed. */
void *qelCrtcShadowAllocate(xf86CrtcPtr crtc, int width, int height);
PixmapPtr qelCrtcShadowCreate(xf86CrtcPtr crtc, void *data, int width, int height);
void qelCrtcShadowDestroy(xf86CrtcPtr crtc, PixmapPtr pixmap, void *data);
Bool qelCrtcRotate(xf86CrtcPtr crtc);
void qelCrtcNoteShown(xf86CrtcPtr crtc);
void qelCrtcNoteDark(xf86CrtcPtr crtc);
void qelCrtcRotateBack(xf86CrtcPtr crtc);

/* Hardware cursor hooks of a CRTC (cursor.c). */
void qelCursorSetPosition(xf86CrtcPtr crtc, int x, int y);
Bool qelCursorShow(xf86CrtcPtr crtc);
void qelCursorHide(xf86CrtcPtr crtc);
Bool qelCursorLoadArgb(xf86CrtcPtr crtc, CARD32 *image);

/* The server's mode record as the kernel's mode record. */
void qelModeToDrm(const DisplayModeRec *mode, drmModeModeInfo *info);

/* The kernel's mode record as a new server mode record, with its CRTC
 * timings set for the screen. */
DisplayModePtr qelModeFromDrm(ScrnInfoPtr scrn, const drmModeModeInfo *info);

/* Output hooks. */
void qelOutputCreateResources(xf86OutputPtr output);
void qelOutputDpms(xf86OutputPtr output, int mode);
int qelOutputModeValid(xf86OutputPtr output, DisplayModePtr mode);
xf86OutputStatus qelOutputDetect(xf86OutputPtr output);
DisplayModePtr qelOutputGetModes(xf86OutputPtr output);
Bool qelOutputSetProperty(xf86OutputPtr output, Atom property, RRPropertyValuePtr value);
Bool qelOutputGetProperty(xf86OutputPtr output, Atom property);
void qelOutputDestroy(xf86OutputPtr output);

/* The decimal integer at the start of a small sysfs file; FALSE when the
 * file cannot be read. */
Bool qelReadSysfsInt(const char *path, int *value);

/* Output hotplug: a watch on the device's hotplug uevents from ScreenInit
 * to CloseScreen. Start returns NULL, after saying in the log that hotplug
 * is off, when udev cannot deliver them. */
qelHotplug *qelHotplugStart(ScrnInfoPtr scrn, int fd);
void qelHotplugStop(qelHotplug *hotplug);
/* The device announced a change of its connectors: every output is
 * detected again, RandR tells its clients, and the log names the outputs
 * that were connected or disconnected. Nothing while the VT is away. */
void qelHotplugRedetect(ScrnInfoPtr scrn);

/* The main loop's watch on the DRM descriptor, whose one reader takes
 * flip and vblank events alike, from ScreenInit to CloseScreen. */
Bool qelKmsWatchEvents(qelKms *kms);
void qelKmsUnwatchEvents(qelKms *kms);

/* DRM master and the CRTC layer, for ScreenInit, EnterVT and LeaveVT. */
/* TakeMaster says a refusal at that level; a descriptor the server
 * manages is never used for master calls. */
Bool qelTakeMaster(ScrnInfoPtr scrn, const qelKms *kms, MessageType level);
Bool qelEnterVTKms(ScrnInfoPtr scrn, const qelKms *kms);
void qelDropMaster(const qelKms *kms);
Bool qelScreenInitKms(ScreenPtr screen);

/* The cursor of the screen (cursor_screen.c): ScreenInit chooses the
 * hardware or the software cursor (after miDCInitialize); the hardware
 * cursor is taken off the displays before DRM master goes (LeaveVT,
 * CloseScreen) and its records go after the server's layers have closed. */
void qelCursorScreenInit(ScreenPtr screen, const qelKms *kms);
void qelCursorHideAll(ScrnInfoPtr scrn);
void qelCursorCloseScreen(ScreenPtr screen);

#endif
