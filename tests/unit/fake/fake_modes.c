/* SPDX-License-Identifier: MIT */
/* Mode records and lists as the server's mode code handles them. CVT modes
 * come from libxcvt, which the server uses for xf86CVTMode too. */
#include "fake_server.h"
#include "fake_internal.h"

#include <stdlib.h>

#include <xf86Modes.h>
#include <libxcvt/libxcvt.h>

DisplayModePtr
xf86ModesAdd(DisplayModePtr modes, DisplayModePtr new)
{
    DisplayModePtr last;

    fakeCall("xf86ModesAdd");
    if (!modes)
        return new;
    if (new) {
        for (last = modes; last->next; last = last->next)
            ;
        last->next = new;
        new->prev = last;
    }
    return modes;
}

/* The display's timings for the CRTC: a doubled scan or a VScan
 * multiplies the lines, an interlaced mode may be halved. */
void
xf86SetModeCrtc(DisplayModePtr p, int adjustFlags)
{
    fakeCall("xf86SetModeCrtc");
    if (!p || (p->type & M_T_CRTC_C) == M_T_BUILTIN)
        return;
    p->CrtcHDisplay = p->HDisplay;
    p->CrtcHSyncStart = p->HSyncStart;
    p->CrtcHSyncEnd = p->HSyncEnd;
    p->CrtcHTotal = p->HTotal;
    p->CrtcHSkew = p->HSkew;
    p->CrtcVDisplay = p->VDisplay;
    p->CrtcVSyncStart = p->VSyncStart;
    p->CrtcVSyncEnd = p->VSyncEnd;
    p->CrtcVTotal = p->VTotal;
    if (p->Flags & V_INTERLACE) {
        if (adjustFlags & INTERLACE_HALVE_V) {
            p->CrtcVDisplay /= 2;
            p->CrtcVSyncStart /= 2;
            p->CrtcVSyncEnd /= 2;
            p->CrtcVTotal /= 2;
        }
        p->CrtcVTotal |= 1;
    }
    if (p->VScan > 1) {
        p->CrtcVDisplay *= p->VScan;
        p->CrtcVSyncStart *= p->VScan;
        p->CrtcVSyncEnd *= p->VScan;
        p->CrtcVTotal *= p->VScan;
    }
    if (p->Flags & V_DBLSCAN) {
        p->CrtcVDisplay *= 2;
        p->CrtcVSyncStart *= 2;
        p->CrtcVSyncEnd *= 2;
        p->CrtcVTotal *= 2;
    }
    p->CrtcVBlankStart = min(p->CrtcVSyncStart, p->CrtcVDisplay);
    p->CrtcVBlankEnd = max(p->CrtcVSyncEnd, p->CrtcVTotal);
    p->CrtcHBlankStart = min(p->CrtcHSyncStart, p->CrtcHDisplay);
    p->CrtcHBlankEnd = max(p->CrtcHSyncEnd, p->CrtcHTotal);
    p->CrtcHAdjusted = FALSE;
    p->CrtcVAdjusted = FALSE;
}

DisplayModePtr
xf86CVTMode(int HDisplay, int VDisplay, float VRefresh, Bool Reduced, Bool Interlaced)
{
    struct libxcvt_mode_info *info;
    DisplayModePtr mode;

    if (fakeCall("xf86CVTMode"))
        return NULL;
    info = libxcvt_gen_mode_info(HDisplay, VDisplay, VRefresh, Reduced, Interlaced);
    mode = XNFcallocarray(1, sizeof(*mode));
    mode->HDisplay = info->hdisplay;
    mode->VDisplay = info->vdisplay;
    mode->Clock = info->dot_clock;
    mode->HSyncStart = info->hsync_start;
    mode->HSyncEnd = info->hsync_end;
    mode->HTotal = info->htotal;
    mode->VSyncStart = info->vsync_start;
    mode->VSyncEnd = info->vsync_end;
    mode->VTotal = info->vtotal;
    mode->VRefresh = info->vrefresh;
    mode->Flags = info->mode_flags;
    /* The 21.1 server leaves the CVT mode unnamed. */
    free(info);
    return mode;
}

void
xf86SetModeDefaultName(DisplayModePtr mode)
{
    char *name;

    fakeCall("xf86SetModeDefaultName");
    free((void *) mode->name);
    XNFasprintf(&name, "%dx%d%s", mode->HDisplay, mode->VDisplay,
                mode->Flags & V_INTERLACE ? "i" : "");
    mode->name = name;
}

DisplayModePtr
xf86DuplicateMode(const DisplayModeRec *mode)
{
    DisplayModePtr copy;

    if (!mode)
        return NULL;
    copy = XNFalloc(sizeof(*copy));
    *copy = *mode;
    copy->next = NULL;
    copy->prev = NULL;
    copy->name = mode->name ? XNFstrdup(mode->name) : NULL;
    return copy;
}

void
xf86DeleteMode(DisplayModePtr *modeList, DisplayModePtr mode)
{
    if (!modeList || !*modeList || !mode)
        return;
    if (mode == *modeList && mode->prev == mode && mode->next == mode) {
        *modeList = NULL;
    } else {
        if (mode->prev && mode->prev->next == mode)
            mode->prev->next = mode->next;
        if (mode->next && mode->next->prev == mode)
            mode->next->prev = mode->prev;
        if (mode == *modeList)
            *modeList = mode->next;
    }
    free((void *) mode->name);
    free(mode);
}

void
fakeModeListFree(DisplayModePtr modes)
{
    DisplayModePtr first = modes;

    while (modes) {
        DisplayModePtr next = modes->next;

        free((void *) modes->name);
        free(modes);
        modes = next == first ? NULL : next;
    }
}

int
fakeModeListLength(DisplayModePtr modes)
{
    int length = 0;

    for (DisplayModePtr mode = modes; mode; mode = mode->next) {
        length++;
        if (mode->next == modes)
            break;
    }
    return length;
}
