/* SPDX-License-Identifier: MIT */
/* A small stand-in for the parts of the X server that the driver calls,
 * linked into the unit tests in place of the server. It keeps what a test
 * needs to look at: every message, the registered drivers, the screens and
 * entities, which calls were made, and it can be told to make a call fail.
 *
 * The server's own helpers (depth, weight, visual, gamma, DPI, loader, CRTC
 * layer) print nothing here, so the recorded messages are the driver's. */
#ifndef QEL_FAKE_SERVER_H
#define QEL_FAKE_SERVER_H

#include <stddef.h>

#include <xorg-server.h>
#include <xf86.h>
#include <xf86str.h>
#include <xf86Crtc.h>
#include <xf86platformBus.h>
#include <damage.h>

/* ---- messages ---- */

#define FAKE_MESSAGE_TEXT_SIZE 512

/* One log message. scrnIndex is -1 for xf86Msg/xf86MsgVerb; verb is the
 * verbosity of xf86DrvMsgVerb/xf86MsgVerb and 1 for the plain forms. */
typedef struct fakeMessage {
    int level;
    int scrnIndex;
    int verb;
    char text[FAKE_MESSAGE_TEXT_SIZE];
} fakeMessage;

int fakeMessageCount(void);
const fakeMessage *fakeMessageAt(int index);
void fakeMessagesClear(void);
/* The index of the first message with exactly this text, or -1. */
int fakeMessageFind(const char *text);
/* Removes the first message with exactly this text; FALSE when none has. */
Bool fakeMessageTake(const char *text);

/* ---- call counting and failure injection ----
 *
 * Each fake function counts its calls under a key: its own name, or for the
 * loader "xf86LoadSubModule:<name>". fakeFail makes the calls under a key
 * fail: after `skip` more successful calls, the next `count` calls fail
 * (count -1: all of them). How a call fails is the server's way for that
 * function (FALSE or NULL). */
int fakeCallCount(const char *key);
void fakeFail(const char *key, int skip, int count);
/* For fake functions: records the call and says whether it must fail. */
Bool fakeCall(const char *key);

/* ---- driver registration ---- */

typedef struct fakeAddedDriver {
    DriverPtr driver;
    void *module;
    int flags;
} fakeAddedDriver;

int fakeAddedDriverCount(void);
const fakeAddedDriver *fakeAddedDriverAt(int index);

/* ---- entities (the server's probed devices) ----
 *
 * An entity on the platform bus carries a platform device with the given
 * flags and attributes (path may be NULL, fd may be negative). device may be
 * NULL: then the entity has no Device section. */
int fakeEntityAddPlatform(GDevPtr device, int pdevFlags, const char *path, int fd);
int fakeEntityAddOther(GDevPtr device);

/* A Device section with the given option list (which it takes over). */
GDevPtr fakeDeviceSectionCreate(XF86OptionPtr options);

/* ---- option lists as the configuration parser builds them ---- */

XF86OptionPtr fakeOptionAdd(XF86OptionPtr list, const char *name, const char *value);
void fakeOptionListFree(XF86OptionPtr list);

/* ---- screens ---- */

/* Every screen xf86AllocateScreen made and fakeScreenDelete did not delete,
 * in the order of their indices. */
int fakeScreenCount(void);
ScrnInfoPtr fakeScreenAt(int index);

/* Options of the Screen section of every new screen's configuration
 * (taken over; NULL for none) and the depth the configuration asks for
 * (0: whatever the driver prefers). */
void fakeConfigSetScreenOptions(XF86OptionPtr options);
void fakeConfigSetDepth(int depth);

/* The last arguments xf86SetDepthBpp was called with. */
typedef struct fakeDepthBppCall {
    int depth, bpp, fbbpp, flags;
} fakeDepthBppCall;
const fakeDepthBppCall *fakeLastDepthBppCall(void);

/* Deletes a screen as the server does at the end: FreeScreen, then the
 * CRTC configuration with every output's and CRTC's destroy hook, the mode
 * lists, the collected options and the record. */
void fakeScreenDelete(ScrnInfoPtr scrn);

/* ---- modes ---- */

/* Frees a mode list, linear or circular, with the modes' names. */
void fakeModeListFree(DisplayModePtr modes);
int fakeModeListLength(DisplayModePtr modes);

/* ---- EXA, Damage, the main loop and RandR properties ----
 * (Screen records, fb, mi and the xf86 screen helpers: fake_screen.h.) */

/* The driver private EXA returns for a pixmap. */
void fakeExaSetPixmapPriv(PixmapPtr pixmap, void *driverPriv);

/* The region a damage record has collected; tests fill it. */
RegionPtr fakeDamageRegionOf(DamagePtr damage);

/* A descriptor the driver asked the main loop to watch. */
typedef struct fakeNotifyFd {
    int fd;
    NotifyFdProcPtr notify;
    int mask;
    void *data;
} fakeNotifyFd;
const fakeNotifyFd *fakeNotifyFdFind(int fd);

/* The value of the last 32-bit INTEGER output property the driver set. */
INT32 fakeLastPropertyValue(void);

/* The arguments of the last RRConfigureOutputProperty and
 * RRChangeOutputProperty calls (of the values, the first two). */
typedef struct fakeConfiguredProperty {
    RROutputPtr output;
    Atom property;
    Bool pending, range, immutable;
    int numValues;
    INT32 values[2];
} fakeConfiguredProperty;
const fakeConfiguredProperty *fakeLastConfiguredProperty(void);

typedef struct fakeChangedProperty {
    RROutputPtr output;
    Atom property, type;
    int format, mode;
    unsigned long length;
    Bool sendEvent, pending;
} fakeChangedProperty;
const fakeChangedProperty *fakeLastChangedProperty(void);

/* ---- the server's clock and timers, the Present extension ----
 *
 * GetTimeInMicros stands still until fakeTimeAdvance moves it, running the
 * timers that come due meanwhile, each at its own time. */
void fakeTimeAdvance(CARD64 micros);
int fakeTimersArmed(void);
int fakeTimersLive(void);

#define FAKE_MAX_PRESENT_NOTIFIES 64

/* A present_event_notify call. */
typedef struct fakePresentNotify {
    uint64_t eventId, ust, msc;
} fakePresentNotify;
int fakePresentNotifyCount(void);
const fakePresentNotify *fakePresentNotifyAt(int index);

/* ---- reset ----
 *
 * Deletes every screen record (fake_screen.h), screen, entity and Device
 * section, forgets messages, calls, failures, atoms, watched descriptors,
 * timers, Present notifications and the configuration, and sets
 * serverGeneration back to 1. Call between tests. */
void fakeReset(void);

#endif
