/* The check of the installation folder; see folder_guard.h. */
#include "folder_guard.h"

#include "folder_check.h"
#include "log.h"
#include "sessions.h"

#include <aclapi.h>

/* A path of MAX_PATH bytes holds fewer folders than this. */
#define MAX_FOLDERS (MAX_PATH / 2)

typedef DWORD(WINAPI *SecurityInfoProc)(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID *,
                                        PSID *, PACL *, PACL *, PSECURITY_DESCRIPTOR *);
typedef BOOL(WINAPI *OpenThreadTokenProc)(HANDLE, DWORD, BOOL, PHANDLE);

/* Zero-filled storage rather than the stack (see actions.c). The descriptors are the system's,
 * freed once the verdict is given. */
static FolderFacts sFolders[MAX_FOLDERS];
static PSECURITY_DESCRIPTOR sDescriptors[MAX_FOLDERS];
static int sLengths[MAX_FOLDERS];
static char sPrefix[MAX_PATH];
static BYTE sInstaller[SID_BYTES];

/* Why a folder is refused, with the folder concerned for %t; in the order of FolderVerdict. */
static const char *const kReasons[] = {
    "",
    "%t is not on a fixed disk of this computer (a removable disk, a network share or a path of "
    "another form can be replaced from outside)",
    "the file system of %t keeps no permissions (FAT or exFAT): anyone may replace the program",
    "the owner and permissions of %t could not be read",
    "%t is a file, not a folder",
    "%t is a link, a junction or a mounted volume, which leads elsewhere",
    "%t belongs to a user who is not an administrator, and its owner may always change its "
    "permissions",
    "users other than administrators may delete, rename or change the permissions of %t",
    "users other than administrators may delete or rename what %t holds",
    "the folders to be made in %t would let users other than administrators delete, rename or "
    "change them",
    "the permissions of %t hold an entry of a kind this installer cannot judge",
};

static int IsLeadByte(unsigned char c) {
    return IsDBCSLeadByte(c);
}

/* The system's word on one folder of the chain, opened at its own name: a link there is
 * reported, not followed. FALSE when nothing is there. */
static BOOL Gather(const char *path, FolderFacts *facts, PSECURITY_DESCRIPTOR *descriptor) {
    SecurityInfoProc securityInfo =
        (SecurityInfoProc)SystemFunction("advapi32.dll", "GetSecurityInfo");
    BY_HANDLE_FILE_INFORMATION information;
    PSID owner = NULL;
    PACL dacl = NULL;
    HANDLE file =
        CreateFileA(path, READ_CONTROL | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    ClearBytes(facts, sizeof *facts);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
    }
    if (GetFileInformationByHandle(file, &information) && securityInfo != NULL &&
        securityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                     &owner, NULL, &dacl, NULL, descriptor) == ERROR_SUCCESS) {
        facts->readable = owner != NULL;
        facts->isFolder = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        facts->isLink = (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        facts->owner = (const unsigned char *)owner;
        facts->dacl = (const unsigned char *)dacl;
    }
    CloseHandle(file);
    return TRUE;
}

/* A SUBST letter names a folder, not a volume ("\??\C:\Some\Folder"): its root would be
 * taken for a volume's and the folders above it would go unchecked. */
static BOOL IsSubstitute(const char *root) {
    char drive[3];
    char target[MAX_PATH];
    drive[0] = root[0];
    drive[1] = ':';
    drive[2] = '\0';
    return QueryDosDeviceA(drive, target, MAX_PATH) != 0 && target[0] == '\\' && target[1] == '?' &&
           target[2] == '?';
}

/* The volume first: on a share, a removable disk, a SUBST letter or a file system without
 * permissions no folder is opened. Then the folders from the root down, up to the first that is
 * missing (it and those below are still to be made) or unreadable. */
static void GatherChain(const char *folder, int total, FolderChain *chain) {
    DWORD flags = 0;
    lstrcpynA(sPrefix, folder, sLengths[0] + 1);
    chain->onFixedDisk = GetDriveTypeA(sPrefix) == DRIVE_FIXED && !IsSubstitute(sPrefix);
    chain->keepsPermissions =
        GetVolumeInformationA(sPrefix, NULL, 0, NULL, NULL, &flags, NULL, 0) &&
        (flags & FILE_PERSISTENT_ACLS) != 0;
    for (int i = 0; i < total && chain->onFixedDisk && chain->keepsPermissions; i++) {
        lstrcpynA(sPrefix, folder, sLengths[i] + 1);
        if (!Gather(sPrefix, &sFolders[i], &sDescriptors[i])) {
            chain->toBeMade = total - i;
            return;
        }
        chain->count = i + 1;
        if (!sFolders[i].readable) {
            return;
        }
    }
}

static void ForgetChain(void) {
    for (int i = 0; i < MAX_FOLDERS; i++) {
        if (sDescriptors[i] != NULL) {
            LocalFree(sDescriptors[i]);
            sDescriptors[i] = NULL;
        }
    }
}

/* The installing user, where that user is an administrator: the token this action runs with,
 * the thread's where it impersonates. */
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

/* The refusal, with what to do instead: where the installed version already lives in that
 * folder, how to move it. */
static void SayRefused(const char *folder, const char *concerned, FolderVerdict verdict,
                       BOOL installedThere, const char *suggested) {
    const char *formats[] = {"SLOTWARD cannot be installed in %t: ", kReasons[verdict],
                             installedThere
                                 ? ". SLOTWARD is installed there now: to move it, install a "
                                   "later version with INSTALLDIR=\"%t\", or remove SLOTWARD and "
                                   "install it again with INSTALLDIR=\"%t\"."
                                 : ". Choose a folder that only administrators can change, such "
                                   "as INSTALLDIR=\"%t\".",
                             NULL};
    const char *texts[] = {folder, concerned, suggested, suggested};
    Refuse(formats, texts);
}

BOOL FolderAccepted(const char *folder, const char *installed, const char *suggested,
                    BOOL byAdministrator) {
    FolderChain chain;
    int at = 0;
    int total = FolderPrefixes(folder, IsLeadByte, sLengths, MAX_FOLDERS);
    ClearBytes(&chain, sizeof chain);
    chain.folders = sFolders;
    chain.installer = Installer(byAdministrator);
    if (total > 0) {
        GatherChain(folder, total, &chain);
    }
    FolderVerdict verdict = JudgeFolderChain(&chain, &at);
    if (verdict == FOLDER_ACCEPTED) {
        LogText("%t may hold SLOTWARD: it and the folders above it passed the check of owners and "
                "permissions",
                folder);
    } else {
        lstrcpynA(sPrefix, folder, total > 0 ? sLengths[at] + 1 : MAX_PATH);
        SayRefused(folder, sPrefix, verdict,
                   installed[0] != '\0' && lstrcmpiA(installed, folder) == 0, suggested);
    }
    ForgetChain();
    return verdict == FOLDER_ACCEPTED;
}
