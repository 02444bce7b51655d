/* What the actions share, but for the log; see sessions.h. */
#include "sessions.h"

#define SESSIONS_KEY "Software\\SLOTWARD\\Sessions"
#define PRODUCT_KEY "Software\\SLOTWARD"
#define ENDED_VALUE "Ended"
#define OWNER_VALUE "Owner"
/* A ProductCode: a GUID in braces. */
#define OWNER_ROOM 40
/* LoadLibraryExA's flag for the system folder alone, where AddDllDirectory tells it is known. */
#define SEARCH_SYSTEM32 0x00000800

typedef BOOL(WINAPI *MakeDescriptorProc)(LPCSTR, DWORD, PSECURITY_DESCRIPTOR *, PULONG);
typedef LONG(WINAPI *CreateKeyProc)(HKEY, LPCSTR, DWORD, LPSTR, DWORD, REGSAM,
                                    LPSECURITY_ATTRIBUTES, PHKEY, LPDWORD);
typedef LONG(WINAPI *OpenKeyProc)(HKEY, LPCSTR, DWORD, REGSAM, PHKEY);
typedef LONG(WINAPI *QueryValueProc)(HKEY, LPCSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
typedef LONG(WINAPI *SetValueProc)(HKEY, LPCSTR, DWORD, DWORD, const BYTE *, DWORD);
typedef LONG(WINAPI *DeleteKeyProc)(HKEY, LPCSTR);
typedef LONG(WINAPI *QueryInfoKeyProc)(HKEY, LPSTR, LPDWORD, LPDWORD, LPDWORD, LPDWORD, LPDWORD,
                                       LPDWORD, LPDWORD, LPDWORD, LPDWORD, PFILETIME);
typedef LONG(WINAPI *CloseKeyProc)(HKEY);
typedef BOOL(WINAPI *SessionOfProc)(DWORD, DWORD *);
typedef DWORD(WINAPI *SidLengthProc)(PSID);

static HMODULE LoadSystemLibrary(const char *library) {
    char path[MAX_PATH];
    if (GetProcAddress(GetModuleHandleA("kernel32.dll"), "AddDllDirectory") != NULL) {
        return LoadLibraryExA(library, NULL, SEARCH_SYSTEM32);
    }
    /* Windows 2000, XP, and Vista or 7 without the update: the system folder's full path. */
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length + 1 + lstrlenA(library) >= MAX_PATH) {
        return NULL;
    }
    path[length] = '\\';
    lstrcpynA(path + length + 1, library, MAX_PATH - length - 1);
    return LoadLibraryA(path);
}

AnyFunction SystemFunction(const char *library, const char *name) {
    HMODULE module = LoadSystemLibrary(library);
    return module != NULL ? (AnyFunction)GetProcAddress(module, name) : NULL;
}

static AnyFunction Registry(const char *name) {
    return SystemFunction("advapi32.dll", name);
}

static BOOL OpenKey(const char *path, HKEY *key) {
    OpenKeyProc openKey = (OpenKeyProc)Registry("RegOpenKeyExA");
    return openKey != NULL &&
           openKey(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, key) == ERROR_SUCCESS;
}

/* *size: the capacity, then the bytes read, 0 unless of that type. FALSE without the key. */
static BOOL ReadListValue(const char *name, DWORD type, void *buffer, DWORD *size) {
    QueryValueProc queryValue = (QueryValueProc)Registry("RegQueryValueExA");
    CloseKeyProc closeKey = (CloseKeyProc)Registry("RegCloseKey");
    DWORD found = REG_NONE;
    HKEY key;
    if (queryValue == NULL || closeKey == NULL || !OpenKey(SESSIONS_KEY, &key)) {
        *size = 0;
        return FALSE;
    }
    if (queryValue(key, name, NULL, &found, (LPBYTE)buffer, size) != ERROR_SUCCESS ||
        found != type) {
        *size = 0;
    }
    closeKey(key);
    return TRUE;
}

