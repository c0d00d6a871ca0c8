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

int
qelReadSysfsInt(const char *path)
{
    char text[16];
    ssize_t length;
    long value;
    int fd = open(path, O_RDONLY | O_CLOEXEC);

    if (fd < 0)
        return -1;
    length = read(fd, text, sizeof(text) - 1);
    close(fd);
    if (length <= 0)
        return -1;
    text[length] = '\0';
    value = strtol(text, NULL, 10);
    /* Where long is wider than int, a number out of int's range would be
     * cut to its low bits and read as some unrelated value; it saturates
     * instead, as strtol itself does where the two have one width. */
#if LONG_MAX > INT_MAX
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
#endif
    return (int) value;
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
        max = qelReadSysfsInt(maxPath);
        if (max < 1)
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
    int brightness;

    /* After a regeneration the device chosen before is kept. */
    if (outPriv->backlightPath[0] == '\0' && !qelChooseBacklight(outPriv))
        return;

    qelBacklightAtom = MakeAtom(QEL_BACKLIGHT_PROPERTY, strlen(QEL_BACKLIGHT_PROPERTY), TRUE);
    brightness = qelReadSysfsInt(outPriv->backlightPath);
    if (brightness < 0)
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
    int brightness;

    if (outPriv->backlightPath[0] == '\0' || property != qelBacklightAtom)
        return FALSE;
    brightness = qelReadSysfsInt(outPriv->backlightPath);
    if (brightness < 0)
        return FALSE;
    qelPublishBrightness(output, brightness);
    return TRUE;
}

static Bool
qelWriteBrightness(const char *path, int value)
{
    char text[16];
    int length = snprintf(text, sizeof(text), "%d", value);
    int fd = open(path, O_WRONLY | O_CLOEXEC);
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
