/* SPDX-License-Identifier: MIT */
/* The server's clock and timers, and the Present extension's entry points
 * for drivers. Time stands still until a test moves it; moving it runs the
 * timers that came due, in order, as the server's main loop does. */
#include "fake_server.h"
#include "fake_internal.h"

#include <stdlib.h>

#include <present.h>

struct _OsTimerRec {
    OsTimerCallback callback;
    void *arg;
    CARD64 expires; /* microseconds */
    Bool armed;
    struct _OsTimerRec *next;
};

uint32_t FakeScreenFps;

static CARD64 nowUs = 1000000;
static OsTimerPtr timers;
static fakePresentNotify notifications[FAKE_MAX_PRESENT_NOTIFIES];
static int notificationCount;

CARD64
GetTimeInMicros(void)
{
    return nowUs;
}

CARD32
GetTimeInMillis(void)
{
    return (CARD32) (nowUs / 1000);
}

OsTimerPtr
TimerSet(OsTimerPtr timer, int flags, CARD32 millis, OsTimerCallback func, void *arg)
{
    if (!timer) {
        if (fakeCall("TimerSet"))
            return NULL;
        timer = calloc(1, sizeof(*timer));
        if (!timer)
            return NULL;
        timer->next = timers;
        timers = timer;
    }
    timer->callback = func;
    timer->arg = arg;
    timer->expires = (flags & TimerAbsolute) ? (CARD64) millis * 1000 : nowUs + millis * 1000ull;
    timer->armed = TRUE;
    return timer;
}

void
TimerCancel(OsTimerPtr timer)
{
    if (timer)
        timer->armed = FALSE;
}

void
TimerFree(OsTimerPtr timer)
{
    if (!timer)
        return;
    for (OsTimerPtr *link = &timers; *link; link = &(*link)->next) {
        if (*link == timer) {
            *link = timer->next;
            break;
        }
    }
    free(timer);
}

/* The armed timer that expires first by LIMIT, or NULL. */
static OsTimerPtr
fakeFirstDue(CARD64 limit)
{
    OsTimerPtr first = NULL;

    for (OsTimerPtr t = timers; t; t = t->next)
        if (t->armed && t->expires <= limit && (!first || t->expires < first->expires))
            first = t;
    return first;
}

void
fakeTimeAdvance(CARD64 micros)
{
    CARD64 end = nowUs + micros;
    OsTimerPtr timer;

    while ((timer = fakeFirstDue(end))) {
        CARD32 again;

        if (timer->expires > nowUs)
            nowUs = timer->expires;
        timer->armed = FALSE;
        again = timer->callback(timer, GetTimeInMillis(), timer->arg);
        if (again)
            TimerSet(timer, 0, again, timer->callback, timer->arg);
    }
    nowUs = end;
}

int
fakeTimersArmed(void)
{
    int count = 0;

    for (OsTimerPtr t = timers; t; t = t->next)
        count += t->armed;
    return count;
}

int
fakeTimersLive(void)
{
    int count = 0;

    for (OsTimerPtr t = timers; t; t = t->next)
        count++;
    return count;
}

void
present_event_notify(uint64_t event_id, uint64_t ust, uint64_t msc)
{
    if (notificationCount < FAKE_MAX_PRESENT_NOTIFIES)
        notifications[notificationCount++] = (fakePresentNotify) { event_id, ust, msc };
}

int
fakePresentNotifyCount(void)
{
    return notificationCount;
}

const fakePresentNotify *
fakePresentNotifyAt(int index)
{
    return index >= 0 && index < notificationCount ? &notifications[index] : NULL;
}

Bool
present_screen_init(ScreenPtr screen, present_screen_info_ptr info)
{
    (void) screen;
    (void) info;
    return !fakeCall("present_screen_init");
}

RROutputPtr
RRFirstOutput(ScreenPtr screen)
{
    (void) screen;
    return NULL;
}

void
fakePresentReset(void)
{
    while (timers)
        TimerFree(timers);
    nowUs = 1000000;
    notificationCount = 0;
    FakeScreenFps = 0;
}
