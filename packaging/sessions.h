/* What the installer's stopper and starter share: the sessions in which the stopper ended a copy
 * of SLOTWARD, kept for the starter, and the walk over their own command lines.
 *
 * The list lives in the volatile registry key HKLM\Software\SLOTWARD\Sessions (value "Ended",
 * the session numbers as DWORDs) from the stopper's run to the starter's, both parts of one
 * installation. Only administrators and the system may write there, so nobody else can choose
 * the sessions a copy is started in; and a volatile key never outlives a restart of Windows, so
 * a list an interrupted installation left behind cannot start anything after one. The registry
 * functions come from ADVAPI32, loaded when needed: the programs import from KERNEL32 only.
 */
#ifndef SESSIONS_H
#define SESSIONS_H

#include <windows.h>

/* More sessions than a terminal server holds at once; a copy in one beyond them is still ended,
 * and its user gets SLOTWARD back at the next logon. */
#define MAX_SESSIONS 64

typedef struct SessionList {
    DWORD count;
    DWORD ids[MAX_SESSIONS];
} SessionList;

/* Adds a session once; FALSE when it is already there or the list is full. */
BOOL AddSession(SessionList *list, DWORD id);
BOOL HasSession(const SessionList *list, DWORD id);
/* Takes one session out; the rest keep their order. */
void RemoveSession(SessionList *list, DWORD id);

/* The list the stopper left, or an empty one. */
void ReadEndedSessions(SessionList *list);
/* Replaces the list; an empty one removes the key, so that no earlier list survives it. FALSE
 * when the registry refused (a caller without the rights). */
BOOL WriteEndedSessions(const SessionList *list);

/* The session of a process; FALSE when the system cannot tell (Windows NT 4) or may not. */
BOOL SessionOfProcess(DWORD processId, DWORD *session);

/* A function of a system library, loaded on first use; NULL where the system lacks it. The type
 * without arguments converts to any function type without complaint. */
typedef void (*AnyFunction)(void);
AnyFunction SystemFunction(const char *library, const char *name);

/* The text after the program's own name and the blanks that follow it. */
const char *ArgumentText(const char *line);
/* Copies the next argument (quotes removed; a quoted one may hold blanks) into out, of capacity
 * MAX_PATH, and returns where the walk goes on, or NULL when no argument is left or it does not
 * fit. */
const char *NextArgument(const char *at, char *out);

#endif
