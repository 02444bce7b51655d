/* Starts SLOTWARD again in each session in which the stopper ended a copy; see starter.h. The
 * system's form takes each noted session's user token (WTSQueryUserToken, LocalSystem only) and
 * lets start_choice.h decide from its facts; the installing user's form, where that cannot work
 * (Windows 2000), starts only in its own session as itself. Neither gives anyone a new power: the
 * list can be written by administrators only, and a copy starts only as the user whose copy was
 * ended, on winsta0\default, with that user's environment, breaking away from the installer's
 * job where the job allows it. Every copy is started first, then waited for once. */
#include "starter.h"

#include "log.h"
#include "sessions.h"
#include "image_place.h"
#include "start_choice.h"

/* How long, all together, to give the started copies to become resident before the next step
 * of the installation (which may start one of its own) goes on. */
#define IDLE_WAIT_MS 10000
/* A copy without a message queue yet cannot be idle: how often to look again. */
#define IDLE_RETRY_MS 50

typedef BOOL(WINAPI *UserTokenProc)(ULONG, PHANDLE);
typedef BOOL(WINAPI *TokenInformationProc)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
typedef BOOL(WINAPI *EnvironmentProc)(LPVOID *, HANDLE, BOOL);
typedef BOOL(WINAPI *FreeEnvironmentProc)(LPVOID);
typedef BOOL(WINAPI *StartAsUserProc)(HANDLE, LPCSTR, LPSTR, LPSECURITY_ATTRIBUTES,
                                      LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCSTR,
                                      LPSTARTUPINFOA, LPPROCESS_INFORMATION);
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

/* The command line, the program and its folder. data NULL: it did not fit the action's room. */
static StartRead ReadStart(const char *text, Start *start) {
    if (text == NULL) {
        return READ_TOO_LONG;
    }
    while (*text == ' ' || *text == '\t') {
        text++;
    }
    if (NextArgument(text, start->program) == NULL) {
        return *text == '\0' ? READ_NO_PROGRAM : READ_TOO_LONG;
    }
    if (lstrlenA(text) >= (int)sizeof start->commandLine) {
        return READ_TOO_LONG;
    }
    lstrcpyA(start->commandLine, text);
    lstrcpyA(start->folder, start->program);
    for (int i = lstrlenA(start->folder); i > 0; i--) {
        if (start->folder[i - 1] == '\\') {
            start->folder[i] = '\0';
            break;
        }
    }
    return READ_READY;
}

static void Keep(Started *started, PROCESS_INFORMATION *process, DWORD session) {
    CloseHandle(process->hThread);
    if (started->count < MAX_SESSIONS) {
        started->ids[started->count] = process->dwProcessId;
        started->sessions[started->count] = session;
        started->processes[started->count++] = process->hProcess;
    } else {
        CloseHandle(process->hProcess);
    }
}

/* Until the copy is idle in its message loop (resident), has ended, or ms are over; nonzero
 * unless the time ran out. */
static int AwaitOne(void *context, int copy, unsigned int ms) {
    const Started *started = (const Started *)context;
    HANDLE process = started->processes[copy];
    DWORD begun = GetTickCount();
    for (DWORD spent = 0; spent < ms; spent = GetTickCount() - begun) {
        if (started->inputIdle != NULL && started->inputIdle(process, ms - spent) != WAIT_FAILED) {
            return 1;
        }
        /* No message queue yet, or no WaitForInputIdle: it may still end before it has one. */
        if (EndedByWait(WaitForSingleObject(process, IDLE_RETRY_MS))) {
            return 1;
        }
    }
    return 0;
}

/* What became of a started copy: a copy that ended at once (it found an instance, or failed)
 * guards nothing, and the log says so with its exit code. */
static void ReportStarted(void *context, int i, int waited) {
    const Started *started = (const Started *)context;
    DWORD code = 0;
    (void)waited;
    if (EndedByWait(WaitForSingleObject(started->processes[i], 0)) &&
        GetExitCodeProcess(started->processes[i], &code)) {
        Say("SLOTWARD ended at once in %tsession %1: process %2 exited with code %3",
            started->where, started->sessions[i], started->ids[i], code);
    } else {
        Say("started SLOTWARD in %tsession %1 as process %2", started->where, started->sessions[i],
            started->ids[i], 0);
    }
    CloseHandle(started->processes[i]);
}

static unsigned int Now(void *context) {
    (void)context;
    return GetTickCount();
}

/* Lets the installation go on only once the copies are resident, or one wait for all of them is
 * over (image_place.h): an interactive installation's own start that follows then finds its copy
 * and stays quiet. */
