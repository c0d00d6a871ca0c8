/* SPDX-License-Identifier: MIT */
/* What the parts of the fake server share among themselves. */
#ifndef QEL_FAKE_INTERNAL_H
#define QEL_FAKE_INTERNAL_H

#include "fake_server.h"

/* The screen private keys a screen has room for. */
#define FAKE_SCREEN_PRIVATE_SLOTS 8

void fakeControlReset(void);
void fakeMessagesReset(void);
void fakeDriversReset(void);
void fakeEntitiesReset(void);
void fakeScreensReset(void);
void fakeConfigReset(void);
void fakeExaReset(void);
void fakeNotifyFdsReset(void);
void fakeAtomsReset(void);
void fakePresentReset(void);

/* Entities, for the screen and option code. */
GDevPtr fakeEntityDevice(int entityIndex);
BusRec fakeEntityBus(int entityIndex);
Bool fakeEntityExists(int entityIndex);
void fakeEntityReleaseScreen(ScrnInfoPtr scrn);

/* The configuration new screens get. */
confScreenPtr fakeConfigScreen(void);
int fakeConfigDepth(void);
void fakeRecordDepthBppCall(int depth, int bpp, int fbbpp, int flags);

/* Tears down the CRTC configuration of a screen (fake_crtc_config.c). */
void fakeCrtcConfigFree(ScrnInfoPtr scrn);
/* Detects the output and takes the modes it offers, as the server's probe. */
void fakeProbeOutput(xf86OutputPtr output);

/* Option lists. */
XF86OptionPtr fakeOptionListDuplicate(XF86OptionPtr list);
XF86OptionPtr fakeOptionListAppend(XF86OptionPtr head, XF86OptionPtr tail);

#endif
