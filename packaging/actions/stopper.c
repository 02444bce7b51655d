/* Ends every running copy of the installed program, in every session, waits until each has gone,
 * and notes the session and user of each, for the starter and for a rollback.
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
 * presents the computer's credentials to a host a user picked. On the installed file's own volume
 * the file's identity decides (volume serial number and file id), which a copy unpacked from the
 * zip elsewhere on that volume does not share.
 */
#include "stopper.h"

#include "image_place.h"
#include "log.h"
#include "start_choice.h"

#include <tlhelp32.h>

/* How long to wait for one ended copy to let go of its file. */
#define END_WAIT_MS 5000
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

typedef struct Identity {
    ULONGLONG volume;
    BYTE file[16]; /* FILE_ID_128, or the 64-bit file index in its first half */
} Identity;

typedef struct Target {
    char path[MAX_PATH];
    char shortPath[MAX_PATH]; /* its 8.3 form; the path as given when it has none */
    /* The system's names for it, "" when unknown: the file's own (its volume, however it was
     * reached) and its drive letter's device followed by the path. They differ where a volume is
     * mounted in a folder of another. */
    char ntPaths[2][NT_PATH];
    Identity identity;
    BOOL identified;
} Target;

typedef struct Candidate {
    DWORD processId;
    HANDLE process;
    char modulePath[MAX_PATH]; /* as the process knows it, "" when unknown */
    char ntPath[NT_PATH];      /* "" when unknown */
} Candidate;

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
static BOOL IdentityOfHandle(HANDLE file, Identity *identity) {
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

static BOOL SameIdentity(const Identity *a, const Identity *b) {
    const BYTE *x = (const BYTE *)a;
    const BYTE *y = (const BYTE *)b;
    for (DWORD i = 0; i < sizeof(Identity); i++) {
        if (x[i] != y[i]) {
            return FALSE;
        }
    }
    return TRUE;
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

/* Where a candidate's image lies seen from the target: the nearest of its names decides. */
static ImagePlace PlaceForTarget(const char *image, const Target *target) {
    ImagePlace place = IMAGE_UNREADABLE;
    for (int i = 0; i < 2; i++) {
        ImagePlace here = PlaceOfImage(image, target->ntPaths[i]);
        place = here > place ? here : place;
    }
    return place;
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
 * (Vista and later), GetProcessImageFileName (XP), else the module path's drive letter as this
 * process sees it (Windows 2000). None of them touches the file. */
static void ReadImageName(Candidate *candidate) {
    ImageNameProc imageName =
        (ImageNameProc)SystemFunction("kernel32.dll", "QueryFullProcessImageNameA");
    DWORD size = NT_PATH;
    if (imageName != NULL &&
        imageName(candidate->process, PROCESS_NAME_NT, candidate->ntPath, &size)) {
        return;
    }
    ImageFileNameProc imageFileName =
        (ImageFileNameProc)SystemFunction("psapi.dll", "GetProcessImageFileNameA");
    if (imageFileName != NULL && imageFileName(candidate->process, candidate->ntPath, NT_PATH)) {
        return;
    }
    if (!NtNameOfDosPath(candidate->modulePath, candidate->ntPath)) {
        candidate->ntPath[0] = '\0';
    }
}

/* Opens the image of a candidate on the installed volume: by the system's name (Vista and
 * later), else by the module path, but only where that path leads to the same volume too. */
static BOOL CandidateIdentity(const Candidate *candidate, const Target *target,
                              Identity *identity) {
    static const char kRoot[] = "\\\\?\\GLOBALROOT";
    char path[NT_PATH + sizeof kRoot];
    char moduleNt[NT_PATH];
    HANDLE file = INVALID_HANDLE_VALUE;
    if (lstrlenA(candidate->ntPath) + sizeof kRoot <= sizeof path) {
        lstrcpyA(path, kRoot);
        lstrcpyA(path + sizeof kRoot - 1, candidate->ntPath);
        file = OpenForIdentity(path);
    }
    if (file == INVALID_HANDLE_VALUE && NtNameOfDosPath(candidate->modulePath, moduleNt) &&
        PlaceForTarget(moduleNt, target) >= IMAGE_SAME_VOLUME) {
        file = OpenForIdentity(candidate->modulePath);
    }
    if (file == INVALID_HANDLE_VALUE) {
        return FALSE;
    }
    BOOL known = IdentityOfHandle(file, identity);
    CloseHandle(file);
    return known;
}

static const char *PlaceText(ImagePlace place) {
    switch (place) {
    case IMAGE_ON_NETWORK:
        return "its program is on the network";
    case IMAGE_OTHER_VOLUME:
        return "its program is on another volume";
    case IMAGE_SAME_VOLUME:
        return "its program is another file";
    default:
        return "its program's name cannot be read";
    }
}

/* Whether the candidate runs one of the targets; the place that ruled it out in *place. */
static BOOL RunsTarget(const Candidate *candidate, const Target *targets, int count,
                       ImagePlace *place) {
    *place = IMAGE_UNREADABLE;
    for (int i = 0; i < count; i++) {
        ImagePlace here = PlaceForTarget(candidate->ntPath, &targets[i]);
        if (here == IMAGE_INSTALLED) {
            return TRUE;
        }
        Identity identity;
        if (here == IMAGE_SAME_VOLUME && targets[i].identified &&
            CandidateIdentity(candidate, &targets[i], &identity) &&
            SameIdentity(&identity, &targets[i].identity)) {
            return TRUE;
        }
        if (here > *place) {
            *place = here;
        }
    }
    return FALSE;
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

/* Ends the copy and notes its session and user once it is gone. */
static void EndCopy(const Candidate *candidate, SessionList *ended) {
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
        LogNumbers("could not end process %1 in session %2: error %3", candidate->processId,
                   session, GetLastError());
        return;
    }
    WaitForSingleObject(candidate->process, END_WAIT_MS);
    LogNumbers("ended process %1 in session %2", candidate->processId, session, 0);
    if (known && !AddSession(ended, session, sid, sidLength) && !FindSession(ended, session)) {
        LogNumbers("session %1 is beyond the list's room: its user gets SLOTWARD at the next logon",
                   session, 0, 0);
    }
}

static void ConsiderProcess(const PROCESSENTRY32 *entry, const Target *targets, int count,
                            SessionList *ended) {
    Candidate candidate;
    ImagePlace place;
    candidate.processId = entry->th32ProcessID;
    candidate.process =
        OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ,
                    FALSE, candidate.processId);
    if (candidate.process == NULL) {
        LogNumbers("could not open process %1: error %2", candidate.processId, GetLastError(), 0);
        return;
    }
    ReadModulePath(&candidate);
    ReadImageName(&candidate);
    if (RunsTarget(&candidate, targets, count, &place)) {
        EndCopy(&candidate, ended);
    } else {
        LogNumbersText("left process %1 alone: %t", candidate.processId, PlaceText(place));
    }
    CloseHandle(candidate.process);
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
