// SPDX-License-Identifier: MIT
#include "ioctl_table.h"

#include "ioctl_handlers.h"

#include <drm/tx3120_drm.h>

#include <array>

namespace qelsim {
namespace {

const IoctlEntry entries[] = {
    {DRM_IOCTL_VERSION, "VERSION", 0, ioctlVersion},
    {DRM_IOCTL_GET_UNIQUE, "GET_UNIQUE", 0, ioctlGetUnique},
    {DRM_IOCTL_GET_MAGIC, "GET_MAGIC", 0, ioctlGetMagic},
    {DRM_IOCTL_AUTH_MAGIC, "AUTH_MAGIC", masterOnly, ioctlAuthMagic},
    {DRM_IOCTL_GET_CAP, "GET_CAP", 0, ioctlGetCap},
    {DRM_IOCTL_SET_CLIENT_CAP, "SET_CLIENT_CAP", 0, ioctlSetClientCap},
    {DRM_IOCTL_SET_MASTER, "SET_MASTER", 0, ioctlSetMaster},
    {DRM_IOCTL_DROP_MASTER, "DROP_MASTER", 0, ioctlDropMaster},
    {DRM_IOCTL_SET_VERSION, "SET_VERSION", masterOnly, ioctlSetVersion},
    {DRM_IOCTL_GEM_CLOSE, "GEM_CLOSE", 0, ioctlGemClose},
    {DRM_IOCTL_MODE_CREATE_DUMB, "MODE_CREATE_DUMB", 0, ioctlCreateDumb},
    {DRM_IOCTL_MODE_MAP_DUMB, "MODE_MAP_DUMB", 0, ioctlMapDumb},
    {DRM_IOCTL_MODE_DESTROY_DUMB, "MODE_DESTROY_DUMB", 0, ioctlDestroyDumb},
    {DRM_IOCTL_MODE_GETRESOURCES, "MODE_GETRESOURCES", 0, ioctlGetResources},
    {DRM_IOCTL_MODE_GETCRTC, "MODE_GETCRTC", 0, ioctlGetCrtc},
    {DRM_IOCTL_MODE_GETENCODER, "MODE_GETENCODER", 0, ioctlGetEncoder},
    {DRM_IOCTL_MODE_GETCONNECTOR, "MODE_GETCONNECTOR", 0, ioctlGetConnector},
    {DRM_IOCTL_MODE_GETPLANERESOURCES, "MODE_GETPLANERESOURCES", 0, ioctlGetPlaneResources},
    {DRM_IOCTL_MODE_GETPLANE, "MODE_GETPLANE", 0, ioctlGetPlane},
    {DRM_IOCTL_MODE_LIST_LESSEES, "MODE_LIST_LESSEES", 0, ioctlListLessees},
    {DRM_IOCTL_MODE_GETPROPERTY, "MODE_GETPROPERTY", 0, ioctlGetProperty},
    {DRM_IOCTL_MODE_GETPROPBLOB, "MODE_GETPROPBLOB", 0, ioctlGetPropBlob},
    {DRM_IOCTL_MODE_OBJ_GETPROPERTIES, "MODE_OBJ_GETPROPERTIES", 0, ioctlObjGetProperties},
    {DRM_IOCTL_MODE_OBJ_SETPROPERTY, "MODE_OBJ_SETPROPERTY", masterOnly, ioctlObjSetProperty},
    {DRM_IOCTL_MODE_SETPROPERTY, "MODE_SETPROPERTY", masterOnly, ioctlConnectorSetProperty},
    {DRM_IOCTL_MODE_SETCRTC, "MODE_SETCRTC", masterOnly, ioctlSetCrtc},
    {DRM_IOCTL_MODE_CURSOR, "MODE_CURSOR", masterOnly, ioctlCursor},
    {DRM_IOCTL_MODE_CURSOR2, "MODE_CURSOR2", masterOnly, ioctlCursor2},
    {DRM_IOCTL_MODE_GETGAMMA, "MODE_GETGAMMA", 0, ioctlGetGamma},
    {DRM_IOCTL_MODE_SETGAMMA, "MODE_SETGAMMA", masterOnly, ioctlSetGamma},
    {DRM_IOCTL_MODE_ADDFB, "MODE_ADDFB", 0, ioctlAddFb},
    {DRM_IOCTL_MODE_ADDFB2, "MODE_ADDFB2", 0, ioctlAddFb2},
    {DRM_IOCTL_MODE_RMFB, "MODE_RMFB", 0, ioctlRmFb},
    {DRM_IOCTL_MODE_DIRTYFB, "MODE_DIRTYFB", masterOnly, ioctlDirtyFb},
    {DRM_IOCTL_MODE_GETFB, "MODE_GETFB", 0, ioctlGetFb},
    {DRM_IOCTL_MODE_PAGE_FLIP, "MODE_PAGE_FLIP", masterOnly, ioctlPageFlip},
    {DRM_IOCTL_WAIT_VBLANK, "WAIT_VBLANK", 0, ioctlWaitVblank},
    {DRM_IOCTL_CRTC_GET_SEQUENCE, "CRTC_GET_SEQUENCE", 0, ioctlGetSequence},
    {DRM_IOCTL_CRTC_QUEUE_SEQUENCE, "CRTC_QUEUE_SEQUENCE", 0, ioctlQueueSequence},
    {DRM_IOCTL_MODE_ATOMIC, "MODE_ATOMIC", masterOnly, ioctlAtomic},
    {DRM_IOCTL_TX3120_GE_SUBMIT, "GE_SUBMIT", geIoctl, nullptr},
    {DRM_IOCTL_TX3120_GE_WAIT, "GE_WAIT", geIoctl, nullptr},
};

} // namespace

const IoctlEntry *findIoctl(unsigned nr)
{
    for (const auto &e : entries)
        if (_IOC_NR(e.cmd) == nr)
            return &e;
    return nullptr;
}

} // namespace qelsim
