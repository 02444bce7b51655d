/* What the installer's actions share: their log, the folder checks, the list of ended copies (in
 * the volatile HKLM\Software\SLOTWARD\Sessions, which only administrators and the system may
 * write, owned by the installation that started it), system libraries, and the data walk. */
#pragma once

#include "start_choice.h"

#include <windows.h>
#include <msi.h>

/* The installer's log (log.c), "SLOTWARD: " first; format: %t the text, %1 to %3 numbers. */
void LogTo(MSIHANDLE install);
void Say(const char *format, const char *text, DWORD n1, DWORD n2, DWORD n3);
/* Parts up to a NULL, each %t the next of texts; a refusal ends the installation, in a box too. */
void Tell(const char *const *formats, const char *const *texts, BOOL refusal);
#define LogLine(text) Say(text, NULL, 0, 0, 0)
#define LogNumbers(format, n1, n2, n3) Say(format, NULL, n1, n2, n3)
#define LogText(format, text) Say(format, text, 0, 0, 0)

/* The folder checks (folder_guard.c), as the installing user. programFiles: with its final
 * backslash; an administrator's own folders count as administrators'. consequence: of a refusal. */
BOOL InstalledFolderTrusted(const char *folder, const char *programFiles, BOOL byAdministrator,
                            const char *consequence);
/* INSTALLDIR: a refusal says where SLOTWARD installs, and how to move it from installed. */
BOOL FolderAccepted(const char *folder, const char *installed, const char *programFiles,
                    BOOL byAdministrator);

/* FALSE when there is none. owner: only that installation's list counts; NULL: any. */
BOOL ReadEndedSessions(SessionList *list, const char *owner);
BOOL ListOwnedBy(const char *owner);
/* FALSE, with GetLastError's reason, when refused. owner: of a list made afresh, or NULL. */
BOOL WriteEndedSessions(const SessionList *list, const char *owner);
BOOL ForgetEndedSessions(void);

typedef BOOL(WINAPI *OpenTokenProc)(HANDLE, DWORD, PHANDLE);
typedef BOOL(WINAPI *TokenInformationProc)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
/* FALSE when the system cannot tell (Windows NT 4) or may not. */
BOOL SessionOfProcess(DWORD processId, DWORD *session);
/* Copied into sid (capacity SID_BYTES); its length, or 0. */
DWORD UserOfToken(HANDLE token, BYTE *sid);
/* For queries; NULL when it cannot be opened. */
HANDLE ProcessToken(HANDLE process);
/* GetTickCount, as the waits' clock (image_place.h's EndWaiter). */
unsigned int TickNow(void *context);

/* From the system folder only, never the program's or the installer's; NULL where it is missing.
 * The type without arguments converts to any function type without complaint. */
typedef void (*AnyFunction)(void);
AnyFunction SystemFunction(const char *library, const char *name);

/* There is no C runtime to give memcpy and memset. */
void CopyBytes(void *to, const void *from, DWORD count);
void ClearBytes(void *bytes, DWORD count);

/* Into out (MAX_PATH), quotes removed; where the walk goes on, NULL when none is left or fits. */
const char *NextArgument(const char *at, char *out);
