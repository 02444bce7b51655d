/* The installed files' and the running copies' names and identities; see stopper.h. */
#include "stopper.h"

#include <tlhelp32.h>

/* How often to ask again for a process's modules while it is still loading them. */
#define SNAPSHOT_TRIES 5
/* Values of the functions looked up: VOLUME_NAME_NT, FileIdInfo, PROCESS_NAME_NATIVE. */
#define FINAL_NAME_NT 0x2
#define FILE_ID_INFO_CLASS 18
#define PROCESS_NAME_NT 0x1

typedef BOOL(WINAPI *ImageNameProc)(HANDLE, DWORD, LPSTR, PDWORD);
typedef DWORD(WINAPI *ImageFileNameProc)(HANDLE, LPSTR, DWORD);
typedef DWORD(WINAPI *FinalNameProc)(HANDLE, LPSTR, DWORD, DWORD);
typedef BOOL(WINAPI *FileInfoProc)(HANDLE, int, LPVOID, DWORD);
typedef BOOL(WINAPI *ImpersonateProc)(HANDLE);
typedef BOOL(WINAPI *RevertProc)(void);

/* NULL where this Windows lacks them. */
static FileInfoProc sFileInfo;
static FinalNameProc sFinalName;
static ImageNameProc sImageName;
static ImageFileNameProc sImageFileName;
static OpenTokenProc sOpenToken;
static ImpersonateProc sImpersonate;
static RevertProc sRevert;

void ResolveImageCalls(void) {
    sFileInfo = (FileInfoProc)SystemFunction("kernel32.dll", "GetFileInformationByHandleEx");
    sFinalName = (FinalNameProc)SystemFunction("kernel32.dll", "GetFinalPathNameByHandleA");
    sImageName = (ImageNameProc)SystemFunction("kernel32.dll", "QueryFullProcessImageNameA");
    sImageFileName = (ImageFileNameProc)SystemFunction("psapi.dll", "GetProcessImageFileNameA");
    sOpenToken = (OpenTokenProc)SystemFunction("advapi32.dll", "OpenProcessToken");
    sImpersonate = (ImpersonateProc)SystemFunction("advapi32.dll", "ImpersonateLoggedOnUser");
    sRevert = (RevertProc)SystemFunction("advapi32.dll", "RevertToSelf");
}

static const char *FileName(const char *path) {
    const char *name = path;
    for (; *path; path++) {
        if (*path == '\\' || *path == '/') {
            name = path + 1;
        }
    }
    return name;
}

