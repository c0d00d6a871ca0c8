/* SPDX-License-Identifier: MIT */
#include "screen_fixture.h"

#include <errno.h>
#include <fcntl.h>
#include <setjmp.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <cmocka.h>

#include "qelsim.h"

void
simUse(const char *description)
{
    if (qelsim_configure(description) != 0)
        fail_msg("the simulator refused the description:\n%s", description);
}

Bool
simRequest(const char *request)
{
    char reply[4096];

    return qelsim_command(request, reply, sizeof(reply)) == 0;
}

GDevPtr
deviceSectionWith(const char *name, const char *value)
{
    return fakeDeviceSectionCreate(name ? fakeOptionAdd(NULL, name, value) : NULL);
}

ScrnInfoPtr
probeScreen(int entity)
{
    assert_true(QEL.platformProbe(&QEL, entity, 0, NULL, 0));
    return fakeScreenAt(fakeScreenCount() - 1);
}

ScrnInfoPtr
screenWithDevice(const char *node)
{
    ScrnInfoPtr scrn = probeScreen(fakeEntityAddPlatform(NULL, 0, node, -1));
    qelScreenPriv *priv = qelScreenPrivCreate(scrn);

    priv->fd = open(node, O_RDWR | O_CLOEXEC);
    if (priv->fd < 0)
        fail_msg("cannot open %s: %s", node, strerror(errno));
    priv->ownsFd = TRUE;
    priv->kms.fd = priv->fd;
    priv->kms.ownsFd = TRUE;
    return scrn;
}

Bool
preInitKms(ScrnInfoPtr scrn)
{
    return qelPreInitKms(scrn, &qelScreenPrivFromScrn(scrn)->kms, &qelCrtcConfigFuncs);
}

xf86CrtcConfigPtr
screenConfig(ScrnInfoPtr scrn)
{
    return XF86_CRTC_CONFIG_PTR(scrn);
}

void
expectMessage(int index, int level, int scrnIndex, const char *text)
{
    const fakeMessage *message = fakeMessageAt(index);

    if (!message)
        fail_msg("no message %d; expected \"%s\"", index, text);
    assert_string_equal(message->text, text);
    assert_int_equal(message->level, level);
    assert_int_equal(message->scrnIndex, scrnIndex);
}

void
expectMessageCount(int count)
{
    if (fakeMessageCount() != count) {
        for (int i = 0; i < fakeMessageCount(); i++)
            print_message("message %d: %s", i, fakeMessageAt(i)->text);
        fail_msg("%d messages, expected %d", fakeMessageCount(), count);
    }
}

Bool
fdIsOpen(int fd)
{
    return fcntl(fd, F_GETFD) != -1 || errno != EBADF;
}

int
resetFakeServer(void **state)
{
    (void) state;
    fakeReset();
    return 0;
}
