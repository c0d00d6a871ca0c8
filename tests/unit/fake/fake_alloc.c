/* SPDX-License-Identifier: MIT */
#define _GNU_SOURCE /* vasprintf */
/* The server's never-failing allocators: they abort instead of returning
 * NULL, as the server does (it calls FatalError). */
#include "fake_server.h"

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void *
fakeCheckAllocation(void *pointer)
{
    if (!pointer) {
        fprintf(stderr, "fake server: out of memory\n");
        abort();
    }
    return pointer;
}

void *
XNFalloc(unsigned long amount)
{
    return fakeCheckAllocation(malloc(amount ? amount : 1));
}

void *
XNFcalloc(unsigned long amount)
{
    return fakeCheckAllocation(calloc(1, amount ? amount : 1));
}

void *
XNFcallocarray(size_t nmemb, size_t size)
{
    if (nmemb == 0 || size == 0)
        nmemb = size = 1;
    return fakeCheckAllocation(calloc(nmemb, size));
}

void *
XNFrealloc(void *ptr, unsigned long amount)
{
    return fakeCheckAllocation(realloc(ptr, amount ? amount : 1));
}

void *
XNFreallocarray(void *ptr, size_t nmemb, size_t size)
{
    if (size && nmemb > SIZE_MAX / size) {
        fprintf(stderr, "fake server: array too large\n");
        abort();
    }
    return XNFrealloc(ptr, nmemb * size);
}

char *
XNFstrdup(const char *s)
{
    if (!s)
        return NULL;
    return fakeCheckAllocation(strdup(s));
}

/* The SDK maps vasprintf onto the server's own; it is libc's here. */
#undef vasprintf

int
Xvasprintf(char **ret, const char *format, va_list args)
{
    return vasprintf(ret, format, args);
}

int
XNFvasprintf(char **ret, const char *format, va_list args)
{
    int length = vasprintf(ret, format, args);

    if (length < 0)
        fakeCheckAllocation(NULL);
    return length;
}

int
XNFasprintf(char **ret, const char *format, ...)
{
    va_list args;
    int length;

    va_start(args, format);
    length = vasprintf(ret, format, args);
    va_end(args);
    if (length < 0)
        fakeCheckAllocation(NULL);
    return length;
}
