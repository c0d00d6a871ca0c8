/* SPDX-License-Identifier: MIT */
/* Call counting and failure injection, keyed by function name. */
#include "fake_server.h"
#include "fake_internal.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define FAKE_MAX_KEYS 128
#define FAKE_KEY_SIZE 64

typedef struct fakeKeyState {
    char key[FAKE_KEY_SIZE];
    int calls;
    int skip;
    int failures; /* -1: every call */
} fakeKeyState;

static fakeKeyState keys[FAKE_MAX_KEYS];
static int keyCount;

static fakeKeyState *
fakeKeyFind(const char *key)
{
    for (int i = 0; i < keyCount; i++)
        if (strcmp(keys[i].key, key) == 0)
            return &keys[i];
    if (keyCount == FAKE_MAX_KEYS) {
        fprintf(stderr, "fake server: too many call keys\n");
        abort();
    }
    snprintf(keys[keyCount].key, FAKE_KEY_SIZE, "%s", key);
    return &keys[keyCount++];
}

int
fakeCallCount(const char *key)
{
    for (int i = 0; i < keyCount; i++)
        if (strcmp(keys[i].key, key) == 0)
            return keys[i].calls;
    return 0;
}

void
fakeFail(const char *key, int skip, int count)
{
    fakeKeyState *state = fakeKeyFind(key);

    state->skip = skip;
    state->failures = count;
}

Bool
fakeCall(const char *key)
{
    fakeKeyState *state = fakeKeyFind(key);

    state->calls++;
    if (state->failures == 0)
        return FALSE;
    if (state->skip > 0) {
        state->skip--;
        return FALSE;
    }
    if (state->failures > 0)
        state->failures--;
    return TRUE;
}

void
fakeControlReset(void)
{
    memset(keys, 0, sizeof(keys));
    keyCount = 0;
}
