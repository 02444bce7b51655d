/* The starter's copies; see starter.h. */
#include "starter.h"

#include "image_place.h"

/* For all of them, before the next step of the installation (which may start a copy) goes on. */
#define IDLE_WAIT_MS 10000
/* A copy without a message queue yet cannot be idle: how often to look again. */
#define IDLE_RETRY_MS 50

typedef BOOL(WINAPI *EnvironmentProc)(LPVOID *, HANDLE, BOOL);
typedef BOOL(WINAPI *FreeEnvironmentProc)(LPVOID);
typedef BOOL(WINAPI *StartAsUserProc)(HANDLE, LPCSTR, LPSTR, LPSECURITY_ATTRIBUTES,
                                      LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCSTR,
                                      LPSTARTUPINFOA, LPPROCESS_INFORMATION);

typedef DWORD(WINAPI *InputIdleProc)(HANDLE, DWORD);

/* Zero-filled storage rather than the stack (see actions.c). */
static struct {
    char commandLine[COMMAND_ROOM];
    char program[MAX_PATH]; /* the application name: no search, no other program by that name */
    char folder[MAX_PATH];  /* the program's folder, its working directory */
} sStart;
static struct { /* the copies started and not yet waited for */
    DWORD count;
    const char *where;
    HANDLE processes[MAX_SESSIONS];
    DWORD ids[MAX_SESSIONS];
    DWORD sessions[MAX_SESSIONS];
    InputIdleProc inputIdle;
} sStarted;

StartRead ReadStart(const char *text) {
    if (text == NULL) {
        return READ_TOO_LONG;
    }
    while (*text == ' ' || *text == '\t') {
        text++;
    }
    if (NextArgument(text, sStart.program) == NULL) {
        return *text == '\0' ? READ_NO_PROGRAM : READ_TOO_LONG;
    }
    if (lstrlenA(text) >= (int)sizeof sStart.commandLine) {
        return READ_TOO_LONG;
    }
    lstrcpyA(sStart.commandLine, text);
    lstrcpyA(sStart.folder, sStart.program);
    for (int i = lstrlenA(sStart.folder); i > 0; i--) {
        if (sStart.folder[i - 1] == '\\') {
            sStart.folder[i] = '\0';
            break;
        }
    }
    return READ_READY;
}

static void Keep(PROCESS_INFORMATION *process, DWORD session) {
    CloseHandle(process->hThread);
    if (sStarted.count < MAX_SESSIONS) {
        sStarted.ids[sStarted.count] = process->dwProcessId;
        sStarted.sessions[sStarted.count] = session;
        sStarted.processes[sStarted.count++] = process->hProcess;
    } else {
        CloseHandle(process->hProcess);
    }
}

/* Nonzero once the copy is idle in its message loop (resident) or has ended. */
static int AwaitOne(void *context, int copy, unsigned int ms) {
    (void)context;
    HANDLE process = sStarted.processes[copy];
    DWORD begun = GetTickCount();
    for (DWORD spent = 0; spent < ms; spent = GetTickCount() - begun) {
        if (sStarted.inputIdle != NULL && sStarted.inputIdle(process, ms - spent) != WAIT_FAILED) {
            return 1;
        }
        /* No message queue yet, or no WaitForInputIdle: it may still end before it has one. */
        if (EndedByWait(WaitForSingleObject(process, IDLE_RETRY_MS))) {
            return 1;
        }
    }
    return 0;
}

/* A copy that ended at once (it found an instance, or failed) guards nothing: the log says so. */
static void ReportStarted(void *context, int i, int waited) {
    (void)context;
    DWORD code = 0;
    (void)waited;
    BOOL ended = EndedByWait(WaitForSingleObject(sStarted.processes[i], 0)) &&
                 GetExitCodeProcess(sStarted.processes[i], &code);
    Say(ended ? "SLOTWARD ended at once in %tsession %1: process %2 exited with code %3"
              : "started SLOTWARD in %tsession %1 as process %2",
        sStarted.where, sStarted.sessions[i], sStarted.ids[i], code);
    CloseHandle(sStarted.processes[i]);
}

