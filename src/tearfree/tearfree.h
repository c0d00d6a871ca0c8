/* SPDX-License-Identifier: MIT */
/* Presentation: what each CRTC scans out. With TearFree each lit CRTC
 * scans out a pair of buffers of its own mode's size, fed by GE copies
 * from the screen's buffer (rotated or transformed: from the CRTC's
 * rotation shadow) and shown by page flips, independently of the other
 * CRTCs; otherwise, or where a pair cannot be had, the CRTC scans out the
 * screen's buffer (or its shadow) itself. */
#ifndef QEL_TEARFREE_H
#define QEL_TEARFREE_H

#include <xorg-server.h>
#include <xf86.h>
#include <damage.h>
#include <regionstr.h>

#include "bo/bo.h"
#include "ge/ge.h"
#include "kms/kms.h"

/* The presentation state of one screen. It outlives the server
 * generation: the event of a flip may arrive after the generation that
 * requested it. */
typedef struct qelPresent qelPresent;

qelPresent *qelPresentCreate(int fd, int scrnIndex);
void qelPresentFree(qelPresent *present);
/* The GE and EXA state of the screen while acceleration runs: the pairs'
 * copies and the shadows' pixmaps use it. */
void qelPresentSetGe(qelPresent *present, qelGe *ge);
/* The screen's buffer, at the start and whenever it is replaced: every
 * pair is filled anew from it at its CRTC's next mode set. */
void qelPresentSetScreenBuffer(qelPresent *present, qelBo *shadow);

/* TearFree for one generation: a record per CRTC and the Damage record on
 * the screen pixmap; FALSE when the server refuses a part (then nothing is
 * armed). The flips' events come through the DRM descriptor's one reader
 * (kms), which the driver watches. Disarm settles every flip and releases
 * every pair. */
Bool qelTearFreeArm(qelPresent *present, ScreenPtr screen, qelGe *ge, int numCrtcs);
void qelTearFreeDisarm(qelPresent *present);

/* One pass of the flip cycle, once per main-loop pass while the server
 * owns the VT. */
void qelPresentPass(qelPresent *present);

/* The mode-setting side, with the present record as data: Begin settles
 * the CRTC's flip and chooses what it is to show for a width x height mode
 * at (x, y) of the screen; End says whether the CRTC now shows that choice
 * (shown) while driving some connector (lit); until then the buffers it
 * showed before are kept. Settle settles a CRTC's flip without waiting for
 * the kernel; Off follows a CRTC switched off (release: it has no mode any
 * more, and its pair goes). */
extern const qelScanoutFuncs qelPresentScanoutFuncs;
Bool qelPresentBeginScanout(void *present, uint32_t crtcId, int width, int height, int x,
                            int y, qelScanout *out);
void qelPresentEndScanout(void *present, uint32_t crtcId, Bool shown, Bool lit);
void qelPresentSettleCrtc(void *present, uint32_t crtcId);
void qelPresentCrtcOff(void *present, uint32_t crtcId, Bool release);
/* The CRTCs' rotation shadows (rotation.c), as qelScanoutFuncs names
 * them. */
void *qelPresentShadowAllocate(void *present, uint32_t crtcId, int width, int height);
PixmapPtr qelPresentShadowCreate(void *present, ScreenPtr screen, uint32_t crtcId, void *shadow,
                                 int width, int height);
void qelPresentShadowDestroy(void *present, uint32_t crtcId, Bool setUnderWay);
/* At CloseScreen, before the server's layers close: the shadows' pixmaps
 * go without EXA, whose pixmap records the server has already let go; the
 * server's CRTC layer then destroys the shadows themselves. */
void qelPresentCloseShadows(qelPresent *present);
/* Every CRTC's flip settled: no flip of the screen is in flight for the
 * driver afterwards. */
void qelPresentSettleAll(qelPresent *present);

#endif
