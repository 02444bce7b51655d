/* Ends every running copy of the installed program, in every session, then waits once for all of
 * them to go, and notes the session and user of each, for the starter and for a rollback.
 *
 * Runs inside the installer as LocalSystem (see actions.c), which may end processes of every
 * session; Windows Installer itself cannot close programs in other sessions, and a copy left
 * running there would keep the file in use and the installation would need a reboot.
 *
 * A copy is a process whose image is one of the target files, however it was started: through
 * another drive letter or a SUBST of the folder, by a short (8.3) name, in any case. The image's
 * name is the cheap first filter. Then the system's own name for the image (\Device\...) decides
 * where it lies before anything is opened (image_place.h): a copy on the network, on another
 * volume, or whose name cannot be read is left alone and never opened, so that LocalSystem never
 * presents the computer's credentials to a host a user picked; one named as the installed file
 * (its 8.3 form included) is ended without an open. On the installed file's own volume under
 * another name the file's identity decides (volume serial number and file id), which a copy
 * unpacked from the zip elsewhere on that volume does not share, and a hard link does. That name
 * was fixed when the copy started, and its user may since have put a link where its folder was:
 * the image is opened only while this thread acts as the copy's own user, so the open goes only
 * where that user may go anyway, with that user's credentials, never LocalSystem's.
 */
#include "stopper.h"

#include "image_place.h"
#include "log.h"
#include "start_choice.h"

#include <tlhelp32.h>

/* How long to wait for all ended copies to let go of their file, in seconds. */
#define END_WAIT_S 5
/* Ended copies waited for at once; more wait in turns. */
#define MAX_ENDED 64
/* How often to ask again for a process's modules while it is still loading them. */
#define SNAPSHOT_TRIES 5
/* The NT name's room: the volume's device name before a full path. */
#define NT_PATH 400
/* GetFinalPathNameByHandleA's VOLUME_NAME_NT, and FILE_INFO_BY_HANDLE_CLASS's FileIdInfo
 * (Windows 8 and later), both looked up. */
#define FINAL_NAME_NT 0x2
#define FILE_ID_INFO_CLASS 18
#define PROCESS_NAME_NT 0x1

typedef BOOL(WINAPI *ImageNameProc)(HANDLE, DWORD, LPSTR, PDWORD);
typedef DWORD(WINAPI *ImageFileNameProc)(HANDLE, LPSTR, DWORD);
typedef DWORD(WINAPI *FinalNameProc)(HANDLE, LPSTR, DWORD, DWORD);
typedef BOOL(WINAPI *FileInfoProc)(HANDLE, int, LPVOID, DWORD);
typedef BOOL(WINAPI *OpenTokenProc)(HANDLE, DWORD, PHANDLE);
typedef BOOL(WINAPI *ImpersonateProc)(HANDLE);
typedef BOOL(WINAPI *RevertProc)(void);

typedef struct Target {
    char path[MAX_PATH];
    char shortPath[MAX_PATH]; /* its 8.3 form; the path as given when it has none */
    /* The system's names for it, "" when unknown: the file's own (its volume, however it was
     * reached), its drive letter's device followed by the path, and the same for its 8.3 form.
     * The first two differ where a volume is mounted in a folder of another. */
    char ntPaths[INSTALLED_NAMES][NT_PATH];
    FileIdentity identity;
    BOOL identified;
} Target;

typedef struct Candidate {
    DWORD processId;
    HANDLE process;
    /* As the process knows it, "" when unknown: read from its memory, which it may have
     * rewritten, so only where Windows keeps no image name (Windows 2000). */
    char modulePath[MAX_PATH];
    char ntPath[NT_PATH]; /* "" when unknown */
} Candidate;

/* A copy ended and not yet seen gone. */
typedef struct EndedProcess {
    HANDLE process;
    DWORD processId;
    DWORD session;
    BOOL sessionKnown;
} EndedProcess;

static const char *FileName(const char *path) {
    const char *name = path;
    for (; *path; path++) {
        if (*path == '\\' || *path == '/') {
            name = path + 1;
        }
    }
    return name;
}

