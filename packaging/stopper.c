/* Ends every running copy of the installed program, in every session, waits until each has gone,
 * and with /record notes the sessions they ran in, for the starter.
 *
 *     stopper.exe [/record] "C:\Program Files\SLOTWARD\slotward.exe" ["D:\Other\slotward.exe"]
 *
 * The installer carries this in its Binary table and runs it as a deferred action without
 * impersonation, just before it removes or replaces the installed slotward.exe (an upgrade, a
 * repair or the uninstallation). So it runs as LocalSystem, which may end processes of every
 * session; an ordinary user who starts it has no such right, ends nothing of anyone else's and
 * may not write the list of sessions either. Windows Installer itself cannot close programs in
 * other sessions: a copy left running there keeps the file in use, and the installation would
 * need a reboot.
 *
 * A copy is a process whose image is one of the named files, however it was started: through
 * another drive letter or a SUBST of the folder, by a short (8.3) name, in any case. The name is
 * only the cheap first filter; the file's identity decides (volume serial number and file index,
 * as GetFileInformationByHandle gives them). The image is opened by the system's own name for it
 * (\Device\...), which needs no drive letter of the user's, else by the path the process knows,
 * and where neither opens, the two paths are compared by their short names. A copy unpacked from
 * the zip elsewhere is another file and is left alone. Only what Windows 2000 has is imported
 * (the tool help snapshots, OpenProcess, TerminateProcess); what newer systems add is looked up.
 * No C runtime. It always exits 0: a copy it could not end leaves the installation to Windows
 * Installer's usual handling of a file in use.
 */
#include "sessions.h"

#include <tlhelp32.h>

/* How long to wait for one ended copy to let go of its file. */
#define END_WAIT_MS 5000
/* How often to ask again for a process's modules while it is still loading them. */
#define SNAPSHOT_TRIES 5
/* The installed file, and where the installation puts the new one when that is elsewhere. */
#define MAX_TARGETS 4

typedef BOOL(WINAPI *ImageNameProc)(HANDLE, DWORD, LPSTR, PDWORD);

typedef struct Target {
    char path[MAX_PATH];
    char shortPath[MAX_PATH]; /* its 8.3 form; the path as given when it has none */
    BY_HANDLE_FILE_INFORMATION identity;
    BOOL identified;
} Target;

static const char *FileName(const char *path) {
    const char *name = path;
    for (; *path; path++) {
        if (*path == '\\' || *path == '/') {
            name = path + 1;
        }
    }
    return name;
}

static BOOL FileIdentity(const char *path, BY_HANDLE_FILE_INFORMATION *identity) {
    HANDLE file = CreateFileA(path, FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return FALSE;
    }
    BOOL known = GetFileInformationByHandle(file, identity);
    CloseHandle(file);
    return known;
}

static BOOL SameIdentity(const BY_HANDLE_FILE_INFORMATION *a, const BY_HANDLE_FILE_INFORMATION *b) {
    return a->dwVolumeSerialNumber == b->dwVolumeSerialNumber &&
           a->nFileIndexHigh == b->nFileIndexHigh && a->nFileIndexLow == b->nFileIndexLow;
}

/* The path's 8.3 form, or the path as given when it has none: two spellings of one file, long
 * or short names, then compare equal in any case. */
static void ShortPath(const char *path, char *shortPath) {
    DWORD length = GetShortPathNameA(path, shortPath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        lstrcpynA(shortPath, path, MAX_PATH);
    }
}

/* Only a full path names the installed file; an empty folder property leaves a bare name. */
static BOOL IsFullPath(const char *path) {
    return (path[0] != '\0' && path[1] == ':' && path[2] == '\\') ||
           (path[0] == '\\' && path[1] == '\\');
}

static void PrepareTarget(Target *target) {
    ShortPath(target->path, target->shortPath);
    target->identified = FileIdentity(target->path, &target->identity);
}

/* The paths on the command line; the count of targets taken. */
static int ReadCommandLine(Target *targets, BOOL *record) {
    char argument[MAX_PATH];
    int count = 0;
    const char *at = ArgumentText(GetCommandLineA());
    *record = FALSE;
    while ((at = NextArgument(at, argument)) != NULL) {
        if (lstrcmpiA(argument, "/record") == 0) {
            *record = TRUE;
        } else if (IsFullPath(argument) && count < MAX_TARGETS) {
            lstrcpynA(targets[count].path, argument, MAX_PATH);
            PrepareTarget(&targets[count++]);
        }
    }
    return count;
}

