/* The stopper; see stopper.h. A copy left running in any session would keep the file in use. */
#include "stopper.h"

#include <tlhelp32.h>

/* How long, for all of them, the ended copies have to let go of their file. */
#define END_WAIT_S 5
/* Ended copies waited for at once; more wait in turns. */
#define MAX_ENDED 64

typedef struct EndedProcess {
    HANDLE process;
    DWORD processId;
    DWORD session;
    BOOL sessionKnown;
} EndedProcess;

/* In the order of CandidateVerdict; %2 the error where there is one. */
static const char *const kLeftAlone[] = {
    "left process %1 alone: its program's name cannot be read",
    "left process %1 alone: its program is on the network",
    "left process %1 alone: its program is on another volume",
    "left process %1 alone: the installed program could not be identified",
    "left process %1 alone: could not act as its user to open its program: error %2",
    "left process %1 alone: could not open its program: error %2",
    "left process %1 alone: its program is another file",
    "left process %1 alone: its program's name cannot be read",
};

/* Zero-filled storage rather than the stack (see actions.c). */
static EndedProcess sEndedProcesses[MAX_ENDED];
static int sEndedCount;
static Target sTargets[MAX_TARGETS];
static SessionList sEnded;

/* The session's number is never a guess. %3 the rest (%2 in the line without a session). */
static void LogProcess(const char *inSession, const char *sessionUnknown, DWORD processId,
                       DWORD session, BOOL sessionKnown, DWORD rest) {
    LogNumbers(sessionKnown ? inSession : sessionUnknown, processId, sessionKnown ? session : rest,
               sessionKnown ? rest : 0);
}

static int AwaitEnd(void *context, int copy, unsigned int ms) {
    (void)context;
    return EndedByWait(WaitForSingleObject(sEndedProcesses[copy].process, ms));
}

static void TellEnd(void *context, int copy, int ended) {
    const EndedProcess *process = &sEndedProcesses[copy];
    (void)context;
    LogProcess(ended ? "ended process %1 in session %2"
                     : "process %1 in session %2 did not end within %3 s",
               ended ? "ended process %1, session unknown"
                     : "process %1, session unknown, did not end within %2 s",
               process->processId, process->session, process->sessionKnown, END_WAIT_S);
    CloseHandle(process->process);
}

static void AwaitEnded(void) {
    const EndWaiter waiter = {NULL, TickNow, AwaitEnd, TellEnd};
    if (sEndedCount > 0) {
        LogNumbers("waiting up to %1 s for %2 ended process(es)", END_WAIT_S, sEndedCount, 0);
    }
    AwaitEnds(&waiter, sEndedCount, END_WAIT_S * 1000);
    sEndedCount = 0;
}

/* The wait for it comes with the others'; takes the candidate's handle where it was ended. */
static void EndCopy(Candidate *candidate, SessionList *ended) {
    DWORD session = 0;
    BYTE sid[SID_BYTES];
    DWORD sidLength = 0;
    BOOL known = SessionOfProcess(candidate->processId, &session);
    HANDLE token = ProcessToken(candidate->process);
    if (token != NULL) {
        sidLength = UserOfToken(token, sid);
        CloseHandle(token);
    }
    if (!TerminateProcess(candidate->process, 1)) {
        LogProcess("could not end process %1 in session %2: error %3",
                   "could not end process %1, session unknown: error %2", candidate->processId,
                   session, known, GetLastError());
        return;
    }
    if (sEndedCount == MAX_ENDED) {
        AwaitEnded();
    }
    sEndedProcesses[sEndedCount++] =
        (EndedProcess){candidate->process, candidate->processId, session, known};
    candidate->process = NULL;
    if (known && !AddCopy(ended, session, sid, sidLength) &&
        FindCopy(ended, session, sid, sidLength) == NULL) {
        LogNumbers("session %1 is beyond the list's room: its user gets SLOTWARD at the next logon",
                   session, 0, 0);
    }
}

static void ConsiderProcess(const PROCESSENTRY32 *entry, const Target *targets, int count,
                            SessionList *ended) {
    Candidate candidate;
    DWORD error;
    candidate.processId = entry->th32ProcessID;
    candidate.process =
        OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ,
                    FALSE, candidate.processId);
    if (candidate.process == NULL) {
        LogNumbers("could not open process %1: error %2", candidate.processId, GetLastError(), 0);
        return;
    }
    ReadImageName(&candidate);
    CandidateVerdict verdict = JudgeAgainstTargets(&candidate, targets, count, &error);
    if (verdict == CANDIDATE_END) {
        EndCopy(&candidate, ended);
    } else {
        LogNumbers(kLeftAlone[verdict], candidate.processId, error, 0);
    }
    if (candidate.process != NULL) {
        CloseHandle(candidate.process);
    }
}

static void EndCopies(const Target *targets, int count, SessionList *ended) {
    PROCESSENTRY32 entry;
    HANDLE processes = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (processes == INVALID_HANDLE_VALUE) {
        LogNumbers("could not list the processes: error %1", GetLastError(), 0, 0);
        return;
    }
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(processes, &entry); more;
         more = Process32Next(processes, &entry)) {
        if (entry.th32ProcessID != GetCurrentProcessId() &&
            NamedLikeTarget(entry.szExeFile, targets, count)) {
            ConsiderProcess(&entry, targets, count, ended);
        }
    }
    CloseHandle(processes);
    AwaitEnded();
}

/* The installed program and the new one are often the same file: it is looked for once. */
static BOOL AlreadyTarget(const char *path, int count) {
    for (int i = 0; i < count; i++) {
        if (lstrcmpiA(sTargets[i].path, path) == 0) {
            return TRUE;
        }
    }
    return FALSE;
}

void StopCopies(const char *data, BOOL addToList, BOOL ownListOnly, const char *owner) {
    char argument[MAX_PATH];
    int count = 0;
    const char *at = data;
    BOOL byName = FALSE;
    ResolveImageCalls();
    while ((at = NextArgument(at, argument)) != NULL && count < MAX_TARGETS) {
        if (lstrcmpA(argument, BY_NAME_MARK) == 0) {
            byName = TRUE;
            continue;
        }
        if (!AlreadyTarget(argument, count) && PrepareTarget(argument, byName, &sTargets[count])) {
            LogText(byName ? "looking for copies of %t, by its name only"
                           : "looking for copies of %t",
                    sTargets[count].path);
            count++;
        }
        byName = FALSE;
    }
    BOOL existed = addToList && ReadEndedSessions(&sEnded, ownListOnly ? owner : NULL);
    if (!existed) {
        sEnded.count = 0;
    }
    DWORD before = sEnded.count;
    if (count > 0) {
        EndCopies(sTargets, count, &sEnded);
    }
    ListFacts facts = {
        addToList ? STEP_LATER_PASS : STEP_FIRST_PASS, existed, 0, before, sEnded.count, 0};
    ListFate fate = FateOfList(&facts);
    if (fate != LIST_UNCHANGED &&
        !WriteEndedSessions(&sEnded, fate == LIST_AFRESH ? owner : NULL)) {
        LogNumbers("could not write the list of sessions: error %1", GetLastError(), 0, 0);
    }
}