/* FileIdInfo where Windows has it: ReFS's file ids are 128 bits, and the older 64-bit index is
 * not unique there. Otherwise the volume serial number and file index. */
static BOOL IdentityOfHandle(HANDLE file, FileIdentity *identity) {
    FileInfoProc fileInfo =
        (FileInfoProc)SystemFunction("kernel32.dll", "GetFileInformationByHandleEx");
    BY_HANDLE_FILE_INFORMATION information;
    ClearBytes(identity, sizeof *identity);
    if (fileInfo != NULL && fileInfo(file, FILE_ID_INFO_CLASS, identity, sizeof *identity)) {
        return TRUE;
    }
    if (!GetFileInformationByHandle(file, &information)) {
        return FALSE;
    }
    identity->volume = information.dwVolumeSerialNumber;
    CopyBytes(identity->file, &information.nFileIndexLow, sizeof(DWORD));
    CopyBytes(identity->file + sizeof(DWORD), &information.nFileIndexHigh, sizeof(DWORD));
    return TRUE;
}

static HANDLE OpenForIdentity(const char *path) {
    return CreateFileA(path, FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                       0, NULL);
}

/* A drive-letter path's system name: the letter's device, as this process sees the letters
 * (LocalSystem's: a user's mapped or substituted letters are not among them, and the name stays
 * unknown), then the rest of the path. UNC paths and anything else stay unknown too. */
static BOOL NtNameOfDosPath(const char *path, char *ntPath) {
    char drive[3] = {path[0], ':', '\0'};
    if (path[0] == '\0' || path[1] != ':' || path[2] != '\\') {
        return FALSE;
    }
    DWORD length = QueryDosDeviceA(drive, ntPath, NT_PATH);
    if (length == 0) {
        return FALSE;
    }
    int device = lstrlenA(ntPath);
    if (device + lstrlenA(path + 2) >= NT_PATH) {
        return FALSE;
    }
    lstrcpynA(ntPath + device, path + 2, NT_PATH - device);
    return TRUE;
}

/* The installed file's own system name, from its handle (Vista and later). */
static void FinalNtName(HANDLE file, Target *target) {
    FinalNameProc finalName =
        (FinalNameProc)SystemFunction("kernel32.dll", "GetFinalPathNameByHandleA");
    DWORD length =
        finalName != NULL ? finalName(file, target->ntPaths[0], NT_PATH, FINAL_NAME_NT) : 0;
    if (length == 0 || length >= NT_PATH) {
        target->ntPaths[0][0] = '\0';
    }
}

/* Only a drive-letter path names the installed file: an empty folder property leaves a bare
 * name, and the installed program is never looked for on a share. */
static BOOL IsLocalPath(const char *path) {
    return path[0] != '\0' && path[1] == ':' && path[2] == '\\';
}

static BOOL PrepareTarget(const char *path, Target *target) {
    if (!IsLocalPath(path)) {
        return FALSE;
    }
    ClearBytes(target, sizeof *target);
    lstrcpynA(target->path, path, MAX_PATH);
    /* A letter this process sees as a share (a global mapping) is the network too: not even
     * the installed file is opened there. */
    if (!NtNameOfDosPath(path, target->ntPaths[1]) || IsNetworkName(target->ntPaths[1])) {
        LogText("the installed program is not on a local volume: no copy of %t is looked for",
                path);
        return FALSE;
    }
    DWORD length = GetShortPathNameA(path, target->shortPath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        lstrcpynA(target->shortPath, path, MAX_PATH);
    }
    /* A copy started by the short name runs under that name: known by name, it needs no open. */
    if (!NtNameOfDosPath(target->shortPath, target->ntPaths[2])) {
        target->ntPaths[2][0] = '\0';
    }
    HANDLE file = OpenForIdentity(path);
    if (file != INVALID_HANDLE_VALUE) {
        target->identified = IdentityOfHandle(file, &target->identity);
        FinalNtName(file, target);
        CloseHandle(file);
    }
    return TRUE;
}

