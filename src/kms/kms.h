/* Mode setting: the private records of the server's CRTC and output objects,
 * their hook tables, and the small master and CRTC-layer helpers. */
#ifndef QEL_KMS_H
#define QEL_KMS_H

#include <stdint.h>

#include <xf86drmMode.h>

#include "driver/qel.h"

#define QEL_BACKLIGHT_PATH_SIZE 128

typedef struct qelCrtcPriv {
    qelScreenPriv *screenPriv;
    uint32_t crtcId;
    /* This CRTC's own DPMS state: each display is switched on and off by
     * itself. */
    Bool dpmsOff;
    /* The hardware cursor's image, as large as the cursor plane; made when
     * the first image is loaded, released at CloseScreen. */
    qelBo *cursorBo;
    Bool cursorRefusalLogged;
} qelCrtcPriv;

typedef struct qelOutputPriv {
    qelScreenPriv *screenPriv;
    uint32_t connectorId;
    drmModeConnectorPtr connector;
    char backlightPath[QEL_BACKLIGHT_PATH_SIZE];
    int32_t maxBrightness;
} qelOutputPriv;

/* Hook tables shared by every screen. */
extern const xf86CrtcConfigFuncsRec qelCrtcConfigFuncs;
extern const xf86CrtcFuncsRec qelCrtcFuncs;
extern const xf86OutputFuncsRec qelOutputFuncs;

/* Discovery of CRTCs and outputs at PreInit. */
Bool qelPreInitKms(ScrnInfoPtr scrn);

/* CRTC hooks. */
Bool qelCrtcSetModeMajor(xf86CrtcPtr crtc, DisplayModePtr mode, Rotation rotation,
                         int x, int y);
void qelCrtcDpms(xf86CrtcPtr crtc, int mode);
void qelCrtcGammaSet(xf86CrtcPtr crtc, CARD16 *red, CARD16 *green, CARD16 *blue,
                     int size);
void qelCrtcDestroy(xf86CrtcPtr crtc);

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

/* Screen resize through the CRTC configuration. */
Bool qelCrtcResize(ScrnInfoPtr scrn, int width, int height);

/* Output hotplug: a watch on the device's hotplug uevents from ScreenInit
 * to CloseScreen. Start returns NULL, after saying in the log that hotplug
 * is off, when udev cannot deliver them. */
typedef struct qelHotplug qelHotplug;
qelHotplug *qelHotplugStart(ScrnInfoPtr scrn);
void qelHotplugStop(qelHotplug *hotplug);
/* The device announced a change of its connectors: every output is
 * detected again, RandR tells its clients, and the log names the outputs
 * that were connected or disconnected. Nothing while the VT is away. */
void qelHotplugRedetect(ScrnInfoPtr scrn);

/* DRM master and the CRTC layer, for ScreenInit, EnterVT and LeaveVT. */
Bool qelEnterVTKms(ScrnInfoPtr scrn);
void qelDropMaster(ScrnInfoPtr scrn);
Bool qelScreenInitKms(ScreenPtr screen);

/* The cursor of the screen (cursor_screen.c): ScreenInit chooses the
 * hardware or the software cursor (after miDCInitialize); the hardware
 * cursor is taken off the displays before DRM master goes (LeaveVT,
 * CloseScreen) and its records go after the server's layers have closed. */
void qelCursorScreenInit(ScreenPtr screen);
void qelCursorHideAll(ScrnInfoPtr scrn);
void qelCursorCloseScreen(ScreenPtr screen);

#endif