/* FileIdInfo where Windows has it: ReFS's file ids are 128 bits, the older index not unique. */
static BOOL IdentityOfHandle(HANDLE file, FileIdentity *identity) {
    BY_HANDLE_FILE_INFORMATION information;
    ClearBytes(identity, sizeof *identity);
    if (sFileInfo != NULL && sFileInfo(file, FILE_ID_INFO_CLASS, identity, sizeof *identity)) {
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

/* An empty folder property leaves a bare name; the program is never looked for on a share. */
static BOOL IsLocalPath(const char *path) {
    return path[0] != '\0' && path[1] == ':' && path[2] == '\\';
}

/* "" when unknown: this process's device for the letter (not a user's mapping), then the rest. */
static BOOL NtNameOfDosPath(const char *path, char *ntPath) {
    char drive[3] = {path[0], ':', '\0'};
    BOOL known = IsLocalPath(path) && QueryDosDeviceA(drive, ntPath, NT_PATH) != 0 &&
                 lstrlenA(ntPath) + lstrlenA(path + 2) < NT_PATH;
    if (known) {
        lstrcpynA(ntPath + lstrlenA(ntPath), path + 2, NT_PATH - lstrlenA(ntPath));
    } else {
        ntPath[0] = '\0';
    }
    return known;
}

BOOL PrepareTarget(const char *path, BOOL byName, Target *target) {
    if (!IsLocalPath(path)) {
        return FALSE;
    }
    ClearBytes(target, sizeof *target);
    lstrcpynA(target->path, path, MAX_PATH);
    /* A letter this process sees as a share (a global mapping) is the network too. */
    if (!NtNameOfDosPath(path, target->ntPaths[1]) || IsNetworkName(target->ntPaths[1])) {
        LogText("the installed program is not on a local volume: no copy of %t is looked for",
                path);
        return FALSE;
    }
    DWORD length = byName ? 0 : GetShortPathNameA(path, target->shortPath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        lstrcpynA(target->shortPath, path, MAX_PATH);
    }
    if (byName) {
        return TRUE;
    }
    /* A copy started by the short name runs under that name: known by name, it needs no open. */
    NtNameOfDosPath(target->shortPath, target->ntPaths[2]);
    HANDLE file = OpenForIdentity(path);
    if (file != INVALID_HANDLE_VALUE) {
        target->identified = IdentityOfHandle(file, &target->identity);
        /* Its own system name (Vista and later). */
        length =
            sFinalName != NULL ? sFinalName(file, target->ntPaths[0], NT_PATH, FINAL_NAME_NT) : 0;
        if (length == 0 || length >= NT_PATH) {
            target->ntPaths[0][0] = '\0';
        }
        CloseHandle(file);
    }
    return TRUE;
}

/* The first of its module list, as the process knows it: read from its memory, not the disk. */
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

/* QueryFullProcessImageName (Vista), else GetProcessImageFileName (XP), else (2000) the module
 * path: none of them touches the file. */
void ReadImageName(Candidate *candidate) {
    DWORD size = NT_PATH;
    candidate->modulePath[0] = '\0';
    if (sImageName != NULL &&
        sImageName(candidate->process, PROCESS_NAME_NT, candidate->ntPath, &size)) {
        return;
    }
    candidate->ntPath[0] = '\0';
    if (sImageFileName != NULL) {
        DWORD length = sImageFileName(candidate->process, candidate->ntPath, NT_PATH);
        /* A name that filled the room may have been cut. */
        if (length == 0 || length >= NT_PATH - 1) {
            candidate->ntPath[0] = '\0';
        }
        return;
    }
    if (sImageName != NULL) {
        return;
    }
    ReadModulePath(candidate);
    NtNameOfDosPath(candidate->modulePath, candidate->ntPath);
}

/* Never 0: 0 would read as success (and an open would run as the system). */
static DWORD FailureCode(DWORD otherwise) {
    DWORD error = GetLastError();
    return error != 0 ? error : otherwise;
}

static unsigned long ActAsItsUser(void *context) {
    const Candidate *candidate = (const Candidate *)context;
    HANDLE token;
    if (sOpenToken == NULL || sImpersonate == NULL) {
        return ERROR_PROC_NOT_FOUND;
    }
    if (!sOpenToken(candidate->process, TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_IMPERSONATE,
                    &token)) {
        return FailureCode(ERROR_ACCESS_DENIED);
    }
    DWORD error = sImpersonate(token) ? 0 : FailureCode(ERROR_ACCESS_DENIED);
    CloseHandle(token);
    return error;
}

/* Should the system refuse, the thread goes on with the user's rights, never more. */
static void Revert(void *context) {
    (void)context;
    if (sRevert != NULL) {
        sRevert();
    }
}

/* The first letter whose device is the name's volume, as this thread sees the letters. */
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

/* As the copy's user: by \\?\GLOBALROOT and the name, else by drive letter (Wine opens no such). */
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
        error = FailureCode(ERROR_FILE_NOT_FOUND);
    }
    if (file == INVALID_HANDLE_VALUE && DosNameOfNtName(candidate->ntPath, path)) {
        file = OpenForIdentity(path);
        error = FailureCode(ERROR_FILE_NOT_FOUND);
    }
    if (file == INVALID_HANDLE_VALUE) {
        return error;
    }
    error = IdentityOfHandle(file, identity) ? 0 : FailureCode(ERROR_INVALID_FUNCTION);
    CloseHandle(file);
    return error;
}

/* The end as soon as one target is the candidate's; what one open found serves every target. */
CandidateVerdict JudgeAgainstTargets(Candidate *candidate, const Target *targets, int count,
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
BOOL NamedLikeTarget(const char *image, const Target *targets, int count) {
    const char *name = FileName(image);
    for (int i = 0; i < count; i++) {
        if (lstrcmpiA(name, FileName(targets[i].path)) == 0 ||
            lstrcmpiA(name, FileName(targets[i].shortPath)) == 0) {
            return TRUE;
        }
    }
    return FALSE;
}