/* So that an interactive installation's own start that follows finds its copy and stays quiet. */
void AwaitResident(void) {
    const EndWaiter waiter = {NULL, TickNow, AwaitOne, ReportStarted};
    sStarted.inputIdle = (InputIdleProc)SystemFunction("user32.dll", "WaitForInputIdle");
    AwaitEnds(&waiter, (int)sStarted.count, IDLE_WAIT_MS);
    sStarted.count = 0;
}

void ReadTokenFacts(HANDLE token, BYTE *sid, TokenFacts *facts, HANDLE *linked) {
    TokenInformationProc tokenInformation =
        (TokenInformationProc)SystemFunction("advapi32.dll", "GetTokenInformation");
    DWORD elevation = ELEVATION_UNKNOWN;
    DWORD size;
    facts->user = sid;
    facts->userLength = UserOfToken(token, sid);
    /* Before Vista the class does not exist and the call fails: no token is elevated there. */
    if (tokenInformation == NULL ||
        !tokenInformation(token, TokenElevationType, &elevation, sizeof elevation, &size)) {
        elevation = ELEVATION_UNKNOWN;
    }
    facts->elevation = (Elevation)elevation;
    facts->hasLinked = 0;
    if (linked == NULL) {
        return;
    }
    *linked = NULL;
    if (facts->elevation == ELEVATION_FULL &&
        tokenInformation(token, TokenLinkedToken, linked, sizeof *linked, &size)) {
        facts->hasLinked = *linked != NULL;
    }
}

/* The user's own environment, or NULL, logged: LocalSystem's must never reach a user's copy. */
static LPVOID UserEnvironment(HANDLE token, DWORD session) {
    EnvironmentProc environment =
        (EnvironmentProc)SystemFunction("userenv.dll", "CreateEnvironmentBlock");
    LPVOID block = NULL;
    if (environment == NULL || !environment(&block, token, FALSE)) {
        Say("not started in %tsession %1: no environment for its user, error %2", sStarted.where,
            session, GetLastError(), 0);
        return NULL;
    }
    return block;
}

static void FreeEnvironment(LPVOID block) {
    FreeEnvironmentProc freeEnvironment =
        (FreeEnvironmentProc)SystemFunction("userenv.dll", "DestroyEnvironmentBlock");
    if (freeEnvironment != NULL) {
        freeEnvironment(block);
    }
}

/* Out of the installer's job where it allows (it may end what its actions leave), else plainly. */
BOOL StartCopy(HANDLE token, BOOL asUser, DWORD session, const char *where) {
    StartAsUserProc startAsUser =
        (StartAsUserProc)SystemFunction("advapi32.dll", "CreateProcessAsUserA");
    static const DWORD kTries[2] = {CREATE_BREAKAWAY_FROM_JOB, 0};
    DWORD errors[2] = {ERROR_PROC_NOT_FOUND, 0};
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    char desktop[] = "winsta0\\default";
    BOOL ok = FALSE;
    sStarted.where = where;
    LPVOID block = UserEnvironment(token, session);
    if (block == NULL) {
        return FALSE;
    }
    ClearBytes(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.lpDesktop = asUser ? desktop : NULL;
    for (int i = 0; i < 2 && (startAsUser != NULL || !asUser) && !ok; i++) {
        DWORD flags = CREATE_UNICODE_ENVIRONMENT | kTries[i];
        ok = asUser ? startAsUser(token, sStart.program, sStart.commandLine, NULL, NULL, FALSE,
                                  flags, block, sStart.folder, &startup, &process)
                    : CreateProcessA(sStart.program, sStart.commandLine, NULL, NULL, FALSE, flags,
                                     block, sStart.folder, &startup, &process);
        errors[i] = ok ? 0 : GetLastError();
    }
    FreeEnvironment(block);
    if (!ok) {
        Say("not started in %tsession %1: error %2 breaking away from the installer's job, error "
            "%3 without",
            sStarted.where, session, errors[0], errors[1]);
        return FALSE;
    }
    Keep(&process, session);
    return TRUE;
}
