/* Starts SLOTWARD again in each session in which the stopper ended a copy; see starter.h.
 *
 * The system's form takes the token of each noted session's user (WTSQueryUserToken, which only
 * LocalSystem may call), checks that it is still the user whose copy was ended, gives way to the
 * user's ordinary token where the one Windows returns is elevated, and starts SLOTWARD with it,
 * with the user's environment, on the session's desktop (winsta0\default), breaking away from
 * the job the installer runs its actions in where the job allows it, so that the copy outlives
 * the action. Every session is started first; then the starter waits once, at most IDLE_WAIT_MS
 * for all of them together, until they are resident. Each session it served leaves the list.
 *
 * The installing user's form is what is left where the first cannot work (Windows 2000 has no
 * WTSQueryUserToken): it starts SLOTWARD in its own session, with its own token, and only when
 * that token is the noted user's and not elevated; a session it may not serve gets SLOTWARD at
 * its user's next logon.
 *
 * Neither form gives anyone a new power: the first needs LocalSystem's privilege, the list can be
 * written by administrators only, and the second starts nothing but in its caller's own session
 * as the caller, who is the user whose copy was ended.
 */
#include "starter.h"

#include "log.h"
#include "sessions.h"

/* How long, all together, to give the started copies to become resident before the next step
 * of the installation (which may start one of its own) goes on. */
#define IDLE_WAIT_MS 10000

typedef BOOL(WINAPI *UserTokenProc)(ULONG, PHANDLE);
typedef BOOL(WINAPI *TokenInformationProc)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
typedef BOOL(WINAPI *EnvironmentProc)(LPVOID *, HANDLE, BOOL);
typedef BOOL(WINAPI *FreeEnvironmentProc)(LPVOID);
typedef BOOL(WINAPI *StartAsUserProc)(HANDLE, LPCSTR, LPSTR, LPSECURITY_ATTRIBUTES,
                                      LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCSTR,
                                      LPSTARTUPINFOA, LPPROCESS_INFORMATION);
typedef DWORD(WINAPI *InputIdleProc)(HANDLE, DWORD);

/* TOKEN_ELEVATION_TYPE's "full": an administrator's elevated token while UAC is on. */
#define ELEVATION_FULL 2

typedef struct Start {
    char commandLine[2 * MAX_PATH + 1024];
    char folder[MAX_PATH]; /* the program's folder, its working directory */
} Start;

/* The copies started and not yet waited for. */
typedef struct Started {
    DWORD count;
    HANDLE processes[MAX_SESSIONS];
} Started;

/* The command line, and the program's folder from its path. FALSE when there is no program. */
static BOOL ReadStart(const char *text, Start *start) {
    char program[MAX_PATH];
    while (*text == ' ' || *text == '\t') {
        text++;
    }
    if (NextArgument(text, program) == NULL || lstrlenA(text) >= (int)sizeof start->commandLine) {
        return FALSE;
    }
    lstrcpyA(start->commandLine, text);
    lstrcpyA(start->folder, program);
    for (int i = lstrlenA(start->folder); i > 0; i--) {
        if (start->folder[i - 1] == '\\') {
            start->folder[i] = '\0';
            break;
        }
    }
    return TRUE;
}

static void Keep(Started *started, PROCESS_INFORMATION *process) {
    CloseHandle(process->hThread);
    if (started->count < MAX_SESSIONS) {
        started->processes[started->count++] = process->hProcess;
    } else {
        CloseHandle(process->hProcess);
    }
}

/* Lets the installation go on only once the copies are resident, or the one wait is over: an
 * interactive installation's own start that follows then finds its copy and stays quiet. */
static void AwaitResident(Started *started) {
    InputIdleProc inputIdle = (InputIdleProc)SystemFunction("user32.dll", "WaitForInputIdle");
    DWORD begun = GetTickCount();
    for (DWORD i = 0; i < started->count; i++) {
        DWORD spent = GetTickCount() - begun;
        if (inputIdle != NULL && spent < IDLE_WAIT_MS) {
            inputIdle(started->processes[i], IDLE_WAIT_MS - spent);
        }
        CloseHandle(started->processes[i]);
    }
    started->count = 0;
}

