/* SPDX-License-Identifier: MIT */
/* Page-flip events as libdrm reads them, fed through a pipe that stands in
 * for the DRM descriptor: event handling, the matching of an event to its
 * flip, and the drain loop without a device. */
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

#include "tearfree/present.h"

#define CRTC_ID 1

typedef struct eventPipe {
    int fds[2];
    qelPresent *present;
    qelFlipCrtc *crtc;
} eventPipe;

static int
eventPipeSetUp(void **state)
{
    eventPipe *pipeState = test_calloc(1, sizeof(*pipeState));

    assert_int_equal(pipe2(pipeState->fds, O_CLOEXEC | O_NONBLOCK), 0);
    pipeState->present = qelPresentCreate(pipeState->fds[0], 0);
    assert_non_null(pipeState->present);
    pipeState->present->tearFree = TRUE;
    assert_true(qelPresentCreateCrtcs(pipeState->present, 1));
    pipeState->crtc = &pipeState->present->crtcs[0];
    pipeState->crtc->crtcId = CRTC_ID;
    *state = pipeState;
    return 0;
}

static int
eventPipeTearDown(void **state)
{
    eventPipe *pipeState = *state;

    pipeState->present->fd = pipeState->fds[0];
    qelPresentDestroyCrtcs(pipeState->present);
    qelPresentFree(pipeState->present);
    close(pipeState->fds[0]);
    if (pipeState->fds[1] >= 0)
        close(pipeState->fds[1]);
    test_free(pipeState);
    return 0;
}

/* What the flip cycle does when the kernel accepts a flip: the ticket that
 * the flip's event will carry. */
static qelFlipTicket *
requestFlip(eventPipe *pipeState)
{
    qelFlipTicket *ticket = qelFlipTicketCreate(pipeState->present, CRTC_ID);

    assert_non_null(ticket);
    pipeState->crtc->flipPending = TRUE;
    pipeState->crtc->flipSerial = ticket->serial;
    return ticket;
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
    qelFlipCrtc *c = pipeState->crtc;

    queueFlipEvent(pipeState, requestFlip(pipeState));
    qelDrmEventHandler(pipeState->present->fd, X_NOTIFY_READ, NULL);
    assert_int_equal(c->pair.frontIndex, 1);
    assert_false(c->flipPending);

    queueFlipEvent(pipeState, requestFlip(pipeState));
    qelDrmEventHandler(pipeState->present->fd, X_NOTIFY_READ, NULL);
    assert_int_equal(c->pair.frontIndex, 0);
    assert_false(c->flipPending);
    assert_null(pipeState->present->tickets);
}

/* The event of a flip that was settled without it, read after a newer flip
 * of the same CRTC was requested (a mode set, DPMS, resize or VT switch
 * came between): it completes nothing; the newer flip's own event does. */
static void
late_event_of_a_settled_flip_leaves_the_newer_one_pending(void **state)
{
    eventPipe *pipeState = *state;
    qelFlipCrtc *c = pipeState->crtc;
    qelFlipTicket *settled = requestFlip(pipeState);
    qelFlipTicket *newer;

    c->flipPending = FALSE;
    newer = requestFlip(pipeState);
    queueFlipEvent(pipeState, settled);
    qelDrmEventHandler(pipeState->present->fd, X_NOTIFY_READ, NULL);
    assert_true(c->flipPending);
    assert_int_equal(c->pair.frontIndex, 0);

    queueFlipEvent(pipeState, newer);
    qelDrmEventHandler(pipeState->present->fd, X_NOTIFY_READ, NULL);
    assert_false(c->flipPending);
    assert_int_equal(c->pair.frontIndex, 1);
}

static void
resolution_consumes_a_queued_event(void **state)
{
    eventPipe *pipeState = *state;
    qelFlipCrtc *c = pipeState->crtc;

    queueFlipEvent(pipeState, requestFlip(pipeState));
    qelPresentSettleCrtc(pipeState->present, CRTC_ID);
    assert_int_equal(c->pair.frontIndex, 1);
    assert_false(c->flipPending);
}

/* A descriptor that polls readable while every read fails (a directory:
 * read gives EISDIR) must not keep the drain loop spinning; the CRTC query
 * then fails too and leaves frontIndex alone. */
static void
resolution_stops_draining_when_reading_fails(void **state)
{
    eventPipe *pipeState = *state;
    qelFlipCrtc *c = pipeState->crtc;
    int directory = open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);

    assert_true(directory >= 0);
    pipeState->present->fd = directory;
    requestFlip(pipeState);
    qelPresentSettleCrtc(pipeState->present, CRTC_ID);
    assert_false(c->flipPending);
    assert_int_equal(c->pair.frontIndex, 0);
    close(directory);
}

static void
resolution_without_a_pending_flip_reads_nothing(void **state)
{
    eventPipe *pipeState = *state;
    qelFlipCrtc *c = pipeState->crtc;
    struct drm_event_vblank event;

    queueFlipEvent(pipeState, requestFlip(pipeState));
    c->flipPending = FALSE;
    qelPresentSettleCrtc(pipeState->present, CRTC_ID);
    assert_int_equal(c->pair.frontIndex, 0);
    assert_int_equal(read(pipeState->fds[0], &event, sizeof(event)), sizeof(event));
}

int
main(void)
{
    const struct CMUnitTest tests[] = {
        cmocka_unit_test_setup_teardown(event_completes_the_pending_flip_once,
                                        eventPipeSetUp, eventPipeTearDown),
        cmocka_unit_test_setup_teardown(late_event_of_a_settled_flip_leaves_the_newer_one_pending,
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