BOOL ReadEndedSessions(SessionList *list, const char *owner) {
    DWORD size = sizeof list->copies;
    list->count = 0;
    if ((owner != NULL && !ListOwnedBy(owner)) ||
        !ReadListValue(ENDED_VALUE, REG_BINARY, list->copies, &size)) {
        return FALSE;
    }
    list->count = size / sizeof(EndedCopy);
    for (DWORD i = 0; i < list->count; i++) {
        if (list->copies[i].sidLength > SID_BYTES) {
            list->copies[i].sidLength = 0; /* not a list this program wrote: nobody's */
        }
    }
    return TRUE;
}

BOOL ListOwnedBy(const char *owner) {
    char found[OWNER_ROOM];
    DWORD size = sizeof found - 1;
    ReadListValue(OWNER_VALUE, REG_SZ, found, &size);
    found[size < sizeof found ? size : 0] = '\0';
    return found[0] != '\0' && lstrcmpiA(found, owner) == 0;
}

/* The system and Administrators all, Users read (for their own starter); nothing inherited. */
#define SESSIONS_KEY_RIGHTS "D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)"
#define SDDL_REVISION 1

/* Afresh, a key of that name is removed first, one still there refused: RegCreateKeyEx would keep
 * its rights and persistence. The product's key is not volatile, for the installer's values. */
static BOOL CreateSessionsKey(HKEY *key, BOOL afresh) {
    CreateKeyProc createKey = (CreateKeyProc)Registry("RegCreateKeyExA");
    DeleteKeyProc deleteKey = (DeleteKeyProc)Registry("RegDeleteKeyA");
    CloseKeyProc closeKey = (CloseKeyProc)Registry("RegCloseKey");
    MakeDescriptorProc makeDescriptor =
        (MakeDescriptorProc)Registry("ConvertStringSecurityDescriptorToSecurityDescriptorA");
    SECURITY_ATTRIBUTES rights = {sizeof rights, NULL, FALSE};
    DWORD disposition = 0;
    HKEY product;
    if (createKey == NULL || closeKey == NULL ||
        (afresh &&
         (makeDescriptor == NULL || !makeDescriptor(SESSIONS_KEY_RIGHTS, SDDL_REVISION,
                                                    &rights.lpSecurityDescriptor, NULL)))) {
        return FALSE;
    }
    LONG made = createKey(HKEY_LOCAL_MACHINE, PRODUCT_KEY, 0, NULL, REG_OPTION_NON_VOLATILE,
                          KEY_CREATE_SUB_KEY, NULL, &product, NULL);
    if (made == ERROR_SUCCESS) {
        if (afresh && deleteKey != NULL) {
            deleteKey(product, "Sessions");
        }
        made = createKey(product, "Sessions", 0, NULL, REG_OPTION_VOLATILE, KEY_SET_VALUE,
                         afresh ? &rights : NULL, key, &disposition);
        closeKey(product);
    }
    LocalFree(rights.lpSecurityDescriptor); /* NULL where none was made: ignored */
    if (made == ERROR_SUCCESS && afresh && disposition != REG_CREATED_NEW_KEY) {
        closeKey(*key);
        made = ERROR_ALREADY_EXISTS;
    }
    SetLastError((DWORD)made);
    return made == ERROR_SUCCESS;
}

BOOL WriteEndedSessions(const SessionList *list, const char *owner) {
    SetValueProc setValue = (SetValueProc)Registry("RegSetValueExA");
    CloseKeyProc closeKey = (CloseKeyProc)Registry("RegCloseKey");
    HKEY key;
    if (setValue == NULL || closeKey == NULL || !CreateSessionsKey(&key, owner != NULL)) {
        return FALSE;
    }
    LONG written = setValue(key, ENDED_VALUE, 0, REG_BINARY, (const BYTE *)list->copies,
                            list->count * sizeof(EndedCopy));
    if (written == ERROR_SUCCESS && owner != NULL) {
        written = setValue(key, OWNER_VALUE, 0, REG_SZ, (const BYTE *)owner, lstrlenA(owner) + 1);
    }
    closeKey(key);
    SetLastError((DWORD)written);
    return written == ERROR_SUCCESS;
}

