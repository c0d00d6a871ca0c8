/* SPDX-License-Identifier: MIT */
/* The Backlight output property over a brightness file in a private
 * directory: parsing of sysfs numbers, the property the RandR layer is
 * given, and which values reach the file. (Choosing a device walks the fixed
 * sysfs class directory; the system tests cover that with a sysfs testbed.)
 * The output here already has its device, as after a server regeneration. */
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <setjmp.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <cmocka.h>

#include "fake_server.h"
#include "kms/kms.h"

#include <X11/Xatom.h>

typedef struct backlightFixture {
    char dir[64];
    char brightness[96];
    xf86OutputRec output;
    qelOutputPriv outPriv;
    RROutputRec randrOutput;
} backlightFixture;

static void
writeText(const char *path, const char *text)
{
    FILE *file = fopen(path, "w");

    assert_non_null(file);
    assert_int_equal(fputs(text, file) >= 0, 1);
    assert_int_equal(fclose(file), 0);
}

/* The whole file, or "<missing>" when there is none. */
static const char *
readText(const char *path)
{
    static char text[64];
    FILE *file = fopen(path, "r");
    size_t length;

    if (!file)
        return "<missing>";
    length = fread(text, 1, sizeof(text) - 1, file);
    fclose(file);
    text[length] = '\0';
    return text;
}

static int
readValue(backlightFixture *f, const char *text)
{
    int value = -12345;

    writeText(f->brightness, text);
    assert_true(qelReadSysfsInt(f->brightness, &value));
    return value;
}

static int
setUp(void **state)
{
    backlightFixture *f = calloc(1, sizeof(*f));

    assert_non_null(f);
    snprintf(f->dir, sizeof(f->dir), "%s", "/tmp/qel-backlight-XXXXXX");
    assert_non_null(mkdtemp(f->dir));
    snprintf(f->brightness, sizeof(f->brightness), "%s/brightness", f->dir);
    writeText(f->brightness, "7\n");
    f->output.driver_private = &f->outPriv;
    f->output.randr_output = &f->randrOutput;
    *state = f;
    return 0;
}

static int
tearDown(void **state)
{
    backlightFixture *f = *state;

    unlink(f->brightness);
    assert_int_equal(rmdir(f->dir), 0);
    fakeReset();
    free(f);
    return 0;
}

/* The output bound to the fixture's brightness file with that maximum, its
 * property created as create_resources does after a regeneration. */
static Atom
boundOutput(backlightFixture *f, int32_t max)
{
    snprintf(f->outPriv.backlightPath, sizeof(f->outPriv.backlightPath), "%s",
             f->brightness);
    f->outPriv.maxBrightness = max;
    qelOutputCreateResources(&f->output);
    return MakeAtom("Backlight", 9, FALSE);
}

static RRPropertyValueRec
integerValue(Atom type, int format, long size, void *data)
{
    RRPropertyValueRec value = {.type = type, .format = (short) format, .size = size,
                                .data = data};

    return value;
}

static Bool
setBrightness(backlightFixture *f, Atom property, int32_t level)
{
    RRPropertyValueRec value = integerValue(XA_INTEGER, 32, 1, &level);

    return qelOutputSetProperty(&f->output, property, &value);
}

/* ---- qelReadSysfsInt ---- */

static void
sysfs_numbers_parse_like_the_kernel_writes_them(void **state)
{
    backlightFixture *f = *state;

    assert_int_equal(readValue(f, "  42\n"), 42);
    assert_int_equal(readValue(f, "255\n"), 255);
    assert_int_equal(readValue(f, "0"), 0);
    assert_int_equal(readValue(f, "abc"), 0);
    assert_int_equal(readValue(f, "-17\n"), -17);
    assert_int_equal(readValue(f, "12 34"), 12);
    /* Only the first 15 bytes count. */
    assert_int_equal(readValue(f, "000000000000001234\n"), 1);
    assert_int_equal(readValue(f, "              99"), 9);
}

static void
sysfs_numbers_beyond_int_saturate(void **state)
{
    backlightFixture *f = *state;

    /* 2^32 + 1 must not pass for 1. */
    assert_int_equal(readValue(f, "4294967297\n"), INT_MAX);
    assert_int_equal(readValue(f, "2147483648"), INT_MAX);
    assert_int_equal(readValue(f, "-4294967297"), INT_MIN);
    assert_int_equal(readValue(f, "2147483647"), INT_MAX);
}

