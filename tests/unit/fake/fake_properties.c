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

int
RRConfigureOutputProperty(RROutputPtr output, Atom property, Bool pending, Bool range,
                          Bool immutable, int num_values, const INT32 *values)
{
    (void) output;
    (void) property;
    (void) pending;
    (void) range;
    (void) immutable;
    (void) num_values;
    (void) values;
    return fakeCall("RRConfigureOutputProperty") ? BadAlloc : Success;
}

static INT32 lastPropertyValue;

int
RRChangeOutputProperty(RROutputPtr output, Atom property, Atom type, int format, int mode,
                       unsigned long len, const void *value, Bool sendevent, Bool pending)
{
    (void) output;
    (void) property;
    (void) mode;
    (void) sendevent;
    (void) pending;
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
}
