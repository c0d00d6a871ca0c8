// SPDX-License-Identifier: MIT
// The DRM ioctls the device answers, one handler each (see ioctl_table.cpp).
#pragma once

#include "ioctl_call.h"

namespace qelsim {

// Core
int ioctlVersion(IoctlCall &, void *);
int ioctlGetUnique(IoctlCall &, void *);
int ioctlGetMagic(IoctlCall &, void *);
int ioctlAuthMagic(IoctlCall &, void *);
int ioctlGetCap(IoctlCall &, void *);
int ioctlSetClientCap(IoctlCall &, void *);
int ioctlSetMaster(IoctlCall &, void *);
int ioctlDropMaster(IoctlCall &, void *);
int ioctlSetVersion(IoctlCall &, void *);
int ioctlGemClose(IoctlCall &, void *);

// Dumb buffers
int ioctlCreateDumb(IoctlCall &, void *);
int ioctlMapDumb(IoctlCall &, void *);
int ioctlDestroyDumb(IoctlCall &, void *);

// Resources
int ioctlGetResources(IoctlCall &, void *);
int ioctlGetCrtc(IoctlCall &, void *);
int ioctlGetEncoder(IoctlCall &, void *);
int ioctlGetConnector(IoctlCall &, void *);
int ioctlGetPlaneResources(IoctlCall &, void *);
int ioctlGetPlane(IoctlCall &, void *);
int ioctlListLessees(IoctlCall &, void *);

// Properties
int ioctlGetProperty(IoctlCall &, void *);
int ioctlGetPropBlob(IoctlCall &, void *);
int ioctlObjGetProperties(IoctlCall &, void *);
int ioctlObjSetProperty(IoctlCall &, void *);
int ioctlConnectorSetProperty(IoctlCall &, void *);

// Mode setting
int ioctlSetCrtc(IoctlCall &, void *);
int ioctlCursor(IoctlCall &, void *);
int ioctlCursor2(IoctlCall &, void *);
int ioctlGetGamma(IoctlCall &, void *);
int ioctlSetGamma(IoctlCall &, void *);

// Framebuffers
int ioctlAddFb(IoctlCall &, void *);
int ioctlAddFb2(IoctlCall &, void *);
int ioctlRmFb(IoctlCall &, void *);
int ioctlDirtyFb(IoctlCall &, void *);
int ioctlGetFb(IoctlCall &, void *);

// Flips and vblanks
int ioctlPageFlip(IoctlCall &, void *);
int ioctlWaitVblank(IoctlCall &, void *);
int ioctlGetSequence(IoctlCall &, void *);
int ioctlQueueSequence(IoctlCall &, void *);
int ioctlAtomic(IoctlCall &, void *);

} // namespace qelsim
