/* Ends every running copy of one program, in every session, and waits until each has gone.
 *
 * The installer carries this in its Binary table and runs it as a deferred action without
 * impersonation, just before it removes or replaces the installed slotward.exe (an upgrade, a
 * repair or the uninstallation). So it runs as LocalSystem, which may end processes of every
 * session; an ordinary user who starts it has no such right and ends nothing of anyone else's.
 * Windows Installer itself cannot close programs in other sessions: a copy left running there
 * keeps the file in use, and the installation would need a reboot.
 *
 * The command line names the program's full path. A process counts as a copy only when its
 * image has that file name and its main module is that file, so a copy unpacked from the zip
 * elsewhere is left alone. Only KERNEL32, and only what Windows 2000 already has (the tool help
 * snapshots, OpenProcess, TerminateProcess), with no C runtime. It always exits 0: a copy it
 * could not end leaves the installation to Windows Installer's usual handling of a file in use.
 */
#include <windows.h>
#include <tlhelp32.h>

/* How long to wait for one ended copy to let go of its file. */
#define END_WAIT_MS 5000

/* The text after the program's own name on the command line. */
static const char *Arguments(const char *line) {
    if (*line == '"') {
        for (line++; *line && *line != '"'; line++) {
        }
        if (*line) {
            line++;
        }
    } else {
        while (*line && *line != ' ' && *line != '\t') {
            line++;
        }
    }
    while (*line == ' ' || *line == '\t') {
        line++;
    }
    return line;
}

/* The path given on the command line, without its quotes, into target (capacity MAX_PATH).
 * FALSE when there is none or it does not fit. */
static BOOL TargetPath(char *target) {
    const char *from = Arguments(GetCommandLineA());
    int length = 0;
    for (; *from; from++) {
        if (*from == '"') {
            continue;
        }
        if (length + 1 >= MAX_PATH) {
            return FALSE;
        }
        target[length++] = *from;
    }
    target[length] = '\0';
    return length > 0;
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

/* Whether two paths name the same file, however each was spelt when the copy was started:
 * long or short (8.3) names, any case. */
static BOOL SameFile(const char *a, const char *b) {
    char shortA[MAX_PATH];
    char shortB[MAX_PATH];
    DWORD lengthA = GetShortPathNameA(a, shortA, MAX_PATH);
    DWORD lengthB = GetShortPathNameA(b, shortB, MAX_PATH);
    if (lengthA == 0 || lengthA >= MAX_PATH || lengthB == 0 || lengthB >= MAX_PATH) {
        return lstrcmpiA(a, b) == 0;
    }
    return lstrcmpiA(shortA, shortB) == 0;
}

/* How often to ask again for a process's modules while it is still loading them. */
#define SNAPSHOT_TRIES 5

/* Whether the process's main module (the first of its module list) is the target file. */
static BOOL RunsFrom(DWORD process, const char *target) {
    MODULEENTRY32 module;
    BOOL same = FALSE;
    HANDLE modules = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, process);
    /* ERROR_BAD_LENGTH: the module list changed while it was read; asking again is the cure. */
    for (int tries = 1; modules == INVALID_HANDLE_VALUE && tries < SNAPSHOT_TRIES &&
                        GetLastError() == ERROR_BAD_LENGTH;
         tries++) {
        modules = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, process);
    }
    if (modules == INVALID_HANDLE_VALUE) {
        return FALSE;
    }
    module.dwSize = sizeof(module);
    if (Module32First(modules, &module)) {
        same = SameFile(module.szExePath, target);
    }
    CloseHandle(modules);
    return same;
}

static void End(DWORD id) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
    if (process == NULL) {
        return;
    }
    if (TerminateProcess(process, 1)) {
        WaitForSingleObject(process, END_WAIT_MS);
    }
    CloseHandle(process);
}

void StopperEntry(void) {
    char target[MAX_PATH];
    PROCESSENTRY32 entry;
    HANDLE processes;
    if (!TargetPath(target)) {
        ExitProcess(0);
    }
    processes = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (processes != INVALID_HANDLE_VALUE) {
        entry.dwSize = sizeof(entry);
        for (BOOL more = Process32First(processes, &entry); more;
             more = Process32Next(processes, &entry)) {
            /* Windows 2000 and later give the image's name here; anything older gave a path. */
            if (lstrcmpiA(FileName(entry.szExeFile), FileName(target)) == 0 &&
                entry.th32ProcessID != GetCurrentProcessId() &&
                RunsFrom(entry.th32ProcessID, target)) {
                End(entry.th32ProcessID);
            }
        }
        CloseHandle(processes);
    }
    ExitProcess(0);
}
