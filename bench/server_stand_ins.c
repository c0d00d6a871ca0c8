/* SPDX-License-Identifier: MIT */
/* The X server entry points that the GE queue path reaches, for a
 * benchmark that runs the driver's GE code without a server. */
#include "server_stand_ins.h"

#include <stdarg.h>
#include <stdio.h>

/* The server's serial counter, which the pixmap code (linked, not run
 * here) advances. */
unsigned long globalSerialNumber;

/* The destination's EXA private, which the server's EXA layer would keep. */
qelPixmapPriv benchDestination;

void *
exaGetPixmapDriverPrivate(PixmapPtr pixmap)
{
    (void) pixmap;
    return &benchDestination;
}

unsigned long
exaGetPixmapPitch(PixmapPtr pixmap)
{
    (void) pixmap;
    return benchDestination.pitch;
}

/* The screen's one private slot holds the GE record. */
Bool
dixRegisterPrivateKey(DevPrivateKey key, DevPrivateType type, unsigned size)
{
    *key = (DevPrivateKeyRec) {.offset = 0, .size = (int) size, .initialized = TRUE,
                               .type = type};
    return TRUE;
}

void
xf86DrvMsg(int scrnIndex, MessageType type, const char *format, ...)
{
    va_list args;

    (void) scrnIndex;
    (void) type;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
}
