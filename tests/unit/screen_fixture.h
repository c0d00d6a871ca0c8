/* SPDX-License-Identifier: MIT */
/* Screens made the way the server makes them (probe on an entity, then the
 * driver's hooks) on the simulated device, and checks of the messages the
 * driver logged on the way. */
#ifndef QEL_SCREEN_FIXTURE_H
#define QEL_SCREEN_FIXTURE_H

#include "driver/qel.h"
#include "kms/kms.h"
#include "fake_server.h"

/* One CRTC driving one connected eDP-1 panel with two modes. */
#define SIM_ONE_PANEL                                                                     \
    "[crtc]\n[connector]\ntype = eDP\ntype_id = 1\nstatus = connected\nmm = 154x86\n"    \
    "modes = 1024x768@60 800x600@60\n"

/* Resets the simulated device to the description; fails the test when the
 * simulator refuses it. */
void simUse(const char *description);

/* A cmocka setup or teardown that starts the fake server afresh. */
int resetFakeServer(void **state);

/* Sends a control request; TRUE when the simulator answered "ok". */
Bool simRequest(const char *request);

/* A Device section with one option, or none when name is NULL. */
GDevPtr deviceSectionWith(const char *name, const char *value);

/* Runs the driver's platform probe on the entity and returns its screen. */
ScrnInfoPtr probeScreen(int entity);

/* A probed screen on a platform device whose node the driver opens itself,
 * its private record attached with the descriptor of that node: the state
 * in which PreInit starts discovery. */
ScrnInfoPtr screenWithDevice(const char *node);

/* Discovery of the screen's CRTCs and outputs, as PreInit runs it. */
Bool preInitKms(ScrnInfoPtr scrn);
xf86CrtcConfigPtr screenConfig(ScrnInfoPtr scrn);

/* Message checks: the i-th recorded message is exactly this one. */
void expectMessage(int index, int level, int scrnIndex, const char *text);
void expectMessageCount(int count);

/* Whether the descriptor is open in this process. */
Bool fdIsOpen(int fd);

#endif
