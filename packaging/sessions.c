/* The list of sessions and the command-line walk; see sessions.h. */
#include "sessions.h"

#define SESSIONS_KEY "Software\\SLOTWARD\\Sessions"
#define PRODUCT_KEY "Software\\SLOTWARD"
#define ENDED_VALUE "Ended"

typedef LONG(WINAPI *CreateKeyProc)(HKEY, LPCSTR, DWORD, LPSTR, DWORD, REGSAM,
                                    LPSECURITY_ATTRIBUTES, PHKEY, LPDWORD);
typedef LONG(WINAPI *OpenKeyProc)(HKEY, LPCSTR, DWORD, REGSAM, PHKEY);
typedef LONG(WINAPI *QueryValueProc)(HKEY, LPCSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
typedef LONG(WINAPI *SetValueProc)(HKEY, LPCSTR, DWORD, DWORD, const BYTE *, DWORD);
typedef LONG(WINAPI *DeleteKeyProc)(HKEY, LPCSTR);
typedef LONG(WINAPI *CloseKeyProc)(HKEY);
typedef BOOL(WINAPI *SessionOfProc)(DWORD, DWORD *);

AnyFunction SystemFunction(const char *library, const char *name) {
    HMODULE module = LoadLibraryA(library);
    return module != NULL ? (AnyFunction)GetProcAddress(module, name) : NULL;
}

static AnyFunction Registry(const char *name) {
    return SystemFunction("advapi32.dll", name);
}

BOOL HasSession(const SessionList *list, DWORD id) {
    for (DWORD i = 0; i < list->count; i++) {
        if (list->ids[i] == id) {
            return TRUE;
        }
    }
    return FALSE;
}

BOOL AddSession(SessionList *list, DWORD id) {
    if (HasSession(list, id) || list->count >= MAX_SESSIONS) {
        return FALSE;
    }
    list->ids[list->count++] = id;
    return TRUE;
}

void RemoveSession(SessionList *list, DWORD id) {
    DWORD kept = 0;
    for (DWORD i = 0; i < list->count; i++) {
        if (list->ids[i] != id) {
            list->ids[kept++] = list->ids[i];
        }
    }
    list->count = kept;
}

void ReadEndedSessions(SessionList *list) {
    OpenKeyProc openKey = (OpenKeyProc)Registry("RegOpenKeyExA");
    QueryValueProc queryValue = (QueryValueProc)Registry("RegQueryValueExA");
    CloseKeyProc closeKey = (CloseKeyProc)Registry("RegCloseKey");
    HKEY key;
    DWORD type = 0;
    DWORD size = sizeof list->ids;
    list->count = 0;
    if (openKey == NULL || queryValue == NULL || closeKey == NULL ||
        openKey(HKEY_LOCAL_MACHINE, SESSIONS_KEY, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return;
    }
    if (queryValue(key, ENDED_VALUE, NULL, &type, (LPBYTE)list->ids, &size) == ERROR_SUCCESS &&
        type == REG_BINARY) {
        list->count = size / sizeof(DWORD);
    }
    closeKey(key);
}

/* The product's key is made as any other, so that the installer's own values written into it
 * later are kept; only the list below it is volatile. */
static BOOL CreateSessionsKey(HKEY *key) {
    CreateKeyProc createKey = (CreateKeyProc)Registry("RegCreateKeyExA");
    CloseKeyProc closeKey = (CloseKeyProc)Registry("RegCloseKey");
    HKEY product;
    if (createKey == NULL || closeKey == NULL ||
        createKey(HKEY_LOCAL_MACHINE, PRODUCT_KEY, 0, NULL, REG_OPTION_NON_VOLATILE,
                  KEY_CREATE_SUB_KEY, NULL, &product, NULL) != ERROR_SUCCESS) {
        return FALSE;
    }
    LONG made = createKey(product, "Sessions", 0, NULL, REG_OPTION_VOLATILE, KEY_SET_VALUE, NULL,
                          key, NULL);
    closeKey(product);
    return made == ERROR_SUCCESS;
}

BOOL WriteEndedSessions(const SessionList *list) {
    SetValueProc setValue = (SetValueProc)Registry("RegSetValueExA");
    DeleteKeyProc deleteKey = (DeleteKeyProc)Registry("RegDeleteKeyA");
    CloseKeyProc closeKey = (CloseKeyProc)Registry("RegCloseKey");
    HKEY key;
    if (setValue == NULL || deleteKey == NULL || closeKey == NULL) {
        return FALSE;
    }
    if (list->count == 0) {
        LONG deleted = deleteKey(HKEY_LOCAL_MACHINE, SESSIONS_KEY);
        return deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND;
    }
    if (!CreateSessionsKey(&key)) {
        return FALSE;
    }
    LONG written = setValue(key, ENDED_VALUE, 0, REG_BINARY, (const BYTE *)list->ids,
                            list->count * sizeof(DWORD));
    closeKey(key);
    return written == ERROR_SUCCESS;
}

/* Looked up: Windows NT 4 has no sessions of this kind. */
BOOL SessionOfProcess(DWORD processId, DWORD *session) {
    SessionOfProc sessionOf =
        (SessionOfProc)SystemFunction("kernel32.dll", "ProcessIdToSessionId");
    return sessionOf != NULL && sessionOf(processId, session);
}

static BOOL IsBlank(char c) {
    return c == ' ' || c == '\t';
}

/* As Windows itself reads the program's name: up to the closing quote, or to the first blank. */
const char *ArgumentText(const char *line) {
    if (*line == '"') {
        for (line++; *line && *line != '"'; line++) {
        }
        if (*line) {
            line++;
        }
    } else {
        while (*line && !IsBlank(*line)) {
            line++;
        }
    }
    while (IsBlank(*line)) {
        line++;
    }
    return line;
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
