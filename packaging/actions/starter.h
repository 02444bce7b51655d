/* The starter: brings SLOTWARD back in the sessions the stopper noted, each as the user whose copy
 * was ended (sessions.h); and its copies (start_copy.c): what to start, the facts of a user's
 * token, the start itself with that user's environment, breaking away from the installer's job
 * first, and the one wait until every started copy is resident. */
#pragma once

#include "sessions.h"

/* The room for the program and its options: any command line the Startup shortcut can start.
 * Windows starts a program with at most 32,767 characters (CreateProcess), and in a double-byte
 * code page each of them may take two bytes. */
#define COMMAND_ROOM 65536

/* data: the program, quoted, then its arguments ("/Q" and the options), as the installer
 * formatted them; NULL where they did not fit the action's room (nothing is started, the list is
 * kept). As LocalSystem: every noted session, with its user's own token, the ordinary
 * one where Windows keeps an elevated one beside it. Without a program (an uninstallation) the
 * list is only forgotten, and only when it belongs to this installation (owner, its
 * ProductCode): an upgrade's removal of the old version leaves it to the upgrade. */
void StartInSessions(const char *data, const char *owner);

/* As the installing user, where the system could not: its own session only, and only when that
 * is the session's noted user and the installation does not run elevated. */
void StartInOwnSession(const char *data, const char *owner);

typedef DWORD(WINAPI *InputIdleProc)(HANDLE, DWORD);

typedef enum StartRead { READ_NO_PROGRAM, READ_TOO_LONG, READ_READY } StartRead;

typedef struct Start {
    char commandLine[COMMAND_ROOM];
    char program[MAX_PATH]; /* the application name: no search, no other program by that name */
    char folder[MAX_PATH];  /* the program's folder, its working directory */
} Start;

/* The copies started and not yet waited for. */
typedef struct Started {
    DWORD count;
    const char *where; /* "" or "the installing user's ", for the log */
    HANDLE processes[MAX_SESSIONS];
    DWORD ids[MAX_SESSIONS];
    DWORD sessions[MAX_SESSIONS];
    InputIdleProc inputIdle;
} Started;

/* text NULL: it did not fit the action's room. */
StartRead ReadStart(const char *text, Start *start);

/* An elevated token's ordinary half goes to *linked (NULL where the caller wants none, or there
 * is none). */
void ReadTokenFacts(HANDLE token, BYTE *sid, TokenFacts *facts, HANDLE *linked);

/* Starts the copy: in the token's session with that token (asUser), or with this process's own
 * token (the installing user's, the environment's token); kept in started for the wait. FALSE,
 * logged, when it was not started. */
BOOL StartCopy(HANDLE token, BOOL asUser, Start *start, DWORD session, Started *started);

/* One wait, at most 10 s for all of them, until the started copies are resident; each is then
 * logged as started or as ended at once, with its exit code. */
void AwaitResident(Started *started);
