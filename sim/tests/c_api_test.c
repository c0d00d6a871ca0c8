/* SPDX-License-Identifier: MIT */
/* The simulator as a C unit test uses it: linked as a shared library,
 * configured and queried through qelsim.h, answering plain ioctl(). */
#include "qelsim.h"

#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <xf86drm.h>

static int failures;

static void check(int ok, const char *what)
{
    if (!ok) {
        fprintf(stderr, "FAILED: %s\n", what);
        ++failures;
    }
}

int main(void)
{
    char reply[4096];
    check(qelsim_configure("[device]\nvblank = manual\npitch_align = 128\n") == 0, "configure");
    int fd = open("/dev/dri/card0", O_RDWR | O_CLOEXEC);
    check(fd >= 0, "open the node");

    struct drm_mode_create_dumb req;
    memset(&req, 0, sizeof req);
    req.width = 10;
    req.height = 2;
    req.bpp = 32;
    check(ioctl(fd, DRM_IOCTL_MODE_CREATE_DUMB, &req) == 0, "create a dumb buffer");
    check(req.pitch == 128 && req.size == 256, "pitch padded to 128");

    check(qelsim_command("counters", reply, sizeof reply) == 0, "counters succeed");
    check(strstr(reply, "live_dumb_buffers=1\n") != NULL, "one live buffer");
    check(qelsim_command("nonsense", reply, sizeof reply) == -1, "unknown request fails");
    check(strcmp(reply, "error unknown request: nonsense\n") == 0, "error reply text");
    check(qelsim_command("counters", reply, 8) == 0 && strlen(reply) == 7, "reply truncated");

    close(fd);
    check(qelsim_command("counters", reply, sizeof reply) == 0 &&
              strstr(reply, "live_dumb_buffers=0\n") != NULL,
          "close releases the buffer");
    return failures ? 1 : 0;
}
