/* SPDX-License-Identifier: MIT */
/* The module loader: every sub-module loads, unless a test made
 * "xf86LoadSubModule:<name>" fail. */
#include "fake_server.h"
#include "fake_internal.h"

#include <stdio.h>

static int loadedModuleToken;

void *
xf86LoadSubModule(ScrnInfoPtr scrn, const char *name)
{
    char key[64];
    Bool failAny, failThis;

    (void) scrn;
    snprintf(key, sizeof(key), "xf86LoadSubModule:%s", name);
    failAny = fakeCall("xf86LoadSubModule");
    failThis = fakeCall(key);
    return failAny || failThis ? NULL : &loadedModuleToken;
}
