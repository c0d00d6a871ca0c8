/* SPDX-License-Identifier: MIT */
/* A screen with hand-built CRTC and output records on the simulated device,
 * for the tests of the CRTC hooks, flip resolution and the VT hooks. */
#ifndef QEL_KMS_FIXTURE_H
#define QEL_KMS_FIXTURE_H

#include "driver/qel.h"
#include "kms/kms.h"
#include "tearfree/present.h"
#include "fake_server.h"

#define FIXTURE_MAX_OBJECTS 4

typedef struct kmsFixture {
    ScrnInfoRec scrn;
    DevUnion privates[8];
    qelScreenPriv *priv;
    xf86CrtcConfigRec config;
    xf86CrtcRec crtcs[FIXTURE_MAX_OBJECTS];
    xf86CrtcPtr crtcPtrs[FIXTURE_MAX_OBJECTS];
    xf86OutputRec outputs[FIXTURE_MAX_OBJECTS];
    xf86OutputPtr outputPtrs[FIXTURE_MAX_OBJECTS];
    drmModeResPtr resources;
    Bool ownsQueue;
} kmsFixture;

/* Configures the simulator with the description, opens its first node and
 * builds one server CRTC per DRM CRTC and one output per connector, the
 * output i attached to CRTC i when there is one. */
kmsFixture *kmsFixtureCreate(const char *description);
void kmsFixtureDestroy(kmsFixture *fixture);

/* Gives the screen its buffer: with a framebuffer that every CRTC scans
 * out, or, when tearFree is TRUE, without one and with the presentation
 * records that give each CRTC a pair of its own at its first mode set.
 * Remove releases both (Destroy does it too). */
void kmsFixtureAddScanouts(kmsFixture *fixture, int width, int height, Bool tearFree);
void kmsFixtureRemoveScanouts(kmsFixture *fixture);

/* The DRM id of CRTC index, its presentation record (TearFree), the buffer
 * of its pair in front and behind, and a flip to the back buffer requested
 * as the flip cycle does. */
uint32_t kmsFixtureCrtcId(kmsFixture *fixture, int index);
qelFlipCrtc *kmsFixtureFlipCrtc(kmsFixture *fixture, int index);
qelBo *kmsFixtureFront(kmsFixture *fixture, int index);
qelBo *kmsFixtureBack(kmsFixture *fixture, int index);
void kmsFixtureRequestFlip(kmsFixture *fixture, int index);

/* A mode record with the given size and CVT-like timings; the name points
 * at static storage. */
DisplayModeRec kmsFixtureMode(int width, int height);

/* The simulator's view. */
long simCounter(const char *name);
long simIoctlCounter(const char *part);
Bool simCrtcState(int index, char *line, size_t size);
long simCrtcField(int index, const char *key);
void simCommandOk(const char *request);

/* The messages the fake server recorded. */
void expectNoMessage(void);
void expectOneMessage(int level, int scrnIndex, const char *text);
void forgetMessages(void);
/* One message: the prefix followed by the text of some errno value and a
 * newline. */
void expectOneFailure(int level, int scrnIndex, const char *prefix);

#endif
