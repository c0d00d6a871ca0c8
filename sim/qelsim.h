// SPDX-License-Identifier: MIT
/* In-process control of the TX3120 device simulator, for tests linked with
 * it (C and C++). See sim/README.md for the description format and the
 * control protocol. */
#ifndef QELSIM_H
#define QELSIM_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Resets the device to the description DESCRIPTION_TEXT (the text of a
 * QELSIM_CONFIG file; NULL or "" for the default device). Descriptors of the
 * previous device must be closed first. Returns 0, or -1 with errno EINVAL
 * when the text does not parse. */
int qelsim_configure(const char *description_text);

/* Runs one control-protocol REQUEST and writes the reply (its lines, the
 * last one "ok" or "error <text>") to REPLY, truncated to REPLY_LEN bytes
 * and always terminated. Returns 0 when the reply is "ok", -1 otherwise. */
int qelsim_command(const char *request, char *reply, size_t reply_len);

#ifdef __cplusplus
}
#endif

#endif
