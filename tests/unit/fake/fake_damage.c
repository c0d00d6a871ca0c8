/* SPDX-License-Identifier: MIT */
/* Damage records, the server's empty-region sentinels, and the main loop's
 * descriptor watch. A damage record's region is whatever the test puts in
 * it (fakeDamageRegionOf); the driver only reads and empties it. */
#include "fake_server.h"
#include "fake_internal.h"

#include <stdio.h>
#include <stdlib.h>

#include <damage.h>
#include <regionstr.h>

BoxRec RegionEmptyBox = { 0, 0, 0, 0 };
RegDataRec RegionEmptyData = { 0, 0 };
RegDataRec RegionBrokenData = { 0, 0 };

struct _damage {
    RegionRec region;
    DamageDestroyFunc destroy;
    void *closure;
    DrawablePtr drawable;
};

DamagePtr
DamageCreate(DamageReportFunc damageReport, DamageDestroyFunc damageDestroy,
             DamageReportLevel damageLevel, Bool isInternal, ScreenPtr screen, void *closure)
{
    DamagePtr damage;

    (void) damageReport;
    (void) damageLevel;
    (void) isInternal;
    (void) screen;
    if (fakeCall("DamageCreate"))
        return NULL;
    damage = XNFcallocarray(1, sizeof(*damage));
    RegionNull(&damage->region);
    damage->destroy = damageDestroy;
    damage->closure = closure;
    return damage;
}

void
DamageRegister(DrawablePtr drawable, DamagePtr damage)
{
    fakeCall("DamageRegister");
    damage->drawable = drawable;
}

void
DamageUnregister(DamagePtr damage)
{
    fakeCall("DamageUnregister");
    damage->drawable = NULL;
}

/* Like the server, the destroy callback hears of it first. */
void
DamageDestroy(DamagePtr damage)
{
    fakeCall("DamageDestroy");
    if (damage->destroy)
        damage->destroy(damage, damage->closure);
    RegionUninit(&damage->region);
    free(damage);
}

RegionPtr
DamageRegion(DamagePtr damage)
{
    return &damage->region;
}

RegionPtr
fakeDamageRegionOf(DamagePtr damage)
{
    return &damage->region;
}

void
DamageEmpty(DamagePtr damage)
{
    fakeCall("DamageEmpty");
    RegionEmpty(&damage->region);
}

/* ---- descriptors watched by the main loop ---- */

#define FAKE_MAX_NOTIFY_FDS 8

static fakeNotifyFd notifyFds[FAKE_MAX_NOTIFY_FDS];
static int notifyFdCount;

static int
fakeNotifyFdIndex(int fd)
{
    for (int i = 0; i < notifyFdCount; i++)
        if (notifyFds[i].fd == fd)
            return i;
    return -1;
}

Bool
SetNotifyFd(int fd, NotifyFdProcPtr notify, int mask, void *data)
{
    int index = fakeNotifyFdIndex(fd);

    if (fakeCall("SetNotifyFd"))
        return FALSE;
    if (!notify || mask == X_NOTIFY_NONE) {
        if (index >= 0)
            notifyFds[index] = notifyFds[--notifyFdCount];
        return TRUE;
    }
    if (index < 0) {
        if (notifyFdCount == FAKE_MAX_NOTIFY_FDS) {
            fprintf(stderr, "fake server: too many watched descriptors\n");
            abort();
        }
        index = notifyFdCount++;
    }
    notifyFds[index] = (fakeNotifyFd) { fd, notify, mask, data };
    return TRUE;
}

const fakeNotifyFd *
fakeNotifyFdFind(int fd)
{
    int index = fakeNotifyFdIndex(fd);

    return index < 0 ? NULL : &notifyFds[index];
}

void
fakeNotifyFdsReset(void)
{
    notifyFdCount = 0;
}