static BOOL ProductKeyEmpty(void) {
    QueryInfoKeyProc queryInfo = (QueryInfoKeyProc)Registry("RegQueryInfoKeyA");
    CloseKeyProc closeKey = (CloseKeyProc)Registry("RegCloseKey");
    DWORD keys = 1;
    DWORD values = 1;
    HKEY key;
    if (queryInfo == NULL || closeKey == NULL || !OpenKey(PRODUCT_KEY, &key)) {
        return FALSE;
    }
    LONG read =
        queryInfo(key, NULL, NULL, NULL, &keys, NULL, NULL, &values, NULL, NULL, NULL, NULL);
    closeKey(key);
    return read == ERROR_SUCCESS && keys == 0 && values == 0;
}

/* On an uninstallation the installer left the product's key, since the list was in it. */
BOOL ForgetEndedSessions(void) {
    DeleteKeyProc deleteKey = (DeleteKeyProc)Registry("RegDeleteKeyA");
    LONG deleted =
        deleteKey != NULL ? deleteKey(HKEY_LOCAL_MACHINE, SESSIONS_KEY) : ERROR_PROC_NOT_FOUND;
    deleted = deleted == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : deleted; /* gone already */
    if (deleted == ERROR_SUCCESS && ProductKeyEmpty()) {
        deleteKey(HKEY_LOCAL_MACHINE, PRODUCT_KEY);
    }
    SetLastError((DWORD)deleted);
    return deleted == ERROR_SUCCESS;
}

/* Looked up: Windows NT 4 has no sessions of this kind. */
BOOL SessionOfProcess(DWORD processId, DWORD *session) {
    SessionOfProc sessionOf = (SessionOfProc)SystemFunction("kernel32.dll", "ProcessIdToSessionId");
    return sessionOf != NULL && sessionOf(processId, session);
}

HANDLE ProcessToken(HANDLE process) {
    OpenTokenProc openToken = (OpenTokenProc)Registry("OpenProcessToken");
    HANDLE token;
    return openToken != NULL && openToken(process, TOKEN_QUERY, &token) ? token : NULL;
}

DWORD UserOfToken(HANDLE token, BYTE *sid) {
    TokenInformationProc tokenInformation = (TokenInformationProc)Registry("GetTokenInformation");
    SidLengthProc sidLength = (SidLengthProc)Registry("GetLengthSid");
    /* TOKEN_USER, then room for the longest SID it points to. */
    DWORD buffer[(sizeof(TOKEN_USER) + SID_BYTES) / sizeof(DWORD) + 1];
    DWORD size;
    if (tokenInformation == NULL || sidLength == NULL ||
        !tokenInformation(token, TokenUser, buffer, sizeof buffer, &size)) {
        return 0;
    }
    PSID user = ((TOKEN_USER *)buffer)->User.Sid;
    DWORD length = sidLength(user);
    if (length == 0 || length > SID_BYTES) {
        return 0;
    }
    CopyBytes(sid, user, length);
    return length;
}

unsigned int TickNow(void *context) {
    (void)context;
    return GetTickCount();
}

void CopyBytes(void *to, const void *from, DWORD count) {
    BYTE *out = (BYTE *)to;
    const BYTE *in = (const BYTE *)from;
    while (count-- > 0) {
        *out++ = *in++;
    }
}

void ClearBytes(void *bytes, DWORD count) {
    volatile BYTE *at = (volatile BYTE *)bytes;
    while (count-- > 0) {
        *at++ = 0;
    }
}

static BOOL IsBlank(char c) {
    return c == ' ' || c == '\t';
}

const char *NextArgument(const char *at, char *out) {
    int length = 0;
    BOOL quoted = FALSE;
    while (IsBlank(*at)) {
        at++;
    }
    if (*at == '\0') {
        return NULL;
    }
    for (; *at && (quoted || !IsBlank(*at)); at++) {
        if (*at == '"') {
            quoted = !quoted;
            continue;
        }
        if (length + 1 >= MAX_PATH) {
            return NULL;
        }
        out[length++] = *at;
    }
    out[length] = '\0';
    return at;
}
