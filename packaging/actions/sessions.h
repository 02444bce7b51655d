/* What the installer's actions share: the list of the copies the stopper ended (start_choice.h),
 * the system's own libraries, and the walk over an action's data.
 *
 * The list lives in the volatile key HKLM\Software\SLOTWARD\Sessions (value "Ended") from the
 * stopper's run to the starter's: only administrators and the system may write there, and it
 * never outlives a restart of Windows. It belongs to the installation that started it (value
 * "Owner", its ProductCode): an upgrade's removal of the old version adds to the upgrade's list
 * and leaves it alone; only a removal that started the list itself forgets it. */
#ifndef SESSIONS_H
#define SESSIONS_H

#include "start_choice.h"

#include <windows.h>

/* The list the stopper left, or an empty one; FALSE when there is none. owner: only the list of
 * that installation counts (a key its first pass refused to write is another's); NULL: any. */
BOOL ReadEndedSessions(SessionList *list, const char *owner);
/* Whether the list there is belongs to this installation. */
BOOL ListOwnedBy(const char *owner);
/* Replaces the list, empty or not; owner: the installation it belongs to, for a list made
 * afresh (a key of that name that cannot be removed first is refused, ERROR_ALREADY_EXISTS), or
 * NULL to keep the key and the owner it has. FALSE when the registry refused (a caller without
 * the rights); GetLastError tells why. */
BOOL WriteEndedSessions(const SessionList *list, const char *owner);
/* Removes the list, and the product's key where nothing else is left in it: nothing survives for
 * a later installation. FALSE when the registry refused; GetLastError tells why. */
BOOL ForgetEndedSessions(void);

/* The session of a process; FALSE when the system cannot tell (Windows NT 4) or may not. */
BOOL SessionOfProcess(DWORD processId, DWORD *session);
/* The user of a token, copied into sid (capacity SID_BYTES); its length, or 0. */
DWORD UserOfToken(HANDLE token, BYTE *sid);
/* The process's token for queries, or NULL. */
HANDLE ProcessToken(HANDLE process);

/* A function of a system library, loaded from the system folder only (never from the folder a
 * program or the installer runs in, nor from the path) at each call, which after the first
 * finds the library already loaded; NULL where the system lacks it. The type without arguments
 * converts to any function type without complaint. */
typedef void (*AnyFunction)(void);
AnyFunction SystemFunction(const char *library, const char *name);

/* Byte copies and fills of the module's own: there is no C runtime to give memcpy and memset. */
void CopyBytes(void *to, const void *from, DWORD count);
void ClearBytes(void *bytes, DWORD count);

/* Copies the next argument (quotes removed; a quoted one may hold blanks) into out, of capacity
 * MAX_PATH, and returns where the walk goes on, or NULL when no argument is left or it does not
 * fit. */
const char *NextArgument(const char *at, char *out);

#endif
