/* Starts SLOTWARD again in each session in which the stopper ended a copy.
 *
 *     starter.exe "C:\Program Files\SLOTWARD\slotward.exe" /Q /F       (as LocalSystem)
 *     starter.exe /here "C:\Program Files\SLOTWARD\slotward.exe" /Q /F (as the installing user)
 *
 * Everything after the starter's own name (and after /here) is the command line SLOTWARD is
 * started with, as the installer formatted it: the new program and its remembered options, after
 * /Q, so that a copy that finds one already running (its user started it meanwhile) ends without
 * a box.
 *
 * The installer runs the first form as a deferred action without impersonation once the new
 * files are in place. For each session of the stopper's list it takes the token of the session's
 * user (WTSQueryUserToken, which only LocalSystem may call), the user's ordinary one where Windows
 * keeps an elevated one beside it, and starts SLOTWARD with it, with the user's environment, on
 * the session's desktop (winsta0\default), breaking away from the job the installer runs its
 * actions in, so that the copy outlives the action. Each session it served leaves the list.
 *
 * The second form is what is left where the first cannot work (Windows 2000 has no
 * WTSQueryUserToken): the installer runs it after the installation, impersonating the user who
 * installs, and it starts SLOTWARD in that user's own session, with that user's own rights, when
 * the list still holds the session. Other sessions get SLOTWARD at their next logon.
 *
 * Neither form gives anyone a new power: the first needs LocalSystem's privilege, the list can
 * be written by administrators only, and the second starts nothing but in its caller's own
 * session with its caller's token. WTSAPI32, USERENV, ADVAPI32 and USER32 are loaded when needed;
 * the program imports from KERNEL32 only and uses no C runtime. It always exits 0.
 */
#include "sessions.h"

/* How long to give each started copy to become resident before the next step of the
 * installation (which may start one of its own) goes on. */
#define IDLE_WAIT_MS 10000

typedef BOOL(WINAPI *UserTokenProc)(ULONG, PHANDLE);
typedef BOOL(WINAPI *TokenInformationProc)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD,
                                           PDWORD);
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

/* Lets the installation go on only once the copy is resident: an interactive installation's own
 * start that follows then finds it and stays quiet. */
static void AwaitResident(PROCESS_INFORMATION *started) {
    InputIdleProc inputIdle = (InputIdleProc)SystemFunction("user32.dll", "WaitForInputIdle");
    if (inputIdle != NULL) {
        inputIdle(started->hProcess, IDLE_WAIT_MS);
    }
    CloseHandle(started->hThread);
    CloseHandle(started->hProcess);
}

static void ClearBytes(void *bytes, DWORD size) {
    volatile BYTE *at = (volatile BYTE *)bytes;
    while (size-- > 0) {
        *at++ = 0;
    }
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
 * breaks away where the job allows it, and is started plainly where there is no job. */
static BOOL StartAsUser(HANDLE token, Start *start) {
    StartAsUserProc startAsUser =
        (StartAsUserProc)SystemFunction("advapi32.dll", "CreateProcessAsUserA");
    EnvironmentProc environment =
        (EnvironmentProc)SystemFunction("userenv.dll", "CreateEnvironmentBlock");
    FreeEnvironmentProc freeEnvironment =
        (FreeEnvironmentProc)SystemFunction("userenv.dll", "DestroyEnvironmentBlock");
    STARTUPINFOA startup;
    PROCESS_INFORMATION started;
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
                         block, start->folder, &startup, &started);
    }
    if (ok) {
        AwaitResident(&started);
    }
    if (block != NULL) {
        freeEnvironment(block);
    }
    return ok;
}

/* The system-context form: every session of the list. */
static void StartInSessions(Start *start) {
    UserTokenProc userToken = (UserTokenProc)SystemFunction("wtsapi32.dll", "WTSQueryUserToken");
    SessionList ended;
    SessionList served;
    ReadEndedSessions(&ended);
    served.count = 0;
    for (DWORD i = 0; i < ended.count && userToken != NULL; i++) {
        HANDLE token = NULL;
        if (!userToken(ended.ids[i], &token)) {
            continue;
        }
        token = OrdinaryToken(token);
        if (token != NULL && StartAsUser(token, start)) {
            AddSession(&served, ended.ids[i]);
        }
        if (token != NULL) {
            CloseHandle(token);
        }
    }
    for (DWORD i = 0; i < served.count; i++) {
        RemoveSession(&ended, served.ids[i]);
    }
    WriteEndedSessions(&ended);
}

/* The installing user's form: its own session, if that is still on the list. */
static void StartHere(Start *start) {
    SessionList ended;
    DWORD session;
    STARTUPINFOA startup;
    PROCESS_INFORMATION started;
    ReadEndedSessions(&ended);
    if (!SessionOfProcess(GetCurrentProcessId(), &session) || !HasSession(&ended, session)) {
        return;
    }
    ClearBytes(&startup, sizeof startup);
    startup.cb = sizeof startup;
    if (CreateProcessA(NULL, start->commandLine, NULL, NULL, FALSE, 0, NULL, start->folder,
                       &startup, &started)) {
        AwaitResident(&started);
        RemoveSession(&ended, session);
        WriteEndedSessions(&ended); /* an installing user without the rights leaves it */
    }
}

/* Zero-filled storage rather than the stack, which one page at a time is all a program without
 * the C runtime's stack probe may take. */
static Start sStart;

void StarterEntry(void) {
    char first[MAX_PATH];
    const char *text = ArgumentText(GetCommandLineA());
    const char *after = NextArgument(text, first);
    BOOL here = after != NULL && lstrcmpiA(first, "/here") == 0;
    if (here) {
        text = after;
    }
    if (ReadStart(text, &sStart)) {
        if (here) {
            StartHere(&sStart);
        } else {
            StartInSessions(&sStart);
        }
    }
    ExitProcess(0);
}