/* The path of the process's main module (the first of its module list), as the process knows
 * it: with the user's drive letters. */
static BOOL ModulePath(DWORD processId, char *path) {
    MODULEENTRY32 module;
    BOOL found = FALSE;
    HANDLE modules = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId);
    /* ERROR_BAD_LENGTH: the module list changed while it was read; asking again is the cure. */
    for (int tries = 1; modules == INVALID_HANDLE_VALUE && tries < SNAPSHOT_TRIES &&
                        GetLastError() == ERROR_BAD_LENGTH;
         tries++) {
        modules = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId);
    }
    if (modules == INVALID_HANDLE_VALUE) {
        return FALSE;
    }
    module.dwSize = sizeof(module);
    if (Module32First(modules, &module)) {
        lstrcpynA(path, module.szExePath, MAX_PATH);
        found = TRUE;
    }
    CloseHandle(modules);
    return found;
}

/* The image by the system's name for its volume, "\\?\GLOBALROOT\Device\HarddiskVolume2\...",
 * which opens from any session whatever letters the process's user has (Vista and later). */
static BOOL ImageIdentity(HANDLE process, BY_HANDLE_FILE_INFORMATION *identity) {
    static const char kRoot[] = "\\\\?\\GLOBALROOT";
    ImageNameProc imageName =
        (ImageNameProc)SystemFunction("kernel32.dll", "QueryFullProcessImageNameA");
    char path[MAX_PATH + sizeof kRoot];
    DWORD size = MAX_PATH;
    lstrcpyA(path, kRoot);
    return imageName != NULL &&
           imageName(process, PROCESS_NAME_NATIVE, path + sizeof kRoot - 1, &size) &&
           FileIdentity(path, identity);
}

/* Whether the process runs one of the targets: by identity where both files have one, else by
 * the short spelling of the path the process knows. */
static BOOL RunsTarget(HANDLE process, DWORD processId, const Target *targets, int count) {
    BY_HANDLE_FILE_INFORMATION identity;
    char path[MAX_PATH];
    char shortPath[MAX_PATH];
    BOOL havePath = ModulePath(processId, path);
    BOOL identified =
        ImageIdentity(process, &identity) || (havePath && FileIdentity(path, &identity));
    if (havePath) {
        ShortPath(path, shortPath);
    }
    for (int i = 0; i < count; i++) {
        if (identified && targets[i].identified
                ? SameIdentity(&identity, &targets[i].identity)
                : havePath && lstrcmpiA(shortPath, targets[i].shortPath) == 0) {
            return TRUE;
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

/* Ends the copy and notes its session once it is gone. */
static void EndCopy(HANDLE process, DWORD processId, SessionList *ended) {
    DWORD session;
    BOOL known = SessionOfProcess(processId, &session);
    if (TerminateProcess(process, 1)) {
        WaitForSingleObject(process, END_WAIT_MS);
        if (known) {
            AddSession(ended, session);
        }
    }
}

static void EndCopies(const Target *targets, int count, SessionList *ended) {
    PROCESSENTRY32 entry;
    HANDLE processes = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (processes == INVALID_HANDLE_VALUE) {
        return;
    }
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(processes, &entry); more;
         more = Process32Next(processes, &entry)) {
        if (entry.th32ProcessID == GetCurrentProcessId() ||
            !NamedLikeTarget(entry.szExeFile, targets, count)) {
            continue;
        }
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_INFORMATION,
                                     FALSE, entry.th32ProcessID);
        if (process == NULL) {
            continue;
        }
        if (RunsTarget(process, entry.th32ProcessID, targets, count)) {
            EndCopy(process, entry.th32ProcessID, ended);
        }
        CloseHandle(process);
    }
    CloseHandle(processes);
}

/* Zero-filled storage rather than the stack, which one page at a time is all a program without
 * the C runtime's stack probe may take. */
static Target sTargets[MAX_TARGETS];
static SessionList sEnded;

void StopperEntry(void) {
    BOOL record;
    int count = ReadCommandLine(sTargets, &record);
    if (count > 0) {
        EndCopies(sTargets, count, &sEnded);
    }
    /* Written even when empty: a list an interrupted installation left must not be taken for
     * this one's. */
    if (record) {
        WriteEndedSessions(&sEnded);
    }
    ExitProcess(0);
}