/* The path of the process's main module (the first of its module list), as the process knows
 * it: with the user's drive letters. Read from the process's memory, not from the disk. */
static void ReadModulePath(Candidate *candidate) {
    MODULEENTRY32 module;
    HANDLE modules = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, candidate->processId);
    /* ERROR_BAD_LENGTH: the module list changed while it was read; asking again is the cure. */
    for (int tries = 1; modules == INVALID_HANDLE_VALUE && tries < SNAPSHOT_TRIES &&
                        GetLastError() == ERROR_BAD_LENGTH;
         tries++) {
        modules = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, candidate->processId);
    }
    candidate->modulePath[0] = '\0';
    if (modules == INVALID_HANDLE_VALUE) {
        return;
    }
    module.dwSize = sizeof(module);
    if (Module32First(modules, &module)) {
        lstrcpynA(candidate->modulePath, module.szExePath, MAX_PATH);
    }
    CloseHandle(modules);
}

/* The image's system name, as the system keeps it for the process: QueryFullProcessImageName
 * (Vista and later), else GetProcessImageFileName (XP). Only where Windows has neither (Windows
 * 2000) the module path the process keeps in its memory, by its drive letter as this process
 * sees it. A name longer than the room cannot be read. None of them touches the file. */
static void ReadImageName(Candidate *candidate) {
    ImageNameProc imageName =
        (ImageNameProc)SystemFunction("kernel32.dll", "QueryFullProcessImageNameA");
    DWORD size = NT_PATH;
    candidate->modulePath[0] = '\0';
    if (imageName != NULL &&
        imageName(candidate->process, PROCESS_NAME_NT, candidate->ntPath, &size)) {
        return;
    }
    candidate->ntPath[0] = '\0';
    ImageFileNameProc imageFileName =
        (ImageFileNameProc)SystemFunction("psapi.dll", "GetProcessImageFileNameA");
    if (imageFileName != NULL) {
        DWORD length = imageFileName(candidate->process, candidate->ntPath, NT_PATH);
        /* A name that filled the room may have been cut. */
        if (length == 0 || length >= NT_PATH - 1) {
            candidate->ntPath[0] = '\0';
        }
        return;
    }
    if (imageName != NULL) {
        return;
    }
    ReadModulePath(candidate);
    if (!NtNameOfDosPath(candidate->modulePath, candidate->ntPath)) {
        candidate->ntPath[0] = '\0';
    }
}

/* A failure's error code, never 0: 0 would read as success, and the open would run as the
 * system. */
static DWORD FailureCode(void) {
    DWORD error = GetLastError();
    return error != 0 ? error : ERROR_ACCESS_DENIED;
}

/* The opener of a candidate's image (image_place.h), acting as its user. */
static unsigned long ActAsItsUser(void *context) {
    const Candidate *candidate = (const Candidate *)context;
    OpenTokenProc openToken = (OpenTokenProc)SystemFunction("advapi32.dll", "OpenProcessToken");
    ImpersonateProc impersonate =
        (ImpersonateProc)SystemFunction("advapi32.dll", "ImpersonateLoggedOnUser");
    HANDLE token;
    if (openToken == NULL || impersonate == NULL) {
        return ERROR_PROC_NOT_FOUND;
    }
    if (!openToken(candidate->process, TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_IMPERSONATE, &token)) {
        return FailureCode();
    }
    DWORD error = impersonate(token) ? 0 : FailureCode();
    CloseHandle(token);
    return error;
}

/* Should the system refuse, the thread goes on with the user's rights, never more than its
 * own. */
static void Revert(void *context) {
    RevertProc revert = (RevertProc)SystemFunction("advapi32.dll", "RevertToSelf");
    (void)context;
    if (revert != NULL) {
        revert();
    }
}

/* The drive-letter path of a system name: the first letter whose device is the name's volume,
 * as this thread sees the letters, then the rest of the name. */
