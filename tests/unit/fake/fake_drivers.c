/* SPDX-License-Identifier: MIT */
/* Driver registration through the loader's setup call. */
#include "fake_server.h"
#include "fake_internal.h"

#include <stdio.h>
#include <stdlib.h>

#define FAKE_MAX_DRIVERS 8

static fakeAddedDriver drivers[FAKE_MAX_DRIVERS];
static int driverCount;

void
xf86AddDriver(DriverPtr driver, void *module, int flags)
{
    if (driverCount == FAKE_MAX_DRIVERS) {
        fprintf(stderr, "fake server: too many drivers\n");
        abort();
    }
    fakeCall("xf86AddDriver");
    drivers[driverCount++] = (fakeAddedDriver) { driver, module, flags };
}

int
fakeAddedDriverCount(void)
{
    return driverCount;
}

const fakeAddedDriver *
fakeAddedDriverAt(int index)
{
    if (index < 0 || index >= driverCount)
        return NULL;
    return &drivers[index];
}

void
fakeDriversReset(void)
{
    driverCount = 0;
}
