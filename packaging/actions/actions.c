/* The installer's custom actions, in one DLL that Windows Installer loads from its Binary table.
 * They read CustomActionData or the installation's properties: nothing a user could type. Only the
 * folder's check fails the installation: a copy that could not be ended or started must not. */
#include "starter.h"
#include "stopper.h"

#include <msiquery.h>

#define EXPORT __declspec(dllexport)

/* Zero-filled storage rather than the stack, which one page at a time is all a module without
 * the C runtime's stack probe may take. */
static char sData[COMMAND_ROOM];
static char sProductCode[40];
static BOOL sTooLong; /* the last property read was longer than its buffer */

/* A property into a buffer; empty when it is missing or longer than the buffer (never cut). */
static void PropertyInto(MSIHANDLE install, const char *name, char *buffer, DWORD size) {
    UINT read = MsiGetPropertyA(install, name, buffer, &size);
    sTooLong = read == ERROR_MORE_DATA;
    if (read != ERROR_SUCCESS) {
        buffer[0] = '\0';
    }
}

static const char *Property(MSIHANDLE install, const char *name) {
    LogTo(install);
    PropertyInto(install, name, sData, sizeof sData);
    return sData;
}

/* NULL when too long: cut options would start other settings, and none reads as uninstalling. */
static const char *StartData(MSIHANDLE install, const char *name) {
    const char *data = Property(install, name);
    return sTooLong ? NULL : data;
}

/* Deferred actions are given it too: the list's owner. */
static const char *ProductCode(MSIHANDLE install) {
    PropertyInto(install, "ProductCode", sProductCode, sizeof sProductCode);
    return sProductCode;
}

/* Before anything is replaced or removed, and again right before the files are (a copy started
 * since is ended too). /late or /add (an uninstallation) adds to the list. */
EXPORT UINT WINAPI StopAndNote(MSIHANDLE install) {
    char first[MAX_PATH];
    const char *data = Property(install, "CustomActionData");
    const char *after = NextArgument(data, first);
    BOOL late = after != NULL && lstrcmpiA(first, "/late") == 0;
    BOOL add = late || (after != NULL && lstrcmpiA(first, "/add") == 0);
    StopCopies(add ? after : data, add, late, ProductCode(install));
    return ERROR_SUCCESS;
}

/* Only an administrator's command line sets them. */
static char sFolder[MAX_PATH];
static char sInstalled[MAX_PATH];
static char sProgramFiles[MAX_PATH];

static BOOL ReadFolders(MSIHANDLE install) {
    LogTo(install);
    PropertyInto(install, "INSTALLDIR", sFolder, sizeof sFolder);
    PropertyInto(install, "INSTALLEDDIR", sInstalled, sizeof sInstalled);
    PropertyInto(install, "ProgramFilesFolder", sProgramFiles, sizeof sProgramFiles);
    return Property(install, "AdminUser")[0] != '\0'; /* the installing user is an administrator */
}

/* An upgrade that names no folder stays where the installed one is, if that passes the check. */
EXPORT UINT WINAPI KeepInstalledFolder(MSIHANDLE install) {
    BOOL byAdministrator = ReadFolders(install);
    if (InstalledFolderTrusted(sInstalled, sProgramFiles, byAdministrator,
                               ": the upgrade moves SLOTWARD to the default folder")) {
        MsiSetPropertyA(install, "INSTALLDIR", sInstalled);
    }
    return ERROR_SUCCESS;
}

/* A refused installed folder marks the helpers' data (InstalledByName: no command line sets it). */
EXPORT UINT WINAPI CheckFolder(MSIHANDLE install) {
    BOOL byAdministrator = ReadFolders(install);
    BOOL trusted = sInstalled[0] == '\0' ||
                   InstalledFolderTrusted(sInstalled, sProgramFiles, byAdministrator,
                                          ": its program is known by name only, and a rollback "
                                          "starts nothing there");
    MsiSetPropertyA(install, "InstalledByName", trusted ? "" : BY_NAME_MARK);
    if (lstrcmpiA(Property(install, "REMOVE"), "ALL") == 0) {
        return ERROR_SUCCESS;
    }
    return FolderAccepted(sFolder, sInstalled, sProgramFiles, byAdministrator)
               ? ERROR_SUCCESS
               : ERROR_INSTALL_FAILURE;
}

EXPORT UINT WINAPI StartEnded(MSIHANDLE install) {
    StartInSessions(StartData(install, "CustomActionData"), ProductCode(install));
    return ERROR_SUCCESS;
}

/* The stopper's rollback: SLOTWARD back with the old options; not from a refused folder. */
EXPORT UINT WINAPI RestoreEnded(MSIHANDLE install) {
    char first[MAX_PATH];
    const char *data = StartData(install, "CustomActionData");
    const char *after = data != NULL ? NextArgument(data, first) : NULL;
    if (after != NULL && lstrcmpA(first, BY_NAME_MARK) == 0) {
        NextArgument(after, first);
        LogText("the installation is rolled back: %t is not started, since the check refused "
                "its folder; its users get SLOTWARD at the next logon",
                first);
        ForgetEndedSessions();
        return ERROR_SUCCESS;
    }
    LogText("the installation is rolled back: the sessions whose copy was ended are served with "
            "%t",
            data != NULL ? data : "SLOTWARD");
    StartInSessions(data, ProductCode(install));
    return ERROR_SUCCESS;
}

EXPORT UINT WINAPI StartHere(MSIHANDLE install) {
    StartInOwnSession(StartData(install, "StartHere"), ProductCode(install));
    return ERROR_SUCCESS;
}

/* WIXFAILWHENDEFERRED=1: so that an administrator can watch a rollback on a test machine. */
EXPORT UINT WINAPI FailWhenDeferred(MSIHANDLE install) {
    LogTo(install);
    LogLine("WIXFAILWHENDEFERRED=1: the installation fails here, to try its rollback");
    return ERROR_INSTALL_FAILURE;
}

/* S-1-5-32-545 by this Windows' name: the lock's table takes names, which are localized. */
EXPORT UINT WINAPI NameUsersGroup(MSIHANDLE install) {
    typedef BOOL(WINAPI * LookupProc)(LPCSTR, PSID, LPSTR, LPDWORD, LPSTR, LPDWORD, PSID_NAME_USE);
    static const BYTE kUsers[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x21, 0x02, 0, 0};
    LookupProc lookup = (LookupProc)SystemFunction("advapi32.dll", "LookupAccountSidA");
    char name[256];
    char domain[256];
    DWORD nameSize = sizeof name;
    DWORD domainSize = sizeof domain;
    SID_NAME_USE use;
    LogTo(install);
    if (lookup != NULL && lookup(NULL, (PSID)kUsers, name, &nameSize, domain, &domainSize, &use)) {
        MsiSetPropertyA(install, "UsersGroup", name);
        LogText("the lock on the installation folder is to name the group \"%t\"", name);
    } else {
        LogNumbers("the Users group's name is unknown (error %1): its English name is used",
                   GetLastError(), 0, 0);
    }
    return ERROR_SUCCESS;
}

BOOL WINAPI ActionsMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    (void)module;
    (void)reason;
    (void)reserved;
    return TRUE;
}
