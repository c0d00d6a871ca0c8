/* SPDX-License-Identifier: MIT */
/* The Backlight output property, backed by the first usable device of the
 * sysfs backlight class. The value is never cached: every query reads the
 * device, so changes made outside the server show. */
#include "kms/kms.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <X11/Xatom.h>
#include <randrstr.h>

#define QEL_BACKLIGHT_CLASS "/sys/class/backlight"
#define QEL_BACKLIGHT_PROPERTY "Backlight"

static Atom qelBacklightAtom = None;

Bool
qelReadSysfsInt(const char *path, int *value)
{
    char text[16];
    ssize_t length;
    long number;
    int fd = open(path, O_RDONLY | O_CLOEXEC);

    if (fd < 0)
        return FALSE;
    length = read(fd, text, sizeof(text) - 1);
    close(fd);
    if (length <= 0)
        return FALSE;
    text[length] = '\0';
    number = strtol(text, NULL, 10);
    /* Where long is wider than int, a number out of int's range would be
     * cut to its low bits and read as some unrelated value; it saturates
     * instead, as strtol itself does where the two have one width. */
#if LONG_MAX > INT_MAX
    if (number > INT_MAX)
        number = INT_MAX;
    if (number < INT_MIN)
        number = INT_MIN;
#endif
    *value = (int) number;
    return TRUE;
}

/* The device's level as the property shows it: a driver or a hand that
 * wrote a value beyond the range gets the nearest level inside it. */
static Bool
qelReadBrightness(const qelOutputPriv *outPriv, int32_t *brightness)
{
    int value;

    if (!qelReadSysfsInt(outPriv->backlightPath, &value))
        return FALSE;
    *brightness = value < 0 ? 0 : value > outPriv->maxBrightness ? outPriv->maxBrightness : value;
    return TRUE;
}

/* Formats into a fixed field; a path that does not fit would name another
 * file once cut, so it is refused instead. */
static Bool
qelFormatDevicePath(char *out, size_t size, const char *device, const char *file)
{
    int length = snprintf(out, size, QEL_BACKLIGHT_CLASS "/%s/%s", device, file);

    return length > 0 && (size_t) length < size;
}

static Bool
qelChooseBacklight(qelOutputPriv *outPriv)
{
    DIR *dir = opendir(QEL_BACKLIGHT_CLASS);
    struct dirent *entry;
    char maxPath[128];
    Bool chosen = FALSE;

    if (!dir)
        return FALSE;
    while (!chosen && (entry = readdir(dir))) {
        int max;

        if (entry->d_name[0] == '.')
            continue;
        if (!qelFormatDevicePath(maxPath, sizeof(maxPath), entry->d_name, "max_brightness"))
            continue;
        if (!qelReadSysfsInt(maxPath, &max) || max < 1)
            continue;
        if (!qelFormatDevicePath(outPriv->backlightPath, sizeof(outPriv->backlightPath),
                                 entry->d_name, "brightness")) {
            outPriv->backlightPath[0] = '\0';
            continue;
        }
        outPriv->maxBrightness = max;
        chosen = TRUE;
    }
    closedir(dir);
    return chosen;
}

static void
qelPublishBrightness(xf86OutputPtr output, int32_t brightness)
{
    RRChangeOutputProperty(output->randr_output, qelBacklightAtom, XA_INTEGER, 32,
                           PropModeReplace, 1, &brightness, FALSE, FALSE);
}

void
qelOutputCreateResources(xf86OutputPtr output)
{
    qelOutputPriv *outPriv = output->driver_private;
    INT32 range[2];
    int32_t brightness;

    /* After a regeneration the device chosen before is kept. */
    if (outPriv->backlightPath[0] == '\0' && !qelChooseBacklight(outPriv))
        return;

    qelBacklightAtom = MakeAtom(QEL_BACKLIGHT_PROPERTY, strlen(QEL_BACKLIGHT_PROPERTY), TRUE);
    if (!qelReadBrightness(outPriv, &brightness))
        return;

    range[0] = 0;
    range[1] = outPriv->maxBrightness;
    RRConfigureOutputProperty(output->randr_output, qelBacklightAtom, FALSE, TRUE, FALSE,
                              2, range);
    qelPublishBrightness(output, brightness);
}

Bool
qelOutputGetProperty(xf86OutputPtr output, Atom property)
{
    qelOutputPriv *outPriv = output->driver_private;
    int32_t brightness;

    if (outPriv->backlightPath[0] == '\0' || property != qelBacklightAtom)
        return FALSE;
    if (!qelReadBrightness(outPriv, &brightness))
        return FALSE;
    qelPublishBrightness(output, brightness);
    return TRUE;
}

static Bool
qelWriteBrightness(const char *path, int value)
{
    char text[16];
    int length = snprintf(text, sizeof(text), "%d", value);
    /* Truncated: a file that held a longer number must hold this one only
     * (sysfs attributes take every write whole anyway). */
    int fd = open(path, O_WRONLY | O_TRUNC | O_CLOEXEC);
    ssize_t written;

    if (fd < 0)
        return FALSE;
    written = write(fd, text, length);
    close(fd);
    return written == length;
}

Bool
qelOutputSetProperty(xf86OutputPtr output, Atom property, RRPropertyValuePtr value)
{
    qelOutputPriv *outPriv = output->driver_private;
    int32_t brightness;

    /* Every other property is the RandR layer's to store. */
    if (outPriv->backlightPath[0] == '\0' || property != qelBacklightAtom)
        return TRUE;
    if (value->type != XA_INTEGER || value->format != 32 || value->size != 1)
        return FALSE;
    brightness = *(const int32_t *) value->data;
    if (brightness < 0 || brightness > outPriv->maxBrightness)
        return FALSE;
    return qelWriteBrightness(outPriv->backlightPath, brightness);
}
