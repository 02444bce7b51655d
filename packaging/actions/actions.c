/* The installer's custom actions, in one DLL that Windows Installer loads from its Binary table.
 *
 * A deferred action reads its CustomActionData, formatted from the package's own values when the
 * script was written; an immediate one the installation's properties. Nothing is read from a
 * command line a user could type. Each says what it decided in the log (sessions.h); only the
 * folder's check fails the installation: a copy that could not be ended or started must not. Only
 * KERNEL32 and MSI are imported (both loaded in the installer's process), other libraries are
 * loaded from the system folder (sessions.h). No C runtime. */
#include "starter.h"
#include "stopper.h"

#include <msiquery.h>

#define EXPORT __declspec(dllexport)

/* Zero-filled storage rather than the stack, which one page at a time is all a module without
 * the C runtime's stack probe may take. An action's data has the room of the program with its
 * options as the Startup shortcut can carry them, more than the stopper's two files need. */
static char sData[COMMAND_ROOM];
static char sProductCode[40];
/* Whether the last property read was longer than its buffer. */
static BOOL sTooLong;

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

/* A starter's program and options; NULL when they are longer than the room: a cut list of
 * options would start SLOTWARD with other settings, and an empty one would read as an
 * uninstallation's. */
static const char *StartData(MSIHANDLE install, const char *name) {
    const char *data = Property(install, name);
    return sTooLong ? NULL : data;
}

/* The installation's ProductCode, which deferred actions are given too: the list's owner. */
static const char *ProductCode(MSIHANDLE install) {
    PropertyInto(install, "ProductCode", sProductCode, sizeof sProductCode);
    return sProductCode;
}

/* Before anything is replaced or removed, and again right before the files are replaced (a copy
 * started since, from the Start menu or by a logon meanwhile, is ended too). The installation's
 * first pass starts its list of ended copies afresh; data that begins with /late (the later
 * pass, to this installation's own list only) or /add (an uninstallation, which may be an
 * upgrade's removal of the old version inside the new one's) adds to it. */
EXPORT UINT WINAPI StopAndNote(MSIHANDLE install) {
    char first[MAX_PATH];
    const char *data = Property(install, "CustomActionData");
    const char *after = NextArgument(data, first);
    BOOL late = after != NULL && lstrcmpiA(first, "/late") == 0;
    BOOL add = late || (after != NULL && lstrcmpiA(first, "/add") == 0);
    StopCopies(add ? after : data, add, late, ProductCode(install));
    return ERROR_SUCCESS;
}

/* The folder properties the checks read: only an administrator's command line sets them. */
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

/* Before the folders are resolved, in an upgrade whose command line names no folder (an immediate
 * action, as the installing user): the installation stays in the installed version's folder
 * where that folder passes the check. An older version may have put SLOTWARD where the check
 * refuses it now: that upgrade moves it to the default folder. */
EXPORT UINT WINAPI KeepInstalledFolder(MSIHANDLE install) {
    BOOL byAdministrator = ReadFolders(install);
    if (InstalledFolderTrusted(sInstalled, sProgramFiles, byAdministrator,
                               ": the upgrade moves SLOTWARD to the default folder")) {
        MsiSetPropertyA(install, "INSTALLDIR", sInstalled);
    }
    return ERROR_SUCCESS;
}

/* Before anything is changed (an immediate action, as the installing user): the installation
 * folder must pass the check (folder_check.h), or the installation ends here. The installed
 * version's folder is judged the same way, on the uninstallation too: where it fails, the
 * helpers' data marks its program (InstalledByName, a private property, which no command line
 * reaches on the server side). */
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

/* Once the files are in place: SLOTWARD back in every noted session. */
EXPORT UINT WINAPI StartEnded(MSIHANDLE install) {
    StartInSessions(StartData(install, "CustomActionData"), ProductCode(install));
    return ERROR_SUCCESS;
}

/* The rollback of the stopper: the old files are back, and so is SLOTWARD, with the old options,
 * in every session whose copy was ended; not from a folder the check refused. */
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

/* After the installation, as the installing user, where the system could not start a copy. */
EXPORT UINT WINAPI StartHere(MSIHANDLE install) {
    StartInOwnSession(StartData(install, "StartHere"), ProductCode(install));
    return ERROR_SUCCESS;
}

/* WIXFAILWHENDEFERRED=1: fails once the files are in place, so that an administrator can watch
 * a rollback on a test machine. */
EXPORT UINT WINAPI FailWhenDeferred(MSIHANDLE install) {
    LogTo(install);
    LogLine("WIXFAILWHENDEFERRED=1: the installation fails here, to try its rollback");
    return ERROR_INSTALL_FAILURE;
}

/* The built-in Users group (S-1-5-32-545) by the name this Windows gives it, for the lock on the
 * installation folder: its table takes names, and only "Administrators" and "Everyone" are
 * understood in English on every system. */
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

/* The DLL's entry: nothing to set up or tear down. */
BOOL WINAPI ActionsMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    (void)module;
    (void)reason;
    (void)reserved;
    return TRUE;
}
