/* Screen hooks whose work is not built yet. Each refuses cleanly, so that a
 * server that probes the device ends with no screen instead of a crash. */
#include "qel.h"

Bool
qelPreInit(ScrnInfoPtr scrn, int flags)
{
    (void) scrn;
    (void) flags;
    return FALSE;
}

Bool
qelScreenInit(ScreenPtr screen, int argc, char **argv)
{
    (void) screen;
    (void) argc;
    (void) argv;
    return FALSE;
}

Bool
qelSwitchMode(ScrnInfoPtr scrn, DisplayModePtr mode)
{
    (void) scrn;
    (void) mode;
    return FALSE;
}

void
qelAdjustFrame(ScrnInfoPtr scrn, int x, int y)
{
    (void) scrn;
    (void) x;
    (void) y;
}

Bool
qelEnterVT(ScrnInfoPtr scrn)
{
    (void) scrn;
    return FALSE;
}

void
qelLeaveVT(ScrnInfoPtr scrn)
{
    (void) scrn;
}

ModeStatus
qelValidMode(ScrnInfoPtr scrn, DisplayModePtr mode, Bool verbose, int flags)
{
    (void) scrn;
    (void) mode;
    (void) verbose;
    (void) flags;
    return MODE_BAD;
}