static BOOL DosNameOfNtName(const char *ntPath, char *dosPath) {
    char device[NT_PATH];
    int volume = VolumeLength(ntPath);
    DWORD drives = GetLogicalDrives();
    if (volume == 0 || lstrlenA(ntPath) - volume + 2 >= NT_PATH) {
        return FALSE;
    }
    for (int letter = 0; letter < 26; letter++) {
        char drive[3] = {(char)('A' + letter), ':', '\0'};
        if ((drives & (1u << letter)) == 0 || QueryDosDeviceA(drive, device, NT_PATH) == 0 ||
            lstrlenA(device) != volume) {
            continue;
        }
        lstrcpynA(dosPath, ntPath, volume + 1);
        if (lstrcmpiA(dosPath, device) == 0) {
            lstrcpyA(dosPath, drive);
            lstrcpyA(dosPath + 2, ntPath + volume);
            return TRUE;
        }
    }
    return FALSE;
}

/* Opens the image by the system's name through the object manager's root, else by the drive
 * letter of its volume (Wine opens no \\?\GLOBALROOT path; on Windows 2000 that is the module
 * path's own letter). The caller acts as the copy's user meanwhile. */
static unsigned long ReadCandidateIdentity(void *context, FileIdentity *identity) {
    static const char kRoot[] = "\\\\?\\GLOBALROOT";
    const Candidate *candidate = (const Candidate *)context;
    char path[NT_PATH + sizeof kRoot];
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD error = ERROR_FILE_NOT_FOUND;
    if (lstrlenA(candidate->ntPath) + sizeof kRoot <= sizeof path) {
        lstrcpyA(path, kRoot);
        lstrcpyA(path + sizeof kRoot - 1, candidate->ntPath);
        file = OpenForIdentity(path);
        error = file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    }
    if (file == INVALID_HANDLE_VALUE && DosNameOfNtName(candidate->ntPath, path)) {
        file = OpenForIdentity(path);
        error = file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    }
    if (file == INVALID_HANDLE_VALUE) {
        return error != 0 ? error : ERROR_FILE_NOT_FOUND;
    }
    if (!IdentityOfHandle(file, identity)) {
        error = GetLastError() != 0 ? GetLastError() : ERROR_INVALID_FUNCTION;
    }
    CloseHandle(file);
    return error;
}

/* Why a copy was left alone; %1 the process, %2 the error where there is one. */
static const char *LeftAloneLine(CandidateVerdict verdict) {
    switch (verdict) {
    case CANDIDATE_ON_NETWORK:
        return "left process %1 alone: its program is on the network";
    case CANDIDATE_OTHER_VOLUME:
        return "left process %1 alone: its program is on another volume";
    case CANDIDATE_OTHER_FILE:
        return "left process %1 alone: its program is another file";
    case CANDIDATE_UNOPENED:
        return "left process %1 alone: could not open its program: error %2";
    case CANDIDATE_NOT_AS_ITS_USER:
        return "left process %1 alone: could not act as its user to open its program: error %2";
    case CANDIDATE_UNCOMPARED:
        return "left process %1 alone: the installed program could not be identified";
    default:
        return "left process %1 alone: its program's name cannot be read";
    }
}

/* The nearest verdict over all targets: the end as soon as one target is the candidate's. The
 * candidate's image is opened once at most; what that found serves every target. */
static CandidateVerdict JudgeAgainstTargets(Candidate *candidate, const Target *targets, int count,
                                            DWORD *error) {
    ImageOpener opener = {candidate, ActAsItsUser, ReadCandidateIdentity, Revert};
    CandidateVerdict nearest = CANDIDATE_UNREADABLE;
    CandidateFacts facts;
    ClearBytes(&facts, sizeof facts);
    facts.image = candidate->ntPath;
    *error = 0;
    for (int i = 0; i < count && nearest != CANDIDATE_END; i++) {
        unsigned long failure = 0;
        for (int name = 0; name < INSTALLED_NAMES; name++) {
            facts.installed[name] = targets[i].ntPaths[name];
        }
        facts.installedIdentity = targets[i].identified ? &targets[i].identity : NULL;
        CandidateVerdict verdict = DecideCandidate(&facts, &opener, &failure);
        *error = failure != 0 ? failure : *error;
        nearest = verdict > nearest ? verdict : nearest;
    }
    return nearest;
}

