/* SPDX-License-Identifier: MIT */
/* What the screen-side parts of the fake server share among themselves. */
#ifndef QEL_FAKE_SCREEN_INTERNAL_H
#define QEL_FAKE_SCREEN_INTERNAL_H

#include "fake_screen.h"

/* fbScreenInit's arguments for a screen the fake made; NULL otherwise. */
fakeFbScreenArgs *fakeScreenFbArgs(ScreenPtr screen);

/* The visual classes miSetVisualTypes allowed for the depth (0: none),
 * with the bits per RGB value and the preferred class. */
int fakeMiVisualMask(int depth, int *bitsPerRGB, int *preferredClass);

/* Per-part state, freed by fakeScreenLayersReset. */
void fakePixmapsReset(void);
void fakeMiReset(void);
void fakeScreenHelpersReset(void);

#endif
