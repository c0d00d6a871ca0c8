/* SPDX-License-Identifier: MIT */
/* Screen records as the server's AddScreen makes them, their link to the
 * ScrnInfoRec (xf86ScreenToScrn), and the server's generation and serial
 * counters. */
#include "fake_screen_internal.h"
#include "fake_internal.h"

#include <stdio.h>
#include <stdlib.h>

#define FAKE_MAX_SCREEN_RECORDS 8

typedef struct fakeScreenSlot {
    ScreenPtr screen;
    ScrnInfoPtr scrn;
    fakeFbScreenArgs fb;
} fakeScreenSlot;

static fakeScreenSlot slots[FAKE_MAX_SCREEN_RECORDS];

unsigned long serverGeneration = 1;
unsigned long globalSerialNumber;

static fakeScreenSlot *
fakeSlotOf(ScreenPtr screen)
{
    for (int i = 0; i < FAKE_MAX_SCREEN_RECORDS; i++)
        if (screen && slots[i].screen == screen)
            return &slots[i];
    return NULL;
}

ScreenPtr
fakeScreenCreate(ScrnInfoPtr scrn)
{
    fakeScreenSlot *slot = fakeSlotOf(NULL);

    for (int i = 0; !slot && i < FAKE_MAX_SCREEN_RECORDS; i++)
        if (!slots[i].screen)
            slot = &slots[i];
    if (!slot) {
        fprintf(stderr, "fake server: too many screen records\n");
        abort();
    }
    slot->screen = XNFcallocarray(1, sizeof(ScreenRec));
    slot->screen->myNum = scrn->scrnIndex;
    slot->screen->devPrivates = XNFcallocarray(FAKE_SCREEN_PRIVATE_SLOTS, sizeof(void *));
    slot->scrn = scrn;
    slot->fb = (fakeFbScreenArgs) { 0 };
    return slot->screen;
}

void
fakeScreenFree(ScreenPtr screen)
{
    fakeScreenSlot *slot = fakeSlotOf(screen);

    if (!slot)
        return;
    /* What a CloseScreen that never ran would have freed. */
    free(screen->visuals);
    free(screen->devPrivates);
    free(screen);
    *slot = (fakeScreenSlot) { 0 };
}

ScrnInfoPtr
xf86ScreenToScrn(ScreenPtr screen)
{
    fakeScreenSlot *slot = fakeSlotOf(screen);

    /* The server asserts here; a driver that passes a foreign screen is
     * broken either way. */
    if (!slot) {
        fprintf(stderr, "fake server: xf86ScreenToScrn of an unknown screen\n");
        abort();
    }
    return slot->scrn;
}

fakeFbScreenArgs *
fakeScreenFbArgs(ScreenPtr screen)
{
    fakeScreenSlot *slot = fakeSlotOf(screen);

    return slot ? &slot->fb : NULL;
}

const fakeFbScreenArgs *
fakeFbScreenInitArgs(ScreenPtr screen)
{
    return fakeScreenFbArgs(screen);
}

void
fakeScreenLayersReset(void)
{
    for (int i = 0; i < FAKE_MAX_SCREEN_RECORDS; i++)
        if (slots[i].screen)
            fakeScreenFree(slots[i].screen);
    fakePixmapsReset();
    fakeMiReset();
    fakeScreenHelpersReset();
    serverGeneration = 1;
    globalSerialNumber = 0;
}