static void
sysfs_files_without_bytes_read_as_failure(void **state)
{
    backlightFixture *f = *state;
    char missing[128];
    int value;

    writeText(f->brightness, "");
    assert_false(qelReadSysfsInt(f->brightness, &value));
    snprintf(missing, sizeof(missing), "%s/nothing", f->dir);
    assert_false(qelReadSysfsInt(missing, &value));
    /* A directory opens but gives no bytes. */
    assert_false(qelReadSysfsInt(f->dir, &value));
}

/* ---- create_resources and get_property ---- */

static void
property_is_a_range_up_to_the_maximum_with_the_current_level(void **state)
{
    backlightFixture *f = *state;
    Atom backlight = boundOutput(f, 255);
    const fakeConfiguredProperty *configured = fakeLastConfiguredProperty();
    const fakeChangedProperty *changed = fakeLastChangedProperty();

    assert_int_not_equal(backlight, None);
    assert_int_equal(fakeCallCount("RRConfigureOutputProperty"), 1);
    assert_ptr_equal(configured->output, &f->randrOutput);
    assert_int_equal(configured->property, backlight);
    assert_false(configured->pending);
    assert_true(configured->range);
    assert_false(configured->immutable);
    assert_int_equal(configured->numValues, 2);
    assert_int_equal(configured->values[0], 0);
    assert_int_equal(configured->values[1], 255);

    assert_int_equal(fakeCallCount("RRChangeOutputProperty"), 1);
    assert_ptr_equal(changed->output, &f->randrOutput);
    assert_int_equal(changed->property, backlight);
    assert_int_equal(changed->type, XA_INTEGER);
    assert_int_equal(changed->format, 32);
    assert_int_equal(changed->mode, PropModeReplace);
    assert_int_equal(changed->length, 1);
    assert_false(changed->sendEvent);
    assert_false(changed->pending);
    assert_int_equal(fakeLastPropertyValue(), 7);
    assert_int_equal(fakeMessageCount(), 0);
}

static void
every_query_reads_the_device_again(void **state)
{
    backlightFixture *f = *state;
    Atom backlight = boundOutput(f, 255);

    writeText(f->brightness, "200\n");
    assert_true(qelOutputGetProperty(&f->output, backlight));
    assert_int_equal(fakeLastPropertyValue(), 200);
    writeText(f->brightness, "3");
    assert_true(qelOutputGetProperty(&f->output, backlight));
    assert_int_equal(fakeLastPropertyValue(), 3);
    assert_int_equal(fakeCallCount("RRChangeOutputProperty"), 3);

    /* Levels beyond the range are shown as its nearest end. */
    writeText(f->brightness, "300\n");
    assert_true(qelOutputGetProperty(&f->output, backlight));
    assert_int_equal(fakeLastPropertyValue(), 255);
    writeText(f->brightness, "-4\n");
    assert_true(qelOutputGetProperty(&f->output, backlight));
    assert_int_equal(fakeLastPropertyValue(), 0);
}

static void
queries_of_other_properties_are_not_answered(void **state)
{
    backlightFixture *f = *state;
    Atom backlight = boundOutput(f, 255);
    Atom other = MakeAtom("EDID", 4, TRUE);

    assert_false(qelOutputGetProperty(&f->output, other));
    assert_int_equal(fakeCallCount("RRChangeOutputProperty"), 1);

    /* An output without a device answers for no property at all. */
    f->outPriv.backlightPath[0] = '\0';
    assert_false(qelOutputGetProperty(&f->output, backlight));
    assert_int_equal(fakeCallCount("RRChangeOutputProperty"), 1);
}

static void
unreadable_brightness_keeps_the_last_value(void **state)
{
    backlightFixture *f = *state;
    Atom backlight = boundOutput(f, 255);

    writeText(f->brightness, "");
    assert_false(qelOutputGetProperty(&f->output, backlight));
    unlink(f->brightness);
    assert_false(qelOutputGetProperty(&f->output, backlight));
    assert_int_equal(fakeCallCount("RRChangeOutputProperty"), 1);
    assert_int_equal(fakeLastPropertyValue(), 7);
}

/* The device stays chosen: a later query finds it again once readable. */
static void
unreadable_brightness_at_creation_makes_no_property(void **state)
{
    backlightFixture *f = *state;
    Atom backlight;

    unlink(f->brightness);
    backlight = boundOutput(f, 255);
    assert_int_not_equal(backlight, None);
    assert_int_equal(fakeCallCount("RRConfigureOutputProperty"), 0);
    assert_int_equal(fakeCallCount("RRChangeOutputProperty"), 0);
    assert_string_equal(f->outPriv.backlightPath, f->brightness);

    writeText(f->brightness, "9\n");
    assert_true(qelOutputGetProperty(&f->output, backlight));
    assert_int_equal(fakeLastPropertyValue(), 9);
}

