/* The starter's copies: what to start (the program, its folder and command line), the facts of
 * a user's token, the start itself with that user's environment, breaking away from the
 * installer's job first, and the one wait until every started copy is resident. */
#ifndef START_COPY_H
#define START_COPY_H

#include "sessions.h"
#include "starter.h"

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

/* The command line, the program and its folder. text NULL: it did not fit the action's room. */
StartRead ReadStart(const char *text, Start *start);

/* The facts the decision needs; an elevated token's ordinary half goes to *linked (NULL where
 * the caller wants none, or there is none). */
void ReadTokenFacts(HANDLE token, BYTE *sid, TokenFacts *facts, HANDLE *linked);

/* Starts the copy: in the token's session with that token (asUser), or with this process's own
 * token (the installing user's, the environment's token); kept in started for the wait. FALSE,
 * logged, when it was not started. */
BOOL StartCopy(HANDLE token, BOOL asUser, Start *start, DWORD session, Started *started);

/* One wait, at most 10 s for all of them, until the started copies are resident; each
 * is then logged as started or as ended at once, with its exit code. */
void AwaitResident(Started *started);

#endif
