/* The starter (starter.c, start_copy.c): SLOTWARD back where the stopper ended it, as its user. */
#pragma once

#include "sessions.h"

/* Any Startup shortcut's command line: 32,767 characters, two bytes each in a DBCS code page. */
#define COMMAND_ROOM 65536

/* data: the program, quoted, then its options; NULL where they did not fit. Without a program (an
 * uninstallation) the list is only forgotten, where it is this installation's (owner). */
void StartInSessions(const char *data, const char *owner);

/* As the installing user, where the system could not: its own session only. */
void StartInOwnSession(const char *data, const char *owner);

typedef enum StartRead { READ_NO_PROGRAM, READ_TOO_LONG, READ_READY } StartRead;

/* For the starts that follow; text NULL: it did not fit the action's room. */
StartRead ReadStart(const char *text);

/* An elevated token's ordinary half goes to *linked, where the caller wants it. */
void ReadTokenFacts(HANDLE token, BYTE *sid, TokenFacts *facts, HANDLE *linked);

/* With the token in its session (asUser), or as this process (the installing user); where: "" or
 * "the installing user's ", for the log. FALSE, logged, when it was not started. */
BOOL StartCopy(HANDLE token, BOOL asUser, DWORD session, const char *where);

/* Then each is logged as started or as ended at once, with its exit code. */
void AwaitResident(void);
