/* The starter: brings SLOTWARD back in the sessions the stopper noted, each as the user whose copy
 * was ended (sessions.h); and its copies (start_copy.c). */
#pragma once

#include "sessions.h"

/* Any command line the Startup shortcut can start: 32,767 characters (CreateProcess), two bytes
 * each in a double-byte code page. */
#define COMMAND_ROOM 65536

/* data: the program, quoted, then its options; NULL where they did not fit the action's room.
 * As LocalSystem, in every noted session. Without a program (an uninstallation) the list is only
 * forgotten, where it belongs to this installation (owner): not inside an upgrade. */
void StartInSessions(const char *data, const char *owner);

/* As the installing user, where the system could not: its own session only. */
void StartInOwnSession(const char *data, const char *owner);

typedef DWORD(WINAPI *InputIdleProc)(HANDLE, DWORD);

typedef enum StartRead { READ_NO_PROGRAM, READ_TOO_LONG, READ_READY } StartRead;

typedef struct Start {
    char commandLine[COMMAND_ROOM];
    char program[MAX_PATH]; /* the application name: no search, no other program by that name */
    char folder[MAX_PATH];  /* the program's folder, its working directory */
} Start;

typedef struct Started { /* not yet waited for */
    DWORD count;
    const char *where; /* "" or "the installing user's ", for the log */
    HANDLE processes[MAX_SESSIONS];
    DWORD ids[MAX_SESSIONS];
    DWORD sessions[MAX_SESSIONS];
    InputIdleProc inputIdle;
} Started;

/* text NULL: it did not fit the action's room. */
StartRead ReadStart(const char *text, Start *start);

/* An elevated token's ordinary half goes to *linked, where the caller wants it. */
void ReadTokenFacts(HANDLE token, BYTE *sid, TokenFacts *facts, HANDLE *linked);

/* In the token's session with that token (asUser), or with this process's own token (the
 * installing user's); kept in started for the wait. FALSE, logged, when it was not started. */
BOOL StartCopy(HANDLE token, BOOL asUser, Start *start, DWORD session, Started *started);

/* Then each is logged as started or as ended at once, with its exit code. */
void AwaitResident(Started *started);
