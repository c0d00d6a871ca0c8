/* SPDX-License-Identifier: MIT */
/* The per-screen record: its creation, and its release by FreeScreen with
 * a descriptor the driver opened, one the server manages, or none. */
#include <errno.h>
#include <fcntl.h>
#include <setjmp.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <cmocka.h>

#include "driver/qel.h"
#include "fake_server.h"

static int
resetServer(void **state)
{
    (void) state;
    fakeReset();
    return 0;
}

static ScrnInfoPtr
probedScreen(void)
{
    int entity = fakeEntityAddPlatform(NULL, 0, "/dev/dri/card0", -1);

    assert_true(QEL.platformProbe(&QEL, entity, 0, NULL, 0));
    return fakeScreenAt(fakeScreenCount() - 1);
}

static Bool
isOpen(int fd)
{
    return fcntl(fd, F_GETFD) != -1 || errno != EBADF;
}

/* A record as PreInit leaves it, around the given descriptor. */
static qelScreenPriv *
preInitialisedPriv(ScrnInfoPtr scrn, int fd, Bool ownsFd)
{
    qelScreenPriv *priv = qelScreenPrivCreate(scrn);

    priv->fd = fd;
    priv->ownsFd = ownsFd;
    priv->devicePath = ownsFd ? strdup("/dev/dri/card0") : NULL;
    priv->options = malloc(sizeof(qelOptions));
    memcpy(priv->options, qelOptions, sizeof(qelOptions));
    return priv;
}

static void
new_record_is_empty_with_no_descriptor(void **state)
{
    ScrnInfoPtr scrn = probedScreen();
    qelScreenPriv *priv = qelScreenPrivCreate(scrn);
    qelScreenPriv empty;

    (void) state;
    assert_non_null(priv);
    assert_ptr_equal(scrn->driverPrivate, priv);
    assert_int_equal(priv->fd, -1);
    memset(&empty, 0, sizeof(empty));
    empty.fd = -1;
    assert_memory_equal(priv, &empty, sizeof(empty));
}

static void
free_screen_closes_a_descriptor_the_driver_opened(void **state)
{
    ScrnInfoPtr scrn = probedScreen();
    int fd = open("/dev/null", O_RDWR | O_CLOEXEC);

    (void) state;
    assert_true(fd >= 0);
    preInitialisedPriv(scrn, fd, TRUE);
    scrn->FreeScreen(scrn);
    assert_false(isOpen(fd));
    assert_null(scrn->driverPrivate);
}

static void
free_screen_leaves_the_servers_descriptor_open(void **state)
{
    ScrnInfoPtr scrn = probedScreen();
    int pipeFds[2];

    (void) state;
    assert_int_equal(pipe(pipeFds), 0);
    preInitialisedPriv(scrn, pipeFds[0], FALSE);
    scrn->FreeScreen(scrn);
    assert_true(isOpen(pipeFds[0]));
    assert_null(scrn->driverPrivate);
    close(pipeFds[0]);
    close(pipeFds[1]);
}

/* With no device opened, FreeScreen must not close whatever descriptor
 * happens to be 0 or any other number. */
static void
free_screen_without_a_device_closes_nothing(void **state)
{
    ScrnInfoPtr scrn = probedScreen();
    int pipeFds[2];
    qelScreenPriv *priv;

    (void) state;
    assert_int_equal(pipe(pipeFds), 0);
    priv = qelScreenPrivCreate(scrn);
    priv->ownsFd = TRUE;
    scrn->FreeScreen(scrn);
    assert_true(isOpen(0));
    assert_true(isOpen(pipeFds[0]));
    assert_true(isOpen(pipeFds[1]));
    assert_null(scrn->driverPrivate);
    close(pipeFds[0]);
    close(pipeFds[1]);
}

static void
free_screen_without_a_record_does_nothing(void **state)
{
    ScrnInfoPtr scrn = probedScreen();

    (void) state;
    scrn->FreeScreen(scrn);
    assert_null(scrn->driverPrivate);
    qelScreenPrivCreate(scrn);
    scrn->FreeScreen(scrn);
    scrn->FreeScreen(scrn);
    assert_null(scrn->driverPrivate);
    assert_int_equal(fakeMessageCount(), 0);
}

int
main(void)
{
    const struct CMUnitTest tests[] = {
        cmocka_unit_test_teardown(new_record_is_empty_with_no_descriptor, resetServer),
        cmocka_unit_test_teardown(free_screen_closes_a_descriptor_the_driver_opened,
                                  resetServer),
        cmocka_unit_test_teardown(free_screen_leaves_the_servers_descriptor_open, resetServer),
        cmocka_unit_test_teardown(free_screen_without_a_device_closes_nothing, resetServer),
        cmocka_unit_test_teardown(free_screen_without_a_record_does_nothing, resetServer),
    };

    return cmocka_run_group_tests(tests, NULL, NULL);
}
