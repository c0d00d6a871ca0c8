/* Page-flip events as libdrm reads them, fed through a pipe that stands in
 * for the DRM descriptor: event handling and the drain loop without a
 * device. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <setjmp.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <unistd.h>

#include <cmocka.h>
#include <xf86drm.h>

#include "driver/qel.h"
#include "tearfree/tearfree.h"

typedef struct eventPipe {
    int fds[2];
    qelScreenPriv priv;
} eventPipe;

static int
eventPipeSetUp(void **state)
{
    eventPipe *pipeState = test_calloc(1, sizeof(*pipeState));

    assert_int_equal(pipe2(pipeState->fds, O_CLOEXEC | O_NONBLOCK), 0);
    pipeState->priv.fd = pipeState->fds[0];
    pipeState->priv.flipCrtcId = 1;
    *state = pipeState;
    return 0;
}

static int
eventPipeTearDown(void **state)
{
    eventPipe *pipeState = *state;

    close(pipeState->fds[0]);
    if (pipeState->fds[1] >= 0)
        close(pipeState->fds[1]);
    test_free(pipeState);
    return 0;
}

static void
queueFlipEvent(eventPipe *pipeState, void *userData)
{
    struct drm_event_vblank event = {
        .base = { .type = DRM_EVENT_FLIP_COMPLETE, .length = sizeof(event) },
        .user_data = (uint64_t) (uintptr_t) userData,
        .sequence = 42,
    };

    assert_int_equal(write(pipeState->fds[1], &event, sizeof(event)), sizeof(event));
}

static void
event_completes_the_pending_flip_once(void **state)
{
    eventPipe *pipeState = *state;
    qelScreenPriv *priv = &pipeState->priv;

    priv->flipPending = TRUE;
    queueFlipEvent(pipeState, priv);
    qelDrmEventHandler(priv->fd, X_NOTIFY_READ, NULL);
    assert_int_equal(priv->frontIndex, 1);
    assert_false(priv->flipPending);

    priv->flipPending = TRUE;
    queueFlipEvent(pipeState, priv);
    qelDrmEventHandler(priv->fd, X_NOTIFY_READ, NULL);
    assert_int_equal(priv->frontIndex, 0);
    assert_false(priv->flipPending);
}

/* The event of a flip that resolution has already settled. */
static void
event_without_a_pending_flip_changes_nothing(void **state)
{
    eventPipe *pipeState = *state;
    qelScreenPriv *priv = &pipeState->priv;

    priv->frontIndex = 1;
    queueFlipEvent(pipeState, priv);
    qelDrmEventHandler(priv->fd, X_NOTIFY_READ, NULL);
    assert_int_equal(priv->frontIndex, 1);
    assert_false(priv->flipPending);
}

static void
resolution_consumes_a_queued_event(void **state)
{
    eventPipe *pipeState = *state;
    qelScreenPriv *priv = &pipeState->priv;

    priv->flipPending = TRUE;
    queueFlipEvent(pipeState, priv);
    qelResolvePendingFlip(priv);
    assert_int_equal(priv->frontIndex, 1);
    assert_false(priv->flipPending);
}

/* A descriptor that polls readable while every read fails (a directory:
 * read gives EISDIR) must not keep the drain loop spinning; the CRTC query
 * then fails too and leaves frontIndex alone. */
static void
resolution_stops_draining_when_reading_fails(void **state)
{
    eventPipe *pipeState = *state;
    qelScreenPriv *priv = &pipeState->priv;
    int directory = open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);

    assert_true(directory >= 0);
    priv->fd = directory;
    priv->flipPending = TRUE;
    qelResolvePendingFlip(priv);
    assert_false(priv->flipPending);
    assert_int_equal(priv->frontIndex, 0);
    close(directory);
}

static void
resolution_without_a_pending_flip_reads_nothing(void **state)
{
    eventPipe *pipeState = *state;
    qelScreenPriv *priv = &pipeState->priv;
    struct drm_event_vblank event;

    priv->frontIndex = 1;
    queueFlipEvent(pipeState, priv);
    qelResolvePendingFlip(priv);
    assert_int_equal(priv->frontIndex, 1);
    assert_int_equal(read(pipeState->fds[0], &event, sizeof(event)), sizeof(event));
}

int
main(void)
{
    const struct CMUnitTest tests[] = {
        cmocka_unit_test_setup_teardown(event_completes_the_pending_flip_once,
                                        eventPipeSetUp, eventPipeTearDown),
        cmocka_unit_test_setup_teardown(event_without_a_pending_flip_changes_nothing,
                                        eventPipeSetUp, eventPipeTearDown),
        cmocka_unit_test_setup_teardown(resolution_consumes_a_queued_event,
                                        eventPipeSetUp, eventPipeTearDown),
        cmocka_unit_test_setup_teardown(resolution_stops_draining_when_reading_fails,
                                        eventPipeSetUp, eventPipeTearDown),
        cmocka_unit_test_setup_teardown(resolution_without_a_pending_flip_reads_nothing,
                                        eventPipeSetUp, eventPipeTearDown),
    };

    return cmocka_run_group_tests(tests, NULL, NULL);
}
