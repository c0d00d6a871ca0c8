/* SPDX-License-Identifier: MIT */
/* What the X server's loader and probe code see of the module: the version
 * and module data records, the driver record, the option table, the probe. */
#include "qel.h"

#include <xf86Module.h>
#include <xf86Priv.h>
#include <xf86platformBus.h>

static MODULESETUPPROTO(qelSetup);
static void qelIdentify(int flags);
static const OptionInfoRec *qelAvailableOptions(int chipid, int busid);
static Bool qelDriverFunc(ScrnInfoPtr scrn, xorgDriverFuncOp op, void *data);
static Bool qelPlatformProbe(DriverPtr driver, int entityNum, int flags,
                             struct xf86_platform_device *dev, intptr_t matchData);

static XF86ModuleVersionInfo qelVersionRec = {
    .modname = QEL_NAME,
    .vendor = MODULEVENDORSTRING,
    ._modinfo1_ = MODINFOSTRING1,
    ._modinfo2_ = MODINFOSTRING2,
    .xf86version = XORG_VERSION_CURRENT,
    .majorversion = 1,
    .minorversion = 2,
    .patchlevel = 0,
    .abiclass = ABI_CLASS_VIDEODRV,
    .abiversion = ABI_VIDEODRV_VERSION,
    .moduleclass = MOD_CLASS_VIDEODRV,
    .checksum = {0, 0, 0, 0},
};

_X_EXPORT XF86ModuleData qelModuleData = {
    .vers = &qelVersionRec,
    .setup = qelSetup,
    .teardown = NULL,
};

_X_EXPORT DriverRec QEL = {
    .driverVersion = QEL_VERSION,
    .driverName = QEL_DRIVER_NAME,
    .Identify = qelIdentify,
    .Probe = NULL,
    .AvailableOptions = qelAvailableOptions,
    .module = NULL,
    .refCount = 0,
    .driverFunc = qelDriverFunc,
    .supported_devices = NULL,
    .PciProbe = NULL,
    .platformProbe = qelPlatformProbe,
};

const OptionInfoRec qelOptions[QEL_OPTION_COUNT] = {
    {OPTION_ACCEL, "Accel", OPTV_BOOLEAN, {0}, FALSE},
    {OPTION_TEARFREE, "TearFree", OPTV_BOOLEAN, {0}, FALSE},
    {OPTION_SW_CURSOR, "SWcursor", OPTV_BOOLEAN, {0}, FALSE},
    {-1, NULL, OPTV_NONE, {0}, FALSE},
};

/* The loader may be asked to load the module more than once; the driver is
 * registered only the first time. */
static Bool qelSetupDone = FALSE;

static void *
qelSetup(void *module, void *options, int *errmaj, int *errmin)
{
    (void) options;
    (void) errmin;

    if (qelSetupDone) {
        if (errmaj)
            *errmaj = LDR_ONCEONLY;
        return NULL;
    }
    qelSetupDone = TRUE;
    xf86AddDriver(&QEL, module, HaveDriverFuncs);
    return (void *) 1;
}

static void
qelIdentify(int flags)
{
    (void) flags;
    xf86Msg(X_INFO, "qel: driver for the Kellaventis TX3120 (GE 2D)\n");
}

static const OptionInfoRec *
qelAvailableOptions(int chipid, int busid)
{
    (void) chipid;
    (void) busid;
    return qelOptions;
}

static Bool
qelDriverFunc(ScrnInfoPtr scrn, xorgDriverFuncOp op, void *data)
{
    (void) scrn;

    if (op != GET_REQUIRED_HW_INTERFACES)
        return FALSE;
    /* A KMS driver needs neither port I/O nor MMIO. It does need the
     * console: the server then owns a VT, so that the kernel's console
     * neither draws on the displays nor takes the keyboard, and VT switches
     * reach LeaveVT and EnterVT. */
    *(CARD32 *) data = 0;
    return TRUE;
}

static Bool
qelPlatformProbe(DriverPtr driver, int entityNum, int flags,
                 struct xf86_platform_device *dev, intptr_t matchData)
{
    ScrnInfoPtr scrn;

    (void) dev;
    (void) matchData;

    if (flags & PLATFORM_PROBE_GPU_SCREEN)
        return FALSE;

    scrn = xf86AllocateScreen(driver, 0);
    if (!scrn)
        return FALSE;
    xf86AddEntityToScreen(scrn, entityNum);

    scrn->driverVersion = QEL_VERSION;
    scrn->driverName = (char *) QEL_DRIVER_NAME;
    scrn->name = (char *) QEL_MSG_PREFIX;
    scrn->Probe = NULL;
    scrn->PreInit = qelPreInit;
    scrn->ScreenInit = qelScreenInit;
    scrn->SwitchMode = qelSwitchMode;
    scrn->AdjustFrame = qelAdjustFrame;
    scrn->EnterVT = qelEnterVT;
    scrn->LeaveVT = qelLeaveVT;
    scrn->FreeScreen = qelFreeScreen;
    scrn->ValidMode = qelValidMode;
    return TRUE;
}