static void AwaitResident(Started *started) {
    const EndWaiter waiter = {started, Now, AwaitOne, ReportStarted};
    started->inputIdle = (InputIdleProc)SystemFunction("user32.dll", "WaitForInputIdle");
    AwaitEnds(&waiter, (int)started->count, IDLE_WAIT_MS);
    started->count = 0;
}

/* The facts the decision needs; an elevated token's ordinary half goes to *linked (NULL where
 * the caller wants none, or there is none). */
static void ReadTokenFacts(HANDLE token, BYTE *sid, TokenFacts *facts, HANDLE *linked) {
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
static LPVOID UserEnvironment(HANDLE token, const Started *started, DWORD session) {
    EnvironmentProc environment =
        (EnvironmentProc)SystemFunction("userenv.dll", "CreateEnvironmentBlock");
    LPVOID block = NULL;
    if (environment == NULL || !environment(&block, token, FALSE)) {
        Say("not started in %tsession %1: no environment for its user, error %2", started->where,
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

/* Starts the copy: in the token's session with that token (asUser), or with this process's own
 * token (the installing user's, the environment's token). The job the installer runs its actions
 * in may end what they leave behind, and a process in another session may not join it at all:
 * the copy breaks away where the job allows it, and is started plainly where it does not. */
static BOOL StartCopy(HANDLE token, BOOL asUser, Start *start, DWORD session, Started *started) {
    StartAsUserProc startAsUser =
        (StartAsUserProc)SystemFunction("advapi32.dll", "CreateProcessAsUserA");
    static const DWORD kTries[2] = {CREATE_BREAKAWAY_FROM_JOB, 0};
    DWORD errors[2] = {ERROR_PROC_NOT_FOUND, 0};
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    char desktop[] = "winsta0\\default";
    BOOL ok = FALSE;
    LPVOID block = UserEnvironment(token, started, session);
    if (block == NULL) {
        return FALSE;
    }
    ClearBytes(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.lpDesktop = asUser ? desktop : NULL;
    for (int i = 0; i < 2 && (startAsUser != NULL || !asUser) && !ok; i++) {
        DWORD flags = CREATE_UNICODE_ENVIRONMENT | kTries[i];
        ok = asUser ? startAsUser(token, start->program, start->commandLine, NULL, NULL, FALSE,
                                  flags, block, start->folder, &startup, &process)
                    : CreateProcessA(start->program, start->commandLine, NULL, NULL, FALSE, flags,
                                     block, start->folder, &startup, &process);
        errors[i] = ok ? 0 : GetLastError();
    }
    FreeEnvironment(block);
    if (!ok) {
        Say("not started in %tsession %1: error %2 breaking away from the installer's job, error "
            "%3 without",
            started->where, session, errors[0], errors[1]);
        return FALSE;
    }
    Keep(started, &process, session);
    return TRUE;
}

/* One noted session: TRUE when it leaves the list (served, or its user is gone). */
static BOOL ServeSession(UserTokenProc userToken, const EndedCopy *copy, Start *start,
                         Started *started) {
    HANDLE token = NULL;
    HANDLE linked = NULL;
    BYTE sid[SID_BYTES];
    TokenFacts facts;
    if (!userToken(copy->session, &token)) {
        LogNumbers("not started in session %1: no token for its user, error %2", copy->session,
                   GetLastError(), 0);
        return FALSE;
    }
    ReadTokenFacts(token, sid, &facts, &linked);
    StartChoice choice = ChooseSessionStart(copy->sid, copy->sidLength, &facts);
    BOOL ok = FALSE;
    if (RefusalReason(choice) != NULL) {
        LogNumbersText("not started in session %1: %t", copy->session, RefusalReason(choice));
    } else {
        ok = StartCopy(choice == START_WITH_LINKED ? linked : token, TRUE, start, copy->session,
                       started);
    }
    if (linked != NULL) {
        CloseHandle(linked);
    }
    CloseHandle(token);
    return LeavesList(choice, ok);
}

/* Zero-filled storage rather than the stack (see actions.c). */
static Start sStart;
static SessionList sEnded;
static Started sStarted;

/* Writes what the step leaves of the list (start_choice.h). ownRights: the installing user's
 * start, whose refusal to a user who is not an administrator is expected and not logged. */
static void KeepRest(ListFacts *facts, const char *owner, BOOL ownRights) {
    facts->after = sEnded.count;
    BOOL written = TRUE;
    switch (FateOfList(facts)) {
    case LIST_FORGOTTEN:
        written = ForgetEndedSessions();
        break;
    case LIST_UPDATED:
    case LIST_AFRESH:
        written = WriteEndedSessions(&sEnded, facts->step == STEP_START ? NULL : owner);
        break;
    default:
        break;
    }
    DWORD error = GetLastError();
    if (!written && !(ownRights && error == ERROR_ACCESS_DENIED)) {
        LogNumbers("could not write the list of sessions: error %1", error, 0, 0);
    }
}

/* The action's data did not fit: nothing is started, and the list is kept, so that nothing of
 * it is lost; the Startup shortcut brings SLOTWARD back at each user's next logon. */
static void SayTooLong(void) {
    LogNumbers("the program and its options do not fit in %1 bytes: SLOTWARD is not started, its "
               "users get it at the next logon",
               COMMAND_ROOM - 1, 0, 0);
}

/* Every noted session is started first, then waited for once. The sessions still to serve stay
 * at the front of the list, in their order. */
static void ServeAll(UserTokenProc userToken) {
    DWORD kept = 0;
    sStarted.where = "";
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
}

void StartInSessions(const char *data, const char *owner) {
    UserTokenProc userToken = (UserTokenProc)SystemFunction("wtsapi32.dll", "WTSQueryUserToken");
    StartRead read = ReadStart(data, &sStart);
    /* An uninstallation looks at any list, to leave one of another installation alone. */
    BOOL listed = ReadEndedSessions(&sEnded, read == READ_NO_PROGRAM ? NULL : owner);
    ListFacts facts = {STEP_START, listed, 0, sEnded.count, sEnded.count, userToken != NULL};
    if (read == READ_NO_PROGRAM) {
        facts.step = STEP_NO_PROGRAM;
        facts.owned = listed && ListOwnedBy(owner);
        if (listed && !facts.owned) {
            LogLine("the list of sessions is left to the installation this removal is part of");
        }
        KeepRest(&facts, owner, FALSE);
        return;
    }
    if (read == READ_TOO_LONG || (listed && userToken == NULL)) {
        if (read == READ_TOO_LONG) {
            SayTooLong();
        } else {
            LogNumbers("%1 session(s) left to the installing user: this system gives no "
                       "session's token (WTSQueryUserToken)",
                       sEnded.count, 0, 0);
        }
        facts.startable = FALSE;
        KeepRest(&facts, owner, FALSE);
        return;
    }
    ServeAll(userToken);
    KeepRest(&facts, owner, FALSE);
}

/* The installing user's own token facts: the process token, the one CreateProcess starts with,
 * whatever the thread may impersonate. */
static void ReadOwnFacts(BYTE *sid, TokenFacts *facts) {
    HANDLE token = ProcessToken(GetCurrentProcess());
    if (token != NULL) {
        ReadTokenFacts(token, sid, facts, NULL);
        CloseHandle(token);
    }
}

void StartInOwnSession(const char *data, const char *owner) {
    DWORD session;
    BOOL listed = ReadEndedSessions(&sEnded, owner);
    ListFacts facts = {STEP_START, listed, 0, sEnded.count, sEnded.count, TRUE};
    StartRead read = ReadStart(data, &sStart);
    if (read == READ_TOO_LONG) {
        SayTooLong();
        facts.startable = FALSE;
        KeepRest(&facts, NULL, TRUE);
        return;
    }
    if (read == READ_NO_PROGRAM || !SessionOfProcess(GetCurrentProcessId(), &session)) {
        return;
    }
    BYTE sid[SID_BYTES];
    TokenFacts own = {sid, 0, ELEVATION_UNKNOWN, 0};
    ReadOwnFacts(sid, &own);
    /* Its own copy where several users had one there; else the first, for the refusal. */
    const EndedCopy *copy = FindCopy(&sEnded, session, own.user, own.userLength);
    copy = copy != NULL ? copy : FindCopy(&sEnded, session, NULL, 0);
    if (copy == NULL) {
        LogNumbers("nothing left to start in the installing user's session %1", session, 0, 0);
        return;
    }
    StartChoice choice = ChooseOwnStart(copy->sid, copy->sidLength, &own);
    if (RefusalReason(choice) != NULL) {
        Say("not started in session %1: %t; its user gets SLOTWARD at the next logon",
            RefusalReason(choice), session, 0, 0);
        return;
    }
    sStarted.count = 0;
    sStarted.where = "the installing user's ";
    HANDLE token = ProcessToken(GetCurrentProcess());
    BOOL started = token != NULL && StartCopy(token, FALSE, &sStart, session, &sStarted);
    if (token != NULL) {
        CloseHandle(token);
    }
    if (!started) {
        return;
    }
    AwaitResident(&sStarted);
    RemoveCopy(&sEnded, copy);
    KeepRest(&facts, NULL, TRUE);
}
