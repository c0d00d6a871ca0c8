/* SPDX-License-Identifier: MIT */
/* Screen records: allocation by the probe, deletion as the server does it
 * when a screen fails or the server ends, and the configuration (Screen and
 * Monitor sections) each new screen gets. */
#include "fake_server.h"
#include "fake_internal.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define FAKE_MAX_SCREENS 8
#define FAKE_SCRN_PRIVATES 8

static ScrnInfoPtr screens[FAKE_MAX_SCREENS];
static int screenCount;
static int nextScreenIndex;

static XF86OptionPtr configScreenOptions;
static int configDepth;

typedef struct fakeScreenConfig {
    confScreenRec screen;
    MonRec monitor;
} fakeScreenConfig;

static confScreenPtr
fakeScreenConfigCreate(void)
{
    fakeScreenConfig *config = XNFcallocarray(1, sizeof(*config));

    config->monitor.id = "Monitor0";
    config->screen.id = "Screen0";
    config->screen.monitor = &config->monitor;
    config->screen.options = fakeOptionListDuplicate(configScreenOptions);
    return &config->screen;
}

static void
fakeScreenConfigFree(confScreenPtr screen)
{
    if (!screen)
        return;
    fakeOptionListFree(screen->options);
    /* The Screen section is the first member of its record. */
    free((fakeScreenConfig *) screen);
}

ScrnInfoPtr
xf86AllocateScreen(DriverPtr driver, int flags)
{
    ScrnInfoPtr scrn;

    if (fakeCall("xf86AllocateScreen"))
        return NULL;
    if (screenCount == FAKE_MAX_SCREENS) {
        fprintf(stderr, "fake server: too many screens\n");
        abort();
    }
    scrn = XNFcallocarray(1, sizeof(*scrn));
    scrn->scrnIndex = nextScreenIndex++;
    scrn->origIndex = scrn->scrnIndex;
    scrn->is_gpu = (flags & XF86_ALLOCATE_GPU_SCREEN) != 0;
    scrn->privates = XNFcallocarray(FAKE_SCRN_PRIVATES, sizeof(DevUnion));
    scrn->drv = driver;
    scrn->DriverFunc = driver->driverFunc;
    scrn->confScreen = fakeScreenConfigCreate();
    driver->refCount++;
    screens[screenCount++] = scrn;
    return scrn;
}

int
fakeScreenCount(void)
{
    return screenCount;
}

ScrnInfoPtr
fakeScreenAt(int index)
{
    if (index < 0 || index >= screenCount)
        return NULL;
    return screens[index];
}

static void
fakeScreenForget(ScrnInfoPtr scrn)
{
    for (int i = 0; i < screenCount; i++) {
        if (screens[i] != scrn)
            continue;
        memmove(&screens[i], &screens[i + 1], (screenCount - i - 1) * sizeof(screens[0]));
        screenCount--;
        return;
    }
}

void
fakeScreenDelete(ScrnInfoPtr scrn)
{
    if (!scrn)
        return;
    if (scrn->FreeScreen)
        scrn->FreeScreen(scrn);
    fakeCrtcConfigFree(scrn);
    fakeModeListFree(scrn->modes);
    fakeOptionListFree(scrn->options);
    fakeEntityReleaseScreen(scrn);
    free(scrn->entityList);
    free(scrn->entityInstanceList);
    free(scrn->privates);
    fakeScreenConfigFree(scrn->confScreen);
    if (scrn->drv)
        scrn->drv->refCount--;
    fakeScreenForget(scrn);
    free(scrn);
}

void
fakeScreensReset(void)
{
    while (screenCount > 0)
        fakeScreenDelete(screens[screenCount - 1]);
    nextScreenIndex = 0;
}

void
fakeConfigSetScreenOptions(XF86OptionPtr options)
{
    fakeOptionListFree(configScreenOptions);
    configScreenOptions = options;
}

void
fakeConfigSetDepth(int depth)
{
    configDepth = depth;
}

int
fakeConfigDepth(void)
{
    return configDepth;
}

void
fakeConfigReset(void)
{
    fakeConfigSetScreenOptions(NULL);
    configDepth = 0;
}