/* Windows 2000 and later give the image's name in the snapshot, as it was started. */
static BOOL NamedLikeTarget(const char *image, const Target *targets, int count) {
    const char *name = FileName(image);
    for (int i = 0; i < count; i++) {
        if (lstrcmpiA(name, FileName(targets[i].path)) == 0 ||
            lstrcmpiA(name, FileName(targets[i].shortPath)) == 0) {
            return TRUE;
        }
    }
    return FALSE;
}

/* Zero-filled storage rather than the stack, which one page at a time is all a module without
 * the C runtime's stack probe may take. */
static EndedProcess sEndedProcesses[MAX_ENDED];
static int sEndedCount;

/* A line about a process in a known session, or in one the system could not tell: the number
 * printed is never a guess. %1 the process, %2 the session, %3 the rest (in the line without a
 * session, %2). */
static void LogProcess(const char *inSession, const char *sessionUnknown, DWORD processId,
                       DWORD session, BOOL sessionKnown, DWORD rest) {
    if (sessionKnown) {
        LogNumbers(inSession, processId, session, rest);
    } else {
        LogNumbers(sessionUnknown, processId, rest, 0);
    }
}

static unsigned int Now(void *context) {
    (void)context;
    return GetTickCount();
}

static int AwaitEnd(void *context, int copy, unsigned int ms) {
    (void)context;
    return WaitForSingleObject(sEndedProcesses[copy].process, ms) == WAIT_OBJECT_0;
}

static void TellEnd(void *context, int copy, int ended) {
    const EndedProcess *process = &sEndedProcesses[copy];
    (void)context;
    if (ended) {
        LogProcess("ended process %1 in session %2", "ended process %1, session unknown",
                   process->processId, process->session, process->sessionKnown, 0);
    } else {
        LogProcess("process %1 in session %2 did not end within %3 s",
                   "process %1, session unknown, did not end within %2 s", process->processId,
                   process->session, process->sessionKnown, END_WAIT_S);
    }
    CloseHandle(process->process);
}

/* One wait for every copy ended so far, with one time limit for all of them (image_place.h). */
static void AwaitEnded(void) {
    const EndWaiter waiter = {NULL, Now, AwaitEnd, TellEnd};
    if (sEndedCount > 0) {
        LogNumbers("waiting up to %1 s for %2 ended process(es)", END_WAIT_S, sEndedCount, 0);
    }
    AwaitEnds(&waiter, sEndedCount, END_WAIT_S * 1000);
    sEndedCount = 0;
}

/* Ends the copy and notes its session and user; the wait for it comes with the others'. Takes
 * the candidate's process handle where the copy was ended. */
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
    EndedProcess *waiting = &sEndedProcesses[sEndedCount++];
    waiting->process = candidate->process;
    waiting->processId = candidate->processId;
    waiting->session = session;
    waiting->sessionKnown = known;
    candidate->process = NULL;
    if (known && !AddSession(ended, session, sid, sidLength) && !FindSession(ended, session)) {
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
        LogNumbers(LeftAloneLine(verdict), candidate.processId, error, 0);
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

/* Zero-filled storage rather than the stack, which one page at a time is all a module without
 * the C runtime's stack probe may take. */
static Target sTargets[MAX_TARGETS];
static SessionList sEnded;

void StopCopies(const char *data, BOOL addToList, const char *owner) {
    char argument[MAX_PATH];
    int count = 0;
    const char *at = data;
    while ((at = NextArgument(at, argument)) != NULL && count < MAX_TARGETS) {
        if (PrepareTarget(argument, &sTargets[count])) {
            LogText("looking for copies of %t", sTargets[count].path);
            count++;
        }
    }
    /* The first pass starts the list afresh, even an empty one: one an interrupted installation
     * left must not be taken for this one's. A later pass adds to the list there is, or starts
     * one of its own where there is none. */
    BOOL existed = addToList && ReadEndedSessions(&sEnded);
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
