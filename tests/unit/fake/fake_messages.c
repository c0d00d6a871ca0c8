/* SPDX-License-Identifier: MIT */
/* The server's log: every message is kept with its level, screen index and
 * formatted text. */
#include "fake_server.h"
#include "fake_internal.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define FAKE_MAX_MESSAGES 256

static fakeMessage messages[FAKE_MAX_MESSAGES];
static int messageCount;

static void
fakeRecordMessage(int scrnIndex, MessageType type, int verb, const char *format,
                  va_list args)
{
    fakeMessage *message;

    if (messageCount == FAKE_MAX_MESSAGES) {
        fprintf(stderr, "fake server: too many messages\n");
        abort();
    }
    message = &messages[messageCount++];
    message->level = type;
    message->scrnIndex = scrnIndex;
    message->verb = verb;
    vsnprintf(message->text, sizeof(message->text), format, args);
}

void
xf86DrvMsgVerb(int scrnIndex, MessageType type, int verb, const char *format, ...)
{
    va_list args;

    va_start(args, format);
    fakeRecordMessage(scrnIndex, type, verb, format, args);
    va_end(args);
}

void
xf86DrvMsg(int scrnIndex, MessageType type, const char *format, ...)
{
    va_list args;

    va_start(args, format);
    fakeRecordMessage(scrnIndex, type, 1, format, args);
    va_end(args);
}

void
xf86MsgVerb(MessageType type, int verb, const char *format, ...)
{
    va_list args;

    va_start(args, format);
    fakeRecordMessage(-1, type, verb, format, args);
    va_end(args);
}

void
xf86Msg(MessageType type, const char *format, ...)
{
    va_list args;

    va_start(args, format);
    fakeRecordMessage(-1, type, 1, format, args);
    va_end(args);
}

int
fakeMessageCount(void)
{
    return messageCount;
}

const fakeMessage *
fakeMessageAt(int index)
{
    if (index < 0 || index >= messageCount)
        return NULL;
    return &messages[index];
}

int
fakeMessageFind(const char *text)
{
    for (int i = 0; i < messageCount; i++)
        if (strcmp(messages[i].text, text) == 0)
            return i;
    return -1;
}

Bool
fakeMessageTake(const char *text)
{
    int index = fakeMessageFind(text);

    if (index < 0)
        return FALSE;
    memmove(&messages[index], &messages[index + 1],
            (size_t) (messageCount - index - 1) * sizeof(messages[0]));
    messageCount--;
    return TRUE;
}

void
fakeMessagesClear(void)
{
    messageCount = 0;
}

void
fakeMessagesReset(void)
{
    fakeMessagesClear();
}