/* ---- set_property ---- */

static void
levels_in_range_are_written_as_bare_decimals(void **state)
{
    backlightFixture *f = *state;
    Atom backlight = boundOutput(f, 255);

    /* The file holds just what was written, whatever it held before. */
    writeText(f->brightness, "200\n");
    assert_true(setBrightness(f, backlight, 50));
    assert_string_equal(readText(f->brightness), "50");
    assert_true(setBrightness(f, backlight, 0));
    assert_string_equal(readText(f->brightness), "0");
    assert_true(setBrightness(f, backlight, 255));
    assert_string_equal(readText(f->brightness), "255");
    assert_int_equal(fakeMessageCount(), 0);
}

static void
levels_out_of_range_are_refused_unwritten(void **state)
{
    backlightFixture *f = *state;
    Atom backlight = boundOutput(f, 255);

    assert_false(setBrightness(f, backlight, 256));
    assert_false(setBrightness(f, backlight, -1));
    assert_false(setBrightness(f, backlight, INT32_MIN));
    assert_string_equal(readText(f->brightness), "7\n");
}

static void
values_of_another_shape_are_refused_unwritten(void **state)
{
    backlightFixture *f = *state;
    Atom backlight = boundOutput(f, 255);
    int16_t shortLevel = 50;
    int32_t twoLevels[2] = {50, 60};
    int32_t level = 50;
    RRPropertyValueRec format16 = integerValue(XA_INTEGER, 16, 1, &shortLevel);
    RRPropertyValueRec twoElements = integerValue(XA_INTEGER, 32, 2, twoLevels);
    RRPropertyValueRec noElement = integerValue(XA_INTEGER, 32, 0, &level);
    RRPropertyValueRec cardinal = integerValue(XA_CARDINAL, 32, 1, &level);

    assert_false(qelOutputSetProperty(&f->output, backlight, &format16));
    assert_false(qelOutputSetProperty(&f->output, backlight, &twoElements));
    assert_false(qelOutputSetProperty(&f->output, backlight, &noElement));
    assert_false(qelOutputSetProperty(&f->output, backlight, &cardinal));
    assert_string_equal(readText(f->brightness), "7\n");
}

static void
other_properties_are_accepted_untouched(void **state)
{
    backlightFixture *f = *state;
    Atom backlight = boundOutput(f, 255);
    Atom other = MakeAtom("scaling mode", 12, TRUE);
    char text[] = "Full";
    RRPropertyValueRec value = integerValue(XA_STRING, 8, 4, text);

    assert_true(qelOutputSetProperty(&f->output, other, &value));
    assert_true(setBrightness(f, other, 1000));
    assert_string_equal(readText(f->brightness), "7\n");

    /* Without a device even the Backlight atom is someone else's. */
    f->outPriv.backlightPath[0] = '\0';
    assert_true(setBrightness(f, backlight, 1000));
    assert_string_equal(readText(f->brightness), "7\n");
}

static void
brightness_that_cannot_be_written_refuses_the_change(void **state)
{
    backlightFixture *f = *state;
    Atom backlight = boundOutput(f, 255);

    /* Nothing is created in the device's place. */
    unlink(f->brightness);
    assert_false(setBrightness(f, backlight, 50));
    assert_string_equal(readText(f->brightness), "<missing>");

    /* The write itself fails. */
    snprintf(f->outPriv.backlightPath, sizeof(f->outPriv.backlightPath), "/dev/full");
    assert_false(setBrightness(f, backlight, 50));
}

#define CASE(test) cmocka_unit_test_setup_teardown(test, setUp, tearDown)

int
main(void)
{
    const struct CMUnitTest tests[] = {
        CASE(sysfs_numbers_parse_like_the_kernel_writes_them),
        CASE(sysfs_numbers_beyond_int_saturate),
        CASE(sysfs_files_without_bytes_read_as_failure),
        CASE(property_is_a_range_up_to_the_maximum_with_the_current_level),
        CASE(every_query_reads_the_device_again),
        CASE(queries_of_other_properties_are_not_answered),
        CASE(unreadable_brightness_keeps_the_last_value),
        CASE(unreadable_brightness_at_creation_makes_no_property),
        CASE(levels_in_range_are_written_as_bare_decimals),
        CASE(levels_out_of_range_are_refused_unwritten),
        CASE(values_of_another_shape_are_refused_unwritten),
        CASE(other_properties_are_accepted_untouched),
        CASE(brightness_that_cannot_be_written_refuses_the_change),
    };

    return cmocka_run_group_tests(tests, NULL, NULL);
}