/* The token the session's user works with: an elevated one gives way to the ordinary one
 * Windows keeps beside it. */
static HANDLE OrdinaryToken(HANDLE token) {
    TokenInformationProc tokenInformation =
        (TokenInformationProc)SystemFunction("advapi32.dll", "GetTokenInformation");
    DWORD elevation = 0;
    HANDLE linked = NULL;
    DWORD size;
    if (tokenInformation == NULL ||
        !tokenInformation(token, TokenElevationType, &elevation, sizeof elevation, &size) ||
        elevation != ELEVATION_FULL) {
        return token; /* XP, UAC off, or already the ordinary token */
    }
    if (!tokenInformation(token, TokenLinkedToken, &linked, sizeof linked, &size)) {
        linked = NULL;
    }
    CloseHandle(token);
    return linked;
}

/* Starts the copy in the token's session. The job the installer runs its actions in may end
 * what they leave behind, and a process in another session may not join it at all: the copy
 * breaks away where the job allows it, and is started plainly where it does not. */
static BOOL StartAsUser(HANDLE token, Start *start, PROCESS_INFORMATION *process) {
    StartAsUserProc startAsUser =
        (StartAsUserProc)SystemFunction("advapi32.dll", "CreateProcessAsUserA");
    EnvironmentProc environment =
        (EnvironmentProc)SystemFunction("userenv.dll", "CreateEnvironmentBlock");
    FreeEnvironmentProc freeEnvironment =
        (FreeEnvironmentProc)SystemFunction("userenv.dll", "DestroyEnvironmentBlock");
    STARTUPINFOA startup;
    LPVOID block = NULL;
    char desktop[] = "winsta0\\default";
    BOOL ok = FALSE;
    if (startAsUser == NULL) {
        return FALSE;
    }
    if (environment == NULL || freeEnvironment == NULL || !environment(&block, token, FALSE)) {
        block = NULL;
    }
    ClearBytes(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.lpDesktop = desktop;
    DWORD flags = block != NULL ? CREATE_UNICODE_ENVIRONMENT : 0;
    for (int attempt = 0; attempt < 2 && !ok; attempt++) {
        DWORD breakaway = attempt == 0 ? CREATE_BREAKAWAY_FROM_JOB : 0;
        ok = startAsUser(token, NULL, start->commandLine, NULL, NULL, FALSE, flags | breakaway,
                         block, start->folder, &startup, process);
    }
    DWORD error = GetLastError();
    if (block != NULL) {
        freeEnvironment(block);
    }
    SetLastError(error);
    return ok;
}

/* One noted session: TRUE when nothing is left to do for it (served, or its user is gone). */
static BOOL ServeSession(UserTokenProc userToken, const EndedCopy *copy, Start *start,
                         Started *started) {
    HANDLE token = NULL;
    PROCESS_INFORMATION process;
    if (!userToken(copy->session, &token)) {
        LogNumbers("not started in session %1: no token for its user, error %2", copy->session,
                   GetLastError(), 0);
        return FALSE;
    }
    if (!IsUserOf(token, copy)) {
        LogNumbers("not started in session %1: another user is signed in there now", copy->session,
                   0, 0);
        CloseHandle(token);
        return TRUE;
    }
    token = OrdinaryToken(token);
    if (token == NULL) {
        LogNumbers("not started in session %1: no ordinary token for its user, error %2",
                   copy->session, GetLastError(), 0);
        return FALSE;
    }
    BOOL ok = StartAsUser(token, start, &process);
    if (ok) {
        LogNumbers("started SLOTWARD in session %1 as process %2", copy->session,
                   process.dwProcessId, 0);
        Keep(started, &process);
    } else {
        LogNumbers("not started in session %1: error %2", copy->session, GetLastError(), 0);
    }
    CloseHandle(token);
    return ok;
}

/* Zero-filled storage rather than the stack, which one page at a time is all a module without
 * the C runtime's stack probe may take. */
static Start sStart;
static SessionList sEnded;
static Started sStarted;

/* What is left of the list once sessions were served: nothing, or the sessions still to serve. */
static void KeepRest(const SessionList *rest) {
    if (!(rest->count == 0 ? ForgetEndedSessions() : WriteEndedSessions(rest, NULL))) {
        LogNumbers("could not write the list of sessions: error %1", GetLastError(), 0, 0);
    }
}

void StartInSessions(const char *data, const char *owner) {
    UserTokenProc userToken = (UserTokenProc)SystemFunction("wtsapi32.dll", "WTSQueryUserToken");
    BOOL listed = ReadEndedSessions(&sEnded);
    if (!ReadStart(data, &sStart)) {
        if (listed && ListOwnedBy(owner)) {
            ForgetEndedSessions();
        } else if (listed) {
            LogLine("the list of sessions is left to the installation this removal is part of");
        }
        return;
    }
    if (listed && userToken == NULL) {
        LogNumbers("%1 session(s) left to the installing user: this system gives no session's "
                   "token (WTSQueryUserToken)",
                   sEnded.count, 0, 0);
        return;
    }
    /* The sessions still to serve stay at the front of the list, in their order. */
    DWORD kept = 0;
    for (DWORD i = 0; i < sEnded.count; i++) {
        if (ServeSession(userToken, &sEnded.copies[i], &sStart, &sStarted)) {
            continue;
        }
        if (kept != i) {
            CopyBytes(&sEnded.copies[kept], &sEnded.copies[i], sizeof(EndedCopy));
        }
        kept++;
    }
    sEnded.count = kept;
    AwaitResident(&sStarted);
    if (listed) {
        KeepRest(&sEnded);
    }
}

/* Why the installing user may not start SLOTWARD in its own session, or NULL when it may. */
static const char *RefusalHere(const EndedCopy *copy) {
    HANDLE token = ProcessToken(GetCurrentProcess());
    const char *refusal = NULL;
    if (token == NULL) {
        return "the installation's own token cannot be read";
    }
    if (IsElevated(token)) {
        refusal = "the installation runs elevated";
    } else if (!IsUserOf(token, copy)) {
        refusal = "the installation runs as another user than the one whose copy was ended";
    }
    CloseHandle(token);
    return refusal;
}

void StartInOwnSession(const char *data) {
    DWORD session;
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    ReadEndedSessions(&sEnded);
    if (!ReadStart(data, &sStart) || !SessionOfProcess(GetCurrentProcessId(), &session)) {
        return;
    }
    const EndedCopy *copy = FindSession(&sEnded, session);
    if (copy == NULL) {
        LogNumbers("nothing left to start in the installing user's session %1", session, 0, 0);
        return;
    }
    const char *refusal = RefusalHere(copy);
    if (refusal != NULL) {
        Say("not started in session %1: %t; its user gets SLOTWARD at the next logon", refusal,
            session, 0, 0);
        return;
    }
    ClearBytes(&startup, sizeof startup);
    startup.cb = sizeof startup;
    /* CreateProcess starts with the process's own token, the one just checked, whatever the
     * thread may impersonate. */
    if (!CreateProcessA(NULL, sStart.commandLine, NULL, NULL, FALSE, 0, NULL, sStart.folder,
                        &startup, &process)) {
        LogNumbers("not started in session %1: error %2", session, GetLastError(), 0);
        return;
    }
    LogNumbers("started SLOTWARD in the installing user's session %1 as process %2", session,
               process.dwProcessId, 0);
    sStarted.count = 0;
    Keep(&sStarted, &process);
    AwaitResident(&sStarted);
    RemoveSession(&sEnded, session);
    KeepRest(&sEnded); /* an installing user without the rights leaves it */
}
