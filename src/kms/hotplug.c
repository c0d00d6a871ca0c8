/* SPDX-License-Identifier: MIT */
/* Output hotplug. The kernel announces that a display was plugged into a
 * connector of the device, or pulled out, with a "change" uevent carrying
 * HOTPLUG=1 on the device's node. A udev monitor in the server's main loop
 * receives them; each one has every output detected again and RandR tells
 * its clients, so that a desktop hears of the change without polling. */
#include "kms/kms.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <libudev.h>

struct qelHotplug {
    ScrnInfoPtr scrn;
    dev_t devnum;
    struct udev *udev;
    struct udev_monitor *monitor;
    void *handler;
};

static Bool
qelIsHotplugOf(const qelHotplug *hotplug, struct udev_device *device)
{
    const char *action = udev_device_get_action(device);
    const char *value = udev_device_get_property_value(device, "HOTPLUG");

    return udev_device_get_devnum(device) == hotplug->devnum && action &&
           strcmp(action, "change") == 0 && value && strcmp(value, "1") == 0;
}

/* Every pending uevent is taken off the socket, even when none is ours or
 * the VT is away, so that the main loop does not wake for them again. */
static void
qelHotplugRead(int fd, void *data)
{
    qelHotplug *hotplug = data;
    struct udev_device *device;
    Bool changed = FALSE;

    (void) fd;
    while ((device = udev_monitor_receive_device(hotplug->monitor))) {
        changed |= qelIsHotplugOf(hotplug, device);
        udev_device_unref(device);
    }
    if (changed)
        qelHotplugRedetect(hotplug->scrn);
}

static void
qelReportStatusChanges(ScrnInfoPtr scrn, const xf86OutputStatus *before)
{
    xf86CrtcConfigPtr config = XF86_CRTC_CONFIG_PTR(scrn);

    for (int i = 0; i < config->num_output; i++) {
        xf86OutputPtr output = config->output[i];

        if (output->status == before[i])
            continue;
        xf86DrvMsg(scrn->scrnIndex, X_INFO, "Hotplug: output %s %s\n", output->name,
                   output->status == XF86OutputStatusDisconnected ? "disconnected"
                                                                 : "connected");
    }
}

void
qelHotplugRedetect(ScrnInfoPtr scrn)
{
    xf86CrtcConfigPtr config = XF86_CRTC_CONFIG_PTR(scrn);
    xf86OutputStatus *before;

    /* While the VT is away another session owns the displays; the server's
     * RandR layer detects every output again when the VT comes back. */
    if (!scrn->vtSema || !scrn->pScreen)
        return;
    before = calloc(config->num_output > 0 ? (size_t) config->num_output : 1, sizeof(*before));
    for (int i = 0; before && i < config->num_output; i++)
        before[i] = config->output[i]->status;
    /* Probes every output; an output that lost its display keeps its CRTC
     * until a client changes the configuration. */
    RRGetInfo(scrn->pScreen, TRUE);
    if (before)
        qelReportStatusChanges(scrn, before);
    free(before);
}

static void
qelHotplugFree(qelHotplug *hotplug)
{
    if (hotplug->monitor)
        udev_monitor_unref(hotplug->monitor);
    if (hotplug->udev)
        udev_unref(hotplug->udev);
    free(hotplug);
}

/* The monitor hears udev's copy of the kernel's uevents for DRM nodes; the
 * node's number picks the device's own. NULL when it listens, else why
 * not. */
static const char *
qelHotplugListen(qelHotplug *hotplug, int fd)
{
    struct stat st;
    int err;

    if (fstat(fd, &st) != 0)
        return strerror(errno);
    hotplug->devnum = st.st_rdev;
    hotplug->udev = udev_new();
    if (!hotplug->udev)
        return "no udev context";
    hotplug->monitor = udev_monitor_new_from_netlink(hotplug->udev, "udev");
    if (!hotplug->monitor)
        return strerror(errno);
    err = udev_monitor_filter_add_match_subsystem_devtype(hotplug->monitor, "drm", "drm_minor");
    if (err == 0)
        err = udev_monitor_enable_receiving(hotplug->monitor);
    if (err < 0)
        return strerror(-err);
    hotplug->handler = xf86AddGeneralHandler(udev_monitor_get_fd(hotplug->monitor),
                                             qelHotplugRead, hotplug);
    return hotplug->handler ? NULL : "the main loop refused its descriptor";
}

qelHotplug *
qelHotplugStart(ScrnInfoPtr scrn, int fd)
{
    qelHotplug *hotplug = calloc(1, sizeof(*hotplug));
    const char *failure = hotplug ? NULL : strerror(ENOMEM);

    if (hotplug) {
        hotplug->scrn = scrn;
        failure = qelHotplugListen(hotplug, fd);
    }
    if (!failure)
        return hotplug;
    xf86DrvMsg(scrn->scrnIndex, X_WARNING,
               "Output hotplug is off: no udev monitor of the device's uevents (%s); "
               "outputs are detected again only when a client asks\n", failure);
    if (hotplug)
        qelHotplugFree(hotplug);
    return NULL;
}

void
qelHotplugStop(qelHotplug *hotplug)
{
    if (!hotplug)
        return;
    xf86RemoveGeneralHandler(hotplug->handler);
    qelHotplugFree(hotplug);
}
