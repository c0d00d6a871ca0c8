/* SPDX-License-Identifier: MIT */
/* Atoms and RandR output properties: atoms are numbered in the order they
 * are made; property calls are counted and can be made to fail. */
#include "fake_server.h"
#include "fake_internal.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <randrstr.h>
#include <X11/Xatom.h>

#define FAKE_MAX_ATOMS 64
#define FAKE_FIRST_ATOM 1000

static char *atoms[FAKE_MAX_ATOMS];
static int atomCount;

Atom
MakeAtom(const char *string, unsigned len, Bool makeit)
{
    for (int i = 0; i < atomCount; i++)
        if (strlen(atoms[i]) == len && strncmp(atoms[i], string, len) == 0)
            return FAKE_FIRST_ATOM + i;
    if (!makeit || fakeCall("MakeAtom"))
        return None;
    if (atomCount == FAKE_MAX_ATOMS) {
        fprintf(stderr, "fake server: too many atoms\n");
        abort();
    }
    atoms[atomCount] = strndup(string, len);
    return FAKE_FIRST_ATOM + atomCount++;
}

static fakeConfiguredProperty lastConfigured;
static fakeChangedProperty lastChanged;

int
RRConfigureOutputProperty(RROutputPtr output, Atom property, Bool pending, Bool range,
                          Bool immutable, int num_values, const INT32 *values)
{
    lastConfigured = (fakeConfiguredProperty) {
        output, property, pending, range, immutable, num_values, {0, 0},
    };
    for (int i = 0; i < num_values && i < 2; i++)
        lastConfigured.values[i] = values[i];
    return fakeCall("RRConfigureOutputProperty") ? BadAlloc : Success;
}

const fakeConfiguredProperty *
fakeLastConfiguredProperty(void)
{
    return &lastConfigured;
}

const fakeChangedProperty *
fakeLastChangedProperty(void)
{
    return &lastChanged;
}

static INT32 lastPropertyValue;

int
RRChangeOutputProperty(RROutputPtr output, Atom property, Atom type, int format, int mode,
                       unsigned long len, const void *value, Bool sendevent, Bool pending)
{
    lastChanged = (fakeChangedProperty) {
        output, property, type, format, mode, len, sendevent, pending,
    };
    if (fakeCall("RRChangeOutputProperty"))
        return BadAlloc;
    if (type == XA_INTEGER && format == 32 && len == 1)
        lastPropertyValue = *(const INT32 *) value;
    return Success;
}

INT32
fakeLastPropertyValue(void)
{
    return lastPropertyValue;
}

void
fakeAtomsReset(void)
{
    for (int i = 0; i < atomCount; i++)
        free(atoms[i]);
    atomCount = 0;
    lastPropertyValue = 0;
    lastConfigured = (fakeConfiguredProperty) { 0 };
    lastChanged = (fakeChangedProperty) { 0 };
}
