/* The checks of the installation folder and of the installed version's; see sessions.h. */
#include "folder_check.h"
#include "sessions.h"

#include <aclapi.h>

typedef DWORD(WINAPI *SecurityInfoProc)(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID *,
                                        PSID *, PACL *, PACL *, PSECURITY_DESCRIPTOR *);
typedef BOOL(WINAPI *OpenThreadTokenProc)(HANDLE, DWORD, BOOL, PHANDLE);

/* Zero-filled storage rather than the stack (see actions.c); the descriptor until the next look. */
static char sPath[MAX_PATH];
static char sSuggested[MAX_PATH];
static PSECURITY_DESCRIPTOR sDescriptor;
static BYTE sInstaller[SID_BYTES];
static SecurityInfoProc sSecurityInfo;

/* Why a folder is refused, with the folder concerned for %t; in the order of FolderVerdict. */
static const char *const kReasons[] = {
    [FOLDER_OUTSIDE] = "SLOTWARD installs only in a folder of its own below %t, where Windows "
                       "lets no user but administrators make or rename anything",
    "%t is a short (8.3) name: give the folder's long name",
    "the owner of %t could not be read",
    "%t is a file, not a folder",
    "%t is a link, a junction or a mounted volume, which leads elsewhere",
    "%t belongs to a user who is not an administrator, and its owner may always change its "
    "permissions",
};

static int IsLeadByte(unsigned char c) {
    return IsDBCSLeadByte(c);
}

static const char *NameOf(const char *path) {
    const char *name = path;
    for (const char *at = path; *at; at++) {
        if (IsLeadByte((unsigned char)*at) && at[1] != '\0') {
            at++;
        } else if (*at == '\\') {
            name = at + 1;
        }
    }
    return name;
}

static void Forget(void) {
    LocalFree(sDescriptor); /* NULL: ignored */
    sDescriptor = NULL;
}

/* From the folder opened at its own name: a link there would be opened, not followed. */
static void ReadOwner(const char *path, FolderFacts *facts) {
    PSID owner = NULL;
    HANDLE file = CreateFileA(
        path, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    if (sSecurityInfo != NULL &&
        sSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, NULL, NULL, NULL,
                      &sDescriptor) == ERROR_SUCCESS) {
        facts->owner = (const unsigned char *)owner;
    }
    CloseHandle(file);
}

/* One folder, by its entry in the folder above (folder_check.h's FolderLook). */
static void Look(void *context, const char *path, int length, FolderFacts *facts) {
    WIN32_FIND_DATAA found;
    (void)context;
    Forget();
    lstrcpynA(sPath, path, length + 1);
    HANDLE search = FindFirstFileA(sPath, &found);
    if (search == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        facts->exists = error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
        return;
    }
    FindClose(search);
    facts->exists = facts->readable = TRUE;
    facts->isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    facts->isLink = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    facts->longName = lstrcmpiA(found.cFileName, NameOf(sPath)) == 0;
    if (facts->isFolder && !facts->isLink && facts->longName) {
        ReadOwner(sPath, facts);
    }
}

/* Where an administrator: the token this action runs with, the thread's where it impersonates. */
static const unsigned char *Installer(BOOL byAdministrator) {
    OpenThreadTokenProc openThreadToken =
        (OpenThreadTokenProc)SystemFunction("advapi32.dll", "OpenThreadToken");
    HANDLE token = NULL;
    if (!byAdministrator) {
        return NULL;
    }
    if (openThreadToken == NULL ||
        !openThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) {
        token = ProcessToken(GetCurrentProcess());
    }
    DWORD length = token != NULL ? UserOfToken(token, sInstaller) : 0;
    if (token != NULL) {
        CloseHandle(token);
    }
    return length != 0 ? sInstaller : NULL;
}

/* In sPath the folder concerned (Program Files where the folder lies outside it). */
static FolderVerdict Verdict(const char *folder, const char *programFiles, BOOL byAdministrator) {
    FolderLook look = {NULL, Look, Installer(byAdministrator)};
    int at = 0;
    sSecurityInfo = (SecurityInfoProc)SystemFunction("advapi32.dll", "GetSecurityInfo");
    FolderVerdict verdict = JudgeFolder(folder, programFiles, IsLeadByte, &look, &at);
    Forget();
    lstrcpynA(sPath, verdict == FOLDER_OUTSIDE ? programFiles : folder,
              verdict == FOLDER_OUTSIDE ? MAX_PATH : at + 1);
    return verdict;
}

BOOL InstalledFolderTrusted(const char *folder, const char *programFiles, BOOL byAdministrator,
                            const char *consequence) {
    FolderVerdict verdict = Verdict(folder, programFiles, byAdministrator);
    if (verdict != FOLDER_ACCEPTED) {
        const char *formats[] = {"the installed version's folder %t is not trusted: ",
                                 kReasons[verdict], consequence, NULL};
        const char *texts[] = {folder, sPath};
        Tell(formats, texts, FALSE);
    }
    return verdict == FOLDER_ACCEPTED;
}

BOOL FolderAccepted(const char *folder, const char *installed, const char *programFiles,
                    BOOL byAdministrator) {
    FolderVerdict verdict = Verdict(folder, programFiles, byAdministrator);
    BOOL installedThere = installed[0] != '\0' && lstrcmpiA(installed, folder) == 0;
    lstrcpynA(sSuggested, programFiles, MAX_PATH - 8);
    lstrcpynA(sSuggested + lstrlenA(sSuggested), "SLOTWARD", 9);
    if (verdict == FOLDER_ACCEPTED) {
        BOOL moving = installed[0] != '\0' && !installedThere;
        const char *formats[] = {"%t may hold SLOTWARD: it lies below %t, in folders only "
                                 "administrators can change",
                                 moving ? "; SLOTWARD moves there from %t" : NULL, NULL};
        const char *texts[] = {folder, programFiles, installed};
        Tell(formats, texts, FALSE);
        return TRUE;
    }
    const char *formats[] = {"SLOTWARD cannot be installed in %t: ", kReasons[verdict],
                             installedThere
                                 ? ". SLOTWARD is installed there now: to move it, install a "
                                   "later version without INSTALLDIR, which moves it to \"%t\", "
                                   "or with INSTALLDIR naming another folder below Program Files."
                                 : ". Choose a folder below Program Files, such as "
                                   "INSTALLDIR=\"%t\".",
                             NULL};
    const char *texts[] = {folder, sPath, sSuggested};
    Tell(formats, texts, TRUE);
    return FALSE;
}
